#include <cstdint>
#include <type_traits>

#include <gtest/gtest.h>

#include "remoting/remoting_request.h"

namespace Korvel {
namespace {

TEST(RemotingRequest, BothRecordTypesHaveTheirOwnIdentity) {
    // The dispatcher fills one record and hands it to functions asking for either type.
    static_assert(std::is_base_of_v<RemotingRequest, HttpBaseTransport::Request>);
    static_assert(sizeof(HttpBaseTransport::Request) == sizeof(RemotingRequest));
    EXPECT_EQ(StaticType::HashCodeSignature<RemotingRequest>(),
              "unsigned int __cdecl StaticType::HashCode<struct Korvel::RemotingRequest>(void)");
    EXPECT_EQ(StaticType::HashCodeSignature<HttpBaseTransport::Request>(),
              "unsigned int __cdecl StaticType::HashCode<struct "
              "Korvel::HttpBaseTransport::Request>(void)");
    EXPECT_NE(StaticType::HashCode<RemotingRequest>(),
              StaticType::HashCode<HttpBaseTransport::Request>());
}

TEST(RemotingRequest, LaterHeaderReplacesEarlierAndArgumentsAreOwned) {
    HttpBaseTransport::Request request;
    request.SetHeader("accept", "text/plain");
    request.SetHeader("Accept", "application/json");
    request.SetHeader("accept", "application/x-yaml");
    EXPECT_EQ(request.headers.size(), 2u);
    EXPECT_EQ(request.headers.at("accept"), "application/x-yaml");
    EXPECT_EQ(request.headers.at("Accept"), "application/json");

    request.arguments.emplace_back("first");
    request.arguments.emplace_back(std::int32_t{2});
    RemotingRequest& asRemoting = request;
    const RemotingRequest copy = asRemoting;
    request.arguments.clear();
    ASSERT_EQ(copy.arguments.size(), 2u);
    EXPECT_EQ(copy.arguments[0], BindingProperty("first"));
    EXPECT_EQ(copy.arguments[1], BindingProperty(std::int32_t{2}));
    EXPECT_EQ(copy.headers.at("accept"), "application/x-yaml");
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
