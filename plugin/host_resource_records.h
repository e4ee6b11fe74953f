#pragma once

#include "plugin/calling_convention.h"
#include "plugin/host_value.h"

#include <cstddef>
#include <cstdint>

namespace Korvel {

struct HostResourceResponse;

// Reads the next part of a streamed response body. On entry *length is the
// buffer size, on return the number of bytes delivered; *moreData is cleared
// when the body is complete. Returns false when the read failed.
using HostReadFunction = bool(KORVEL_CDECL*)(void* context, void* buffer, uint32_t* length,
                                             uint8_t* moreData);

// Called by the plug-in with the response record's address once it is done
// with the record, so that the host can free what it put there.
using HostReleaseFunction = void(KORVEL_CDECL*)(HostResourceResponse* response);

// A named argument of a host-resource request (16 bytes in the 32-bit build):
//   0  pointer   name, NUL-terminated
//   4  12 bytes  value
struct HostArgument {
    const char* name;
    HostValue value;
};

// Request for one of the host's own resources (48 bytes in the 32-bit build,
// zero-filled by the plug-in):
//    0  u32      method code (HttpMethod)
//    4  pointer  resource path
//    8  pointer  arguments (array of HostArgument)
//   12  u32      argument count
//   16  24 bytes zero
//   40  u32      plug-in id from the host context
//   44  4 bytes  zero
struct HostResourceRequest {
    uint32_t method;
    const char* path;
    const HostArgument* arguments;
    uint32_t argumentCount;
    uint8_t reserved0[24];
    uint32_t pluginId;
    uint8_t reserved1[4];
};

#if KORVEL_ABI_32
static_assert(sizeof(HostArgument) == 16);
static_assert(offsetof(HostArgument, value) == 4);
static_assert(sizeof(HostResourceRequest) == 48);
static_assert(offsetof(HostResourceRequest, method) == 0);
static_assert(offsetof(HostResourceRequest, path) == 4);
static_assert(offsetof(HostResourceRequest, arguments) == 8);
static_assert(offsetof(HostResourceRequest, argumentCount) == 12);
static_assert(offsetof(HostResourceRequest, reserved0) == 16);
static_assert(offsetof(HostResourceRequest, pluginId) == 40);
static_assert(offsetof(HostResourceRequest, reserved1) == 44);
#endif

#pragma pack(push, 1)

// Response to a HostResourceRequest (62 bytes in the 32-bit build, packed,
// zero-filled by the plug-in before the call and filled by the host). The
// reserved bytes belong to the host; the plug-in does not read them.
//    0  12 bytes body (HostValue) when the body is in the record
//   12  pointer  error text; non-null means the request failed
//   16  6 bytes  reserved
//   22  i32      error code
//   26  12 bytes reserved
//   38  pointer  read function for a streamed body, or null
//   42  4 bytes  reserved
//   46  u32      expected body length in bytes
//   50  4 bytes  reserved
//   54  pointer  read context passed back to the read function
//   58  pointer  release function, or null
struct HostResourceResponse {
    HostValue body;
    const char* error;
    uint8_t reserved0[6];
    int32_t errorCode;
    uint8_t reserved1[12];
    HostReadFunction read;
    uint8_t reserved2[4];
    uint32_t sizeHint;
    uint8_t reserved3[4];
    void* readContext;
    HostReleaseFunction release;
};

#pragma pack(pop)

#if KORVEL_ABI_32
static_assert(sizeof(HostResourceResponse) == 62);
static_assert(offsetof(HostResourceResponse, body) == 0);
static_assert(offsetof(HostResourceResponse, error) == 12);
static_assert(offsetof(HostResourceResponse, reserved0) == 16);
static_assert(offsetof(HostResourceResponse, errorCode) == 22);
static_assert(offsetof(HostResourceResponse, reserved1) == 26);
static_assert(offsetof(HostResourceResponse, read) == 38);
static_assert(offsetof(HostResourceResponse, reserved2) == 42);
static_assert(offsetof(HostResourceResponse, sizeHint) == 46);
static_assert(offsetof(HostResourceResponse, reserved3) == 50);
static_assert(offsetof(HostResourceResponse, readContext) == 54);
static_assert(offsetof(HostResourceResponse, release) == 58);
#endif

} // namespace Korvel
