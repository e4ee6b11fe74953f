#ifdef _WIN32

#include "platform/virtual_memory.h"

#include <atomic>

#include <windows.h>

namespace Korvel::Platform {
namespace {

std::atomic<std::size_t> liveRegions{0};

} // namespace

void* ReserveRegion(std::size_t size) {
    if (size == 0) {
        return nullptr;
    }
    // VirtualAlloc reservations are aligned to the allocation granularity,
    // which is 64 KiB on every Windows system.
    void* region = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (region != nullptr) {
        liveRegions.fetch_add(1, std::memory_order_relaxed);
    }
    return region;
}

void PrepareRegion(void* start, std::size_t size) {
    // Nothing is asked of Windows here: committed pages are backed as they are first written.
    (void)start;
    (void)size;
}

void ReleaseRegion(void* region, std::size_t size) {
    (void)size; // MEM_RELEASE frees the whole reservation and requires size 0.
    if (region == nullptr) {
        return;
    }
    if (VirtualFree(region, 0, MEM_RELEASE) != 0) {
        liveRegions.fetch_sub(1, std::memory_order_relaxed);
    }
}

void ReleaseAdjacentRegions(void* first, std::size_t size, std::size_t count) {
    if (first == nullptr) {
        return;
    }
    // Every reservation is released on its own. Each starts at the boundary of the allocation
    // granularity after the one before it, whatever its size.
    const std::size_t stride = (size + kRegionAlignment - 1) / kRegionAlignment * kRegionAlignment;
    auto* region = static_cast<unsigned char*>(first);
    for (std::size_t i = 0; i < count; ++i) {
        ReleaseRegion(region + i * stride, size);
    }
}

std::size_t LiveRegionCount() {
    return liveRegions.load(std::memory_order_relaxed);
}

} // namespace Korvel::Platform

#endif // _WIN32
