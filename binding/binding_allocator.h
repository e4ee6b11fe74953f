#pragma once

// Standard-library allocator over the library's allocation entries, so that containers of the
// binding system are counted by the memory accounting like every other allocation.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "diagnostics/allocation.h"

namespace Korvel {

template <typename T>
struct BindingAllocator {
    using value_type = T;

    BindingAllocator() noexcept = default;
    template <typename U>
    BindingAllocator(const BindingAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        void* block = Allocate(count * sizeof(T));
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(block);
    }

    void deallocate(T* block, std::size_t) noexcept { Free(block); }

    template <typename U>
    bool operator==(const BindingAllocator<U>&) const noexcept {
        return true;
    }
};

// The byte vector of a "blob" value.
using BindingBytes = std::vector<std::uint8_t, BindingAllocator<std::uint8_t>>;

} // namespace Korvel
