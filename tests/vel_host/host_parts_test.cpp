// The parts of vel-host that need no process: host values from and to JSON, the data store,
// route expressions of declared functions, the event record and the host loop.

#include "vel_host/data_store.h"
#include "vel_host/declared_functions.h"
#include "vel_host/event_hub.h"
#include "vel_host/host_loop.h"
#include "vel_host/host_value_json.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace Korvel::VelHost {
namespace {

using namespace std::chrono_literals;

TEST(HostValueJson, BuildsAndReadsEveryKind) {
    const Json document = Json::parse(R"({"b": true, "n": -3, "u": 7, "f": 1.5, "s": "text",
        "a": [null, {"x": "y"}], "e": {}})");
    HostValueArena arena;
    const HostValue value = arena.Build(document);
    // The record is packed: its fields are copied out before the assertions bind references.
    const uint32_t kind = value.kind;
    const HostValueStructure structure = value.payload.structure;
    ASSERT_EQ(kind, 10u);
    EXPECT_EQ(structure.count, 7u);
    // Integers keep their sign the way the plug-in's JSON reader does.
    bool sawSigned = false;
    bool sawUnsigned = false;
    for (uint32_t i = 0; i < structure.count; ++i) {
        const HostValueMember& member = structure.members[i];
        const uint32_t memberKind = member.value.kind;
        if (std::string(member.name) == "n") {
            sawSigned = memberKind == 2;
        } else if (std::string(member.name) == "u") {
            sawUnsigned = memberKind == 3;
        }
    }
    EXPECT_TRUE(sawSigned);
    EXPECT_TRUE(sawUnsigned);
    EXPECT_EQ(ReadHostValue(value), document);
}

TEST(HostValueJson, ReadsNumbersAtEveryOffsetOfPackedArrays) {
    // Collection items are 12 bytes apart and structure members an odd number of bytes, so these
    // numbers sit at every alignment; reading them must not bind a reference to a misaligned
    // field (the sanitizer build stops at such a read).
    Json numbers = Json::array();
    Json members = Json::object();
    for (int i = 0; i < 8; ++i) {
        numbers.push_back(-1 - i);
        numbers.push_back(1 + i);
        numbers.push_back(0.5 + i);
        numbers.push_back(i % 2 == 0);
        members["n" + std::to_string(i)] = -100 - i;
        members["u" + std::to_string(i)] = 100 + i;
        members["f" + std::to_string(i)] = 0.25 + i;
    }
    const Json document = {{"a", numbers}, {"s", members}};
    HostValueArena arena;
    EXPECT_EQ(ReadHostValue(arena.Build(document)), document);
}

TEST(HostValueJson, ReadsBytesAsBase64AndUnknownKindsAsNull) {
    const uint8_t bytes[] = {'M', 'a', 'n', 'y'};
    HostValue blob = MakeEmptyHostValue();
    blob.kind = 8;
    blob.payload.bytes.data = bytes;
    blob.payload.bytes.length = 4;
    EXPECT_EQ(ReadHostValue(blob), "TWFueQ==");
    HostValue odd = MakeEmptyHostValue();
    odd.kind = 11;
    EXPECT_TRUE(ReadHostValue(odd).is_null());
    HostValue nullText = MakeEmptyHostValue();
    nullText.kind = 6;
    EXPECT_EQ(ReadHostValue(nullText), "");
    EXPECT_EQ(EncodeBase64(bytes, 1), "TQ==");
    EXPECT_EQ(EncodeBase64(bytes, 2), "TWE=");
    EXPECT_EQ(EncodeBase64(bytes, 3), "TWFu");
}

TEST(HostValueJson, RefusesDocumentsNestedTooDeep) {
    Json deep = Json::array();
    for (std::size_t i = 0; i < kMaxValueDepth; ++i) {
        deep = Json::array({deep});
    }
    HostValueArena arena;
    EXPECT_THROW(arena.Build(deep), std::invalid_argument);
    Json fits = Json::array();
    for (std::size_t i = 1; i < kMaxValueDepth; ++i) {
        fits = Json::array({fits});
    }
    EXPECT_EQ(arena.Build(fits).kind, 9u);
}

TEST(HostValueJson, DumpsInvalidUtf8WithoutThrowing) {
    const Json text = std::string("a\xff"
                                  "b");
    EXPECT_NO_THROW(DumpCompact(text));
    EXPECT_NO_THROW(DumpPretty(Json{{"k", text}}));
}

