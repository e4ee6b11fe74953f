#pragma once

#include <cstddef>

// The C run-time heap, with the queries the library needs beyond malloc/free.
namespace Korvel::Platform {

void* HeapAllocate(std::size_t size);
void HeapFree(void* block);
void* HeapReallocate(void* block, std::size_t size);

// Copy of a NUL-terminated text in a new heap block (strdup / _strdup).
// Returns null for a null text or when the heap is exhausted.
char* HeapDuplicateText(const char* text);

// Usable size of a heap block as the run-time reports it (malloc_usable_size
// / _msize); 0 for null.
std::size_t HeapBlockSize(void* block);

} // namespace Korvel::Platform
