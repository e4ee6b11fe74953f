#pragma once

#include <cstddef>
#include <cstdint>

// The library's allocation entries. Every dynamic allocation of the library
// goes through them so that the host can be told how much memory the library
// holds. They are served by a table of hooks; before the first allocation the
// counting hooks are installed, which keep the process-wide statistics below.
namespace Korvel {

void* Allocate(std::size_t size);
void Free(void* block);
void* Reallocate(void* block, std::size_t size);
char* DuplicateText(const char* text);
std::size_t BlockSize(void* block);

// Counters of the accounting, in the order the host reads them. Byte counts
// are usable block sizes as the run-time reports them.
struct MemoryStatistics {
    uint64_t peakBytesInUse;
    uint64_t blocksInUseAtPeak;
    uint64_t bytesAllocated;
    uint64_t blocksAllocated;
    uint64_t bytesFreed;
    uint64_t blocksFreed;
};

using AllocateHook = void* (*)(std::size_t size, void* context);
using FreeHook = void (*)(void* block, void* context);
using ReallocateHook = void* (*)(void* block, std::size_t size, void* context);
using DuplicateTextHook = char* (*)(const char* text, void* context);
using BlockSizeHook = std::size_t (*)(void* block, void* context);

struct AllocationHooks {
    AllocateHook allocate;
    FreeHook free;
    ReallocateHook reallocate;
    DuplicateTextHook duplicateText;
    BlockSizeHook blockSize;
    void* context;
};

// Replaces all six entries. A null entry falls back to the C run-time.
// Replacing the counting hooks ends the accounting. Meant to be called while
// no other thread allocates: a block must be freed by the hooks that
// allocated it. Returns true.
bool SetAllocationHooks(AllocateHook allocate, FreeHook free, ReallocateHook reallocate,
                        DuplicateTextHook duplicateText, BlockSizeHook blockSize, void* context);

// The hooks in effect (the counting hooks until replaced), so that a caller
// can restore them later.
AllocationHooks CurrentAllocationHooks();

// Copies the six counters, each read atomically as one 64-bit value.
void ReadMemoryStatistics(MemoryStatistics* out);

} // namespace Korvel
