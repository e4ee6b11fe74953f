#include "encoding/json_reader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

using namespace Korvel;

std::string ErrorOf(std::string_view text) {
    const BindingResult result = ReadJson(text);
    EXPECT_FALSE(result.IsSuccess()) << text;
    // A failure is the structure {"error": message} and nothing else.
    EXPECT_EQ(result.value.Kind(), BindingKind::Structure);
    EXPECT_EQ(result.value.Size(), 1u);
    return result.GetError();
}

BindingProperty ValueOf(std::string_view text) {
    BindingResult result = ReadJson(text);
    EXPECT_TRUE(result.IsSuccess()) << text << ": " << result.GetError();
    return std::move(result.value);
}

TEST(JsonReader, EmptyDocumentsReadAsEmptyValues) {
    for (const char* text : {"", "   ", " \t\r\n ", "null", " null "}) {
        const BindingResult result = ReadJson(text);
        EXPECT_TRUE(result.IsSuccess()) << '"' << text << '"';
        EXPECT_TRUE(result.value.IsEmpty()) << '"' << text << '"';
    }
    EXPECT_TRUE(ReadJson(static_cast<const char*>(nullptr)).IsSuccess());
}

TEST(JsonReader, ScalarKinds) {
    const BindingProperty list =
        ValueOf("[1, -1, 1.5, 18446744073709551615, -9223372036854775808, true, false, \"s\"]");
    ASSERT_EQ(list.Kind(), BindingKind::Collection);
    ASSERT_EQ(list.Size(), 8u);
    EXPECT_EQ(list.Element(0).Kind(), BindingKind::Unsigned);
    EXPECT_EQ(list.Element(0).GetUnsigned(), 1u);
    EXPECT_EQ(list.Element(1).Kind(), BindingKind::Signed);
    EXPECT_EQ(list.Element(1).GetSigned(), -1);
    EXPECT_EQ(list.Element(2).Kind(), BindingKind::Float);
    EXPECT_EQ(list.Element(2).GetFloat(), 1.5);
    EXPECT_EQ(list.Element(3).GetUnsigned(), UINT64_MAX);
    EXPECT_EQ(list.Element(4).Kind(), BindingKind::Signed);
    EXPECT_EQ(list.Element(4).GetSigned(), INT64_MIN);
    EXPECT_EQ(list.Element(5).Kind(), BindingKind::Bool);
    EXPECT_TRUE(list.Element(5).GetBool());
    EXPECT_FALSE(list.Element(6).GetBool(true));
    EXPECT_EQ(list.Element(7).GetString(), "s");

    // Integer events by size: 32-bit and 64-bit, with and without a sign.
    const BindingProperty sizes = ValueOf("[4294967295, 4294967296, -2147483648, -2147483649, -0]");
    EXPECT_EQ(sizes.Element(0).GetUnsigned(), 4294967295u);
    EXPECT_EQ(sizes.Element(1).GetUnsigned(), 4294967296u);
    EXPECT_EQ(sizes.Element(2).GetSigned(), -2147483648);
    EXPECT_EQ(sizes.Element(3).GetSigned(), -2147483649);
    EXPECT_EQ(sizes.Element(4).Kind(), BindingKind::Signed); // "-0" is signed 0
    EXPECT_EQ(sizes.Element(4).GetSigned(7), 0);

    // Beyond 64 bits an integer becomes a double; 1.0 and 1e2 are doubles too.
    const BindingProperty big =
        ValueOf("[18446744073709551616, -9223372036854775809, 1.0, 1e2, 123456789012345678901234]");
    for (std::size_t i = 0; i < big.Size(); ++i) {
        EXPECT_EQ(big.Element(i).Kind(), BindingKind::Float) << i;
    }
    EXPECT_EQ(big.Element(0).GetFloat(), 18446744073709551616.0);
    EXPECT_EQ(big.Element(1).GetFloat(), -9223372036854775809.0);
    EXPECT_EQ(big.Element(3).GetFloat(), 100.0);
}

