#pragma once

#include <cstdint>

namespace Korvel {

// The monotonic clock as a signed count of nanoseconds. Whole seconds and the
// remainder of the high-resolution counter are converted separately, so the
// count does not overflow for any counter value the system can reach.
int64_t MonotonicNanoseconds();

// The conversion itself, for a counter value and its ticks per second.
int64_t CounterToNanoseconds(uint64_t counter, uint64_t frequency);

} // namespace Korvel
