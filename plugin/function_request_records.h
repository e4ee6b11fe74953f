#pragma once

#include "plugin/calling_convention.h"
#include "plugin/external_request_records.h"
#include "plugin/host_resource_records.h"
#include "plugin/host_value.h"

#include <cstddef>
#include <cstdint>

// The records of a call from the host into one of the plug-in's declared functions. The host
// takes the function's entry point and user data from the API declaration (api_declaration.h),
// fills a request record, hands the entry point a response record and the request, and reads the
// response afterwards.
//
// Both records are packed to one byte, so that their layout is the same with every compiler; in
// the 32-bit build every pointer is 4 bytes wide and the offsets below hold.
namespace Korvel {

#pragma pack(push, 1)

// A call of a declared function (48 bytes in the 32-bit build). The host owns the record and
// everything it points to for the duration of the call.
//    0  u32      method code (HttpMethod; codes outside 1 to 8 count as 0)
//    4  pointer  method name for the custom method 8, or null
//    8  pointer  request path, query part included, NUL-terminated
//   12  pointer  headers (array of HostHeaderEntry: name, value)
//   16  u32      header count
//   20  pointer  arguments (array of HostArgument: name or null, HostValue)
//   24  u32      argument count
//   28  pointer  content type of the body, or null
//   32  pointer  body bytes, or null
//   36  u32      body length in bytes
//   40  u32      opaque token, passed to the function unchanged
//   44  pointer  the user data of the function's declaration entry
// A count with a null array, a header without a name, a body length with a null body and a null
// path are refused with status 400; a null header value, method name or content type counts as
// the empty text.
struct HostFunctionRequest {
    uint32_t method;
    const char* methodText;
    const char* path;
    const HostHeaderEntry* headers;
    uint32_t headerCount;
    const HostArgument* arguments;
    uint32_t argumentCount;
    const char* contentType;
    const uint8_t* body;
    uint32_t bodyLength;
    uint32_t token;
    const void* userData;
};

struct HostFunctionResponse;

// Reads the response body from a body stream: copies up to *length bytes starting at `position`
// into `buffer` and stores the number of bytes copied in *length (0 at the end). Returns false
// when the body cannot be read.
using HostBodyReadFunction = bool(KORVEL_CDECL*)(void* stream, uint32_t position, void* buffer,
                                                 uint32_t* length);
// Frees a body stream; the host calls it once it is done with the stream.
using HostBodyReleaseFunction = void(KORVEL_CDECL*)(void* stream);
// Frees what the plug-in put into a response record (the value tree, the status text and the
// headers, not the body stream) and zeroes those fields; the host calls it once it has read the
// record.
using HostFunctionResponseRelease = void(KORVEL_CDECL*)(HostFunctionResponse* response);

// The outcome of a call (57 bytes in the 32-bit build). The host provides the record; the
// plug-in fills every field. Everything it points to is owned by the plug-in until the host
// calls `release` (and, for a body stream, `releaseStream`).
//    0  12 bytes value (HostValue): the function's result, or the failure message as text
//   12  u8       flag byte
//   13  u32      content kind (0 other, 1 JSON, 2 YAML, 3 MessagePack)
//   17  i32      status (0 unless the function set one; 404 for a request that does not fit
//                the function's route, 400 for a malformed request record)
//   21  pointer  status text, NUL-terminated (the empty text when none)
//   25  pointer  headers (array of HostHeaderEntry), or null
//   29  u32      header count
//   33  pointer  body stream, or null when the response has no body
//   37  u32      body size in bytes
//   41  u32      read position, 0; the host's to advance
//   45  pointer  read function of the body stream, or null
//   49  pointer  release function of the body stream, or null
//   53  pointer  release function of the record
struct HostFunctionResponse {
    HostValue value;
    uint8_t flag;
    uint32_t contentKind;
    int32_t status;
    const char* statusText;
    const HostHeaderEntry* headers;
    uint32_t headerCount;
    void* bodyStream;
    uint32_t bodySize;
    uint32_t bodyPosition;
    HostBodyReadFunction read;
    HostBodyReleaseFunction releaseStream;
    HostFunctionResponseRelease release;
};

#pragma pack(pop)

// The per-function entry point of the declaration.
using HostFunctionEntryPoint = void(KORVEL_CDECL*)(HostFunctionResponse* response,
                                                   const HostFunctionRequest* request);

#if KORVEL_ABI_32
static_assert(sizeof(HostFunctionRequest) == 48);
static_assert(offsetof(HostFunctionRequest, method) == 0);
static_assert(offsetof(HostFunctionRequest, methodText) == 4);
static_assert(offsetof(HostFunctionRequest, path) == 8);
static_assert(offsetof(HostFunctionRequest, headers) == 12);
static_assert(offsetof(HostFunctionRequest, headerCount) == 16);
static_assert(offsetof(HostFunctionRequest, arguments) == 20);
static_assert(offsetof(HostFunctionRequest, argumentCount) == 24);
static_assert(offsetof(HostFunctionRequest, contentType) == 28);
static_assert(offsetof(HostFunctionRequest, body) == 32);
static_assert(offsetof(HostFunctionRequest, bodyLength) == 36);
static_assert(offsetof(HostFunctionRequest, token) == 40);
static_assert(offsetof(HostFunctionRequest, userData) == 44);
static_assert(sizeof(HostFunctionResponse) == 57);
static_assert(offsetof(HostFunctionResponse, value) == 0);
static_assert(offsetof(HostFunctionResponse, flag) == 12);
static_assert(offsetof(HostFunctionResponse, contentKind) == 13);
static_assert(offsetof(HostFunctionResponse, status) == 17);
static_assert(offsetof(HostFunctionResponse, statusText) == 21);
static_assert(offsetof(HostFunctionResponse, headers) == 25);
static_assert(offsetof(HostFunctionResponse, headerCount) == 29);
static_assert(offsetof(HostFunctionResponse, bodyStream) == 33);
static_assert(offsetof(HostFunctionResponse, bodySize) == 37);
static_assert(offsetof(HostFunctionResponse, bodyPosition) == 41);
static_assert(offsetof(HostFunctionResponse, read) == 45);
static_assert(offsetof(HostFunctionResponse, releaseStream) == 49);
static_assert(offsetof(HostFunctionResponse, release) == 53);
#endif

} // namespace Korvel
