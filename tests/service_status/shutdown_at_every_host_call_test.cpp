// The host may end the plug-in from inside any host function it calls. A working day of the
// service-status plug-in (start-up with streamed settings, status passes with their fetches, a
// region change, broadcasts over both channels, the periodic timer, the declared functions) is run
// once to count the host calls it makes, then again once per call with the host calling the
// Shutdown entry point from inside that call. Each run must destroy the object exactly once, call
// the host no more once the shutdown has returned, run none of its timers afterwards and give
// back every byte it held.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/api_declaration.h"
#include "plugin/function_request_records.h"
#include "service_status/service_status_plugin.h"
#include "support/function_caller.h"
#include "support/live_memory.h"
#include "support/service_status_names.h"
#include "support/test_host.h"

namespace Korvel::Testing {
namespace {

using namespace std::chrono_literals;

constexpr char kEuwUrl[] = "https://status.example/euw/v1/status";
constexpr char kNaUrl[] = "https://status.example/na/v1/status";
constexpr char kKrUrl[] = "https://status.example/kr/v1/status";

// The service-status plug-in, counting its destructions.
class CountedPlugin : public Client::ServiceStatusPlugin {
public:
    explicit CountedPlugin(int& destroyed) : destroyed_(destroyed) {}
    ~CountedPlugin() override { ++destroyed_; }

private:
    int& destroyed_;
};

Json Node(const char* apiUrl, const char* humanUrl) {
    return Json{
        {"servers",
         {{"service_status", {{"api_url", apiUrl}, {"human_readable_status_url", humanUrl}}}}}};
}

// Calls a declared function as a host does and releases what it answered; returns the value it
// answered with.
Json CallDeclared(const ApiDeclaration& declaration, const std::string& name, const char* path) {
    Testing::FunctionRequest request;
    request.path = path;
    const Testing::FunctionResponse response =
        Testing::CallDeclaredFunction(declaration, name, request);
    return response.status == 0 ? response.value : Json();
}

// Where the plug-in object lives: made by the test, or by the built library's export.
enum class Object { InProcess, InLibrary };

// What one run saw.
struct DayRecord {
    size_t hostCalls = 0;
    size_t fetches = 0;
    size_t events = 0;
    size_t logLines = 0;
    int destroyed = 0;
    // Calls made while the Shutdown entry point ran, and after it returned.
    std::vector<std::string> duringShutdown;
    std::vector<std::string> afterShutdown;
    bool shutDownInside = false;
    size_t unreleasedResponses = 0;
    uint64_t liveBytesBefore = 0;
    uint64_t liveBytesAfter = 0;
};

// The day's work; with `shutdownAt` non-zero the host ends the object inside that host call.
DayRecord RunDay(Object where, size_t shutdownAt) {
    DayRecord run;
    run.liveBytesBefore = LiveBytes();
    {
        TestHost host;
        host.SetResource(kRegionData, Json{{"EUW", Node(kEuwUrl, "https://status.example/#/euw")},
                                           {"NA", Node(kNaUrl, "https://status.example/na")},
                                           {"KR", Node(kKrUrl, "https://status.example/kr")}});
        // The globals arrive as a stream in pieces, so the plug-in waits for the host between
        // reads.
        host.SetStreamedResource(
            kGlobals,
            {{R"({"locale": "en_US",)", true}, {"", true}, {R"( "region": "EUW"})", false}});
        host.SetResource(kLoginData,
                         Json{{"broadcastNotification",
                               {{"broadcastMessages", Json::array({{{"content", "login"}}})}}}});
        CannedExternalResponse euw;
        euw.headers = {{"content-type", "application/json"}};
        euw.body = R"({"status": "degraded", "messages": [{"severity": "warn",
            "heading": "Login issues", "content": "Some players cannot log in.",
            "translations": [{"locale": "de_DE", "heading": "Probleme", "content": "x"}]}]})";
        host.SetExternalResponse(kEuwUrl, euw);
        CannedExternalResponse na = euw;
        na.body = R"({"status": "online", "messages": []})";
        host.SetExternalResponse(kNaUrl, na);
        CannedExternalResponse kr = euw;
        kr.status = 503;
        kr.body = R"({"error": "maintenance"})";
        host.SetExternalResponse(kKrUrl, kr);

        CountedPlugin* plugin = nullptr;
        PluginApiDescriptor descriptor{};
        if (where == Object::InProcess) {
            plugin = new CountedPlugin(run.destroyed);
            plugin->SetClock(&TestHost::Clock, &host);
            descriptor.apiMajor = 18;
            plugin->Handshake(&descriptor, Client::ServiceStatusPlugin::kShortName);
        } else {
            host.Load();
            descriptor = host.Descriptor();
        }
        EXPECT_NE(descriptor.apiDeclaration, nullptr);
        const ApiDeclaration declaration =
            descriptor.apiDeclaration != nullptr ? *descriptor.apiDeclaration : ApiDeclaration{};

        bool gone = false;
        size_t callsAtShutdownEnd = 0;
        const auto unsubscribeCalls = [&host] {
            return static_cast<size_t>(
                std::count_if(host.SubscriptionCalls().begin(), host.SubscriptionCalls().end(),
                              [](const SubscriptionCall& call) { return !call.subscribe; }));
        };
        const auto shutDown = [&] {
            const size_t before = host.HostCallCount();
            const size_t unsubscribedBefore = unsubscribeCalls();
            if (plugin != nullptr) {
                PluginBase::ShutdownEntry(plugin);
            } else {
                host.Shutdown();
            }
            gone = true;
            callsAtShutdownEnd = host.HostCallCount();
            // The shutdown itself only unsubscribes, and leaves the host no subscription.
            EXPECT_EQ(callsAtShutdownEnd - before, unsubscribeCalls() - unsubscribedBefore);
            EXPECT_TRUE(host.Subscriptions().empty());
        };
        host.AtHostCall([&](size_t number, const std::string& function) {
            if (gone) {
                // A response record the host handed out is still given back.
                if (function != "Release") {
                    run.afterShutdown.push_back(function);
                }
            } else if (number == shutdownAt) {
                // Calls made from inside the shutdown run no hook; the count sees them.
                shutDown();
                run.shutDownInside = true;
            }
        });

        if (plugin != nullptr) {
            PluginBase::InitializeEntry(plugin, host.Context(5));
        } else {
            host.Initialize(5);
        }
        // The first pass.
        host.RunDueTimers();
        // A region change (a pass of its own), and one to a region whose status API fails.
        host.Deliver("OnRegionLocaleChanged", Json{{"region", "NA"}, {"locale", "de_DE"}});
        host.Deliver("OnRegionLocaleChanged", Json{{"region", "KR"}, {"locale", "de_DE"}});
        // A broadcast over the LCDS channel, delivered from a deferred task.
        host.Deliver(kLcdsEvent,
                     Json{{"typeName", kLcdsClass},
                          {"body",
                           {{"broadcastMessages",
                             Json::array({{{"content", "one"}}, {{"content", "two"}}})}}}});
        host.RunDueTimers();
        // Broadcasts in an update of the login data.
        host.Deliver(kLoginEvent,
                     Json{{"uri", kLoginData},
                          {"eventType", "Update"},
                          {"data",
                           {{"broadcastNotification",
                             {{"broadcastMessages", Json::array({{{"content", "three"}}})}}}}}});
        // Back to EUW, then two periodic passes.
        host.Deliver("OnRegionLocaleChanged", Json{{"region", "EUW"}, {"locale", "en_US"}});
        host.AdvanceTime(240s);
        if (!gone) {
            // The declared functions of the two resources, as the host calls them. They answer
            // from the object's copies and call the host for nothing, so the host has no call
            // to end the object in while they run.
            const size_t callsBefore = host.HostCallCount();
            const Json status = CallDeclared(declaration, "GetVelServiceStatusV1ZumStatus",
                                             "/vel-service-status/v1/zum-status");
            EXPECT_EQ(status.value("status", ""), "degraded");
            const Json ticker = CallDeclared(declaration, "GetVelServiceStatusV1TickerMessages",
                                             "/vel-service-status/v1/ticker-messages");
            EXPECT_EQ(ticker.size(), 1u);
            EXPECT_EQ(host.HostCallCount(), callsBefore);
        }
        run.hostCalls = host.HostCallCount();
        run.fetches = host.ExternalRequests().size();
        run.events = host.Events().size();
        run.logLines = host.LogLines().size();
        if (!gone) {
            shutDown();
        }
        // Whatever the host still has queued finds nothing to run.
        host.RunAllTimers();
        run.unreleasedResponses = host.UnreleasedResponseCount();
    }
    run.liveBytesAfter = LiveBytes();
    return run;
}

