#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "remoting/function_route.h"
#include "remoting/route_template.h"

namespace Korvel {
namespace {

using Op = PlaceholderOperator;

TEST(RouteTemplate, TranslatesEachPlaceholderOperator) {
    RouteTemplate simple = TranslateRouteTemplate("/a/{x}");
    ASSERT_TRUE(simple.Ok()) << simple.error;
    EXPECT_EQ(simple.expression, "/a/([^/]*)");
    EXPECT_EQ(simple.placeholders, (std::vector<RoutePlaceholder>{{Op::Simple, "x"}}));
    EXPECT_EQ(simple.literals, (std::vector<std::string>{"/a/", ""}));

    RouteTemplate reserved = TranslateRouteTemplate("/files/{+rest}");
    ASSERT_TRUE(reserved.Ok());
    EXPECT_EQ(reserved.expression, "/files/(.*)");
    EXPECT_EQ(reserved.placeholders, (std::vector<RoutePlaceholder>{{Op::Reserved, "rest"}}));

    RouteTemplate fragment = TranslateRouteTemplate("/doc{#frag}");
    ASSERT_TRUE(fragment.Ok());
    EXPECT_EQ(fragment.expression, "/doc#(.*)");
    EXPECT_EQ(fragment.placeholders, (std::vector<RoutePlaceholder>{{Op::Fragment, "frag"}}));
    EXPECT_EQ(fragment.literals, (std::vector<std::string>{"/doc#", ""}));
}

TEST(RouteTemplate, OperatorOnlyCountsAsFirstCharacter) {
    RouteTemplate t = TranslateRouteTemplate("{a+b#c}{++x}{#+y}{##z}{}");
    ASSERT_TRUE(t.Ok()) << t.error;
    EXPECT_EQ(t.placeholders, (std::vector<RoutePlaceholder>{{Op::Simple, "a+b#c"},
                                                             {Op::Reserved, "+x"},
                                                             {Op::Fragment, "+y"},
                                                             {Op::Fragment, "#z"},
                                                             {Op::Simple, ""}}));
    EXPECT_EQ(t.expression, "([^/]*)(.*)#(.*)#(.*)([^/]*)");
    EXPECT_EQ(t.literals, (std::vector<std::string>{"", "", "#", "#", "", ""}));
}

TEST(RouteTemplate, EscapesRegexMetacharactersInLiteralParts) {
    RouteTemplate t = TranslateRouteTemplate("/v1.0/^$.*+?()[]|\\-,/{x}.json");
    ASSERT_TRUE(t.Ok()) << t.error;
    EXPECT_EQ(t.expression, "/v1\\.0/\\^\\$\\.\\*\\+\\?\\(\\)\\[\\]\\|\\\\-,/([^/]*)\\.json");
    EXPECT_EQ(t.literals, (std::vector<std::string>{"/v1.0/^$.*+?()[]|\\-,/", ".json"}));
}

TEST(RouteTemplate, MalformedPatternsAreRefusedWithAMessage) {
    EXPECT_EQ(TranslateRouteTemplate("/a}/{x}").error,
              "Route '/a}/{x}' has a '}' outside a placeholder at offset 2.");
    EXPECT_EQ(TranslateRouteTemplate("/a/{x{y}}").error,
              "Route '/a/{x{y}}' has a '{' inside a placeholder at offset 5.");
    EXPECT_EQ(TranslateRouteTemplate("/a/{x}/{y").error,
              "Route '/a/{x}/{y' has a placeholder that is not closed at offset 7.");
    EXPECT_EQ(TranslateRouteTemplate("/a/{x}}").error,
              "Route '/a/{x}}' has a '}' outside a placeholder at offset 6.");

    // Literal patterns are checked for a stray "}" too.
    EXPECT_EQ(CheckRoutePattern("/a/b}"),
              "Route '/a/b}' has a '}' outside a placeholder at offset 4.");
    EXPECT_EQ(CheckRoutePattern("/a/b"), "");
    EXPECT_EQ(CheckRoutePattern("/a/{b}"), "");
}

TEST(RouteTemplate, OverlongTemplateIsRefused) {
    const std::string atLimit = "/{x}" + std::string(kMaxRouteTemplateLength - 4, 'a');
    EXPECT_TRUE(TranslateRouteTemplate(atLimit).Ok());
    const std::string tooLong = atLimit + "a";
    const std::string error = TranslateRouteTemplate(tooLong).error;
    EXPECT_NE(error.find("is longer than 1024 characters"), std::string::npos) << error;
}

TEST(FunctionRoute, SetPathDropsOneTrailingSlash) {
    FunctionRoute route;
    EXPECT_FALSE(route.SetPath("/a/b/").failed);
    EXPECT_EQ(route.path, "/a/b");
    EXPECT_FALSE(route.SetPath("/").failed);
    EXPECT_EQ(route.path, "/");
    EXPECT_FALSE(route.SetPath("/a/b//").failed);
    EXPECT_EQ(route.path, "/a/b/");
    EXPECT_FALSE(route.SetPath("/items/{id}/").failed);
    EXPECT_EQ(route.path, "/items/{id}");
    EXPECT_FALSE(route.SetPath("").failed);
    EXPECT_EQ(route.path, "");
}

TEST(FunctionRoute, MalformedPathIsRefusedAndLeavesTheRouteUnchanged) {
    FunctionRoute route;
    ASSERT_FALSE(route.SetPath("/items/{id}").failed);

    RouteRegistration refused = route.SetPath("/items/{id");
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(refused.message,
              "Route '/items/{id' has a placeholder that is not closed at offset 7.");
    EXPECT_EQ(route.path, "/items/{id}");

    // The trailing "/" is removed before checking, so the message names the stored form.
    refused = route.SetPath("/items}/");
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(refused.message, "Route '/items}' has a '}' outside a placeholder at offset 6.");
    EXPECT_EQ(route.path, "/items/{id}");
}

TEST(FunctionRoute, MethodSetters) {
    FunctionRoute route;
    route.SetCustomMethod("PURGE");
    EXPECT_EQ(route.method, HttpMethod::Custom);
    EXPECT_EQ(route.methodText, "PURGE");
    route.SetMethod(HttpMethod::Get);
    EXPECT_EQ(route.method, HttpMethod::Get);
    EXPECT_EQ(route.methodText, "");
}

TEST(FunctionRoute, PatternFallsBackToTheFunctionName) {
    FunctionRoute route;
    EXPECT_EQ(route.Pattern("GetThing"), "GetThing");
    ASSERT_FALSE(route.SetPath("/thing").failed);
    EXPECT_EQ(route.Pattern("GetThing"), "/thing");
}

} // namespace
} // namespace Korvel
