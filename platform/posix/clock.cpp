#include "platform/clock.h"

#include <time.h>

namespace Korvel::Platform {

uint64_t ReadHighResolutionCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t HighResolutionFrequency() {
    return 1000000000u;
}

} // namespace Korvel::Platform
