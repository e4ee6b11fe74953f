#include "diagnostics/allocation.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <vector>

#include <gtest/gtest.h>

#include "platform/address_sanitizer.h"
#include "platform/heap.h"

namespace Korvel {
namespace {

MemoryStatistics Read() {
    MemoryStatistics statistics{};
    ReadMemoryStatistics(&statistics);
    return statistics;
}

uint64_t InUse(const MemoryStatistics& s) {
    return s.bytesAllocated - s.bytesFreed;
}

TEST(MemoryAccounting, AllocateAndFreeCountUsableSizes) {
    const MemoryStatistics before = Read();
    void* block = Allocate(10);
    ASSERT_NE(block, nullptr);
    const std::size_t size = BlockSize(block);
    EXPECT_GE(size, 10u);
    EXPECT_EQ(size, Platform::HeapBlockSize(block));
    const MemoryStatistics afterAllocate = Read();
    EXPECT_EQ(afterAllocate.bytesAllocated - before.bytesAllocated, size);
    EXPECT_EQ(afterAllocate.blocksAllocated - before.blocksAllocated, 1u);
    EXPECT_EQ(afterAllocate.bytesFreed, before.bytesFreed);
    EXPECT_GE(afterAllocate.peakBytesInUse, InUse(afterAllocate));

    Free(block);
    const MemoryStatistics afterFree = Read();
    EXPECT_EQ(afterFree.bytesFreed - before.bytesFreed, size);
    EXPECT_EQ(afterFree.blocksFreed - before.blocksFreed, 1u);
    EXPECT_EQ(InUse(afterFree), InUse(before));
    EXPECT_EQ(afterFree.peakBytesInUse, afterAllocate.peakBytesInUse); // the peak stays

    Free(nullptr);
    const MemoryStatistics afterNull = Read();
    EXPECT_EQ(std::memcmp(&afterNull, &afterFree, sizeof afterNull), 0);
}

TEST(MemoryAccounting, PeakRisesWithBytesInUse) {
    // A reallocation of a null block counts one block freed that was never counted allocated,
    // so earlier tests that grow buffers from nothing may have left more blocks freed than
    // allocated; the block count at a peak is only kept while the difference is a count. Blocks
    // held for the length of the test make it one again.
    std::vector<void*> held;
    while (Read().blocksAllocated <= Read().blocksFreed) {
        held.push_back(Allocate(1));
        ASSERT_NE(held.back(), nullptr);
    }
    const MemoryStatistics before = Read();
    // Enough to take bytes in use beyond any earlier peak.
    const std::size_t size = static_cast<std::size_t>(before.peakBytesInUse) + (1u << 20);
    void* block = Allocate(size);
    ASSERT_NE(block, nullptr);
    const MemoryStatistics after = Read();
    EXPECT_EQ(after.peakBytesInUse, InUse(after));
    EXPECT_EQ(after.blocksInUseAtPeak, after.blocksAllocated - after.blocksFreed);
    Free(block);
    const MemoryStatistics freed = Read();
    EXPECT_EQ(freed.peakBytesInUse, after.peakBytesInUse);
    EXPECT_EQ(freed.blocksInUseAtPeak, after.blocksInUseAtPeak);
    for (void* one : held) {
        Free(one);
    }
}

TEST(MemoryAccounting, Reallocate) {
    MemoryStatistics before = Read();
    // A null block: 0 bytes and 1 block freed, the new block allocated.
    char* block = static_cast<char*>(Reallocate(nullptr, 16));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "0123456789abcde", 16);
    MemoryStatistics after = Read();
    EXPECT_EQ(after.bytesFreed - before.bytesFreed, 0u);
    EXPECT_EQ(after.blocksFreed - before.blocksFreed, 1u);
    EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, BlockSize(block));
    EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 1u);

    // Growing: the old size freed, the new size allocated, contents kept.
    before = after;
    const std::size_t oldSize = BlockSize(block);
    block = static_cast<char*>(Reallocate(block, 4000));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "0123456789abcde");
    after = Read();
    EXPECT_EQ(after.bytesFreed - before.bytesFreed, oldSize);
    EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, BlockSize(block));
    EXPECT_EQ(after.blocksFreed - before.blocksFreed, 1u);
    EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 1u);

    // Size 0 releases the block.
    before = after;
    const std::size_t lastSize = BlockSize(block);
    EXPECT_EQ(Reallocate(block, 0), nullptr);
    after = Read();
    EXPECT_EQ(after.bytesFreed - before.bytesFreed, lastSize);
    EXPECT_EQ(after.blocksFreed - before.blocksFreed, 1u);
    EXPECT_EQ(after.blocksAllocated, before.blocksAllocated);
}

