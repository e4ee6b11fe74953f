#include "diagnostics/allocation.h"

#include <atomic>
#include <optional>

#include "platform/heap.h"

namespace Korvel {
namespace {

// Counters of the counting hooks. They are constant-initialised to zero, so
// they are valid before any static constructor runs and the first allocation
// (which may come from a static constructor) needs no set-up step.
struct Counters {
    std::atomic<uint64_t> peakBytesInUse{0};
    std::atomic<uint64_t> blocksInUseAtPeak{0};
    std::atomic<uint64_t> bytesAllocated{0};
    std::atomic<uint64_t> blocksAllocated{0};
    std::atomic<uint64_t> bytesFreed{0};
    std::atomic<uint64_t> blocksFreed{0};
};

constinit Counters counters;

// The difference of two counters read one after the other. Other threads may allocate and
// free between the two reads, so the later one can count blocks the earlier one has not seen;
// such a reading is no figure of what is in use and gives nothing.
std::optional<uint64_t> Difference(const std::atomic<uint64_t>& added,
                                   const std::atomic<uint64_t>& taken) {
    const uint64_t total = added.load(std::memory_order_relaxed);
    const uint64_t gone = taken.load(std::memory_order_relaxed);
    if (gone > total) {
        return std::nullopt;
    }
    return total - gone;
}

void UpdatePeak(Counters& c) {
    const std::optional<uint64_t> inUse = Difference(c.bytesAllocated, c.bytesFreed);
    if (!inUse) {
        return;
    }
    uint64_t peak = c.peakBytesInUse.load(std::memory_order_relaxed);
    while (*inUse > peak) {
        if (c.peakBytesInUse.compare_exchange_weak(peak, *inUse, std::memory_order_relaxed)) {
            const std::optional<uint64_t> blocks = Difference(c.blocksAllocated, c.blocksFreed);
            if (blocks) {
                c.blocksInUseAtPeak.store(*blocks, std::memory_order_relaxed);
            }
            break;
        }
    }
}

void CountAllocated(Counters& c, uint64_t bytes) {
    c.bytesAllocated.fetch_add(bytes, std::memory_order_relaxed);
    c.blocksAllocated.fetch_add(1, std::memory_order_relaxed);
}

void CountFreed(Counters& c, uint64_t bytes) {
    c.bytesFreed.fetch_add(bytes, std::memory_order_relaxed);
    c.blocksFreed.fetch_add(1, std::memory_order_relaxed);
}

void* CountingAllocate(std::size_t size, void* context) {
    auto& c = *static_cast<Counters*>(context);
    void* block = Platform::HeapAllocate(size);
    // A failed allocation still counts as one allocation, of 0 bytes.
    CountAllocated(c, Platform::HeapBlockSize(block));
    UpdatePeak(c);
    return block;
}

void CountingFree(void* block, void* context) {
    if (block == nullptr) {
        return;
    }
    auto& c = *static_cast<Counters*>(context);
    const std::size_t size = Platform::HeapBlockSize(block);
    Platform::HeapFree(block);
    CountFreed(c, size);
}

void* CountingReallocate(void* block, std::size_t size, void* context) {
    auto& c = *static_cast<Counters*>(context);
    if (block != nullptr && size == 0) {
        // Resizing to nothing releases the block; realloc's own behaviour for
        // size 0 differs between run-times.
        CountingFree(block, context);
        return nullptr;
    }
    const std::size_t oldSize = Platform::HeapBlockSize(block);
    void* resized = Platform::HeapReallocate(block, size);
    if (resized == nullptr) {
        // The old block is still alive and still owned by the caller: it is
        // not counted as freed. The attempt counts like a failed allocation.
        CountAllocated(c, 0);
        return nullptr;
    }
    CountFreed(c, oldSize);
    CountAllocated(c, Platform::HeapBlockSize(resized));
    UpdatePeak(c);
    return resized;
}

char* CountingDuplicateText(const char* text, void* context) {
    if (text == nullptr) {
        return nullptr;
    }
    auto& c = *static_cast<Counters*>(context);
    char* copy = Platform::HeapDuplicateText(text);
    CountAllocated(c, Platform::HeapBlockSize(copy));
    UpdatePeak(c);
    return copy;
}

std::size_t CountingBlockSize(void* block, void*) {
    return Platform::HeapBlockSize(block);
}

// The hook table; it starts out holding the counting hooks, which is the same
// as installing them at the first allocation, without a window in which two
// threads could race to install them.
struct HookTable {
    std::atomic<AllocateHook> allocate{&CountingAllocate};
    std::atomic<FreeHook> free{&CountingFree};
    std::atomic<ReallocateHook> reallocate{&CountingReallocate};
    std::atomic<DuplicateTextHook> duplicateText{&CountingDuplicateText};
    std::atomic<BlockSizeHook> blockSize{&CountingBlockSize};
    std::atomic<void*> context{&counters};
};

constinit HookTable hooks;

void* Context() {
    return hooks.context.load(std::memory_order_acquire);
}

} // namespace

void* Allocate(std::size_t size) {
    void* context = Context();
    if (AllocateHook hook = hooks.allocate.load(std::memory_order_relaxed)) {
        return hook(size, context);
    }
    return Platform::HeapAllocate(size);
}

void Free(void* block) {
    void* context = Context();
    if (FreeHook hook = hooks.free.load(std::memory_order_relaxed)) {
        hook(block, context);
        return;
    }
    Platform::HeapFree(block);
}

void* Reallocate(void* block, std::size_t size) {
    void* context = Context();
    if (ReallocateHook hook = hooks.reallocate.load(std::memory_order_relaxed)) {
        return hook(block, size, context);
    }
    if (block != nullptr && size == 0) {
        Free(block);
        return nullptr;
    }
    return Platform::HeapReallocate(block, size);
}

char* DuplicateText(const char* text) {
    void* context = Context();
    if (DuplicateTextHook hook = hooks.duplicateText.load(std::memory_order_relaxed)) {
        return hook(text, context);
    }
    return Platform::HeapDuplicateText(text);
}

std::size_t BlockSize(void* block) {
    void* context = Context();
    if (BlockSizeHook hook = hooks.blockSize.load(std::memory_order_relaxed)) {
        return hook(block, context);
    }
    return Platform::HeapBlockSize(block);
}

bool SetAllocationHooks(AllocateHook allocate, FreeHook free, ReallocateHook reallocate,
                        DuplicateTextHook duplicateText, BlockSizeHook blockSize, void* context) {
    hooks.allocate.store(allocate, std::memory_order_relaxed);
    hooks.free.store(free, std::memory_order_relaxed);
    hooks.reallocate.store(reallocate, std::memory_order_relaxed);
    hooks.duplicateText.store(duplicateText, std::memory_order_relaxed);
    hooks.blockSize.store(blockSize, std::memory_order_relaxed);
    hooks.context.store(context, std::memory_order_release);
    return true;
}

AllocationHooks CurrentAllocationHooks() {
    AllocationHooks current{};
    current.context = Context();
    current.allocate = hooks.allocate.load(std::memory_order_relaxed);
    current.free = hooks.free.load(std::memory_order_relaxed);
    current.reallocate = hooks.reallocate.load(std::memory_order_relaxed);
    current.duplicateText = hooks.duplicateText.load(std::memory_order_relaxed);
    current.blockSize = hooks.blockSize.load(std::memory_order_relaxed);
    return current;
}

void ReadMemoryStatistics(MemoryStatistics* out) {
    if (out == nullptr) {
        return;
    }
    out->peakBytesInUse = counters.peakBytesInUse.load(std::memory_order_relaxed);
    out->blocksInUseAtPeak = counters.blocksInUseAtPeak.load(std::memory_order_relaxed);
    out->bytesAllocated = counters.bytesAllocated.load(std::memory_order_relaxed);
    out->blocksAllocated = counters.blocksAllocated.load(std::memory_order_relaxed);
    out->bytesFreed = counters.bytesFreed.load(std::memory_order_relaxed);
    out->blocksFreed = counters.blocksFreed.load(std::memory_order_relaxed);
}

} // namespace Korvel
