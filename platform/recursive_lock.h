#pragma once

#include <cstddef>

namespace Korvel::Platform {

// A re-entrant lock: the owning thread may lock it again; it is released
// when every Lock has been matched by an Unlock. A critical section on
// Windows, a recursive pthread mutex elsewhere.
class RecursiveLock {
public:
    RecursiveLock();
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void Lock();
    void Unlock();

private:
    // Room for the system's lock object (40 bytes at most on the supported
    // systems), so that this header needs no system header.
    alignas(8) unsigned char storage_[64];
};

class RecursiveLockGuard {
public:
    explicit RecursiveLockGuard(RecursiveLock& lock) : lock_(lock) { lock_.Lock(); }
    ~RecursiveLockGuard() { lock_.Unlock(); }
    RecursiveLockGuard(const RecursiveLockGuard&) = delete;
    RecursiveLockGuard& operator=(const RecursiveLockGuard&) = delete;

private:
    RecursiveLock& lock_;
};

} // namespace Korvel::Platform
