// Requests of a plug-in object of the test's own process through the test host: the host's own
// resources (plain and streamed bodies, errors) and outside web servers.

#include "plugin/plugin_manager_types.h"
#include "test_plugin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Korvel::Testing {
namespace {

using Client::PluginManagerResource;
using Client::PluginManagerState;

constexpr char kUrl[] = "https://status.example/v1/status";

class Requests : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = MakeTestPlugin(host, nullptr, {18, 4, 1});
        ASSERT_TRUE(plugin->Initialize(host.Context(11)));
        host.ClearRecords();
    }

    // Every response record the host filled has been handed back, exactly once.
    void ExpectReleased(size_t count) {
        EXPECT_EQ(host.ReleasedResponseCount(), count);
        EXPECT_EQ(host.UnreleasedResponseCount(), 0u);
    }

    ExternalResponse Fetch(const HeaderTable& headers = {}) {
        return plugin->SendExternal(HttpMethod::Get, kUrl, headers, 20);
    }

    TestHost host;
    std::unique_ptr<TestPlugin> plugin;
};

TEST_F(Requests, ResourceBodyInTheRecord) {
    host.SetResource("/data-store/v1/system-settings/region_data",
                     Json{{"EUW", {{"servers", Json::array({1, 2})}}}});
    const ResourceResult result = plugin->ReadSystemSetting("region_data");
    ASSERT_FALSE(result.failed) << result.message;
    EXPECT_EQ(result.code, 0);
    EXPECT_TRUE(result.message.empty());
    EXPECT_EQ(result.value.Member("EUW").Member("servers").Element(1).GetSigned(), 2);

    ASSERT_EQ(host.Requests().size(), 1u);
    const ResourceRequest& request = host.Requests()[0];
    EXPECT_EQ(request.method, 2u);
    EXPECT_EQ(request.path, "/data-store/v1/system-settings/region_data");
    EXPECT_TRUE(request.arguments.empty());
    EXPECT_EQ(request.pluginId, 11u);
    EXPECT_TRUE(request.reservedBytesZero);
    ExpectReleased(1);

    host.SetResource("/data-store/v1/install-settings/globals", Json{{"region", "NA"}});
    EXPECT_EQ(plugin->ReadInstallSetting("globals").value.Member("region").GetString(), "NA");
    EXPECT_EQ(host.Requests()[1].path, "/data-store/v1/install-settings/globals");
    ExpectReleased(2);
    EXPECT_TRUE(host.WaitCalls().empty());
}

TEST_F(Requests, ErrorResponsesFailWithTheHostsCodeAndText) {
    host.SetResourceError("/vel-login/v1/login-data-packet", 404, "Resource not found");
    ResourceResult result = plugin->GetResource("/vel-login/v1/login-data-packet");
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.code, 404);
    EXPECT_EQ(result.message,
              "Error response for GET /vel-login/v1/login-data-packet: Resource not found");
    EXPECT_TRUE(result.value.IsEmpty());
    ExpectReleased(1);

    // A body that does not convert.
    host.SetResourceValue("/odd", host.Arena().Raw(11));
    result = plugin->GetResource("/odd");
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.message,
              "Error converting response for GET /odd: Couldn't assign value to '<result>' of "
              "type object because the input is of an incompatible type ''.");
    ExpectReleased(2);
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(Requests, ResultTypeConversion) {
    host.SetResource("/state", Json{{"state", "PluginsInitialized"}});
    PluginManagerResource resource;
    ResourceResult result = plugin->GetResource("/state", resource);
    ASSERT_FALSE(result.failed) << result.message;
    EXPECT_EQ(resource.state, PluginManagerState::PluginsInitialized);

    host.SetResource("/state", Json{{"state", "Sleeping"}});
    result = plugin->GetResource("/state", resource);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.message, "Error converting response for GET /state: Sleeping is not a valid "
                              "PluginManagerState enumeration value for 'state'.");
    ExpectReleased(2);
}

