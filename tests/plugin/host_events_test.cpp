// Host events of a plug-in object of the test's own process, served by the test host: typed
// subscriptions, resource and LCDS listeners, service-proxy replies, publishing and the
// plug-in-manager types the handshake registers.

#include "binding/binding_registry.h"
#include "plugin/plugin_manager_types.h"
#include "test_plugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Korvel::Testing {
struct UnregisteredRecord {
    int32_t value = 0;
};
} // namespace Korvel::Testing

KORVEL_STATIC_TYPE(struct, Korvel::Testing::UnregisteredRecord)

namespace Korvel::Testing {
namespace {

using Client::PluginManagerResource;
using Client::PluginManagerState;
using Client::PluginResourceEventOf;
using Client::PluginResourceEventType;
using Client::AppModule::PluginLcdsEvent;
using Client::AppModule::PluginServiceProxyResponse;

constexpr char kLoginPath[] = "/vel-login/v1/login-data-packet";
constexpr char kLoginEvent[] = "OnJsonApiEvent_vel-login_v1_login-data-packet";

class HostEvents : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = MakeTestPlugin(host);
        ASSERT_TRUE(plugin->Initialize(host.Context(5)));
        host.ClearRecords();
    }

    // A resource event as the host sends it.
    static Json ResourceEvent(const std::string& uri, const char* type, const Json& data) {
        return Json{{"uri", uri}, {"eventType", type}, {"data", data}};
    }

    TestHost host;
    std::unique_ptr<TestPlugin> plugin;
};

TEST_F(HostEvents, PlainEventsPassThePayloadAndBadPayloadsAreDropped) {
    std::vector<BindingProperty> received;
    plugin->SubscribeHostEvent("OnRegionLocaleChanged", PlainEventHandler([&](const auto& value) {
                                   received.push_back(value);
                               }));
    ASSERT_EQ(host.SubscriptionCalls().size(), 1u);
    EXPECT_EQ(host.SubscriptionCalls()[0].flag, 0u);
    EXPECT_EQ(host.SubscriptionCalls()[0].pluginId, 5u);
    EXPECT_EQ(host.Subscriptions().back().userData, static_cast<void*>(plugin.get()));

    EXPECT_EQ(host.Deliver("OnRegionLocaleChanged", Json{{"region", "EUW"}, {"locale", "en_GB"}}),
              1u);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Member("region").GetString(), "EUW");
    EXPECT_EQ(received[0].Member("locale").GetString(), "en_GB");

    // Payloads that do not convert never reach the handler, and nothing is logged.
    HostValue broken = host.Arena().Raw(static_cast<uint32_t>(HostValueKind::Collection));
    broken.payload.collection.count = 3;
    host.DeliverValue("OnRegionLocaleChanged", broken);
    host.DeliverValue("OnRegionLocaleChanged",
                      host.Arena().Structure({{"region", host.Arena().Raw(99)}}));
    EXPECT_EQ(received.size(), 1u);
    EXPECT_TRUE(host.LogLines().empty());

    // Events of other names are ignored; a callback whose name the plug-in does not know either.
    EXPECT_EQ(host.Deliver("OnSomethingElse", Json{}), 0u);
    HostEventRecord stranger{};
    stranger.name = "OnNeverSubscribed";
    stranger.userData = plugin.get();
    host.Subscriptions().back().callback(&stranger);
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(HostEvents, AHandlerMayReplaceItselfWhileItRuns) {
    int first = 0;
    int second = 0;
    plugin->SubscribeHostEvent(
        "Replace", PlainEventHandler([&](const BindingProperty&) {
            ++first;
            plugin->SubscribeHostEvent(
                "Replace", PlainEventHandler([&](const BindingProperty&) { ++second; }));
        }));
    host.Deliver("Replace", Json{});
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    host.Deliver("Replace", Json{});
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2); // the host now holds two subscriptions of the name
}

