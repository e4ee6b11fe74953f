#include "encoding/json_writer.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "binding/binding_registry.h"
#include "binding/binding_visitor.h"
#include "encoding/base64.h"
#include "encoding/json_allocator.h"

namespace Korvel {

namespace {

using JsonBuffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, JsonAllocator>;
using CompactWriter =
    rapidjson::Writer<JsonBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;
using PrettyWriter =
    rapidjson::PrettyWriter<JsonBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;

// Feeds a value to a RapidJSON writer. The walk (BindingProperty::Accept) keeps its own stack and
// so does the writer, so deep trees do not deepen the machine stack.
template <typename Writer>
class JsonVisitor final : public BindingVisitor {
public:
    JsonVisitor(Writer& writer, const BindingRegistry* registry) noexcept
        : writer_(writer), registry_(registry) {}

    void Null() override { writer_.Null(); }
    void Bool(bool value) override { writer_.Bool(value); }
    void Int64(std::int64_t value) override { writer_.Int64(value); }
    void Uint64(std::uint64_t value) override { writer_.Uint64(value); }
    void Double(double value) override {
        // JSON has no text for NaN and the infinities; the writer would leave the slot empty and
        // the document broken.
        if (std::isfinite(value)) {
            writer_.Double(value);
        } else {
            writer_.Null();
        }
    }
    void String(std::string_view text) override {
        writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    }
    void Blob(std::span<const std::uint8_t> bytes) override { String(Base64Encode(bytes)); }
    void Enum(const BindingEnumRecord& value) override {
        if (registry_ != nullptr && value.type != nullptr) {
            if (const char* name = registry_->EnumName(*value.type, value.value)) {
                String(name);
                return;
            }
        }
        Int64(static_cast<std::int64_t>(value.value));
    }
    void StartArray(std::size_t) override { writer_.StartArray(); }
    void BeginElement(std::size_t) override {}
    void EndElement(std::size_t) override {}
    void EndArray() override { writer_.EndArray(); }
    void StartObject(std::size_t) override { writer_.StartObject(); }
    void Key(std::string_view name) override {
        writer_.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
    }
    void EndMember(std::string_view) override {}
    void EndObject() override { writer_.EndObject(); }

private:
    Writer& writer_;
    const BindingRegistry* registry_;
};

std::string ReplaceLineBreaks(const char* text, std::size_t length, std::string_view separator) {
    std::string result;
    result.reserve(length + length / 8);
    const char* end = text + length;
    while (text != end) {
        const void* found = std::memchr(text, '\n', static_cast<std::size_t>(end - text));
        if (found == nullptr) {
            result.append(text, end);
            break;
        }
        const char* lineEnd = static_cast<const char*>(found);
        result.append(text, lineEnd);
        result.append(separator);
        text = lineEnd + 1;
    }
    return result;
}

} // namespace

std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry,
                      const char* lineSeparator) {
    if (value.IsEmpty()) {
        return {};
    }
    JsonBuffer buffer;
    if (lineSeparator == nullptr || *lineSeparator == '\0') {
        CompactWriter writer(buffer);
        JsonVisitor<CompactWriter> visitor(writer, registry);
        value.Accept(visitor);
        return std::string(buffer.GetString(), buffer.GetSize());
    }
    PrettyWriter writer(buffer);
    writer.SetIndent(' ', 4);
    JsonVisitor<PrettyWriter> visitor(writer, registry);
    value.Accept(visitor);
    const std::string_view separator(lineSeparator);
    if (separator == "\n") {
        return std::string(buffer.GetString(), buffer.GetSize());
    }
    return ReplaceLineBreaks(buffer.GetString(), buffer.GetSize(), separator);
}

} // namespace Korvel
