// The test host itself, driven through its host function table the way a
// plug-in calls it, so that later tests can rely on what it serves.

#include "plugin/monotonic_clock.h"
#include "support/test_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace Korvel::Testing {
namespace {

std::vector<std::string> fired;

// The fields of a response record, copied out: the record is packed, and the
// test macros bind their arguments to references, which a misaligned field
// cannot give.
struct ResponseFields {
    const char* error;
    int32_t errorCode;
    HostReadFunction read;
    uint32_t sizeHint;
    void* readContext;
    HostReleaseFunction release;
};

ResponseFields Fields(const HostResourceResponse& response) {
    return ResponseFields{response.error,    response.errorCode,   response.read,
                          response.sizeHint, response.readContext, response.release};
}

void KORVEL_CDECL RecordTimer(void* userData) {
    fired.push_back(static_cast<const char*>(userData));
}

TEST(TestHostTimers, RunInDueOrderThenInOrderSet) {
    TestHost host;
    const HostFunctionTable* table = host.Functions();
    fired.clear();
    static const char kA[] = "a", kB[] = "b", kC[] = "c", kD[] = "d";
    table->setTimer(table, "a", &RecordTimer, const_cast<char*>(kA), 2.0, 0);
    table->setTimer(table, "b", &RecordTimer, const_cast<char*>(kB), 1.0, 0);
    table->setTimer(table, "c", &RecordTimer, const_cast<char*>(kC), 2.0, 0);
    table->setTimer(table, "d", &RecordTimer, const_cast<char*>(kD), 3.0, 0);
    host.AdvanceTime(std::chrono::seconds(2));
    EXPECT_EQ(fired, (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(host.Now(), 2000000000);
    EXPECT_EQ(host.PendingTimerCount(), 1u);
    EXPECT_EQ(host.RunAllTimers(), 1u);
    EXPECT_EQ(host.Now(), 3000000000);
    EXPECT_EQ(host.TimerCalls().size(), 4u);
    EXPECT_EQ(host.TimerCalls()[1].label, "b");
}

TEST(TestHostDataStore, ValuesErrorsAndUnknownPaths) {
    TestHost host;
    const HostFunctionTable* table = host.Functions();
    host.SetResource("/a", Json::parse(R"({"b": 1, "a": "x", "u": 18446744073709551615})"));
    host.SetResourceError("/e", 503, "busy");

    HostResourceRequest request{};
    request.method = 2;
    request.path = "/a";
    request.pluginId = 4;
    HostResourceResponse response{};
    table->sendRequest(table, &response, &request);
    EXPECT_EQ(Fields(response).error, nullptr);
    EXPECT_EQ(ReadHostValue(response.body).dump(), R"({"b":1,"a":"x","u":18446744073709551615})");
    EXPECT_EQ(ReadHostValueKinds(response.body), (Json{{"$", 10}, {"b", 2}, {"a", 5}, {"u", 3}}));
    ASSERT_NE(Fields(response).release, nullptr);
    EXPECT_EQ(host.UnreleasedResponseCount(), 1u);
    Fields(response).release(&response);
    EXPECT_EQ(host.ReleasedResponseCount(), 1u);
    EXPECT_EQ(host.UnreleasedResponseCount(), 0u);

    std::memset(&response, 0, sizeof(response));
    request.path = "/e";
    table->sendRequest(table, &response, &request);
    ASSERT_NE(Fields(response).error, nullptr);
    EXPECT_STREQ(Fields(response).error, "busy");
    EXPECT_EQ(Fields(response).errorCode, 503);

    std::memset(&response, 0, sizeof(response));
    request.path = "/missing";
    table->sendRequest(table, &response, &request);
    EXPECT_STREQ(Fields(response).error, "Not found");
    EXPECT_EQ(Fields(response).errorCode, 404);

    ASSERT_EQ(host.Requests().size(), 3u);
    EXPECT_EQ(host.Requests()[0].path, "/a");
    EXPECT_EQ(host.Requests()[0].method, 2u);
    EXPECT_EQ(host.Requests()[0].pluginId, 4u);
    EXPECT_TRUE(host.Requests()[0].reservedBytesZero);
}

TEST(TestHostDataStore, StreamsChunksSplitToTheBufferAndCanFail) {
    TestHost host;
    const HostFunctionTable* table = host.Functions();
    host.SetStreamedResource("/s", {{"abcdef", true}, {"", true}, {"gh", false}}, 8);
    host.SetStreamedResource("/broken", {{"ab", true}}, 0, 1);

    HostResourceRequest request{};
    request.path = "/s";
    HostResourceResponse response{};
    table->sendRequest(table, &response, &request);
    ASSERT_NE(Fields(response).read, nullptr);
    EXPECT_EQ(Fields(response).sizeHint, 8u);

    struct Read {
        std::string bytes;
        uint8_t more;
    };
    std::vector<Read> reads;
    char buffer[4];
    uint8_t more = 1;
    while (more != 0 && reads.size() < 10) {
        uint32_t length = sizeof(buffer);
        ASSERT_TRUE(Fields(response).read(Fields(response).readContext, buffer, &length, &more));
        reads.push_back(Read{std::string(buffer, length), more});
    }
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[0].bytes, "abcd");
    EXPECT_EQ(reads[1].bytes, "ef");
    EXPECT_EQ(reads[2].bytes, "");
    EXPECT_EQ(reads[2].more, 1);
    EXPECT_EQ(reads[3].bytes, "gh");
    EXPECT_EQ(reads[3].more, 0);
    Fields(response).release(&response);

    std::memset(&response, 0, sizeof(response));
    request.path = "/broken";
    table->sendRequest(table, &response, &request);
    uint32_t length = sizeof(buffer);
    EXPECT_TRUE(Fields(response).read(Fields(response).readContext, buffer, &length, &more));
    length = sizeof(buffer);
    EXPECT_FALSE(Fields(response).read(Fields(response).readContext, buffer, &length, &more));
}

TEST(TestHostExternal, AnswersCannedResponsesAndRecordsRequests) {
    TestHost host;
    const HostFunctionTable* table = host.Functions();
    CannedExternalResponse canned;
    canned.status = 200;
    canned.headers = {{"content-type", "application/json"}};
    canned.body = R"({"ok":true})";
    host.SetExternalResponse("https://status.example/api", canned);

    const HostHeaderEntry headers[] = {{"user-agent", "KorvelClient/18.0.0 (x)"}};
    ExternalRequestRecord request{2, "https://status.example/api", headers, 1, nullptr, 0, 20, 1};
    ExternalResponseRecord response{};
    table->sendExternalRequest(table, &response, &request);
    EXPECT_EQ(response.transportCode, 0u);
    EXPECT_EQ(response.status, 200u);
    ASSERT_EQ(response.headerCount, 1u);
    EXPECT_STREQ(response.headers[0].value, "application/json");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(response.body), response.bodyLength),
              R"({"ok":true})");

