#pragma once

// Readable resources of a plug-in: a bound function without parameters, reached by GET on the
// resource's path, that answers with a copy of a native value converted to a dynamic value.
//
//     RegisterResourceGetter(registry, "/vel-service-status/v1/zum-status", plugin,
//                            &ServiceStatusPlugin::StatusResource, plugin->RegistrationTags());
//
// registers "GetVelServiceStatusV1ZumStatus" with the route GET
// "/vel-service-status/v1/zum-status".

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_function_descriptor.h"
#include "binding/binding_registry.h"
#include "binding/binding_result.h"
#include "binding/convert_to_property.h"
#include "diagnostics/operation_result.h"

namespace Korvel {

// The invoker of a resource getter. It takes no arguments and no request record.
class ResourceGetterInvoker : public BindingFunctionInvoker {
public:
    // Asks the getter for a copy of the value and converts the copy into `result` with the
    // registry's descriptors.
    virtual void Invoke(BindingResult& result, const BindingRegistry& registry) const = 0;
};

// A getter that is a const member function of the object that owns the value.
template <typename Object, typename T>
class MemberResourceGetter final : public ResourceGetterInvoker {
public:
    using Getter = T (Object::*)() const;

    MemberResourceGetter(const Object* object, Getter getter) : object_(object), getter_(getter) {}

    void Invoke(BindingResult& result, const BindingRegistry& registry) const override {
        const T copy = (object_->*getter_)();
        ToProperty(result, copy, registry);
    }

private:
    const Object* object_;
    Getter getter_;
};

// Registers the function named after GET and `path` (FunctionNameFromPath) with no parameters,
// the given return type and invoker, the route GET `path` (one trailing "/" removed) and `tags`.
// A function of that name registered before is left as it is. A malformed path is refused with
// its message and registers nothing.
OperationResult RegisterResourceGetterFunction(BindingRegistry& registry, std::string_view path,
                                               BindingTypeRef returns,
                                               std::unique_ptr<ResourceGetterInvoker> invoker,
                                               const std::vector<std::string>& tags);

// The typed form: the return type is T's type reference (a registered record, or a vector of
// one), looked up in the registry now.
template <typename Object, typename T>
OperationResult RegisterResourceGetter(BindingRegistry& registry, std::string_view path,
                                       const Object* object, T (Object::*getter)() const,
                                       const std::vector<std::string>& tags) {
    return RegisterResourceGetterFunction(
        registry, path, NativeTypeRef<T>(registry),
        std::make_unique<MemberResourceGetter<Object, T>>(object, getter), tags);
}

} // namespace Korvel
