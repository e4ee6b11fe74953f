// JSON reading and writing and base64, compared with plain models on seeded random input.
//
// Reading: RapidJSON's own reader, run with its default flags (numbers given as text),
// decides what is valid and where it stops; a handler of this file builds the tree the rules ask
// for (the kind each number gives, null keeping its target, repeated names merging into what is
// there, texts cut at a zero byte, at most 512 levels) and the message from its own table.
// Writing: a plain writer of this file gives the compact and pretty texts, the escapes, the
// layout of floats, blobs as base64 and enumerators by name, and the text must read back to the
// tree less what JSON does not keep. Base64: a bit-stream coder of this file.

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/internal/dtoa.h>
#include <rapidjson/reader.h>

#include "binding/binding_registry.h"
#include "encoding/base64.h"
#include "encoding/json_reader.h"
#include "encoding/json_writer.h"
#include "support/split_mix.h"
#include "support/tree_text.h"

namespace Korvel::JsonOracleTesting {
enum class Shade : std::int32_t { Red = 1 };
enum class Stray : std::int32_t { Only = 0 };
} // namespace Korvel::JsonOracleTesting

KORVEL_STATIC_TYPE(enum, Korvel::JsonOracleTesting::Shade)
KORVEL_STATIC_TYPE(enum, Korvel::JsonOracleTesting::Stray)

namespace Korvel::JsonOracleTesting {
namespace {

using Testing::SplitMix64;

std::size_t Pick(SplitMix64& rng, std::size_t count) {
    return static_cast<std::size_t>(rng.Next() % count);
}

// ---- Base64 as a bit stream ---------------------------------------------------------------

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Plain(std::string_view bytes) {
    std::string text;
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : bytes) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        for (held += 8; held >= 6;) {
            held -= 6;
            text += kAlphabet[(bits >> held) & 63];
        }
    }
    if (held > 0) {
        text += kAlphabet[(bits << (6 - held)) & 63];
    }
    text.append((4 - text.size() % 4) % 4, '=');
    return text;
}

// Six bits a character up to the first one outside the alphabet; whole bytes only.
std::string Base64PlainDecode(std::string_view text) {
    std::string bytes;
    std::uint32_t bits = 0;
    int held = 0;
    for (std::size_t at = 0; at < text.size() && kAlphabet.find(text[at]) != kAlphabet.npos; ++at) {
        bits = (bits << 6) | static_cast<std::uint32_t>(kAlphabet.find(text[at]));
        if ((held += 6) >= 8) {
            held -= 8;
            bytes += static_cast<char>((bits >> held) & 0xFF);
        }
    }
    return bytes;
}

// ---- Enumerators --------------------------------------------------------------------------

// Enumerators of Shade, registered in this order; two names share the value 1.
constexpr std::pair<const char*, std::int32_t> kShade[] = {
    {"red", 1}, {"crimson", 1}, {"green", 2}, {"minus", -3}, {"lowest", INT32_MIN}};

// The name a Shade value is written as: the first in name order with that value, or null.
const char* ShadeName(std::int32_t value) {
    const char* name = nullptr;
    for (const auto& [n, v] : kShade) {
        name = v == value && (name == nullptr || std::strcmp(n, name) < 0) ? n : name;
    }
    return name;
}

// ---- Reading: RapidJSON's reader with a handler of the rules ------------------------------

// The error texts by code are pinned word for word by the reader's own tests; the model takes them
// from the library.
const char* ErrorText(rapidjson::ParseErrorCode code) {
    return JsonParseErrorText(static_cast<std::uint32_t>(code));
}

// Numbers arrive as their text (RapidJSON's own conversion to double is not exact) and are read
// here by the rules: an integer with a minus sign is "signed", one without it "unsigned", while
// it fits 64 bits; every other number is the nearest double, refused when it is beyond the range.
class ModelHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ModelHandler> {
public:
    explicit ModelHandler(BindingProperty& root) : target_(&root) {}

    const char* refusal = nullptr;

