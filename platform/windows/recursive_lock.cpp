#ifdef _WIN32

#include "platform/recursive_lock.h"

#include <new>

#include <windows.h>

namespace Korvel::Platform {
namespace {

CRITICAL_SECTION* Section(unsigned char* storage) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

} // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 8);

RecursiveLock::RecursiveLock() {
    InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}

RecursiveLock::~RecursiveLock() {
    DeleteCriticalSection(Section(storage_));
}

void RecursiveLock::Lock() {
    EnterCriticalSection(Section(storage_));
}

void RecursiveLock::Unlock() {
    LeaveCriticalSection(Section(storage_));
}

} // namespace Korvel::Platform

#endif // _WIN32
