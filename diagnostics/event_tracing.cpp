#include "diagnostics/event_tracing.h"

#include <atomic>
#include <cstring>

#include "platform/dynamic_library.h"
#include "platform/thread_id.h"

namespace Korvel::Tracing {
namespace {

constexpr Guid kProviderGuids[kProviderCount] = {
    {0x6A1C0E3B, 0x2F47, 0x4D8E, {0x9B, 0x15, 0x7C, 0x3E, 0x2A, 0x90, 0xD4, 0x16}},
    {0xB3D95F20, 0x8E61, 0x4C2A, {0xA7, 0xF4, 0x19, 0xE0, 0xC6, 0xB8, 0x5D, 0x73}},
    {0x51E7A8C4, 0x0D39, 0x4B6F, {0x8C, 0x22, 0xE4, 0xF1, 0x7A, 0x30, 0x96, 0xBB}},
    {0xC80F2D61, 0x7A5E, 0x4E93, {0xB1, 0xD8, 0x2A, 0x6C, 0x94, 0xF0, 0xE3, 0x5C}},
};

// Keywords and levels of each provider's events.
constexpr uint64_t kKeywords1[] = {0x1};
constexpr uint64_t kKeywords2[] = {0x1};
constexpr uint64_t kKeywords3[] = {0x0};
constexpr uint64_t kKeywords4[] = {0x1, 0x2};
constexpr uint8_t kLevels1[] = {0};
constexpr uint8_t kLevels2[] = {0};
constexpr uint8_t kLevels3[] = {0};
constexpr uint8_t kLevels4[] = {0, 0};

uint32_t enableBits[kProviderCount][1] = {};

TraceContext contexts[kProviderCount] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 1, enableBits[0], kKeywords1, kLevels1},
    {0, 0, 0, 0, 0, 0, 0, 0, 1, enableBits[1], kKeywords2, kLevels2},
    {0, 0, 0, 0, 0, 0, 0, 0, 1, enableBits[2], kKeywords3, kLevels3},
    {0, 0, 0, 0, 0, 0, 0, 0, 2, enableBits[3], kKeywords4, kLevels4},
};

TracingFunctions functions{};

bool EventPasses(const TraceContext& context, int event, uint8_t level, uint64_t matchAny,
                 uint64_t matchAll) {
    const uint8_t eventLevel = context.eventLevels[event];
    const uint64_t keyword = context.eventKeywords[event];
    const bool levelPasses = level == 0 || eventLevel <= level;
    const bool keywordPasses =
        keyword == 0 || ((keyword & matchAny) != 0 && (keyword & matchAll) == matchAll);
    return levelPasses && keywordPasses;
}

std::atomic_ref<uint32_t> EnableWord(TraceContext& context, int event) {
    return std::atomic_ref<uint32_t>(context.enableBits[event / 32]);
}

} // namespace

const Guid& ProviderGuid(int index) {
    return kProviderGuids[index];
}

TraceContext& ProviderContext(int index) {
    return contexts[index];
}

void KORVEL_TRACING_API EnableCallback(const Guid*, uint32_t controlCode, uint8_t level,
                                       uint64_t matchAnyKeyword, uint64_t matchAllKeyword, void*,
                                       void* callbackContext) {
    if (callbackContext == nullptr) {
        return;
    }
    auto& context = *static_cast<TraceContext*>(callbackContext);
    if (controlCode == kControlEnable) {
        context.level = level;
        context.matchAnyKeyword = matchAnyKeyword;
        context.matchAllKeyword = matchAllKeyword;
        context.isEnabled = 1;
        for (int i = 0; i < context.eventCount; ++i) {
            const uint32_t bit = uint32_t{1} << (i % 32);
            if (EventPasses(context, i, level, matchAnyKeyword, matchAllKeyword)) {
                EnableWord(context, i).fetch_or(bit);
            } else {
                EnableWord(context, i).fetch_and(~bit);
            }
        }
    } else if (controlCode == kControlDisable) {
        context.isEnabled = 0;
        context.level = 0;
        context.matchAnyKeyword = 0;
        context.matchAllKeyword = 0;
        for (int i = 0; i < context.eventCount; i += 32) {
            EnableWord(context, i).store(0);
        }
    }
}

void WriteThreadName(uint64_t handle, const EventDescriptor* descriptor, uint32_t threadId,
                     const char* name) {
    if (handle == 0 || functions.eventWrite == nullptr || descriptor == nullptr) {
        return;
    }
    const char* text = name != nullptr ? name : "NULL";
    EventDataDescriptor data[2] = {};
    data[0].pointer = reinterpret_cast<uintptr_t>(&threadId);
    data[0].size = sizeof threadId;
    data[1].pointer = reinterpret_cast<uintptr_t>(text);
    data[1].size = static_cast<uint32_t>(std::strlen(text) + 1);
    functions.eventWrite(handle, descriptor, 2, data);
}

void StartTracingWith(const TracingFunctions& found) {
    functions = found;
    for (int i = 0; i < kProviderCount; ++i) {
        TraceContext& context = contexts[i];
        if (context.registrationHandle == 0 && functions.eventRegister != nullptr) {
            // The result is not examined: a failed registration leaves the
            // handle at 0 and the provider silent.
            functions.eventRegister(&kProviderGuids[i], &EnableCallback, &context,
                                    &context.registrationHandle);
        }
    }
    TraceContext& threads = contexts[1];
    if ((EnableWord(threads, 0).load() & 1u) != 0) {
        WriteThreadName(threads.registrationHandle, &kThreadNameEvent, Platform::CurrentThreadId(),
                        kMainThreadName);
    }
}

void StartTracing() {
    // The library stays loaded for the life of the process, as the providers
    // may be called back at any time until they are unregistered.
    Platform::LibraryHandle advapi = Platform::OpenLibrary("Advapi32.dll");
    if (advapi == nullptr) {
        return;
    }
    TracingFunctions found{};
    found.eventRegister = reinterpret_cast<EventRegisterFunction>(
        Platform::FindLibraryFunction(advapi, "EventRegister"));
    found.eventWrite =
        reinterpret_cast<EventWriteFunction>(Platform::FindLibraryFunction(advapi, "EventWrite"));
    found.eventUnregister = reinterpret_cast<EventUnregisterFunction>(
        Platform::FindLibraryFunction(advapi, "EventUnregister"));
    StartTracingWith(found);
}

void StopTracing() {
    for (int i = kProviderCount - 1; i >= 0; --i) {
        TraceContext& context = contexts[i];
        if (context.registrationHandle != 0 && functions.eventUnregister != nullptr) {
            functions.eventUnregister(context.registrationHandle);
            context.registrationHandle = 0;
        }
    }
}

TracingFunctions CurrentTracingFunctions() {
    return functions;
}

} // namespace Korvel::Tracing
