// The plug-in DLL as Windows loads it: its event-tracing providers at load
// and unload, and its default log targets (standard error and the debugger
// channel), also when the system's tracing functions are missing.
#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/event_tracing.h"
#include "support/test_host.h"

namespace Korvel::Testing {
namespace {

// An exported function of a loaded module, as a plain address.
void* Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

std::wstring PluginPath() {
    std::wstring path;
    for (const char* c = KORVEL_PLUGIN_PATH; *c != '\0'; ++c) {
        path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
    }
    return path;
}

// --- The debugger channel ---------------------------------------------------

// OutputDebugStringA raises this exception with the text; a vectored handler
// sees it before the system's own handler takes it.
constexpr DWORD kDebugPrintException = 0x40010006;
std::vector<std::string>* debuggerTexts = nullptr;

LONG CALLBACK WatchDebugPrint(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (record.ExceptionCode == kDebugPrintException && record.NumberParameters >= 2 &&
        debuggerTexts != nullptr) {
        const auto* text = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
        debuggerTexts->emplace_back(text, record.ExceptionInformation[0] - 1);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Loads the library with a host version it refuses, which makes it log its
// marker before any host target exists, and checks that the line reaches
// standard error and the debugger channel in the default targets' form
// "#E(#T): #L| #M": module name, thread id, level, message.
void ExpectLoadsAndLogs() {
    std::vector<std::string> channel;
    debuggerTexts = &channel;
    PVOID watcher = AddVectoredExceptionHandler(1, &WatchDebugPrint);
    ASSERT_NE(watcher, nullptr);
    {
        TestHost host;
        ::testing::internal::CaptureStderr();
        host.Load({17, 9, 9});
        const std::string output = ::testing::internal::GetCapturedStderr();
        RemoveVectoredExceptionHandler(watcher);
        debuggerTexts = nullptr;

        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "plugin_tests.exe(%08X):  ERROR| ",
                      static_cast<unsigned>(GetCurrentThreadId()));
        const std::string marker =
            std::string(prefix) + "Assertion failed!\n\nExpression: ALE-EECF0606\n";
        EXPECT_NE(output.find(marker), std::string::npos) << output;
        EXPECT_NE(std::find(channel.begin(), channel.end(), marker), channel.end());
        // Both targets take the same lines.
        std::string channelText;
        for (const std::string& text : channel) {
            channelText += text;
        }
        EXPECT_EQ(channelText, output);

        // The plug-in works all the same.
        ASSERT_TRUE(host.Initialize());
        EXPECT_FALSE(host.Subscriptions().empty());
    }
    EXPECT_EQ(GetModuleHandleW(PluginPath().c_str()), nullptr);
}

TEST(WindowsLibrary, DefaultTargetsWriteToStandardErrorAndTheDebuggerChannel) {
    ExpectLoadsAndLogs();
}

TEST(WindowsLibrary, LoadsAndLogsWithoutAdvapi32) {
    const bool mustBeAbsent = std::getenv("KORVEL_EXPECT_NO_ADVAPI32") != nullptr;
    if (HMODULE advapi = LoadLibraryW(L"Advapi32.dll")) {
        FreeLibrary(advapi);
        ASSERT_FALSE(mustBeAbsent) << "Advapi32.dll was to be disabled for this run";
        GTEST_SKIP() << "Advapi32.dll is present; the test plugin_without_advapi32 runs this "
                        "with Wine's advapi32 disabled";
    }
    ExpectLoadsAndLogs();
}

// --- The tracing providers at load and unload ------------------------------

#if defined(_WIN64)

// Sends every call of a function to another one with the same signature,
// by writing an absolute jump over the function's first bytes. The relay
// calls the original through Call, which lifts the jump for the duration.
class CodePatch {
public:
    CodePatch(void* target, const void* relay) : target_(static_cast<unsigned char*>(target)) {
        std::memcpy(saved_, target_, kSize);
        // movabs rax, relay; jmp rax
        jump_[0] = 0x48;
        jump_[1] = 0xB8;
        const auto address = reinterpret_cast<uintptr_t>(relay);
        std::memcpy(jump_ + 2, &address, sizeof address);
        jump_[10] = 0xFF;
        jump_[11] = 0xE0;
        Write(jump_);
    }
    ~CodePatch() { Write(saved_); }
    CodePatch(const CodePatch&) = delete;
    CodePatch& operator=(const CodePatch&) = delete;

    template <typename Function, typename... Arguments>
    auto Call(Function original, Arguments... arguments) {
        Write(saved_);
        const auto result = original(arguments...);
        Write(jump_);
        return result;
    }

private:
    static constexpr size_t kSize = 12;

    void Write(const unsigned char* bytes) {
        DWORD previous = 0;
        VirtualProtect(target_, kSize, PAGE_EXECUTE_READWRITE, &previous);
        std::memcpy(target_, bytes, kSize);
        VirtualProtect(target_, kSize, previous, &previous);
        FlushInstructionCache(GetCurrentProcess(), target_, kSize);
    }

    unsigned char* target_;
    unsigned char saved_[kSize];
    unsigned char jump_[kSize];
};

struct TracingCall {
    bool registering; // false: unregistering
    int provider;     // 0 to 3, in the library's registration order
    uint32_t status;  // what the system returned
    uint64_t systemHandle;
};

// What the library's own calls of the system's tracing functions return,
// recorded between the library and the system. The library is handed one
// handle per provider of its own, so that its unregistrations can be told
// apart even where the system gives every provider the same handle.
struct TracingRelay {
    Tracing::TracingFunctions system{};
    CodePatch* registerPatch = nullptr;
    CodePatch* writePatch = nullptr;
    CodePatch* unregisterPatch = nullptr;
    std::vector<TracingCall> calls;
    std::vector<uint64_t> systemHandles; // by provider
};

TracingRelay* tracingRelay = nullptr;
constexpr uint64_t kRelayHandleBase = 0x7E570000;

int ProviderIndex(const Tracing::Guid* guid) {
    for (int i = 0; i < Tracing::kProviderCount; ++i) {
        if (std::memcmp(guid, &Tracing::ProviderGuid(i), sizeof(Tracing::Guid)) == 0) {
            return i;
        }
    }
    return -1;
}

uint32_t RelayRegister(const Tracing::Guid* provider, Tracing::EnableCallbackFunction callback,
                       void* context, uint64_t* handle) {
    TracingRelay& relay = *tracingRelay;
    uint64_t systemHandle = 0;
    const uint32_t status = relay.registerPatch->Call(relay.system.eventRegister, provider,
                                                      callback, context, &systemHandle);
    const int index = ProviderIndex(provider);
    relay.calls.push_back({true, index, status, systemHandle});
    if (status == ERROR_SUCCESS && index >= 0) {
        relay.systemHandles[static_cast<size_t>(index)] = systemHandle;
        *handle = kRelayHandleBase + static_cast<uint64_t>(index);
    }
    return status;
}

uint64_t SystemHandle(uint64_t relayHandle) {
    const uint64_t index = relayHandle - kRelayHandleBase;
    return index < Tracing::kProviderCount ? tracingRelay->systemHandles[index] : relayHandle;
}

uint32_t RelayWrite(uint64_t handle, const Tracing::EventDescriptor* descriptor, uint32_t count,
                    Tracing::EventDataDescriptor* data) {
    return tracingRelay->writePatch->Call(tracingRelay->system.eventWrite, SystemHandle(handle),
                                          descriptor, count, data);
}

uint32_t RelayUnregister(uint64_t handle) {
    TracingRelay& relay = *tracingRelay;
    const uint64_t systemHandle = SystemHandle(handle);
    const uint32_t status = relay.unregisterPatch->Call(relay.system.eventUnregister, systemHandle);
    relay.calls.push_back(
        {false, static_cast<int>(handle - kRelayHandleBase), status, systemHandle});
    return status;
}

TEST(WindowsLibrary, RegistersTracingProvidersAtLoadAndUnregistersThemInReverseAtUnload) {
    HMODULE advapi = LoadLibraryW(L"Advapi32.dll");
    if (advapi == nullptr) {
        GTEST_SKIP() << "Advapi32.dll cannot be loaded (disabled, as in the test "
                        "plugin_without_advapi32); LoadsAndLogsWithoutAdvapi32 covers that";
    }
    TracingRelay relay;
    relay.systemHandles.assign(Tracing::kProviderCount, 0);
    // The addresses the library's own look-up finds: the system's functions.
    relay.system.eventRegister =
        reinterpret_cast<Tracing::EventRegisterFunction>(Lookup(advapi, "EventRegister"));
    relay.system.eventWrite =
        reinterpret_cast<Tracing::EventWriteFunction>(Lookup(advapi, "EventWrite"));
    relay.system.eventUnregister =
        reinterpret_cast<Tracing::EventUnregisterFunction>(Lookup(advapi, "EventUnregister"));
    ASSERT_NE(relay.system.eventRegister, nullptr);
    ASSERT_NE(relay.system.eventWrite, nullptr);
    ASSERT_NE(relay.system.eventUnregister, nullptr);

    size_t callsAtLoad = 0;
    {
        tracingRelay = &relay;
        CodePatch registerPatch(reinterpret_cast<void*>(relay.system.eventRegister),
                                reinterpret_cast<const void*>(&RelayRegister));
        CodePatch writePatch(reinterpret_cast<void*>(relay.system.eventWrite),
                             reinterpret_cast<const void*>(&RelayWrite));
        CodePatch unregisterPatch(reinterpret_cast<void*>(relay.system.eventUnregister),
                                  reinterpret_cast<const void*>(&RelayUnregister));
        relay.registerPatch = &registerPatch;
        relay.writePatch = &writePatch;
        relay.unregisterPatch = &unregisterPatch;

        HMODULE library = LoadLibraryW(PluginPath().c_str());
        callsAtLoad = relay.calls.size();
        ASSERT_NE(library, nullptr) << "error " << GetLastError();
        EXPECT_NE(FreeLibrary(library), FALSE);
        EXPECT_EQ(GetModuleHandleW(PluginPath().c_str()), nullptr);
    }
    tracingRelay = nullptr;
    FreeLibrary(advapi);

    // Loading registered the four providers in order, unloading unregistered
    // them in reverse, and the system accepted every call.
    EXPECT_EQ(callsAtLoad, 4u);
    ASSERT_EQ(relay.calls.size(), 8u);
    for (int i = 0; i < Tracing::kProviderCount; ++i) {
        const TracingCall& registration = relay.calls[static_cast<size_t>(i)];
        SCOPED_TRACE("registration " + std::to_string(i + 1));
        EXPECT_TRUE(registration.registering);
        EXPECT_EQ(registration.provider, i);
        EXPECT_EQ(registration.status, static_cast<uint32_t>(ERROR_SUCCESS));
        EXPECT_NE(registration.systemHandle, 0u);
    }
    for (int i = 0; i < Tracing::kProviderCount; ++i) {
        const TracingCall& unregistration = relay.calls[static_cast<size_t>(4 + i)];
        const int provider = Tracing::kProviderCount - 1 - i;
        SCOPED_TRACE("unregistration " + std::to_string(i + 1));
        EXPECT_FALSE(unregistration.registering);
        EXPECT_EQ(unregistration.provider, provider);
        EXPECT_EQ(unregistration.status, static_cast<uint32_t>(ERROR_SUCCESS));
        EXPECT_EQ(unregistration.systemHandle,
                  relay.calls[static_cast<size_t>(provider)].systemHandle);
    }
}

#endif // _WIN64

} // namespace
} // namespace Korvel::Testing

#endif // _WIN32
