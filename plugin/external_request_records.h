#pragma once

#include "plugin/calling_convention.h"

#include <cstddef>
#include <cstdint>

namespace Korvel {

// A header of an outside request or response (8 bytes in the 32-bit build).
struct HostHeaderEntry {
    const char* name;
    const char* value;
};

// Request to an outside web server through the host (32 bytes in the 32-bit
// build):
//    0  u32      method code (HttpMethod)
//    4  pointer  url
//    8  pointer  headers (array of HostHeaderEntry)
//   12  u32      header count
//   16  pointer  body bytes
//   20  u32      body length
//   24  u32      time limit given by the caller
//   28  u32      flag, always 1
struct ExternalRequestRecord {
    uint32_t method;
    const char* url;
    const HostHeaderEntry* headers;
    uint32_t headerCount;
    const uint8_t* body;
    uint32_t bodyLength;
    uint32_t timeLimit;
    uint32_t flag;
};

// Response to an ExternalRequestRecord (24 bytes in the 32-bit build,
// zero-filled by the plug-in, filled by the host; the host owns the memory
// it points to):
//    0  u32      transport code, 0 when a response arrived
//    4  u32      HTTP status
//    8  pointer  headers (array of HostHeaderEntry)
//   12  u32      header count
//   16  pointer  body bytes
//   20  u32      body length
struct ExternalResponseRecord {
    uint32_t transportCode;
    uint32_t status;
    const HostHeaderEntry* headers;
    uint32_t headerCount;
    const uint8_t* body;
    uint32_t bodyLength;
};

#if KORVEL_ABI_32
static_assert(sizeof(HostHeaderEntry) == 8);
static_assert(offsetof(HostHeaderEntry, value) == 4);
static_assert(sizeof(ExternalRequestRecord) == 32);
static_assert(offsetof(ExternalRequestRecord, method) == 0);
static_assert(offsetof(ExternalRequestRecord, url) == 4);
static_assert(offsetof(ExternalRequestRecord, headers) == 8);
static_assert(offsetof(ExternalRequestRecord, headerCount) == 12);
static_assert(offsetof(ExternalRequestRecord, body) == 16);
static_assert(offsetof(ExternalRequestRecord, bodyLength) == 20);
static_assert(offsetof(ExternalRequestRecord, timeLimit) == 24);
static_assert(offsetof(ExternalRequestRecord, flag) == 28);
static_assert(sizeof(ExternalResponseRecord) == 24);
static_assert(offsetof(ExternalResponseRecord, transportCode) == 0);
static_assert(offsetof(ExternalResponseRecord, status) == 4);
static_assert(offsetof(ExternalResponseRecord, headers) == 8);
static_assert(offsetof(ExternalResponseRecord, headerCount) == 12);
static_assert(offsetof(ExternalResponseRecord, body) == 16);
static_assert(offsetof(ExternalResponseRecord, bodyLength) == 20);
#endif

} // namespace Korvel
