// Argument binding checked against a plain second reading of its rules: seeded pseudo-random
// requests (headers, path captures, query strings, host arguments, bodies) go to two declared
// functions through their entry points, and each response (value, status, content kind, flag,
// headers) is compared with what the model below expects. The model gathers the texts of every
// source, applies them by key with its own dotted-key walk, turns texts into native values with
// its own reading of the conversion rules (C library number parsing), and decides success or the
// exact failure text. Decoding JSON, YAML and MessagePack value texts and bodies is left to the
// decoders themselves; only the choice of decoder and the message around a failure are modelled.

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "encoding/base64.h"
#include "encoding/json_reader.h"
#include "encoding/json_writer.h"
#include "encoding/msgpack_decoder.h"
#include "encoding/yaml_reader.h"
#include "remoting/function_dispatch.h"
#include "remoting/remoting_function.h"
#include "support/function_caller.h"

namespace Korvel::Client::OracleTest {

enum class Color : std::int32_t { Red = 0, Green = 1, Blue = 5 };

struct Pt {
    std::int32_t x = 0;
    std::string name;
};

} // namespace Korvel::Client::OracleTest

KORVEL_STATIC_TYPE(enum, Korvel::Client::OracleTest::Color)
KORVEL_STATIC_TYPE(struct, Korvel::Client::OracleTest::Pt)

namespace Korvel {
namespace {

using namespace Client::OracleTest;
using Testing::FunctionRequest;
using Testing::FunctionResponse;

// ---- Printing native values the same way on both sides ----

std::string Show(bool v) {
    return v ? "true" : "false";
}
template <typename T>
requires std::is_integral_v<T> std::string Show(T v) {
    if constexpr (std::is_signed_v<T>) {
        return std::to_string(static_cast<long long>(v));
    } else {
        return std::to_string(static_cast<unsigned long long>(v));
    }
}
std::string Show(float v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(v));
    return buffer;
}
std::string Show(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}
std::string Show(const std::string& v) {
    return "'" + v + "'";
}
std::string Show(Color v) {
    return "color " + std::to_string(static_cast<int>(v));
}
std::string Show(const std::vector<std::uint8_t>& v) {
    std::string out = "bytes";
    for (std::uint8_t b : v) {
        out += " " + std::to_string(b);
    }
    return out;
}
std::string Show(const Pt& v) {
    return "{" + std::to_string(v.x) + "," + Show(v.name) + "}";
}
template <typename T>
std::string Show(const std::vector<T>& v) {
    std::string out = "[";
    for (const T& e : v) {
        out += Show(e) + "|";
    }
    return out + "]";
}
std::string Show(const BindingProperty& v) {
    return WriteJson(v);
}
template <typename T>
std::string Show(const std::optional<T>& v) {
    return v ? Show(*v) : "-";
}

// ---- The model ----

// Field `index` of a printed parameter list ("a;b;c;").
std::string FieldOf(const std::string& shown, std::size_t index) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < index && start != std::string::npos; ++i) {
        start = shown.find(';', start);
        start = start == std::string::npos ? start : start + 1;
    }
    if (start == std::string::npos) {
        return {};
    }
    return shown.substr(start, shown.find(';', start) - start);
}

struct ParamModel {
    std::string name;
    ArgumentLocation location;
    // "bool", "int8" ... "uint64", "float", "double", "string", "enum", "blob", "object",
    // "struct", "vector-string", "vector-int32".
    std::string type;
    bool optional;
};

struct FunctionModel {
    std::string name;
    std::vector<ParamModel> params;
    std::size_t Find(std::string_view n) const {
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (params[i].name == n) {
                return i;
            }
        }
        return params.size();
    }
};

