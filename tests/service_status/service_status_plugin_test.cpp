// The service-status plug-in end to end: the built shared library driven by the test host, with
// the data store, the status web API and the host's events played by the host.

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service_status/service_status_plugin.h"
#include "support/captured_log.h"
#include "support/service_status_names.h"
#include "support/test_host.h"

namespace Korvel::Testing {
namespace {

using namespace std::chrono_literals;

constexpr char kApiUrl[] = "https://status.example/euw/v1/status";
constexpr char kNaApiUrl[] = "https://status.example/na/v1/status";

const Json kRegionDataValue = {
    {"EUW",
     {{"servers",
       {{"service_status",
         {{"api_url", kApiUrl}, {"human_readable_status_url", "https://status.example/#/euw"}}}}}}},
    {"NA",
     {{"servers",
       {{"service_status",
         {{"api_url", kNaApiUrl}, {"human_readable_status_url", "https://status.example/na"}}}}}}},
    {"OC1", {{"servers", {{"service_status", {{"human_readable_status_url", "https://x/#/"}}}}}}}};

const Json kStatusDocument = Json::parse(R"({
  "status": "degraded",
  "messages": [
    {"created_at": "2024-05-01T10:00:00Z", "updated_at": "2024-05-01T11:00:00Z",
     "severity": "warn", "heading": "Login issues", "content": "Some players cannot log in.",
     "translations": [
       {"locale": "de_DE", "heading": "Anmeldeprobleme", "content": "Einige Spieler ..."},
       {"locale": "en_US", "heading": "Login trouble", "content": "Players cannot log in."}]},
    {"created_at": "c2", "updated_at": "u2", "severity": "error", "heading": "Store down",
     "content": "The store is closed.",
     "translations": [{"locale": "de_DE", "heading": "Shop geschlossen", "content": null}]}
  ]})");

Json Ticker(const char* severity, const char* createdAt, const char* updatedAt, const char* heading,
            const char* message) {
    // Members in name order, as the plug-in writes every structure.
    return Json{{"createdAt", createdAt},
                {"heading", heading},
                {"message", message},
                {"severity", severity},
                {"updatedAt", updatedAt}};
}

Json ResourceEvent(const char* uri, const Json& data) {
    return Json{{"data", data}, {"eventType", "Update"}, {"uri", uri}};
}

Json Status(const char* status, const char* url) {
    return Json{{"humanReadableUrl", url}, {"status", status}};
}

Json Broadcasts(const Json& messages) {
    return Json{{"broadcastNotification", {{"broadcastMessages", messages}}}};
}

class ServiceStatusPlugin : public ::testing::Test {
protected:
    ServiceStatusPlugin() {
        host.SetResource(kRegionData, kRegionDataValue);
        host.SetResource(kGlobals, Json{{"locale", "en_US"}, {"region", "EUW"}});
        RespondWith(kApiUrl, 200, kStatusDocument.dump());
        RespondWith(kNaApiUrl, 200, R"({"status":"online","messages":[]})");
    }

    void RespondWith(const std::string& url, uint32_t status, std::optional<std::string> body,
                     uint32_t transportCode = 0) {
        CannedExternalResponse response;
        response.transportCode = transportCode;
        response.status = status;
        response.headers = {{"content-type", "application/json"}};
        response.body = std::move(body);
        host.SetExternalResponse(url, std::move(response));
    }

    // Loads and initialises the plug-in and runs its deferred first update.
    void Start() {
        host.Load();
        ASSERT_TRUE(host.Initialize());
        host.RunDueTimers();
    }

    // The same in a host of its own (player in EUW, locale en_US) whose status API answers
    // `response`.
    static void StartIn(TestHost& fresh, CannedExternalResponse response) {
        fresh.SetResource(kRegionData, kRegionDataValue);
        fresh.SetResource(kGlobals, Json{{"locale", "en_US"}, {"region", "EUW"}});
        fresh.SetExternalResponse(kApiUrl, std::move(response));
        fresh.Load();
        ASSERT_TRUE(fresh.Initialize());
        fresh.RunDueTimers();
    }

    std::vector<std::string> EventNames() const {
        std::vector<std::string> names;
        for (const FiredEvent& event : host.Events()) {
            names.push_back(event.name);
        }
        return names;
    }

    // The payloads of the resource events fired under the resource's own event name.
    std::vector<Json> Published(const char* eventName) const {
        std::vector<Json> payloads;
        for (const FiredEvent& event : host.Events()) {
            if (event.name == eventName) {
                payloads.push_back(event.payload);
            }
        }
        return payloads;
    }

    std::vector<std::string> Lines(int32_t level) const {
        std::vector<std::string> lines;
        for (const LogLine& line : host.LogLines()) {
            if (line.level == level) {
                lines.push_back(line.text);
            }
        }
        return lines;
    }

    // The ticker and status of a pass on the EUW document with locale en_US.
    static Json EnglishTicker() {
        return Json::array({Ticker("warn", "2024-05-01T10:00:00Z", "2024-05-01T11:00:00Z",
                                   "Login trouble", "Players cannot log in."),
                            Ticker("error", "c2", "u2", "Store down", "The store is closed.")});
    }