TEST(JsonReader, Strings) {
    EXPECT_EQ(ValueOf(R"("a\"b\\c\/d\b\f\n\r\t")").GetString(), "a\"b\\c/d\b\f\n\r\t");
    EXPECT_EQ(ValueOf(R"("\u00e9\u20ac\ud83d\ude00")").GetString(),
              "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    // An escaped code point zero ends the string.
    EXPECT_EQ(ValueOf(R"("ab\u0000cd")").GetString(), "ab");
    EXPECT_EQ(ValueOf(R"({"k\u0000ey":1})").Member("k").GetUnsigned(), 1u);
    // Behind an escaped backslash or quote the zero escape still counts; an escaped backslash
    // followed by "u0000" is no escape at all.
    EXPECT_EQ(ValueOf(R"(["\\\u0000x"])").Element(0).GetString(), "\\");
    EXPECT_EQ(ValueOf(R"(["\"\u0000x"])").Element(0).GetString(), "\"");
    EXPECT_EQ(ValueOf(R"(["\\u0000"])").Element(0).GetString(), "\\u0000");
    // A zero escape far into the document ends its own text and no other.
    const BindingProperty late =
        ValueOf(R"({"a":"plain","b":"x\\y","c":"\\\\","d":"long text before\u0000after"})");
    EXPECT_EQ(late.Member("a").GetString(), "plain");
    EXPECT_EQ(late.Member("b").GetString(), "x\\y");
    EXPECT_EQ(late.Member("c").GetString(), "\\\\");
    EXPECT_EQ(late.Member("d").GetString(), "long text before");
    // Bytes that are not UTF-8 are kept as they are.
    EXPECT_EQ(ValueOf("\"\xFF\xC3(\"").GetString(), "\xFF\xC3(");
    EXPECT_EQ(ValueOf("\"\"").Kind(), BindingKind::String);
    EXPECT_EQ(ValueOf("\"\"").Size(), 0u);
}

TEST(JsonReader, RepeatedKeysMerge) {
    const BindingProperty lists = ValueOf(R"({"a":[1],"a":[2]})");
    ASSERT_EQ(lists.Member("a").Size(), 2u);
    EXPECT_EQ(lists.Member("a").Element(0).GetUnsigned(), 1u);
    EXPECT_EQ(lists.Member("a").Element(1).GetUnsigned(), 2u);

    const BindingProperty objects = ValueOf(R"({"a":{"x":1},"a":{"y":2}})");
    EXPECT_EQ(objects.Member("a").Size(), 2u);
    EXPECT_EQ(objects.Member("a").Member("x").GetUnsigned(), 1u);
    EXPECT_EQ(objects.Member("a").Member("y").GetUnsigned(), 2u);

    EXPECT_EQ(ValueOf(R"({"a":1,"a":null})").Member("a").GetUnsigned(), 1u);
    EXPECT_EQ(ValueOf(R"({"a":1,"a":"x"})").Member("a").GetString(), "x");
    EXPECT_EQ(ValueOf(R"({"a":[1],"a":{"b":1}})").Member("a").Kind(), BindingKind::Structure);
    EXPECT_EQ(ValueOf(R"({"a":{"b":1},"a":3})").Member("a").GetUnsigned(), 3u);

    // null as an element or a new member stays "empty".
    const BindingProperty nulls = ValueOf(R"({"m":null,"l":[null,1]})");
    EXPECT_TRUE(nulls.HasMember("m"));
    EXPECT_TRUE(nulls.Member("m").IsEmpty());
    ASSERT_EQ(nulls.Member("l").Size(), 2u);
    EXPECT_TRUE(nulls.Member("l").Element(0).IsEmpty());

    // Members come out in byte order of their names.
    const BindingProperty ordered = ValueOf(R"({"b":1,"a":2,"B":3})");
    std::string names;
    for (const auto member : ordered.Members()) {
        names.append(member.name);
    }
    EXPECT_EQ(names, "Bab");
}

