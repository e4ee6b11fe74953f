#include "remoting/route_match.h"

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

// Whether the path starts with the first literal piece, ends with the last and holds the others
// in order between them: true for every path the template's expression matches. Finding each
// piece at its earliest place keeps the check linear and never refuses a path that matches.
bool LiteralsFit(const std::vector<std::string>& literals, std::string_view path) {
    if (literals.size() < 2) {
        return true; // not a translated template; the expression alone decides
    }
    const std::string& first = literals.front();
    const std::string& last = literals.back();
    if (path.size() < first.size() + last.size() || !path.starts_with(first) ||
        !path.ends_with(last)) {
        return false;
    }
    const std::string_view middle =
        path.substr(first.size(), path.size() - first.size() - last.size());
    std::size_t position = 0;
    for (std::size_t i = 1; i + 1 < literals.size(); ++i) {
        const std::size_t found = middle.find(literals[i], position);
        if (found == std::string_view::npos) {
            return false;
        }
        position = found + literals[i].size();
    }
    return true;
}

bool TemplateMatches(const RemotingRoute& route, const std::string& path, Captures& captures) {
    // Refuse without running the expression what it could never match, and paths so long that
    // the recursive matcher could exhaust the stack.
    if (path.size() > kMaxTemplatePathLength) {
        return false;
    }
    // Besides saving the expression's work, this refuses at once most of the paths on which a
    // backtracking matcher would try every split between neighbouring placeholders.
    if (!LiteralsFit(route.literals, path)) {
        return false;
    }

    std::smatch groups;
    try {
        if (!std::regex_match(path, groups, *route.regex)) {
            return false;
        }
    } catch (const std::regex_error&) {
        // The matcher gave up (for example on complexity); the route cannot be matched.
        return false;
    }
    for (std::size_t i = 0; i < route.placeholders.size() && i + 1 < groups.size(); ++i) {
        captures.insert_or_assign(route.placeholders[i].name, UrlDecode(groups[i + 1].str()));
    }
    return true;
}

bool PathFits(const RemotingRoute& route, const std::string& path, Captures& captures) {
    if (!route.Usable()) {
        return false;
    }
    if (!route.regex) {
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
