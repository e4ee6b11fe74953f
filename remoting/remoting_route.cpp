#include "remoting/remoting_route.h"

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
    built.isTemplate = true;
    built.placeholders = std::move(translated.placeholders);
    built.literals = std::move(translated.literals);
    return built;
}

} // namespace Korvel
