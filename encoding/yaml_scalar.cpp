#include "encoding/yaml_scalar.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "diagnostics/format_message.h"

namespace Korvel::YamlScalar {
namespace {

constexpr const char* kUnsupportedTag = "Unsupported YAML tag '%1'.";
constexpr const char* kOutOfRange = "Value %1 for '%2' of type %3 is out of range";
constexpr const char* kIncorrectFormat = "Value %1 for '%2' of type %3 is in an incorrect format";
// The name under which tagged scalars are converted, as the value placeholder of the messages.
constexpr const char* kValueName = "yaml";

// 2^64 and -2^63: the bounds of the integral doubles that convert to a 64-bit integer.
constexpr double kTwoTo64 = 18446744073709551616.0;
constexpr double kMinusTwoTo63 = -9223372036854775808.0;

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> words) noexcept {
    for (std::string_view word : words) {
        if (text == word) {
            return true;
        }
    }
    return false;
}

bool IsBlank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text-to-number rules of the native conversions for a text input: the whole text is parsed
// (automatic base for integers; C floating-point syntax for doubles); characters left over give
// the format message, a parse overflow or a value beyond the type gives the range message.

bool ParseInt64Text(const char* text, std::size_t length, std::int64_t& value,
                    std::string& message) {
    const std::string_view view(text, length);
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 0);
    if (end != text + length) {
        message = FormatMessage(kIncorrectFormat, view, kValueName, "int64_t");
        return false;
    }
    if (errno == ERANGE) {
        message = FormatMessage(kOutOfRange, view, kValueName, "int64_t");
        return false;
    }
    value = parsed;
    return true;
}

bool ParseUInt64Text(const char* text, std::size_t length, std::uint64_t& value,
                     std::string& message) {
    const std::string_view view(text, length);
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 0);
    if (end != text + length) {
        message = FormatMessage(kIncorrectFormat, view, kValueName, "uint64_t");
        return false;
    }
    // strtoull accepts a minus sign (after leading blanks) and negates the number; a negative
    // text is out of range for an unsigned value rather than a huge positive one.
    std::size_t first = 0;
    while (first < length && IsBlank(text[first])) {
        ++first;
    }
    if (errno == ERANGE || (first < length && text[first] == '-')) {
        message = FormatMessage(kOutOfRange, view, kValueName, "uint64_t");
        return false;
    }
    value = parsed;
    return true;
}

bool ParseDoubleText(const char* text, std::size_t length, double& value, std::string& message) {
    const std::string_view view(text, length);
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (end != text + length) {
        message = FormatMessage(kIncorrectFormat, view, kValueName, "double");
        return false;
    }
    // An overflowing parse yields an infinity with ERANGE (an underflow also sets ERANGE but
    // yields a finite value, which is in range); an infinite text is beyond the limits too.
    if ((errno == ERANGE && std::isinf(parsed)) || parsed > DBL_MAX || parsed < -DBL_MAX) {
        message = FormatMessage(kOutOfRange, view, kValueName, "double");
        return false;
    }
    value = parsed;
    return true;
}

// The characters strtod can start a number with (after optional blanks): sign, digit, '.', and
// the first letters of "inf", "infinity" and "nan". Other texts are not numbers, which saves the
// call for the common case of a plain word.
bool MayStartNumber(char c) noexcept {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'i' || c == 'I' ||
           c == 'n' || c == 'N' || IsBlank(c);
}

// A plain integer text: blanks (literal and folded scalars may begin with them, and strtod skips
// them), an optional sign, then decimal digits or "0x" and hexadecimal digits. Gives the base to
// read it with exactly, or 0 when the text has another form; `negative` tells whether the sign is
// a minus.
int IntegerTextBase(const char* text, std::size_t length, bool& negative) noexcept {
    std::size_t i = 0;
    while (i < length && IsBlank(text[i])) {
        ++i;
    }
    negative = i < length && text[i] == '-';
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    int base = 10;
    if (i + 1 < length && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        i += 2;
        base = 16;
    }
    if (i == length) {
        return 0;
    }
    for (; i < length; ++i) {
        const char c = text[i];
        const bool digit = (c >= '0' && c <= '9') ||
                           (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit) {
            return 0;
        }
    }
    return base;
}

