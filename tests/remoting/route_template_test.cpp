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
    EXPECT_EQ(TranslateRouteTemplate("/a/{x}}").error,
              "Route '/a/{x}}' has a '}' outside a placeholder at offset 6.");

    // Literal patterns are checked for a stray "}" too.
    EXPECT_EQ(CheckRoutePattern("/a/b}"),
              "Route '/a/b}' has a '}' outside a placeholder at offset 4.");
    EXPECT_EQ(CheckRoutePattern("/a/b"), "");
    EXPECT_EQ(CheckRoutePattern("/a/{b}"), "");
}

TEST(RouteTemplate, UnterminatedPlaceholderAtTheEndAddsNothing) {
    RouteTemplate t = TranslateRouteTemplate("/a/{x}/{y");
    ASSERT_TRUE(t.Ok()) << t.error;
    EXPECT_EQ(t.expression, "/a/([^/]*)/");
    EXPECT_EQ(t.placeholders, (std::vector<RoutePlaceholder>{{Op::Simple, "x"}}));
    EXPECT_EQ(t.literals, (std::vector<std::string>{"/a/", "/"}));

    RouteTemplate bare = TranslateRouteTemplate("/v1.0/{+rest");
    ASSERT_TRUE(bare.Ok()) << bare.error;
    EXPECT_EQ(bare.expression, "/v1\\.0/");
    EXPECT_TRUE(bare.placeholders.empty());
    EXPECT_EQ(CheckRoutePattern("/items/{id"), "");
}

TEST(RouteTemplate, OverlongTemplateIsRefused) {
    const std::string atLimit = "/{x}" + std::string(kMaxRouteTemplateLength - 4, 'a');
    EXPECT_TRUE(TranslateRouteTemplate(atLimit).Ok());
    const std::string tooLong = atLimit + "a";
    const std::string error = TranslateRouteTemplate(tooLong).error;
    EXPECT_NE(error.find("is longer than 1024 characters"), std::string::npos) << error;
}

TEST(FunctionRoute, SetPathDropsOneTrailingSlash) {
    BindingFunctionDescriptor function;
    const auto stored = [&](std::string_view path) {
        EXPECT_FALSE(SetRoutePath(function, path).failed) << path;
        return function.path;
    };
    EXPECT_EQ(stored("/a/b/"), "/a/b");
    EXPECT_EQ(stored("/"), "/");
    EXPECT_EQ(stored("/a/b//"), "/a/b/");
    EXPECT_EQ(stored("/items/{id}/"), "/items/{id}");
    EXPECT_EQ(stored("a/"), "a");
    EXPECT_EQ(stored(""), "");
}

TEST(FunctionRoute, MalformedPathIsRefusedAndLeavesTheRouteUnchanged) {
    BindingFunctionDescriptor function;
    ASSERT_FALSE(SetRoutePath(function, "/items/{id}").failed);

    // The trailing "/" is removed before checking, so the message names the stored form.
    OperationResult refused = SetRoutePath(function, "/items}/");
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(refused.code, 400);
    EXPECT_EQ(refused.ToString(),
              "Route '/items}' has a '}' outside a placeholder at offset 6. (400)");
    EXPECT_EQ(function.path, "/items/{id}");

    refused = SetRoutePath(function, "/{a{b}}");
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(function.path, "/items/{id}");
}

TEST(FunctionRoute, MethodSetters) {
    BindingFunctionDescriptor function;
    SetRouteCustomMethod(function, "PURGE");
    EXPECT_EQ(function.method, 8u);
    EXPECT_EQ(RouteMethod(function), HttpMethod::Custom);
    EXPECT_EQ(function.methodText, "PURGE");
    SetRouteMethod(function, HttpMethod::Get);
    EXPECT_EQ(function.method, 2u);
    EXPECT_EQ(function.methodText, "");
}

TEST(FunctionRoute, PatternFallsBackToTheFunctionName) {
    BindingFunctionDescriptor function;
    function.name = "GetThing";
    EXPECT_EQ(RoutePattern(function), "GetThing");
    ASSERT_FALSE(SetRoutePath(function, "/thing").failed);
    EXPECT_EQ(RoutePattern(function), "/thing");
}

} // namespace
} // namespace Korvel
