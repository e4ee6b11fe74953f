#ifdef _WIN32

#include "platform/static_mutex.h"

#include <windows.h>

namespace Korvel::Platform {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");

void StaticMutex::lock() noexcept {
    AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state_));
}

void StaticMutex::unlock() noexcept {
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state_));
}

} // namespace Korvel::Platform

#endif // _WIN32
