#ifdef _WIN32

#include "platform/local_time.h"

#include <windows.h>

namespace Korvel::Platform {

LocalTime ReadLocalTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LocalTime result{};
    result.year = now.wYear;
    result.month = now.wMonth;
    result.day = now.wDay;
    result.hour = now.wHour;
    result.minute = now.wMinute;
    result.second = now.wSecond;
    result.millisecond = now.wMilliseconds;
    return result;
}

} // namespace Korvel::Platform

#endif // _WIN32
