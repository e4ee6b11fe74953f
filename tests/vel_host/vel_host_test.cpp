// vel-host run as a program against a status server of the test's own: the initial pass, region
// changes, broadcasts, failing status servers, --once, start-up errors and shutdown.

#include "vel_host/http_api.h"
#include "vel_host_harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace Korvel::VelHost::Testing {
namespace {

constexpr const char kStatusPath[] = "/vel-service-status/v1/zum-status";
constexpr const char kTickerPath[] = "/vel-service-status/v1/ticker-messages";
constexpr const char kLcdsEvent[] =
    "OnLcdsEvent_com_korvelworks_platform_broadcast_BroadcastNotification";
constexpr const char kLcdsClass[] = "com.korvelworks.platform.broadcast.BroadcastNotification";
constexpr const char kFailureLine[] = "vel-service-status: Failed to get service status for region";

Json NaMessages() {
    return Json::array(
        {{{"created_at", "2024-01-01T10:00:00Z"},
          {"updated_at", "2024-01-01T11:00:00Z"},
          {"severity", "warn"},
          {"heading", "Login queue"},
          {"content", "Logins are slow."},
          {"translations",
           Json::array({{{"locale", "de_DE"}, {"heading", "Anmeldung"}, {"content", "Langsam."}},
                        {{"locale", "en_US"},
                         {"heading", "Login queue (NA)"},
                         {"content", "Logins take longer than usual."}}})}},
         {{"created_at", "2024-01-02T10:00:00Z"},
          {"updated_at", "2024-01-02T10:00:00Z"},
          {"severity", "error"},
          {"heading", "Store down"},
          {"content", "The store is closed."},
          {"translations", Json::array()}}});
}

Json EuwMessages() {
    return Json::array({{{"created_at", "2024-02-01T08:00:00Z"},
                         {"updated_at", "2024-02-01T09:00:00Z"},
                         {"severity", "info"},
                         {"heading", "Patch day"},
                         {"content", "Patch 14.3 is live."},
                         {"translations", Json::array({{{"locale", "de_DE"},
                                                        {"heading", "Patchtag"},
                                                        {"content", "Patch 14.3 ist da."}}})}}});
}

Json LcdsBroadcast(const Json& messages) {
    return Json{{"clientId", "test"},
                {"subtopic", "broadcast"},
                {"typeName", kLcdsClass},
                {"body", {{"broadcastMessages", messages}}}};
}

// Sends `request` as it is to 127.0.0.1:port and returns what arrives within `timeLimit`.
std::string RawExchange(int port, const std::string& request, std::chrono::milliseconds timeLimit) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket < 0) {
        return {};
    }
    timeval wait{};
    wait.tv_sec = static_cast<time_t>(timeLimit.count() / 1000);
    wait.tv_usec = static_cast<suseconds_t>((timeLimit.count() % 1000) * 1000);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(socket, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        ssize_t got = 0;
        // The request asks the server to close the connection after its answer.
        while ((got = ::recv(socket, buffer, sizeof(buffer), 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(socket);
    return answer;
}

class VelHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Set("/na", {200, MakeStatusDocument("online", NaMessages()).dump()});
        server_.Set("/euw", {200, MakeStatusDocument("degraded", EuwMessages()).dump()});
    }

    std::string WriteStore(const Json& store) { return folder_.Write("store.json", store.dump()); }

    // Starts vel-host on the test's data store and waits for the first status.
    void StartHost(const Json& store, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--data-store", WriteStore(store)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ASSERT_TRUE(host_.Start(arguments)) << host_.Failure();
    }

    // Waits until the published status resource satisfies `check`.
    Json WaitForStatus(const std::function<bool(const Json&)>& check) {
        Json status;
        WaitFor(
            [&] {
                status = host_.Resource(kStatusPath);
                return !status.is_null() && check(status);
            },
            30s);
        return status;
    }

    TempFolder folder_;
    StatusServer server_;
    VelHost host_{folder_};
};

TEST_F(VelHostTest, InitialPassPublishesBothResourcesAndServesThemByGet) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    const Json status = WaitForStatus([](const Json&) { return true; });
    ASSERT_FALSE(status.is_null()) << host_.Failure();
    EXPECT_EQ(status["status"], "online");
    // The "#" of the human-readable address gets the locale before it.
    EXPECT_EQ(status["humanReadableUrl"], "https://status.example/?en_US#/na");
    EXPECT_EQ(server_.Hits("/na"), 1u);
    EXPECT_EQ(server_.Hits("/euw"), 0u);
    const auto headers = server_.LastHeaders("/na");
    const auto agent = headers.find("user-agent");
    ASSERT_NE(agent, headers.end());
    EXPECT_EQ(agent->second, "KorvelClient/18.0.0 (vel-service-status)");

    // The declared GET entry points answer with the same values the plug-in published.
    const auto [statusCode, served] = host_.Get(kStatusPath);
    EXPECT_EQ(statusCode, 200);
    EXPECT_EQ(served, status);
    const auto [tickerCode, ticker] = host_.Get(kTickerPath);
    EXPECT_EQ(tickerCode, 200);
    ASSERT_TRUE(ticker.is_array()) << ticker.dump();
    ASSERT_EQ(ticker.size(), 2u);
    EXPECT_EQ(ticker, host_.Resource(kTickerPath));
    // The en_US translation replaces heading and text; the second message has none.
    EXPECT_EQ(ticker[0]["heading"], "Login queue (NA)");
    EXPECT_EQ(ticker[0]["message"], "Logins take longer than usual.");
    EXPECT_EQ(ticker[0]["severity"], "warn");
    EXPECT_EQ(ticker[0]["createdAt"], "2024-01-01T10:00:00Z");
    EXPECT_EQ(ticker[0]["updatedAt"], "2024-01-01T11:00:00Z");
    EXPECT_EQ(ticker[1]["heading"], "Store down");
    EXPECT_EQ(ticker[1]["severity"], "error");

    const auto [functionsCode, functions] = host_.Get("/host/functions");
    EXPECT_EQ(functionsCode, 200);
    std::vector<std::string> paths;
    for (const Json& function : functions) {
        paths.push_back(function.value("path", std::string()));
    }
    EXPECT_NE(std::find(paths.begin(), paths.end(), kStatusPath), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), kTickerPath), paths.end());
}

