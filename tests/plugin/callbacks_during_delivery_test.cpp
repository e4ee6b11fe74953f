// What the plug-in object does when the code it calls back changes the object while a delivery,
// a timer run or a streamed read is under way: listeners that shut the object down, timers that
// remove or re-register themselves, and host read functions that misbehave.

#include "binding/binding_registry.h"
#include "test_plugin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Korvel::Testing {
namespace {

using Client::PluginResourceEventOf;
using Client::PluginResourceEventType;

class CallbacksDuringDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = MakeTestPlugin(host);
        ASSERT_TRUE(plugin->Initialize(host.Context(3)));
        host.ClearRecords();
    }

    static Json ResourceEvent(const std::string& uri, const Json& data) {
        return Json{{"uri", uri}, {"eventType", "Update"}, {"data", data}};
    }

    TestHost host;
    std::unique_ptr<TestPlugin> plugin;
};

TEST_F(CallbacksDuringDelivery, AResourceListenerThatShutsDownEndsTheDelivery) {
    std::vector<std::string> heard;
    plugin->ObserveResource<BindingProperty>("/a/v1/b",
                                             [&](const PluginResourceEventOf<BindingProperty>&) {
                                                 heard.push_back("first");
                                                 plugin->Shutdown();
                                             });
    plugin->ObserveResource<BindingProperty>(
        "/a/v1/b",
        [&](const PluginResourceEventOf<BindingProperty>&) { heard.push_back("second"); });
    plugin->ObserveResource<BindingProperty>(
        "/a/*/b", [&](const PluginResourceEventOf<BindingProperty>&) { heard.push_back("wild"); });
    EXPECT_EQ(host.Deliver("OnJsonApiEvent_a_v1_b", ResourceEvent("/a/v1/b", 1)), 1u);
    // The listeners still waiting for this event were removed by the shutdown: none hears it.
    EXPECT_EQ(heard, (std::vector<std::string>{"first"}));
    EXPECT_EQ(plugin->ResourceListenerCount(), 0u);
    EXPECT_FALSE(host.IsSubscribed("OnJsonApiEvent_a_v1_b"));
}

// A plug-in object whose host handles a resource read by first delivering an event that shuts the
// object down.
class ShutDownWhileReading : public TestPlugin {
public:
    void SendRequest(HostResourceResponse* response, const HostResourceRequest* request) override {
        Shutdown();
        TestPlugin::SendRequest(response, request);
    }
};

TEST(CallbacksDuringRead, AListenerRemovedWhileItsFirstReadRunsHearsNothing) {
    TestHost host;
    auto plugin = std::make_unique<ShutDownWhileReading>();
    plugin->SetClock(&TestHost::Clock, &host);
    PluginApiDescriptor descriptor{};
    descriptor.apiMajor = 18;
    plugin->Handshake(&descriptor, "vel-service-status");
    ASSERT_TRUE(plugin->Initialize(host.Context()));
    host.SetResource("/a/v1/b", Json{{"x", 1}});
    int heard = 0;
    plugin->ObserveResource<BindingProperty>(
        "/a/v1/b", [&](const PluginResourceEventOf<BindingProperty>&) { ++heard; });
    EXPECT_EQ(host.Requests().size(), 1u);
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(plugin->ResourceListenerCount(), 0u);
    EXPECT_EQ(host.UnreleasedResponseCount(), 0u);
}

TEST_F(CallbacksDuringDelivery, AnLcdsListenerThatShutsDownEndsTheDelivery) {
    std::vector<std::string> heard;
    plugin->ObserveLcds<BindingProperty>("k.C", [&](const BindingProperty&) {
        heard.push_back("first");
        plugin->Shutdown();
    });
    plugin->ObserveLcds<BindingProperty>(
        "k.C", [&](const BindingProperty&) { heard.push_back("second"); });
    // Two subscriptions of the name with the host: one callback is enough here.
    HostValueArena arena;
    HostEventRecord record{};
    record.name = "OnLcdsEvent_k_C";
    record.payload = arena.Build(Json{{"typeName", "k.C"}, {"body", 1}});
    record.userData = plugin.get();
    host.Subscriptions().back().callback(&record);
    EXPECT_EQ(host.RunDueTimers(), 1u);
    EXPECT_EQ(heard, (std::vector<std::string>{"first"}));
}

} // namespace
} // namespace Korvel::Testing