    bool Null() { return Next(), true; }
    bool Bool(bool b) { return Next().SetBool(b), true; }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
        const std::string text(s, n);
        const bool integer = text.find_first_of(".eE") == std::string::npos;
        errno = 0;
        if (integer && s[0] == '-') {
            const long long value = std::strtoll(text.c_str(), nullptr, 10);
            return errno != 0 ? Float(text) : (Next().SetSigned(value), true);
        }
        const unsigned long long value = integer ? std::strtoull(text.c_str(), nullptr, 10) : 0;
        return !integer || errno != 0 ? Float(text) : (Next().SetUnsigned(value), true);
    }
    bool String(const char* s, rapidjson::SizeType n, bool) {
        return Next().SetString(UpToZero(s, n)), true;
    }
    bool Key(const char* s, rapidjson::SizeType n, bool) {
        target_ = &stack_.back()->Member(UpToZero(s, n)); // the member, "empty" when new
        return true;
    }
    bool StartObject() { return Open(BindingKind::Structure); }
    bool StartArray() { return Open(BindingKind::Collection); }
    bool EndObject(rapidjson::SizeType) { return stack_.pop_back(), true; }
    bool EndArray(rapidjson::SizeType) { return stack_.pop_back(), true; }

private:
    bool Float(const std::string& text) {
        const double value = std::strtod(text.c_str(), nullptr);
        refusal = std::isinf(value) ? ErrorText(rapidjson::kParseErrorNumberTooBig) : nullptr;
        return refusal == nullptr && (Next().SetFloat(value), true);
    }
    static std::string_view UpToZero(const char* s, rapidjson::SizeType n) {
        const std::string_view text(s, n);
        return text.substr(0, text.find('\0'));
    }
    BindingProperty& Next() {
        if (!stack_.empty() && stack_.back()->Kind() == BindingKind::Collection) {
            target_ = &stack_.back()->Append();
        }
        return *target_;
    }
    bool Open(BindingKind kind) {
        if (stack_.size() == 512) {
            refusal = "The document is nested deeper than 512 levels";
            return false;
        }
        BindingProperty& target = Next();
        if (target.Kind() != kind) { // a container of the same kind keeps what it holds
            target.Clear();
            kind == BindingKind::Structure ? target.MakeStructure() : target.MakeCollection();
        }
        stack_.push_back(&target);
        return true;
    }

    BindingProperty* target_;
    std::vector<BindingProperty*> stack_;
};

// Reads `text` with the library, NUL-terminated or with its length, and with the model: the
// same flag, and the same tree or {"error": message}.
void ExpectReadAsModel(const std::string& text, bool terminated) {
    BindingProperty model;
    ModelHandler handler(model);
    rapidjson::StringStream stream(text.c_str()); // ends at the first zero byte
    rapidjson::Reader reader;
    const rapidjson::ParseResult parsed =
        reader.Parse<rapidjson::kParseNumbersAsStringsFlag>(stream, handler);
    const bool success = !parsed.IsError() || parsed.Code() == rapidjson::kParseErrorDocumentEmpty;
    if (!success) {
        model.Clear();
        model.Member("error") = std::string("Error: ") +
                                (handler.refusal ? handler.refusal : ErrorText(parsed.Code())) +
                                " at offset " + std::to_string(parsed.Offset()) + ".";
    }
    const BindingResult read =
        terminated ? ReadJson(text.c_str()) : ReadJson(std::string_view(text));
    EXPECT_EQ(read.IsSuccess(), success) << testing::PrintToString(text);
    EXPECT_EQ(Testing::TreeText(read.value), Testing::TreeText(model))
        << testing::PrintToString(text);
}

// ---- Writing: a plain writer --------------------------------------------------------------

// A JSON string: the quotation mark and the backslash behind a backslash, the control characters
// as \b \f \n \r \t or \u00XX, every other byte as it is.
std::string Quote(std::string_view text) {
    constexpr std::string_view kPlain = "\"\\\b\f\n\r\t";
    constexpr std::string_view kLetter = "\"\\bfnrt";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(byte));
        out += kPlain.find(c) != kPlain.npos ? std::string{'\\', kLetter[kPlain.find(c)]}
               : byte < 0x20                 ? std::string(hex)
                                             : std::string(1, c);
    }
    return out + "\"";
}

// RapidJSON's digits (Grisu2) laid out as its writer lays them out: a plain decimal with at least
// one digit after the point while the point stands within 21 digits, else "d.ddde-7".
std::string FloatText(double d) {
    if (d == 0.0 || !std::isfinite(d)) {
        return !std::isfinite(d) ? "null" : std::signbit(d) ? "-0.0" : "0.0";
    }
    char buffer[32];
    int length = 0;
    int k = 0;
    rapidjson::internal::Grisu2(std::fabs(d), buffer, &length, &k);
    const std::string digits(buffer, static_cast<std::size_t>(length));
    const int point = length + k; // the value is 0.digits times 10^point
    const auto n = [](int count) { return static_cast<std::size_t>(count); };
    const std::string sign = d < 0 ? "-" : "";
    if (k >= 0 && point <= 21) {
        return sign + digits + std::string(n(k), '0') + ".0";
    }
    if (point > 0 && point <= 21) {
        return sign + digits.substr(0, n(point)) + "." + digits.substr(n(point));
    }
    if (point > -6 && point <= 0) {
        return sign + "0." + std::string(n(-point), '0') + digits;
    }
    return sign + digits.substr(0, 1) + (length > 1 ? "." + digits.substr(1) : "") + "e" +
           std::to_string(point - 1);
}