TEST_F(VelHostTest, DeclaredFunctionsRefuseOtherMethodsAndUnknownPaths) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    httplib::Client client = host_.Client();
    const auto posted = client.Post(kStatusPath, "{}", "application/json");
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->status, 405);
    EXPECT_EQ(posted->get_header_value("Allow"), "GET");
    const auto unknown = client.Get("/vel-service-status/v1/nothing-here");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_NE(unknown->body.find("\"error\""), std::string::npos);
    // The host hands the plug-in the whole target, query included; the getters' literal routes
    // do not match a path followed by a query part, so the plug-in refuses the call.
    const auto withQuery = client.Get(std::string(kStatusPath) + "?x=1");
    ASSERT_TRUE(withQuery);
    EXPECT_EQ(withQuery->status, 404);
    EXPECT_EQ(Json::parse(withQuery->body), Json({{"error", "Invalid function"}}));
}

TEST_F(VelHostTest, RegionChangeFetchesTheOtherRegionsDocument) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    ASSERT_FALSE(WaitForStatus([](const Json& s) { return s["status"] == "online"; }).is_null());
    EventStream stream(host_.Port());
    ASSERT_TRUE(stream.WaitOpen());

    EXPECT_EQ(host_.FireEvent("OnRegionLocaleChanged", {{"region", "EUW"}, {"locale", "de_DE"}}),
              1);
    const Json status = WaitForStatus([](const Json& s) { return s["status"] == "degraded"; });
    EXPECT_EQ(status["status"], "degraded") << host_.Failure();
    EXPECT_EQ(status["humanReadableUrl"], "https://status.example/euw");
    EXPECT_EQ(server_.Hits("/euw"), 1u);
    const Json ticker = host_.Get(kTickerPath).second;
    ASSERT_EQ(ticker.size(), 1u) << ticker.dump();
    EXPECT_EQ(ticker[0]["heading"], "Patchtag");
    EXPECT_EQ(ticker[0]["message"], "Patch 14.3 ist da.");

    // The stream carried the publication, under the resource's own name and "OnJsonApiEvent".
    const auto isStatus = [](const std::string& name) {
        return [name](const EventStream::Event& event) {
            return event.name == name && event.data.value("uri", std::string()) == kStatusPath &&
                   event.data["data"]["status"] == "degraded";
        };
    };
    EXPECT_TRUE(stream.WaitFor(isStatus("OnJsonApiEvent")));
    EXPECT_TRUE(stream.WaitFor(isStatus("OnJsonApiEvent_vel-service-status_v1_zum-status")));

    // The same region and locale again is no change and fetches nothing.
    EXPECT_EQ(host_.FireEvent("OnRegionLocaleChanged", {{"region", "EUW"}, {"locale", "de_DE"}}),
              1);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(server_.Hits("/euw"), 1u);
}

