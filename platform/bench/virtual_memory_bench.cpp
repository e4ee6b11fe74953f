// What a 64 KiB region costs from the system, as a value tree's page source uses one: a chunk
// that fills up is reserved, backed in one call, written page by page and given back; a chunk of
// which a small tree takes a single page is reserved, written once and given back. Beside them,
// the same 64 KiB taken from and given back to the general heap, which a warm heap serves without
// asking the system. The difference is the price of fresh pages on the machine at hand, and it
// varies a great deal between machines.

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

void BM_RegionFilled(benchmark::State& state) {
    for (auto _ : state) {
        auto* region = static_cast<unsigned char*>(Korvel::Platform::ReserveRegion(kRegionSize));
        if (region == nullptr) {
            state.SkipWithError("the system refused a region");
            break;
        }
        Korvel::Platform::PrepareRegion(region, kRegionSize);
        TouchPages(region);
        Korvel::Platform::ReleaseRegion(region, kRegionSize);
    }
    state.counters["pages"] = static_cast<double>(kRegionSize / kPageSize);
}
BENCHMARK(BM_RegionFilled)->Unit(benchmark::kMicrosecond);

void BM_RegionOnePage(benchmark::State& state) {
    for (auto _ : state) {
        auto* region = static_cast<unsigned char*>(Korvel::Platform::ReserveRegion(kRegionSize));
        if (region == nullptr) {
            state.SkipWithError("the system refused a region");
            break;
        }
        region[0] = 1;
        benchmark::ClobberMemory();
        Korvel::Platform::ReleaseRegion(region, kRegionSize);
    }
}
BENCHMARK(BM_RegionOnePage)->Unit(benchmark::kMicrosecond);

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
