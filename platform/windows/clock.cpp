#ifdef _WIN32

#include "platform/clock.h"

#include <windows.h>

namespace Korvel::Platform {

uint64_t ReadHighResolutionCounter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<uint64_t>(counter.QuadPart);
}

uint64_t HighResolutionFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}

} // namespace Korvel::Platform

#endif // _WIN32