    TestHost host;
};

TEST_F(ServiceStatusPlugin, StartUpSubscribesArmsTheTimerReadsSettingsAndDefersTheFirstPass) {
    host.Load();
    ASSERT_TRUE(host.Initialize(9));

    std::vector<std::string> subscribed;
    for (const SubscriptionCall& call : host.SubscriptionCalls()) {
        ASSERT_TRUE(call.subscribe);
        EXPECT_EQ(call.pluginId, 9u);
        subscribed.push_back(call.eventName + "/" + std::to_string(call.flag));
    }
    EXPECT_EQ(subscribed, (std::vector<std::string>{
                              "OnServiceProxyUuidEvent/1", "OnServiceProxyMethodEvent/1",
                              "OnServiceProxyAsyncEvent/1", "OnRegionLocaleChanged/0",
                              std::string(kLcdsEvent) + "/1", std::string(kLoginEvent) + "/0"}));

    ASSERT_EQ(host.TimerCalls().size(), 2u);
    EXPECT_EQ(host.TimerCalls()[0].label, "Timer: vel-service-status.update");
    EXPECT_NEAR(host.TimerCalls()[0].delaySeconds, 120.0, 0.5);
    EXPECT_EQ(host.TimerCalls()[1].label, "Initial UpdateServicesStatus");
    EXPECT_EQ(host.TimerCalls()[1].delaySeconds, 0.0);

    std::vector<std::string> read;
    for (const ResourceRequest& request : host.Requests()) {
        EXPECT_EQ(request.method, 2u);
        EXPECT_EQ(request.pluginId, 9u);
        read.push_back(request.path);
    }
    EXPECT_EQ(read, (std::vector<std::string>{kLoginData, kRegionData, kGlobals}));
    EXPECT_EQ(host.UnreleasedResponseCount(), 0u);

    // Nothing is fetched or published before the host runs the deferred pass.
    EXPECT_TRUE(host.ExternalRequests().empty());
    EXPECT_TRUE(host.Events().empty());
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(ServiceStatusPlugin, PassPublishesTheTranslatedTickerThenTheStatus) {
    Start();
    ASSERT_EQ(host.ExternalRequests().size(), 1u);
    const ExternalRequest& request = host.ExternalRequests()[0];
    EXPECT_EQ(request.method, 2u);
    EXPECT_EQ(request.url, kApiUrl);
    EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>>{
                                   {"user-agent", "KorvelClient/18.0.0 (vel-service-status)"}}));
    EXPECT_EQ(request.timeLimit, 20u);
    EXPECT_EQ(request.flag, 1u);
    EXPECT_TRUE(request.body.empty());

    EXPECT_EQ(EventNames(), (std::vector<std::string>{kTickerEvent, "OnJsonApiEvent", kStatusEvent,
                                                      "OnJsonApiEvent"}));
    const Json ticker = ResourceEvent(kTickerPath, EnglishTicker());
    const Json status =
        ResourceEvent(kStatusPath, Status("degraded", "https://status.example/?en_US#/euw"));
    ASSERT_EQ(host.Events().size(), 4u);
    EXPECT_EQ(host.Events()[0].payload, ticker);
    EXPECT_EQ(host.Events()[1].payload, ticker);
    EXPECT_EQ(host.Events()[2].payload, status);
    EXPECT_EQ(host.Events()[3].payload, status);
    // Enumerators travel as their names, texts as owned texts.
    EXPECT_EQ(host.Events()[2].payloadKinds["data"]["status"], 6);
    EXPECT_EQ(host.Events()[0].payloadKinds["eventType"], 6);
    for (const FiredEvent& event : host.Events()) {
        EXPECT_EQ(event.flag, 0);
    }
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(ServiceStatusPlugin, FailedFetchesLogTheBodyAndPublishAnEmptyTickerAndUnknownStatus) {
    struct Case {
        const char* name;
        uint32_t transport;
        uint32_t status;
        std::optional<std::string> body;
        const char* line;
    };
    const std::string prefix =
        "vel-service-status: Failed to get service status for region 'EUW': ";
    const Case cases[] = {
        {"transport error", 1, 0, std::nullopt, "0 -  - ''"},
        {"not modified", 0, 304, R"({"status":"online","messages":[]})",
         "304 -  - '{\r\n    \"messages\": [],\r\n    \"status\": \"online\"\r\n}'"},
        {"server error", 0, 500, R"({"error":"x"})", "500 -  - '{\r\n    \"error\": \"x\"\r\n}'"},
        {"empty body", 0, 200, "",
         "200 - Error converting response for GET https://status.example/euw/v1/status: body was "
         "empty - ''"},
        {"no body", 0, 200, std::nullopt,
         "200 - Error converting response for GET https://status.example/euw/v1/status: body was "
         "empty - ''"},
        {"not json", 0, 200, "<html>busy</html>",
         "200 - Error deserializing json response for GET https://status.example/euw/v1/status: "
         "Error: Invalid value. at offset 0. - '\"<html>busy</html>\"'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CannedExternalResponse response;
        response.transportCode = c.transport;
        response.status = c.status;
        response.body = c.body;
        TestHost fresh;
        ASSERT_NO_FATAL_FAILURE(StartIn(fresh, std::move(response)));

        ASSERT_EQ(fresh.LogLines().size(), 1u);
        EXPECT_EQ(fresh.LogLines()[0].level, 1);
        EXPECT_EQ(fresh.LogLines()[0].text, prefix + c.line);
        ASSERT_EQ(fresh.Events().size(), 4u);
        EXPECT_EQ(fresh.Events()[0].payload, ResourceEvent(kTickerPath, Json::array()));
        EXPECT_EQ(
            fresh.Events()[2].payload,
            ResourceEvent(kStatusPath, Status("unknown", "https://status.example/?en_US#/euw")));
    }
}

TEST_F(ServiceStatusPlugin, OnlyStatusesFrom200To299CountAsSuccess) {
    struct Case {
        uint32_t status;
        const char* line; // empty for a successful fetch
    };
    const Case cases[] = {
        {199, "vel-service-status: Failed to get service status for region 'EUW': 199 -  - "
              "'{\r\n    \"status\": \"online\"\r\n}'"},
        {200, ""},
        {299, ""},
        {300, "vel-service-status: Failed to get service status for region 'EUW': 300 -  - "
              "'{\r\n    \"status\": \"online\"\r\n}'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        CannedExternalResponse response;
        response.status = c.status;
        response.body = R"({"status":"online"})";
        TestHost fresh;
        ASSERT_NO_FATAL_FAILURE(StartIn(fresh, std::move(response)));

        const bool success = *c.line == '\0';
        std::vector<std::string> lines;
        for (const LogLine& line : fresh.LogLines()) {
            EXPECT_EQ(line.level, 1);
            lines.push_back(line.text);
        }
        EXPECT_EQ(lines, success ? std::vector<std::string>{} : std::vector<std::string>{c.line});
        ASSERT_EQ(fresh.Events().size(), 4u);
        EXPECT_EQ(fresh.Events()[2].payload,
                  ResourceEvent(kStatusPath, Status(success ? "online" : "unknown",
                                                    "https://status.example/?en_US#/euw")));
    }
}

TEST_F(ServiceStatusPlugin, AFailedFetchWithAHugeBodyLogsOneTruncatedLine) {
    RespondWith(kApiUrl, 503, "<html>" + std::string(100000, 'x') + "</html>");
    Start();
    const std::string prefix =
        "vel-service-status: Failed to get service status for region 'EUW': 503 - Error "
        "deserializing json response for GET https://status.example/euw/v1/status: Error: Invalid "
        "value. at offset 0. - '\"<html>";
    const std::vector<std::string> lines = Lines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], prefix + std::string(4095 - prefix.size(), 'x'));
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, Json::array())}));
}