TEST(JsonReader, SyntaxErrorsGiveTextAndOffset) {
    EXPECT_EQ(ErrorOf("{\"a\":1} x"),
              "Error: The document root must not follow by other values. at offset 8.");
    EXPECT_EQ(ErrorOf("[1,]"), "Error: Invalid value. at offset 3.");
    EXPECT_EQ(ErrorOf("nul"), "Error: Invalid value. at offset 3.");
    EXPECT_EQ(ErrorOf("{1:2}"), "Error: Missing a name for object member. at offset 1.");
    EXPECT_EQ(ErrorOf("{\"a\" 1}"),
              "Error: Missing a colon after a name of object member. at offset 5.");
    EXPECT_EQ(ErrorOf("{\"a\":1 \"b\":2}"),
              "Error: Missing a comma or '}' after an object member. at offset 7.");
    EXPECT_EQ(ErrorOf("[1 2]"),
              "Error: Missing a comma or ']' after an array element. at offset 3.");
    EXPECT_EQ(ErrorOf(R"(["\uZZZZ"])"),
              "Error: Incorrect hex digit after \\u escape in string. at offset 2.");
    EXPECT_EQ(ErrorOf(R"("\uD800x")"),
              "Error: The surrogate pair in string is invalid. at offset 1.");
    EXPECT_EQ(ErrorOf(R"("\x")"), "Error: Invalid escape character in string. at offset 1.");
    EXPECT_EQ(ErrorOf("\"abc"), "Error: Missing a closing quotation mark in string. at offset 4.");
    EXPECT_EQ(ErrorOf("1e400"), "Error: Number too big to be stored in double. at offset 0.");
    EXPECT_EQ(ErrorOf("[1.]"), "Error: Miss fraction part in number. at offset 3.");
    EXPECT_EQ(ErrorOf("1e+"), "Error: Miss exponent in number. at offset 3.");
    // Extensions the default flags leave off.
    EXPECT_EQ(ErrorOf("[1,2,]"), "Error: Invalid value. at offset 5.");
    EXPECT_EQ(ErrorOf("NaN"), "Error: Invalid value. at offset 0.");
    EXPECT_EQ(ErrorOf("// c\n1"), "Error: Invalid value. at offset 0.");
    EXPECT_EQ(ErrorOf("1 2"),
              "Error: The document root must not follow by other values. at offset 2.");
}

TEST(JsonReader, NumbersReadAsTheNearestDoubleAndOverflowIsRefused) {
    // Texts the writer produces for doubles read back to the very same double.
    for (const double value :
         {2.0555555555555557e+49, 0.1, 1.7976931348623157e308, 4.9406564584124654e-324,
          9.9998886718268301e-321, -1.5e-7, 18446744073709551616.0, 2.2250738585072014e-308}) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", value);
        const BindingProperty read = ValueOf(text);
        EXPECT_EQ(read.Kind(), BindingKind::Float) << text;
        EXPECT_EQ(read.GetFloat(), value) << text;
    }
    // Beyond the largest double: refused where the number starts, never infinity. The offset is
    // the same whether the text is read up to its zero byte or with its length.
    const auto tooBig = [](const char* text, unsigned offset) {
        const std::string message = "Error: Number too big to be stored in double. at offset " +
                                    std::to_string(offset) + ".";
        EXPECT_EQ(ErrorOf(text), message);
        const BindingResult terminated = ReadJson(text);
        EXPECT_FALSE(terminated.IsSuccess()) << text;
        EXPECT_EQ(terminated.GetError(), message);
    };
    tooBig("2e308", 0);
    tooBig("  2e308", 2);
    tooBig("[1, -770395511161e308]", 4);
    tooBig("{\"a\": 1.797693134862316e308}", 6);
    tooBig("184467440737095516150000000000000000e300", 0);
    tooBig("[\"x\", 123456789012345678901234567890e300]", 6);
    // Below the smallest one: zero of the number's sign.
    const BindingProperty tiny = ValueOf("[1e-400, -0.000001e-330, 0.0e-999]");
    EXPECT_EQ(tiny.Element(0).GetFloat(), 0.0);
    EXPECT_FALSE(std::signbit(tiny.Element(0).GetFloat()));
    EXPECT_TRUE(std::signbit(tiny.Element(1).GetFloat()));
    EXPECT_EQ(tiny.Element(2).GetFloat(), 0.0);
}

