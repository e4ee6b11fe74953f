#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_function_descriptor.h"
#include "remoting/http_method.h"
#include "remoting/route_template.h"

namespace Korvel {

// A function's route, built when a request arrives and dropped afterwards.
struct RemotingRoute {
    const BindingFunctionDescriptor* function = nullptr;
    // The pattern when it is not a template; empty otherwise.
    std::string literal;
    // Whether the pattern is a template, matched through its placeholders and the literal pieces
    // around them (see `RouteTemplate::literals`).
    bool isTemplate = false;
    std::vector<RoutePlaceholder> placeholders;
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