TEST_F(HostEvents, ObservedResourceStartsWithItsCurrentValue) {
    host.SetResource(kLoginPath, Json{{"state", "PluginsInitialized"}});
    std::vector<PluginResourceEventOf<PluginManagerResource>> events;
    plugin->ObserveResource<PluginManagerResource>(
        kLoginPath, [&](const PluginResourceEventOf<PluginManagerResource>& event) {
            events.push_back(event);
        });
    // Subscribed with flag 0, then read once: one Create event before any host event.
    ASSERT_EQ(host.SubscriptionCalls().size(), 1u);
    EXPECT_EQ(host.SubscriptionCalls()[0].eventName, kLoginEvent);
    EXPECT_EQ(host.SubscriptionCalls()[0].flag, 0u);
    ASSERT_EQ(host.Requests().size(), 1u);
    EXPECT_EQ(host.Requests()[0].path, kLoginPath);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].uri, kLoginPath);
    EXPECT_EQ(events[0].eventType, PluginResourceEventType::Create);
    EXPECT_EQ(events[0].data.state, PluginManagerState::PluginsInitialized);

    // A uri without its leading "/" reaches the listeners of the path.
    host.Deliver(kLoginEvent, ResourceEvent("vel-login/v1/login-data-packet", "Update",
                                            Json{{"state", "NotReady"}}));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].uri, kLoginPath);
    EXPECT_EQ(events[1].eventType, PluginResourceEventType::Update);
    EXPECT_EQ(events[1].data.state, PluginManagerState::NotReady);

    // Data that does not convert to the listener's type, and events that are no resource event,
    // are dropped silently.
    host.Deliver(kLoginEvent, ResourceEvent(kLoginPath, "Update", Json{{"state", "Bogus"}}));
    host.Deliver(kLoginEvent, ResourceEvent(kLoginPath, "Sideways", Json{{"state", "NotReady"}}));
    host.Deliver(kLoginEvent, Json("not a structure"));
    host.Deliver(kLoginEvent, nullptr);
    EXPECT_EQ(events.size(), 2u);
    // Another path of the same event name reaches nobody here.
    host.Deliver(kLoginEvent, ResourceEvent(std::string(kLoginPath) + "/details", "Delete",
                                            Json{{"state", "NotReady"}}));
    EXPECT_EQ(events.size(), 2u);
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(HostEvents, ResourceThatCannotBeReadGivesNoInitialEvent) {
    int calls = 0;
    plugin->ObserveResource<BindingProperty>(
        "/absent/v1/thing", [&](const PluginResourceEventOf<BindingProperty>&) { ++calls; });
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(host.IsSubscribed("OnJsonApiEvent_absent_v1_thing"));
    // Wildcard paths are not read at all.
    plugin->ObserveResource<BindingProperty>(
        "/absent/v1/*", [&](const PluginResourceEventOf<BindingProperty>&) { ++calls; });
    EXPECT_EQ(host.Requests().size(), 1u);
    EXPECT_EQ(calls, 0);
}

TEST_F(HostEvents, ExactListenersFirstThenMatchingWildcardsInOrder) {
    std::vector<std::string> order;
    auto record = [&](const char* who) {
        return [&order, who](const PluginResourceEventOf<BindingProperty>& event) {
            order.push_back(std::string(who) + " " + event.uri);
        };
    };
    plugin->ObserveResource<BindingProperty>("/vel-login/v1/*", record("wild-1"));
    plugin->ObserveResource<BindingProperty>(kLoginPath, record("exact"));
    plugin->ObserveResource<BindingProperty>("/vel-login/*/login-data-packet", record("wild-2"));
    plugin->ObserveResource<BindingProperty>("/vel-login/v1/*/x", record("wild-3"));
    // One subscription per event name, whatever the number of listeners.
    EXPECT_EQ(host.Subscriptions().size(), 3u + 3u);
    order.clear(); // the listeners of exact paths heard nothing yet: the path is not in the store

    host.Deliver(kLoginEvent, ResourceEvent(kLoginPath, "Update", 1));
    EXPECT_EQ(order, (std::vector<std::string>{"exact " + std::string(kLoginPath),
                                               "wild-1 " + std::string(kLoginPath),
                                               "wild-2 " + std::string(kLoginPath)}));
    order.clear();
    host.Deliver(kLoginEvent, ResourceEvent("/vel-login/v1/other", "Update", 1));
    EXPECT_EQ(order, (std::vector<std::string>{"wild-1 /vel-login/v1/other"}));
    EXPECT_EQ(plugin->ResourceListenerCount(), 4u);
}

