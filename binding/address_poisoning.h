#pragma once

// Marks the memory of the value pools that no value owns (free blocks, pages not yet handed out)
// as unusable for AddressSanitizer, so that a value used after its release is reported like a
// freed heap block. The sanitizer tracks memory in granules of eight bytes and can only mark the
// end of a granule unusable, so poisoning shrinks a range to the whole granules inside it, and
// unpoisoning widens it to the granules it touches: a block never loses bytes its neighbour owns.
// Without the sanitizer these functions do nothing.

#include <cstddef>
#include <cstdint>

#include "platform/address_sanitizer.h"

#if defined(KORVEL_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

namespace Korvel {

inline constexpr bool kPoisoningActive =
#if defined(KORVEL_ADDRESS_SANITIZER)
    true;
#else
    false;
#endif

// The `size` bytes at `at` may no longer be touched.
inline void PoisonBytes(const void* at, std::size_t size) noexcept {
#if defined(KORVEL_ADDRESS_SANITIZER)
    constexpr std::uintptr_t kGranule = 8;
    const auto begin = (reinterpret_cast<std::uintptr_t>(at) + kGranule - 1) & ~(kGranule - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(at) + size) & ~(kGranule - 1);
    if (begin < end) {
        __asan_poison_memory_region(reinterpret_cast<const void*>(begin), end - begin);
    }
#else
    static_cast<void>(at);
    static_cast<void>(size);
#endif
}

// The `size` bytes at `at` may be used again.
inline void UnpoisonBytes(const void* at, std::size_t size) noexcept {
#if defined(KORVEL_ADDRESS_SANITIZER)
    constexpr std::uintptr_t kGranule = 8;
    const auto begin = reinterpret_cast<std::uintptr_t>(at) & ~(kGranule - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(at) + size + kGranule - 1) & ~(kGranule - 1);
    __asan_unpoison_memory_region(reinterpret_cast<const void*>(begin), end - begin);
#else
    static_cast<void>(at);
    static_cast<void>(size);
#endif
}

// Whether the byte at `at` is marked unusable; always false without the sanitizer.
inline bool IsPoisoned(const void* at) noexcept {
#if defined(KORVEL_ADDRESS_SANITIZER)
    return __asan_address_is_poisoned(at) != 0;
#else
    static_cast<void>(at);
    return false;
#endif
}

} // namespace Korvel
