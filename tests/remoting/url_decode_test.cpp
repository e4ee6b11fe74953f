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

TEST(UrlDecode, MalformedEscapesStayLiteral) {
    EXPECT_EQ(UrlDecode("%zz"), "%zz");
    EXPECT_EQ(UrlDecode("%4g"), "%4g");
    EXPECT_EQ(UrlDecode("%g4"), "%g4");
    EXPECT_EQ(UrlDecode("abc%4"), "abc%4");
    EXPECT_EQ(UrlDecode("abc%"), "abc%");
    EXPECT_EQ(UrlDecode("%"), "%");
    // After a literal "%" the following characters are read normally.
    EXPECT_EQ(UrlDecode("%%41"), "%A");
    EXPECT_EQ(UrlDecode("%+20"), "% 20");
    EXPECT_EQ(UrlDecode("100%"), "100%");
}

} // namespace
} // namespace Korvel