TEST(DataStore, ServesSettingsAndTheLoginPacketWithTheHostAddress) {
    const DataStore store = DataStore::Parse(
        R"({"system-settings": {"region_data": {"NA": {"url": "${vel-host}/a/${vel-host}"}}},
            "install-settings": {"globals": {"region": "NA"}},
            "login-data-packet": {"broadcastNotification": {}},
            "extra": 1})",
        "test", "http://127.0.0.1:9");
    EXPECT_EQ(store.Find("/data-store/v1/system-settings/region_data"),
              Json::parse(R"({"NA": {"url": "http://127.0.0.1:9/a/http://127.0.0.1:9"}})"));
    EXPECT_EQ(store.Find("/data-store/v1/install-settings/globals"),
              Json::parse(R"({"region": "NA"})"));
    EXPECT_EQ(store.Find("/vel-login/v1/login-data-packet"),
              Json::parse(R"({"broadcastNotification": {}})"));
    EXPECT_FALSE(store.Find("/data-store/v1/system-settings/missing"));
    EXPECT_FALSE(store.Find("/data-store/v1/system-settings/"));
    EXPECT_FALSE(store.Find("/data-store/v1/other/globals"));
    EXPECT_EQ(store.UnknownKeys(), std::vector<std::string>{"extra"});
}

TEST(DataStore, RefusesDocumentsOfTheWrongShape) {
    const auto error = [](const std::string& text) {
        try {
            DataStore::Parse(text, "'x.json'", "http://127.0.0.1:1");
        } catch (const DataStoreError& failure) {
            return std::string(failure.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(error("{").find("data store 'x.json' is not valid JSON"), std::string::npos);
    EXPECT_NE(error("[]").find("must hold a JSON object, not array"), std::string::npos);
    EXPECT_NE(error(R"({"system-settings": {}})").find("\"install-settings\""), std::string::npos);
    EXPECT_NE(error(R"({"system-settings": 1, "install-settings": {}})")
                  .find("\"system-settings\" must be an object of settings, not number"),
              std::string::npos);
    EXPECT_NE(error(R"({"system-settings": {}, "install-settings": {}, "login-data-packet": []})")
                  .find("\"login-data-packet\" must be an object"),
              std::string::npos);
    std::string deep = R"({"system-settings": {"a": )";
    deep += std::string(600, '[') + std::string(600, ']') + R"(}, "install-settings": {}})";
    EXPECT_NE(error(deep).find("nested deeper than 512 levels"), std::string::npos);
    EXPECT_THROW(DataStore::Load("/nonexistent/store.json", ""), DataStoreError);
}

TEST(DataStore, LoadSaysWhenTheFileIsAFolderOrEndless) {
    const auto error = [](const std::string& fileName) {
        try {
            DataStore::Load(fileName, "");
        } catch (const DataStoreError& failure) {
            return std::string(failure.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(error("/tmp").find("cannot read data store '/tmp': it is a folder"),
              std::string::npos)
        << error("/tmp");
    // A device that never ends is read only up to the limit.
    EXPECT_NE(error("/dev/zero").find("is larger than"), std::string::npos) << error("/dev/zero");
}

TEST(DeclaredFunctions, RouteTemplatesBecomeExpressions) {
    const auto matches = [](const std::string& pattern, const std::string& path) {
        return std::regex_match(path, std::regex(RouteExpression(pattern)));
    };
    EXPECT_TRUE(matches("/a/{x}", "/a/b"));
    EXPECT_FALSE(matches("/a/{x}", "/a/b/c"));
    EXPECT_TRUE(matches("/files/{+rest}", "/files/a/b/c"));
    EXPECT_TRUE(matches("/doc{#frag}", "/doc#top"));
    EXPECT_TRUE(matches("/v1.0/{x}", "/v1.0/a"));
    EXPECT_FALSE(matches("/v1.0/{x}", "/v1a0/a"));
    EXPECT_TRUE(matches("/a(b)/{x}", "/a(b)/c"));
    EXPECT_EQ(MethodCode("GET"), 2u);
    EXPECT_EQ(MethodCode("PUT"), 7u);
    EXPECT_EQ(MethodCode("PURGE"), 8u);
}

TEST(EventHub, KeepsTheLatestValueOfEachResourceAndStreamsEveryEvent) {
    EventHub hub;
    auto subscriber = hub.Subscribe();
    hub.Publish("OnJsonApiEvent", {{"uri", "/r/a"}, {"eventType", "Update"}, {"data", {1, 2}}});
    hub.Publish("OnJsonApiEvent", {{"uri", "r/b"}, {"eventType", "Create"}, {"data", "x"}});
    hub.Publish("OnSomething", {{"no", "resource"}});
    EXPECT_EQ(hub.Resources(), Json::parse(R"({"/r/a": [1, 2], "/r/b": "x"})"));
    hub.Publish("OnJsonApiEvent", {{"uri", "/r/a"}, {"eventType", "Delete"}, {"data", nullptr}});
    EXPECT_FALSE(hub.Resource("/r/a"));
    EXPECT_EQ(hub.EventCount(), 4u);

    const auto first = hub.Next(subscriber, 1s);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, "id: 1\nevent: OnJsonApiEvent\ndata: "
                      "{\"data\":[1,2],\"eventType\":\"Update\",\"uri\":\"/r/a\"}\n\n");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(hub.Next(subscriber, 1s).has_value());
    }
    // Nothing queued: the empty text after the time limit.
    EXPECT_EQ(hub.Next(subscriber, 10ms), std::string());
    hub.Close();
    EXPECT_FALSE(hub.Next(subscriber, 1s).has_value());
}

TEST(EventHub, DropsAClientThatFallsTooFarBehind) {
    EventHub hub;
    auto slow = hub.Subscribe();
    for (std::size_t i = 0; i <= EventSubscriber::kMaxQueued; ++i) {
        hub.Publish("E", i);
    }
    EXPECT_FALSE(hub.Next(slow, 10ms).has_value());
    hub.Unsubscribe(slow);
    EXPECT_EQ(hub.SubscriberCount(), 0u);
}

TEST(EventHub, RefusesSubscribersBeyondTheLimitUntilOneLeaves) {
    EventHub hub;
    auto first = hub.Subscribe(2);
    auto second = hub.Subscribe(2);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_FALSE(hub.Subscribe(2));
    EXPECT_EQ(hub.SubscriberCount(), 2u);
    hub.Unsubscribe(first);
    auto third = hub.Subscribe(2);
    ASSERT_TRUE(third);
    hub.Publish("E", 1);
    EXPECT_TRUE(hub.Next(third, 1s).has_value());
    // A closed hub still hands out (dropped) subscribers, which end at once.
    hub.Close();
    auto late = hub.Subscribe(0);
    ASSERT_TRUE(late);
    EXPECT_FALSE(hub.Next(late, 1s).has_value());
}

TEST(HostLoop, RunsPostedWorkAndTimersOnItsOwnThreadInOrder) {
    HostLoop loop;
    std::vector<std::string> order;
    std::thread::id loopThread;
    std::thread runner([&] {
        loopThread = std::this_thread::get_id();
        loop.Run();
    });
    const auto onLoop = loop.Call<std::thread::id>(
        [&] {
            loop.AddTimer(30ms, [&] { order.push_back("late"); });
            loop.AddTimer(0ms, [&] { order.push_back("now"); });
            loop.AddTimer(-5s, [&] { order.push_back("past"); });
            return std::this_thread::get_id();
        },
        5s);
    ASSERT_TRUE(onLoop);
    EXPECT_NE(*onLoop, std::this_thread::get_id());
    std::this_thread::sleep_for(100ms);
    const auto seen = loop.Call<std::vector<std::string>>([&] { return order; }, 5s);
    ASSERT_TRUE(seen);
    EXPECT_EQ(*seen, (std::vector<std::string>{"now", "past", "late"}));
    loop.Stop();
    runner.join();
    EXPECT_EQ(loopThread, *onLoop);
    // Once closed, calls come back empty at once instead of waiting for their time limit.
    loop.Close();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop.Call<int>([] { return 1; }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

TEST(HostLoop, RunUntilStopsAtTheConditionOrTheDeadline) {
    HostLoop loop;
    int runs = 0;
    loop.AddTimer(10ms, [&] { ++runs; });
    loop.AddTimer(20ms, [&] { ++runs; });
    EXPECT_TRUE(loop.RunUntil([&] { return runs == 1; }, HostLoop::Clock::now() + 5s));
    EXPECT_EQ(loop.PendingTimerCount(), 1u);
    const auto started = HostLoop::Clock::now();
    EXPECT_FALSE(loop.RunUntil([&] { return runs == 5; }, started + 100ms));
    EXPECT_EQ(runs, 2);
    EXPECT_GE(HostLoop::Clock::now() - started, 100ms);
    // A dropped queued Call finishes its caller at once.
    std::thread caller([&] { EXPECT_FALSE(loop.Call<int>([] { return 1; }, 10s)); });
    std::this_thread::sleep_for(50ms);
    loop.Close();
    caller.join();
}

} // namespace
} // namespace Korvel::VelHost
