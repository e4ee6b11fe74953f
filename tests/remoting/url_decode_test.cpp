#include <string>

#include <gtest/gtest.h>

#include "remoting/url_decode.h"

namespace Korvel {
namespace {

TEST(UrlDecode, DecodesEscapesAndPlus) {
    EXPECT_EQ(UrlDecode(""), "");
    EXPECT_EQ(UrlDecode("plain/text"), "plain/text");
    EXPECT_EQ(UrlDecode("b%20c"), "b c");
    EXPECT_EQ(UrlDecode("a+b++c"), "a b  c");
    EXPECT_EQ(UrlDecode("%41%6a%6A%2B%25"), "Ajj+%");
    EXPECT_EQ(UrlDecode("%C3%A9t%C3%A9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(UrlDecode("%ff"), "\xFF");
    EXPECT_EQ(UrlDecode("a%00b"), std::string("a\0b", 3));
    // A decoded "+" or "%" is not decoded again.
    EXPECT_EQ(UrlDecode("%2B%2541"), "+%41");
}

TEST(UrlDecode, CutOffEscapeIsDropped) {
    // A "%" with fewer than two characters after it is dropped; what follows it stays.
    EXPECT_EQ(UrlDecode("abc%4"), "abc4");
    EXPECT_EQ(UrlDecode("abc%"), "abc");
    EXPECT_EQ(UrlDecode("%"), "");
    EXPECT_EQ(UrlDecode("100%"), "100");
    EXPECT_EQ(UrlDecode("a%+"), "a ");
    // Two characters after it are enough, even at the very end.
    EXPECT_EQ(UrlDecode("abc%41"), "abcA");
}

TEST(UrlDecode, NonHexadecimalDigitsCountAsSixteen) {
    // Each digit that is not hexadecimal counts as 16 and the byte is the low 8 bits of
    // high * 16 + low; all three characters are consumed either way.
    EXPECT_EQ(UrlDecode("%zz"), "\x10"); // 16 * 16 + 16 = 272
    EXPECT_EQ(UrlDecode("%4g"), "P");    // 4 * 16 + 16 = 80
    EXPECT_EQ(UrlDecode("%g4"), "\x04"); // 16 * 16 + 4 = 260
    // The escape takes the next two characters as they are, "%" and "+" included.
    EXPECT_EQ(UrlDecode("%%41"), "\x04"
                                 "1");
    EXPECT_EQ(UrlDecode("%+20"), "\x02"
                                 "0");
}

} // namespace
} // namespace Korvel
