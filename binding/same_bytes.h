#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Korvel {

// Whether the `size` bytes at `a` and at `b` are equal. Interned texts are mostly short names and
// values: comparing them a word at a time here costs less than a call to memcmp. Longer texts go
// to memcmp.
inline bool SameBytes(const char* a, const char* b, std::size_t size) noexcept {
    constexpr std::size_t kInlineLimit = 64;
    if (size > kInlineLimit) {
        return std::memcmp(a, b, size) == 0;
    }
    const auto differ8 = [a, b](std::size_t at) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a + at, sizeof x);
        std::memcpy(&y, b + at, sizeof y);
        return x != y;
    };
    if (size >= 8) {
        for (std::size_t at = 0; at + 8 < size; at += 8) {
            if (differ8(at)) {
                return false;
            }
        }
        // The last word may overlap bytes already compared.
        return !differ8(size - 8);
    }
    if (size >= 4) {
        std::uint32_t x[2];
        std::uint32_t y[2];
        std::memcpy(&x[0], a, 4);
        std::memcpy(&y[0], b, 4);
        std::memcpy(&x[1], a + size - 4, 4);
        std::memcpy(&y[1], b + size - 4, 4);
        return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
    }
    for (std::size_t at = 0; at < size; ++at) {
        if (a[at] != b[at]) {
            return false;
        }
    }
    return true;
}

} // namespace Korvel
