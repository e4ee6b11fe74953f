#pragma once

#include <cstdint>

namespace Korvel::Platform {

// The calling thread's system identifier (GetCurrentThreadId / gettid).
uint32_t CurrentThreadId();

} // namespace Korvel::Platform
