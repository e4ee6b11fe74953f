#include <chrono>
#include <deque>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "remoting/function_route.h"
#include "remoting/route_match.h"
#include "remoting/template_matcher.h"

namespace Korvel {
namespace {

using Captures = std::unordered_map<std::string, std::string>;

struct RouteCase {
    RouteCase(std::string p, HttpMethod m = HttpMethod::None, std::string text = "")
        : path(std::move(p)), method(m), methodText(std::move(text)) {}

    std::string path;
    HttpMethod method;
    std::string methodText;
};

// Functions registered with the given routes, and their routes in the same order.
class RouteTable {
public:
    RouteTable(std::initializer_list<RouteCase> cases) {
        for (const RouteCase& route : cases) {
            BindingFunctionDescriptor& function = functions_.emplace_back();
            function.name = "Function" + std::to_string(functions_.size());
            const OperationResult registered = SetRoutePath(function, route.path);
            EXPECT_FALSE(registered.failed) << registered.ToString();
            if (route.method == HttpMethod::Custom) {
                SetRouteCustomMethod(function, route.methodText);
            } else {
                SetRouteMethod(function, route.method);
            }
        }
        for (const BindingFunctionDescriptor& function : functions_) {
            routes_.push_back(BuildRoute(function));
        }
    }

    const std::vector<RemotingRoute>& routes() const { return routes_; }
    const BindingFunctionDescriptor& function(std::size_t i) const { return functions_[i]; }

