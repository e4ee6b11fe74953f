#include "plugin/monotonic_clock.h"

#include "platform/clock.h"

namespace Korvel {

int64_t CounterToNanoseconds(uint64_t counter, uint64_t frequency) {
    if (frequency == 0) {
        return 0;
    }
    constexpr uint64_t kNanosecondsPerSecond = 1000000000u;
    const uint64_t seconds = counter / frequency;
    const uint64_t remainder = counter % frequency;
    // remainder < frequency, so remainder * 1e9 fits unless the counter runs
    // faster than 18 GHz; such a counter is converted through floating point.
    uint64_t fraction;
    if (remainder <= UINT64_MAX / kNanosecondsPerSecond) {
        fraction = remainder * kNanosecondsPerSecond / frequency;
    } else {
        fraction = static_cast<uint64_t>(static_cast<long double>(remainder) *
                                         kNanosecondsPerSecond / frequency);
    }
    return static_cast<int64_t>(seconds * kNanosecondsPerSecond + fraction);
}

int64_t MonotonicNanoseconds() {
    return CounterToNanoseconds(Platform::ReadHighResolutionCounter(),
                                Platform::HighResolutionFrequency());
}

} // namespace Korvel
