#include "encoding/base64.h"

#include <array>

namespace Korvel {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPadding = '=';

// Value of each character in the alphabet, -1 for every other byte.
constexpr std::array<signed char, 256> kValues = [] {
    std::array<signed char, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 64; ++i) {
        values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    }
    return values;
}();

} // namespace

std::string Base64Encode(const void* bytes, std::size_t length) {
    std::string text;
    if (length == 0 || bytes == nullptr) {
        return text;
    }
    text.reserve((length + 2) / 3 * 4);
    const auto* in = static_cast<const unsigned char*>(bytes);
    std::size_t at = 0;
    for (; at + 3 <= length; at += 3) {
        const unsigned group = (unsigned{in[at]} << 16) | (unsigned{in[at + 1]} << 8) | in[at + 2];
        text.push_back(kAlphabet[(group >> 18) & 0x3F]);
        text.push_back(kAlphabet[(group >> 12) & 0x3F]);
        text.push_back(kAlphabet[(group >> 6) & 0x3F]);
        text.push_back(kAlphabet[group & 0x3F]);
    }
    const std::size_t rest = length - at;
    if (rest != 0) {
        unsigned group = unsigned{in[at]} << 16;
        if (rest == 2) {
            group |= unsigned{in[at + 1]} << 8;
        }
        text.push_back(kAlphabet[(group >> 18) & 0x3F]);
        text.push_back(kAlphabet[(group >> 12) & 0x3F]);
        text.push_back(rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : kPadding);
        text.push_back(kPadding);
    }
    return text;
}

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    return Base64Encode(bytes.data(), bytes.size());
}

void Base64DecodeAppend(std::string_view text, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + (text.size() + 3) / 4 * 3);
    unsigned group = 0;
    int count = 0;
    for (const char c : text) {
        const int value = kValues[static_cast<unsigned char>(c)];
        if (value < 0) {
            break; // "=" or any character outside the alphabet ends the input
        }
        group = (group << 6) | static_cast<unsigned>(value);
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(group >> 16));
            out.push_back(static_cast<std::uint8_t>(group >> 8));
            out.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            count = 0;
        }
    }
    // A partial group of k characters, completed with zero bits, yields k - 1 bytes.
    if (count >= 2) {
        group <<= 6 * (4 - count);
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (count == 3) {
            out.push_back(static_cast<std::uint8_t>(group >> 8));
        }
    }
}

std::vector<std::uint8_t> Base64Decode(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    Base64DecodeAppend(text, bytes);
    return bytes;
}

bool IsBase64Text(std::string_view text) noexcept {
    for (const char c : text) {
        if (c != kPadding && kValues[static_cast<unsigned char>(c)] < 0) {
            return false;
        }
    }
    return true;
}

} // namespace Korvel