std::string ModelUrlDecode(std::string_view text) {
    std::string out;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return 16;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%') {
            if (i + 2 < text.size()) {
                out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
                i += 2;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

bool IsContainerType(const std::string& type) {
    return type == "object" || type == "struct" || type.starts_with("vector");
}

// Outcome of the model for one request.
struct Expected {
    bool routeFails = false;
    std::string error; // empty: success
    std::string shown; // success: the printed natives
};

class Model {
public:
    Model(const FunctionModel& function) : f_(function), args_(function.params.size()) {
        for (std::size_t i = 0; i < f_.params.size(); ++i) {
            if (f_.params[i].type == "bool" && !f_.params[i].optional) {
                args_[i].SetBool(false);
            }
        }
    }

    bool Failed() const { return !error_.empty(); }
    void Fail(std::string message) { error_ = std::move(message); }
    const std::string& Error() const { return error_; }
    std::vector<BindingProperty>& Args() { return args_; }

    std::string Unknown(std::string_view what) const {
        return "Unknown argument '" + std::string(what) + "' for '" + f_.name + "'.";
    }

    void Assign(const std::string& key, const std::string& value, ArgumentLocation source) {
        if (Failed()) {
            return;
        }
        const std::size_t dot = key.find('.');
        const std::string head = key.substr(0, dot);
        const std::size_t index = f_.Find(head);
        if (index == f_.params.size()) {
            return Fail(Unknown(head));
        }
        const ParamModel& p = f_.params[index];
        if (p.location != ArgumentLocation::Any && p.location != source) {
            return Fail("Argument '" + head + "' for '" + f_.name +
                        "' was specified in an invalid location.");
        }
        if (dot == std::string::npos) {
            return AssignText(args_[index], p, value);
        }
        BindingProperty* current = &args_[index];
        std::string rest = key.substr(dot + 1);
        while (true) {
            const std::size_t next = rest.find('.');
            const std::string segment = rest.substr(0, next);
            if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
                errno = 0;
                char* end = nullptr;
                const unsigned long long number = std::strtoull(segment.c_str(), &end, 0);
                if (end != segment.c_str() + segment.size()) {
                    return Fail("Index " + segment + " is in an incorrect format");
                }
                // Beyond the 65535 the binding allows for one key.
                if (errno == ERANGE || number > 65535) {
                    return Fail("Index " + segment + " is out of range");
                }
                if (current->Kind() != BindingKind::Collection) {
                    current->Clear();
                    current->MakeCollection();
                }
                current = &current->Element(static_cast<std::size_t>(number));
            } else {
                if (current->Kind() != BindingKind::Structure) {
                    current->Clear();
                    current->MakeStructure();
                }
                current = &current->Member(segment);
            }
            if (next == std::string::npos) {
                break;
            }
            rest = rest.substr(next + 1);
        }
        current->SetString(value);
    }

    void AssignText(BindingProperty& target, const ParamModel& p, const std::string& text) {
        if (text.empty()) {
            if (p.type == "bool") {
                target.SetBool(true);
            } else if (p.type == "object" || p.type == "struct") {
                target.Clear();
                target.MakeStructure();
            } else if (p.type.starts_with("vector")) {
                target.Clear();
                target.MakeCollection();
            } else {
                Fail("Expected value for argument '" + p.name + "'.");
            }
            return;
        }
        if (!IsContainerType(p.type)) {
            target.SetString(text);
            return;
        }
        const auto first = static_cast<unsigned char>(text[0]);
        const std::size_t lead = text.find_first_not_of(' ');
        const std::string trimmed = lead == std::string::npos ? "" : text.substr(lead);
        BindingResult decoded;
        std::string format;
        if ((first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF)) {
            std::size_t used = 0;
            decoded = DecodeMessagePack(text.data(), text.size(), used);
            format = "MessagePack";
        } else if (!trimmed.empty() && (trimmed[0] == '{' || trimmed[0] == '[')) {
            decoded = ReadJson(std::string_view(text));
            format = "JSON";
        } else if (trimmed.starts_with("---")) {
            decoded = ReadYaml(std::string_view(text));
            format = "YAML";
        } else {
            target.SetString(text);
            return;
        }
        if (!decoded.IsSuccess()) {
            return Fail("Couldn't deserialize " + format + " value for parameter '" + p.name +
                        "' of '" + f_.name + "': " + std::string(decoded.GetError()));
        }
        target.Take(decoded.value);
    }

private:
    const FunctionModel& f_;
    std::vector<BindingProperty> args_;
    std::string error_;
};

// ---- Native conversion, a second reading ----

struct Conversion {
    std::string error;
    std::string shown;
};

std::string KindText(const BindingProperty& v) {
    return KindName(v.Kind());
}

std::string Invalid(const std::string& field, const std::string& type, const BindingProperty& v) {
    return "Couldn't assign value to '" + field + "' of type " + type +
           " because the input is of an invalid type " + KindText(v) + ".";
}

struct IntLimits {
    bool isSigned;
    long long min;
    unsigned long long max;
};

IntLimits LimitsOf(const std::string& type) {
    if (type == "int8") {
        return {true, -128, 127};
    }
    if (type == "int16") {
        return {true, -32768, 32767};
    }
    if (type == "int32") {
        return {true, INT32_MIN, INT32_MAX};
    }
    if (type == "int64") {
        return {true, INT64_MIN, INT64_MAX};
    }
    if (type == "uint8") {
        return {false, 0, 255};
    }
    if (type == "uint16") {
        return {false, 0, 65535};
    }
    if (type == "uint32") {
        return {false, 0, UINT32_MAX};
    }
    return {false, 0, UINT64_MAX};
}

// An integer field; `shown` prints the value as the native type of that width would.
Conversion ToInteger(const BindingProperty& v, const std::string& field, const std::string& type) {
    const IntLimits limits = LimitsOf(type);
    auto range = [&](const std::string& value) {
        return Conversion{
            "Value " + value + " for '" + field + "' of type " + type + " is out of range", {}};
    };
    auto fromSigned = [&](long long n, const std::string& text) -> Conversion {
        if (limits.isSigned ? (n < limits.min || n > static_cast<long long>(limits.max))
                            : (n < 0 || static_cast<unsigned long long>(n) > limits.max)) {
            return range(text);
        }
        return {{}, std::to_string(n)};
    };
    auto fromUnsigned = [&](unsigned long long n, const std::string& text) -> Conversion {
        if (n > (limits.isSigned ? static_cast<unsigned long long>(limits.max) : limits.max)) {
            return range(text);
        }
        return {{}, std::to_string(n)};
    };
    switch (v.Kind()) {
    case BindingKind::Signed:
        return fromSigned(v.GetSigned(), std::to_string(v.GetSigned()));
    case BindingKind::Unsigned:
        return fromUnsigned(v.GetUnsigned(), std::to_string(v.GetUnsigned()));
    case BindingKind::Float: {
        // Only values well inside the range are generated.
        const double truncated = std::trunc(v.GetFloat());
        return {{}, std::to_string(static_cast<long long>(truncated))};
    }
    case BindingKind::String: {
        const std::string text(v.GetString());
        errno = 0;
        char* end = nullptr;
        if (limits.isSigned) {
            const long long n = std::strtoll(text.c_str(), &end, 0);
            if (end != text.c_str() + text.size()) {
                return {"Value " + text + " for '" + field + "' of type " + type +
                            " is in an incorrect format",
                        {}};
            }
            if (errno == ERANGE) {
                return range(text);
            }
            return fromSigned(n, text);
        }
        const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
        if (end != text.c_str() + text.size()) {
            return {"Value " + text + " for '" + field + "' of type " + type +
                        " is in an incorrect format",
                    {}};
        }
        // The sign counts after leading blanks too: strtoull reads " -1" as the negation of 1,
        // which an unsigned field refuses like "-1".
        const std::size_t sign = text.find_first_not_of(" \t\n\v\f\r");
        if (errno == ERANGE || (sign != std::string::npos && text[sign] == '-')) {
            return range(text);
        }
        return fromUnsigned(n, text);
    }
    default:
        return {Invalid(field, type, v), {}};
    }
}

Conversion ToFloating(const BindingProperty& v, const std::string& field, const std::string& type) {
    const double limit = type == "float" ? 3.4028234663852886e38 : DBL_MAX;
    double value = 0;
    std::string text;
    switch (v.Kind()) {
    case BindingKind::Signed:
        value = static_cast<double>(v.GetSigned());
        break;
    case BindingKind::Unsigned:
        value = static_cast<double>(v.GetUnsigned());
        break;
    case BindingKind::String: {
        text = std::string(v.GetString());
        errno = 0;
        char* end = nullptr;
        value = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size()) {
            return {"Value " + text + " for '" + field + "' of type " + type +
                        " is in an incorrect format",
                    {}};
        }
        const bool overflow = errno == ERANGE && std::fabs(value) > 1.0;
        if (overflow || value < -limit || value > limit) {
            return {"Value " + text + " for '" + field + "' of type " + type + " is out of range",
                    {}};
        }
        break;
    }
    default:
        return {Invalid(field, type, v), {}};
    }
    if (type == "float") {
        return {{}, Show(static_cast<float>(value))};
    }
    return {{}, Show(value)};
}

