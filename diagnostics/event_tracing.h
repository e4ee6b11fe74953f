#pragma once

#include <cstdint>

// The library's event-tracing providers (Event Tracing for Windows). The
// tracing functions are looked up at run time in "Advapi32.dll"; where they
// are missing every operation here silently does nothing. Tests inject their
// own functions with StartTracingWith.
namespace Korvel::Tracing {

#if defined(_WIN32) && defined(_M_IX86) || defined(_WIN32) && defined(__i386__)
#define KORVEL_TRACING_API __stdcall
#else
#define KORVEL_TRACING_API
#endif

// The layouts of GUID, EVENT_DESCRIPTOR and EVENT_DATA_DESCRIPTOR.
struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

struct EventDescriptor {
    uint16_t id;
    uint8_t version;
    uint8_t channel;
    uint8_t level;
    uint8_t opcode;
    uint16_t task;
    uint64_t keyword;
};

struct EventDataDescriptor {
    uint64_t pointer; // address of the data
    uint32_t size;
    uint32_t reserved;
};

inline constexpr uint32_t kControlDisable = 0;
inline constexpr uint32_t kControlEnable = 1;

using EnableCallbackFunction = void(KORVEL_TRACING_API*)(const Guid* sourceId, uint32_t controlCode,
                                                         uint8_t level, uint64_t matchAnyKeyword,
                                                         uint64_t matchAllKeyword, void* filterData,
                                                         void* context);
using EventRegisterFunction = uint32_t(KORVEL_TRACING_API*)(const Guid* providerId,
                                                            EnableCallbackFunction callback,
                                                            void* context, uint64_t* handle);
using EventWriteFunction = uint32_t(KORVEL_TRACING_API*)(uint64_t handle,
                                                         const EventDescriptor* descriptor,
                                                         uint32_t count, EventDataDescriptor* data);
using EventUnregisterFunction = uint32_t(KORVEL_TRACING_API*)(uint64_t handle);

struct TracingFunctions {
    EventRegisterFunction eventRegister;
    EventWriteFunction eventWrite;
    EventUnregisterFunction eventUnregister;
};

// The enable context of a provider (the layout of a manifest provider's
// trace context).
struct TraceContext {
    uint64_t registrationHandle;
    uint64_t logger;
    uint64_t matchAnyKeyword;
    uint64_t matchAllKeyword;
    uint32_t flags;
    uint32_t isEnabled;
    uint8_t level;
    uint8_t reserved;
    uint16_t eventCount;
    uint32_t* enableBits;
    const uint64_t* eventKeywords;
    const uint8_t* eventLevels;
};

inline constexpr int kProviderCount = 4;
// {6A1C0E3B-2F47-4D8E-9B15-7C3E2A90D416}, {B3D95F20-8E61-4C2A-A7F4-19E0C6B85D73},
// {51E7A8C4-0D39-4B6F-8C22-E4F17A3096BB}, {C80F2D61-7A5E-4E93-B1D8-2A6C94F0E35C}
const Guid& ProviderGuid(int index);
// The enable context of provider `index` (0 to 3, in registration order).
TraceContext& ProviderContext(int index);

// The thread-name event, written on the second provider.
inline constexpr EventDescriptor kThreadNameEvent{103, 0, 0, 0, 14, 2, 0x1};
inline constexpr const char kMainThreadName[] = "Main thread";

// Start-up: looks up the tracing functions in "Advapi32.dll" (stopping
// silently when the library is missing), registers the four providers and
// writes the thread-name event for the calling thread when a session has
// enabled it.
void StartTracing();
// The same start-up with the given functions instead of the lookup; a null
// entry counts as not found.
void StartTracingWith(const TracingFunctions& functions);
// Shutdown: unregisters the providers in reverse order.
void StopTracing();
// The functions in use (null entries when not found).
TracingFunctions CurrentTracingFunctions();

// The enable callback passed to EventRegister; `context` is a TraceContext.
void KORVEL_TRACING_API EnableCallback(const Guid* sourceId, uint32_t controlCode, uint8_t level,
                                       uint64_t matchAnyKeyword, uint64_t matchAllKeyword,
                                       void* filterData, void* context);

// Writes the thread-name event: the thread id (4 bytes) and the name with
// its NUL; an absent name is sent as "NULL".
void WriteThreadName(uint64_t handle, const EventDescriptor* descriptor, uint32_t threadId,
                     const char* name);

} // namespace Korvel::Tracing