TEST_F(ServiceStatusPlugin, CutOffDocumentsAndBodiesWithoutAValueAreNotHalfUsed) {
    // A document cut off in the middle of its messages fails as a whole: neither its status nor
    // the messages read before the cut reach the published values.
    {
        CannedExternalResponse response;
        response.body = R"({"status":"online","messages":[{"heading":"H","content":"C"},{"hea)";
        TestHost fresh;
        ASSERT_NO_FATAL_FAILURE(StartIn(fresh, std::move(response)));
        ASSERT_EQ(fresh.LogLines().size(), 1u);
        EXPECT_EQ(fresh.LogLines()[0].level, 1);
        EXPECT_EQ(fresh.LogLines()[0].text.rfind(
                      "vel-service-status: Failed to get service status for region 'EUW': 200 - "
                      "Error deserializing json response for GET "
                      "https://status.example/euw/v1/status: ",
                      0),
                  0u);
        ASSERT_EQ(fresh.Events().size(), 4u);
        EXPECT_EQ(fresh.Events()[0].payload, ResourceEvent(kTickerPath, Json::array()));
        EXPECT_EQ(
            fresh.Events()[2].payload,
            ResourceEvent(kStatusPath, Status("unknown", "https://status.example/?en_US#/euw")));
    }
    // A body of JSON null or of blanks only is a document without members: no failure, status
    // unknown, no messages.
    for (const char* body : {"null", " \r\n\t "}) {
        SCOPED_TRACE(body);
        CannedExternalResponse response;
        response.body = body;
        TestHost fresh;
        ASSERT_NO_FATAL_FAILURE(StartIn(fresh, std::move(response)));
        EXPECT_TRUE(fresh.LogLines().empty());
        ASSERT_EQ(fresh.Events().size(), 4u);
        EXPECT_EQ(fresh.Events()[0].payload, ResourceEvent(kTickerPath, Json::array()));
        EXPECT_EQ(
            fresh.Events()[2].payload,
            ResourceEvent(kStatusPath, Status("unknown", "https://status.example/?en_US#/euw")));
    }
    // Headers the host reports as missing fail the fetch even though the body is a good document.
    {
        CannedExternalResponse response;
        response.body = R"({"status":"online"})";
        response.headers = {{"content-type", "application/json"}};
        response.nullHeaders = true;
        TestHost fresh;
        ASSERT_NO_FATAL_FAILURE(StartIn(fresh, std::move(response)));
        ASSERT_EQ(fresh.LogLines().size(), 1u);
        EXPECT_EQ(fresh.LogLines()[0].text,
                  "vel-service-status: Failed to get service status for region 'EUW': 200 - Error "
                  "converting response for GET https://status.example/euw/v1/status: headers was "
                  "null - '{\r\n    \"status\": \"online\"\r\n}'");
        ASSERT_EQ(fresh.Events().size(), 4u);
        EXPECT_EQ(
            fresh.Events()[2].payload,
            ResourceEvent(kStatusPath, Status("unknown", "https://status.example/?en_US#/euw")));
    }
}

TEST_F(ServiceStatusPlugin, DuplicateMessagesAreAllKept) {
    const Json message = {{"severity", "warn"}, {"heading", "H"}, {"content", "C"}};
    RespondWith(kApiUrl, 200,
                Json{{"status", "online"}, {"messages", Json::array({message, message})}}.dump());
    Start();
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{
                  ResourceEvent(kTickerPath, Json::array({Ticker("warn", "", "", "H", "C"),
                                                          Ticker("warn", "", "", "H", "C")}))}));

    host.ClearRecords();
    const Json broadcast = {{"content", "B"}, {"severity", "error"}};
    host.Deliver(kLcdsEvent, Json{{"typeName", kLcdsClass},
                                  {"body", {{"broadcastMessages", {broadcast, broadcast}}}}});
    host.RunDueTimers();
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{
                  ResourceEvent(kTickerPath, Json::array({Ticker("error", "", "", "", "B"),
                                                          Ticker("error", "", "", "", "B")}))}));
}