TEST(MemoryAccounting, DuplicateText) {
    const MemoryStatistics before = Read();
    char* copy = DuplicateText("hello");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "hello");
    const MemoryStatistics after = Read();
    EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, BlockSize(copy));
    EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 1u);
    Free(copy);
    EXPECT_EQ(DuplicateText(nullptr), nullptr);
    EXPECT_EQ(Read().blocksAllocated, after.blocksAllocated);
    EXPECT_EQ(BlockSize(nullptr), 0u);
}

TEST(MemoryAccounting, ZeroSizedRequestsAreCountedLikeOthers) {
    const MemoryStatistics before = Read();
    void* empty = Allocate(0);
    void* grown = Reallocate(nullptr, 0);
    const MemoryStatistics during = Read();
    EXPECT_EQ(during.blocksAllocated - before.blocksAllocated, 2u);
    EXPECT_EQ(during.bytesAllocated - before.bytesAllocated, BlockSize(empty) + BlockSize(grown));
    EXPECT_EQ(during.blocksFreed - before.blocksFreed, 1u); // the null block given to Reallocate
    EXPECT_EQ(during.bytesFreed, before.bytesFreed);
    Free(empty);
    Free(grown);
    const MemoryStatistics after = Read();
    EXPECT_EQ(InUse(after), InUse(before));
    // Blocks: two allocated, three freed (the null block counts as one), a null result none.
    const uint64_t nulls = (empty == nullptr ? 1u : 0u) + (grown == nullptr ? 1u : 0u);
    EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 2u);
    EXPECT_EQ(after.blocksFreed - before.blocksFreed, 3u - nulls);
}

#if !defined(KORVEL_ADDRESS_SANITIZER)
// The sanitizer's allocator reports impossible sizes instead of failing them.
TEST(MemoryAccounting, FailedAllocationsKeepTheirBlocks) {
    MemoryStatistics before = Read();
    EXPECT_EQ(Allocate(SIZE_MAX - 64), nullptr);
    MemoryStatistics after = Read();
    EXPECT_EQ(after.bytesAllocated, before.bytesAllocated);
    EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 1u);

    // A failed resize leaves the old block alive and uncounted as freed.
    char* block = DuplicateText("keep");
    before = Read();
    EXPECT_EQ(Reallocate(block, SIZE_MAX - 64), nullptr);
    after = Read();
    EXPECT_EQ(after.bytesFreed, before.bytesFreed);
    EXPECT_EQ(after.blocksFreed, before.blocksFreed);
    EXPECT_STREQ(block, "keep");
    Free(block);
}
#endif

TEST(MemoryAccounting, CountersAreAtomicAcrossThreads) {
    const MemoryStatistics before = Read();
    constexpr int kThreads = 4;
    constexpr int kRounds = 5000;
    std::vector<std::future<uint64_t>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [t] {
            uint64_t bytes = 0;
            for (int i = 0; i < kRounds; ++i) {
                void* block = Allocate(static_cast<std::size_t>(8 + (i + t) % 200));
                bytes += BlockSize(block);
                void* grown = Reallocate(block, 300);
                bytes += BlockSize(grown);
                Free(grown);
            }
            return bytes;
        }));
    }
    uint64_t bytes = 0;
    for (auto& worker : workers) {
        bytes += worker.get();
    }
    const MemoryStatistics after = Read();
    EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 2u * kThreads * kRounds);
    EXPECT_EQ(after.blocksFreed - before.blocksFreed, 2u * kThreads * kRounds);
    EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, bytes);
    EXPECT_EQ(after.bytesFreed - before.bytesFreed, bytes);
    EXPECT_GE(after.peakBytesInUse, before.peakBytesInUse);
}

