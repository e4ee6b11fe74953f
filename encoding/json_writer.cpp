#include "encoding/json_writer.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string_view>

#include <rapidjson/prettywriter.h>
#include <rapidjson/writer.h>

#include "binding/binding_registry.h"
#include "binding/binding_visitor.h"
#include "binding/binding_walk.h"
#include "encoding/base64.h"
#include "encoding/json_allocator.h"

namespace Korvel {

namespace {

// The writers' output: a growable buffer from the allocation entries. With a line separator other
// than "\n" every line break the pretty writer emits is written as the separator instead; the
// writers emit "\n" only as a line break (inside strings it is escaped), so this is the same as
// replacing every "\n" of the finished text.
class JsonOutput {
public:
    using Ch = char;

    JsonOutput() = default;
    explicit JsonOutput(std::string_view lineSeparator)
        : separator_(lineSeparator), translate_(lineSeparator != "\n") {}
    JsonOutput(const JsonOutput&) = delete;
    JsonOutput& operator=(const JsonOutput&) = delete;
    ~JsonOutput() { Korvel::Free(begin_); }

    void Put(char c) {
        if (translate_ && c == '\n') {
            Reserve(separator_.size());
            std::memcpy(at_, separator_.data(), separator_.size());
            at_ += separator_.size();
            return;
        }
        Reserve(1);
        *at_++ = c;
    }
    // Writes into room made by Reserve.
    void PutUnsafe(char c) { *at_++ = c; }
    void Reserve(std::size_t count) {
        if (static_cast<std::size_t>(end_ - at_) < count) {
            Grow(count);
        }
    }
    // `count` copies of `c` (indentation).
    void PutRepeated(char c, std::size_t count) {
        Reserve(count);
        std::memset(at_, c, count);
        at_ += count;
    }
    void Flush() {}

    std::string Text() const { return std::string(begin_, at_); }

private:
    void Grow(std::size_t count) {
        const std::size_t used = static_cast<std::size_t>(at_ - begin_);
        const std::size_t capacity = static_cast<std::size_t>(end_ - begin_);
        std::size_t grown = capacity < 4096 ? 4096 : capacity * 2;
        if (grown < used + count) {
            grown = used + count;
        }
        auto* block = static_cast<char*>(Reallocate(begin_, grown));
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        begin_ = block;
        at_ = block + used;
        end_ = block + grown;
    }

    char* begin_ = nullptr;
    char* at_ = nullptr;
    char* end_ = nullptr;
    std::string_view separator_;
    bool translate_ = false;
};

// RapidJSON's writers reserve room and then write character by character; these make that fast
// path available to JsonOutput (found by argument-dependent lookup).
inline void PutReserve(JsonOutput& output, std::size_t count) {
    output.Reserve(count);
}
inline void PutUnsafe(JsonOutput& output, char c) {
    output.PutUnsafe(c);
}
inline void PutN(JsonOutput& output, char c, std::size_t count) {
    output.PutRepeated(c, count);
}

using CompactWriter =
    rapidjson::Writer<JsonOutput, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;
using PrettyWriter =
    rapidjson::PrettyWriter<JsonOutput, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;

// Feeds a value to a RapidJSON writer. The walk keeps its own stack and so does the writer, so deep
// trees do not deepen the machine stack. The walk is instantiated for this final class, so its
// calls are direct.
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

} // namespace

std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry,
                      const char* lineSeparator) {
    if (value.IsEmpty()) {
        return {};
    }
    if (lineSeparator == nullptr || *lineSeparator == '\0') {
        JsonOutput output;
        CompactWriter writer(output);
        JsonVisitor<CompactWriter> visitor(writer, registry);
        WalkBindingValue(value, visitor);
        return output.Text();
    }
    JsonOutput output(lineSeparator);
    PrettyWriter writer(output);
    writer.SetIndent(' ', 4);
    JsonVisitor<PrettyWriter> visitor(writer, registry);
    WalkBindingValue(value, visitor);
    return output.Text();
}

} // namespace Korvel