TEST_F(Requests, StreamedBodyWaitsOnceWhenAShortReadSaysMoreComes) {
    // 4096 bytes, then 10 with the more-data byte still set, then 0 with it cleared.
    std::string text = "[\"" + std::string(4096 + 10 - 5, 'x') + "\"]";
    ASSERT_EQ(text.size(), 4096u + 9u);
    text += " ";
    host.SetStreamedResource("/big",
                             {{text.substr(0, 4096), true}, {text.substr(4096), true}, {"", false}},
                             static_cast<uint32_t>(text.size()));
    const ResourceResult result = plugin->GetResource("/big");
    ASSERT_FALSE(result.failed) << result.message;
    ASSERT_EQ(result.value.Size(), 1u);
    EXPECT_EQ(result.value.Element(0).GetString().size(), 4101u);
    EXPECT_EQ(host.WaitCalls(),
              (std::vector<std::string>{"BeginWait(Wait: yield, 0)", "Yield", "EndWait"}));
    ExpectReleased(1);

    // Full buffers need no wait; an empty stream is an empty value.
    host.ClearRecords();
    host.SetStreamedResource("/empty", {{"", false}});
    const ResourceResult empty = plugin->GetResource("/empty");
    EXPECT_FALSE(empty.failed);
    EXPECT_TRUE(empty.value.IsEmpty());
    EXPECT_TRUE(host.WaitCalls().empty());
}

TEST_F(Requests, StreamedBodyFailures) {
    // A read that fails ends the read at once.
    host.SetStreamedResource("/broken", {{"[1,", true}, {"2]", false}}, 0, size_t{1});
    ResourceResult result = plugin->GetResource("/broken");
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.message, "Error reading streamed response for GET /broken: Stream read error");
    EXPECT_EQ(host.WaitCalls().size(), 3u); // after the short first read only
    ExpectReleased(1);

    host.SetStreamedResource("/text", {{"{\"a\": tru", false}});
    result = plugin->GetResource("/text");
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.message, "Error reading streamed response for GET /text: Error: Invalid "
                              "value. at offset 9.");
    ExpectReleased(2);
}

TEST_F(Requests, StreamedBodiesInOddPiecesOrBrokenOff) {
    // Every short read that keeps the more-data byte set waits, an empty one too; the read that
    // clears it ends the body.
    host.SetStreamedResource("/slow", {{"[", true}, {"", true}, {"\"s\"", true}, {"]", false}});
    ResourceResult result = plugin->GetResource("/slow");
    ASSERT_FALSE(result.failed) << result.message;
    EXPECT_EQ(result.value.Element(0).GetString(), "s");
    EXPECT_EQ(host.WaitCalls().size(), 9u);

    // A body that breaks off after a full buffer: nothing of it is kept.
    host.ClearRecords();
    const std::string big = "[\"" + std::string(5000, 'y') + "\"]";
    host.SetStreamedResource("/cut", {{big, false}}, static_cast<uint32_t>(big.size()), size_t{1});
    result = plugin->GetResource("/cut");
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.message, "Error reading streamed response for GET /cut: Stream read error");
    EXPECT_TRUE(result.value.IsEmpty());
    EXPECT_TRUE(host.WaitCalls().empty());

    // A body far beyond its size hint arrives whole, in full buffers.
    const std::string huge = "[\"" + std::string(3 * 4096 + 17, 'z') + "\"]";
    host.SetStreamedResource("/huge", {{huge, false}}, 4);
    result = plugin->GetResource("/huge");
    ASSERT_FALSE(result.failed) << result.message;
    EXPECT_EQ(result.value.Element(0).GetString().size(), 3u * 4096u + 17u);
    EXPECT_TRUE(host.WaitCalls().empty());
    ExpectReleased(3);
}

// A host whose read function claims more bytes than the buffer it was offered.
class OverrunningHostPlugin : public TestPlugin {
public:
    void SendRequest(HostResourceResponse* response, const HostResourceRequest*) override {
        response->read = &Read;
        response->release = &Release;
    }
    static bool KORVEL_CDECL Read(void*, void*, uint32_t* length, uint8_t* more) {
        *length += 1;
        *more = 1;
        return true;
    }
    static void KORVEL_CDECL Release(HostResourceResponse*) { ++releases; }
    static inline int releases = 0;
};

