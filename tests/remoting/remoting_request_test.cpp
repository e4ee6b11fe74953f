#include <cstdint>

#include <gtest/gtest.h>

#include "remoting/remoting_request.h"

namespace Korvel {
namespace {

TEST(RemotingRequest, LaterHeaderReplacesEarlier) {
    HttpBaseTransport::Request request;
    request.SetHeader("accept", "text/plain");
    request.SetHeader("Accept", "application/json");
    request.SetHeader("accept", "application/x-yaml");
    EXPECT_EQ(request.headers.size(), 2u);
    EXPECT_EQ(request.headers.at("accept"), "application/x-yaml");
    EXPECT_EQ(request.headers.at("Accept"), "application/json");

    // The transport's record is usable wherever the remoting record is asked for.
    RemotingRequest& asRemoting = request;
    EXPECT_EQ(&asRemoting.headers, &request.headers);
}

TEST(RemotingRequest, ArrivalTicksCountHundredNanosecondsSince1970) {
    // 2020-01-01T00:00:00Z and 2200-01-01T00:00:00Z in 100-nanosecond units.
    constexpr std::int64_t year2020 = 1577836800LL * 10'000'000;
    constexpr std::int64_t year2200 = 7258118400LL * 10'000'000;
    const std::int64_t first = RequestArrivalTicks();
    const std::int64_t second = RequestArrivalTicks();
    EXPECT_GT(first, year2020);
    EXPECT_LT(first, year2200);
    EXPECT_GE(second, first);
}

} // namespace
} // namespace Korvel
