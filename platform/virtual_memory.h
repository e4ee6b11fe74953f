#pragma once

#include <cstddef>

namespace Korvel::Platform {

// Alignment and granularity of the regions handed out by ReserveRegion.
inline constexpr std::size_t kRegionAlignment = 65536;

// Reserves and commits a read-write region of `size` bytes whose address is a
// multiple of 64 KiB. Returns null when the system refuses or size is 0. The
// system backs each page with memory when it is first written.
void* ReserveRegion(std::size_t size);

// Asks the system to back the pages of `size` bytes from `start` (inside a
// region from ReserveRegion) with memory now, because they are about to be
// written: where the system allows it, one call costs far less than a fault
// per page. Only a hint: pages that stay unbacked are backed when written.
void PrepareRegion(void* start, std::size_t size);

// Gives a region obtained from ReserveRegion back to the system. `size` must
// be the size it was reserved with. A null region is ignored.
void ReleaseRegion(void* region, std::size_t size);

// Gives `count` regions of `size` bytes each back, which were reserved separately and lie back to
// back from `first` upwards: each starts at the first multiple of kRegionAlignment at or after the
// end of the one before. Where the system allows it this is one call (and one flush of the address
// translations) instead of `count`.
void ReleaseAdjacentRegions(void* first, std::size_t size, std::size_t count);

// Number of regions reserved and not yet released, process-wide.
std::size_t LiveRegionCount();

} // namespace Korvel::Platform
