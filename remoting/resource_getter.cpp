#include "remoting/resource_getter.h"

#include <utility>

#include "remoting/function_name.h"
#include "remoting/function_route.h"
#include "remoting/route_template.h"

namespace Korvel {

OperationResult RegisterResourceGetterFunction(BindingRegistry& registry, std::string_view path,
                                               BindingTypeRef returns,
                                               std::unique_ptr<ResourceGetterInvoker> invoker,
                                               const std::vector<std::string>& tags) {
    // The path is checked before anything is registered, so a refused path leaves no function
    // without a route behind.
    std::string error = CheckRoutePattern(NormaliseRoutePath(path));
    if (!error.empty()) {
        return OperationResult::Failure(kRouteRefusedCode, std::move(error));
    }

    const std::string name = FunctionNameFromPath(HttpMethod::Get, path);
    BindingFunctionBuilder builder =
        registry.RegisterFunction(name.c_str(), {}, std::move(invoker));
    if (builder.descriptor == nullptr) {
        return OperationResult::Failure(kRouteRefusedCode, "Couldn't register function " + name);
    }
    if (builder.alreadyRegistered) {
        return OperationResult::Success();
    }

    BindingFunctionDescriptor& function = *builder.descriptor;
    function.returns = returns;
    OperationResult routed = SetRoutePath(function, path);
    if (routed.failed) {
        return routed;
    }
    SetRouteMethod(function, HttpMethod::Get);
    for (const std::string& tag : tags) {
        if (!tag.empty()) {
            function.tags.push_back(tag);
        }
    }
    return OperationResult::Success();
}

} // namespace Korvel