TEST_F(ServiceStatusPlugin, BadDocumentsStillPublishAResult) {
    struct Case {
        const char* body;
        Json ticker;
        const char* status;
    };
    const Case cases[] = {
        {R"({"status":"online"})", Json::array(), "online"},
        {R"({"status":"online","messages":{"a":{"heading":"x"}}})", Json::array(), "online"},
        {R"({"status":"maintenance","messages":"text"})", Json::array(), "unknown"},
        {R"({"status":3,"messages":[{"created_at":1,"severity":"fatal","heading":2,
             "content":{"x":1},"translations":[{"locale":"en_US","heading":5}]}]})",
         Json::array({Ticker("info", "", "", "", "")}), "degraded"},
        {R"([1,2,3])", Json::array(), "unknown"},
        {R"("just text")", Json::array(), "unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        CannedExternalResponse response;
        response.body = c.body;
        TestHost fresh;
        ASSERT_NO_FATAL_FAILURE(StartIn(fresh, std::move(response)));
        EXPECT_TRUE(fresh.LogLines().empty());
        ASSERT_EQ(fresh.Events().size(), 4u);
        EXPECT_EQ(fresh.Events()[0].payload, ResourceEvent(kTickerPath, c.ticker));
        EXPECT_EQ(
            fresh.Events()[2].payload,
            ResourceEvent(kStatusPath, Status(c.status, "https://status.example/?en_US#/euw")));
    }
}

TEST_F(ServiceStatusPlugin, HugeAndDeeplyNestedDocuments) {
    // 100 000 translations on one message: the matching one is the last.
    std::string many = R"({"status":"online","messages":[{"heading":"own","translations":[)";
    for (int i = 0; i < 100000; ++i) {
        many += R"({"locale":"xx_)" + std::to_string(i) + R"(","heading":"no"},)";
    }
    many += R"({"locale":"en_US","heading":"yes","content":"C"}]}]})";
    RespondWith(kApiUrl, 200, many);
    Start();
    EXPECT_TRUE(host.LogLines().empty());
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{
                  ResourceEvent(kTickerPath, Json::array({Ticker("info", "", "", "yes", "C")}))}));

    // A document nested far too deep is refused by the reader, not followed down.
    host.ClearRecords();
    RespondWith(kApiUrl, 200, std::string(100000, '[') + std::string(100000, ']'));
    host.AdvanceTime(120s);
    ASSERT_EQ(Lines(1).size(), 1u);
    EXPECT_NE(
        Lines(1)[0].find("Error deserializing json response for GET "
                         "https://status.example/euw/v1/status: Error: The document is nested "
                         "deeper than 512 levels"),
        std::string::npos);
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, Json::array())}));
}

TEST_F(ServiceStatusPlugin, PassesRepeatEvery120Seconds) {
    Start();
    ASSERT_EQ(host.ExternalRequests().size(), 1u);
    host.AdvanceTime(119s);
    EXPECT_EQ(host.ExternalRequests().size(), 1u);
    host.AdvanceTime(1s);
    EXPECT_EQ(host.ExternalRequests().size(), 2u);
    host.AdvanceTime(120s * 3);
    EXPECT_EQ(host.ExternalRequests().size(), 5u);
    EXPECT_EQ(host.Events().size(), 5u * 4u);
    for (const TimerCall& call : host.TimerCalls()) {
        if (call.label == "Timer: vel-service-status.update") {
            EXPECT_NEAR(call.delaySeconds, 120.0, 0.5);
        }
    }
}

TEST_F(ServiceStatusPlugin, MissingApiAddressStopsPeriodicPassesUntilTheRegionChanges) {
    host.SetResource(kGlobals, Json{{"locale", "en_US"}, {"region", "OC1"}});
    Start();
    EXPECT_EQ(Lines(1),
              (std::vector<std::string>{"vel-service-status: Unable to get service statuses. The "
                                        "service_status/api_url is missing for region 'OC1' in the "
                                        "data_store."}));
    EXPECT_TRUE(host.Events().empty());
    EXPECT_TRUE(host.ExternalRequests().empty());

    // The firing already handed to the host finds its timer gone.
    host.ClearRecords();
    host.AdvanceTime(120s);
    EXPECT_EQ(Lines(1),
              (std::vector<std::string>{"Couldn't find timer named vel-service-status.update"}));
    EXPECT_TRUE(host.ExternalRequests().empty());
    EXPECT_EQ(host.PendingTimerCount(), 0u);

    // A region change runs one pass; the timer stays removed.
    host.ClearRecords();
    EXPECT_EQ(host.Deliver("OnRegionLocaleChanged", Json{{"region", "NA"}, {"locale", "en_US"}}),
              1u);
    EXPECT_EQ(host.ExternalRequests().size(), 1u);
    EXPECT_EQ(Published(kStatusEvent),
              (std::vector<Json>{
                  ResourceEvent(kStatusPath, Status("online", "https://status.example/na"))}));
    host.AdvanceTime(600s);
    EXPECT_EQ(host.ExternalRequests().size(), 1u);
}

