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

    // `text` as a JSON string escaped as the writers escape it: a quotation mark and a backslash
    // behind a backslash, the control characters as \b, \t, \n, \f, \r or \u00XX, and every
    // other byte as it is.
    void PutQuoted(std::string_view text) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        Put('"');
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t plain = at;
            while (plain < text.size() && EscapeOf(text[plain]) == '\0') {
                ++plain;
            }
            Reserve(plain - at);
            std::memcpy(at_, text.data() + at, plain - at);
            at_ += plain - at;
            if (plain == text.size()) {
                break;
            }
            const auto c = static_cast<unsigned char>(text[plain]);
            const char escape = EscapeOf(text[plain]);
            Reserve(6);
            *at_++ = '\\';
            *at_++ = escape;
            if (escape == 'u') {
                *at_++ = '0';
                *at_++ = '0';
                *at_++ = kHex[c >> 4];
                *at_++ = kHex[c & 15];
            }
            at = plain + 1;
        }
        Put('"');
    }

    std::string Text() const { return std::string(begin_, at_); }

private:
    // The letter after the backslash that stands for `c`, or '\0' when `c` is written as it is.
    static char EscapeOf(char c) noexcept {
        switch (c) {
        case '"':
            return '"';
        case '\\':
            return '\\';
        case '\b':
            return 'b';
        case '\t':
            return 't';
        case '\n':
            return 'n';
        case '\f':
            return 'f';
        case '\r':
            return 'r';
        default:
            return static_cast<unsigned char>(c) < 0x20 ? 'u' : '\0';
        }
    }

    void Grow(std::size_t count) {
        const std::size_t used = static_cast<std::size_t>(at_ - begin_);
        const std::size_t capacity = static_cast<std::size_t>(end_ - begin_);
        std::size_t grown = capacity < 4096 ? 4096 : capacity * 2;
        if (grown < used + count) {
            grown = used + count;
        }
        // The first buffer is allocated: a reallocation of null would count a block freed.
        auto* block =
            static_cast<char*>(begin_ == nullptr ? Allocate(grown) : Reallocate(begin_, grown));
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

// Longest text the RapidJSON writers are given. They take a text's length as 32 bits and reserve
// room for it as 2 + 6 bytes per byte, reckoned in 32 bits too: beyond this length that product
// wraps, the room falls short and the text would be written past the end of the buffer (or, past
// 4 GiB, cut short). Longer texts are escaped by JsonOutput::PutQuoted instead.
constexpr std::size_t kLongestWriterText = (0xFFFFFFFFu - 2) / 6;

// Feeds a value to a RapidJSON writer. The walk keeps its own stack and so does the writer, so deep
// trees do not deepen the machine stack. The walk is instantiated for this final class, so its
// calls are direct.
template <typename Writer>
class JsonVisitor final : public BindingVisitor {
public:
    JsonVisitor(Writer& writer, JsonOutput& output, const BindingRegistry* registry) noexcept
        : writer_(writer), output_(output), registry_(registry) {}

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
        if (text.size() > kLongestWriterText) {
            WriteLongText(text);
            return;
        }
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
        if (name.size() > kLongestWriterText) {
            WriteLongText(name);
            return;
        }
        writer_.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
    }
    void EndMember(std::string_view) override {}
    void EndObject() override { writer_.EndObject(); }

private:
    // A text (a value or a member name) too long for the writer. An empty raw value of string
    // type has the writer put what goes before it (a comma, a line break and indentation, or
    // ": " after a name) and count it; the text itself goes straight to the output.
    void WriteLongText(std::string_view text) {
        writer_.RawValue("", 0, rapidjson::kStringType);
        output_.PutQuoted(text);
    }

    Writer& writer_;
    JsonOutput& output_;
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
        JsonVisitor<CompactWriter> visitor(writer, output, registry);
        WalkBindingValue(value, visitor);
        return output.Text();
    }
    JsonOutput output(lineSeparator);
    PrettyWriter writer(output);
    writer.SetIndent(' ', 4);
    JsonVisitor<PrettyWriter> visitor(writer, output, registry);
    WalkBindingValue(value, visitor);
    return output.Text();
}

} // namespace Korvel
