#include "host_values.h"

#include <cstring>

namespace Korvel::Testing {

namespace {

constexpr int kMaxReadDepth = 256;

HostValue WithKind(HostValueKind kind) {
    HostValue value = MakeEmptyHostValue();
    value.kind = static_cast<uint32_t>(kind);
    return value;
}

Json Read(const HostValue& value, int depth) {
    if (depth > kMaxReadDepth) {
        return Json{{"$kind", "too deep"}};
    }
    switch (static_cast<HostValueKind>(value.kind)) {
    case HostValueKind::Empty:
        return nullptr;
    case HostValueKind::Bool:
        return value.payload.boolean != 0;
    case HostValueKind::Signed:
        return static_cast<int64_t>(value.payload.signedValue);
    case HostValueKind::Unsigned:
        return static_cast<uint64_t>(value.payload.unsignedValue);
    case HostValueKind::Float:
        return static_cast<double>(value.payload.floatValue);
    case HostValueKind::BorrowedText:
    case HostValueKind::OwnedText: {
        const char* text = value.payload.text.data;
        return text != nullptr ? std::string(text) : std::string();
    }
    case HostValueKind::BorrowedBytes:
    case HostValueKind::OwnedBytes: {
        const uint8_t* data = value.payload.bytes.data;
        const uint32_t length = value.payload.bytes.length;
        std::vector<uint8_t> bytes;
        if (data != nullptr) {
            bytes.assign(data, data + length);
        }
        return Json::binary(std::move(bytes));
    }
    case HostValueKind::Collection: {
        Json array = Json::array();
        const HostValue* items = value.payload.collection.items;
        const uint32_t count = items != nullptr ? value.payload.collection.count : 0;
        for (uint32_t i = 0; i < count; ++i) {
            array.push_back(Read(items[i], depth + 1));
        }
        return array;
    }
    case HostValueKind::Structure: {
        Json object = Json::object();
        const HostValueMember* members = value.payload.structure.members;
        const uint32_t count = members != nullptr ? value.payload.structure.count : 0;
        for (uint32_t i = 0; i < count; ++i) {
            const char* name = members[i].name != nullptr ? members[i].name : "";
            object[name] = Read(members[i].value, depth + 1);
        }
        return object;
    }
    }
    // Copied first: a packed field cannot be bound to a reference.
    const uint32_t kind = value.kind;
    return Json{{"$kind", kind}};
}

Json ReadKinds(const HostValue& value, int depth) {
    // Copied first: a packed field cannot be bound to a reference.
    const uint32_t kind = value.kind;
    if (depth > kMaxReadDepth) {
        return kind;
    }
    if (kind == static_cast<uint32_t>(HostValueKind::Collection)) {
        Json items = Json::array();
        const HostValue* array = value.payload.collection.items;
        const uint32_t count = array != nullptr ? value.payload.collection.count : 0;
        for (uint32_t i = 0; i < count; ++i) {
            items.push_back(ReadKinds(array[i], depth + 1));
        }
        return Json{{"$", kind}, {"items", items}};
    }
    if (kind == static_cast<uint32_t>(HostValueKind::Structure)) {
        Json object = Json{{"$", kind}};
        const HostValueMember* members = value.payload.structure.members;
        const uint32_t count = members != nullptr ? value.payload.structure.count : 0;
        for (uint32_t i = 0; i < count; ++i) {
            object[members[i].name != nullptr ? members[i].name : ""] =
                ReadKinds(members[i].value, depth + 1);
        }
        return object;
    }
    return kind;
}

} // namespace

HostValue HostValueArena::Build(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
        return MakeEmptyHostValue();
    case Json::value_t::boolean: {
        HostValue result = WithKind(HostValueKind::Bool);
        result.payload.boolean = value.get<bool>() ? 1 : 0;
        return result;
    }
    case Json::value_t::number_integer:
        return Signed(value.get<int64_t>());
    case Json::value_t::number_unsigned: {
        const uint64_t number = value.get<uint64_t>();
        return number > static_cast<uint64_t>(INT64_MAX) ? Unsigned(number)
                                                         : Signed(static_cast<int64_t>(number));
    }
    case Json::value_t::number_float: {
        HostValue result = WithKind(HostValueKind::Float);
        result.payload.floatValue = value.get<double>();
        return result;
    }
    case Json::value_t::string:
        return Text(value.get_ref<const std::string&>());
    case Json::value_t::binary: {
        const auto& bytes = value.get_binary();
        blocks_.emplace_back(bytes.begin(), bytes.end());
        HostValue result = WithKind(HostValueKind::BorrowedBytes);
        result.payload.bytes.data = blocks_.back().data();
        result.payload.bytes.length = static_cast<uint32_t>(blocks_.back().size());
        return result;
    }
    case Json::value_t::array: {
        std::vector<HostValue> items;
        for (const Json& item : value) {
            items.push_back(Build(item));
        }
        return Collection(items);
    }
    case Json::value_t::object: {
        std::vector<std::pair<std::string, HostValue>> members;
        for (auto it = value.begin(); it != value.end(); ++it) {
            members.emplace_back(it.key(), Build(it.value()));
        }
        return Structure(members);
    }
    }
    return MakeEmptyHostValue();
}

HostValue HostValueArena::Signed(int64_t value) {
    HostValue result = WithKind(HostValueKind::Signed);
    result.payload.signedValue = value;
    return result;
}

HostValue HostValueArena::Unsigned(uint64_t value) {
    HostValue result = WithKind(HostValueKind::Unsigned);
    result.payload.unsignedValue = value;
    return result;
}

HostValue HostValueArena::Text(std::string_view text) {
    HostValue result = WithKind(HostValueKind::BorrowedText);
    result.payload.text.data = Keep(text);
    result.payload.text.length = static_cast<uint32_t>(text.size());
    return result;
}

HostValue HostValueArena::Raw(uint32_t kind) {
    HostValue result = MakeEmptyHostValue();
    result.kind = kind;
    return result;
}

HostValue HostValueArena::Collection(const std::vector<HostValue>& items) {
    HostValue result = WithKind(HostValueKind::Collection);
    if (!items.empty()) {
        arrays_.push_back(std::make_unique<HostValue[]>(items.size()));
        std::memcpy(arrays_.back().get(), items.data(), items.size() * sizeof(HostValue));
        result.payload.collection.items = arrays_.back().get();
    }
    result.payload.collection.count = static_cast<uint32_t>(items.size());
    return result;
}

HostValue HostValueArena::Structure(const std::vector<std::pair<std::string, HostValue>>& members) {
    HostValue result = WithKind(HostValueKind::Structure);
    if (!members.empty()) {
        memberArrays_.push_back(std::make_unique<HostValueMember[]>(members.size()));
        HostValueMember* entries = memberArrays_.back().get();
        for (size_t i = 0; i < members.size(); ++i) {
            entries[i].name = Keep(members[i].first);
            entries[i].value = members[i].second;
            entries[i].ownsName = 0;
        }
        result.payload.structure.members = entries;
    }
    result.payload.structure.count = static_cast<uint32_t>(members.size());
    return result;
}

const char* HostValueArena::Keep(std::string_view text) {
    texts_.emplace_back(text);
    return texts_.back().c_str();
}

void HostValueArena::Clear() {
    texts_.clear();
    blocks_.clear();
    arrays_.clear();
    memberArrays_.clear();
}

Json ReadHostValue(const HostValue& value) {
    return Read(value, 0);
}

Json ReadHostValueKinds(const HostValue& value) {
    return ReadKinds(value, 0);
}

} // namespace Korvel::Testing