TEST_F(ServiceStatusPlugin, MissingApiAddressKeepsThePublishedValues) {
    Start();
    host.ClearRecords();
    host.Deliver("OnRegionLocaleChanged", Json{{"region", "nowhere"}, {"locale", "en_US"}});
    EXPECT_EQ(Lines(1).size(), 1u);
    EXPECT_TRUE(host.Events().empty());
    // Moving back fetches again; the ticker of the first pass was kept until then.
    host.Deliver("OnRegionLocaleChanged", Json{{"region", "EUW"}, {"locale", "en_US"}});
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, EnglishTicker())}));
}

TEST_F(ServiceStatusPlugin, RegionAndLocaleChangesFetchOnlyWhenSomethingChanged) {
    Start();
    host.ClearRecords();
    host.Deliver("OnRegionLocaleChanged", Json{{"region", "EUW"}, {"locale", "en_US"}});
    EXPECT_TRUE(host.ExternalRequests().empty());
    EXPECT_TRUE(host.Events().empty());

    host.Deliver("OnRegionLocaleChanged", Json{{"region", "EUW"}, {"locale", "de_DE"}});
    ASSERT_EQ(host.ExternalRequests().size(), 1u);
    EXPECT_EQ(
        Published(kTickerEvent),
        (std::vector<Json>{ResourceEvent(
            kTickerPath, Json::array({Ticker("warn", "2024-05-01T10:00:00Z", "2024-05-01T11:00:00Z",
                                             "Anmeldeprobleme", "Einige Spieler ..."),
                                      Ticker("error", "c2", "u2", "Shop geschlossen",
                                             "The store is closed.")}))}));
    EXPECT_EQ(Published(kStatusEvent),
              (std::vector<Json>{ResourceEvent(
                  kStatusPath, Status("degraded", "https://status.example/?de_DE#/euw"))}));

    // Only the locale's case differs: a change all the same.
    host.Deliver("OnRegionLocaleChanged", Json{{"region", "EUW"}, {"locale", "DE_de"}});
    EXPECT_EQ(host.ExternalRequests().size(), 2u);
    // A payload that is not a structure reads as empty region and locale: a change too.
    host.Deliver("OnRegionLocaleChanged", Json("EUW"));
    EXPECT_EQ(host.ExternalRequests().size(), 2u);
    EXPECT_EQ(Lines(1).size(), 1u);
}

TEST_F(ServiceStatusPlugin, RegionChangeWhileAPassFetchesLeavesOnlyTheNewRegionsValues) {
    Start();
    host.ClearRecords();
    // The host delivers a change to NA while the periodic pass waits for the EUW document; the
    // change runs a pass of its own, which fetches and publishes the NA values.
    host.WhileFetching([&](const std::string& url) {
        if (url == kApiUrl) {
            host.Deliver("OnRegionLocaleChanged", Json{{"region", "NA"}, {"locale", "en_US"}});
        }
    });
    host.AdvanceTime(120s);
    ASSERT_EQ(host.ExternalRequests().size(), 2u);
    EXPECT_EQ(host.ExternalRequests()[1].url, kNaApiUrl);
    // The EUW response arrives after the NA values were published and is dropped: nothing of it
    // is merged into them or published after them.
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, Json::array())}));
    EXPECT_EQ(Published(kStatusEvent),
              (std::vector<Json>{
                  ResourceEvent(kStatusPath, Status("online", "https://status.example/na"))}));

    // The timer keeps running and fetches NA.
    host.WhileFetching({});
    host.ClearRecords();
    host.AdvanceTime(120s);
    ASSERT_EQ(host.ExternalRequests().size(), 1u);
    EXPECT_EQ(host.ExternalRequests()[0].url, kNaApiUrl);
}

TEST_F(ServiceStatusPlugin, RegionChangeWhileTheTickerIsPublishedLeavesTheNewValuesLast) {
    Start();
    host.ClearRecords();
    // The host hands the periodic pass's ticker event to its listeners at once, and a change to
    // NA arrives meanwhile; the change runs a pass of its own.
    host.WhilePublishing([&](const std::string& eventName) {
        if (eventName == kTickerEvent) {
            host.WhilePublishing({});
            host.Deliver("OnRegionLocaleChanged", Json{{"region", "NA"}, {"locale", "en_US"}});
        }
    });
    host.AdvanceTime(120s);
    ASSERT_EQ(host.ExternalRequests().size(), 2u);

    // Under both event names, the last value published for each resource is NA's: nothing of
    // the EUW pass is published after the NA values.
    const auto last = [&](const std::string& eventName, const char* uri) {
        Json found;
        for (const FiredEvent& event : host.Events()) {
            if (event.name == eventName && event.payload["uri"] == uri) {
                found = event.payload;
            }
        }
        return found;
    };
    const Json naTicker = ResourceEvent(kTickerPath, Json::array());
    const Json naStatus = ResourceEvent(kStatusPath, Status("online", "https://status.example/na"));
    EXPECT_EQ(last(kTickerEvent, kTickerPath), naTicker);
    EXPECT_EQ(last("OnJsonApiEvent", kTickerPath), naTicker);
    EXPECT_EQ(last(kStatusEvent, kStatusPath), naStatus);
    EXPECT_EQ(last("OnJsonApiEvent", kStatusPath), naStatus);
}

