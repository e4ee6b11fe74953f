#include "diagnostics/event_tracing.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "platform/thread_id.h"

namespace Korvel::Tracing {
namespace {

using ::testing::ElementsAre;

// A stand-in for the system's tracing functions that records every call.
struct FakeTracing {
    struct Written {
        uint64_t handle;
        EventDescriptor descriptor;
        std::vector<std::string> items; // raw bytes of each data item
    };
    std::vector<std::string> calls;
    std::vector<Written> written;
    uint64_t nextHandle = 100;
    // When set, registering provider `enableOnRegister` calls back at once
    // with this session.
    int enableOnRegister = -1;
    uint64_t sessionMatchAny = 0;
    int failRegistration = -1;
};

FakeTracing* fake = nullptr;

int ProviderIndex(const Guid* guid) {
    for (int i = 0; i < kProviderCount; ++i) {
        if (std::memcmp(guid, &ProviderGuid(i), sizeof(Guid)) == 0) {
            return i;
        }
    }
    return -1;
}

uint32_t KORVEL_TRACING_API FakeRegister(const Guid* provider, EnableCallbackFunction callback,
                                         void* context, uint64_t* handle) {
    const int index = ProviderIndex(provider);
    fake->calls.push_back("register " + std::to_string(index + 1));
    if (index == fake->failRegistration) {
        return 5; // an error: the handle is left alone
    }
    *handle = fake->nextHandle++;
    if (index == fake->enableOnRegister) {
        callback(provider, kControlEnable, 0, fake->sessionMatchAny, 0, nullptr, context);
    }
    return 0;
}

uint32_t KORVEL_TRACING_API FakeWrite(uint64_t handle, const EventDescriptor* descriptor,
                                      uint32_t count, EventDataDescriptor* data) {
    FakeTracing::Written entry{handle, *descriptor, {}};
    for (uint32_t i = 0; i < count; ++i) {
        entry.items.emplace_back(
            reinterpret_cast<const char*>(static_cast<uintptr_t>(data[i].pointer)), data[i].size);
    }
    fake->written.push_back(entry);
    fake->calls.push_back("write " + std::to_string(handle));
    return 0;
}

uint32_t KORVEL_TRACING_API FakeUnregister(uint64_t handle) {
    fake->calls.push_back("unregister " + std::to_string(handle));
    return 0;
}

class EventTracing : public ::testing::Test {
protected:
    void SetUp() override {
        fake = &tracing;
        for (int i = 0; i < kProviderCount; ++i) {
            EnableCallback(&ProviderGuid(i), kControlDisable, 0, 0, 0, nullptr,
                           &ProviderContext(i));
        }
    }
    void TearDown() override {
        StopTracing();
        StartTracingWith(TracingFunctions{});
        fake = nullptr;
    }
    FakeTracing tracing;
    const TracingFunctions all{&FakeRegister, &FakeWrite, &FakeUnregister};
};

TEST_F(EventTracing, WithoutAdvapiStartUpIsSilent) {
#ifdef _WIN32
    if (Platform::LibraryHandle advapi = Platform::OpenLibrary("Advapi32.dll")) {
        Platform::CloseLibrary(advapi);
        ASSERT_EQ(std::getenv("KORVEL_EXPECT_NO_ADVAPI32"), nullptr)
            << "Advapi32.dll was to be disabled for this run";
        GTEST_SKIP() << "Advapi32.dll is present; the test diagnostics_without_advapi32 runs "
                        "this with Wine's advapi32 disabled";
    }
#endif
    StartTracing(); // "Advapi32.dll" does not exist here
    const TracingFunctions found = CurrentTracingFunctions();
    EXPECT_EQ(found.eventRegister, nullptr);
    EXPECT_EQ(found.eventWrite, nullptr);
    EXPECT_EQ(found.eventUnregister, nullptr);
    for (int i = 0; i < kProviderCount; ++i) {
        EXPECT_EQ(ProviderContext(i).registrationHandle, 0u);
    }
    StopTracing();
    EXPECT_TRUE(tracing.calls.empty());
}

TEST_F(EventTracing, RegistersInOrderAndUnregistersInReverse) {
    StartTracingWith(all);
    for (int i = 0; i < kProviderCount; ++i) {
        EXPECT_EQ(ProviderContext(i).registrationHandle, 100u + static_cast<uint64_t>(i));
    }
    // A second start-up registers nothing again.
    StartTracingWith(all);
    StopTracing();
    EXPECT_THAT(tracing.calls, ElementsAre("register 1", "register 2", "register 3", "register 4",
                                           "unregister 103", "unregister 102", "unregister 101",
                                           "unregister 100"));
    for (int i = 0; i < kProviderCount; ++i) {
        EXPECT_EQ(ProviderContext(i).registrationHandle, 0u);
    }
    // Nothing is registered any more: a second shutdown does nothing.
    StopTracing();
    EXPECT_EQ(tracing.calls.size(), 8u);
}

TEST_F(EventTracing, FailedRegistrationLeavesProviderSilent) {
    tracing.failRegistration = 2; // the third provider
    StartTracingWith(all);
    EXPECT_EQ(ProviderContext(2).registrationHandle, 0u);
    StopTracing();
    EXPECT_THAT(tracing.calls, ElementsAre("register 1", "register 2", "register 3", "register 4",
                                           "unregister 102", "unregister 101", "unregister 100"));
}

TEST_F(EventTracing, ThreadNameIsWrittenOnlyWhenEnabled) {
    StartTracingWith(all);
    EXPECT_TRUE(tracing.written.empty()); // no session has enabled provider 2
    StopTracing();

    tracing.enableOnRegister = 1;
    tracing.sessionMatchAny = 0x1;
    StartTracingWith(all);
    ASSERT_EQ(tracing.written.size(), 1u);
    const auto& event = tracing.written[0];
    EXPECT_EQ(event.handle, ProviderContext(1).registrationHandle);
    EXPECT_EQ(event.descriptor.id, 103);
    EXPECT_EQ(event.descriptor.version, 0);
    EXPECT_EQ(event.descriptor.channel, 0);
    EXPECT_EQ(event.descriptor.level, 0);
    EXPECT_EQ(event.descriptor.opcode, 14);
    EXPECT_EQ(event.descriptor.task, 2);
    EXPECT_EQ(event.descriptor.keyword, 0x1u);
    ASSERT_EQ(event.items.size(), 2u);
    const uint32_t id = Platform::CurrentThreadId();
    EXPECT_EQ(event.items[0], std::string(reinterpret_cast<const char*>(&id), 4));
    EXPECT_EQ(event.items[1], std::string("Main thread\0", 12));
}

TEST_F(EventTracing, ThreadNamePayloadAndMissingFunctions) {
    StartTracingWith(all);
    WriteThreadName(7, &kThreadNameEvent, 0x01020304, nullptr);
    ASSERT_EQ(tracing.written.size(), 1u);
    EXPECT_EQ(tracing.written[0].items[1], std::string("NULL\0", 5));
    WriteThreadName(0, &kThreadNameEvent, 1, "x"); // handle 0: nothing
    EXPECT_EQ(tracing.written.size(), 1u);
    StopTracing();

    // Without "EventWrite" nothing is written; without "EventRegister"
    // nothing is registered.
    StartTracingWith(TracingFunctions{nullptr, nullptr, &FakeUnregister});
    WriteThreadName(7, &kThreadNameEvent, 1, "x");
    StopTracing();
    EXPECT_EQ(tracing.written.size(), 1u);
    EXPECT_EQ(ProviderContext(0).registrationHandle, 0u);
}

TEST_F(EventTracing, EnableCallbackKeywordRules) {
    TraceContext& fourth = ProviderContext(3);
    EnableCallback(&ProviderGuid(3), kControlEnable, 0, 0x2, 0, nullptr, &fourth);
    EXPECT_EQ(fourth.enableBits[0], 0x2u); // second event only
    EXPECT_EQ(fourth.isEnabled, 1u);
    EXPECT_EQ(fourth.matchAnyKeyword, 0x2u);

    EnableCallback(&ProviderGuid(3), kControlEnable, 5, 0x3, 0x1, nullptr, &fourth);
    EXPECT_EQ(fourth.enableBits[0], 0x1u); // 0x2 lacks the match-all bit
    EXPECT_EQ(fourth.level, 5);
    EXPECT_EQ(fourth.matchAllKeyword, 0x1u);

    EnableCallback(&ProviderGuid(3), kControlEnable, 0, 0x0, 0, nullptr, &fourth);
    EXPECT_EQ(fourth.enableBits[0], 0x0u); // shares no bit with match-any

    // An event without keyword passes any keyword test.
    TraceContext& third = ProviderContext(2);
    EnableCallback(&ProviderGuid(2), kControlEnable, 0, 0, 0, nullptr, &third);
    EXPECT_EQ(third.enableBits[0], 0x1u);

    // Other control codes change nothing; disabling clears everything.
    EnableCallback(&ProviderGuid(3), kControlEnable, 4, 0x3, 0, nullptr, &fourth);
    EnableCallback(&ProviderGuid(3), 2, 0, 0, 0, nullptr, &fourth);
    EXPECT_EQ(fourth.enableBits[0], 0x3u);
    EXPECT_EQ(fourth.level, 4);
    EnableCallback(&ProviderGuid(3), kControlDisable, 9, 9, 9, nullptr, &fourth);
    EXPECT_EQ(fourth.enableBits[0], 0u);
    EXPECT_EQ(fourth.isEnabled, 0u);
    EXPECT_EQ(fourth.level, 0);
    EXPECT_EQ(fourth.matchAnyKeyword, 0u);
    EXPECT_EQ(fourth.matchAllKeyword, 0u);
    EnableCallback(nullptr, kControlEnable, 0, 1, 0, nullptr, nullptr); // no context: ignored
}

TEST_F(EventTracing, EnableCallbackLevelRule) {
    // A provider with events of levels 0, 4 and 5, all with keyword 0x1.
    uint32_t bits[1] = {0};
    const uint64_t keywords[] = {0x1, 0x1, 0x1};
    const uint8_t levels[] = {0, 4, 5};
    TraceContext context{0, 0, 0, 0, 0, 0, 0, 0, 3, bits, keywords, levels};
    EnableCallback(nullptr, kControlEnable, 4, 0x1, 0, nullptr, &context);
    EXPECT_EQ(bits[0], 0x3u);
    // Level 0: every event whose keyword test passes, whatever its level.
    EnableCallback(nullptr, kControlEnable, 0, 0x1, 0, nullptr, &context);
    EXPECT_EQ(bits[0], 0x7u);
    EnableCallback(nullptr, kControlEnable, 1, 0x1, 0, nullptr, &context);
    EXPECT_EQ(bits[0], 0x1u);
}

TEST_F(EventTracing, EnableCallbackAtEventCountLimits) {
    // 40 events, all with keyword 0x1 and level 0: the enable bits span two words.
    uint32_t bits[3] = {0, 0, 0xA5A5A5A5};
    uint64_t keywords[40];
    uint8_t levels[40] = {};
    for (uint64_t& keyword : keywords) {
        keyword = 0x1;
    }
    keywords[33] = 0x2;
    TraceContext many{0, 0, 0, 0, 0, 0, 0, 0, 40, bits, keywords, levels};
    EnableCallback(nullptr, kControlEnable, 0, 0x1, 0, nullptr, &many);
    EXPECT_EQ(bits[0], 0xFFFFFFFFu);
    EXPECT_EQ(bits[1], 0xFDu); // events 32 to 39 but 33
    EXPECT_EQ(bits[2], 0xA5A5A5A5u);
    EnableCallback(nullptr, kControlDisable, 0, 0, 0, nullptr, &many);
    EXPECT_EQ(bits[0], 0u);
    EXPECT_EQ(bits[1], 0u);
    EXPECT_EQ(bits[2], 0xA5A5A5A5u);

    // No events: the session is recorded and no enable bit is touched.
    uint32_t none[1] = {0x5A5A5A5A};
    TraceContext empty{0, 0, 0, 0, 0, 0, 0, 0, 0, none, nullptr, nullptr};
    EnableCallback(nullptr, kControlEnable, 3, 0x1, 0x1, nullptr, &empty);
    EXPECT_EQ(empty.isEnabled, 1u);
    EXPECT_EQ(empty.level, 3);
    EnableCallback(nullptr, kControlDisable, 0, 0, 0, nullptr, &empty);
    EXPECT_EQ(empty.isEnabled, 0u);
    EXPECT_EQ(none[0], 0x5A5A5A5Au);
}

TEST_F(EventTracing, SessionWithoutThreadKeywordWritesNoThreadName) {
    tracing.enableOnRegister = 1;
    tracing.sessionMatchAny = 0x2;
    StartTracingWith(all);
    EXPECT_EQ(ProviderContext(1).isEnabled, 1u);
    EXPECT_TRUE(tracing.written.empty());
}

std::string GuidText(const Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.data1, guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2],
                  guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}

TEST(EventTracingIdentifiers, ProviderTable) {
    EXPECT_EQ(GuidText(ProviderGuid(0)), "{6A1C0E3B-2F47-4D8E-9B15-7C3E2A90D416}");
    EXPECT_EQ(GuidText(ProviderGuid(1)), "{B3D95F20-8E61-4C2A-A7F4-19E0C6B85D73}");
    EXPECT_EQ(GuidText(ProviderGuid(2)), "{51E7A8C4-0D39-4B6F-8C22-E4F17A3096BB}");
    EXPECT_EQ(GuidText(ProviderGuid(3)), "{C80F2D61-7A5E-4E93-B1D8-2A6C94F0E35C}");
    // Events, their keywords and their levels, provider by provider.
    const std::vector<std::vector<uint64_t>> keywords = {{0x1}, {0x1}, {0x0}, {0x1, 0x2}};
    for (int i = 0; i < kProviderCount; ++i) {
        SCOPED_TRACE("provider " + std::to_string(i + 1));
        const TraceContext& context = ProviderContext(i);
        const auto& expected = keywords[static_cast<size_t>(i)];
        ASSERT_EQ(context.eventCount, expected.size());
        for (size_t e = 0; e < expected.size(); ++e) {
            EXPECT_EQ(context.eventKeywords[e], expected[e]);
            EXPECT_EQ(context.eventLevels[e], 0);
        }
    }
    EXPECT_EQ(std::string(kMainThreadName), "Main thread");
}

TEST(EventTracingIdentifiers, RecordLayouts) {
    // The system reads these records byte for byte.
    EXPECT_EQ(offsetof(EventDescriptor, id), 0u);
    EXPECT_EQ(offsetof(EventDescriptor, version), 2u);
    EXPECT_EQ(offsetof(EventDescriptor, channel), 3u);
    EXPECT_EQ(offsetof(EventDescriptor, level), 4u);
    EXPECT_EQ(offsetof(EventDescriptor, opcode), 5u);
    EXPECT_EQ(offsetof(EventDescriptor, task), 6u);
    EXPECT_EQ(offsetof(EventDescriptor, keyword), 8u);
    EXPECT_EQ(offsetof(EventDataDescriptor, pointer), 0u);
    EXPECT_EQ(offsetof(EventDataDescriptor, size), 8u);
    EXPECT_EQ(offsetof(EventDataDescriptor, reserved), 12u);
    EXPECT_EQ(offsetof(Guid, data2), 4u);
    EXPECT_EQ(offsetof(Guid, data3), 6u);
    EXPECT_EQ(offsetof(Guid, data4), 8u);

    EXPECT_EQ(offsetof(TraceContext, registrationHandle), 0u);
    EXPECT_EQ(offsetof(TraceContext, logger), 8u);
    EXPECT_EQ(offsetof(TraceContext, matchAnyKeyword), 16u);
    EXPECT_EQ(offsetof(TraceContext, matchAllKeyword), 24u);
    EXPECT_EQ(offsetof(TraceContext, flags), 32u);
    EXPECT_EQ(offsetof(TraceContext, isEnabled), 36u);
    EXPECT_EQ(offsetof(TraceContext, level), 40u);
    EXPECT_EQ(offsetof(TraceContext, reserved), 41u);
    EXPECT_EQ(offsetof(TraceContext, eventCount), 42u);
    // Pointers follow at their natural alignment: 44 with 4-byte pointers, 48 with 8-byte ones.
    const size_t pointer = sizeof(void*);
    const size_t arrays = pointer == 4 ? 44 : 48;
    EXPECT_EQ(offsetof(TraceContext, enableBits), arrays);
    EXPECT_EQ(offsetof(TraceContext, eventKeywords), arrays + pointer);
    EXPECT_EQ(offsetof(TraceContext, eventLevels), arrays + 2 * pointer);
}

TEST(EventTracingIdentifiers, ProviderGuids) {
    const Guid& second = ProviderGuid(1);
    EXPECT_EQ(second.data1, 0xB3D95F20u);
    EXPECT_EQ(second.data2, 0x8E61);
    EXPECT_EQ(second.data3, 0x4C2A);
    const uint8_t tail[8] = {0xA7, 0xF4, 0x19, 0xE0, 0xC6, 0xB8, 0x5D, 0x73};
    EXPECT_EQ(std::memcmp(second.data4, tail, 8), 0);
    EXPECT_EQ(ProviderGuid(0).data1, 0x6A1C0E3Bu);
    EXPECT_EQ(ProviderGuid(2).data1, 0x51E7A8C4u);
    EXPECT_EQ(ProviderGuid(3).data1, 0xC80F2D61u);
    EXPECT_EQ(ProviderGuid(3).data4[7], 0x5C);
    EXPECT_EQ(ProviderContext(3).eventCount, 2);
    EXPECT_EQ(sizeof(Guid), 16u);
    EXPECT_EQ(sizeof(EventDescriptor), 16u);
    EXPECT_EQ(sizeof(EventDataDescriptor), 16u);
}

} // namespace
} // namespace Korvel::Tracing
