#pragma once

// RapidJSON allocator over the library's allocation entries, so that the reader's and writers'
// buffers are counted by the memory accounting like every other allocation.

#include <cstddef>

#include "diagnostics/allocation.h"

namespace Korvel {

class JsonAllocator {
public:
    static const bool kNeedFree = true;

    void* Malloc(std::size_t size) { return size != 0 ? Allocate(size) : nullptr; }
    void* Realloc(void* block, std::size_t /*oldSize*/, std::size_t newSize) {
        if (newSize == 0) {
            Free(block);
            return nullptr;
        }
        return Reallocate(block, newSize);
    }
    static void Free(void* block) { Korvel::Free(block); }
};

} // namespace Korvel