TEST_F(ServiceStatusPlugin, ChangeToARegionWithoutAddressWhileAPassFetchesLetsThePassFinish) {
    Start();
    host.ClearRecords();
    host.WhileFetching([&](const std::string&) {
        host.Deliver("OnRegionLocaleChanged", Json{{"region", "OC1"}, {"locale", "de_DE"}});
    });
    host.AdvanceTime(120s);
    // The change finds no address and publishes nothing; the pass it interrupted finishes with
    // the region and locale it started with, as if the change had come after it.
    EXPECT_EQ(Lines(1),
              (std::vector<std::string>{"vel-service-status: Unable to get service statuses. The "
                                        "service_status/api_url is missing for region 'OC1' in the "
                                        "data_store."}));
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, EnglishTicker())}));
    EXPECT_EQ(Published(kStatusEvent),
              (std::vector<Json>{ResourceEvent(
                  kStatusPath, Status("degraded", "https://status.example/?en_US#/euw"))}));
}

TEST_F(ServiceStatusPlugin, BroadcastWhileAPassFetchesIsReplacedNotMergedWithTheDocument) {
    Start();
    host.ClearRecords();
    host.WhileFetching([&](const std::string&) {
        host.Deliver(kLoginEvent,
                     Json{{"uri", kLoginData},
                          {"eventType", "Update"},
                          {"data", Broadcasts(Json::array({{{"content", "Restart soon"}}}))}});
    });
    host.AdvanceTime(120s);
    // The broadcast is published at once; the pass then rebuilds the ticker from the document
    // alone.
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, Json::array({Ticker("info", "", "", "",
                                                                                "Restart soon")})),
                                 ResourceEvent(kTickerPath, EnglishTicker())}));
}

TEST_F(ServiceStatusPlugin, UnreadableSettingsAreReportedWithTheirMarkers) {
    host.RemoveResource(kRegionData);
    host.SetResourceError(kGlobals, 500, "store offline");
    Start();
    EXPECT_EQ(Lines(2),
              (std::vector<std::string>{"Assertion failed!\n\nExpression: ALE-10000024",
                                        "Assertion failed!\n\nExpression: ALE-10000029"}));
    // Region and locale stay empty, and so does the region data: the pass finds no address.
    EXPECT_EQ(Lines(1), (std::vector<std::string>{
                            "vel-service-status: Unable to get service statuses. The "
                            "service_status/api_url is missing for region '' in the data_store."}));
    EXPECT_TRUE(host.Events().empty());
}

TEST_F(ServiceStatusPlugin, SettingsAndLoginDataMayArriveAsStreams) {
    // The host streams the region data in pieces, with a pause before the last, and the login
    // data and globals in one piece each.
    const std::string regionData = kRegionDataValue.dump();
    const size_t half = regionData.size() / 2;
    host.SetStreamedResource(
        kRegionData,
        {{regionData.substr(0, half), true}, {"", true}, {regionData.substr(half), false}});
    host.SetStreamedResource(kGlobals, {{R"({"region":"EUW","locale":"en_US"})", false}});
    host.SetStreamedResource(
        kLoginData,
        {{Broadcasts(Json::array({{{"content", "Welcome"}, {"severity", "warn"}}})).dump(),
          false}});
    Start();
    EXPECT_EQ(host.UnreleasedResponseCount(), 0u);
    EXPECT_EQ(Lines(3), (std::vector<std::string>{
                            "vel-service-status: a notification with 1 messages exist."}));
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{
                  ResourceEvent(kTickerPath, Json::array({Ticker("warn", "", "", "", "Welcome")})),
                  ResourceEvent(kTickerPath, EnglishTicker())}));

    // A stream that breaks off is a failed read. (The first plug-in goes first: the log lines
    // reach the host of the plug-in that set up the log target.)
    host.Shutdown();
    TestHost broken;
    broken.SetStreamedResource(kRegionData, {{regionData.substr(0, half), true}}, 0, size_t{1});
    broken.SetResource(kGlobals, Json{{"locale", "en_US"}, {"region", "EUW"}});
    broken.SetStreamedResource(kLoginData, {{"{\"broadcastNotification\":", false}});
    broken.Load();
    ASSERT_TRUE(broken.Initialize());
    broken.RunDueTimers();
    std::vector<std::string> lines;
    for (const LogLine& line : broken.LogLines()) {
        lines.push_back(line.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Assertion failed!\n\nExpression: ALE-10000024",
                         "vel-service-status: Unable to get service statuses. The "
                         "service_status/api_url is missing for region 'EUW' in the data_store."}));
    EXPECT_TRUE(broken.Events().empty());
}

TEST_F(ServiceStatusPlugin, LcdsBroadcastReplacesTheTickerUntilTheNextPass) {
    Start();
    host.ClearRecords();
    const Json messages = Json::array(
        {{{"content", "Servers restart at 10:00"}, {"messageKey", "k1"}, {"severity", "warn"}},
         {{"content", ""}, {"messageKey", "maintenance_soon"}, {"severity", "WARN"}}});
    EXPECT_EQ(host.Deliver(kLcdsEvent, Json{{"clientId", "c"},
                                            {"subtopic", "s"},
                                            {"typeName", kLcdsClass},
                                            {"body", {{"broadcastMessages", messages}}}}),
              1u);
    // The broadcast reaches the plug-in through a deferred task.
    EXPECT_TRUE(host.Events().empty());
    host.RunDueTimers();
    EXPECT_EQ(Lines(3), (std::vector<std::string>{
                            "vel-service-status: a notification with 2 messages received."}));
    const Json broadcastTicker =
        Json::array({Ticker("warn", "", "", "", "Servers restart at 10:00"),
                     Ticker("info", "", "", "", "maintenance_soon")});
    EXPECT_EQ(EventNames(), (std::vector<std::string>{kTickerEvent, "OnJsonApiEvent"}));
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, broadcastTicker)}));

    // An empty broadcast empties the ticker.
    host.ClearRecords();
    host.Deliver(kLcdsEvent,
                 Json{{"typeName", kLcdsClass}, {"body", {{"broadcastMessages", Json::array()}}}});
    host.RunDueTimers();
    EXPECT_EQ(Lines(3), (std::vector<std::string>{
                            "vel-service-status: a notification with 0 messages received."}));
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, Json::array())}));

    // The next periodic pass rebuilds the ticker from the document alone.
    host.ClearRecords();
    host.AdvanceTime(120s);
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, EnglishTicker())}));
}

