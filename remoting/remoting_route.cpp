#include "remoting/remoting_route.h"

namespace Korvel {

RemotingRoute BuildRoute(const FunctionRoute& route, std::string_view functionName,
                         const BindingFunctionDescriptor* function) {
    RemotingRoute built;
    built.function = function;
    built.method = route.method;
    built.methodText = route.methodText;

    const std::string_view pattern = route.Pattern(functionName);
    if (!IsRouteTemplate(pattern)) {
        built.error = CheckRoutePattern(pattern);
        if (built.error.empty()) {
            built.literal = pattern;
        }
        return built;
    }

    RouteTemplate translated = TranslateRouteTemplate(pattern);
    if (!translated.Ok()) {
        built.error = std::move(translated.error);
        return built;
    }
    try {
        built.regex.emplace(translated.expression, std::regex::ECMAScript | std::regex::optimize);
    } catch (const std::regex_error& e) {
        built.error =
            "Route template '" + std::string(pattern) + "' is not a valid expression: " + e.what();
        return built;
    }
    built.placeholders = std::move(translated.placeholders);
    built.literals = std::move(translated.literals);
    return built;
}

} // namespace Korvel