Conversion ToStringValue(const BindingProperty& v, const std::string& field) {
    if (v.Kind() == BindingKind::String) {
        return {{}, Show(std::string(v.GetString()))};
    }
    return {"Couldn't assign value to '" + field + "' because the input is not a string.", {}};
}

// Converts a present (non-empty) value by type.
Conversion Convert(const BindingProperty& v, const std::string& field, const std::string& type) {
    if (type == "bool") {
        if (v.Kind() == BindingKind::Bool) {
            return {{}, Show(v.GetBool())};
        }
        if (v.Kind() == BindingKind::String) {
            const std::string_view t = v.GetString();
            if (t == "1" || t == "true") {
                return {{}, "true"};
            }
            if (t == "0" || t == "false") {
                return {{}, "false"};
            }
            return {"Value " + std::string(t) + " for '" + field +
                        "' of type bool is in an incorrect format. Options are \"true\", "
                        "\"false\", \"1\", \"0\".",
                    {}};
        }
        return {"Couldn't assign value to '" + field +
                    "' of type bool because the input is of an invalid type " + KindText(v) + ".",
                {}};
    }
    if (type.starts_with("int") || type.starts_with("uint")) {
        return ToInteger(v, field, type);
    }
    if (type == "float" || type == "double") {
        return ToFloating(v, field, type);
    }
    if (type == "string") {
        return ToStringValue(v, field);
    }
    if (type == "enum") {
        if (v.Kind() != BindingKind::String) {
            return {"Couldn't assign value to '" + field +
                        "' of enum type because the input is of an invalid type " + KindText(v) +
                        ".",
                    {}};
        }
        const std::string text(v.GetString());
        const std::map<std::string, int> names{{"Red", 0}, {"Green", 1}, {"Blue", 5}};
        if (const auto found = names.find(text); found != names.end()) {
            return {{}, Show(static_cast<Color>(found->second))};
        }
        errno = 0;
        char* end = nullptr;
        const long long n = std::strtoll(text.c_str(), &end, 0);
        if (end == text.c_str() + text.size() && errno == 0 && (n == 0 || n == 1 || n == 5)) {
            return {{}, Show(static_cast<Color>(n))};
        }
        return {text + " is not a valid Color enumeration value for '" + field + "'.", {}};
    }
    if (type == "blob") {
        if (v.Kind() != BindingKind::String) {
            return {"Couldn't assign value to '" + field +
                        "' of type blob because the input is not a blob.",
                    {}};
        }
        const std::string_view t = v.GetString();
        for (char c : t) {
            const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
            if (!ok) {
                return {"Couldn't assign string value to '" + field +
                            "' of type blob because the input has invalid base64 characters.",
                        {}};
            }
        }
        return {{}, Show(Base64Decode(t))};
    }
    if (type == "object") {
        return {{}, Show(v)};
    }
    if (type == "struct") {
        if (v.Kind() != BindingKind::Structure) {
            return {"Couldn't assign value to '" + field +
                        "' of type Pt because the input not a structure.",
                    {}};
        }
        std::string x = "0";
        std::string name = Show(std::string());
        if (const BindingProperty* m = v.FindMember("x"); m != nullptr && !m->IsEmpty()) {
            Conversion c = ToInteger(*m, "x", "int32");
            if (!c.error.empty()) {
                return c;
            }
            x = c.shown;
        }
        if (const BindingProperty* m = v.FindMember("name"); m != nullptr && !m->IsEmpty()) {
            Conversion c = ToStringValue(*m, "name");
            if (!c.error.empty()) {
                return c;
            }
            name = c.shown;
        }
        return {{}, "{" + x + "," + name + "}"};
    }
    // Vectors of string or int32.
    if (v.Kind() != BindingKind::Collection) {
        return {"Couldn't assign value to '" + field +
                    "' of type vector because the input not a collection.",
                {}};
    }
    std::string out = "[";
    for (std::size_t i = 0; i < v.Size(); ++i) {
        const BindingProperty& e = v.Element(i);
        if (e.IsEmpty()) {
            out += (type == "vector-string" ? Show(std::string()) : std::string("0")) + "|";
            continue;
        }
        Conversion c =
            type == "vector-string" ? ToStringValue(e, field) : ToInteger(e, field, "int32");
        if (!c.error.empty()) {
            return c;
        }
        out += c.shown + "|";
    }
    return {{}, out + "]"};
}

