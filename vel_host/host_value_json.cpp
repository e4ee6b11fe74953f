#include "vel_host/host_value_json.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace Korvel::VelHost {

namespace {

Json ReadLevel(const HostValue& value, std::size_t depth) {
    if (depth > kMaxValueDepth) {
        return nullptr;
    }
    switch (static_cast<HostValueKind>(value.kind)) {
    case HostValueKind::Empty:
        return nullptr;
    case HostValueKind::Bool:
        return value.payload.boolean != 0;
    // The record is packed, so its numbers are copied out before anything binds a reference.
    case HostValueKind::Signed:
        return static_cast<int64_t>(value.payload.signedValue);
    case HostValueKind::Unsigned:
        return static_cast<uint64_t>(value.payload.unsignedValue);
    case HostValueKind::Float: {
        const double number = value.payload.floatValue;
        return std::isfinite(number) ? Json(number) : Json(nullptr);
    }
    case HostValueKind::BorrowedText:
    case HostValueKind::OwnedText: {
        const char* text = value.payload.text.data;
        return text != nullptr ? std::string(text) : std::string();
    }
    case HostValueKind::BorrowedBytes:
    case HostValueKind::OwnedBytes: {
        const HostValueBytes bytes = value.payload.bytes;
        if (bytes.data == nullptr) {
            return std::string();
        }
        return EncodeBase64(bytes.data, bytes.length);
    }
    case HostValueKind::Collection: {
        Json array = Json::array();
        const HostValueCollection collection = value.payload.collection;
        if (collection.items != nullptr) {
            for (uint32_t i = 0; i < collection.count; ++i) {
                array.push_back(ReadLevel(collection.items[i], depth + 1));
            }
        }
        return array;
    }
    case HostValueKind::Structure: {
        Json object = Json::object();
        const HostValueStructure structure = value.payload.structure;
        if (structure.members != nullptr) {
            for (uint32_t i = 0; i < structure.count; ++i) {
                const HostValueMember& member = structure.members[i];
                const HostValue memberValue = member.value;
                object[member.name != nullptr ? member.name : ""] =
                    ReadLevel(memberValue, depth + 1);
            }
        }
        return object;
    }
    }
    return nullptr;
}

} // namespace

const char* HostValueArena::KeepText(const std::string& text) {
    return texts_.emplace_back(text).c_str();
}

HostValue HostValueArena::Build(const Json& document) {
    return BuildLevel(document, 1);
}

HostValue HostValueArena::BuildLevel(const Json& document, std::size_t depth) {
    HostValue value = MakeEmptyHostValue();
    switch (document.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
        break;
    case Json::value_t::boolean:
        value.kind = static_cast<uint32_t>(HostValueKind::Bool);
        value.payload.boolean = document.get<bool>() ? 1 : 0;
        break;
    case Json::value_t::number_integer:
        if (document.get<int64_t>() < 0) {
            value.kind = static_cast<uint32_t>(HostValueKind::Signed);
            value.payload.signedValue = document.get<int64_t>();
        } else {
            value.kind = static_cast<uint32_t>(HostValueKind::Unsigned);
            value.payload.unsignedValue = static_cast<uint64_t>(document.get<int64_t>());
        }
        break;
    case Json::value_t::number_unsigned:
        value.kind = static_cast<uint32_t>(HostValueKind::Unsigned);
        value.payload.unsignedValue = document.get<uint64_t>();
        break;
    case Json::value_t::number_float:
        value.kind = static_cast<uint32_t>(HostValueKind::Float);
        value.payload.floatValue = document.get<double>();
        break;
    case Json::value_t::string: {
        const std::string& text = document.get_ref<const std::string&>();
        value.kind = static_cast<uint32_t>(HostValueKind::BorrowedText);
        value.payload.text.data = KeepText(text);
        value.payload.text.length = static_cast<uint32_t>(text.size());
        break;
    }
    case Json::value_t::binary: {
        const auto& bytes = document.get_binary();
        const std::string& kept = texts_.emplace_back(bytes.begin(), bytes.end());
        value.kind = static_cast<uint32_t>(HostValueKind::BorrowedBytes);
        value.payload.bytes.data = reinterpret_cast<const uint8_t*>(kept.data());
        value.payload.bytes.length = static_cast<uint32_t>(kept.size());
        break;
    }
    case Json::value_t::array: {
        if (depth > kMaxValueDepth) {
            throw std::invalid_argument("the value is nested deeper than " +
                                        std::to_string(kMaxValueDepth) + " levels");
        }
        std::vector<HostValue>& items = collections_.emplace_back();
        items.reserve(document.size());
        for (const Json& element : document) {
            items.push_back(BuildLevel(element, depth + 1));
        }
        value.kind = static_cast<uint32_t>(HostValueKind::Collection);
        value.payload.collection.items = items.empty() ? nullptr : items.data();
        value.payload.collection.count = static_cast<uint32_t>(items.size());
        break;
    }
    case Json::value_t::object: {
        if (depth > kMaxValueDepth) {
            throw std::invalid_argument("the value is nested deeper than " +
                                        std::to_string(kMaxValueDepth) + " levels");
        }
        std::vector<HostValueMember>& members = structures_.emplace_back();
        members.reserve(document.size());
        for (const auto& [name, element] : document.items()) {
            HostValueMember member;
            std::memset(&member, 0, sizeof(member));
            member.name = KeepText(name);
            member.value = BuildLevel(element, depth + 1);
            member.ownsName = 0;
            members.push_back(member);
        }
        value.kind = static_cast<uint32_t>(HostValueKind::Structure);
        value.payload.structure.members = members.empty() ? nullptr : members.data();
        value.payload.structure.count = static_cast<uint32_t>(members.size());
        break;
    }
    }
    return value;
}

Json ReadHostValue(const HostValue& value) {
    return ReadLevel(value, 1);
}

std::string EncodeBase64(const unsigned char* bytes, std::size_t length) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((length + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t triple =
            (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | uint32_t(bytes[i + 2]);
        text += kAlphabet[(triple >> 18) & 63];
        text += kAlphabet[(triple >> 12) & 63];
        text += kAlphabet[(triple >> 6) & 63];
        text += kAlphabet[triple & 63];
    }
    if (i < length) {
        uint32_t triple = uint32_t(bytes[i]) << 16;
        if (i + 1 < length) {
            triple |= uint32_t(bytes[i + 1]) << 8;
        }
        text += kAlphabet[(triple >> 18) & 63];
        text += kAlphabet[(triple >> 12) & 63];
        text += i + 1 < length ? kAlphabet[(triple >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

std::string DumpCompact(const Json& document) {
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string DumpPretty(const Json& document) {
    return document.dump(4, ' ', false, Json::error_handler_t::replace);
}

} // namespace Korvel::VelHost