TEST_F(VelHostTest, BroadcastsReplaceTheTicker) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    ASSERT_FALSE(WaitForStatus([](const Json& s) { return s["status"] == "online"; }).is_null());

    EXPECT_EQ(host_.FireEvent(
                  kLcdsEvent,
                  LcdsBroadcast(Json::array(
                      {{{"content", "Restart in 5 minutes"},
                        {"messageKey", "restart"},
                        {"severity", "warn"}},
                       {{"content", ""}, {"messageKey", "key.only"}, {"severity", "WARN"}}}))),
              1);
    Json ticker;
    EXPECT_TRUE(WaitFor(
        [&] {
            ticker = host_.Resource(kTickerPath);
            return ticker.is_array() && ticker.size() == 2 &&
                   ticker[0]["message"] == "Restart in 5 minutes";
        },
        20s))
        << ticker.dump() << host_.Failure();
    EXPECT_EQ(ticker[0]["severity"], "warn");
    EXPECT_EQ(ticker[0]["heading"], "");
    EXPECT_EQ(ticker[1]["message"], "key.only");
    EXPECT_EQ(ticker[1]["severity"], "info");
    EXPECT_EQ(host_.Get(kTickerPath).second, ticker);
    EXPECT_TRUE(host_.WaitForLog("vel-service-status: a notification with 2 messages received."));
    // The status stays as the last pass left it.
    EXPECT_EQ(host_.Get(kStatusPath).second["status"], "online");

    // A login-data update with broadcasts replaces the ticker too.
    const Json packet = {{"broadcastNotification",
                          {{"broadcastMessages",
                            Json::array({{{"content", "Welcome back"}, {"severity", "info"}}})}}}};
    EXPECT_EQ(host_.FireEvent("OnJsonApiEvent_vel-login_v1_login-data-packet",
                              {{"uri", "/vel-login/v1/login-data-packet"},
                               {"eventType", "Update"},
                               {"data", packet}}),
              1);
    EXPECT_TRUE(WaitFor(
        [&] {
            ticker = host_.Resource(kTickerPath);
            return ticker.is_array() && ticker.size() == 1 &&
                   ticker[0]["message"] == "Welcome back";
        },
        20s))
        << ticker.dump();
    EXPECT_TRUE(host_.WaitForLog("vel-service-status: a notification with 1 messages exist."));
}

