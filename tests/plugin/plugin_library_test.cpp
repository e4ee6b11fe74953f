// The built shared library as a host sees it: loaded by the system loader, entered
// through its export, driven through its entry points.

#include "support/test_host.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstring>
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

TEST(PluginLibrary, RefusedHostVersionsAreReportedOnStandardError) {
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
        EXPECT_NE(output.find(c.text), std::string::npos) << output;

        // The descriptor still tells the host which version the plug-in has;
        // the host decides, and one that goes on finds a working plug-in.
        EXPECT_EQ(host.Descriptor().apiMajor, 18u);
        EXPECT_EQ(host.Descriptor().apiMinor, 0u);
        EXPECT_EQ(host.Descriptor().apiPatch, 0u);
        EXPECT_STREQ(host.Descriptor().name, "vel-service-status");
        EXPECT_TRUE(host.Initialize());
        EXPECT_TRUE(host.LogLines().empty());
    }
}

TEST(PluginLibrary, InitializeSubscribesAndShutdownUnsubscribes) {
    TestHost host;
    host.Load({18, 2, 0});
    ASSERT_TRUE(host.Initialize(21));
    ASSERT_EQ(host.Subscriptions().size(), 3u);
    std::vector<std::string> names;
    for (const Subscription& subscription : host.Subscriptions()) {
        names.push_back(subscription.eventName);
        EXPECT_EQ(subscription.pluginId, 21u);
        EXPECT_EQ(subscription.flag, 1u);
        EXPECT_EQ(subscription.userData, host.Descriptor().plugin);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                        "OnServiceProxyAsyncEvent"}));
    // A service-proxy event reaches the plug-in without harm.
    EXPECT_EQ(host.Deliver("OnServiceProxyUuidEvent", Json{{"uuid", "1"}}), 1u);

    host.ClearRecords();
    host.Shutdown();
    ASSERT_EQ(host.SubscriptionCalls().size(), 3u);
    for (const SubscriptionCall& call : host.SubscriptionCalls()) {
        EXPECT_FALSE(call.subscribe);
        EXPECT_EQ(call.pluginId, 21u);
    }
    EXPECT_TRUE(host.Subscriptions().empty());
    // Nothing is left for the host to call back.
    EXPECT_EQ(host.PendingTimerCount(), 0u);
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

} // namespace
} // namespace Korvel::Testing
