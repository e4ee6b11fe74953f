// The shared library's global allocation operators. They serve every C++
// allocation made inside the library (its own objects, strings and
// containers) through the counted allocation entries. The C++ run-time is
// linked into the library and hidden, so these operators replace nothing in
// the process that loads it.

#include <cstddef>
#include <cstdint>
#include <new>

#include "diagnostics/allocation.h"

namespace {

void* AllocateOrThrow(std::size_t size) {
    if (size == 0) {
        size = 1;
    }
    for (;;) {
        if (void* block = Korvel::Allocate(size)) {
            return block;
        }
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            throw std::bad_alloc();
        }
        handler();
    }
}

void* AllocateOrNull(std::size_t size) noexcept {
    try {
        return AllocateOrThrow(size);
    } catch (...) {
        return nullptr;
    }
}

// Over-aligned blocks: a counted block with room to move the start up to the
// alignment; the address of the counted block is kept just before the
// aligned start.
void* AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    if (size > SIZE_MAX - align - sizeof(void*)) {
        throw std::bad_alloc();
    }
    void* base = AllocateOrThrow(size + align + sizeof(void*));
    const auto start = reinterpret_cast<std::uintptr_t>(base) + sizeof(void*);
    const std::uintptr_t aligned = (start + align - 1) & ~static_cast<std::uintptr_t>(align - 1);
    reinterpret_cast<void**>(aligned)[-1] = base;
    return reinterpret_cast<void*>(aligned);
}

void* AllocateAlignedOrNull(std::size_t size, std::align_val_t alignment) noexcept {
    try {
        return AllocateAlignedOrThrow(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

void FreeAligned(void* block) noexcept {
    if (block != nullptr) {
        Korvel::Free(static_cast<void**>(block)[-1]);
    }
}

} // namespace

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}

void operator delete(void* block) noexcept {
    Korvel::Free(block);
}
void operator delete[](void* block) noexcept {
    Korvel::Free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    Korvel::Free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    Korvel::Free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    Korvel::Free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    Korvel::Free(block);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
    return AllocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return AllocateAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAlignedOrNull(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAlignedOrNull(size, alignment);
}

void operator delete(void* block, std::align_val_t) noexcept {
    FreeAligned(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    FreeAligned(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    FreeAligned(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    FreeAligned(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    FreeAligned(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    FreeAligned(block);
}
