#pragma once

#include <cstddef>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_function_descriptor.h"
#include "remoting/http_method.h"
#include "remoting/route_template.h"

namespace Korvel {

// Longest request path that is matched against a route template. The standard library's regular
// expression matcher recurses once per input character (some hundreds of bytes of stack each),
// so longer paths are refused without running it; they could otherwise overflow the stack of the
// host's calling thread. Literal routes compare bytes and have no such limit.
inline constexpr std::size_t kMaxTemplatePathLength = 1024;

// A function's route, built when a request arrives and dropped afterwards.
struct RemotingRoute {
    const BindingFunctionDescriptor* function = nullptr;
    // The pattern when it is not a template; empty otherwise.
    std::string literal;
    // The compiled template; present only for templates.
    std::optional<std::regex> regex;
    std::vector<RoutePlaceholder> placeholders;
    // The template's literal pieces around the placeholders (see `RouteTemplate::literals`).
    std::vector<std::string> literals;
    // The method the function accepts (`None`: any) and, for `Custom`, its name.
    HttpMethod method = HttpMethod::None;
    std::string methodText;
    // Why the pattern could not be used; such a route matches no request.
    std::string error;

    bool Usable() const { return error.empty(); }
};

// Builds the route of a function from its path (or, without one, its name) and its method. A
// pattern that cannot be used gives a route with `error` set, which matches nothing.
RemotingRoute BuildRoute(const BindingFunctionDescriptor& function);

} // namespace Korvel