TEST_F(VelHostTest, LoginDataPacketBroadcastsReachTheTickerAtStart) {
    const Json packet = {{"broadcastNotification",
                          {{"broadcastMessages", Json::array({{{"content", "Login broadcast"},
                                                               {"severity", "error"}}})}}}};
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw"), packet), {"--verbose"});
    ASSERT_FALSE(WaitForStatus([](const Json& s) { return s["status"] == "online"; }).is_null());
    EXPECT_TRUE(host_.WaitForLog("vel-service-status: a notification with 1 messages exist."));
    // The login broadcasts were published during start-up, before the first pass replaced them
    // with the document's messages.
    const std::string events = host_.Stderr();
    const auto broadcast = events.find("\"message\":\"Login broadcast\"");
    const auto status = events.find("event OnJsonApiEvent_vel-service-status_v1_zum-status");
    ASSERT_NE(broadcast, std::string::npos) << events;
    ASSERT_NE(status, std::string::npos) << events;
    EXPECT_LT(broadcast, status);
    EXPECT_EQ(host_.Resource(kTickerPath).size(), 2u);
}

TEST_F(VelHostTest, LoginDataEventsNestedTooDeepAreRefusedAndTheHostKeepsServing) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    ASSERT_FALSE(WaitForStatus([](const Json&) { return true; }).is_null());
    // A login-data update whose data nests far deeper than any value the host hands over; the
    // body is within the size limit.
    const std::size_t depth = 1000000;
    const std::string body = R"({"uri":"/vel-login/v1/login-data-packet","eventType":"Update",)"
                             R"("data":{"broadcastNotification":)" +
                             std::string(depth, '[') + std::string(depth, ']') + "}}";
    httplib::Client client = host_.Client();
    client.set_read_timeout(30s);
    const auto refused = client.Post("/host/events/OnJsonApiEvent_vel-login_v1_login-data-packet",
                                     body, "application/json");
    ASSERT_TRUE(refused) << host_.Failure();
    EXPECT_EQ(refused->status, 400);
    EXPECT_NE(refused->body.find("nested deeper than"), std::string::npos) << refused->body;
    EXPECT_EQ(host_.Get(kStatusPath).first, 200) << host_.Failure();
    EXPECT_EQ(host_.FireEvent("OnRegionLocaleChanged", {{"region", "EUW"}, {"locale", "en_US"}}),
              1);
}

TEST_F(VelHostTest, EventPostsWithoutALengthOrWithLargeFormBodiesAreServed) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    ASSERT_FALSE(WaitForStatus([](const Json&) { return true; }).is_null());

    // "curl -X POST URL": no body and no Content-Length. The event goes in with no payload at
    // once instead of after the server's read time limit.
    const auto started = std::chrono::steady_clock::now();
    const std::string bare = RawExchange(host_.Port(),
                                         "POST /host/events/Nobody HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                         "Connection: close\r\n\r\n",
                                         10s);
    EXPECT_TRUE(bare.starts_with("HTTP/1.1 200")) << bare;
    EXPECT_NE(bare.find("\"delivered\": 0"), std::string::npos) << bare;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);

    // "curl -d @file" sends a form-encoded content type; a payload beyond 8 KiB is taken as
    // JSON like any other body up to the host's limit.
    const std::string content(20000, 'x');
    httplib::Client client = host_.Client();
    const auto posted = client.Post(std::string("/host/events/") + kLcdsEvent,
                                    LcdsBroadcast(Json::array({{{"content", content}}})).dump(),
                                    "application/x-www-form-urlencoded");
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->status, 200) << posted->body;
    Json ticker;
    EXPECT_TRUE(WaitFor(
        [&] {
            ticker = host_.Resource(kTickerPath);
            return ticker.is_array() && ticker.size() == 1 && ticker[0]["message"] == content;
        },
        20s));
    // A declared function called the same way is reached too (and refuses the method).
    const auto function =
        client.Post(kStatusPath, std::string(10000, '{'), "application/x-www-form-urlencoded");
    ASSERT_TRUE(function);
    EXPECT_EQ(function->status, 405);

    // Beyond the host's limit the answer says so.
    const auto huge = client.Post("/host/events/Nobody",
                                  std::string(HttpApi::kMaxBodyBytes + 1, ' '), "application/json");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);
}

struct FailureCase {
    const char* name;
    std::function<std::string(StatusServer&)> arrange; // returns the api_url
};