// `indent`: empty for the compact form, else a line break and the indentation of this level.
std::string Write(const BindingProperty& value, bool names, const std::string& indent) {
    const BindingEnumRecord e = value.GetEnum();
    const char* name =
        names && e.type == &StaticType::Identity<Shade>() ? ShadeName(e.value) : nullptr;
    const std::span<const std::uint8_t> blob = value.GetBlob();
    switch (value.Kind()) {
    case BindingKind::Empty:
        return "null";
    case BindingKind::Bool:
        return value.GetBool() ? "true" : "false";
    case BindingKind::Signed:
        return std::to_string(value.GetSigned());
    case BindingKind::Unsigned:
        return std::to_string(value.GetUnsigned());
    case BindingKind::Float:
        return FloatText(value.GetFloat());
    case BindingKind::String:
        return Quote(value.GetString());
    case BindingKind::Blob:
        return Quote(Base64Plain(std::string(blob.begin(), blob.end())));
    case BindingKind::Enum:
        return name != nullptr ? Quote(name) : std::to_string(e.value);
    default:
        break;
    }
    const std::string inner = indent.empty() ? "" : indent + "    ";
    std::string out = value.Kind() == BindingKind::Collection ? "[" : "{";
    for (const BindingProperty& item : value.Elements()) {
        out += (out.size() > 1 ? "," : "") + inner + Write(item, names, inner);
    }
    for (const auto member : value.Members()) {
        out += (out.size() > 1 ? "," : "") + inner + Quote(member.name) +
               (inner.empty() ? ":" : ": ") + Write(member.value, names, inner);
    }
    return out + (out.size() > 1 ? indent : "") + (out[0] == '[' ? "]" : "}");
}

// The whole text: empty for an "empty" root; in the pretty form every line break is the
// separator.
std::string PlainWrite(const BindingProperty& value, bool names, const char* separator) {
    const bool pretty = separator != nullptr && *separator != '\0';
    std::string out;
    for (const char c : value.IsEmpty() ? "" : Write(value, names, pretty ? "\n" : "")) {
        out += c == '\n' ? std::string(separator) : std::string(1, c);
    }
    return out;
}

// ---- Random trees and texts ---------------------------------------------------------------

std::string RandomText(SplitMix64& rng, std::size_t longest, std::string_view pool) {
    std::string text;
    for (std::size_t count = Pick(rng, longest + 1); count > 0; --count) {
        text += pool[Pick(rng, pool.size())];
    }
    return text;
}