TEST_F(ServiceStatusPlugin, LoginDataBroadcastsReachTheTickerDuringStartUp) {
    host.SetResource(kLoginData,
                     Broadcasts(Json::array({{{"content", "Welcome back"}, {"severity", "info"}},
                                             {{"messageKey", "k"}, {"severity", "error"}}})));
    host.Load();
    ASSERT_TRUE(host.Initialize());
    EXPECT_EQ(Lines(3), (std::vector<std::string>{
                            "vel-service-status: a notification with 2 messages exist."}));
    EXPECT_EQ(EventNames(), (std::vector<std::string>{kTickerEvent, "OnJsonApiEvent"}));
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(
                  kTickerPath, Json::array({Ticker("info", "", "", "", "Welcome back"),
                                            Ticker("error", "", "", "", "k")}))}));

    // The first pass replaces the broadcasts.
    host.ClearRecords();
    host.RunDueTimers();
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(kTickerPath, EnglishTicker())}));
}

TEST_F(ServiceStatusPlugin, LoginDataUpdatesWithoutBroadcastsOrDeletesDoNothing) {
    Start();
    host.ClearRecords();
    const Json two = Broadcasts(Json::array({{{"content", "a"}}, {{"content", "b"}}}));
    const auto deliver = [&](const char* type, const Json& data) {
        return host.Deliver(
            kLoginEvent,
            Json{{"uri", "vel-login/v1/login-data-packet"}, {"eventType", type}, {"data", data}});
    };
    EXPECT_EQ(deliver("Update", Broadcasts(Json::array())), 1u);
    EXPECT_EQ(deliver("Update", Json::object()), 1u);
    EXPECT_EQ(deliver("Delete", two), 1u);
    // A packet that does not convert is dropped.
    EXPECT_EQ(deliver("Update", Json{{"broadcastNotification", "x"}}), 1u);
    EXPECT_TRUE(host.Events().empty());
    EXPECT_TRUE(host.LogLines().empty());

    EXPECT_EQ(deliver("Update", two), 1u);
    EXPECT_EQ(Lines(3), (std::vector<std::string>{
                            "vel-service-status: a notification with 2 messages exist."}));
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{
                  ResourceEvent(kTickerPath, Json::array({Ticker("info", "", "", "", "a"),
                                                          Ticker("info", "", "", "", "b")}))}));
    EXPECT_TRUE(Published(kStatusEvent).empty());
}

TEST_F(ServiceStatusPlugin, BroadcastPayloadsOfTheWrongShape) {
    Start();
    host.ClearRecords();
    // LCDS messages whose body is not a notification are dropped without a line.
    const Json badBodies[] = {
        Json(R"({"broadcastMessages":[{"content":"as text"}]})"),
        Json(5),
        Json::array({{{"content", "x"}}}),
        Json(nullptr),
        Json{{"broadcastMessages", "text"}},
        Json{{"broadcastMessages", {{"content", "a structure"}}}},
    };
    for (const Json& body : badBodies) {
        SCOPED_TRACE(body.dump());
        EXPECT_EQ(host.Deliver(kLcdsEvent, Json{{"typeName", kLcdsClass}, {"body", body}}), 1u);
        host.RunDueTimers();
    }
    // So are payloads that are no LCDS event, and events of another class.
    host.Deliver(kLcdsEvent, Json("not json"));
    host.Deliver(kLcdsEvent,
                 Json{{"typeName", 5}, {"body", {{"broadcastMessages", Json::array()}}}});
    host.Deliver(kLcdsEvent,
                 Json{{"typeName", "com.korvelworks.platform.broadcast.broadcastnotification"},
                      {"body", {{"broadcastMessages", Json::array()}}}});
    host.RunDueTimers();
    EXPECT_TRUE(host.Events().empty());
    EXPECT_TRUE(host.LogLines().empty());

    // Messages of any kind count; what is not a text reads as empty text and severity info.
    host.Deliver(kLcdsEvent,
                 Json{{"typeName", kLcdsClass},
                      {"body",
                       {{"broadcastMessages",
                         Json::array({nullptr,
                                      5,
                                      "text",
                                      Json::array({{{"content", "deep"}}}),
                                      {{"content", 7}, {"messageKey", "key"}, {"severity", 2}}})},
                        {"unknown", "ignored"}}}});
    host.RunDueTimers();
    EXPECT_EQ(Lines(3), (std::vector<std::string>{
                            "vel-service-status: a notification with 5 messages received."}));
    const Json empty = Ticker("info", "", "", "", "");
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{ResourceEvent(
                  kTickerPath,
                  Json::array({empty, empty, empty, empty, Ticker("info", "", "", "", "key")}))}));

    // Login data: the event type given by its number acts like its name; an unknown type name or
    // data that is no packet drops the event.
    host.ClearRecords();
    const auto deliver = [&](const Json& type, const Json& data) {
        return host.Deliver(kLoginEvent,
                            Json{{"uri", kLoginData}, {"eventType", type}, {"data", data}});
    };
    EXPECT_EQ(deliver("Replace", Broadcasts(Json::array({{{"content", "r"}}}))), 1u);
    EXPECT_EQ(deliver(2, Broadcasts(Json::array({{{"content", "deleted"}}}))), 1u);
    EXPECT_EQ(deliver("Update", Json("{\"broadcastNotification\":{}}")), 1u);
    EXPECT_EQ(deliver("Update", Json{{"broadcastNotification", {{"broadcastMessages", 1}}}}), 1u);
    EXPECT_TRUE(host.Events().empty());
    EXPECT_EQ(deliver(1, Broadcasts(Json::array({{{"content", "one"}}}))), 1u);
    EXPECT_EQ(Published(kTickerEvent),
              (std::vector<Json>{
                  ResourceEvent(kTickerPath, Json::array({Ticker("info", "", "", "", "one")}))}));
    EXPECT_EQ(Lines(3), (std::vector<std::string>{
                            "vel-service-status: a notification with 1 messages exist."}));
}

