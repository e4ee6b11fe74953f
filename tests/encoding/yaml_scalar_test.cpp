#include "encoding/yaml_scalar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace Korvel {
namespace {

struct Converted {
    bool ok = false;
    std::string message;
    BindingProperty value;
};

Converted Convert(const std::string& text, const char* tag = nullptr, bool quoted = false) {
    Converted converted;
    converted.ok = YamlScalar::ConvertScalar(converted.value, tag, text.c_str(), text.size(),
                                             quoted, converted.message);
    return converted;
}

TEST(YamlScalar, WordTables) {
    for (const char* word :
         {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"}) {
        EXPECT_TRUE(YamlScalar::IsTrueWord(word)) << word;
        EXPECT_FALSE(YamlScalar::IsFalseWord(word)) << word;
        const Converted plain = Convert(word);
        EXPECT_EQ(plain.value.Kind(), BindingKind::Bool) << word;
        EXPECT_TRUE(plain.value.GetBool()) << word;
    }
    for (const char* word :
         {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"}) {
        EXPECT_TRUE(YamlScalar::IsFalseWord(word)) << word;
        const Converted plain = Convert(word);
        EXPECT_EQ(plain.value.Kind(), BindingKind::Bool) << word;
        EXPECT_FALSE(plain.value.GetBool(true)) << word;
    }
    for (const char* word : {"", "~", "null", "Null", "NULL"}) {
        EXPECT_TRUE(YamlScalar::IsNullWord(word)) << word;
    }
    for (const char* word : {"YeS", "tRue", "oN", "nULL", "yes ", "True1", "NONE", "Nil"}) {
        EXPECT_FALSE(YamlScalar::IsTrueWord(word) || YamlScalar::IsFalseWord(word) ||
                     YamlScalar::IsNullWord(word))
            << word;
        EXPECT_EQ(Convert(word).value.GetString(), word);
    }
    // A null word empties a value that held something (a repeated key).
    Converted converted;
    converted.value.SetSigned(4);
    EXPECT_TRUE(
        YamlScalar::ConvertScalar(converted.value, nullptr, "~", 1, false, converted.message));
    EXPECT_TRUE(converted.value.IsEmpty());
}

TEST(YamlScalar, PlainNumbers) {
    struct Case {
        const char* text;
        BindingKind kind;
        std::int64_t signedValue;
        std::uint64_t unsignedValue;
        double floatValue;
    };
    const Case cases[] = {
        {"1", BindingKind::Unsigned, 0, 1, 0},
        {"-3", BindingKind::Signed, -3, 0, 0},
        {"1.5", BindingKind::Float, 0, 0, 1.5},
        {"2.0", BindingKind::Unsigned, 0, 2, 0},
        {"-2.0", BindingKind::Signed, -2, 0, 0},
        {"-0", BindingKind::Unsigned, 0, 0, 0},
        {"+7", BindingKind::Unsigned, 0, 7, 0},
        {".5", BindingKind::Float, 0, 0, 0.5},
        {"1e3", BindingKind::Unsigned, 0, 1000, 0},
        {"-2.5e-1", BindingKind::Float, 0, 0, -0.25},
        {"0x10", BindingKind::Unsigned, 0, 16, 0},
        {"010", BindingKind::Unsigned, 0, 10, 0}, // strtod reads decimal, not octal
        {"0x1p-1", BindingKind::Float, 0, 0, 0.5},
        // Integer texts keep every digit beyond 2^53 and up to the 64-bit limits.
        {"9007199254740993", BindingKind::Unsigned, 0, 9007199254740993u, 0},
        {"18446744073709551615", BindingKind::Unsigned, 0, UINT64_MAX, 0},
        {"-9223372036854775808", BindingKind::Signed, INT64_MIN, 0, 0},
        {"0xFFFFFFFFFFFFFFFF", BindingKind::Unsigned, 0, UINT64_MAX, 0},
        // Integral numbers beyond 64 bits stay floating-point.
        {"18446744073709551616", BindingKind::Float, 0, 0, 18446744073709551616.0},
        {"-9223372036854775809", BindingKind::Float, 0, 0, -9223372036854775808.0},
        {"1e30", BindingKind::Float, 0, 0, 1e30},
        {"-1e30", BindingKind::Float, 0, 0, -1e30},
        {"1e19", BindingKind::Unsigned, 0, 10000000000000000000u, 0},
        {"0X1P+3", BindingKind::Unsigned, 0, 8, 0},
        {"-.5E+1", BindingKind::Signed, -5, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Converted converted = Convert(c.text);
        ASSERT_TRUE(converted.ok);
        EXPECT_EQ(converted.value.Kind(), c.kind);
        EXPECT_EQ(converted.value.GetSigned(), c.signedValue);
        EXPECT_EQ(converted.value.GetUnsigned(), c.unsignedValue);
        EXPECT_EQ(converted.value.GetFloat(), c.floatValue);
    }
    // Not wholly a finite number: text.
    for (const char* text :
         {"1e400", "inf", "-infinity", "1_000", "12abc", "1.2.3", "0x", " ", "1 ", "- 1",
          "2024-03-10T08:10:00Z", "12:30", "1,5", "0x1g", "+-1", ".inf", "infx"}) {
        EXPECT_EQ(Convert(text).value.Kind(), BindingKind::String) << text;
    }
    EXPECT_TRUE(std::isnan(Convert("nan").value.GetFloat()));
    EXPECT_TRUE(std::isnan(Convert("-NaN").value.GetFloat()));
    // A quoted scalar is text whatever it looks like.
    EXPECT_EQ(Convert("1", nullptr, true).value.GetString(), "1");
    EXPECT_EQ(Convert("~", nullptr, true).value.GetString(), "~");
    EXPECT_EQ(Convert("yes", nullptr, true).value.Kind(), BindingKind::String);
}

TEST(YamlScalar, IntTag) {
    const char* tag = YamlScalar::kIntTag;
    EXPECT_EQ(Convert("-5", tag).value.GetSigned(), -5);
    EXPECT_EQ(Convert("5", tag).value.GetUnsigned(), 5u);
    EXPECT_EQ(Convert("0x1F", tag).value.GetUnsigned(), 31u);
    EXPECT_EQ(Convert("010", tag).value.GetUnsigned(), 8u);
    EXPECT_EQ(Convert("18446744073709551615", tag).value.GetUnsigned(), UINT64_MAX);
    EXPECT_EQ(Convert("-9223372036854775808", tag).value.GetSigned(), INT64_MIN);
    const Converted empty = Convert("", tag);
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.value.Kind(), BindingKind::Unsigned);
    EXPECT_EQ(Convert("1.5", tag).message,
              "Value 1.5 for 'yaml' of type uint64_t is in an incorrect format");
    EXPECT_EQ(Convert("12abc", tag).message,
              "Value 12abc for 'yaml' of type uint64_t is in an incorrect format");
    EXPECT_EQ(Convert("-1x", tag).message,
              "Value -1x for 'yaml' of type int64_t is in an incorrect format");
    EXPECT_EQ(Convert("  ", tag).message,
              "Value    for 'yaml' of type uint64_t is in an incorrect format");
    EXPECT_EQ(Convert("18446744073709551616", tag).message,
              "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range");
    EXPECT_EQ(Convert("-9223372036854775809", tag).message,
              "Value -9223372036854775809 for 'yaml' of type int64_t is out of range");
    // A minus sign after blanks is still negative: out of range, not a wrapped huge number.
    const Converted blankMinus = Convert(" -5", tag);
    EXPECT_FALSE(blankMinus.ok);
    EXPECT_EQ(blankMinus.message, "Value  -5 for 'yaml' of type uint64_t is out of range");
    EXPECT_TRUE(blankMinus.value.IsEmpty());
}

TEST(YamlScalar, FloatBoolStringAndOtherTags) {
    const char* tag = YamlScalar::kFloatTag;
    EXPECT_EQ(Convert("1.5", tag).value.GetFloat(), 1.5);
    EXPECT_EQ(Convert("3", tag).value.Kind(), BindingKind::Float);
    EXPECT_EQ(Convert("0x1p3", tag).value.GetFloat(), 8.0);
    EXPECT_EQ(Convert("1e-400", tag).value.GetFloat(), 0.0); // underflow is in range
    EXPECT_EQ(Convert("1e400", tag).message,
              "Value 1e400 for 'yaml' of type double is out of range");
    EXPECT_EQ(Convert("-inf", tag).message, "Value -inf for 'yaml' of type double is out of range");
    EXPECT_EQ(Convert("abc", tag).message,
              "Value abc for 'yaml' of type double is in an incorrect format");

    EXPECT_TRUE(Convert("On", YamlScalar::kBoolTag).value.GetBool());
    EXPECT_EQ(Convert("NO", YamlScalar::kBoolTag).value.Kind(), BindingKind::Bool);
    Converted maybe;
    maybe.value.SetSigned(3);
    EXPECT_TRUE(YamlScalar::ConvertScalar(maybe.value, YamlScalar::kBoolTag, "maybe", 5, false,
                                          maybe.message));
    EXPECT_EQ(maybe.value.GetSigned(), 3); // left unchanged

    EXPECT_EQ(Convert("12", YamlScalar::kStringTag).value.GetString(), "12");
    EXPECT_EQ(Convert("", YamlScalar::kStringTag).value.Kind(), BindingKind::String);
    EXPECT_EQ(Convert("x", "tag:yaml.org,2002:foo").message,
              "Unsupported YAML tag 'tag:yaml.org,2002:foo'.");
    EXPECT_EQ(Convert("x", "!").message, "Unsupported YAML tag '!'.");
}

} // namespace
} // namespace Korvel
