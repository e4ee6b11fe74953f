#include "remoting/function_route.h"

#include "remoting/route_template.h"

namespace Korvel {

std::string NormaliseRoutePath(std::string_view path) {
    if (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    return std::string(path);
}

RouteRegistration FunctionRoute::SetPath(std::string_view newPath) {
    std::string normalised = NormaliseRoutePath(newPath);
    std::string error = CheckRoutePattern(normalised);
    if (!error.empty()) {
        return {true, std::move(error)};
    }
    path = std::move(normalised);
    return {};
}

void FunctionRoute::SetMethod(HttpMethod newMethod) {
    method = newMethod;
    methodText.clear();
}

void FunctionRoute::SetCustomMethod(std::string_view text) {
    method = HttpMethod::Custom;
    methodText = text;
}

} // namespace Korvel
