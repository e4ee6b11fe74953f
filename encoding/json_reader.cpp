#include "encoding/json_reader.h"

#include <cstring>
#include <vector>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "binding/binding_allocator.h"
#include "diagnostics/format_message.h"
#include "encoding/decode_limits.h"
#include "encoding/json_allocator.h"

namespace Korvel {

namespace {

constexpr const char* kErrorTemplate = "Error: %s at offset %u.";

// Texts of the errors the handler itself stops the reader for.
constexpr const char* kTooDeepText = "The document is nested deeper than 512 levels";
constexpr const char* kArrayFullText = "An array cannot hold more elements";
static_assert(DecodeLimits::kMaxNestingDepth == 512, "kTooDeepText names the nesting limit");

constexpr const char* kParseErrorTexts[] = {
    "No error.",
    "The document is empty.",
    "The document root must not follow by other values.",
    "Invalid value.",
    "Missing a name for object member.",
    "Missing a colon after a name of object member.",
    "Missing a comma or '}' after an object member.",
    "Missing a comma or ']' after an array element.",
    "Incorrect hex digit after \\u escape in string.",
    "The surrogate pair in string is invalid.",
    "Invalid escape character in string.",
    "Missing a closing quotation mark in string.",
    "Invalid encoding in string.",
    "Number too big to be stored in double.",
    "Miss fraction part in number.",
    "Miss exponent in number.",
    "Terminate parsing due to Handler error.",
    "Unspecific syntax error.",
};

// Builds the value tree from the reader's events. The target is the value the next scalar
// writes; the stack holds the open collections and structures, innermost last. Containers on the
// stack never move: a structure's members are map nodes, and a collection's elements move only
// when that collection grows, which happens only while it is the innermost open container.
class TreeHandler {
public:
    explicit TreeHandler(BindingProperty& root) : target_(&root) { stack_.reserve(16); }

    // Why the handler stopped the reader, or null.
    const char* Refusal() const noexcept { return refusal_; }

    bool Null() { return Next() != nullptr; }
    bool Bool(bool value) {
        return Set([value](BindingProperty& v) { v.SetBool(value); });
    }
    bool Int(int value) {
        return Set([value](BindingProperty& v) { v.SetSigned(static_cast<std::int64_t>(value)); });
    }
    bool Uint(unsigned value) {
        return Set(
            [value](BindingProperty& v) { v.SetUnsigned(static_cast<std::uint64_t>(value)); });
    }
    bool Int64(std::int64_t value) {
        return Set([value](BindingProperty& v) { v.SetSigned(value); });
    }
    bool Uint64(std::uint64_t value) {
        return Set([value](BindingProperty& v) { v.SetUnsigned(value); });
    }
    bool Double(double value) {
        return Set([value](BindingProperty& v) { v.SetFloat(value); });
    }
    // Numbers arrive as text only with a flag the reader is not given.
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Set([&](BindingProperty& v) { v.SetString(std::string_view(text, length)); });
    }
    bool StartObject() {
        BindingProperty* value = Open();
        if (value == nullptr) {
            return false;
        }
        value->MakeStructure();
        stack_.push_back({value, false});
        return true;
    }
    bool Key(const char* name, rapidjson::SizeType length, bool) {
        target_ = &stack_.back().value->Member(std::string_view(name, length));
        return true;
    }
    bool EndObject(rapidjson::SizeType) {
        stack_.pop_back();
        return true;
    }
    bool StartArray() {
        BindingProperty* value = Open();
        if (value == nullptr) {
            return false;
        }
        value->MakeCollection();
        stack_.push_back({value, true});
        return true;
    }
    bool EndArray(rapidjson::SizeType) {
        stack_.pop_back();
        return true;
    }

private:
    struct Open_ {
        BindingProperty* value;
        bool isCollection;
    };

    // The target of the next value: a new element when the innermost container is a collection.
    BindingProperty* Next() {
        if (!stack_.empty() && stack_.back().isCollection) {
            BindingProperty& collection = *stack_.back().value;
            const std::size_t before = collection.Size();
            BindingProperty& element = collection.Append();
            if (collection.Size() == before) {
                refusal_ = kArrayFullText; // the element went nowhere
                return nullptr;
            }
            target_ = &element;
        }
        return target_;
    }

    template <typename Assign>
    bool Set(const Assign& assign) {
        BindingProperty* value = Next();
        if (value == nullptr) {
            return false;
        }
        assign(*value);
        return true;
    }

    // The target of a new container, or null when it would nest too deep.
    BindingProperty* Open() {
        if (stack_.size() >= DecodeLimits::kMaxNestingDepth) {
            refusal_ = kTooDeepText;
            return nullptr;
        }
        return Next();
    }

    BindingProperty* target_;
    std::vector<Open_, BindingAllocator<Open_>> stack_;
    const char* refusal_ = nullptr;
};

template <typename Stream>
BindingResult Read(Stream& stream) {
    BindingResult result;
    TreeHandler handler(result.value);
    JsonAllocator allocator;
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator> reader(
        &allocator);
    const rapidjson::ParseResult parsed = reader.Parse(stream, handler);
    if (!parsed.IsError()) {
        return result;
    }
    if (parsed.Code() == rapidjson::kParseErrorDocumentEmpty) {
        result.Reset();
        return result;
    }
    const char* text =
        handler.Refusal() != nullptr ? handler.Refusal() : JsonParseErrorText(parsed.Code());
    result.SetError(
        FormatMessage(kErrorTemplate, text, static_cast<std::uint32_t>(parsed.Offset())));
    return result;
}

} // namespace

const char* JsonParseErrorText(std::uint32_t code) noexcept {
    return code < std::size(kParseErrorTexts) ? kParseErrorTexts[code] : "Unknown error.";
}

BindingResult ReadJson(const char* text) {
    rapidjson::StringStream stream(text != nullptr ? text : "");
    return Read(stream);
}

BindingResult ReadJson(std::string_view text) {
    // The memory stream reads a zero byte at its end, so the text ends at its first zero byte
    // either way.
    rapidjson::MemoryStream stream(text.data(), text.size());
    return Read(stream);
}

} // namespace Korvel