TEST(JsonReader, ErrorTextTable) {
    const char* expected[] = {"No error.",
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
                              "Unspecific syntax error."};
    for (std::uint32_t code = 0; code < 18; ++code) {
        EXPECT_STREQ(JsonParseErrorText(code), expected[code]) << code;
    }
    EXPECT_STREQ(JsonParseErrorText(18), "Unknown error.");
    EXPECT_STREQ(JsonParseErrorText(0xFFFFFFFFu), "Unknown error.");
}

TEST(JsonReader, TextWithLengthEndsAtFirstZeroByte) {
    const std::string_view withZero("[1]\0garbage", 11);
    EXPECT_EQ(ValueOf(withZero).Size(), 1u);
    // Not NUL-terminated: only the viewed bytes are read.
    const char buffer[] = {'[', '1', ',', '2', ']', 'x'};
    EXPECT_EQ(ValueOf(std::string_view(buffer, 5)).Size(), 2u);
    EXPECT_EQ(ErrorOf(std::string_view(buffer, 4)),
              "Error: Missing a comma or ']' after an array element. at offset 4.");
    EXPECT_TRUE(ReadJson(std::string_view()).IsSuccess());
    EXPECT_EQ(ValueOf(std::string("{\"a\":true}")).Member("a").GetBool(), true);
    const BindingResult fromString = ReadJson(std::string("[1]\0garbage", 11));
    ASSERT_TRUE(fromString.IsSuccess());
    EXPECT_EQ(fromString.value.Size(), 1u);
}

std::string Nested(std::size_t depth, char open, char close, const char* inner = "") {
    std::string text(depth, open);
    text += inner;
    text.append(depth, close);
    return text;
}

TEST(JsonReader, NestingIsLimited) {
    // 512 levels read.
    BindingProperty deep = ValueOf(Nested(512, '[', ']'));
    std::size_t levels = 0;
    for (const BindingProperty* at = &deep; at->Kind() == BindingKind::Collection;
         at = &at->Element(0)) {
        ++levels;
        if (at->Size() == 0) {
            break;
        }
    }
    EXPECT_EQ(levels, 512u);

    std::string objects;
    for (int i = 0; i < 512; ++i) {
        objects += "{\"a\":";
    }
    objects += "1";
    objects.append(512, '}');
    EXPECT_TRUE(ReadJson(objects).IsSuccess());

    // One more fails at the bracket that opens level 513.
    EXPECT_EQ(ErrorOf(Nested(513, '[', ']')),
              "Error: The document is nested deeper than 512 levels at offset 513.");
    EXPECT_EQ(ErrorOf("{\"a\":" + Nested(512, '[', ']') + "}"),
              "Error: The document is nested deeper than 512 levels at offset 517.");
    // A million brackets end in the same error instead of exhausting the stack.
    EXPECT_EQ(ErrorOf(std::string(1000000, '[')),
              "Error: The document is nested deeper than 512 levels at offset 513.");
    std::string mixed;
    for (int i = 0; i < 500000; ++i) {
        mixed += "{\"k\":[";
    }
    EXPECT_EQ(ErrorOf(mixed), "Error: The document is nested deeper than 512 levels at offset "
                              "1537.");
}

} // namespace

