#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "binding/binding_function_descriptor.h"
#include "remoting/http_method.h"
#include "remoting/remoting_route.h"

namespace Korvel {

// Message and status a request gets when its path or method does not fit the function.
inline constexpr std::string_view kInvalidFunctionMessage = "Invalid function";
inline constexpr std::int32_t kInvalidFunctionStatus = 404;

// A request matched against routes. The caller fills the request's method, method text and
// path; matching fills in the chosen function and the placeholder values.
struct RouteMatch {
    HttpMethod method = HttpMethod::None;
    // The request's method name; only meaningful for `HttpMethod::Custom`.
    std::string methodText;
    // The request path, whole, exactly as the host gave it (a query part stays in it).
    std::string path;

    // The chosen route's function and its position in the list matched against.
    const BindingFunctionDescriptor* function = nullptr;
    std::optional<std::size_t> routeIndex;
    // Placeholder name to URL-decoded value.
    std::unordered_map<std::string, std::string> captures;
};

// Matches the request in `match` against the routes in order and fills in the chosen function
// and captures. Among routes whose path and method both fit, the one with the smallest total
// length of captured values wins (the earlier one on a tie), and a route without captures ends
// the search at once. Returns whether a route was chosen.
bool MatchRoutes(RouteMatch& match, std::span<const RemotingRoute> routes);

// Matches the request against the route of a single function (the route is built here and
// dropped afterwards). A failure is answered with `kInvalidFunctionMessage` and
// `kInvalidFunctionStatus` by the caller.
bool MatchFunctionRoute(RouteMatch& match, const BindingFunctionDescriptor& function);

} // namespace Korvel