// The whole day, with the host ending the object inside host call 1, 2, 3, ... in turn.
void Sweep(Object where) {
    // A full day first: it counts the calls, and it leaves the process-wide caches (interned
    // names, the logger) as full as any later run leaves them.
    const DayRecord full = RunDay(where, 0);
    ASSERT_GT(full.hostCalls, 40u);
    // The day fetches six times (start, NA, KR, back to EUW, two periods), publishes, and logs the
    // failed fetch and the three broadcasts.
    EXPECT_EQ(full.fetches, 6u);
    EXPECT_GT(full.events, 10u);
    EXPECT_EQ(full.logLines, 4u);
    EXPECT_TRUE(full.afterShutdown.empty());
    const DayRecord again = RunDay(where, 0);
    EXPECT_EQ(again.hostCalls, full.hostCalls);
    if (where == Object::InProcess) {
        EXPECT_EQ(again.destroyed, 1);
        EXPECT_EQ(again.liveBytesAfter, again.liveBytesBefore);
    }

    for (size_t n = 1; n <= full.hostCalls; ++n) {
        SCOPED_TRACE("shut down inside host call " + std::to_string(n));
        const DayRecord run = RunDay(where, n);
        EXPECT_TRUE(run.shutDownInside);
        EXPECT_EQ(run.afterShutdown, std::vector<std::string>{});
        EXPECT_EQ(run.unreleasedResponses, 0u);
        if (where == Object::InProcess) {
            EXPECT_EQ(run.destroyed, 1);
            EXPECT_EQ(run.liveBytesAfter, run.liveBytesBefore);
        }
    }
}

TEST(ShutdownAtEveryHostCall, AnObjectOfTheProcessEndsCleanlyWhicheverCallItIsEndedIn) {
    Sweep(Object::InProcess);
}

// The same through the built library, as the host loads it; the asan build checks its memory.
TEST(ShutdownAtEveryHostCall, TheLibrarysObjectEndsCleanlyWhicheverCallItIsEndedIn) {
    Sweep(Object::InLibrary);
}

} // namespace
} // namespace Korvel::Testing