// Whether strtod could read all of `text`. A decimal or hexadecimal number is made only of
// digits, hexadecimal letters, signs, '.', 'x' and 'p' (after any leading blanks); a text with
// any other character (a date, a time, a word) is refused here without the call. Texts that start
// like "inf" or "nan" are left to strtod.
bool MayBeWholeNumber(const char* text, std::size_t length) noexcept {
    if (length == 0 || !MayStartNumber(text[0])) {
        return false;
    }
    std::size_t i = 0;
    while (i < length && IsBlank(text[i])) {
        ++i;
    }
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    if (i < length && (text[i] == 'i' || text[i] == 'I' || text[i] == 'n' || text[i] == 'N')) {
        return true;
    }
    for (; i < length; ++i) {
        const char c = text[i];
        const bool numberChar = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                                (c >= 'A' && c <= 'F') || c == '.' || c == '+' || c == '-' ||
                                c == 'x' || c == 'X' || c == 'p' || c == 'P';
        if (!numberChar) {
            return false;
        }
    }
    return true;
}

// The plain-scalar number rule. Returns false when the text is not wholly a finite number.
bool ReadPlainNumber(BindingProperty& target, const char* text, std::size_t length) {
    if (!MayBeWholeNumber(text, length)) {
        return false;
    }
    char* end = nullptr;
    const double number = std::strtod(text, &end);
    if (end == text || end != text + length || std::isinf(number)) {
        return false;
    }
    if (std::isnan(number) || number != std::trunc(number)) {
        target.SetFloat(number);
        return true;
    }
    // An integral number. Integer texts are read exactly, so that values beyond 2^53 keep every
    // digit; one beyond 64 bits keeps its double value.
    bool negative = false;
    if (const int base = IntegerTextBase(text, length, negative); base != 0) {
        errno = 0;
        if (negative) {
            const long long value = std::strtoll(text, &end, base);
            if (errno != ERANGE) {
                if (value < 0) {
                    target.SetSigned(value);
                } else {
                    target.SetUnsigned(static_cast<std::uint64_t>(value));
                }
                return true;
            }
        } else {
            const unsigned long long value = std::strtoull(text, &end, base);
            if (errno != ERANGE) {
                target.SetUnsigned(value);
                return true;
            }
        }
        target.SetFloat(number);
        return true;
    }
    // Other integral forms (exponents, fractions of zero, hexadecimal floats) convert from the
    // double when it fits a 64-bit integer and stay "float" when it does not.
    if (number >= 0) {
        if (number < kTwoTo64) {
            target.SetUnsigned(static_cast<std::uint64_t>(number));
        } else {
            target.SetFloat(number);
        }
    } else if (number >= kMinusTwoTo63) {
        target.SetSigned(static_cast<std::int64_t>(number));
    } else {
        target.SetFloat(number);
    }
    return true;
}

} // namespace

bool IsTrueWord(std::string_view text) noexcept {
    return text.size() <= 4 &&
           IsOneOf(text, {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"});
}

bool IsFalseWord(std::string_view text) noexcept {
    return text.size() <= 5 && IsOneOf(text, {"false", "False", "FALSE", "n", "N", "no", "No", "NO",
                                              "off", "Off", "OFF"});
}

bool IsNullWord(std::string_view text) noexcept {
    return text.size() <= 4 && IsOneOf(text, {"", "~", "null", "Null", "NULL"});
}

bool ConvertScalar(BindingProperty& target, const char* tag, const char* text, std::size_t length,
                   bool quoted, std::string& message) {
    const std::string_view view(text, length);
    if (tag != nullptr) {
        if (std::strcmp(tag, kStringTag) == 0) {
            target.SetString(view);
        } else if (std::strcmp(tag, kIntTag) == 0) {
            if (length > 0 && text[0] == '-') {
                std::int64_t value = 0;
                if (!ParseInt64Text(text, length, value, message)) {
                    return false;
                }
                target.SetSigned(value);
            } else {
                std::uint64_t value = 0;
                if (!ParseUInt64Text(text, length, value, message)) {
                    return false;
                }
                target.SetUnsigned(value);
            }
        } else if (std::strcmp(tag, kFloatTag) == 0) {
            double value = 0.0;
            if (!ParseDoubleText(text, length, value, message)) {
                return false;
            }
            target.SetFloat(value);
        } else if (std::strcmp(tag, kBoolTag) == 0) {
            if (IsTrueWord(view)) {
                target.SetBool(true);
            } else if (IsFalseWord(view)) {
                target.SetBool(false);
            }
        } else {
            message = FormatMessage(kUnsupportedTag, tag);
            return false;
        }
        return true;
    }
    if (quoted) {
        target.SetString(view);
        return true;
    }
    if (IsNullWord(view)) {
        target.Clear();
        return true;
    }
    if (ReadPlainNumber(target, text, length)) {
        return true;
    }
    if (IsTrueWord(view)) {
        target.SetBool(true);
    } else if (IsFalseWord(view)) {
        target.SetBool(false);
    } else {
        target.SetString(view);
    }
    return true;
}

} // namespace Korvel::YamlScalar
