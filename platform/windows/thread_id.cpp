#ifdef _WIN32

#include "platform/thread_id.h"

#include <windows.h>

namespace Korvel::Platform {

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(GetCurrentThreadId());
}

} // namespace Korvel::Platform

#endif // _WIN32
