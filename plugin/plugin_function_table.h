#pragma once

#include "plugin/calling_convention.h"
#include "plugin/host_function_table.h"

#include <cstddef>
#include <cstdint>

namespace Korvel {

// Memory figures the plug-in reports to the host (56 bytes): six counters,
// then 8 bytes that are always zero.
//    0  u64  peak live bytes
//    8  u64  live allocations at that peak
//   16  u64  total bytes allocated
//   24  u64  number of allocations
//   32  u64  total bytes freed
//   40  u64  number of frees
//   48  8 bytes zero
struct PluginMemoryStats {
    uint64_t peakBytes;
    uint64_t peakBlocks;
    uint64_t bytesAllocated;
    uint64_t blocksAllocated;
    uint64_t bytesFreed;
    uint64_t blocksFreed;
    uint8_t reserved[8];
};

// The plug-in's entry points; the first argument of each is the plug-in
// object from the descriptor.
using PluginInitializeFunction = bool(KORVEL_CDECL*)(void* plugin, const HostContext* context);
using PluginShutdownFunction = void(KORVEL_CDECL*)(void* plugin);
using PluginGetMemoryStatsFunction = void(KORVEL_CDECL*)(void* ignored, PluginMemoryStats* stats);

// The table of plug-in entry points (12 bytes in the 32-bit build):
//   0  Initialize      (plug-in, host context) -> bool, the result of the start-up
//   4  Shutdown        (plug-in); the object is destroyed
//   8  GetMemoryStats  (ignored, output record)
struct PluginFunctionTable {
    PluginInitializeFunction initialize;
    PluginShutdownFunction shutdown;
    PluginGetMemoryStatsFunction getMemoryStats;
};

static_assert(sizeof(PluginMemoryStats) == 56);
static_assert(offsetof(PluginMemoryStats, peakBytes) == 0);
static_assert(offsetof(PluginMemoryStats, peakBlocks) == 8);
static_assert(offsetof(PluginMemoryStats, bytesAllocated) == 16);
static_assert(offsetof(PluginMemoryStats, blocksAllocated) == 24);
static_assert(offsetof(PluginMemoryStats, bytesFreed) == 32);
static_assert(offsetof(PluginMemoryStats, blocksFreed) == 40);
static_assert(offsetof(PluginMemoryStats, reserved) == 48);

#if KORVEL_ABI_32
static_assert(sizeof(PluginFunctionTable) == 12);
static_assert(offsetof(PluginFunctionTable, initialize) == 0);
static_assert(offsetof(PluginFunctionTable, shutdown) == 4);
static_assert(offsetof(PluginFunctionTable, getMemoryStats) == 8);
#endif

} // namespace Korvel
