#pragma once

#include <mutex>

namespace Korvel::Platform {

// A mutex with a constant initialiser, for process-wide locks that static
// constructors of any translation unit may take before dynamic
// initialisation has reached them (declare them `constinit`). std::mutex is
// such a mutex where the C++ run-time can initialise it as a constant; the
// Windows run-time cannot, so there it is a slim reader/writer lock, whose
// initial state is a null pointer. Not re-entrant.
#ifdef _WIN32
class StaticMutex {
public:
    constexpr StaticMutex() noexcept = default;
    StaticMutex(const StaticMutex&) = delete;
    StaticMutex& operator=(const StaticMutex&) = delete;

    void lock() noexcept;
    void unlock() noexcept;

private:
    void* state_ = nullptr; // an SRWLOCK
};
#else
using StaticMutex = std::mutex;
#endif

} // namespace Korvel::Platform