// Prepare: every parameter in order; the first failure ends it.
Conversion Prepare(const FunctionModel& f, const std::vector<BindingProperty>& args) {
    std::string shown;
    for (std::size_t i = 0; i < f.params.size(); ++i) {
        const ParamModel& p = f.params[i];
        if (args[i].IsEmpty() && p.type != "object") {
            if (p.optional) {
                shown += "-;";
                continue;
            }
            return {"A value for '" + p.name + "' is required.", {}};
        }
        Conversion c = Convert(args[i], p.name, p.type);
        if (!c.error.empty()) {
            return c;
        }
        shown += c.shown + ";";
    }
    return {{}, shown};
}

// ---- Request generation ----

class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    std::size_t Below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }
    bool Chance(int percent) { return Below(100) < static_cast<std::size_t>(percent); }
    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(items.size())];
    }

    // Encodes a decoded text for a URL: characters that would change the split always, others
    // at random.
    std::string Encode(std::string_view text) {
        static const char* hexDigits = "0123456789ABCDEF";
        std::string out;
        for (char c : text) {
            const auto u = static_cast<unsigned char>(c);
            const bool must = c == '&' || c == '=' || c == '+' || c == '%' || c == '/' ||
                              c == '?' || u < 0x21 || u >= 0x7F;
            if (c == ' ' && Chance(50)) {
                out += '+';
            } else if (must || Chance(10)) {
                out += '%';
                out += hexDigits[u >> 4];
                out += Chance(50) ? hexDigits[u & 15]
                                  : static_cast<char>(std::tolower(hexDigits[u & 15]));
            } else {
                out += c;
            }
        }
        return out;
    }

private:
    std::mt19937 rng_;
};

const std::vector<std::string> kValues = {"",
                                          "0",
                                          "1",
                                          "-1",
                                          "127",
                                          "128",
                                          "-128",
                                          "-129",
                                          "255",
                                          "256",
                                          "65535",
                                          "65536",
                                          "0x1F",
                                          "0X1f",
                                          "010",
                                          "08",
                                          " 42",
                                          "42 ",
                                          "-0",
                                          "+7",
                                          "2147483647",
                                          "2147483648",
                                          "-2147483649",
                                          "4294967295",
                                          "4294967296",
                                          "9223372036854775807",
                                          "9223372036854775808",
                                          "-9223372036854775809",
                                          "18446744073709551615",
                                          "18446744073709551616",
                                          " -1",
                                          "1.5",
                                          "-2.25",
                                          "1e38",
                                          "3.5e38",
                                          "-1e39",
                                          "1e-400",
                                          "1e309",
                                          "inf",
                                          "-inf",
                                          "nan",
                                          "0x1p3",
                                          " ",
                                          "true",
                                          "false",
                                          "TRUE",
                                          "Red",
                                          "Green",
                                          "Blue",
                                          "red",
                                          "5",
                                          "2",
                                          "QUJD",
                                          "QUJD=",
                                          "QU JD",
                                          "a+b/",
                                          "abc",
                                          "x y",
                                          "{\"x\":1}",
                                          "{\"x\":\"7\",\"name\":\"n\"}",
                                          "{\"x\":1.5}",
                                          "{\"x\":[1]}",
                                          "{\"name\":3}",
                                          "[1,2]",
                                          "[\"a\",\"b\"]",
                                          "  [3, null, 4]",
                                          "[1,\"2x\"]",
                                          "--- x",
                                          "---\nx: 5\nname: y",
                                          "{bad",
                                          "[1,",
                                          "--- [",
                                          "\x92\x01\x02",
                                          "\x82\xA1x\x05\xA4name\xA1z",
                                          "\x80",
                                          "\x91",
                                          "\xDC\x00\x01\x05",
                                          "\xDE\x00",
                                          "a&b=c",
                                          "50%",
                                          "q?r/s",
                                          "0x",
                                          "0b1",
                                          "1e",
                                          ".5",
                                          "5.",
                                          "-0x8000000000000000",
                                          "0x7fffffff",
                                          "-.5e-3",
                                          "\t7",
                                          "Blue ",
                                          "0x5",
                                          "4294967301",
                                          "012345670",
                                          "0xFFFFFFFFFFFFFFFF",
                                          std::string("\0x", 2),
                                          std::string("7\0", 2),
                                          "1,5",
                                          "1_000",
                                          "fail"};

// Keys for the query, headers and path of the two functions; the clean lists hold only keys that
// each function takes from the query and from headers, so that most requests reach the call.
const std::vector<std::string> kTypedCleanKeys = {
    "s", "b", "ob", "i8", "u8", "i16", "i32", "u32", "i64", "u64", "f", "d", "s", "e", "bl"};
