#pragma once

#include <cstdint>

namespace Korvel::Platform {

// The local wall-clock time, to the millisecond (GetLocalTime). Month 1-12,
// day 1-31.
struct LocalTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t millisecond;
};

LocalTime ReadLocalTime();

} // namespace Korvel::Platform
