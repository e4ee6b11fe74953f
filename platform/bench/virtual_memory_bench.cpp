// What a 64 KiB region costs from the system: reserving it, writing once to each of its 4 KiB
// pages and giving it back, which is what a value tree pays for each chunk of its page source
// that it fills and frees. Beside it, the same 64 KiB taken from and given back to the general
// heap, which a warm heap serves without asking the system. The difference is the price of
// fresh pages on the machine at hand, and it varies a great deal between machines.

#include <cstddef>
#include <cstdlib>

#include <benchmark/benchmark.h>

#include "platform/virtual_memory.h"

namespace {

constexpr std::size_t kRegionSize = Korvel::Platform::kRegionAlignment;
constexpr std::size_t kPageSize = 4096;

void TouchPages(unsigned char* bytes) {
    for (std::size_t offset = 0; offset < kRegionSize; offset += kPageSize) {
        bytes[offset] = 1;
    }
    benchmark::ClobberMemory();
}

void BM_RegionReserveTouchRelease(benchmark::State& state) {
    for (auto _ : state) {
        auto* region = static_cast<unsigned char*>(Korvel::Platform::ReserveRegion(kRegionSize));
        if (region == nullptr) {
            state.SkipWithError("the system refused a region");
            break;
        }
        TouchPages(region);
        Korvel::Platform::ReleaseRegion(region, kRegionSize);
    }
    state.counters["pages"] = static_cast<double>(kRegionSize / kPageSize);
}
BENCHMARK(BM_RegionReserveTouchRelease)->Unit(benchmark::kMicrosecond);

void BM_HeapBlockTouchFree(benchmark::State& state) {
    for (auto _ : state) {
        auto* block = static_cast<unsigned char*>(std::malloc(kRegionSize));
        if (block == nullptr) {
            state.SkipWithError("the heap refused a block");
            break;
        }
        TouchPages(block);
        std::free(block);
    }
    state.counters["pages"] = static_cast<double>(kRegionSize / kPageSize);
}
BENCHMARK(BM_HeapBlockTouchFree)->Unit(benchmark::kMicrosecond);

} // namespace
