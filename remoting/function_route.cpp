#include "remoting/function_route.h"

#include "remoting/route_template.h"

namespace Korvel {

std::string NormaliseRoutePath(std::string_view path) {
    if (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    return std::string(path);
}

OperationResult SetRoutePath(BindingFunctionDescriptor& function, std::string_view path) {
    std::string normalised = NormaliseRoutePath(path);
    std::string error = CheckRoutePattern(normalised);
    if (!error.empty()) {
        return OperationResult::Failure(kRouteRefusedCode, std::move(error));
    }
    function.path = std::move(normalised);
    return OperationResult::Success();
}

void SetRouteMethod(BindingFunctionDescriptor& function, HttpMethod method) {
    function.method = static_cast<std::uint32_t>(method);
    function.methodText.clear();
}

void SetRouteCustomMethod(BindingFunctionDescriptor& function, std::string_view methodText) {
    function.method = static_cast<std::uint32_t>(HttpMethod::Custom);
    function.methodText = methodText;
}

HttpMethod RouteMethod(const BindingFunctionDescriptor& function) {
    return static_cast<HttpMethod>(static_cast<std::int32_t>(function.method));
}

std::string_view RoutePattern(const BindingFunctionDescriptor& function) {
    return function.path.empty() ? std::string_view(function.name)
                                 : std::string_view(function.path);
}

} // namespace Korvel