namespace {

using namespace Korvel;

TEST(JsonReader, OnlyTheFourJsonBlanksSurroundTheRoot) {
    // No byte-order mark, form feed or vertical tab: the reader sees an invalid value.
    EXPECT_EQ(ErrorOf("\xEF\xBB\xBF[1]"), "Error: Invalid value. at offset 0.");
    EXPECT_EQ(ErrorOf("\f1"), "Error: Invalid value. at offset 0.");
    EXPECT_EQ(ErrorOf("\v1"), "Error: Invalid value. at offset 0.");
    EXPECT_EQ(ValueOf("\r\n\t [1] \t\r\n").Size(), 1u);
    // A document cut short ends in the error of what was expected next.
    EXPECT_EQ(ErrorOf("{"), "Error: Missing a name for object member. at offset 1.");
    EXPECT_EQ(ErrorOf("{\"a\":"), "Error: Invalid value. at offset 5.");
    EXPECT_EQ(ErrorOf("{\"a\"}"),
              "Error: Missing a colon after a name of object member. at offset 4.");
    EXPECT_EQ(ErrorOf("[1,"), "Error: Invalid value. at offset 3.");
    EXPECT_EQ(ErrorOf("tru"), "Error: Invalid value. at offset 3.");
    EXPECT_EQ(ErrorOf("truex"),
              "Error: The document root must not follow by other values. at offset 4.");
    EXPECT_EQ(ErrorOf("[true false]"),
              "Error: Missing a comma or ']' after an array element. at offset 6.");
    // A zero byte inside a string held with a length ends the document there.
    EXPECT_EQ(ErrorOf(std::string_view("[\"ab\0cd\"]", 9)),
              "Error: Missing a closing quotation mark in string. at offset 4.");
}

TEST(JsonReader, NumberGrammarAndForms) {
    EXPECT_EQ(ErrorOf("-"), "Error: Invalid value. at offset 1.");
    EXPECT_EQ(ErrorOf("+1"), "Error: Invalid value. at offset 0.");
    EXPECT_EQ(ErrorOf(".5"), "Error: Invalid value. at offset 0.");
    EXPECT_EQ(ErrorOf("[01]"),
              "Error: Missing a comma or ']' after an array element. at offset 2.");
    EXPECT_EQ(ErrorOf("1.5e"), "Error: Miss exponent in number. at offset 4.");

    const BindingProperty forms = ValueOf("[-0.0, 0e0, 1E2, 1e+2, -1e-2, 9223372036854775808]");
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(forms.Element(i).Kind(), BindingKind::Float) << i;
    }
    EXPECT_TRUE(std::signbit(forms.Element(0).GetFloat()));
    EXPECT_EQ(forms.Element(1).GetFloat(), 0.0);
    EXPECT_EQ(forms.Element(2).GetFloat(), 100.0);
    EXPECT_EQ(forms.Element(3).GetFloat(), 100.0);
    EXPECT_EQ(forms.Element(4).GetFloat(), -0.01);
    EXPECT_EQ(forms.Element(5).Kind(), BindingKind::Unsigned);
    EXPECT_EQ(forms.Element(5).GetUnsigned(), 9223372036854775808u);

    // Exponents and fractions of any length are read to the nearest double.
    EXPECT_EQ(ValueOf("1e-99999999999999999999").GetFloat(), 0.0);
    EXPECT_EQ(ValueOf("1e0000000000000000000001").GetFloat(), 10.0);
    EXPECT_EQ(ValueOf("1." + std::string(100000, '9')).GetFloat(), 2.0);
    EXPECT_EQ(ValueOf("0." + std::string(100000, '0') + "15e100300").GetFloat(), 1.5e299);
    EXPECT_EQ(ValueOf("3e-324").GetFloat(), 4.9406564584124654e-324);
    EXPECT_EQ(ValueOf("1.7976931348623158e308").GetFloat(), 1.7976931348623157e308);
    EXPECT_EQ(ErrorOf("1.7976931348623159e308"),
              "Error: Number too big to be stored in double. at offset 0.");
}