    ExternalResponseRecord unknown{};
    request.url = "https://elsewhere.example/";
    table->sendExternalRequest(table, &unknown, &request);
    EXPECT_EQ(unknown.transportCode, 1u);
    EXPECT_EQ(unknown.body, nullptr);

    ASSERT_EQ(host.ExternalRequests().size(), 2u);
    EXPECT_EQ(host.ExternalRequests()[0].headers, (std::vector<std::pair<std::string, std::string>>{
                                                      {"user-agent", "KorvelClient/18.0.0 (x)"}}));
    EXPECT_EQ(host.ExternalRequests()[0].timeLimit, 20u);
    EXPECT_EQ(host.ExternalRequests()[0].flag, 1u);
}

TEST(TestHostEvents, RecordsFiredEventsWithTheirPayload) {
    TestHost host;
    const HostFunctionTable* table = host.Functions();
    HostValueArena arena;
    HostEventRecord event{};
    event.name = "OnJsonApiEvent";
    event.payload = arena.Structure(
        {{"uri", arena.Text("/x")}, {"data", arena.Collection({arena.Signed(-1), arena.Raw(12)})}});
    table->fireEvent(table, &event);
    ASSERT_EQ(host.Events().size(), 1u);
    EXPECT_EQ(host.Events()[0].name, "OnJsonApiEvent");
    EXPECT_EQ(host.Events()[0].payload.dump(), R"({"uri":"/x","data":[-1,{"$kind":12}]})");

    table->beginWait(table, "Wait: yield", 0);
    table->yield(table);
    table->endWait(table);
    EXPECT_EQ(host.WaitCalls(),
              (std::vector<std::string>{"BeginWait(Wait: yield, 0)", "Yield", "EndWait"}));
}

TEST(MonotonicClock, ConvertsSecondsAndRemainderSeparately) {
    // A year at 10 MHz: counter * 1e9 would not fit in 64 bits.
    const uint64_t frequency = 10000000;
    const uint64_t counter = 31536000ull * frequency + 1234567;
    EXPECT_EQ(CounterToNanoseconds(counter, frequency), 31536000123456700);
    EXPECT_EQ(CounterToNanoseconds(3, 3), 1000000000);
    EXPECT_EQ(CounterToNanoseconds(1, 3), 333333333);
    EXPECT_EQ(CounterToNanoseconds(5, 0), 0);
    const int64_t first = MonotonicNanoseconds();
    EXPECT_GE(MonotonicNanoseconds(), first);
}

} // namespace
} // namespace Korvel::Testing
