#pragma once

// Registration of a bound function's route: the path (or path template) it answers on and the
// method it accepts. The fields live in the function's descriptor; these operations keep them
// consistent.

#include <string>
#include <string_view>

#include "binding/binding_function_descriptor.h"
#include "diagnostics/operation_result.h"
#include "remoting/http_method.h"

namespace Korvel {

// Status code of a refused route registration.
inline constexpr std::int32_t kRouteRefusedCode = 400;

// Stores the path with one trailing "/" removed when it is longer than one character. Malformed
// templates ("}" outside a placeholder, "{" inside one, a template too long to compile) are
// refused with a message and leave the stored path unchanged.
OperationResult SetRoutePath(BindingFunctionDescriptor& function, std::string_view path);

// Stores the method and clears the method text.
void SetRouteMethod(BindingFunctionDescriptor& function, HttpMethod method);

// Stores `HttpMethod::Custom` together with the method's name.
void SetRouteCustomMethod(BindingFunctionDescriptor& function, std::string_view methodText);

// The method the function accepts (`None`: any).
HttpMethod RouteMethod(const BindingFunctionDescriptor& function);

// The text requests are matched against: the path, or the function's name when the path is empty.
std::string_view RoutePattern(const BindingFunctionDescriptor& function);

// The path as it is stored for a route: one trailing "/" removed when longer than one character.
std::string NormaliseRoutePath(std::string_view path);

} // namespace Korvel
