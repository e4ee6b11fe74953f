// The plug-in object of the test's own process, served by the test host:
// handshake pieces, initialisation, subscriptions, the log target and the
// memory statistics entry point.

#include "diagnostics/allocation.h"
#include "diagnostics/log.h"
#include "service_status/service_status_plugin.h"
#include "support/captured_log.h"
#include "test_plugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace Korvel::Testing {
namespace {

const char kIncompatibleMarker[] = "Assertion failed!\n\nExpression: ALE-EECF0606";

TEST(Handshake, FillsTheDescriptorWithThePluginsValues) {
    TestHost host;
    CapturedLog log;
    PluginApiDescriptor descriptor{};
    auto plugin = MakeTestPlugin(host, &descriptor, {18, 3, 7});

    EXPECT_EQ(descriptor.apiMajor, 18u);
    EXPECT_EQ(descriptor.apiMinor, 0u);
    EXPECT_EQ(descriptor.apiPatch, 0u);
    EXPECT_EQ(descriptor.plugin, static_cast<void*>(plugin.get()));
    EXPECT_EQ(descriptor.pluginFunctions, &plugin->Functions());
    EXPECT_EQ(descriptor.apiDeclaration, &plugin->Declaration());
    EXPECT_STREQ(descriptor.name, "vel-service-status");
    EXPECT_EQ(descriptor.name, plugin->Name().shortName.c_str());
    EXPECT_EQ(plugin->Functions().initialize, &PluginBase::InitializeEntry);
    EXPECT_EQ(plugin->Functions().shutdown, &PluginBase::ShutdownEntry);
    EXPECT_EQ(plugin->Functions().getMemoryStats, &PluginBase::GetMemoryStatsEntry);

    EXPECT_EQ(plugin->Name().fullName, "tep-be-vel-service-status");
    EXPECT_EQ(plugin->Name().type, "backend");
    EXPECT_EQ(plugin->RegistrationTags(),
              (std::vector<std::string>{"Plugins", "Plugin vel-service-status"}));
    EXPECT_EQ(plugin->HostApiVersion().ToString(), "18.3.7");
    EXPECT_TRUE(plugin->ApiIncompatibility().empty());
    EXPECT_TRUE(log.Containing("ALE-").empty());
}

TEST(Handshake, IncompatibleHostIsReportedAndStillGetsTheDescriptor) {
    struct Case {
        HostVersion host;
        const char* version;
        const char* text;
    };
    const Case cases[] = {
        {{17, 9, 9},
         "17.9.9",
         "vel-service-status which supports plugin API 18.0.0 is not compatible with core's "
         "plugin API 17.9.9"},
        {{19, 0, 0},
         "19.0.0",
         "vel-service-status which supports plugin API 18.0.0 is not compatible with core's "
         "plugin API 19.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TestHost host;
        CapturedLog log;
        PluginApiDescriptor descriptor{};
        auto plugin = MakeTestPlugin(host, &descriptor, c.host);

        // The text is built and kept; the only line written is the marker's.
        EXPECT_EQ(plugin->ApiIncompatibility(), c.text);
        ASSERT_EQ(log.Entries().size(), 1u);
        EXPECT_EQ(log.Entries()[0].message, kIncompatibleMarker);
        EXPECT_EQ(log.Entries()[0].level, static_cast<int32_t>(LogLevel::Error));
        EXPECT_EQ(log.Entries()[0].categories, kLogCategoryDbg);

        // The host sees the plug-in's version and decides itself.
        EXPECT_EQ(descriptor.apiMajor, 18u);
        EXPECT_NE(descriptor.pluginFunctions, nullptr);
        EXPECT_EQ(plugin->HostApiVersion().ToString(), c.version);
    }
}

TEST(Handshake, NullDescriptorIsIgnored) {
    TestHost host;
    TestPlugin plugin;
    plugin.Handshake(nullptr, "vel-service-status");
    EXPECT_TRUE(plugin.Name().shortName.empty());
}

TEST(Handshake, VersionsAtTheEndsOfTheRange) {
    TestHost host;
    {
        CapturedLog log;
        PluginApiDescriptor descriptor{};
        auto plugin = MakeTestPlugin(host, &descriptor, {18, 4294967295u, 4294967295u});
        EXPECT_TRUE(plugin->ApiIncompatibility().empty());
        EXPECT_TRUE(log.Entries().empty());
        EXPECT_EQ(plugin->HostApiVersion().ToString(), "18.4294967295.4294967295");
        EXPECT_EQ(descriptor.apiMinor, 0u);
        EXPECT_EQ(descriptor.apiPatch, 0u);
    }
    {
        CapturedLog log;
        PluginApiDescriptor descriptor{};
        auto plugin = MakeTestPlugin(host, &descriptor, {4294967295u, 0, 0});
        EXPECT_EQ(plugin->ApiIncompatibility(),
                  "vel-service-status which supports plugin API 18.0.0 is not compatible with "
                  "core's plugin API 4294967295.0.0");
        ASSERT_EQ(log.Entries().size(), 1u);
        EXPECT_EQ(log.Entries()[0].message, kIncompatibleMarker);
        EXPECT_EQ(descriptor.apiMajor, 18u);
    }
    {
        CapturedLog log;
        PluginApiDescriptor descriptor{};
        auto plugin = MakeTestPlugin(host, &descriptor, {0, 0, 0});
        EXPECT_EQ(plugin->ApiIncompatibility(),
                  "vel-service-status which supports plugin API 18.0.0 is not compatible with "
                  "core's plugin API 0.0.0");
        EXPECT_EQ(log.Entries().size(), 1u);
    }
}

TEST(Handshake, WithoutAShortNameTheNamesAreEmptyButSet) {
    TestHost host;
    CapturedLog log;
    TestPlugin plugin;
    PluginApiDescriptor descriptor{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin.Handshake(&descriptor, nullptr);
    ASSERT_NE(descriptor.name, nullptr);
    EXPECT_STREQ(descriptor.name, "");
    EXPECT_EQ(plugin.Name().fullName, "tep-be-");
    EXPECT_EQ(plugin.RegistrationTags(), (std::vector<std::string>{"Plugins", "Plugin "}));
    EXPECT_NE(descriptor.apiDeclaration, nullptr);
    EXPECT_TRUE(log.Entries().empty());
}

// Every type the handshake registers has an identity of its own: each is found again by its
// hash, so no later registration took another type's hash over.
TEST(Handshake, EveryRegisteredTypeKeepsItsOwnHash) {
    auto plugin = std::make_unique<Client::ServiceStatusPlugin>();
    PluginApiDescriptor descriptor{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    plugin->Handshake(&descriptor, Client::ServiceStatusPlugin::kShortName);
    const auto types = plugin->Registry().SnapshotTypes();
    ASSERT_GE(types.size(), 29u);
    std::map<uint32_t, std::string> byHash;
    for (const auto& [name, type] : types) {
        SCOPED_TRACE(name);
        ASSERT_NE(type, nullptr);
        ASSERT_NE(type->identity, nullptr);
        EXPECT_EQ(type->hash, type->identity->hash);
        EXPECT_EQ(plugin->Registry().FindTypeByHash(type->hash), type);
        const auto [at, inserted] = byHash.emplace(type->hash, name);
        EXPECT_TRUE(inserted) << "shares its hash with " << at->second;
    }
}

TEST(Initialize, BuildsTheUserAgentAndSubscribesToServiceProxyEvents) {
    TestHost host;
    auto plugin = MakeTestPlugin(host, nullptr, {18, 2, 0});
    EXPECT_TRUE(plugin->UserAgent().empty());
    EXPECT_TRUE(host.SubscriptionCalls().empty());

    EXPECT_TRUE(plugin->Initialize(host.Context(31)));
    EXPECT_EQ(plugin->starts, 1);
    EXPECT_EQ(plugin->Context(), host.Context(31));
    EXPECT_EQ(plugin->PluginId(), 31u);
    EXPECT_EQ(plugin->UserAgent(), "KorvelClient/18.2.0 (vel-service-status)");

    const std::vector<std::string> expected = {
        "OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"};
    ASSERT_EQ(host.Subscriptions().size(), 3u);
    for (size_t i = 0; i < expected.size(); ++i) {
        const Subscription& subscription = host.Subscriptions()[i];
        EXPECT_EQ(subscription.eventName, expected[i]);
        EXPECT_EQ(subscription.pluginId, 31u);
        EXPECT_EQ(subscription.flag, 1u);
        EXPECT_EQ(subscription.userData, static_cast<void*>(plugin.get()));
    }
}

TEST(Initialize, ResultIsTheResultOfStart) {
    TestHost host;
    auto plugin = MakeTestPlugin(host);
    plugin->startResult = false;
    EXPECT_FALSE(PluginBase::InitializeEntry(plugin.get(), host.Context()));
    EXPECT_EQ(plugin->starts, 1);
}

TEST(Initialize, WithoutAHostContextNothingStarts) {
    TestHost host;
    auto plugin = MakeTestPlugin(host);
    EXPECT_FALSE(PluginBase::InitializeEntry(plugin.get(), nullptr));
    const HostContext empty{nullptr, 3};
    EXPECT_FALSE(plugin->Initialize(&empty));
    EXPECT_FALSE(PluginBase::InitializeEntry(nullptr, host.Context()));
    EXPECT_EQ(plugin->starts, 0);
    // Without a host nothing is sent anywhere.
    plugin->AddDeferred(
        "x", [] {}, 0);
    EXPECT_TRUE(host.TimerCalls().empty());
}

TEST(LogTarget, LinesReachTheHostWhileThePluginLives) {
    TestHost host;
    {
        auto plugin = MakeTestPlugin(host);
        ASSERT_TRUE(plugin->Initialize(host.Context()));
        LogMessage(LogLevel::Okay, kLogCategoryDbg, "okay %d", 1);
        LogMessage(LogLevel::Always, kLogCategoryNet, "always %s", "x");
        LogMessage(LogLevel::Error, kLogCategoryXtr, "muted");
        ASSERT_EQ(host.LogLines().size(), 2u);
        EXPECT_EQ(host.LogLines()[0].level, 0);
        EXPECT_EQ(host.LogLines()[0].text, "okay 1");
        EXPECT_EQ(host.LogLines()[1].level, 3);
        EXPECT_EQ(host.LogLines()[1].text, "always x");
    }
    LogMessage(LogLevel::Error, kLogCategoryDbg, "after");
    EXPECT_EQ(host.LogLines().size(), 2u);
}

TEST(LogTarget, ASecondHostGetsTheLinesAfterTheFirstPluginIsGone) {
    TestHost first;
    auto plugin = MakeTestPlugin(first);
    ASSERT_TRUE(plugin->Initialize(first.Context()));
    PluginBase::ShutdownEntry(plugin.release());

    TestHost second;
    auto next = MakeTestPlugin(second);
    ASSERT_TRUE(next->Initialize(second.Context()));
    LogMessage(LogLevel::Warn, kLogCategoryDbg, "to the second");
    EXPECT_TRUE(first.LogLines().empty());
    ASSERT_EQ(second.LogLines().size(), 1u);
    EXPECT_EQ(second.LogLines()[0].text, "to the second");
}

TEST(Subscriptions, CountedPerResourceEventName) {
    TestHost host;
    auto plugin = MakeTestPlugin(host);
    ASSERT_TRUE(plugin->Initialize(host.Context(9)));
    host.ClearRecords();

    // Both paths share the event name of their first three segments.
    plugin->Subscribe("/vel-login/v1/login-data-packet");
    plugin->Subscribe("/vel-login/v1/login-data-packet/details");
    ASSERT_EQ(host.SubscriptionCalls().size(), 1u);
    EXPECT_EQ(host.SubscriptionCalls()[0].eventName,
              "OnJsonApiEvent_vel-login_v1_login-data-packet");
    EXPECT_EQ(host.SubscriptionCalls()[0].flag, 0u);
    EXPECT_EQ(host.SubscriptionCalls()[0].pluginId, 9u);

    plugin->Unsubscribe("/vel-login/v1/login-data-packet");
    EXPECT_TRUE(host.IsSubscribed("OnJsonApiEvent_vel-login_v1_login-data-packet"));
    plugin->Unsubscribe("/vel-login/v1/login-data-packet");
    EXPECT_FALSE(host.IsSubscribed("OnJsonApiEvent_vel-login_v1_login-data-packet"));
    ASSERT_EQ(host.SubscriptionCalls().size(), 2u);
    EXPECT_FALSE(host.SubscriptionCalls()[1].subscribe);
    EXPECT_EQ(host.SubscriptionCalls()[1].pluginId, 9u);

    // One more than subscribed does nothing.
    plugin->Unsubscribe("/vel-login/v1/login-data-packet");
    EXPECT_EQ(host.SubscriptionCalls().size(), 2u);
    EXPECT_EQ(plugin->HostSubscriptionCount(), 3u); // the service-proxy events
}

TEST(Subscriptions, ShutdownUnsubscribesEveryEventWithThePluginId) {
    TestHost host;
    auto plugin = MakeTestPlugin(host);
    ASSERT_TRUE(plugin->Initialize(host.Context(12)));
    host.ClearRecords();
    plugin->Shutdown();
    ASSERT_EQ(host.SubscriptionCalls().size(), 3u);
    for (const SubscriptionCall& call : host.SubscriptionCalls()) {
        EXPECT_FALSE(call.subscribe);
        EXPECT_EQ(call.pluginId, 12u);
    }
    EXPECT_TRUE(host.Subscriptions().empty());
    EXPECT_EQ(plugin->HostSubscriptionCount(), 0u);

    // After a shutdown a resource subscription reaches the host again.
    plugin->Subscribe("/a/b/c");
    EXPECT_TRUE(host.IsSubscribed("OnJsonApiEvent_a_b_c"));
}

TEST(Subscriptions, CallbacksForADestroyedObjectAreIgnored) {
    TestHost host;
    auto plugin = MakeTestPlugin(host);
    ASSERT_TRUE(plugin->Initialize(host.Context()));
    const Subscription stale = host.Subscriptions()[0];
    plugin.reset();
    HostEventRecord record{};
    record.name = stale.eventName.c_str();
    record.userData = stale.userData;
    stale.callback(&record);
    record.name = nullptr;
    stale.callback(&record);
    stale.callback(nullptr);
}

TEST(MemoryStats, CountersFollowOneBlockAndTheTailStaysZero) {
    PluginMemoryStats before;
    std::memset(&before, 0xA5, sizeof(before));
    PluginBase::GetMemoryStatsEntry(nullptr, &before);
    for (uint8_t byte : before.reserved) {
        EXPECT_EQ(byte, 0);
    }

    void* block = Allocate(10);
    ASSERT_NE(block, nullptr);
    const uint64_t size = BlockSize(block);
    EXPECT_GE(size, 10u);
    Free(block);

    PluginMemoryStats after;
    std::memset(&after, 0xA5, sizeof(after));
    PluginBase::GetMemoryStatsEntry(reinterpret_cast<void*>(0x1), &after);
    EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, size);
    EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 1u);
    EXPECT_EQ(after.bytesFreed - before.bytesFreed, size);
    EXPECT_EQ(after.blocksFreed - before.blocksFreed, 1u);
    EXPECT_GE(after.peakBytes, before.peakBytes);
    for (uint8_t byte : after.reserved) {
        EXPECT_EQ(byte, 0);
    }
    PluginBase::GetMemoryStatsEntry(nullptr, nullptr);
}

} // namespace
} // namespace Korvel::Testing