TEST_F(HostEvents, LcdsMessagesReachTheirListenersFromADeferredTask) {
    const std::string className = "com.example.lcds.Thing";
    const std::string eventName = "OnLcdsEvent_com_example_lcds_Thing";
    std::vector<std::string> order;
    plugin->ObserveLcds<PluginManagerResource>(
        className, [&](const PluginManagerResource& resource) {
            order.push_back("first " + std::to_string(static_cast<int>(resource.state)));
        });
    plugin->ObserveLcds<BindingProperty>(className, [&](const BindingProperty& body) {
        order.push_back("second " + std::string(body.Member("state").GetString()));
    });
    // Each call subscribes anew, with flag 1.
    ASSERT_EQ(host.SubscriptionCalls().size(), 2u);
    for (const SubscriptionCall& call : host.SubscriptionCalls()) {
        EXPECT_EQ(call.eventName, eventName);
        EXPECT_EQ(call.flag, 1u);
    }

    const Json message = {{"clientId", "c"},
                          {"subtopic", "s"},
                          {"typeName", className},
                          {"body", {{"state", "PluginsInitialized"}}}};
    // The host calls back both of its subscriptions of the name: two deliveries, each deferred.
    host.Deliver(eventName, message);
    EXPECT_TRUE(order.empty());
    ASSERT_EQ(host.TimerCalls().size(), 2u);
    EXPECT_EQ(host.TimerCalls()[0].label, "Event: OnLcdsEvent (com.example.lcds.Thing)");
    EXPECT_EQ(host.TimerCalls()[0].delaySeconds, 0.0);
    host.RunDueTimers();
    EXPECT_EQ(order, (std::vector<std::string>{"first 1", "second PluginsInitialized", "first 1",
                                               "second PluginsInitialized"}));

    // A body that does not convert is dropped for that listener only.
    order.clear();
    host.ClearRecords();
    Json bad = message;
    bad["body"] = {{"state", "Bogus"}};
    host.Deliver(eventName, bad);
    host.RunDueTimers();
    EXPECT_EQ(order, (std::vector<std::string>{"second Bogus", "second Bogus"}));

    // A class nobody listens to defers nothing.
    host.ClearRecords();
    Json other = message;
    other["typeName"] = "com.example.Other";
    host.Deliver(eventName, other);
    EXPECT_TRUE(host.TimerCalls().empty());
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(HostEvents, LcdsTypeBindingsByNameAndHash) {
    plugin->BindLcdsType("Thing", 0x1234u, "com.example.Thing");
    plugin->BindLcdsType("Thing", 0x1234u, "com.example.Renamed");
    ASSERT_NE(plugin->LcdsClassOfType("Thing"), nullptr);
    EXPECT_EQ(*plugin->LcdsClassOfType("Thing"), "com.example.Renamed");
    ASSERT_NE(plugin->LcdsClassOfType(0x1234u), nullptr);
    EXPECT_EQ(*plugin->LcdsClassOfType(0x1234u), "com.example.Renamed");
    EXPECT_EQ(plugin->LcdsClassOfType("Other"), nullptr);
    EXPECT_EQ(plugin->LcdsClassOfType(0x4321u), nullptr);
}

TEST_F(HostEvents, ServiceProxyRepliesReachTheRequestThatWaits) {
    std::vector<std::string> payloads;
    plugin->AwaitServiceProxyResponse(
        "u-1", [&](const PluginServiceProxyResponse& r) { payloads.push_back(r.payload); });
    EXPECT_EQ(plugin->WaitingServiceProxyRequestCount(), 1u);

    host.Deliver("OnServiceProxyUuidEvent", ServiceProxyReply("u-1", "svc", "m", "p1"));
    EXPECT_EQ(payloads, (std::vector<std::string>{"p1"}));
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(host.LogLines()[0].level, 3);
    EXPECT_EQ(host.LogLines()[0].text, "Fulfilled service proxy request: u-1");
    EXPECT_EQ(plugin->WaitingServiceProxyRequestCount(), 0u);
    EXPECT_EQ(plugin->PendingServiceProxyResponseCount(), 0u);

    // A method-based reply nobody waits for stays pending; a later one of the same key replaces
    // it, and a request made afterwards receives that one.
    host.ClearRecords();
    host.Deliver("OnServiceProxyMethodEvent", ServiceProxyReply("x", "svc", "get", "old"));
    host.Deliver("OnServiceProxyMethodEvent", ServiceProxyReply("y", "svc", "get", "new"));
    host.Deliver("OnServiceProxyMethodEvent", ServiceProxyReply("z", "svc", "put", "other"));
    EXPECT_EQ(plugin->PendingServiceProxyResponseCount(), 2u);
    EXPECT_TRUE(host.LogLines().empty());
    plugin->AwaitServiceProxyResponse(
        "svc.get", [&](const PluginServiceProxyResponse& r) { payloads.push_back(r.payload); });
    EXPECT_EQ(payloads, (std::vector<std::string>{"p1", "new"}));
    EXPECT_EQ(plugin->PendingServiceProxyResponseCount(), 1u);
    EXPECT_EQ(host.LogLinesContaining("Fulfilled service proxy request: svc.get").size(), 1u);
}

TEST_F(HostEvents, AsyncServiceProxyEventsNeedAHandler) {
    host.Deliver("OnServiceProxyAsyncEvent", ServiceProxyReply("u", "chat", "onMessage", "p"));
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(host.LogLines()[0].level, 2);
    EXPECT_EQ(host.LogLines()[0].text,
              "Could not find registered handler for async service proxy event chat.onMessage");
    EXPECT_EQ(plugin->PendingServiceProxyResponseCount(), 0u);

    std::vector<std::string> payloads;
    plugin->SetServiceProxyAsyncHandler("chat.onMessage", [&](const PluginServiceProxyResponse& r) {
        payloads.push_back(r.payload);
    });
    host.Deliver("OnServiceProxyAsyncEvent", ServiceProxyReply("u", "chat", "onMessage", "p2"));
    host.Deliver("OnServiceProxyAsyncEvent", ServiceProxyReply("u", "chat", "onMessage", "p3"));
    EXPECT_EQ(payloads, (std::vector<std::string>{"p2", "p3"}));
    EXPECT_EQ(host.LogLines().size(), 1u);
}

TEST_F(HostEvents, PublishingFiresTheResourceEventThenOnJsonApiEvent) {
    PluginManagerResource resource;
    resource.state = PluginManagerState::PluginsInitialized;
    EXPECT_TRUE(plugin->PublishResource(PluginResourceEventType::Update,
                                        "/vel-service-status/v1/ticker-messages", resource));
    ASSERT_EQ(host.Events().size(), 2u);
    EXPECT_EQ(host.Events()[0].name, "OnJsonApiEvent_vel-service-status_v1_ticker-messages");
    EXPECT_EQ(host.Events()[1].name, "OnJsonApiEvent");
    const Json payload = {{"data", {{"state", "PluginsInitialized"}}},
                          {"eventType", "Update"},
                          {"uri", "/vel-service-status/v1/ticker-messages"}};
    for (const FiredEvent& event : host.Events()) {
        EXPECT_EQ(event.payload, payload);
        EXPECT_EQ(event.flag, 0);
        // Enumerators travel as owned texts with their names.
        EXPECT_EQ(
            event.payloadKinds,
            (Json{{"$", 10}, {"data", {{"$", 10}, {"state", 6}}}, {"eventType", 6}, {"uri", 6}}));
    }

    // A path without segments has "OnJsonApiEvent" itself as its event name: fired once.
    host.ClearRecords();
    BindingProperty value;
    value.Append().SetSigned(1);
    EXPECT_TRUE(plugin->PublishResource(PluginResourceEventType::Delete, "/", value));
    ASSERT_EQ(host.Events().size(), 1u);
    EXPECT_EQ(host.Events()[0].name, "OnJsonApiEvent");
    EXPECT_EQ(host.Events()[0].payload,
              (Json{{"data", Json::array({1})}, {"eventType", "Delete"}, {"uri", "/"}}));

    // A value that does not convert publishes nothing.
    host.ClearRecords();
    EXPECT_FALSE(
        plugin->PublishResource(PluginResourceEventType::Update, "/a/b/c", UnregisteredRecord{}));
    EXPECT_TRUE(host.Events().empty());
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(HostEvents, ShutdownEmptiesEveryTable) {
    host.SetResource("/a/b/c", Json{{"state", "NotReady"}});
    int resourceEvents = 0;
    int lcdsMessages = 0;
    int replies = 0;
    plugin->ObserveResource<BindingProperty>(
        "/a/b/c", [&](const PluginResourceEventOf<BindingProperty>&) { ++resourceEvents; });
    plugin->ObserveResource<BindingProperty>(
        "/a/*/c", [&](const PluginResourceEventOf<BindingProperty>&) { ++resourceEvents; });
    plugin->ObserveLcds<BindingProperty>("k", [&](const BindingProperty&) { ++lcdsMessages; });
    plugin->AwaitServiceProxyResponse("u", [&](const PluginServiceProxyResponse&) { ++replies; });
    plugin->SetServiceProxyAsyncHandler("s.m",
                                        [&](const PluginServiceProxyResponse&) { ++replies; });
    host.Deliver("OnServiceProxyMethodEvent", ServiceProxyReply("", "s", "x", ""));
    // An LCDS message whose delivery is still pending with the host at shutdown.
    host.Deliver("OnLcdsEvent_k", Json{{"typeName", "k"}, {"body", 1}});
    EXPECT_EQ(resourceEvents, 1);
    host.ClearRecords();

    // Copies of the host's callbacks, to call after the shutdown as a careless host would.
    const std::vector<Subscription> subscriptions = host.Subscriptions();
    plugin->Shutdown();
    std::vector<std::string> unsubscribed;
    for (const SubscriptionCall& call : host.SubscriptionCalls()) {
        EXPECT_FALSE(call.subscribe);
        EXPECT_EQ(call.pluginId, 5u);
        unsubscribed.push_back(call.eventName);
    }
    std::sort(unsubscribed.begin(), unsubscribed.end());
    EXPECT_EQ(unsubscribed,
              (std::vector<std::string>{"OnJsonApiEvent_a_*_c", "OnJsonApiEvent_a_b_c",
                                        "OnLcdsEvent_k", "OnServiceProxyAsyncEvent",
                                        "OnServiceProxyMethodEvent", "OnServiceProxyUuidEvent"}));
    EXPECT_EQ(plugin->HostSubscriptionCount(), 0u);
    EXPECT_EQ(plugin->ResourceListenerCount(), 0u);
    EXPECT_EQ(plugin->LcdsListenerCount(), 0u);
    EXPECT_EQ(plugin->PendingServiceProxyResponseCount(), 0u);
    EXPECT_EQ(plugin->WaitingServiceProxyRequestCount(), 0u);

    // The pending LCDS delivery finds no listener; late host callbacks find no handler.
    host.RunAllTimers();
    for (const Subscription& subscription : subscriptions) {
        HostValueArena arena;
        HostEventRecord record{};
        record.name = subscription.eventName.c_str();
        record.payload = arena.Build(Json{{"uri", "/a/b/c"}, {"typeName", "k"}});
        record.userData = subscription.userData;
        subscription.callback(&record);
    }
    EXPECT_EQ(resourceEvents, 1);
    EXPECT_EQ(lcdsMessages, 0);
    EXPECT_EQ(replies, 0);
}

TEST(PluginManagerTypes, RegisteredByTheHandshakeWithTheirTag) {
    TestHost host;
    auto plugin = MakeTestPlugin(host);
    const BindingRegistry& registry = plugin->Registry();
    struct Expected {
        const char* name;
        bool isEnum;
        std::vector<std::string> members;
    };
    const Expected types[] = {
        {"PluginManagerState", true, {"NotReady", "PluginsInitialized"}},
        {"PluginManagerResource", false, {"state"}},
        {"PluginResourceEventType", true, {"Create", "Delete", "Update"}},
        {"PluginResourceEvent", false, {"uri", "eventType", "data"}},
        {"PluginLcdsEvent", false, {"clientId", "subtopic", "typeName", "body"}},
        {"PluginLcdsResponse", false, {"typeName", "body"}},
        {"PluginServiceProxyResponse",
         false,
         {"uuid", "serviceName", "methodName", "payload", "status", "error"}},
    };
    for (const Expected& expected : types) {
        SCOPED_TRACE(expected.name);
        const BindingTypeDescriptor* type = registry.FindTypeByName(expected.name);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->isEnum, expected.isEnum);
        EXPECT_EQ(type->tags, (std::vector<std::string>{"kclient"}));
        EXPECT_TRUE(type->description.empty());
        std::vector<std::string> members;
        if (type->isEnum) {
            for (const auto& [name, value] : type->values) {
                members.push_back(name);
            }
        } else {
            for (const BindingFieldDescriptor& field : type->fields) {
                members.push_back(field.name);
                EXPECT_EQ(field.flags, 0u);
                EXPECT_TRUE(field.description.empty());
            }
        }
        EXPECT_EQ(members, expected.members);
    }
    EXPECT_EQ(registry.FindTypeByName("PluginResourceEventType")->FindValue(1)->name, "Update");
    EXPECT_EQ(registry.FindTypeByName("PluginResourceEvent")->fields[1].type.descriptor,
              registry.FindTypeByName("PluginResourceEventType"));

    struct Event {
        const char* name;
        const char* payload;
        const char* description;
    };
    const Event events[] = {
        {"OnJsonApiEvent", "PluginResourceEvent", "Fired when a resource is changed."},
        {"OnLcdsEvent", "PluginLcdsEvent",
         "Fired when a message is received over the LCDS connection."},
        {"OnServiceProxyUuidEvent", "PluginServiceProxyResponse",
         "Fired when a uuid-based service proxy message is received."},
        {"OnServiceProxyMethodEvent", "PluginServiceProxyResponse",
         "Fired when a method-based service proxy message is received."},
        {"OnServiceProxyAsyncEvent", "PluginServiceProxyResponse",
         "Fired when an async service proxy message is received."},
    };
    for (const Event& expected : events) {
        SCOPED_TRACE(expected.name);
        const BindingEventDescriptor* event = registry.FindEvent(expected.name);
        ASSERT_NE(event, nullptr);
        ASSERT_NE(event->payload, nullptr);
        EXPECT_EQ(event->payload->name, expected.payload);
        EXPECT_EQ(event->description, expected.description);
        EXPECT_EQ(event->tags, (std::vector<std::string>{"kclient"}));
    }
    // The builtin types are there too, registered first.
    EXPECT_NE(registry.FindEvent("OnCallback"), nullptr);

    // A second registration changes nothing.
    const std::size_t count = registry.SnapshotTypes().size();
    Client::RegisterPluginManagerTypes(plugin->Registry());
    EXPECT_EQ(registry.SnapshotTypes().size(), count);
    EXPECT_EQ(registry.FindTypeByName("PluginManagerResource")->fields.size(), 1u);
    EXPECT_EQ(registry.FindTypeByName("PluginManagerResource")->tags.size(), 1u);
}

} // namespace
} // namespace Korvel::Testing
