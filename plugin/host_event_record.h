#pragma once

#include "plugin/calling_convention.h"
#include "plugin/host_value.h"

#include <cstddef>
#include <cstdint>

namespace Korvel {

// A named host event. The host passes it to subscription callbacks; the
// plug-in passes one (without user data) to the host's FireEvent.
// Layout in the 32-bit build (24 bytes):
//    0  pointer   event name, NUL-terminated
//    4  12 bytes  payload (HostValue)
//   16  i32       flag, 0 in every event the plug-in fires
//   20  pointer   user data given at subscription (callbacks only)
struct HostEventRecord {
    const char* name;
    HostValue payload;
    int32_t flag;
    void* userData;
};

#if KORVEL_ABI_32
static_assert(sizeof(HostEventRecord) == 24);
static_assert(offsetof(HostEventRecord, name) == 0);
static_assert(offsetof(HostEventRecord, payload) == 4);
static_assert(offsetof(HostEventRecord, flag) == 16);
static_assert(offsetof(HostEventRecord, userData) == 20);
#endif

// Called by the host each time a subscribed event occurs.
using HostEventCallback = void(KORVEL_CDECL*)(const HostEventRecord* record);

} // namespace Korvel
