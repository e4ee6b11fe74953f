#pragma once

#include "plugin/calling_convention.h"
#include "plugin/external_request_records.h"
#include "plugin/host_event_record.h"
#include "plugin/host_resource_records.h"

#include <cstddef>
#include <cstdint>

namespace Korvel {

struct HostFunctionTable;

// Called by the host once per SetTimer, with the user data given there.
using HostTimerCallback = void(KORVEL_CDECL*)(void* userData);

// The host functions, each taking the address of the table first (the table
// is also the host's identity). Texts are NUL-terminated and owned by the
// caller for the duration of the call.
using HostSendRequestFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host,
                                                    HostResourceResponse* response,
                                                    const HostResourceRequest* request);
using HostSendExternalRequestFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host,
                                                            ExternalResponseRecord* response,
                                                            const ExternalRequestRecord* request);
using HostFireEventFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host,
                                                  const HostEventRecord* event);
using HostSubscribeFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host,
                                                  const char* eventName, uint32_t pluginId,
                                                  HostEventCallback callback, void* userData,
                                                  uint32_t flag);
using HostUnsubscribeFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host,
                                                    const char* eventName, uint32_t pluginId);
using HostSetTimerFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host, const char* label,
                                                 HostTimerCallback callback, void* userData,
                                                 double delaySeconds, uint32_t flags);
using HostYieldFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host);
using HostBeginWaitFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host, const char* label,
                                                  uint32_t flags);
using HostEndWaitFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host);
using HostLogFunction = void(KORVEL_CDECL*)(const HostFunctionTable* host, int32_t level,
                                            const char* text);

// The table of host functions (40 bytes in the 32-bit build):
//    0  SendRequest          (response out, request in)
//    4  SendExternalRequest  (response out, request in)
//    8  FireEvent            (event)
//   12  Subscribe            (event name, plug-in id, callback, user data, flag)
//   16  Unsubscribe          (event name, plug-in id)
//   20  SetTimer             (label, callback, user data, delay in seconds, flags = 0)
//   24  Yield                ()
//   28  BeginWait            (label, flags = 0)
//   32  EndWait              ()
//   36  Log                  (level, text)
struct HostFunctionTable {
    HostSendRequestFunction sendRequest;
    HostSendExternalRequestFunction sendExternalRequest;
    HostFireEventFunction fireEvent;
    HostSubscribeFunction subscribe;
    HostUnsubscribeFunction unsubscribe;
    HostSetTimerFunction setTimer;
    HostYieldFunction yield;
    HostBeginWaitFunction beginWait;
    HostEndWaitFunction endWait;
    HostLogFunction log;
};

// What the host hands the plug-in at initialisation (8 bytes in the 32-bit
// build); the host keeps it alive while the plug-in lives:
//   0  pointer  the host function table
//   4  u32      the plug-in id the host assigned
struct HostContext {
    const HostFunctionTable* functions;
    uint32_t pluginId;
};

#if KORVEL_ABI_32
static_assert(sizeof(HostFunctionTable) == 40);
static_assert(offsetof(HostFunctionTable, sendRequest) == 0);
static_assert(offsetof(HostFunctionTable, sendExternalRequest) == 4);
static_assert(offsetof(HostFunctionTable, fireEvent) == 8);
static_assert(offsetof(HostFunctionTable, subscribe) == 12);
static_assert(offsetof(HostFunctionTable, unsubscribe) == 16);
static_assert(offsetof(HostFunctionTable, setTimer) == 20);
static_assert(offsetof(HostFunctionTable, yield) == 24);
static_assert(offsetof(HostFunctionTable, beginWait) == 28);
static_assert(offsetof(HostFunctionTable, endWait) == 32);
static_assert(offsetof(HostFunctionTable, log) == 36);
static_assert(sizeof(HostContext) == 8);
static_assert(offsetof(HostContext, functions) == 0);
static_assert(offsetof(HostContext, pluginId) == 4);
#endif

} // namespace Korvel