TEST(RequestsToAnOddHost, AReadBeyondTheBufferIsAFailedRead) {
    TestHost host;
    OverrunningHostPlugin plugin;
    PluginApiDescriptor descriptor{};
    descriptor.apiMajor = 18;
    plugin.Handshake(&descriptor, "vel-service-status");
    ASSERT_TRUE(plugin.Initialize(host.Context()));
    const ResourceResult result = plugin.GetResource("/x");
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.message, "Error reading streamed response for GET /x: Stream read error");
    EXPECT_EQ(OverrunningHostPlugin::releases, 1);
}

TEST_F(Requests, ExternalRequestCarriesTheUserAgentFirst) {
    host.SetExternalResponse(kUrl, {0, 200, {}, std::string("{}")});
    Fetch();
    ASSERT_EQ(host.ExternalRequests().size(), 1u);
    const ExternalRequest& request = host.ExternalRequests()[0];
    EXPECT_EQ(request.method, 2u);
    EXPECT_EQ(request.url, kUrl);
    EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>>{
                                   {"user-agent", "KorvelClient/18.4.1 (vel-service-status)"}}));
    EXPECT_TRUE(request.body.empty());
    EXPECT_EQ(request.timeLimit, 20u);
    EXPECT_EQ(request.flag, 1u);

    // Only an exact "user-agent" entry replaces the plug-in's own.
    Fetch({{"User-Agent", "Mine/1"}, {"accept", "application/json"}});
    EXPECT_EQ(host.ExternalRequests()[1].headers,
              (std::vector<std::pair<std::string, std::string>>{
                  {"user-agent", "KorvelClient/18.4.1 (vel-service-status)"},
                  {"User-Agent", "Mine/1"},
                  {"accept", "application/json"}}));
    Fetch({{"user-agent", "Mine/2"}});
    EXPECT_EQ(host.ExternalRequests()[2].headers,
              (std::vector<std::pair<std::string, std::string>>{{"user-agent", "Mine/2"}}));
}

TEST_F(Requests, ExternalResponseWithABody) {
    host.SetExternalResponse(kUrl, {0,
                                    203,
                                    {{"content-type", "application/json"}, {"x-a", "1"}},
                                    std::string(R"({"status": "online", "n": -1})")});
    const ExternalResponse response = Fetch();
    EXPECT_EQ(response.code, 0);
    EXPECT_EQ(response.status, 203);
    EXPECT_EQ(response.bodyInvalid, 0);
    EXPECT_EQ(response.reserved, -1);
    EXPECT_TRUE(response.errorText.empty());
    EXPECT_EQ(response.headers, (HeaderTable{{"content-type", "application/json"}, {"x-a", "1"}}));
    EXPECT_EQ(response.body.Member("status").GetString(), "online");
    EXPECT_EQ(response.body.Member("n").GetSigned(), -1);
}

TEST_F(Requests, ExternalResponseFailures) {
    const std::string prefix = std::string("Error converting response for GET ") + kUrl + ": ";

    host.SetExternalResponse(kUrl, {0, 200, {}, std::string()});
    ExternalResponse response = Fetch();
    EXPECT_EQ(response.code, 0);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.bodyInvalid, 1);
    EXPECT_EQ(response.errorText, prefix + "body was empty");

    host.SetExternalResponse(kUrl, {0, 500, {}, std::nullopt});
    response = Fetch();
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.errorText, prefix + "body was empty");

    // A header count without headers: the body is still read and decides bodyInvalid. A valid
    // body leaves the headers' text in place; a body that fails replaces it with its own.
    CannedExternalResponse nullHeaders{0, 200, {{"a", "b"}}, std::string("[1]")};
    nullHeaders.nullHeaders = true;
    host.SetExternalResponse(kUrl, nullHeaders);
    response = Fetch();
    EXPECT_EQ(response.bodyInvalid, 0);
    EXPECT_EQ(response.errorText, prefix + "headers was null");
    EXPECT_TRUE(response.headers.empty());
    EXPECT_EQ(response.body.Size(), 1u);

    nullHeaders.body = std::string();
    host.SetExternalResponse(kUrl, nullHeaders);
    response = Fetch();
    EXPECT_EQ(response.bodyInvalid, 1);
    EXPECT_EQ(response.errorText, prefix + "body was empty");

    nullHeaders.body = std::string("<p>");
    host.SetExternalResponse(kUrl, nullHeaders);
    response = Fetch();
    EXPECT_EQ(response.bodyInvalid, 1);
    EXPECT_EQ(response.errorText, std::string("Error deserializing json response for GET ") + kUrl +
                                      ": Error: Invalid value. at offset 0.");
    EXPECT_EQ(response.body.GetString(), "<p>");

    host.SetExternalResponse(kUrl, {0, 200, {}, std::string("<html>busy</html>")});
    response = Fetch();
    EXPECT_EQ(response.bodyInvalid, 1);
    EXPECT_EQ(response.errorText, std::string("Error deserializing json response for GET ") + kUrl +
                                      ": Error: Invalid value. at offset 0.");
    EXPECT_EQ(response.body.GetString(), "<html>busy</html>");
    EXPECT_TRUE(host.LogLines().empty());
}