const std::vector<std::string> kTypedCleanHeaders = {"u16", "agent", "i64", "s", "e", "d"};
const std::vector<std::string> kShapedCleanKeys = {"obj",     "obj.a",  "pt",     "pt.x",
                                                   "pt.name", "list",   "list.0", "list.1",
                                                   "nums",    "nums.0", "nums.1", "n"};
const std::vector<std::string> kShapedCleanHeaders = {"n", "obj", "pt"};
const std::vector<std::string> kTypedKeys = {"b",     "ob",    "i8",    "u8",     "i16",
                                             "u16",   "i32",   "i32",   "i32",    "u32",
                                             "i64",   "u64",   "f",     "d",      "s",
                                             "s",     "e",     "bl",    "p",      "Agent",
                                             "agent", "zz",    "",      "S",      "s.a",
                                             "s.0",   "i32.x", "b.0x2", "e.1a",   "u8.99999999999",
                                             "s.a.b", "d.0.",  "s.00",  "s.0x10", "s.3000000000"};
const std::vector<std::string> kShapedKeys = {
    "k",      "obj",    "obj",    "obj.a",  "obj.a.b", "obj.0",    "obj.2",  "obj.0x1",
    "obj.1a", "obj.",   "pt",     "pt",     "pt.x",    "pt.name",  "pt.y",   "pt.x.0",
    "pt.1",   "list",   "list.0", "list.2", "list.1",  "list.0x3", "list.a", "nums",
    "nums.0", "nums.3", "n",      "n",      "body",    "zz",       ""};

FunctionModel TypedModel() {
    using L = ArgumentLocation;
    return {"Typed",
            {{"b", L::Any, "bool", false},
             {"ob", L::Query, "bool", true},
             {"i8", L::Any, "int8", true},
             {"u8", L::Any, "uint8", true},
             {"i16", L::Any, "int16", true},
             {"u16", L::Header, "uint16", true},
             {"i32", L::Any, "int32", false},
             {"u32", L::Any, "uint32", true},
             {"i64", L::Any, "int64", true},
             {"u64", L::Any, "uint64", true},
             {"f", L::Any, "float", true},
             {"d", L::Any, "double", true},
             {"s", L::Any, "string", true},
             {"e", L::Any, "enum", true},
             {"bl", L::Any, "blob", true},
             {"p", L::Path, "string", true},
             {"Agent", L::Header, "string", true}}};
}

FunctionModel ShapedModel() {
    using L = ArgumentLocation;
    return {"Shaped",
            {{"k", L::Path, "string", false},
             {"obj", L::Any, "object", false},
             {"pt", L::Any, "struct", true},
             {"list", L::Query, "vector-string", true},
             {"nums", L::Any, "vector-int32", true},
             {"n", L::Any, "int32", true},
             {"body", L::Body, "struct", true}}};
}

struct HostArgumentPlan {
    std::optional<std::string> name;
    bool isText;
    std::string text;
    std::int64_t number;
};

class ArgumentOracle : public ::testing::Test {
protected:
    ArgumentOracle() {
        registry_.Reinitialise();
        registry_.RegisterEnum<Color>("Color")
            .AddValue("Red", 0)
            .AddValue("Green", 1)
            .AddValue("Blue", 5);
        auto pt = registry_.RegisterStruct<Pt>("Pt");
        KORVEL_BINDING_FIELD(pt, Pt, x, "x", "", 0);
        KORVEL_BINDING_FIELD(pt, Pt, name, "name", "", 0);

        const OperationResult typed = RegisterRemotingFunction(
            registry_, "Typed", "/t/{i16}/{p}", HttpMethod::None,
            {{"b"},
             {"ob", ArgumentLocation::Query},
             {"i8"},
             {"u8"},
             {"i16"},
             {"u16", ArgumentLocation::Header},
             {"i32"},
             {"u32"},
             {"i64"},
             {"u64"},
             {"f"},
             {"d"},
             {"s"},
             {"e"},
             {"bl"},
             {"p", ArgumentLocation::Path},
             {"Agent", ArgumentLocation::Header}},
            [this](RemotingResponse& response, bool b, std::optional<bool> ob,
                   std::optional<std::int8_t> i8, std::optional<std::uint8_t> u8,
                   std::optional<std::int16_t> i16, std::optional<std::uint16_t> u16,
                   std::int32_t i32, std::optional<std::uint32_t> u32,
                   std::optional<std::int64_t> i64, std::optional<std::uint64_t> u64,
                   std::optional<float> f, std::optional<double> d, std::optional<std::string> s,
                   std::optional<Color> e, std::optional<std::vector<std::uint8_t>> bl,
                   std::optional<std::string> p, std::optional<std::string> agent) {
                shown_ = Show(b) + ";" + Show(ob) + ";" + Show(i8) + ";" + Show(u8) + ";" +
                         Show(i16) + ";" + Show(u16) + ";" + Show(i32) + ";" + Show(u32) + ";" +
                         Show(i64) + ";" + Show(u64) + ";" + Show(f) + ";" + Show(d) + ";" +
                         Show(s) + ";" + Show(e) + ";" + Show(bl) + ";" + Show(p) + ";" +
                         Show(agent) + ";";
                ++calls_;
                response.status = 299;
                response.statusText = "Typed";
                response.flag = 7;
                response.contentKind = ContentKind::Json;
                response.headers = {{"x-ok", "1"}};
                // A function may fail the call itself; what it set on the response still goes
                // to the host.
                if (s == "fail") {
                    response.Fail("Refused by the function");
                }
                return std::int32_t{calls_};
            });
        EXPECT_FALSE(typed.failed) << typed.ToString();

        const OperationResult shaped = RegisterRemotingFunction(
            registry_, "Shaped", "/c/{k}", HttpMethod::Post,
            {{"k", ArgumentLocation::Path},
             {"obj"},
             {"pt"},
             {"list", ArgumentLocation::Query},
             {"nums"},
             {"n"},
             {"body", ArgumentLocation::Body}},
            [this](std::string k, BindingProperty obj, std::optional<Pt> pt,
                   std::optional<std::vector<std::string>> list,
                   std::optional<std::vector<std::int32_t>> nums, std::optional<std::int32_t> n,
                   std::optional<Pt> body) {
                shown_ = Show(k) + ";" + Show(obj) + ";" + Show(pt) + ";" + Show(list) + ";" +
                         Show(nums) + ";" + Show(n) + ";" + Show(body) + ";";
                ++calls_;
                return std::string("done");
            });
        EXPECT_FALSE(shaped.failed) << shaped.ToString();
        declaration_ = BuildPluginApiDeclaration(registry_);
    }

