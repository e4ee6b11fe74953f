#pragma once

// What the library's allocation entries have handed out and not taken back yet.

#include <cstdint>

#include "diagnostics/allocation.h"

namespace Korvel::Testing {

inline std::uint64_t LiveBytes() {
    MemoryStatistics statistics{};
    ReadMemoryStatistics(&statistics);
    return statistics.bytesAllocated - statistics.bytesFreed;
}

inline std::uint64_t LiveBlocks() {
    MemoryStatistics statistics{};
    ReadMemoryStatistics(&statistics);
    return statistics.blocksAllocated - statistics.blocksFreed;
}

} // namespace Korvel::Testing