class StatusServerFailureTest : public VelHostTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StatusServerFailureTest, LogsTheWarningPublishesUnknownAndKeepsServing) {
    const std::string url = GetParam().arrange(server_);
    // Outside requests are cut to 2 seconds so that the slow server is beyond the limit.
    StartHost(MakeDataStore(url, server_.Url("/euw")), {"--max-request-seconds", "2"});
    ASSERT_TRUE(host_.WaitForLog(kFailureLine, 30s)) << host_.Failure();
    EXPECT_TRUE(host_.WaitForLog("region 'NA'"));
    const Json status = WaitForStatus([](const Json&) { return true; });
    EXPECT_EQ(status["status"], "unknown");
    EXPECT_EQ(status["humanReadableUrl"], "https://status.example/?en_US#/na");
    EXPECT_EQ(host_.Resource(kTickerPath), Json::array());
    EXPECT_NE(host_.Stderr().find(kFailureLine), std::string::npos);
    EXPECT_NE(host_.Stderr().find("WARN"), std::string::npos);

    // vel-host goes on serving: the entry points answer, and a region change works.
    EXPECT_EQ(host_.Get(kStatusPath).first, 200);
    EXPECT_EQ(host_.Get(kStatusPath).second["status"], "unknown");
    EXPECT_EQ(host_.FireEvent("OnRegionLocaleChanged", {{"region", "EUW"}, {"locale", "en_US"}}),
              1);
    EXPECT_EQ(WaitForStatus([](const Json& s) { return s["status"] == "degraded"; })["status"],
              "degraded");
}

