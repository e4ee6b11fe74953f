// Route templates and matching: up to three fuzzed route patterns, each with a method, and a
// fuzzed request path and method matched against them; on short paths the template matcher is
// compared with the template's regular expression.
//
// Input: a head byte (bits 0-1: routes - 1; bits 2-5: request method), per route a method byte
// and its pattern up to a newline, then the request path.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "binding/binding_function_descriptor.h"
#include "remoting/function_route.h"
#include "remoting/remoting_route.h"
#include "remoting/route_match.h"
#include "remoting/route_template.h"
#include "remoting/template_matcher.h"
#include "remoting/url_decode.h"
#include "support/fuzz_input.h"

namespace {

using namespace Korvel;

HttpMethod MethodOf(std::uint8_t code) {
    return static_cast<HttpMethod>(code % 10); // 9 is outside the table
}

void CheckTranslation(const std::string& pattern) {
    const RouteTemplate translated = TranslateRouteTemplate(pattern);
    const std::string problem = CheckRoutePattern(pattern);
    if (!IsRouteTemplate(pattern)) {
        return;
    }
    KORVEL_FUZZ_CHECK(translated.Ok() == problem.empty());
    if (translated.Ok()) {
        KORVEL_FUZZ_CHECK(translated.literals.size() == translated.placeholders.size() + 1);
        KORVEL_FUZZ_CHECK(pattern.size() <= kMaxRouteTemplateLength);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Testing::FuzzInput input(data, size);
    const std::uint8_t head = input.Byte();
    const std::size_t routeCount = (head & 3u) + 1u;
    const HttpMethod requestMethod = MethodOf(static_cast<std::uint8_t>(head >> 2));

    std::deque<BindingFunctionDescriptor> functions;
    std::vector<RemotingRoute> routes;
    for (std::size_t i = 0; i < routeCount; ++i) {
        BindingFunctionDescriptor& function = functions.emplace_back();
        function.name = "Function" + std::to_string(i);
        const std::uint8_t method = input.Byte();
        const std::string pattern = input.Until('\n');
        CheckTranslation(pattern);
        const OperationResult stored = SetRoutePath(function, pattern);
        KORVEL_FUZZ_CHECK(!IsRouteTemplate(pattern) ||
                          stored.failed == !CheckRoutePattern(NormaliseRoutePath(pattern)).empty());
        if (MethodOf(method) == HttpMethod::Custom) {
            SetRouteCustomMethod(function, method & 0x80 ? "PURGE" : "");
        } else {
            SetRouteMethod(function, MethodOf(method));
        }
        routes.push_back(BuildRoute(function));
    }

    RouteMatch match;
    match.method = requestMethod;
    match.methodText = head & 0x80 ? "PURGE" : "";
    match.path = input.Rest();
    const std::string decoded = UrlDecode(match.path);
    KORVEL_FUZZ_CHECK(decoded.size() <= match.path.size());
    if (MatchRoutes(match, routes)) {
        KORVEL_FUZZ_CHECK(match.routeIndex.has_value() && *match.routeIndex < routes.size());
        const RemotingRoute& route = routes[*match.routeIndex];
        KORVEL_FUZZ_CHECK(match.function == &functions[*match.routeIndex]);
        KORVEL_FUZZ_CHECK(route.Usable());
        for (const auto& [name, value] : match.captures) {
            bool known = false;
            for (const RoutePlaceholder& placeholder : route.placeholders) {
                known = known || placeholder.name == name;
            }
            KORVEL_FUZZ_CHECK(known);
        }
    } else {
        KORVEL_FUZZ_CHECK(match.function == nullptr);
    }
    // The template matcher answers as the template's expression does, captures included. The
    // expression runs on short paths and few placeholders only, where backtracking stays cheap.
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const RemotingRoute& route = routes[i];
        if (!route.isTemplate || !route.Usable() || match.path.size() > 16 ||
            route.placeholders.size() > 4) {
            continue;
        }
        const RouteTemplate translated = TranslateRouteTemplate(RoutePattern(functions[i]));
        KORVEL_FUZZ_CHECK(translated.Ok());
        std::optional<std::regex> expression;
        try {
            expression.emplace(translated.expression,
                               std::regex::ECMAScript | std::regex::optimize);
        } catch (const std::regex_error&) {
            continue;
        }
        std::smatch groups;
        const bool expected = std::regex_match(match.path, groups, *expression);
        std::vector<std::string_view> captures;
        KORVEL_FUZZ_CHECK(MatchRouteTemplate(route.literals, route.placeholders, match.path,
                                             captures) == expected);
        for (std::size_t k = 0; expected && k < captures.size(); ++k) {
            KORVEL_FUZZ_CHECK(captures[k] == groups[k + 1].str());
        }
    }

    // The single-function form agrees with a list of that one route.
    RouteMatch single;
    single.method = requestMethod;
    single.methodText = match.methodText;
    single.path = match.path;
    const bool singleMatched = MatchFunctionRoute(single, functions.front());
    RouteMatch first;
    first.method = requestMethod;
    first.methodText = match.methodText;
    first.path = match.path;
    const bool firstMatched = MatchRoutes(first, std::span(routes.data(), 1));
    KORVEL_FUZZ_CHECK(singleMatched == firstMatched);
    KORVEL_FUZZ_CHECK(single.captures == first.captures);
    return 0;
}