    // Matches and checks that the reported function is the one of the reported route.
    bool Match(RouteMatch& match) const {
        const bool matched = MatchRoutes(match, routes_);
        if (matched) {
            EXPECT_EQ(match.function, &functions_[*match.routeIndex]);
        } else {
            EXPECT_EQ(match.function, nullptr);
        }
        return matched;
    }

private:
    std::deque<BindingFunctionDescriptor> functions_;
    std::vector<RemotingRoute> routes_;
};

RouteMatch Request(std::string path, HttpMethod method = HttpMethod::Get,
                   std::string methodText = "") {
    RouteMatch match;
    match.method = method;
    match.methodText = std::move(methodText);
    match.path = std::move(path);
    return match;
}

// Matches `path` against a single route; fills `captures` when given.
bool MatchOne(const RouteCase& route, const std::string& path, Captures* captures = nullptr) {
    const RouteTable table{route};
    RouteMatch match = Request(path);
    const bool matched = table.Match(match);
    if (captures != nullptr) {
        *captures = match.captures;
    }
    return matched;
}

TEST(RouteMatch, PlaceholderOperators) {
    Captures captures;
    EXPECT_TRUE(MatchOne({"/a/{x}"}, "/a/b%20c", &captures));
    EXPECT_EQ(captures, (Captures{{"x", "b c"}}));
    EXPECT_FALSE(MatchOne({"/a/{x}"}, "/a/b/c"));
    EXPECT_TRUE(MatchOne({"/a/{x}"}, "/a/", &captures));
    EXPECT_EQ(captures, (Captures{{"x", ""}}));

    EXPECT_TRUE(MatchOne({"/files/{+rest}"}, "/files/a/b/c", &captures));
    EXPECT_EQ(captures, (Captures{{"rest", "a/b/c"}}));

    EXPECT_TRUE(MatchOne({"/doc{#frag}"}, "/doc#top", &captures));
    EXPECT_EQ(captures, (Captures{{"frag", "top"}}));
    EXPECT_FALSE(MatchOne({"/doc{#frag}"}, "/doctop"));

    EXPECT_TRUE(MatchOne({"/q/{x}"}, "/q/a+b%2Fc", &captures));
    EXPECT_EQ(captures, (Captures{{"x", "a b/c"}}));
}

TEST(RouteMatch, LiteralPartsOfTemplatesMatchExactly) {
    EXPECT_TRUE(MatchOne({"/v1.0/{x}"}, "/v1.0/a"));
    EXPECT_FALSE(MatchOne({"/v1.0/{x}"}, "/v1a0/a"));
    EXPECT_TRUE(MatchOne({"/(a)/{x}.json"}, "/(a)/b.json"));
    EXPECT_FALSE(MatchOne({"/(a)/{x}.json"}, "/a/b.json"));
    EXPECT_FALSE(MatchOne({"/(a)/{x}.json"}, "/(a)/b.jsonx"));
    // The whole path must match, not a part of it.
    EXPECT_FALSE(MatchOne({"/a/{x}"}, "/z/a/b"));
    EXPECT_FALSE(MatchOne({"/a/{x}"}, "/A/b"));
}

TEST(RouteMatch, LiteralPiecesBetweenPlaceholders) {
    Captures captures;
    EXPECT_TRUE(MatchOne({"/{a}-{b}-{c}"}, "/x-y-z", &captures));
    EXPECT_EQ(captures, (Captures{{"a", "x"}, {"b", "y"}, {"c", "z"}}));
    EXPECT_TRUE(MatchOne({"/{a}-{b}-{c}"}, "/x--", &captures));
    EXPECT_EQ(captures, (Captures{{"a", "x"}, {"b", ""}, {"c", ""}}));
    EXPECT_FALSE(MatchOne({"/{a}-{b}-{c}"}, "/x-y"));
    // Pieces may overlap in the path the way the expression allows.
    EXPECT_TRUE(MatchOne({"/{a}aa{b}"}, "/aaa", &captures));
    EXPECT_EQ(captures, (Captures{{"a", "a"}, {"b", ""}}));
    EXPECT_FALSE(MatchOne({"ab{x}ba"}, "aba"));
    EXPECT_TRUE(MatchOne({"ab{x}ba"}, "abba", &captures));
    EXPECT_EQ(captures, (Captures{{"x", ""}}));
    EXPECT_TRUE(MatchOne({"/{a}/{#f}"}, "/p/#q", &captures));
    EXPECT_EQ(captures, (Captures{{"a", "p"}, {"f", "q"}}));
    EXPECT_FALSE(MatchOne({"/{a}/{#f}"}, "/p/q"));
}

TEST(RouteMatch, CompetingPlaceholdersDoNotBacktrack) {
    // Placeholders that compete for the same characters: a backtracking expression matcher would
    // try every split of the path between them before failing, which for paths of some hundred
    // bytes does not end in any useful time.
    constexpr std::size_t kLength = 1024;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/{+a}/{+b}/{+c}-{d}.json", std::string(kLength - 6, '/') + "a.json"},
        {"/{a}{b}{c}{d}{e}{f}{g}{h}", "/" + std::string(kLength - 3, 'x') + "/x"},
        {"/{+a}/{+b}/{+c}/{+d}/{+e}", "/" + std::string(kLength - 3, '/') + "\n"},
        {"{a}-{b}-{c}-{d}-{e}.x", std::string(kLength - 3, '-') + "/.x"},
    };
    for (const auto& [pattern, path] : cases) {
        const RouteTable routes{{pattern}};
        RouteMatch match = Request(path);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(routes.Match(match)) << pattern;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << pattern;
    }
    // The same shapes still match a path that fits, with the captures an expression gives.
    Captures captures;
    EXPECT_TRUE(MatchOne({"/{+a}/{+b}/{+c}"}, "/1/2/3/4/5", &captures));
    EXPECT_EQ(captures, (Captures{{"a", "1/2/3"}, {"b", "4"}, {"c", "5"}}));
    EXPECT_TRUE(MatchOne({"/{a}{b}{c}"}, "/xyz", &captures));
    EXPECT_EQ(captures, (Captures{{"a", "xyz"}, {"b", ""}, {"c", ""}}));
}

TEST(RouteMatch, TemplatesTakeTheWholePathIncludingAQueryPart) {
    Captures captures;
    EXPECT_TRUE(MatchOne({"/items/{id}"}, "/items/5?verbose", &captures));
    EXPECT_EQ(captures, (Captures{{"id", "5?verbose"}}));
}

TEST(RouteMatch, RepeatedAndUnnamedPlaceholders) {
    Captures captures;
    EXPECT_TRUE(MatchOne({"/{x}/{x}"}, "/1/2", &captures));
    EXPECT_EQ(captures, (Captures{{"x", "2"}}));
    EXPECT_TRUE(MatchOne({"/{}/{name}"}, "/1/2", &captures));
    EXPECT_EQ(captures, (Captures{{"", "1"}, {"name", "2"}}));
}

TEST(RouteMatch, LiteralPathsCompareBytes) {
    EXPECT_TRUE(MatchOne({"/a/b"}, "/a/b"));
    EXPECT_FALSE(MatchOne({"/a/b"}, "/a/b?x=1"));
    EXPECT_FALSE(MatchOne({"/a/b"}, "/a/b/"));
    EXPECT_FALSE(MatchOne({"/a/b"}, "/A/b"));
    EXPECT_FALSE(MatchOne({"/a/b"}, "/a/b%20"));
    EXPECT_FALSE(MatchOne({"/a/b"}, std::string("/a/b\0", 5)));
    // Registered with a trailing "/", reached without it.
    EXPECT_TRUE(MatchOne({"/a/b/"}, "/a/b"));
    EXPECT_TRUE(MatchOne({"/"}, "/"));
}

TEST(RouteMatch, FunctionNameIsThePatternWithoutAPath) {
    BindingFunctionDescriptor function;
    function.name = "GetThing";
    const std::vector<RemotingRoute> routes{BuildRoute(function)};
    RouteMatch byName = Request("GetThing");
    EXPECT_TRUE(MatchRoutes(byName, routes));
    EXPECT_EQ(byName.function, &function);
    RouteMatch byOther = Request("/GetThing");
    EXPECT_FALSE(MatchRoutes(byOther, routes));
}

TEST(RouteMatch, MethodRules) {
    const RouteTable any{{"/r", HttpMethod::None}};
    for (HttpMethod method : {HttpMethod::None, HttpMethod::Get, HttpMethod::Post,
                              HttpMethod::Delete, HttpMethod::Custom}) {
        RouteMatch match = Request("/r", method, method == HttpMethod::Custom ? "PURGE" : "");
        EXPECT_TRUE(any.Match(match)) << static_cast<int>(method);
    }

    const RouteTable post{{"/r", HttpMethod::Post}};
    RouteMatch get = Request("/r", HttpMethod::Get);
    EXPECT_FALSE(post.Match(get));
    RouteMatch none = Request("/r", HttpMethod::None);
    EXPECT_FALSE(post.Match(none));
    RouteMatch postRequest = Request("/r", HttpMethod::Post);
    EXPECT_TRUE(post.Match(postRequest));

    const RouteTable purge{{"/r", HttpMethod::Custom, "PURGE"}};
    RouteMatch same = Request("/r", HttpMethod::Custom, "PURGE");
    EXPECT_TRUE(purge.Match(same));
    RouteMatch otherCase = Request("/r", HttpMethod::Custom, "purge");
    EXPECT_FALSE(purge.Match(otherCase));
    RouteMatch noText = Request("/r", HttpMethod::Custom, "");
    EXPECT_FALSE(purge.Match(noText));
    RouteMatch post2 = Request("/r", HttpMethod::Post);
    EXPECT_FALSE(purge.Match(post2));
}

TEST(RouteMatch, SingleFunctionDispatchRefusesAnotherMethod) {
    BindingFunctionDescriptor function;
    function.name = "PostItemsById";
    ASSERT_FALSE(SetRoutePath(function, "/items/{id}").failed);
    SetRouteMethod(function, HttpMethod::Post);

    RouteMatch get = Request("/items/7", HttpMethod::Get);
    EXPECT_FALSE(MatchFunctionRoute(get, function));
    EXPECT_EQ(get.function, nullptr);
    EXPECT_TRUE(get.captures.empty());
    EXPECT_EQ(kInvalidFunctionMessage, "Invalid function");
    EXPECT_EQ(kInvalidFunctionStatus, 404);

    RouteMatch post = Request("/items/7", HttpMethod::Post);
    EXPECT_TRUE(MatchFunctionRoute(post, function));
    EXPECT_EQ(post.function, &function);
    EXPECT_EQ(post.captures, (Captures{{"id", "7"}}));
}

TEST(RouteMatch, ShortestCapturesWinAndTiesKeepTheEarlierRoute) {
    RouteMatch match = Request("/x/ab/cd");
    const RouteTable routes{{"/x/{+all}"}, {"/x/{id}/{sub}"}};
    ASSERT_TRUE(routes.Match(match));
    EXPECT_EQ(match.routeIndex, 1u);
    EXPECT_EQ(match.captures, (Captures{{"id", "ab"}, {"sub", "cd"}}));

    RouteMatch tie = Request("/x/yz");
    const RouteTable tied{{"/x/{+a}"}, {"/x/{b}"}};
    ASSERT_TRUE(tied.Match(tie));
    EXPECT_EQ(tie.routeIndex, 0u);
    EXPECT_EQ(tie.captures, (Captures{{"a", "yz"}}));

    // Decoded lengths count: "%41%42" is two characters once decoded, "abc" three.
    RouteMatch decoded = Request("/x/abc/%41%42");
    const RouteTable mixed{{"/x/{p}/AB"}, {"/x/abc/{q}"}};
    EXPECT_FALSE(MatchRoutes(decoded, std::span(mixed.routes().data(), 1)));
    ASSERT_TRUE(mixed.Match(decoded));
    EXPECT_EQ(decoded.routeIndex, 1u);
}

TEST(RouteMatch, LiteralMatchEndsTheSearch) {
    RouteMatch match = Request("/x/y");
    const RouteTable routes{{"/x/{id}"}, {"/x/y"}, {"/{+z}"}};
    ASSERT_TRUE(routes.Match(match));
    EXPECT_EQ(match.routeIndex, 1u);
    EXPECT_TRUE(match.captures.empty());
}

TEST(RouteMatch, CapturesOfRoutesThatFailTheMethodAreNotKept) {
    RouteMatch match = Request("/a/1", HttpMethod::Get);
    const RouteTable routes{{"/a/{x}", HttpMethod::Post}, {"/a/{y}", HttpMethod::Get}};
    ASSERT_TRUE(routes.Match(match));
    EXPECT_EQ(match.routeIndex, 1u);
    EXPECT_EQ(match.captures, (Captures{{"y", "1"}}));
}

TEST(RouteMatch, EarlierResultsAreClearedBeforeMatching) {
    RouteMatch match = Request("/nothing");
    match.captures["stale"] = "value";
    match.routeIndex = 3;
    const RouteTable routes{{"/a/{x}"}};
    EXPECT_FALSE(routes.Match(match));
    EXPECT_TRUE(match.captures.empty());
    EXPECT_FALSE(match.routeIndex.has_value());
    EXPECT_EQ(match.function, nullptr);
}

TEST(RouteMatch, MalformedRouteIsUnusableAndMatchesNothing) {
    BindingFunctionDescriptor function;
    function.path = "/a}"; // set directly, bypassing the registration check
    const RemotingRoute stray = BuildRoute(function);
    EXPECT_FALSE(stray.Usable());
    RouteMatch literal = Request("/a}");
    EXPECT_FALSE(MatchRoutes(literal, std::span(&stray, 1)));
}

TEST(RouteMatch, UnterminatedPlaceholderAtTheEndIsLeftOut) {
    const RouteTable routes{{"/a/{x"}};
    ASSERT_TRUE(routes.routes().front().Usable()) << routes.routes().front().error;
    RouteMatch match = Request("/a/");
    ASSERT_TRUE(routes.Match(match));
    EXPECT_TRUE(match.captures.empty());
    RouteMatch text = Request("/a/{x");
    EXPECT_FALSE(routes.Match(text));
    RouteMatch value = Request("/a/b");
    EXPECT_FALSE(routes.Match(value));
}

TEST(RouteMatch, PathsLongerThanAKilobyteMatchTemplates) {
    // The whole path is matched, a query part included, so a request with a long query string
    // still reaches a template route.
    const RouteTable routes{{"/files/{+rest}"}, {"/items/{id}"}};
    const std::string query = "?ids=" + std::string(8192, '7');
    RouteMatch files = Request("/files/a/b" + query);
    ASSERT_TRUE(routes.Match(files));
    EXPECT_EQ(*files.routeIndex, 0u);
    EXPECT_EQ(files.captures.at("rest"), "a/b" + query);

    RouteMatch item = Request("/items/42" + query);
    ASSERT_TRUE(routes.Match(item));
    EXPECT_EQ(*item.routeIndex, 1u);
    EXPECT_EQ(item.captures.at("id"), "42" + query);
}

TEST(RouteMatch, MegabytePathNeitherCrashesNorHangs) {
    const RouteTable templates{{"/a/{x}"}, {"/a/{+x}"}, {"/a{#x}"}, {"/{+a}/{+b}/{+c}.json"}};
    const std::string huge = "/a/" + std::string(1 << 20, 'b');
    const std::string slashes(1 << 20, '/');

    const auto start = std::chrono::steady_clock::now();
    RouteMatch match = Request(huge);
    ASSERT_TRUE(templates.Match(match));
    EXPECT_EQ(*match.routeIndex, 0u); // the tie with "/a/{+x}" keeps the earlier route
    EXPECT_EQ(match.captures.at("x").size(), std::size_t{1} << 20);
    RouteMatch manySlashes = Request(slashes);
    EXPECT_FALSE(templates.Match(manySlashes));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Linear in the path; generous bound for emulated builds.
    EXPECT_LT(elapsed, std::chrono::seconds(10));

    // A literal route of the same length matches byte for byte.
    const RouteTable literal{{huge}};
    RouteMatch same = Request(huge);
    EXPECT_TRUE(literal.Match(same));
}

TEST(RouteMatch, PathsBeyondTheMatchersTableMatchNoTemplate) {
    // One placeholder: a table cell per path position and one more.
    const RouteTable one{{"/a/{+x}"}};
    const std::string fits = "/a/" + std::string(kMaxTemplateMatchCells - 4, 'b');
    RouteMatch longest = Request(fits);
    ASSERT_TRUE(one.Match(longest));
    EXPECT_EQ(longest.captures.at("x").size(), kMaxTemplateMatchCells - 4);
    RouteMatch tooLong = Request(fits + "b");
    EXPECT_FALSE(one.Match(tooLong));

    // Four placeholders share the same budget.
    const RouteTable four{{"/{a}/{b}/{c}/{+d}"}};
    const std::size_t limit = kMaxTemplateMatchCells / 4;
    const std::string within = "/a/b/c/" + std::string(limit - 8, 'd');
    RouteMatch fitsFour = Request(within);
    ASSERT_TRUE(four.Match(fitsFour));
    EXPECT_EQ(fitsFour.captures.at("d").size(), limit - 8);
    RouteMatch beyondFour = Request(within + "d");
    EXPECT_FALSE(four.Match(beyondFour));
}

} // namespace
} // namespace Korvel