INSTANTIATE_TEST_SUITE_P(
    Failures, StatusServerFailureTest,
    ::testing::Values(
        FailureCase{"ServerError",
                    [](StatusServer& server) {
                        server.Set("/broken", {500, R"({"message":"internal"})"});
                        return server.Url("/broken");
                    }},
        FailureCase{"InvalidJson",
                    [](StatusServer& server) {
                        server.Set("/broken", {200, "{\"status\": online", "application/json"});
                        return server.Url("/broken");
                    }},
        FailureCase{"SlowAnswer",
                    [](StatusServer& server) {
                        server.Set("/slow",
                                   {200, MakeStatusDocument("online", Json::array()).dump(),
                                    "application/json", 4000ms});
                        return server.Url("/slow");
                    }},
        FailureCase{"ConnectionRefused",
                    [](StatusServer&) {
                        return "http://127.0.0.1:" + std::to_string(FreePort()) + "/na";
                    }}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(VelHostTest, EventStreamsBeyondTheCapAreRefusedAndOtherRequestsAreStillServed) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    std::vector<std::unique_ptr<EventStream>> streams;
    for (int i = 0; i < 12; ++i) {
        streams.push_back(std::make_unique<EventStream>(host_.Port()));
        ASSERT_TRUE(streams.back()->WaitOpen()) << "stream " << i;
    }
    httplib::Client client = host_.Client();
    client.set_read_timeout(5);
    const auto refused = client.Get("/host/events");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_EQ(Json::parse(refused->body)["error"],
              "too many event streams are open (at most 12); close one and try again");
    // The server still has threads for everything else, also several requests at once.
    std::vector<std::thread> readers;
    std::atomic<int> served{0};
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            if (host_.Get(kStatusPath).first == 200) {
                ++served;
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(served, 3);
    const auto [pluginCode, plugin] = host_.Get("/host/plugin");
    EXPECT_EQ(pluginCode, 200);
    EXPECT_EQ(plugin["eventStreams"], 12);
}

TEST_F(VelHostTest, OncePrintsBothResourcesAndExits) {
    TempFolder folder;
    ChildProcess once;
    ASSERT_TRUE(once.Start(VelHostPath(),
                           {"--once", "--data-store",
                            WriteStore(MakeDataStore(server_.Url("/na"), server_.Url("/euw")))},
                           folder.Path()));
    ASSERT_EQ(once.Wait(60s), 0) << once.Stderr();
    const Json output = Json::parse(once.Stdout());
    EXPECT_EQ(output[kStatusPath]["status"], "online");
    ASSERT_EQ(output[kTickerPath].size(), 2u);
    EXPECT_EQ(output[kTickerPath][0]["heading"], "Login queue (NA)");
    // Pretty-printed.
    EXPECT_NE(once.Stdout().find("\n    "), std::string::npos);
}

TEST_F(VelHostTest, OnceFailsWhenNothingIsPublished) {
    // No api_url for the region: the plug-in publishes nothing.
    Json store = MakeDataStore("", server_.Url("/euw"));
    TempFolder folder;
    ChildProcess once;
    ASSERT_TRUE(once.Start(VelHostPath(),
                           {"--once", "--once-time-limit", "2", "--data-store", WriteStore(store)},
                           folder.Path()));
    const auto exit = once.Wait(30s);
    ASSERT_TRUE(exit.has_value());
    EXPECT_NE(*exit, 0);
    EXPECT_EQ(once.Stdout(), "");
    EXPECT_NE(once.Stderr().find("service_status/api_url is missing for region 'NA'"),
              std::string::npos)
        << once.Stderr();
    EXPECT_NE(once.Stderr().find("did not publish"), std::string::npos) << once.Stderr();
}

TEST_F(VelHostTest, OnceEndsWithinItsTimeLimitWhileTheStatusServerDoesNotAnswer) {
    server_.Set("/na", StatusAnswer{200, "{}", "application/json", 8s});
    TempFolder folder;
    ChildProcess once;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(once.Start(VelHostPath(),
                           {"--once", "--once-time-limit", "1", "--data-store",
                            WriteStore(MakeDataStore(server_.Url("/na"), server_.Url("/euw")))},
                           folder.Path()));
    const auto exit = once.Wait(6s);
    ASSERT_TRUE(exit.has_value()) << "--once still running after 6 s";
    EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
    EXPECT_NE(*exit, 0);
    EXPECT_EQ(once.Stdout(), "");
    EXPECT_NE(once.Stderr().find("did not publish"), std::string::npos) << once.Stderr();
}

TEST(VelHostDefault, OnceWithTheBundledExampleNeedsNoNetwork) {
    TempFolder folder;
    ChildProcess once;
    ASSERT_TRUE(once.Start(VelHostPath(), {"--once"}, folder.Path()));
    ASSERT_EQ(once.Wait(60s), 0) << once.Stderr();
    const Json output = Json::parse(once.Stdout());
    EXPECT_EQ(output[kStatusPath]["status"], "degraded");
    const std::string url = output[kStatusPath]["humanReadableUrl"];
    EXPECT_TRUE(url.starts_with("http://127.0.0.1:")) << url;
    EXPECT_TRUE(url.ends_with("/example/status/?en_US#/na")) << url;
    ASSERT_EQ(output[kTickerPath].size(), 3u);
    EXPECT_EQ(output[kTickerPath][0]["heading"], "Matchmaking delays in North America");
}

TEST(VelHostErrors, StartUpFailuresSayWhatIsWrong) {
    TempFolder folder;
    const auto run = [&](std::vector<std::string> arguments) {
        auto process = std::make_unique<ChildProcess>();
        EXPECT_TRUE(process->Start(VelHostPath(), arguments, folder.Path()));
        const auto exit = process->Wait(30s);
        EXPECT_TRUE(exit.has_value());
        EXPECT_NE(exit.value_or(0), 0);
        return process->Stderr();
    };
    const int port = FreePort();
    const std::string portText = std::to_string(port);

    EXPECT_NE(run({"--port", portText, "--plugin", folder.Path() + "/missing.so"})
                  .find("plug-in library '" + folder.Path() + "/missing.so' not found"),
              std::string::npos);
    const std::string notLibrary = folder.Write("not-a-library.so", "text");
    EXPECT_NE(run({"--port", portText, "--plugin", notLibrary}).find("cannot load plug-in library"),
              std::string::npos);
    EXPECT_NE(run({"--port", portText, "--data-store", folder.Path() + "/none.json"})
                  .find("cannot read data store"),
              std::string::npos);
    const std::string invalid = folder.Write("invalid.json", "{\"system-settings\": ");
    EXPECT_NE(run({"--port", portText, "--data-store", invalid}).find("is not valid JSON"),
              std::string::npos);
    const std::string wrongShape = folder.Write("shape.json", R"({"system-settings": []})");
    EXPECT_NE(run({"--port", portText, "--data-store", wrongShape}).find("must be an object"),
              std::string::npos);
    EXPECT_NE(run({"--port", portText, "--api-version", "17.0.0"}).find("cannot serve"),
              std::string::npos);
    EXPECT_NE(run({"--port", portText, "--api-version", "eighteen"}).find("--api-version"),
              std::string::npos);
    // A negative size would wrap to the largest one and silently turn streaming off.
    EXPECT_NE(run({"--port", portText, "--stream-above", "-1"}).find("--stream-above"),
              std::string::npos);

    // A port in use.
    httplib::Server other;
    const int busy = other.bind_to_any_port("127.0.0.1");
    ASSERT_GT(busy, 0);
    const std::string error = run({"--port", std::to_string(busy)});
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(busy)), std::string::npos)
        << error;
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
}