// Hooks that record what they are given.
struct Recorder {
    int allocations = 0;
    int frees = 0;
    int reallocations = 0;
    int duplicates = 0;
    int sizes = 0;
};

void* RecordAllocate(std::size_t size, void* context) {
    ++static_cast<Recorder*>(context)->allocations;
    return Platform::HeapAllocate(size);
}
void RecordFree(void* block, void* context) {
    ++static_cast<Recorder*>(context)->frees;
    Platform::HeapFree(block);
}
void* RecordReallocate(void* block, std::size_t size, void* context) {
    ++static_cast<Recorder*>(context)->reallocations;
    return Platform::HeapReallocate(block, size);
}
char* RecordDuplicate(const char* text, void* context) {
    ++static_cast<Recorder*>(context)->duplicates;
    return Platform::HeapDuplicateText(text);
}
std::size_t RecordSize(void* block, void* context) {
    ++static_cast<Recorder*>(context)->sizes;
    return Platform::HeapBlockSize(block);
}

TEST(MemoryAccounting, ReplacedHooksServeTheEntriesAndStopCounting) {
    const AllocationHooks counting = CurrentAllocationHooks();
    ASSERT_NE(counting.allocate, nullptr);
    const MemoryStatistics before = Read();

    Recorder recorder;
    EXPECT_TRUE(SetAllocationHooks(&RecordAllocate, &RecordFree, &RecordReallocate,
                                   &RecordDuplicate, &RecordSize, &recorder));
    void* block = Allocate(32);
    block = Reallocate(block, 64);
    EXPECT_GE(BlockSize(block), 64u);
    Free(block);
    Free(DuplicateText("x"));
    EXPECT_EQ(recorder.allocations, 1);
    EXPECT_EQ(recorder.reallocations, 1);
    EXPECT_EQ(recorder.sizes, 1);
    EXPECT_EQ(recorder.frees, 2);
    EXPECT_EQ(recorder.duplicates, 1);

    // Null entries fall back to the run-time.
    SetAllocationHooks(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    char* text = DuplicateText("plain");
    EXPECT_STREQ(text, "plain");
    text = static_cast<char*>(Reallocate(text, 100));
    EXPECT_GE(BlockSize(text), 100u);
    Free(text);
    EXPECT_EQ(Reallocate(Allocate(8), 0), nullptr);

    const MemoryStatistics during = Read();
    EXPECT_EQ(std::memcmp(&during, &before, sizeof during), 0);

    SetAllocationHooks(counting.allocate, counting.free, counting.reallocate,
                       counting.duplicateText, counting.blockSize, counting.context);
    Free(Allocate(1));
    EXPECT_EQ(Read().blocksAllocated, before.blocksAllocated + 1);
}

// Bytes in use are never more than bytes allocated, so neither is the peak, however the
// threads interleave. More threads than cores, so that some are preempted in the middle of
// their bookkeeping while the others allocate and free; rounds go on for a while, as such a
// preemption is a matter of chance.
TEST(MemoryAccounting, PeakStaysWithinBytesAllocatedAcrossThreads) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 3;
    constexpr int kBlocks = 400000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (int round = 0; round < kRounds && std::chrono::steady_clock::now() < deadline; ++round) {
        std::vector<std::future<void>> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.push_back(std::async(std::launch::async, [t] {
                for (int i = 0; i < kBlocks; ++i) {
                    Free(Allocate(static_cast<std::size_t>(16 + (i + t) % 64)));
                }
            }));
        }
        for (auto& worker : workers) {
            worker.get();
        }
        const MemoryStatistics after = Read();
        ASSERT_LE(after.peakBytesInUse, after.bytesAllocated) << "round " << round;
        ASSERT_LE(after.blocksInUseAtPeak, after.blocksAllocated) << "round " << round;
    }
}

} // namespace
} // namespace Korvel
