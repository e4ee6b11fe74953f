#include "diagnostics/format_message.h"

#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace Korvel {

// A type that renders through its own text.
struct Version {
    int major;
    int minor;
};

std::string FormatArgumentText(const Version& version) {
    return FormatMessage("%1.%2", version.major, version.minor);
}

namespace {

TEST(FormatMessage, NumberedPlaceholders) {
    EXPECT_EQ(FormatMessage("%1 (%2)", "Not Found", 404), "Not Found (404)");
    EXPECT_EQ(FormatMessage("%2 %1", "a", "b"), "b a");
    EXPECT_EQ(FormatMessage("%1%1-%1", "a"), "aa-a");
    EXPECT_EQ(FormatMessage("%1.%2.%3", 1, 2, 3), "1.2.3");
    EXPECT_EQ(FormatMessage("100%% done", 1), "100% done");
    EXPECT_EQ(FormatMessage("no placeholders"), "no placeholders");
    EXPECT_EQ(FormatMessage("Couldn't assign value to '%1' of type %2 because the input is of an "
                            "invalid type %3.",
                            "<value>", std::string("int32"), std::string_view("string")),
              "Couldn't assign value to '<value>' of type int32 because the input is of an "
              "invalid type string.");
}

TEST(FormatMessage, PositionalPrintfConversions) {
    EXPECT_EQ(FormatMessage("%1$5s|", "ab"), "   ab|");
    EXPECT_EQ(FormatMessage("%1$-5s|", "ab"), "ab   |");
    EXPECT_EQ(FormatMessage("%1$08x", 255), "000000ff");
    EXPECT_EQ(FormatMessage("%1$.3s", "abcdef"), "abc");
    EXPECT_EQ(FormatMessage("%2$+d %1$c", 'z', 7), "+7 z");
    EXPECT_EQ(FormatMessage("%1$.2f", 3.14159), "3.14");
}

TEST(FormatMessage, SequentialConversionsAndCounter) {
    EXPECT_EQ(FormatMessage("%s and %s", "a", "b"), "a and b");
    EXPECT_EQ(FormatMessage("%s %1", "a"), "a a");
    // An explicit index does not move the sequential counter.
    EXPECT_EQ(FormatMessage("%2$s %s", "a", "b"), "b a");
    // A sequential placeholder beyond the last argument ends the message.
    EXPECT_EQ(FormatMessage("%s %s %s", "a", "b"), "a b ");
    EXPECT_EQ(FormatMessage("x%sy%dz", "a"), "xay");
}

TEST(FormatMessage, BareNumberBeyondCountBecomesWidth) {
    EXPECT_EQ(FormatMessage("[%3 x]", "ab"), "[ abx]");
    // The explicit index beyond the count does not stop formatting.
    EXPECT_EQ(FormatMessage("%5d|%s", 42, "t"), "   42|t");
}

TEST(FormatMessage, DefaultConversionPerType) {
    EXPECT_EQ(FormatMessage("%1", int32_t{-5}), "-5");
    EXPECT_EQ(FormatMessage("%1", uint32_t{4000000000u}), "4000000000");
    EXPECT_EQ(FormatMessage("%1", int64_t{LLONG_MIN}), "-9223372036854775808");
    EXPECT_EQ(FormatMessage("%1", uint64_t{ULLONG_MAX}), "18446744073709551615");
    EXPECT_EQ(FormatMessage("%1", 1.5), "1.5");
    EXPECT_EQ(FormatMessage("%1", 'q'), "q");
    EXPECT_EQ(FormatMessage("%1", std::string("text")), "text");
    const char* nullText = nullptr;
    EXPECT_EQ(FormatMessage("[%1]", nullText), "[(null)]");
}

TEST(FormatMessage, OtherArgumentTypesAreNormalised) {
    EXPECT_EQ(FormatMessage("%1 %2 %3", short{-3}, static_cast<unsigned char>(200), true),
              "-3 200 1");
    EXPECT_EQ(FormatMessage("%1 %2", 123456789012LL, std::size_t{77}), "123456789012 77");
    EXPECT_EQ(FormatMessage("%1", 0.25f), "0.25");
    enum class Color { Red = 2 };
    EXPECT_EQ(FormatMessage("%1", Color::Red), "2");
    char buffer[] = "mutable";
    char* pointer = buffer;
    EXPECT_EQ(FormatMessage("%1 %2", buffer, pointer), "mutable mutable");
    EXPECT_EQ(FormatMessage("v%1", Version{18, 2}), "v18.2");
    EXPECT_EQ(FormatMessage("[%1$6s]", Version{1, 0}), "[   1.0]");
}

TEST(FormatMessage, StringViewNeedNotBeTerminated) {
    const std::string_view view = std::string_view("abcdef").substr(1, 3);
    EXPECT_EQ(FormatMessage("<%1>", view), "<bcd>");
    EXPECT_EQ(FormatMessage("<%1$5s>", view), "<  bcd>");
    EXPECT_EQ(FormatMessage("<%1>", std::string_view()), "<>");
}

TEST(FormatMessage, LetterOutsideTheTypesSetBecomesDefault) {
    EXPECT_EQ(FormatMessage("%1$s", 42), "42");
    EXPECT_EQ(FormatMessage("%1$x", "hi"), "hi");
    EXPECT_EQ(FormatMessage("%1$d", 2.5), "2.5");
    EXPECT_EQ(FormatMessage("%1$s", 'A'), "A");
    EXPECT_EQ(FormatMessage("%1$d", 'A'), "65");
    EXPECT_EQ(FormatMessage("%1$p", 10), "10");
    EXPECT_EQ(FormatMessage("%1$x", uint64_t{0x1122334455667788ULL}), "1122334455667788");
    EXPECT_EQ(FormatMessage("%1$X", int64_t{-1}), "FFFFFFFFFFFFFFFF");
}

TEST(FormatMessage, SignedConversionOfAnUnsignedValuePrintsAsPrintfDoes) {
    // "d" and "i" read the value as signed, with or without a width.
    EXPECT_EQ(FormatMessage("%1$d", uint32_t{4000000000u}), "-294967296");
    EXPECT_EQ(FormatMessage("%1$i", uint32_t{4000000000u}), "-294967296");
    EXPECT_EQ(FormatMessage("%1$11d", uint32_t{4000000000u}), " -294967296");
    EXPECT_EQ(FormatMessage("%d", uint64_t{ULLONG_MAX}), "-1");
    EXPECT_EQ(FormatMessage("%1$3d", uint64_t{ULLONG_MAX}), " -1");
    // Their own default conversion prints them unsigned.
    EXPECT_EQ(FormatMessage("%1", uint32_t{4000000000u}), "4000000000");
    EXPECT_EQ(FormatMessage("%u", uint64_t{ULLONG_MAX}), "18446744073709551615");
}

TEST(FormatMessage, LengthModifiersFollowTheArgumentType) {
    // A modifier that does not match the argument's size is replaced, so
    // printf never reads the wrong amount.
    EXPECT_EQ(FormatMessage("%1$ld", 7), "7");
    EXPECT_EQ(FormatMessage("%1$lld", 7), "7");
    EXPECT_EQ(FormatMessage("%1$hd", int64_t{5000000000LL}), "5000000000");
    EXPECT_EQ(FormatMessage("%1$Lf", 1.0), "1.000000");
    EXPECT_EQ(FormatMessage("%1$ls", "wide?"), "wide?");
    // "h" and "hh" narrow 32-bit values as printf does.
    EXPECT_EQ(FormatMessage("%1$hhd", 300), "44");
    EXPECT_EQ(FormatMessage("%1$hx", 0x12345), "2345");
}

TEST(FormatMessage, CharacterConversionOfA64BitIntegerPrintsOneByte) {
    // As for a 32-bit integer, "c" prints the byte of the value's low eight bits, never a wide
    // character.
    EXPECT_EQ(FormatMessage("[%c]", 200), "[\xC8]");
    EXPECT_EQ(FormatMessage("[%c]", int64_t{200}), "[\xC8]");
    EXPECT_EQ(FormatMessage("[%1$c]", uint64_t{233}), "[\xE9]");
    EXPECT_EQ(FormatMessage("[%3c]", uint64_t{0x100000041ULL}), "[  A]");
    EXPECT_EQ(FormatMessage("[%-2lc|%c]", int64_t{-1}, int64_t{66}), "[\xFF |B]");
}

TEST(FormatMessage, PercentNIsNeverPerformed) {
    int32_t value = 5;
    // "n" is in no type's set, so it becomes the default conversion and
    // nothing is stored through the argument.
    EXPECT_EQ(FormatMessage("a%nb", value), "a5b");
    EXPECT_EQ(FormatMessage("a%1$nb", value), "a5b");
    EXPECT_EQ(FormatMessage("a%hhnb", "t"), "atb");
    EXPECT_EQ(value, 5);
}

TEST(FormatMessage, StarWidthAndPrecision) {
    EXPECT_EQ(FormatMessage("[%*d]", 5, 42), "[   42]");
    EXPECT_EQ(FormatMessage("[%-*d]", 4, 7), "[7   ]");
    EXPECT_EQ(FormatMessage("[%.*s]", 2, "abcdef"), "[ab]");
    EXPECT_EQ(FormatMessage("[%*.*s]", 4, 2, "abcdef"), "[  ab]");
    EXPECT_EQ(FormatMessage("[%1$*2$d]", 42, 5), "[   42]");
    EXPECT_EQ(FormatMessage("[%1$.*2$s]", "abcdef", 3), "[abc]");
    // A 64-bit width uses its low 32 bits; a character its code.
    EXPECT_EQ(FormatMessage("[%2$*1$d]", int64_t{0x100000003LL}, 1), "[  1]");
    EXPECT_EQ(FormatMessage("[%2$*1$d]", '\x02', 1), "[ 1]");
    // A star applies to the result text of an OperationResult too.
    EXPECT_EQ(FormatMessage("[%*s]", 9, OperationResult::Success()), "[  Success]");
}

TEST(FormatMessage, UnusablePlaceholdersStopFormatting) {
    // "*" naming a text argument.
    EXPECT_EQ(FormatMessage("a%*sb", "x", "y"), "a");
    // "*" index beyond the count.
    EXPECT_EQ(FormatMessage("a%*9$db", 1), "a");
    // A sequential "*" takes the last argument; the value is then missing.
    EXPECT_EQ(FormatMessage("a%*db", 3), "a");
    // A double cannot serve as a width.
    EXPECT_EQ(FormatMessage("a%1$*2$db", 1, 2.0), "a");
    // The template ends inside a directive.
    EXPECT_EQ(FormatMessage("abc %", 1), "abc ");
    EXPECT_EQ(FormatMessage("x%1$", 1), "x");
    EXPECT_EQ(FormatMessage("x%-5", 1), "x");
}

TEST(FormatMessage, DirectiveLengthCap) {
    // "%", 57 flags and the letter: 59 characters are accepted.
    const std::string accepted = "<%" + std::string(57, '-') + "d>";
    EXPECT_EQ(FormatMessage(accepted.c_str(), 4), "<4>");
    // One more character and formatting stops before the directive.
    const std::string rejected = "<%" + std::string(58, '-') + "d>";
    EXPECT_EQ(FormatMessage(rejected.c_str(), 4), "<");
    const std::string longWidth = "<%" + std::string(70, '1') + "d>";
    EXPECT_EQ(FormatMessage(longWidth.c_str(), 4), "<");
}

TEST(FormatMessage, OutputIsCappedAt4095Characters) {
    const std::string longTemplate(5000, 'x');
    const std::string result = FormatMessage(longTemplate.c_str(), 1);
    EXPECT_EQ(result, std::string(4095, 'x'));

    const std::string longArgument(5000, 'y');
    EXPECT_EQ(FormatMessage("ab%1", longArgument), "ab" + std::string(4093, 'y'));
    EXPECT_EQ(FormatMessage("%1$5000d", 1).size(), 4095u);
    EXPECT_EQ(FormatMessage("%1", std::string_view(longArgument)).size(), 4095u);
}

TEST(FormatMessage, HugeWidthsAndPrecisionsShowWhatFitsWithoutPrintingGigabytes) {
    // Each of these used to make printf produce or allocate about a gigabyte.
    EXPECT_EQ(FormatMessage("%999999999d|", 5), std::string(4095, ' '));
    EXPECT_EQ(FormatMessage("%-999999999d|", 5), "5" + std::string(4094, ' '));
    EXPECT_EQ(FormatMessage("%1$.999999999f", 1.5), "1.5" + std::string(4092, '0'));
    EXPECT_EQ(FormatMessage("%1$.999999999d", 42), std::string(4095, '0'));
    EXPECT_EQ(FormatMessage("%*d", 2000000000, 7), std::string(4095, ' '));
    EXPECT_EQ(FormatMessage("%-*d|", INT_MIN, 7), "7" + std::string(4094, ' '));
    EXPECT_EQ(FormatMessage("%.*s|", 2000000000, "abc"), "abc|");
    // The exact digits of a double survive: 2^-1074 has 1074 digits after the point.
    const std::string tiny = FormatMessage("%1$.999999999f", 4.9406564584124654e-324);
    EXPECT_EQ(tiny.size(), 4095u);
    EXPECT_EQ(tiny.substr(0, 8), "0.000000");
    EXPECT_EQ(tiny.substr(1069, 12), "726562500000");
    // Widths that fit are untouched.
    EXPECT_EQ(FormatMessage("[%5d|%-4s|%.3f]", 42, "ab", 1.0), "[   42|ab  |1.000]");
}

TEST(FormatMessage, CoreRoutineTruncatesToItsBuffer) {
    const char* text = "abcdefghij";
    const FormatArgument arguments[] = {{&text, &FormatTypes::kCText}};
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(FormatMessageInto(buffer, sizeof buffer, "%1 and more", arguments, 1), 7u);
    EXPECT_STREQ(buffer, "abcdefg");

    EXPECT_EQ(FormatMessageInto(buffer, sizeof buffer, "12345%1", arguments, 1), 7u);
    EXPECT_STREQ(buffer, "12345ab");

    EXPECT_EQ(FormatMessageInto(buffer, 1, "abc", arguments, 1), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(FormatMessageInto(buffer, sizeof buffer, nullptr, arguments, 1), 0u);
    EXPECT_EQ(FormatMessageInto(nullptr, 0, "abc", arguments, 1), 0u);
}

TEST(OperationResult, RendersSuccessOrMessageAndCode) {
    EXPECT_EQ(FormatMessage("%1", OperationResult::Success()), "Success");
    const OperationResult bad = OperationResult::Failure(400, "Bad Request");
    EXPECT_EQ(FormatMessage("%1", bad), "Bad Request (400)");
    EXPECT_EQ(bad.ToString(), "Bad Request (400)");
    EXPECT_EQ(FormatMessage("Request not sent: Error converting parameters for %1 %2: %3", "GET",
                            "/x", bad),
              "Request not sent: Error converting parameters for GET /x: Bad Request (400)");

    const OperationResult staticText = OperationResult::FailureWithStaticText(-3, "Gone");
    EXPECT_FALSE(staticText.message.IsOwned());
    EXPECT_EQ(FormatMessage("%1", staticText), "Gone (-3)");

    const OperationResult absent = OperationResult::FailureWithStaticText(500, nullptr);
    EXPECT_FALSE(absent.message.IsPresent());
    EXPECT_EQ(FormatMessage("[%1]", absent), "[]");
    EXPECT_EQ(absent.ToString(), "");
    // A width or precision in the template applies to the rendered text.
    EXPECT_EQ(FormatMessage("[%1$.3s]", bad), "[Bad]");
    // A percent sign inside the message is printed as it is.
    EXPECT_EQ(FormatMessage("%1", OperationResult::Failure(1, "100%d")), "100%d (1)");
}

} // namespace
} // namespace Korvel
