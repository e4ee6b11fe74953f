#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "remoting/function_name.h"
#include "remoting/http_method.h"

namespace Korvel {
namespace {

TEST(HttpMethod, NamesCoverTheTableAndNothingElse) {
    EXPECT_EQ(HttpMethodName(HttpMethod::Delete), "DELETE");
    EXPECT_EQ(HttpMethodName(HttpMethod::Get), "GET");
    EXPECT_EQ(HttpMethodName(HttpMethod::Head), "HEAD");
    EXPECT_EQ(HttpMethodName(HttpMethod::Options), "OPTIONS");
    EXPECT_EQ(HttpMethodName(HttpMethod::Patch), "PATCH");
    EXPECT_EQ(HttpMethodName(HttpMethod::Post), "POST");
    EXPECT_EQ(HttpMethodName(HttpMethod::Put), "PUT");
    EXPECT_EQ(HttpMethodName(HttpMethod::None), "");
    EXPECT_EQ(HttpMethodName(HttpMethod::Custom), "");
    EXPECT_EQ(HttpMethodName(static_cast<HttpMethod>(9)), "");
    EXPECT_EQ(HttpMethodName(static_cast<HttpMethod>(-1)), "");
}

TEST(HttpMethod, HostCodesOutsideOneToEightBecomeNone) {
    for (std::int32_t code = 1; code <= 8; ++code) {
        EXPECT_EQ(static_cast<std::int32_t>(HttpMethodFromHost(code)), code);
    }
    for (std::int32_t code : {0, 9, -1, 100, INT_MIN, INT_MAX}) {
        EXPECT_EQ(HttpMethodFromHost(code), HttpMethod::None) << code;
    }
}

TEST(FunctionName, DerivedFromMethodAndPath) {
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Get, "/vel-service-status/v1/ticker-messages"),
              "GetVelServiceStatusV1TickerMessages");
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Get, "/vel-service-status/v1/zum-status"),
              "GetVelServiceStatusV1ZumStatus");
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Get, "/items/{id}"), "GetItemsById");
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Post, "/files/{+rest}"), "PostFilesByRest");
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Options, "/a_b.c!d+e"), "OptionsABCDE");
    // "}" is dropped without capitalising what follows.
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Delete, "/a/{id}x"), "DeleteAByIdx");
    // Characters outside the separator set are kept as they are.
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Put, "/V2/9lives/caMel"), "PutV29livesCaMel");
}

TEST(FunctionName, MethodsWithoutNameContributeNothing) {
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::None, "/status/now"), "StatusNow");
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Custom, "/status"), "Status");
    EXPECT_EQ(FunctionNameFromPath(HttpMethod::Get, ""), "Get");
}

TEST(FunctionName, LongPathIsNotCut) {
    const std::string path = "/" + std::string(5000, 'a');
    const std::string name = FunctionNameFromPath(HttpMethod::Get, path);
    EXPECT_EQ(name, "GetA" + std::string(4999, 'a'));
}

} // namespace
} // namespace Korvel
