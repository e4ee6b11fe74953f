// The built shared library as a host sees it: loaded by the system loader, entered
// through its export, driven through its entry points.

#include "support/test_host.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace Korvel::Testing {
namespace {

// Whether the library is loaded in this process at the moment.
bool LibraryLoaded() {
#ifdef _WIN32
    std::string path = KORVEL_PLUGIN_PATH;
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return GetModuleHandleA(path.c_str()) != nullptr;
#else
    void* handle = dlopen(KORVEL_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
#endif
}

// Data-store entries that let the plug-in start without reporting missing settings: no region
// data, and no region or locale yet.
void StockDataStore(TestHost& host) {
    host.SetResource("/data-store/v1/system-settings/region_data", Json::object());
    host.SetResource("/data-store/v1/install-settings/globals",
                     Json{{"region", ""}, {"locale", ""}});
}

TEST(PluginLibrary, UnloadsWhenTheLastHostIsGone) {
    {
        TestHost host;
        host.Load();
        ASSERT_TRUE(host.Initialize());
        EXPECT_TRUE(LibraryLoaded());
    }
    // Nothing in the library (such as a unique symbol) keeps it loaded, so a
    // host can unload it and load it afresh.
    EXPECT_FALSE(LibraryLoaded());
}

class AcceptedHostVersion : public ::testing::TestWithParam<HostVersion> {};

TEST_P(AcceptedHostVersion, DescriptorCarriesThePluginsValues) {
    TestHost host;
    host.Load(GetParam());
    const PluginApiDescriptor& descriptor = host.Descriptor();
    EXPECT_EQ(descriptor.apiMajor, 18u);
    EXPECT_EQ(descriptor.apiMinor, 0u);
    EXPECT_EQ(descriptor.apiPatch, 0u);
    ASSERT_NE(descriptor.pluginFunctions, nullptr);
    EXPECT_NE(descriptor.pluginFunctions->initialize, nullptr);
    EXPECT_NE(descriptor.pluginFunctions->shutdown, nullptr);
    EXPECT_NE(descriptor.pluginFunctions->getMemoryStats, nullptr);
    EXPECT_NE(descriptor.plugin, nullptr);
    ASSERT_NE(descriptor.name, nullptr);
    EXPECT_STREQ(descriptor.name, "vel-service-status");
    EXPECT_NE(descriptor.apiDeclaration, nullptr);
    // The entry-point table and the declaration live inside the plug-in
    // object; the host sees them as separate addresses.
    EXPECT_NE(static_cast<const void*>(descriptor.pluginFunctions), descriptor.plugin);
    EXPECT_TRUE(host.LogLines().empty());
}

INSTANTIATE_TEST_SUITE_P(PluginLibrary, AcceptedHostVersion,
                         ::testing::Values(HostVersion{18, 0, 0}, HostVersion{18, 0, 5},
                                           HostVersion{18, 3, 0}, HostVersion{18, 3, 7}));

TEST(PluginLibrary, RefusedHostVersionsReportTheMarkerOnStandardError) {
    struct Case {
        HostVersion version;
        const char* text;
    };
    const Case cases[] = {
        {{17, 9, 9},
         "vel-service-status which supports plugin API 18.0.0 is not compatible with "
         "core's plugin API 17.9.9"},
        {{19, 0, 0},
         "vel-service-status which supports plugin API 18.0.0 is not compatible with "
         "core's plugin API 19.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // Before a host has attached its log target the library logs to its
        // default targets, standard error among them; that needs a fresh load.
        ASSERT_FALSE(LibraryLoaded()) << "an earlier host left the library loaded";
        TestHost host;
        ::testing::internal::CaptureStderr();
        host.Load(c.version);
        const std::string output = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(output.find("Assertion failed!\n\nExpression: ALE-EECF0606"), std::string::npos)
            << output;
        // The incompatibility text is built but not written anywhere.
        EXPECT_EQ(output.find(c.text), std::string::npos) << output;
        EXPECT_EQ(output.find("is not compatible"), std::string::npos) << output;

        // The descriptor still tells the host which version the plug-in has;
        // the host decides, and one that goes on finds a working plug-in.
        EXPECT_EQ(host.Descriptor().apiMajor, 18u);
        EXPECT_EQ(host.Descriptor().apiMinor, 0u);
        EXPECT_EQ(host.Descriptor().apiPatch, 0u);
        EXPECT_STREQ(host.Descriptor().name, "vel-service-status");
        StockDataStore(host);
        EXPECT_TRUE(host.Initialize());
        EXPECT_TRUE(host.LogLines().empty());
    }
}

TEST(PluginLibrary, InitializeSubscribesAndShutdownUnsubscribes) {
    TestHost host;
    host.Load({18, 2, 0});
    StockDataStore(host);
    ASSERT_TRUE(host.Initialize(21));
    // The three service-proxy events first, with flag 1; then whatever the plug-in's start-up
    // subscribes to.
    ASSERT_GE(host.Subscriptions().size(), 3u);
    const std::vector<std::string> serviceProxy = {
        "OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"};
    std::set<std::string> names;
    for (size_t i = 0; i < host.Subscriptions().size(); ++i) {
        const Subscription& subscription = host.Subscriptions()[i];
        names.insert(subscription.eventName);
        EXPECT_EQ(subscription.pluginId, 21u);
        EXPECT_EQ(subscription.userData, host.Descriptor().plugin);
        if (i < serviceProxy.size()) {
            EXPECT_EQ(subscription.eventName, serviceProxy[i]);
            EXPECT_EQ(subscription.flag, 1u);
        }
    }
    // A service-proxy event reaches the plug-in without harm.
    EXPECT_EQ(host.Deliver("OnServiceProxyUuidEvent", Json{{"uuid", "1"}}), 1u);

    host.ClearRecords();
    host.Shutdown();
    // Every name once, with the plug-in id.
    std::set<std::string> unsubscribed;
    for (const SubscriptionCall& call : host.SubscriptionCalls()) {
        EXPECT_FALSE(call.subscribe);
        EXPECT_EQ(call.pluginId, 21u);
        EXPECT_TRUE(unsubscribed.insert(call.eventName).second) << call.eventName;
    }
    EXPECT_EQ(unsubscribed, names);
    EXPECT_TRUE(host.Subscriptions().empty());
    // Timers still queued with the host find nothing to do (and, in the asan build, touch no
    // freed memory).
    host.RunAllTimers();
    EXPECT_TRUE(host.Events().empty());
    EXPECT_TRUE(host.ExternalRequests().empty());
    EXPECT_TRUE(host.Requests().empty());
}

TEST(PluginLibrary, MemoryStatsCountTheLibrarysOwnObjects) {
    TestHost host;
    host.Load();
    const PluginMemoryStats loaded = host.MemoryStats();
    for (uint8_t byte : loaded.reserved) {
        EXPECT_EQ(byte, 0);
    }
    // At least the plug-in object is held.
    EXPECT_GE(loaded.blocksAllocated, loaded.blocksFreed + 1);
    EXPECT_GE(loaded.bytesAllocated, loaded.bytesFreed + 100);
    EXPECT_GE(loaded.peakBytes, loaded.bytesAllocated - loaded.bytesFreed);
    EXPECT_GE(loaded.peakBlocks, 1u);

    ASSERT_TRUE(host.Initialize());
    const PluginMemoryStats running = host.MemoryStats();
    EXPECT_GE(running.blocksAllocated, loaded.blocksAllocated);

    host.Shutdown();
    // The entry point does not need the (now destroyed) plug-in object.
    const PluginMemoryStats down = host.MemoryStats();
    EXPECT_GT(down.blocksFreed, running.blocksFreed);
    EXPECT_GT(down.bytesFreed, running.bytesFreed);
    EXPECT_EQ(down.peakBytes >= running.peakBytes, true);
    for (uint8_t byte : down.reserved) {
        EXPECT_EQ(byte, 0);
    }
}

TEST(PluginLibrary, AHostThatNeverInitialisesStillGetsTheObjectDestroyed) {
    // Runs under AddressSanitizer's leak checker in the asan build.
    TestHost host;
    host.Load();
    host.Shutdown();
    EXPECT_TRUE(host.SubscriptionCalls().empty());
}

// Every kind of malformed value a host could send, delivered to the three service-proxy events:
// none reaches a handler (the async event would log its missing handler) and none crashes.
TEST(PluginLibrary, MalformedHostValuesAreDroppedWithoutHarm) {
    TestHost host;
    host.Load();
    StockDataStore(host);
    ASSERT_TRUE(host.Initialize());
    host.ClearRecords();
    HostValueArena& arena = host.Arena();
    std::vector<HostValue> malformed;
    malformed.push_back(arena.Raw(11));
    malformed.push_back(arena.Structure({{"serviceName", arena.Raw(0xFFFFFFFFu)}}));
    HostValue nullItems = arena.Raw(static_cast<uint32_t>(HostValueKind::Collection));
    nullItems.payload.collection.count = 5;
    malformed.push_back(nullItems);
    HostValue nullMembers = arena.Raw(static_cast<uint32_t>(HostValueKind::Structure));
    nullMembers.payload.structure.count = 3;
    malformed.push_back(nullMembers);
    HostValue deep = arena.Text("x");
    for (int i = 0; i < 100000; ++i) {
        deep = arena.Collection({deep});
    }
    malformed.push_back(arena.Structure({{"serviceName", deep}}));
    for (const HostValue& value : malformed) {
        for (const char* event :
             {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
            EXPECT_EQ(host.DeliverValue(event, value), 1u);
        }
    }
    EXPECT_TRUE(host.LogLines().empty());

    // Thousands of repeated names: the last entry of a name wins.
    std::vector<std::pair<std::string, HostValue>> members;
    for (int i = 0; i < 5000; ++i) {
        members.emplace_back("serviceName", arena.Text("service" + std::to_string(i)));
        members.emplace_back("methodName", arena.Text("method" + std::to_string(i)));
    }
    host.DeliverValue("OnServiceProxyAsyncEvent", arena.Structure(members));
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(host.LogLines()[0].text, "Could not find registered handler for async service proxy "
                                       "event service4999.method4999");
}

TEST(PluginLibrary, LogLinesReachTheHostWithTheirLevel) {
    TestHost host;
    host.Load();
    StockDataStore(host);
    ASSERT_TRUE(host.Initialize());
    host.ClearRecords();
    host.Deliver("OnServiceProxyUuidEvent", Json{{"uuid", "u-1"}, {"payload", "{}"}});
    EXPECT_TRUE(host.LogLines().empty());
    host.Deliver("OnServiceProxyAsyncEvent",
                 Json{{"uuid", "u-2"}, {"serviceName", "chat"}, {"methodName", "onMessage"}});
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(host.LogLines()[0].level, 2);
    EXPECT_EQ(host.LogLines()[0].text,
              "Could not find registered handler for async service proxy event chat.onMessage");
}

// The plug-in object, its registry, tables and everything its callbacks built are freed by the
// Shutdown entry point: without an Initialize the library holds exactly what it held before the
// export was called.
TEST(PluginLibrary, ShutdownWithoutInitializeFreesEverything) {
    ASSERT_FALSE(LibraryLoaded()) << "an earlier host left the library loaded";
    TestHost host;
    host.Open();
    const PluginMemoryStats before = host.MemoryStats();
    host.CallExport();
    EXPECT_GT(TestHost::LiveBytes(host.MemoryStats()), TestHost::LiveBytes(before));
    host.Shutdown();
    EXPECT_EQ(TestHost::LiveBytes(host.MemoryStats()), TestHost::LiveBytes(before));
}

// A plug-in's life through the host, with events, replies, failures and log lines on the way.
void RunPluginLifetime(TestHost& host) {
    host.CallExport();
    StockDataStore(host);
    ASSERT_TRUE(host.Initialize());
    host.Deliver(
        "OnServiceProxyMethodEvent",
        Json{{"serviceName", "a"}, {"methodName", "b"}, {"payload", "kept until shutdown"}});
    host.Deliver("OnServiceProxyAsyncEvent", Json{{"serviceName", "a"}, {"methodName", "c"}});
    host.DeliverValue("OnServiceProxyUuidEvent", host.Arena().Raw(12));
    host.Deliver("OnServiceProxyUuidEvent", Json{{"uuid", 5}});
    host.Shutdown();
    // Whatever the host still has queued finds nothing to touch (checked under
    // AddressSanitizer in the asan build).
    host.RunAllTimers();
}

// After Shutdown the library holds only what lives for the whole process: the logger, created by
// the first Initialize and kept until the library is unloaded, with its list of targets. The
// type identities are constant data, and the page source holds no counted memory once its pages
// are back. A second plug-in in the same loaded library leaves nothing at all behind.
TEST(PluginLibrary, AfterShutdownOnlyProcessLifetimeObjectsRemain) {
    ASSERT_FALSE(LibraryLoaded()) << "an earlier host left the library loaded";
    TestHost first;
    first.Open();
    const uint64_t before = TestHost::LiveBytes(first.MemoryStats());
    RunPluginLifetime(first);
    const uint64_t afterFirst = TestHost::LiveBytes(first.MemoryStats());
    // Usable block sizes as the run-time reports them, so the figure varies a little with the
    // heap's state: the logger object (840 bytes in the 64-bit build) and its list of targets
    // (24 bytes for its two slots). Live blocks are no measure here: reallocating a null block
    // counts a block as freed.
    EXPECT_GT(afterFirst, before);
    EXPECT_LE(afterFirst - before, 1024u);
    std::printf("[          ] bytes held before the export: %llu; after the first plug-in's "
                "shutdown: %llu more\n",
                static_cast<unsigned long long>(before),
                static_cast<unsigned long long>(afterFirst - before));

    TestHost second; // shares the loaded library with the first host
    second.Open();
    EXPECT_EQ(TestHost::LiveBytes(second.MemoryStats()), afterFirst);
    RunPluginLifetime(second);
    EXPECT_EQ(TestHost::LiveBytes(second.MemoryStats()), afterFirst);
}

} // namespace
} // namespace Korvel::Testing
