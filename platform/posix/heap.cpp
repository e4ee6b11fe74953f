#include "platform/heap.h"

#include <cstdlib>
#include <cstring>

#include <malloc.h>

namespace Korvel::Platform {

void* HeapAllocate(std::size_t size) {
    return std::malloc(size);
}

void HeapFree(void* block) {
    std::free(block);
}

void* HeapReallocate(void* block, std::size_t size) {
    return std::realloc(block, size);
}

char* HeapDuplicateText(const char* text) {
    return text == nullptr ? nullptr : strdup(text);
}

std::size_t HeapBlockSize(void* block) {
    return block == nullptr ? 0 : malloc_usable_size(block);
}

} // namespace Korvel::Platform