// The host hears only a line's level and text; the plug-in's own lines carry their categories to
// the targets of the process, so an object of this process is watched there.
TEST_F(ServiceStatusPlugin, OwnLogLinesCarryTheirLevelsAndCategories) {
    RespondWith(kApiUrl, 503, R"({"error":"x"})");
    host.SetResource(kLoginData, Broadcasts(Json::array({{{"content", "a"}}, {{"content", "b"}}})));
    CapturedLog log;
    auto* plugin = new Client::ServiceStatusPlugin;
    plugin->SetClock(&TestHost::Clock, &host);
    PluginApiDescriptor descriptor{};
    descriptor.apiMajor = 18;
    plugin->Handshake(&descriptor, Client::ServiceStatusPlugin::kShortName);
    ASSERT_TRUE(PluginBase::InitializeEntry(plugin, host.Context(5)));
    host.RunDueTimers();
    host.Deliver(kLcdsEvent, Json{{"typeName", kLcdsClass},
                                  {"body", {{"broadcastMessages", Json::array({"x"})}}}});
    host.RunDueTimers();
    host.Deliver("OnRegionLocaleChanged", Json{{"region", "OC1"}, {"locale", "en_US"}});
    PluginBase::ShutdownEntry(plugin);

    std::vector<std::string> lines;
    for (const CapturedLog::Entry& entry : log.Containing("vel-service-status: ")) {
        lines.push_back(std::to_string(entry.level) + " " + std::to_string(entry.categories) + " " +
                        entry.message);
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "3 1 vel-service-status: a notification with 2 messages exist.",
                  "1 65 vel-service-status: Failed to get service status for region 'EUW': 503 - "
                  " - '{\r\n    \"error\": \"x\"\r\n}'",
                  "3 1 vel-service-status: a notification with 1 messages received.",
                  "1 1 vel-service-status: Unable to get service statuses. The "
                  "service_status/api_url is missing for region 'OC1' in the data_store."}));
}

TEST_F(ServiceStatusPlugin, WorkStillPendingAtShutdownNeverRuns) {
    host.Load();
    ASSERT_TRUE(host.Initialize());
    // Pending with the host: the first pass, the periodic timer and a broadcast's delivery.
    host.Deliver(kLcdsEvent,
                 Json{{"typeName", kLcdsClass},
                      {"body", {{"broadcastMessages", Json::array({{{"content", "x"}}})}}}});
    ASSERT_EQ(host.PendingTimerCount(), 3u);
    const std::vector<Subscription> subscriptions = host.Subscriptions();
    host.Shutdown();
    host.ClearRecords();

    // A host that fires them anyway, and delivers events to the old subscriptions, reaches
    // nothing.
    EXPECT_EQ(host.RunAllTimers(), 3u);
    HostValueArena arena;
    for (const Subscription& subscription : subscriptions) {
        HostEventRecord record{};
        record.name = subscription.eventName.c_str();
        record.payload = arena.Build(Json{{"region", "NA"}, {"locale", "de_DE"}});
        record.userData = subscription.userData;
        subscription.callback(&record);
    }
    EXPECT_EQ(host.PendingTimerCount(), 0u);
    EXPECT_TRUE(host.ExternalRequests().empty());
    EXPECT_TRUE(host.Requests().empty());
    EXPECT_TRUE(host.Events().empty());
    EXPECT_TRUE(host.LogLines().empty());
    EXPECT_TRUE(host.TimerCalls().empty());
}

TEST_F(ServiceStatusPlugin, ShutdownRemovesTheTimerAndEverySubscription) {
    Start();
    host.ClearRecords();
    host.Shutdown();
    std::vector<std::string> unsubscribed;
    for (const SubscriptionCall& call : host.SubscriptionCalls()) {
        EXPECT_FALSE(call.subscribe);
        unsubscribed.push_back(call.eventName);
    }
    std::sort(unsubscribed.begin(), unsubscribed.end());
    EXPECT_EQ(unsubscribed,
              (std::vector<std::string>{"OnJsonApiEvent_vel-login_v1_login-data-packet", kLcdsEvent,
                                        "OnRegionLocaleChanged", "OnServiceProxyAsyncEvent",
                                        "OnServiceProxyMethodEvent", "OnServiceProxyUuidEvent"}));
    EXPECT_TRUE(host.Subscriptions().empty());
}

} // namespace
} // namespace Korvel::Testing
