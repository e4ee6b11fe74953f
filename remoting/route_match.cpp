#include "remoting/route_match.h"

#include "remoting/template_matcher.h"
#include "remoting/url_decode.h"

namespace Korvel {

namespace {

using Captures = std::unordered_map<std::string, std::string>;

bool MethodFits(const RemotingRoute& route, const RouteMatch& match) {
    if (route.method == HttpMethod::None) {
        return true;
    }
    return match.method == route.method && match.methodText == route.methodText;
}

bool TemplateMatches(const RemotingRoute& route, const std::string& path, Captures& captures) {
    std::vector<std::string_view> taken;
    if (!MatchRouteTemplate(route.literals, route.placeholders, path, taken)) {
        return false;
    }
    for (std::size_t i = 0; i < taken.size(); ++i) {
        captures.insert_or_assign(route.placeholders[i].name, UrlDecode(taken[i]));
    }
    return true;
}

bool PathFits(const RemotingRoute& route, const std::string& path, Captures& captures) {
    if (!route.Usable()) {
        return false;
    }
    if (!route.isTemplate) {
        return path == route.literal;
    }
    return TemplateMatches(route, path, captures);
}

std::size_t TotalLength(const Captures& captures) {
    std::size_t total = 0;
    for (const auto& [name, value] : captures) {
        total += value.size();
    }
    return total;
}

} // namespace

bool MatchRoutes(RouteMatch& match, std::span<const RemotingRoute> routes) {
    match.function = nullptr;
    match.routeIndex.reset();
    match.captures.clear();

    std::size_t takenLength = 0;
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const RemotingRoute& route = routes[i];
        Captures captures;
        // The method is checked first only because it is cheaper; a route is a candidate when
        // both its method and its path fit.
        if (!MethodFits(route, match) || !PathFits(route, match.path, captures)) {
            continue;
        }
        const std::size_t length = TotalLength(captures);
        if (!match.routeIndex || length < takenLength) {
            match.function = route.function;
            match.routeIndex = i;
            match.captures = std::move(captures);
            takenLength = length;
            if (match.captures.empty()) {
                break;
            }
        }
    }
    return match.routeIndex.has_value();
}

bool MatchFunctionRoute(RouteMatch& match, const BindingFunctionDescriptor& function) {
    const RemotingRoute built = BuildRoute(function);
    return MatchRoutes(match, std::span<const RemotingRoute>(&built, 1));
}

} // namespace Korvel
