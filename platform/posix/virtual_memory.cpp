#include "platform/virtual_memory.h"

#include <atomic>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

// Older C library headers lack the request; older kernels refuse it, which is harmless.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace Korvel::Platform {
namespace {

std::atomic<std::size_t> liveRegions{0};
// The next region is asked for just below this address: the start of the region placed last, or
// the top of the place given back last.
std::atomic<std::uintptr_t> nextHint{0};

std::size_t PageSize() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t RoundUp(std::size_t value, std::size_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

// After a release the next region is asked for at the top of the place just given back, which
// is aligned and free, and the ones after it below that. Without this every region would be
// placed below all earlier ones, live or not, and the addresses would walk down through the
// address space; under AddressSanitizer each new place also costs shadow memory that is never
// given back.
void HintAbove(void* released, std::size_t length) {
    nextHint.store(reinterpret_cast<std::uintptr_t>(released) + length, std::memory_order_relaxed);
}

} // namespace

void* ReserveRegion(std::size_t size) {
    if (size == 0 || size > SIZE_MAX - 2 * kRegionAlignment) {
        return nullptr;
    }
    const std::size_t length = RoundUp(size, PageSize());
    constexpr int kProtection = PROT_READ | PROT_WRITE;
    constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS;
    void* region = nullptr;
    // The kernel places new mappings just below earlier ones. Asking for the aligned address
    // below the last region usually gets exactly that place, so most regions cost one mapping;
    // a hint is only a hint, so a result off the boundary is given back and the slow way taken.
    const std::uintptr_t last = nextHint.load(std::memory_order_relaxed);
    if (last > length + kRegionAlignment) {
        const std::uintptr_t wanted = (last - length) & ~(kRegionAlignment - 1);
        void* placed = mmap(reinterpret_cast<void*>(wanted), length, kProtection, kFlags, -1, 0);
        if (placed != MAP_FAILED) {
            if ((reinterpret_cast<std::uintptr_t>(placed) & (kRegionAlignment - 1)) == 0) {
                region = placed;
            } else {
                munmap(placed, length);
            }
        }
    }
    if (region == nullptr) {
        // Map enough to find a 64 KiB boundary inside, then unmap the slack before and after it.
        const std::size_t span = length + kRegionAlignment;
        void* mapped = mmap(nullptr, span, kProtection, kFlags, -1, 0);
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
        region = reinterpret_cast<void*>(aligned);
    }
    nextHint.store(reinterpret_cast<std::uintptr_t>(region), std::memory_order_relaxed);
    liveRegions.fetch_add(1, std::memory_order_relaxed);
    return region;
}

void PrepareRegion(void* start, std::size_t size) {
    if (start == nullptr || size == 0) {
        return;
    }
    // Kernels without the request refuse it; the pages then fault in as they are written.
    madvise(start, RoundUp(size, PageSize()), MADV_POPULATE_WRITE);
}

void ReleaseRegion(void* region, std::size_t size) {
    if (region == nullptr) {
        return;
    }
    const std::size_t length = RoundUp(size, PageSize());
    if (munmap(region, length) == 0) {
        liveRegions.fetch_sub(1, std::memory_order_relaxed);
        HintAbove(region, length);
    }
}

void ReleaseAdjacentRegions(void* first, std::size_t size, std::size_t count) {
    if (first == nullptr || count == 0) {
        return;
    }
    // Each region starts at the 64 KiB boundary after the one before it.
    const std::size_t length = RoundUp(size, PageSize());
    const std::size_t stride = RoundUp(size, kRegionAlignment);
    if (length != stride) {
        // The gaps between the regions are not theirs and may hold other mappings: each region
        // is given back on its own.
        auto* region = static_cast<unsigned char*>(first);
        for (std::size_t i = 0; i < count; ++i) {
            ReleaseRegion(region + i * stride, size);
        }
        return;
    }
    // One unmapping may span several mappings.
    if (munmap(first, length * count) == 0) {
        liveRegions.fetch_sub(count, std::memory_order_relaxed);
        HintAbove(first, length * count);
    }
}

std::size_t LiveRegionCount() {
    return liveRegions.load(std::memory_order_relaxed);
}

} // namespace Korvel::Platform
