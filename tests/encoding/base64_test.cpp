#include "encoding/base64.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace Korvel;

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(Base64, Encode) {
    EXPECT_EQ(Base64Encode("abc", 3), "YWJj");
    EXPECT_EQ(Base64Encode("ab", 2), "YWI=");
    EXPECT_EQ(Base64Encode("a", 1), "YQ==");
    EXPECT_EQ(Base64Encode("", 0), "");
    EXPECT_EQ(Base64Encode("foobar", 6), "Zm9vYmFy");
    const std::vector<std::uint8_t> high = {0xFF, 0xFE, 0xFD, 0xFB};
    EXPECT_EQ(Base64Encode(high), "//79+w==");
}

TEST(Base64, DecodeIsLenient) {
    EXPECT_EQ(Text(Base64Decode("YWJj")), "abc");
    EXPECT_EQ(Text(Base64Decode("YWI=")), "ab");
    EXPECT_EQ(Text(Base64Decode("YWI")), "ab");
    EXPECT_EQ(Text(Base64Decode("YQ")), "a");
    EXPECT_EQ(Text(Base64Decode("Y")), "");
    EXPECT_EQ(Text(Base64Decode("")), "");
    EXPECT_EQ(Text(Base64Decode("YQ==YWJj")), "a");
    EXPECT_EQ(Text(Base64Decode("YW Jj")), "a"); // stops at the blank: "YW" gives one byte
    EXPECT_EQ(Text(Base64Decode("YWJj\nYWJj")), "abc");
    EXPECT_EQ(Base64Decode("//79+w=="), (std::vector<std::uint8_t>{0xFF, 0xFE, 0xFD, 0xFB}));
    std::vector<std::uint8_t> out = {1};
    Base64DecodeAppend("YQ", out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 'a'}));
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
    std::vector<std::uint8_t> bytes;
    for (int length = 0; length < 300; ++length) {
        const std::string text = Base64Encode(bytes);
        EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
        EXPECT_TRUE(IsBase64Text(text));
        EXPECT_EQ(Base64Decode(text), bytes) << length;
        bytes.push_back(static_cast<std::uint8_t>(length * 37 + 11));
    }
}

TEST(Base64, ValidationOfText) {
    EXPECT_TRUE(IsBase64Text(""));
    EXPECT_TRUE(IsBase64Text("AZaz09+/=="));
    EXPECT_FALSE(IsBase64Text("YW Jj"));
    EXPECT_FALSE(IsBase64Text("YW-_"));
    EXPECT_FALSE(IsBase64Text(std::string("YQ\0=", 4)));
    EXPECT_FALSE(IsBase64Text("\xC3\xA9"));
}

} // namespace
