#pragma once

// RapidJSON allocator over the library's allocation entries, so that the reader's and writers'
// buffers are counted by the memory accounting like every other allocation.
//
// A refused block throws std::bad_alloc: RapidJSON's stacks take the result of Realloc as their
// new storage without looking at it, so a null would be written through (and the old block lost).

#include <cstddef>
#include <new>

#include "diagnostics/allocation.h"

namespace Korvel {

class JsonAllocator {
public:
    static const bool kNeedFree = true;

    void* Malloc(std::size_t size) {
        if (size == 0) {
            return nullptr;
        }
        return Checked(Allocate(size));
    }
    void* Realloc(void* block, std::size_t /*oldSize*/, std::size_t newSize) {
        if (newSize == 0) {
            Free(block);
            return nullptr;
        }
        // A first block is allocated, not reallocated from null: the accounting counts a
        // reallocation as one block freed and one allocated, and a null freed nothing.
        return Checked(block == nullptr ? Allocate(newSize) : Reallocate(block, newSize));
    }
    static void Free(void* block) { Korvel::Free(block); }

private:
    static void* Checked(void* block) {
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        return block;
    }
};

} // namespace Korvel
