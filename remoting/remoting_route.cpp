#include "remoting/remoting_route.h"

#include "diagnostics/format_message.h"
#include "remoting/function_route.h"

namespace Korvel {

RemotingRoute BuildRoute(const BindingFunctionDescriptor& function) {
    RemotingRoute built;
    built.function = &function;
    built.method = RouteMethod(function);
    built.methodText = function.methodText;

    const std::string_view pattern = RoutePattern(function);
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
            FormatMessage("Route template '%1' is not a valid expression: %2", pattern, e.what());
        return built;
    }
    built.placeholders = std::move(translated.placeholders);
    built.literals = std::move(translated.literals);
    return built;
}

} // namespace Korvel
