// What the plug-in object does when the code it calls back changes the object while a delivery or
// a timer run is under way: listeners that shut the object down, timers that remove or re-register
// themselves, and a host that ends the object from inside one of its callbacks.

#include "binding/binding_registry.h"
#include "diagnostics/log.h"
#include "test_plugin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace Korvel::Testing {
namespace {

using Client::PluginResourceEventOf;
using Client::PluginResourceEventType;
using std::chrono::seconds;

constexpr int64_t kSecond = 1000000000;

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
    RegisterTestPlugin(*plugin, host);
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

TEST_F(CallbacksDuringDelivery, ATimerThatRemovesItselfRunsNoMore) {
    int runs = 0;
    plugin->AddTimer("self", 1.0, [&] {
        ++runs;
        plugin->RemoveTimer("self");
    });
    host.AdvanceTime(seconds(5));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(plugin->HasTimer("self"));
    EXPECT_EQ(host.TimerCalls().size(), 1u);
    EXPECT_EQ(host.PendingTimerCount(), 0u);
    EXPECT_EQ(plugin->PendingDeferredCount(), 0u);
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(CallbacksDuringDelivery, ATimerThatReRegistersItselfKeepsOnlyTheNewSchedule) {
    std::vector<int64_t> runs;
    plugin->AddTimer("self", 2.0, [&] {
        runs.push_back(host.Now());
        if (runs.size() == 1) {
            plugin->AddTimer("self", 3.0, [&] { runs.push_back(host.Now()); });
        }
    });
    host.AdvanceTime(seconds(12));
    EXPECT_EQ(runs, (std::vector<int64_t>{2 * kSecond, 5 * kSecond, 8 * kSecond, 11 * kSecond}));
    EXPECT_EQ(host.PendingTimerCount(), 1u);
    EXPECT_EQ(plugin->PendingDeferredCount(), 1u);
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(CallbacksDuringDelivery, ATimerThatShutsDownIsNotRearmed) {
    int runs = 0;
    int other = 0;
    plugin->AddTimer("a", 1.0, [&] {
        ++runs;
        plugin->Shutdown();
    });
    plugin->AddTimer("b", 1.0, [&] { ++other; });
    host.AdvanceTime(seconds(4));
    EXPECT_EQ(runs, 1);
    // "b" was due together with "a"; its firing was already with the host and finds it gone.
    EXPECT_EQ(other, 0);
    EXPECT_EQ(host.LogLinesContaining("Couldn't find timer named b").size(), 1u);
    EXPECT_EQ(host.PendingTimerCount(), 0u);
}

// The host's Shutdown entry point called from inside a callback of the object still under way,
// as a host does that ends its plug-ins while it is still handing one of them an event. The code
// still running on the object must find it whole (run under AddressSanitizer in the asan build),
// and no work of the object may run once the entry point has returned.
class EndedByTheHost : public TestPlugin {
public:
    EndedByTheHost(TestHost& host, bool& destroyed) : host_(host), destroyed_(destroyed) {}
    ~EndedByTheHost() override { destroyed_ = true; }

    // Hands every fired event to the object's own subscriptions before returning.
    void FireEvent(const HostEventRecord* event) override {
        TestPlugin::FireEvent(event);
        host_.DeliverValue(event->name, event->payload);
    }

private:
    TestHost& host_;
    bool& destroyed_;
};

class ShutDownInsideACallback : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = new EndedByTheHost(host, destroyed);
        RegisterTestPlugin(*plugin, host);
        ASSERT_TRUE(plugin->Initialize(host.Context()));
        host.ClearRecords();
    }

    void TearDown() override {
        if (!destroyed) {
            PluginBase::ShutdownEntry(plugin);
        }
    }

    // Work that must not run once the object is shut down: a task and a timer of its own.
    void AddOtherWork() {
        plugin->AddDeferred(
            "other", [this] { ran.push_back("other task"); }, host.Now() + kSecond);
        plugin->AddTimer("other", 1.0, [this] { ran.push_back("other timer"); });
    }

    TestHost host;
    bool destroyed = false;
    EndedByTheHost* plugin = nullptr;
    std::vector<std::string> ran;
};

TEST_F(ShutDownInsideACallback, FromADeferredTask) {
    AddOtherWork();
    plugin->AddDeferred(
        "ending",
        [this] {
            PluginBase::ShutdownEntry(plugin);
            // The task goes on with the object still there; it is destroyed when the task ends,
            // and what it hands the host now never reaches it.
            ran.push_back(destroyed ? "destroyed" : "still there");
            const size_t timerCalls = host.TimerCalls().size();
            plugin->AddDeferred(
                "late", [this] { ran.push_back("late"); }, host.Now());
            EXPECT_EQ(host.TimerCalls().size(), timerCalls);
        },
        host.Now());
    EXPECT_EQ(host.RunDueTimers(), 1u);
    EXPECT_TRUE(destroyed);
    host.AdvanceTime(seconds(5));
    EXPECT_EQ(ran, (std::vector<std::string>{"still there"}));
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(ShutDownInsideACallback, FromATimerHandler) {
    AddOtherWork();
    plugin->AddTimer("ending", 0.5, [this] {
        PluginBase::ShutdownEntry(plugin);
        ran.push_back("ended");
    });
    host.AdvanceTime(seconds(5));
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(ran, (std::vector<std::string>{"ended"}));
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(ShutDownInsideACallback, FromAnEventThePluginItselfPublished) {
    AddOtherWork();
    std::vector<std::string> heard;
    plugin->ObserveResource<BindingProperty>("/a/v1/b",
                                             [&](const PluginResourceEventOf<BindingProperty>&) {
                                                 heard.push_back("listener");
                                                 PluginBase::ShutdownEntry(plugin);
                                             });
    plugin->ObserveResource<BindingProperty>(
        "/a/*/b", [&](const PluginResourceEventOf<BindingProperty>&) { heard.push_back("wild"); });
    // The publication runs inside a host callback, as all of the plug-in's work does.
    plugin->AddDeferred(
        "publish",
        [this] {
            EXPECT_TRUE(plugin->PublishResourceValue(PluginResourceEventType::Update, "/a/v1/b",
                                                     BindingProperty(int64_t{1})));
            ran.push_back(destroyed ? "destroyed" : "still there");
        },
        host.Now());
    host.RunDueTimers();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(heard, (std::vector<std::string>{"listener"}));
    host.AdvanceTime(seconds(5));
    EXPECT_EQ(ran, (std::vector<std::string>{"still there"}));
}

TEST_F(ShutDownInsideACallback, FromAHostEventHandler) {
    AddOtherWork();
    plugin->SubscribeHostEvent("OnEnd", PlainEventHandler([this](const BindingProperty&) {
                                   PluginBase::ShutdownEntry(plugin);
                                   ran.push_back(destroyed ? "destroyed" : "still there");
                                   // Nothing the handler still does reaches the host.
                                   host.ClearRecords();
                                   plugin->PublishResourceValue(PluginResourceEventType::Update,
                                                                "/a/v1/b", BindingProperty());
                                   plugin->Subscribe("/c/v1/d");
                                   plugin->AddTimer("again", 1.0, [] {});
                                   plugin->SendExternal(HttpMethod::Get, "https://x.example/", {},
                                                        20);
                               }));
    EXPECT_EQ(host.Deliver("OnEnd", Json{}), 1u);
    EXPECT_TRUE(host.Events().empty());
    EXPECT_TRUE(host.SubscriptionCalls().empty());
    EXPECT_TRUE(host.TimerCalls().empty());
    EXPECT_TRUE(host.ExternalRequests().empty());
    EXPECT_TRUE(destroyed);
    host.AdvanceTime(seconds(5));
    EXPECT_EQ(ran, (std::vector<std::string>{"still there"}));
}

TEST_F(ShutDownInsideACallback, LogLinesAfterTheShutdownNeverReachTheHost) {
    plugin->SubscribeHostEvent("OnEnd", PlainEventHandler([this](const BindingProperty&) {
                                   LogMessage(LogLevel::Warn, kLogCategoryDbg, "before");
                                   PluginBase::ShutdownEntry(plugin);
                                   LogMessage(LogLevel::Warn, kLogCategoryDbg, "after");
                               }));
    EXPECT_EQ(host.Deliver("OnEnd", Json{}), 1u);
    EXPECT_TRUE(destroyed);
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(host.LogLines()[0].text, "before");
}

TEST_F(ShutDownInsideACallback, FromInsideTheHostsLogFunction) {
    host.AtHostCall([this](size_t, const std::string& function) {
        if (function == "Log" && !destroyed) {
            PluginBase::ShutdownEntry(plugin);
        }
    });
    plugin->AddDeferred(
        "logging",
        [this] {
            LogMessage(LogLevel::Warn, kLogCategoryDbg, "first");
            LogMessage(LogLevel::Warn, kLogCategoryDbg, "second");
            ran.push_back(destroyed ? "destroyed" : "still there");
        },
        host.Now());
    EXPECT_EQ(host.RunDueTimers(), 1u);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(ran, (std::vector<std::string>{"still there"}));
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(host.LogLines()[0].text, "first");
}

// A host that ends the object while it reads a streamed body sees no more reads (nor waits) from
// it: the object calls the host's wait functions no more, so it could only poll a stream that may
// not move until the host runs. The response is still given back.
TEST_F(ShutDownInsideACallback, WhileAStreamedBodyIsRead) {
    std::vector<StreamChunk> chunks = {{"[1,", true}};
    for (int i = 0; i < 20; ++i) {
        chunks.push_back({"", true});
    }
    chunks.push_back({"2]", false});
    host.SetStreamedResource("/a/v1/stream", chunks);
    bool ended = false;
    std::vector<std::string> afterwards;
    host.AtHostCall([&](size_t, const std::string& function) {
        if (ended) {
            afterwards.push_back(function);
        } else if (function == "Read") {
            PluginBase::ShutdownEntry(plugin);
            ended = true;
        }
    });
    ResourceResult result;
    plugin->AddDeferred(
        "reading", [&] { result = plugin->GetResource("/a/v1/stream"); }, host.Now());
    EXPECT_EQ(host.RunDueTimers(), 1u);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(afterwards, (std::vector<std::string>{"Release"}));
    EXPECT_EQ(host.UnreleasedResponseCount(), 0u);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.message,
              "Error reading streamed response for GET /a/v1/stream: Stream read error");
}

// A plug-in object whose own shutdown hands the host one more task.
class PostingWhileShuttingDown : public TestPlugin {
public:
    explicit PostingWhileShuttingDown(bool& ran) : ran_(ran) {}
    void Shutdown() override {
        AddDeferred(
            "during shutdown", [this] { ran_ = true; }, Now());
        TestPlugin::Shutdown();
    }

private:
    bool& ran_;
};

TEST(ShutDownByTheHost, ATaskPostedDuringTheShutdownNeverRuns) {
    TestHost host;
    bool ran = false;
    auto* plugin = new PostingWhileShuttingDown(ran);
    RegisterTestPlugin(*plugin, host);
    ASSERT_TRUE(plugin->Initialize(host.Context()));
    host.ClearRecords();
    PluginBase::ShutdownEntry(plugin);
    ASSERT_EQ(host.TimerCalls().size(), 1u);
    EXPECT_EQ(host.RunAllTimers(), 1u);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(host.LogLines().empty());
}

} // namespace
} // namespace Korvel::Testing
