// A host that calls back from inside its own functions: events the plug-in fires reach the
// plug-in's own subscriptions before FireEvent returns, and timers set with no delay run before
// SetTimer returns. The tables of the plug-in object must stay whole however the callbacks change
// them (run under AddressSanitizer in the asan build).

#include "binding/binding_registry.h"
#include "diagnostics/log.h"
#include "test_plugin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Korvel::Testing {
namespace {

using Client::PluginResourceEventOf;
using Client::PluginResourceEventType;
using Client::AppModule::PluginServiceProxyResponse;

class SynchronousHostPlugin : public TestPlugin {
public:
    explicit SynchronousHostPlugin(TestHost& host) : host_(host) {}

    void FireEvent(const HostEventRecord* event) override {
        PluginBase::FireEvent(event);
        host_.DeliverValue(event->name, event->payload);
    }

    void HostSetTimer(const char* label, HostTimerCallback callback, void* userData,
                      double delaySeconds, uint32_t flags) override {
        if (delaySeconds > 0.0) {
            PluginBase::HostSetTimer(label, callback, userData, delaySeconds, flags);
            return;
        }
        ++immediateTimers;
        callback(userData);
    }

    int immediateTimers = 0;

private:
    TestHost& host_;
};

class ReentrantHost : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = std::make_unique<SynchronousHostPlugin>(host);
        plugin->SetClock(&TestHost::Clock, &host);
        PluginApiDescriptor descriptor{};
        descriptor.apiMajor = 18;
        plugin->Handshake(&descriptor, "vel-service-status");
        ASSERT_TRUE(plugin->Initialize(host.Context(5)));
        host.ClearRecords();
    }

    TestHost host;
    std::unique_ptr<SynchronousHostPlugin> plugin;
};

TEST_F(ReentrantHost, ListenersChangeTheTablesWhileTheirEventIsDispatched) {
    std::vector<std::string> heard;
    int published = 0;
    plugin->ObserveResource<BindingProperty>(
        "/a/v1/b", [&](const PluginResourceEventOf<BindingProperty>& event) {
            heard.push_back("first " + std::to_string(event.data.GetSigned()));
            if (published++ != 0) {
                return;
            }
            // Drops its own subscription, observes again (exact and wildcard) and publishes the
            // path anew, which this host delivers at once.
            plugin->Unsubscribe("/a/v1/b");
            plugin->ObserveResource<BindingProperty>(
                "/a/v1/b", [&](const PluginResourceEventOf<BindingProperty>& inner) {
                    heard.push_back("second " + std::to_string(inner.data.GetSigned()));
                });
            plugin->ObserveResource<BindingProperty>(
                "/a/*/b", [&](const PluginResourceEventOf<BindingProperty>& inner) {
                    heard.push_back("wild " + std::to_string(inner.data.GetSigned()));
                    plugin->Unsubscribe("/a/*/b");
                });
            EXPECT_TRUE(plugin->PublishResourceValue(PluginResourceEventType::Update, "/a/v1/b",
                                                     BindingProperty(int64_t{2})));
        });
    EXPECT_TRUE(plugin->PublishResourceValue(PluginResourceEventType::Update, "/a/v1/b",
                                             BindingProperty(int64_t{1})));
    EXPECT_EQ(heard, (std::vector<std::string>{"first 1", "first 2", "second 2", "wild 2"}));
    EXPECT_EQ(plugin->ResourceListenerCount(), 3u);
    // The exact path is subscribed again; the wildcard dropped its own subscription.
    EXPECT_TRUE(host.IsSubscribed("OnJsonApiEvent_a_v1_b"));
    EXPECT_FALSE(host.IsSubscribed("OnJsonApiEvent_a_*_b"));
    EXPECT_EQ(plugin->HostSubscriptionCount(), 3u + 1u);
}

TEST_F(ReentrantHost, ImmediateTimersRunInsideSetTimer) {
    std::vector<std::string> order;
    plugin->AddDeferred(
        "outer",
        [&] {
            order.push_back("outer");
            plugin->AddDeferred(
                "inner", [&] { order.push_back("inner"); }, host.Now());
            order.push_back("outer end");
        },
        host.Now());
    EXPECT_EQ(order, (std::vector<std::string>{"outer", "inner", "outer end"}));
    EXPECT_EQ(plugin->immediateTimers, 2);
    EXPECT_EQ(plugin->PendingDeferredCount(), 0u);

    // A timer whose handler defers work that, running at once, removes the timer and
    // registers another while the handler is still running.
    int runs = 0;
    plugin->AddTimer("a", 1.0, [&] {
        ++runs;
        plugin->AddDeferred(
            "swap",
            [&] {
                plugin->RemoveTimer("a");
                plugin->AddTimer("b", 1.0, [&] { ++runs; });
            },
            host.Now());
    });
    host.AdvanceTime(std::chrono::seconds(3));
    EXPECT_EQ(runs, 3);
    EXPECT_FALSE(plugin->HasTimer("a"));
    EXPECT_TRUE(plugin->HasTimer("b"));
    EXPECT_EQ(plugin->PendingDeferredCount(), 1u);
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(ReentrantHost, ServiceProxyHandlersWaitAgainWhileTheirReplyIsHandedOver) {
    std::vector<std::string> payloads;
    plugin->AwaitServiceProxyResponse("u-1", [&](const PluginServiceProxyResponse& reply) {
        payloads.push_back(reply.payload);
        plugin->AwaitServiceProxyResponse("u-1", [&](const PluginServiceProxyResponse& again) {
            payloads.push_back("again " + again.payload);
        });
        host.Deliver("OnServiceProxyUuidEvent", ServiceProxyReply("u-1", "s", "m", "p2"));
    });
    host.Deliver("OnServiceProxyUuidEvent", ServiceProxyReply("u-1", "s", "m", "p1"));
    EXPECT_EQ(payloads, (std::vector<std::string>{"p1", "again p2"}));
    EXPECT_EQ(plugin->WaitingServiceProxyRequestCount(), 0u);
    EXPECT_EQ(plugin->PendingServiceProxyResponseCount(), 0u);
}

} // namespace
} // namespace Korvel::Testing