    const ApiFunctionEntry& Entry(const char* name) {
        const ApiFunctionEntry* entry =
            Testing::FindDeclaredFunction(declaration_->Declaration(), name);
        EXPECT_NE(entry, nullptr) << name;
        return *entry;
    }

    // Builds a random request for `model`, runs the model on it, calls the function and
    // compares. Returns whether the request succeeded.
    bool RunOne(Generator& g, const FunctionModel& model, const std::vector<std::string>& keys,
                const std::string& prefix, std::uint32_t seedNote) {
        FunctionRequest request;
        request.method = static_cast<std::uint32_t>(1 + g.Below(8));
        if (request.method == 8) {
            request.methodText = "BREW";
        }
        const bool shaped = model.name == "Shaped";
        const bool clean = g.Chance(50);
        const std::vector<std::string>& queryKeys =
            clean ? (shaped ? kShapedCleanKeys : kTypedCleanKeys) : keys;
        const std::vector<std::string>& headerKeys =
            clean ? (shaped ? kShapedCleanHeaders : kTypedCleanHeaders) : keys;
        if (shaped && g.Chance(80)) {
            request.method = 6;
            request.methodText.reset();
        }

        // Path capture and query.
        std::string capture = g.Chance(10) ? std::string() : g.Pick(kValues);
        if (clean) {
            capture = "c";
        }
        std::string rawCapture = g.Encode(capture);
        if (g.Chance(3)) {
            rawCapture += "/x"; // does not fit the route
        }
        std::string query;
        const std::size_t pieceCount = clean ? 1 + g.Below(2) : g.Below(5);
        for (std::size_t i = 0; i < pieceCount; ++i) {
            const std::string key = g.Pick(queryKeys);
            std::string piece = g.Encode(key);
            if (!(g.Chance(8) && !key.empty())) {
                piece += "=" + g.Encode(g.Pick(kValues));
            }
            query += (i == 0 ? "" : "&") + piece;
        }
        // The required int32 of the scalar function, most of the time.
        if (!shaped && g.Chance(70)) {
            query += std::string(query.empty() ? "" : "&") + "i32=" +
                     g.Encode(g.Pick(std::vector<std::string>{"5", "-7", "0x10", "12abc"}));
        }
        if (pieceCount > 0 && g.Chance(5)) {
            query += "&";
        }
        // Escapes cut short at the end: the "%" is dropped.
        if (!query.empty() && g.Chance(4)) {
            query += g.Chance(50) ? "%" : "%4";
        }
        // The scalar function also takes i16 from a first placeholder, which a query value of the
        // same name replaces.
        std::string rawSegment;
        if (!shaped) {
            const std::string segment =
                clean ? g.Pick(std::vector<std::string>{"-3", "0", "7", "0x10", "-0"})
                      : (g.Chance(10) ? std::string() : g.Pick(kValues));
            rawSegment = g.Encode(segment) + "/";
        }
        request.path = prefix + rawSegment + rawCapture;
        if (!query.empty() || g.Chance(5)) {
            request.path += "?" + query;
        }

        // Headers.
        const std::size_t headerCount = g.Below(3);
        for (std::size_t i = 0; i < headerCount; ++i) {
            std::string name = g.Pick(headerKeys);
            if (!clean && g.Chance(50)) {
                for (char& c : name) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
            }
            std::string value = g.Pick(kValues);
            if (value.find('\0') != std::string::npos) {
                value.clear();
            }
            request.headers.emplace_back(name, value);
        }

        // Host arguments (Shaped only).
        std::vector<HostArgumentPlan> hostArgs;
        if (shaped && g.Chance(30)) {
            const std::size_t count = 1 + g.Below(3);
            for (std::size_t i = 0; i < count; ++i) {
                HostArgumentPlan plan;
                if (g.Chance(60)) {
                    plan.name = g.Pick(std::vector<std::string>{"n", "k", "obj", "pt", "zz", "N"});
                }
                plan.isText = g.Chance(50);
                plan.text = g.Pick(kValues);
                if (plan.text.find('\0') != std::string::npos) {
                    plan.text = "t";
                }
                plan.number = static_cast<std::int64_t>(g.Below(300)) - 100;
                hostArgs.push_back(plan);
                request.arguments.emplace_back(plan.name, plan.isText ? arena_.Text(plan.text)
                                                                      : arena_.Signed(plan.number));
            }
        }

        // Body.
        std::optional<std::string> body;
        if (g.Chance(35)) {
            request.contentType = g.Pick(std::vector<std::string>{
                "application/json", "Application/JSON; charset=utf-8", "application/vnd.api+json",
                "application/x-yaml", "text/x-yaml", "application/x-msgpack",
                "application/x-msgpack-ext", "text/plain", "", "application/jso"});
            body = g.Pick(std::vector<std::string>{
                "{\"x\":3,\"name\":\"b\"}", "{\"x\":\"9\"}", "{\"x\":\"nine\"}", "[1]",
                std::string("{\"x\":4}\0trailing", 16), "{bad", "x: 6\nname: yy\n", "--- {x: 1}",
                "\x82\xA1x\x05\xA4name\xA1z", std::string("\x82\xA1x\x05\xA4name\xA1z\x00", 12),
                "\x81\xA1x\xA2zz", "\xC1", "", "null"});
            request.body = body;
        }

        // ---- The model ----
        Expected expected;
        const std::string rest = request.path.substr(prefix.size() + rawSegment.size());
        const std::size_t slash = rest.find('/');
        const bool methodFits = !shaped || request.method == 6;
        if (slash != std::string::npos || !methodFits) {
            expected.routeFails = true;
        } else {
            Model m(model);
            // Headers: a later duplicate replaces an earlier one; parameters of location 0 or 4
            // look up their lower-cased name.
            std::map<std::string, std::string> headerMap;
            for (const auto& [name, value] : request.headers) {
                headerMap[name] = value;
            }
            std::map<std::string, std::string> headerValues;
            for (const ParamModel& p : model.params) {
                if (p.location != ArgumentLocation::Any && p.location != ArgumentLocation::Header) {
                    continue;
                }
                std::string lower = p.name;
                for (char& c : lower) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
                if (const auto found = headerMap.find(lower); found != headerMap.end()) {
                    headerValues[p.name] = found->second;
                }
            }
            const std::string placeholder = shaped ? "k" : "p";
            std::map<std::string, std::string> captures{{placeholder, ModelUrlDecode(rest)}};
            if (!shaped) {
                captures["i16"] = ModelUrlDecode(rawSegment.substr(0, rawSegment.size() - 1));
            }
            std::map<std::string, std::string> queryValues;
            if (const std::size_t mark = request.path.find('?'); mark != std::string::npos) {
                const std::string q = request.path.substr(mark + 1);
                if (!q.empty()) {
                    std::size_t start = 0;
                    while (true) {
                        const std::size_t amp = q.find('&', start);
                        const std::string piece = q.substr(start, amp - start);
                        const std::size_t eq = piece.find('=');
                        queryValues[ModelUrlDecode(piece.substr(0, eq))] =
                            eq == std::string::npos ? "" : ModelUrlDecode(piece.substr(eq + 1));
                        if (amp == std::string::npos) {
                            break;
                        }
                        start = amp + 1;
                    }
                }
            }
            for (const auto& [k, v] : headerValues) {
                m.Assign(k, v, ArgumentLocation::Header);
            }
            for (const auto& [k, v] : captures) {
                m.Assign(k, v, ArgumentLocation::Path);
            }
            for (const auto& [k, v] : queryValues) {
                m.Assign(k, v, ArgumentLocation::Query);
            }
            for (std::size_t i = 0; i < hostArgs.size() && !m.Failed(); ++i) {
                const HostArgumentPlan& plan = hostArgs[i];
                const std::size_t index = plan.name ? model.Find(*plan.name) : i + captures.size();
                if (index >= model.params.size()) {
                    m.Fail(m.Unknown(plan.name ? *plan.name : std::to_string(index)));
                    break;
                }
                BindingProperty& a = m.Args()[index];
                a.Clear();
                if (plan.isText) {
                    a.SetString(plan.text);
                } else {
                    a.SetSigned(plan.number);
                }
            }
            if (body && !body->empty()) {
                const std::size_t bodyIndex = model.Find("body");
                if (bodyIndex < model.params.size()) {
                    auto starts = [&](std::string_view prefixText) {
                        const std::string& ct = *request.contentType;
                        if (ct.size() < prefixText.size()) {
                            return false;
                        }
                        for (std::size_t i = 0; i < prefixText.size(); ++i) {
                            if (std::tolower(static_cast<unsigned char>(ct[i])) != prefixText[i]) {
                                return false;
                            }
                        }
                        return true;
                    };
                    BindingResult decoded;
                    bool decodedSet = true;
                    const std::string upToZero = body->substr(0, body->find('\0'));
                    if (starts("application/x-msgpack")) {
                        std::size_t used = 0;
                        decoded = DecodeMessagePack(body->data(), body->size(), used);
                        if (decoded.IsSuccess() && used < body->size()) {
                            m.Fail("Extra MessgePack data found in body");
                            decodedSet = false;
                        }
                    } else if (starts("application/json") || starts("application/vnd.api+json")) {
                        decoded = ReadJson(std::string_view(upToZero));
                    } else if (starts("application/x-yaml")) {
                        decoded = ReadYaml(std::string_view(upToZero));
                    } else {
                        m.Fail("Unsupported body content type");
                        decodedSet = false;
                    }
                    if (decodedSet) {
                        if (!decoded.IsSuccess()) {
                            m.Fail(std::string(decoded.GetError()));
                        } else {
                            m.Args()[bodyIndex].Take(decoded.value);
                        }
                    }
                }
            }
            if (m.Failed()) {
                expected.error = m.Error();
            } else {
                Conversion c = Prepare(model, m.Args());
                expected.error = c.error;
                expected.shown = c.shown;
            }
        }

        // ---- The library ----
        const int callsBefore = calls_;
        shown_.clear();
        const FunctionResponse response =
            Testing::CallDeclaredFunction(Entry(model.name.c_str()), request);
        const std::string where =
            "seed note " + std::to_string(seedNote) + " " + model.name + " path [" + request.path +
            "] headers " + std::to_string(request.headers.size()) + " host args " +
            std::to_string(hostArgs.size()) + " body [" + (body ? *body : std::string("none")) +
            "] type [" + request.contentType.value_or("none") + "]";
        EXPECT_TRUE(response.released) << where;
        if (expected.routeFails) {
            EXPECT_EQ(response.value, "Invalid function") << where;
            EXPECT_EQ(response.status, 404) << where;
            EXPECT_EQ(calls_, callsBefore) << where;
            return false;
        }
        if (!expected.error.empty()) {
            EXPECT_EQ(response.value, expected.error) << where;
            EXPECT_EQ(response.status, 0) << where;
            EXPECT_EQ(response.contentKind, 0u) << where;
            EXPECT_EQ(response.flag, 0) << where;
            EXPECT_TRUE(response.headers.empty()) << where;
            EXPECT_FALSE(response.hasBody) << where;
            EXPECT_EQ(calls_, callsBefore) << where;
            return false;
        }
        EXPECT_EQ(calls_, callsBefore + 1) << where << "\n" << response.value.dump();
        EXPECT_EQ(shown_, expected.shown) << where;
        if (shaped) {
            EXPECT_EQ(response.value, "done") << where;
            EXPECT_EQ(response.status, 0) << where;
            EXPECT_EQ(response.contentKind, 0u) << where;
            EXPECT_TRUE(response.headers.empty()) << where;
        } else {
            EXPECT_EQ(response.value, FieldOf(expected.shown, 12) == "'fail'"
                                          ? Testing::Json("Refused by the function")
                                          : Testing::Json(calls_))
                << where;
            EXPECT_EQ(response.status, 299) << where;
            EXPECT_EQ(response.statusText, "Typed") << where;
            EXPECT_EQ(response.flag, 7) << where;
            EXPECT_EQ(response.contentKind, 1u) << where;
            EXPECT_EQ(response.headers,
                      (std::vector<std::pair<std::string, std::string>>{{"x-ok", "1"}}))
                << where;
        }
        return true;
    }

