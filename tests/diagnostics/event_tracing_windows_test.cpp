// Event tracing against the system's own tracing functions. Start-up and
// shutdown run here exactly as the plug-in library runs them when it is
// loaded and unloaded; the library's own load and unload are checked in
// tests/plugin/windows_library_test.cpp.
#ifdef _WIN32

#include <windows.h>

#include <evntprov.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/event_tracing.h"

namespace Korvel::Tracing {
namespace {

// An exported function of a loaded module, as a plain address.
void* Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

int ProviderIndex(const Guid* guid) {
    for (int i = 0; i < kProviderCount; ++i) {
        if (std::memcmp(guid, &ProviderGuid(i), sizeof(Guid)) == 0) {
            return i;
        }
    }
    return -1;
}

// Every call the library made to a system function and what it returned.
struct SystemCall {
    bool registering; // false: unregistering
    int provider;
    uint32_t status;
    uint64_t systemHandle;
};

// Stands between the library and the system's functions: forwards every
// call and records its result. The library is handed one handle per
// provider of its own, so that its unregistrations can be told apart even
// where the system gives every provider the same handle.
struct Relay {
    TracingFunctions system{};
    std::vector<SystemCall> calls;
    std::map<uint64_t, std::pair<int, uint64_t>> handles; // relay handle -> provider, system's
};

Relay* relay = nullptr;
constexpr uint64_t kRelayHandleBase = 0x7E570000;

uint32_t KORVEL_TRACING_API RelayRegister(const Guid* provider, EnableCallbackFunction callback,
                                          void* context, uint64_t* handle) {
    uint64_t systemHandle = 0;
    const uint32_t status = relay->system.eventRegister(provider, callback, context, &systemHandle);
    const int index = ProviderIndex(provider);
    relay->calls.push_back({true, index, status, systemHandle});
    if (status == ERROR_SUCCESS) {
        *handle = kRelayHandleBase + static_cast<uint64_t>(index);
        relay->handles[*handle] = {index, systemHandle};
    }
    return status;
}

uint32_t KORVEL_TRACING_API RelayWrite(uint64_t handle, const EventDescriptor* descriptor,
                                       uint32_t count, EventDataDescriptor* data) {
    return relay->system.eventWrite(relay->handles.at(handle).second, descriptor, count, data);
}

uint32_t KORVEL_TRACING_API RelayUnregister(uint64_t handle) {
    const auto [index, systemHandle] = relay->handles.at(handle);
    const uint32_t status = relay->system.eventUnregister(systemHandle);
    relay->calls.push_back({false, index, status, systemHandle});
    return status;
}

// The library's own records are handed to the system as its GUID, EVENT_DESCRIPTOR and
// EVENT_DATA_DESCRIPTOR.
TEST(EventTracingRecords, MatchTheSystemsLayouts) {
    EXPECT_EQ(sizeof(Guid), sizeof(GUID));
    EXPECT_EQ(offsetof(Guid, data2), offsetof(GUID, Data2));
    EXPECT_EQ(offsetof(Guid, data3), offsetof(GUID, Data3));
    EXPECT_EQ(offsetof(Guid, data4), offsetof(GUID, Data4));
    EXPECT_EQ(sizeof(EventDescriptor), sizeof(EVENT_DESCRIPTOR));
    EXPECT_EQ(offsetof(EventDescriptor, version), offsetof(EVENT_DESCRIPTOR, Version));
    EXPECT_EQ(offsetof(EventDescriptor, channel), offsetof(EVENT_DESCRIPTOR, Channel));
    EXPECT_EQ(offsetof(EventDescriptor, level), offsetof(EVENT_DESCRIPTOR, Level));
    EXPECT_EQ(offsetof(EventDescriptor, opcode), offsetof(EVENT_DESCRIPTOR, Opcode));
    EXPECT_EQ(offsetof(EventDescriptor, task), offsetof(EVENT_DESCRIPTOR, Task));
    EXPECT_EQ(offsetof(EventDescriptor, keyword), offsetof(EVENT_DESCRIPTOR, Keyword));
    EXPECT_EQ(sizeof(EventDataDescriptor), sizeof(EVENT_DATA_DESCRIPTOR));
    EXPECT_EQ(offsetof(EventDataDescriptor, size), offsetof(EVENT_DATA_DESCRIPTOR, Size));
    EXPECT_EQ(offsetof(EventDataDescriptor, reserved), offsetof(EVENT_DATA_DESCRIPTOR, Reserved));
}

class EventTracingOnWindows : public ::testing::Test {
protected:
    void SetUp() override {
        advapi_ = LoadLibraryW(L"Advapi32.dll");
        if (advapi_ == nullptr) {
            GTEST_SKIP()
                << "Advapi32.dll cannot be loaded (disabled, as in the test "
                   "diagnostics_without_advapi32); EventTracing.WithoutAdvapi* covers that";
        }
        system_.eventRegister =
            reinterpret_cast<EventRegisterFunction>(Lookup(advapi_, "EventRegister"));
        system_.eventWrite = reinterpret_cast<EventWriteFunction>(Lookup(advapi_, "EventWrite"));
        system_.eventUnregister =
            reinterpret_cast<EventUnregisterFunction>(Lookup(advapi_, "EventUnregister"));
        ASSERT_NE(system_.eventRegister, nullptr);
        ASSERT_NE(system_.eventWrite, nullptr);
        ASSERT_NE(system_.eventUnregister, nullptr);
    }
    void TearDown() override {
        StopTracing();
        StartTracingWith(TracingFunctions{});
        relay = nullptr;
        if (advapi_ != nullptr) {
            FreeLibrary(advapi_);
        }
    }
    HMODULE advapi_ = nullptr;
    TracingFunctions system_{};
};

TEST_F(EventTracingOnWindows, StartUpFindsAdvapiAndRegistersEveryProvider) {
    StartTracing();
    const TracingFunctions found = CurrentTracingFunctions();
    EXPECT_EQ(found.eventRegister, system_.eventRegister);
    EXPECT_EQ(found.eventWrite, system_.eventWrite);
    EXPECT_EQ(found.eventUnregister, system_.eventUnregister);
    // Each handle is the one the system's EventRegister gave back.
    for (int i = 0; i < kProviderCount; ++i) {
        EXPECT_NE(ProviderContext(i).registrationHandle, 0u) << "provider " << i + 1;
    }
    StopTracing();
    for (int i = 0; i < kProviderCount; ++i) {
        EXPECT_EQ(ProviderContext(i).registrationHandle, 0u) << "provider " << i + 1;
    }
}

TEST_F(EventTracingOnWindows, SystemAcceptsRegistrationsInOrderAndUnregistrationsInReverse) {
    Relay recorder;
    recorder.system = system_;
    relay = &recorder;
    StartTracingWith(TracingFunctions{&RelayRegister, &RelayWrite, &RelayUnregister});
    StopTracing();

    ASSERT_EQ(recorder.calls.size(), 8u);
    for (int i = 0; i < kProviderCount; ++i) {
        const SystemCall& registration = recorder.calls[static_cast<size_t>(i)];
        SCOPED_TRACE("registration " + std::to_string(i + 1));
        EXPECT_TRUE(registration.registering);
        EXPECT_EQ(registration.provider, i);
        EXPECT_EQ(registration.status, static_cast<uint32_t>(ERROR_SUCCESS));
        EXPECT_NE(registration.systemHandle, 0u);

        const SystemCall& unregistration = recorder.calls[static_cast<size_t>(4 + i)];
        SCOPED_TRACE("unregistration " + std::to_string(i + 1));
        EXPECT_FALSE(unregistration.registering);
        EXPECT_EQ(unregistration.provider, kProviderCount - 1 - i);
        EXPECT_EQ(unregistration.status, static_cast<uint32_t>(ERROR_SUCCESS));
        // The handle the system gave that provider is the one it gets back.
        EXPECT_EQ(unregistration.systemHandle,
                  recorder.calls[static_cast<size_t>(kProviderCount - 1 - i)].systemHandle);
    }
}

} // namespace
} // namespace Korvel::Tracing

#endif // _WIN32
