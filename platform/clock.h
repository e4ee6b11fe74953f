#pragma once

#include <cstdint>

namespace Korvel::Platform {

// The high-resolution monotonic counter and its ticks per second
// (QueryPerformanceCounter / QueryPerformanceFrequency).
uint64_t ReadHighResolutionCounter();
uint64_t HighResolutionFrequency();

} // namespace Korvel::Platform