void RandomTree(SplitMix64& rng, int depth, BindingProperty& value) {
    static const double kFloats[] = {-0.0, 1.0,    0.1,   1e20,    1e21,     1e-6,
                                     1e-7, 5e-324, 1e300, 123.456, HUGE_VAL, NAN};
    static const std::int32_t kEnums[] = {1, 2, -3, 0, 5, INT32_MIN, INT32_MAX};
    const std::uint64_t bits = rng.Next() >> Pick(rng, 64);
    const std::size_t width = depth == 0 && Pick(rng, 8) == 0 ? 200 : 5;
    switch (Pick(rng, depth >= 4 ? 8 : 10)) {
    case 1:
        return value.SetBool((bits & 1) != 0);
    case 2:
        return value.SetSigned(static_cast<std::int64_t>(Pick(rng, 2) == 0 ? bits : ~bits));
    case 3:
        return value.SetUnsigned(Pick(rng, 4) == 0 ? UINT64_MAX : bits);
    case 4: {
        const std::uint64_t raw = rng.Next() & (Pick(rng, 3) == 0 ? 0x800FFFFFFFFFFFFFu : ~0ull);
        return value.SetFloat(Pick(rng, 2) == 0 ? kFloats[Pick(rng, std::size(kFloats))]
                                                : std::bit_cast<double>(raw));
    }
    case 5:
        return value.SetString(RandomText(rng, 8, "aZ09 \"\\/\x01\b\t\n\f\r\x1F\x7F\xC3\xA9\xFF"));
    case 6: {
        const std::string bytes = RandomText(rng, 8, std::string_view("\0\x01\x7F\x80\xFF?>", 7));
        return value.SetBlob(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    case 7:
        return value.SetEnum(kEnums[Pick(rng, std::size(kEnums))],
                             Pick(rng, 4) == 0 ? StaticType::Identity<Stray>()
                                               : StaticType::Identity<Shade>());
    case 8:
        value.MakeCollection();
        for (std::size_t count = Pick(rng, width); count > 0; --count) {
            RandomTree(rng, depth + 1, value.Append());
        }
        return;
    case 9: // up to 156 names: wide structures take their large form
        value.MakeStructure();
        for (std::size_t count = Pick(rng, width); count > 0; --count) {
            RandomTree(rng, depth + 1, value.Member(RandomText(rng, 3, "aAb\xC3\x7F")));
        }
        return;
    default:
        return; // "empty"
    }
}

const char* Blank(SplitMix64& rng) {
    static const char* const kBlanks[] = {"", "", "", " ", "\t", "\r\n", "\n  "};
    return kBlanks[Pick(rng, std::size(kBlanks))];
}

// Integers next to powers of two, or of up to 22 digits; sometimes a fraction or an exponent.
std::string RandomNumber(SplitMix64& rng) {
    static const char* const kMarks[] = {"e", "E", "e+", "e-", "E-"};
    const std::uint64_t power = std::uint64_t{1} << Pick(rng, 64);
    std::string text = Pick(rng, 3) == 0 ? "-" : "";
    text += Pick(rng, 2) == 0
                ? std::to_string(power + 1 - Pick(rng, 3))
                : std::to_string(1 + Pick(rng, 9)) + RandomText(rng, 21, "0123456789");
    if (Pick(rng, 3) == 0) {
        text += "." + RandomText(rng, 19, "0123456789") + std::to_string(Pick(rng, 10));
    }
    if (Pick(rng, 3) == 0) {
        text += kMarks[Pick(rng, std::size(kMarks))] + std::to_string(Pick(rng, 400));
    }
    return text;
}

// A JSON text in forms a writer never picks: escapes, blanks, number forms, names that repeat or
// differ only behind a zero escape.
std::string RandomJson(SplitMix64& rng, int depth) {
    static const char* const kPieces[] = {
        "a",         "Z9 ",     "\\\"",    "\\\\",           "\\/",     "\\b\\f",
        "\\n\\r\\t", "\\u00e9", "\\u20AC", "\\ud83d\\ude00", "\\u0000", "\\udc00",
        "\xC3\xA9",  "\xFF",    "\x7F",    "\\u0041"};
    static const char* const kNames[] = {"\"a\"",         "\"b\"", "\"A\"",       "\"\\u0061\"",
                                         "\"a\\u0000z\"", "\"\"",  "\"\xC3\xA9\""};
    static const char* const kWords[] = {"null", "true", "false"};
    std::string text;
    const std::size_t width = depth == 0 && Pick(rng, 10) == 0 ? 100 : 5;
    switch (Pick(rng, depth >= 5 ? 4 : 7)) {
    case 0:
        return kWords[Pick(rng, 3)];
    case 1:
    case 2:
        return RandomNumber(rng);
    case 3:
        for (std::size_t count = Pick(rng, 5); count > 0; --count) {
            text += kPieces[Pick(rng, std::size(kPieces))];
        }
        return "\"" + text + "\"";
    case 4:
        for (std::size_t count = Pick(rng, width); count > 0; --count) {
            text += Blank(rng) + RandomJson(rng, depth + 1) + Blank(rng) + (count > 1 ? "," : "");
        }
        return "[" + text + "]";
    default: // wide objects repeat names from a pool of 100
        for (std::size_t count = Pick(rng, width); count > 0; --count) {
            text += Blank(rng) +
                    (width > 5 ? "\"k" + std::to_string(Pick(rng, 100)) + "\""
                               : std::string(kNames[Pick(rng, std::size(kNames))])) +
                    Blank(rng) + ":" + Blank(rng) + RandomJson(rng, depth + 1) +
                    (count > 1 ? "," : "");
        }
        return "{" + text + Blank(rng) + "}";
    }
}

// One byte changed, dropped or added, or the text cut short.
std::string Damage(SplitMix64& rng, std::string text) {
    static constexpr char kBytes[] = "{}[],:\"\\ 0-+.eEtnu\x01\x7F\xFF"; // and its zero byte
    const std::size_t at = Pick(rng, text.size() + 1);
    const char byte = kBytes[Pick(rng, sizeof kBytes)];
    switch (Pick(rng, 4)) {
    case 0:
        return text.replace(at, 1, 1, byte);
    case 1:
        return text.erase(at, 1);
    case 2:
        return text.insert(at, 1, byte);
    default:
        return text.substr(0, at);
    }
}

// ---- Tests --------------------------------------------------------------------------------

TEST(JsonOracle, WriterMatchesPlainWriterAndReadsBack) {
    BindingRegistry registry;
    auto shade = registry.RegisterEnum<Shade>("Shade");
    for (const auto& [name, value] : kShade) {
        shade.AddValue(name, value);
    }
    static const char* const kSeparators[] = {nullptr, "", "\n", "\r\n", "\t \n", "<br>"};
    SplitMix64 rng(0x4A534F4E);
    for (int round = 0; round < 400 && !HasFailure(); ++round) {
        BindingProperty value;
        RandomTree(rng, round % 3, value);
        for (const char* separator : kSeparators) {
            for (const bool names : {false, true}) {
                const std::string text = WriteJson(value, names ? &registry : nullptr, separator);
                ASSERT_EQ(text, PlainWrite(value, names, separator));
                if (separator == nullptr || separator[0] != '<') {
                    // Read back it is the same tree, as far as JSON tells kinds apart: it writes
                    // the same text (floats to the bit), but a root null reads as "empty".
                    ExpectReadAsModel(text, false);
                    ASSERT_EQ(WriteJson(ReadJson(text).value, nullptr, separator),
                              text == "null" ? "" : text);
                }
            }
        }
    }
}

TEST(JsonOracle, ReaderMatchesModelOnRandomAndDamagedTexts) {
    SplitMix64 rng(0x52454144);
    for (int round = 0; round < 800 && !HasFailure(); ++round) {
        const std::string text = Blank(rng) + RandomJson(rng, 0) + Blank(rng);
        ExpectReadAsModel(text, round % 2 == 0);
        std::string damaged = text;
        for (int n = 0; n < 6; ++n) {
            damaged = Damage(rng, n % 3 == 0 ? text : damaged);
            ExpectReadAsModel(damaged, n % 2 == 0);
        }
    }
}

TEST(JsonOracle, ReaderMatchesModelAtTheNestingLimitAndNumberEdges) {
    // Random documents just inside and just beyond 512 levels.
    SplitMix64 rng(0x44454550);
    for (int round = 0; round < 10 && !HasFailure(); ++round) {
        std::string text = RandomJson(rng, 2);
        for (int level = 509 + round % 5; level > 0; --level) {
            text = Pick(rng, 2) == 0 ? "[" + text + "]" : "{\"k\":" + text + "}";
        }
        ExpectReadAsModel(text, false);
        ExpectReadAsModel(Damage(rng, text), true);
    }
    // Numbers at the edges of their kinds and of the double range.
    for (const char* text :
         {"18446744073709551615", "18446744073709551616", "-0", "-0.0", "-0e0", "0e-999", "-1e-400",
          "2.5e-324", "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
          "-1.7976931348623159e308", "[1, 179769313486231580000e288]", "1000e306",
          "-9223372036854775808", "-9223372036854775809", "-2147483648", "-2147483649",
          "123456789012345678901234567890"}) {
        ExpectReadAsModel(text, true);
    }
}

TEST(JsonOracle, Base64MatchesBitStream) {
    SplitMix64 rng(0x42363434);
    for (int round = 0; round < 3000 && !HasFailure(); ++round) {
        std::string bytes;
        for (std::size_t count = Pick(rng, 40); count > 0; --count) {
            bytes += static_cast<char>(rng.Next());
        }
        const std::string text = Base64Encode(bytes.data(), bytes.size());
        ASSERT_EQ(text, Base64Plain(bytes));
        std::string damaged = Pick(rng, 4) == 0 ? RandomText(rng, 12, kAlphabet) : text;
        for (std::size_t count = Pick(rng, 3); count > 0; --count) {
            static constexpr char kStray[] = "= \n\t-_.\xC3\x80"; // and its zero byte
            damaged.insert(Pick(rng, damaged.size() + 1), 1, kStray[Pick(rng, sizeof kStray)]);
        }
        std::vector<std::uint8_t> got = {0x55};
        Base64DecodeAppend(damaged, got);
        ASSERT_EQ(std::string(got.begin(), got.end()), "\x55" + Base64PlainDecode(damaged))
            << testing::PrintToString(damaged);
        ASSERT_EQ(Base64Decode(damaged).size(), got.size() - 1);
        const bool valid =
            damaged.find_first_not_of(std::string(kAlphabet) + "=") == std::string::npos;
        ASSERT_EQ(IsBase64Text(damaged), valid) << testing::PrintToString(damaged);
    }
}

} // namespace
} // namespace Korvel::JsonOracleTesting
