#pragma once

// Helpers of the fuzz targets: taking typed pieces from the fuzzer's bytes, and stopping the
// program on a broken invariant so that libFuzzer (or the corpus replay) reports the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace Korvel::Testing {

// Prints the failed check and aborts.
[[noreturn]] inline void FuzzFailure(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
    std::abort();
}

#define KORVEL_FUZZ_CHECK(condition)                                                               \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::Korvel::Testing::FuzzFailure(#condition, __FILE__, __LINE__);                        \
        }                                                                                          \
    } while (false)

// Reads the fuzzer's bytes front to back; past the end every read gives zeros or empty text.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    std::size_t Remaining() const { return size_ - position_; }

    std::uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }

    template <class T>
    T Integer() {
        T value{};
        std::uint8_t bytes[sizeof(T)] = {};
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bytes[i] = Byte();
        }
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    // The text up to the next `separator` byte (dropped) or the end.
    std::string Until(char separator) {
        std::string text;
        while (!Empty()) {
            const char c = static_cast<char>(data_[position_++]);
            if (c == separator) {
                break;
            }
            text.push_back(c);
        }
        return text;
    }

    // At most `length` bytes.
    std::string Take(std::size_t length) {
        const std::size_t n = length < Remaining() ? length : Remaining();
        std::string text(reinterpret_cast<const char*>(data_ + position_), n);
        position_ += n;
        return text;
    }

    std::string Rest() { return Take(Remaining()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

} // namespace Korvel::Testing