    BindingRegistry registry_;
    std::unique_ptr<BuiltApiDeclaration> declaration_;
    Testing::HostValueArena arena_;
    std::string shown_;
    int calls_ = 0;
};

TEST_F(ArgumentOracle, ScalarParametersOfEveryTypeAndLocation) {
    const FunctionModel model = TypedModel();
    Generator g(20261209);
    int successes = 0;
    for (std::uint32_t i = 0; i < 4000 && !HasFailure(); ++i) {
        successes += RunOne(g, model, kTypedKeys, "/t/", i) ? 1 : 0;
        arena_.Clear();
    }
    // The generator must reach the call often enough for the conversions to be compared.
    EXPECT_GT(successes, 100);
}

TEST_F(ArgumentOracle, ContainerParametersHostArgumentsAndBodies) {
    const FunctionModel model = ShapedModel();
    Generator g(77001);
    int successes = 0;
    for (std::uint32_t i = 0; i < 4000 && !HasFailure(); ++i) {
        successes += RunOne(g, model, kShapedKeys, "/c/", i) ? 1 : 0;
        arena_.Clear();
    }
    EXPECT_GT(successes, 100);
}

} // namespace
} // namespace Korvel

namespace Korvel {
namespace {

// Texts at the edges of the number rules: a minus sign after blanks is refused by an unsigned
// field, an underflowing double is not out of range, and a zero byte is part of the text.
TEST_F(ArgumentOracle, NumberTextsAtTheEdges) {
    // The placeholder takes the rest of the path, query part included.
    FunctionRequest request;
    request.path = "/t/-3/x?i32=-0x10&d=1e-400&f=0x1p3&i8=-0&u8=010";
    FunctionResponse response = Testing::CallDeclaredFunction(Entry("Typed"), request);
    EXPECT_EQ(response.status, 299) << response.value.dump();
    EXPECT_EQ(shown_, "false;-;0;8;-3;-;-16;-;-;-;8;0;-;-;-;'x?i32=-0x10&d=1e-400&f=0x1p3&i8=-0&"
                      "u8=010';-;");

    request.path = "/t/-3/x?i32=1&u64=%20-1";
    response = Testing::CallDeclaredFunction(Entry("Typed"), request);
    EXPECT_EQ(response.value, "Value  -1 for 'u64' of type uint64 is out of range");
    EXPECT_EQ(response.status, 0);

    // A string value ends at its first zero byte, as every string of a value tree does.
    request.path = "/t/-3/x?i32=1&u8=5%00x&s=a%00b";
    response = Testing::CallDeclaredFunction(Entry("Typed"), request);
    EXPECT_EQ(response.status, 299) << response.value.dump();
    EXPECT_EQ(shown_, "false;-;-;5;-3;-;1;-;-;-;-;-;'a';-;-;'x?i32=1&u8=5';-;");
}

} // namespace
} // namespace Korvel