TEST_F(VelHostTest, InterruptShutsThePluginDownCleanly) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    ASSERT_FALSE(WaitForStatus([](const Json&) { return true; }).is_null());
    EventStream stream(host_.Port());
    ASSERT_TRUE(stream.WaitOpen());
    EXPECT_EQ(host_.Interrupt(), 0) << host_.Failure();
    EXPECT_NE(host_.Stderr().find("SIGINT received, shutting down"), std::string::npos);
    EXPECT_NE(host_.Stderr().find("vel-host: stopped"), std::string::npos);
    // The event stream ended with the host.
    EXPECT_TRUE(WaitFor([&] { return stream.Ended(); }, 10s));
}

// A few hundred requests of every kind, then Ctrl-C. Under the sanitizer preset the program is
// instrumented and any leak or memory error makes it fail with its report on standard error.
TEST_F(VelHostTest, ServesHundredsOfRequestsAndExitsWithoutErrors) {
    StartHost(MakeDataStore(server_.Url("/na"), server_.Url("/euw")));
    ASSERT_FALSE(WaitForStatus([](const Json&) { return true; }).is_null());
    EventStream stream(host_.Port());
    ASSERT_TRUE(stream.WaitOpen());
    httplib::Client client = host_.Client();
    int failures = 0;
    for (int i = 0; i < 300; ++i) {
        const auto send = [&]() -> httplib::Result {
            switch (i % 6) {
            case 0:
                return client.Get(kStatusPath);
            case 1:
                return client.Get(kTickerPath);
            case 2:
                return client.Post(
                    std::string("/host/events/") + kLcdsEvent,
                    LcdsBroadcast(Json::array({{{"content", "n" + std::to_string(i)}}})).dump(),
                    "application/json");
            case 3:
                return client.Post(
                    "/host/events/OnRegionLocaleChanged",
                    Json{{"region", i % 4 == 1 ? "EUW" : "NA"}, {"locale", "en_US"}}.dump(),
                    "application/json");
            case 4:
                return client.Get("/host/resources");
            default:
                return client.Post("/host/events/Nobody", "not json", "application/json");
            }
        };
        const httplib::Result result = send();
        const int expected = i % 6 == 5 ? 400 : 200;
        failures += result && result->status == expected ? 0 : 1;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(server_.Hits("/euw"), 10u);
    EXPECT_TRUE(stream.WaitFor([](const EventStream::Event& event) {
        return event.name == "OnJsonApiEvent" && event.data.value("uri", "") == kTickerPath &&
               event.data["data"].size() == 1 && event.data["data"][0]["message"] == "n296";
    }));
    EXPECT_EQ(host_.Interrupt(), 0) << host_.Failure();
    const std::string errors = host_.Stderr();
    EXPECT_EQ(errors.find("AddressSanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("LeakSanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
}

} // namespace
} // namespace Korvel::VelHost::Testing
