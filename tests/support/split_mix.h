#pragma once

// splitmix64: a small pseudo-random generator whose sequence for a seed is the same on every
// platform, word size and standard library, so that seeded tests check the same cases on each
// build.

#include <cstdint>

namespace Korvel::Testing {

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state_;
};

} // namespace Korvel::Testing