TEST(JsonReader, EscapesAndSurrogates) {
    EXPECT_EQ(ValueOf(R"("\u0041\u00E9\u00e9")").GetString(), "A\xC3\xA9\xC3\xA9");
    EXPECT_EQ(ValueOf(R"("\uDBFF\uDFFF")").GetString(), "\xF4\x8F\xBF\xBF");
    // A low surrogate alone is encoded as it stands, like other bytes that are not UTF-8.
    EXPECT_EQ(ValueOf(R"("\uDC00")").GetString(), "\xED\xB0\x80");
    // A high surrogate must be followed by the escape of a low one.
    EXPECT_EQ(ErrorOf(R"(["\uD800\u0041"])"),
              "Error: The surrogate pair in string is invalid. at offset 2.");
    EXPECT_EQ(ErrorOf(R"("\uD800")"),
              "Error: The surrogate pair in string is invalid. at offset 1.");
    EXPECT_EQ(ErrorOf(R"("\u00")"),
              "Error: Incorrect hex digit after \\u escape in string. at offset 1.");
    EXPECT_EQ(ErrorOf(R"("\U0041")"), "Error: Invalid escape character in string. at offset 1.");
    // Control characters must be escaped; DEL need not be.
    EXPECT_EQ(ErrorOf("\"a\tb\""), "Error: Invalid escape character in string. at offset 2.");
    EXPECT_EQ(ErrorOf("{\"k\x1f\":1}"), "Error: Invalid escape character in string. at offset 3.");
    EXPECT_EQ(ValueOf("\"\x7f\"").GetString(), "\x7f");
    // Escaped names are decoded like values.
    EXPECT_EQ(ValueOf(R"({"a\u0062":1})").Member("ab").GetUnsigned(), 1u);
}

TEST(JsonReader, RepeatedKeysMergeAtEveryLevel) {
    const BindingProperty merged =
        ValueOf(R"({"a":{"b":[1],"c":"x"},"a":{"b":[2,[3]],"c":null,"d":{}},"a":{"b":[]}})");
    const BindingProperty& a = merged.Member("a");
    EXPECT_EQ(a.Size(), 3u);
    ASSERT_EQ(a.Member("b").Size(), 3u);
    EXPECT_EQ(a.Member("b").Element(1).GetUnsigned(), 2u);
    EXPECT_EQ(a.Member("b").Element(2).Element(0).GetUnsigned(), 3u);
    EXPECT_EQ(a.Member("c").GetString(), "x");
    EXPECT_EQ(a.Member("d").Kind(), BindingKind::Structure);
    // Names that differ only behind an escaped zero are the same name.
    EXPECT_EQ(ValueOf(R"({"a\u0000x":1,"a":2})").Member("a").GetUnsigned(), 2u);
}

TEST(JsonReader, LargeDocumentsReadInTimeAndWholly) {
    // Many members, arriving against their order.
    std::string members = "{";
    for (int i = 200000; i > 0; --i) {
        members += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    }
    members += "\"\":0}";
    const BindingProperty read = ValueOf(members);
    ASSERT_EQ(read.Size(), 200001u);
    EXPECT_EQ(read.Member("m1").GetUnsigned(), 1u);
    EXPECT_EQ(read.Member("m200000").GetUnsigned(), 200000u);
    for (const auto member : read.Members()) {
        EXPECT_EQ(member.name, ""); // the first in byte order
        break;
    }

    // Long texts, plain and escaped, and one key repeated many times.
    const std::string plain(20000000, 'p');
    EXPECT_EQ(ValueOf("\"" + plain + "\"").GetString(), plain);
    std::string escaped = "\"";
    for (int i = 0; i < 1000000; ++i) {
        escaped += "\\u00e9";
    }
    EXPECT_EQ(ValueOf(escaped + "\"").GetString().size(), 2000000u);
    std::string repeated = "{";
    for (int i = 0; i < 100000; ++i) {
        repeated += "\"a\":[" + std::to_string(i) + "],";
    }
    repeated += "\"b\":0}";
    const BindingProperty appended = ValueOf(repeated);
    ASSERT_EQ(appended.Member("a").Size(), 100000u);
    EXPECT_EQ(appended.Member("a").Element(99999).GetUnsigned(), 99999u);
}

} // namespace