TEST_F(Requests, ExternalRequestsOfOtherMethodsAndTimeLimits) {
    // The method, its name in the texts, and the caller's time limit pass as given; the caller's
    // headers follow the user agent in name order.
    host.SetExternalResponse(kUrl, {0, 404, {}, std::string()});
    ExternalResponse response =
        plugin->SendExternal(HttpMethod::Post, kUrl, {{"b", "2"}, {"a", "1"}}, 0);
    ASSERT_EQ(host.ExternalRequests().size(), 1u);
    EXPECT_EQ(host.ExternalRequests()[0].method, 6u);
    EXPECT_EQ(host.ExternalRequests()[0].timeLimit, 0u);
    EXPECT_EQ(host.ExternalRequests()[0].flag, 1u);
    EXPECT_EQ(
        host.ExternalRequests()[0].headers,
        (std::vector<std::pair<std::string, std::string>>{
            {"user-agent", "KorvelClient/18.4.1 (vel-service-status)"}, {"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(response.code, 0);
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.bodyInvalid, 1);
    EXPECT_EQ(response.errorText,
              std::string("Error converting response for POST ") + kUrl + ": body was empty");

    // An error status with a JSON body is still a response with a valid body: telling it from a
    // success is the caller's business.
    host.SetExternalResponse(kUrl, {0, 503, {{"retry-after", "5"}}, std::string("{\"e\":1}")});
    response = plugin->SendExternal(HttpMethod::Put, kUrl, {}, 4000000000u);
    EXPECT_EQ(host.ExternalRequests()[1].timeLimit, 4000000000u);
    EXPECT_EQ(response.code, 0);
    EXPECT_EQ(response.status, 503);
    EXPECT_EQ(response.bodyInvalid, 0);
    EXPECT_TRUE(response.errorText.empty());
    EXPECT_EQ(response.headers, (HeaderTable{{"retry-after", "5"}}));

    // A transport failure with no body leaves an empty text.
    host.SetExternalResponse(kUrl, {2, 0, {}, std::nullopt});
    response = plugin->SendExternal(HttpMethod::Delete, kUrl, {}, 20);
    EXPECT_EQ(response.code, 2);
    EXPECT_TRUE(response.errorText.empty());
    EXPECT_EQ(response.bodyInvalid, -1);
}

TEST_F(Requests, TransportCodesWithoutAResponse) {
    struct Case {
        uint32_t transport;
        int32_t code;
    };
    for (const Case c : {Case{2, 2}, Case{0xFFFFFFFFu, -1}, Case{1, 1}, Case{7, 1}}) {
        SCOPED_TRACE(c.transport);
        host.SetExternalResponse(kUrl, {c.transport, 200, {{"a", "b"}}, std::string("timed out")});
        const ExternalResponse response = Fetch();
        EXPECT_EQ(response.code, c.code);
        EXPECT_EQ(response.errorText, "timed out");
        EXPECT_EQ(response.status, 0);
        EXPECT_EQ(response.bodyInvalid, -1);
        EXPECT_EQ(response.reserved, -1);
        EXPECT_TRUE(response.headers.empty());
        EXPECT_TRUE(response.body.IsEmpty());
    }
    // An unknown address: the test host answers transport code 1 and nothing else.
    const ExternalResponse response =
        plugin->SendExternal(HttpMethod::Get, "https://nowhere.example/", {}, 20);
    EXPECT_EQ(response.code, 1);
    EXPECT_TRUE(response.errorText.empty());
}

} // namespace
} // namespace Korvel::Testing
