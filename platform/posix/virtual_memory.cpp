#include "platform/virtual_memory.h"

#include <atomic>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace Korvel::Platform {
namespace {

std::atomic<std::size_t> liveRegions{0};

std::size_t PageSize() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t RoundUp(std::size_t value, std::size_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

} // namespace

void* ReserveRegion(std::size_t size) {
    if (size == 0 || size > SIZE_MAX - 2 * kRegionAlignment) {
        return nullptr;
    }
    const std::size_t length = RoundUp(size, PageSize());
    // The kernel places new mappings next to earlier ones, so a mapping of exactly the wanted
    // length usually lands on a 64 KiB boundary already when regions are reserved one after the
    // other: try that first and keep it when it does. The pages are populated at once: a region
    // is reserved because its pages are about to be written, and one populating call costs less
    // than a fault per page.
    constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE;
    void* exact = mmap(nullptr, length, PROT_READ | PROT_WRITE, kFlags, -1, 0);
    if (exact == MAP_FAILED) {
        return nullptr;
    }
    if ((reinterpret_cast<std::uintptr_t>(exact) & (kRegionAlignment - 1)) == 0) {
        liveRegions.fetch_add(1, std::memory_order_relaxed);
        return exact;
    }
    munmap(exact, length);
    // Otherwise map enough to find a 64 KiB boundary inside, then unmap the slack before and
    // after it.
    const std::size_t span = length + kRegionAlignment;
    void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kRegionAlignment - 1) & ~(kRegionAlignment - 1);
    const std::size_t before = aligned - start;
    const std::size_t after = span - before - length;
    if (before != 0) {
        munmap(mapped, before);
    }
    if (after != 0) {
        munmap(reinterpret_cast<void*>(aligned + length), after);
    }
    liveRegions.fetch_add(1, std::memory_order_relaxed);
    return reinterpret_cast<void*>(aligned);
}

void ReleaseRegion(void* region, std::size_t size) {
    if (region == nullptr) {
        return;
    }
    if (munmap(region, RoundUp(size, PageSize())) == 0) {
        liveRegions.fetch_sub(1, std::memory_order_relaxed);
    }
}

void ReleaseAdjacentRegions(void* first, std::size_t size, std::size_t count) {
    if (first == nullptr || count == 0) {
        return;
    }
    // One unmapping may span several mappings.
    if (munmap(first, RoundUp(size, PageSize()) * count) == 0) {
        liveRegions.fetch_sub(count, std::memory_order_relaxed);
    }
}

std::size_t LiveRegionCount() {
    return liveRegions.load(std::memory_order_relaxed);
}

} // namespace Korvel::Platform
