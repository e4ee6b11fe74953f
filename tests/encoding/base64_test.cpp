#include "encoding/base64.h"

#include <cstddef>
#include <cstdint>
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

// The 48 bytes whose encoding is the alphabet itself: every character value at every position of
// a group.
const std::vector<std::uint8_t> kAlphabetBytes = {
    0x00, 0x10, 0x83, 0x10, 0x51, 0x87, 0x20, 0x92, 0x8B, 0x30, 0xD3, 0x8F, 0x41, 0x14, 0x93, 0x51,
    0x55, 0x97, 0x61, 0x96, 0x9B, 0x71, 0xD7, 0x9F, 0x82, 0x18, 0xA3, 0x92, 0x59, 0xA7, 0xA2, 0x9A,
    0xAB, 0xB2, 0xDB, 0xAF, 0xC3, 0x1C, 0xB3, 0xD3, 0x5D, 0xB7, 0xE3, 0x9E, 0xBB, 0xF3, 0xDF, 0xBF};
const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

TEST(Base64, EveryCharacterValue) {
    EXPECT_EQ(Base64Encode(kAlphabetBytes), kAlphabet);
    EXPECT_EQ(Base64Decode(kAlphabet), kAlphabetBytes);
    // Each character alone in the last place of a group.
    for (std::size_t value = 0; value < 64; ++value) {
        const std::vector<std::uint8_t> bytes = {0x00, 0x00, static_cast<std::uint8_t>(value)};
        EXPECT_EQ(Base64Encode(bytes), std::string("AAA") + kAlphabet[value]);
        EXPECT_EQ(Base64Decode(std::string("AAA") + kAlphabet[value]), bytes);
    }
}

TEST(Base64, WhereDecodingEnds) {
    // The URL-safe characters, bytes above 0x7F and a zero byte are outside the alphabet.
    EXPECT_EQ(Text(Base64Decode("YW-_")), "a");
    EXPECT_EQ(Text(Base64Decode("YW_J")), "a");
    EXPECT_EQ(Text(Base64Decode("YWJj\xC3YWJj")), "abc");
    EXPECT_EQ(Text(Base64Decode(std::string("YWJj\0YWJj", 9))), "abc");
    EXPECT_EQ(Text(Base64Decode("YWJjYQ\r\n")), "abca");
    // "=" ends it wherever it stands, also inside a group.
    EXPECT_EQ(Text(Base64Decode("YW=Jj")), "a");
    EXPECT_EQ(Text(Base64Decode("Y=")), "");
    EXPECT_EQ(Text(Base64Decode("=YWJj")), "");
    EXPECT_EQ(Text(Base64Decode("YWJj=")), "abc");
    // Lengths that are not a multiple of 4: the partial group's leftover bits are dropped.
    EXPECT_EQ(Text(Base64Decode("YWJjY")), "abc");
    EXPECT_EQ(Text(Base64Decode("YR")), "a");
    EXPECT_EQ(Text(Base64Decode("YWK")), "ab");
    EXPECT_EQ(Base64Decode("//"), (std::vector<std::uint8_t>{0xFF}));
    EXPECT_EQ(Base64Decode("///"), (std::vector<std::uint8_t>{0xFF, 0xFF}));
}

TEST(Base64, LargeInput) {
    std::vector<std::uint8_t> bytes(3 * 1024 * 1024 + 1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
    }
    const std::string text = Base64Encode(bytes);
    ASSERT_EQ(text.size(), 4u * (1024 * 1024 + 1));
    EXPECT_EQ(text.compare(text.size() - 2, 2, "=="), 0);
    EXPECT_EQ(Base64Decode(text), bytes);
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
