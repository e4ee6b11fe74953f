#ifdef _WIN32

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
    return text == nullptr ? nullptr : _strdup(text);
}

std::size_t HeapBlockSize(void* block) {
    return block == nullptr ? 0 : _msize(block);
}

} // namespace Korvel::Platform

#endif // _WIN32
