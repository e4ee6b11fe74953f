#pragma once

// The part of a text before its first zero byte: strings of a value tree end there, whatever
// length the caller gives.

#include <cstdint>
#include <cstring>
#include <string_view>

namespace Korvel {

// A text whose producer has made sure that it holds no zero byte, so that the value it goes into
// need not look for one. Decoders that can tell this of a whole document cheaply pass their texts
// this way.
struct ZeroFreeText {
    std::string_view text;
};

inline std::string_view TextUpToZero(std::string_view text) noexcept {
    const char* const data = text.data();
    const std::size_t size = text.size();
    // Most texts are names and short values: a call to memchr costs more than looking at them
    // eight bytes at a time here. Long texts go to memchr, which reads wider words.
    constexpr std::size_t kInlineLimit = 128;
    if (size > kInlineLimit) {
        const void* zero = std::memchr(data, 0, size);
        return zero == nullptr
                   ? text
                   : text.substr(0,
                                 static_cast<std::size_t>(static_cast<const char*>(zero) - data));
    }
    // Whether one of the bytes of the word is zero.
    const auto hasZero8 = [data](std::size_t at) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
    };
    const auto hasZero4 = [data](std::size_t at) {
        std::uint32_t word;
        std::memcpy(&word, data + at, sizeof word);
        return ((word - 0x01010101u) & ~word & 0x80808080u) != 0;
    };
    std::size_t at = 0;
    if (size >= 8) {
        while (at + 8 <= size && !hasZero8(at)) {
            at += 8;
        }
        // The last eight bytes overlap the words already seen, which hold no zero.
        if (at + 8 > size && (at == size || !hasZero8(size - 8))) {
            return text;
        }
    } else if (size >= 4 && !hasZero4(0) && !hasZero4(size - 4)) {
        return text;
    }
    // A zero lies at or after `at`: find the first.
    for (; at < size; ++at) {
        if (data[at] == '\0') {
            return text.substr(0, at);
        }
    }
    return text;
}

} // namespace Korvel
