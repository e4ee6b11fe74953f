#include "remoting/remoting_function.h"

#include "remoting/function_route.h"
#include "remoting/route_template.h"

namespace Korvel {

OperationResult RegisterRemotingFunctionDescriptor(
    BindingRegistry& registry, const char* name, std::string_view path, HttpMethod method,
    std::vector<BindingParameterDescriptor> parameters, std::unique_ptr<RemotingInvoker> invoker,
    BindingTypeRef returns, const std::vector<std::string>& tags) {
    if (name == nullptr || *name == '\0') {
        return OperationResult::Failure(kRouteRefusedCode, "A function needs a name");
    }
    // The path is checked before anything is registered, so that a refused path
    // leaves no function without its route behind.
    if (std::string error = CheckRoutePattern(NormaliseRoutePath(path)); !error.empty()) {
        return OperationResult::Failure(kRouteRefusedCode, std::move(error));
    }
    BindingFunctionBuilder builder =
        registry.RegisterFunction(name, std::move(parameters), std::move(invoker));
    if (builder.descriptor == nullptr) {
        return OperationResult::Failure(kRouteRefusedCode,
                                        std::string("Couldn't register function ") + name);
    }
    if (builder.alreadyRegistered) {
        return OperationResult::Success();
    }
    BindingFunctionDescriptor& function = *builder.descriptor;
    function.returns = returns;
    if (OperationResult routed = SetRoutePath(function, path); routed.failed) {
        return routed;
    }
    SetRouteMethod(function, method);
    for (const std::string& tag : tags) {
        if (!tag.empty()) {
            function.tags.push_back(tag);
        }
    }
    return OperationResult::Success();
}

} // namespace Korvel
