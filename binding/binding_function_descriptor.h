#pragma once

// One bound function; owned by the registry. The route fields (path, method, method text), the
// parameter locations and the invoker's operations belong to the remoting layer, which fills them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "binding/binding_type_descriptor.h"

namespace Korvel {

class BindingRegistry;

struct BindingParameterDescriptor {
    std::string name;
    std::string description;
    bool optional = false;
    BindingTypeRef type;
    // Where the argument is taken from in a request (the remoting layer's location code;
    // 0 when not declared).
    std::int32_t location = 0;
};

// Prepares the arguments of a bound function and calls the native function. The remoting layer
// derives its invokers from this class and adds the operations.
class BindingFunctionInvoker {
public:
    virtual ~BindingFunctionInvoker() = default;
};

struct BindingFunctionDescriptor {
    std::string name; // unique among functions
    std::string nameSpace;
    std::vector<BindingParameterDescriptor> parameters; // declaration order
    BindingTypeRef returns;
    std::string description;
    std::string help;
    bool threadSafe = false;
    bool async = false; // the help names the return type's descriptor as the async result
    std::vector<std::string> tags;
    std::unique_ptr<BindingFunctionInvoker> invoker;
    BindingRegistry* registry = nullptr;

    // Route (remoting layer): path or path template, empty when reached by name only; the HTTP
    // method code (0 accepts every method) and the method's name for the custom code 8.
    std::string path;
    std::uint32_t method = 0;
    std::string methodText;
};

} // namespace Korvel
