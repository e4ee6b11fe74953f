#pragma once

#include <cstdint>
#include <vector>

#include "binding/binding_function_descriptor.h"
#include "binding/binding_property.h"
#include "remoting/remoting_response.h"

namespace Korvel {

struct RemotingRequest;

// The invoker of a bound function that can be called through a request. The dispatcher prepares
// the native arguments from the bound argument list, invokes the function and releases what
// preparation made, in that order:
//
//     void* handle = invoker.Prepare(response, arguments, token);
//     if (!response.Failed()) invoker.Invoke(response, request or nullptr, handle, token);
//     invoker.Release(handle);
class RemotingInvoker : public BindingFunctionInvoker {
public:
    // Converts the arguments (one per declared parameter, in declaration order) into the native
    // arguments. Returns a handle for them, or null when there is nothing to hold. A conversion
    // failure fails the response; a handle returned with it is still released.
    virtual void* Prepare(RemotingResponse& response, std::vector<BindingProperty>& arguments,
                          std::uint32_t token) = 0;
    // The type hash of the request record the function takes
    // (`StaticType::HashCode<Korvel::RemotingRequest>` or
    // `StaticType::HashCode<Korvel::HttpBaseTransport::Request>`), or 0 when it takes none.
    virtual std::uint32_t RequestTypeHash() const = 0;
    // Calls the function. `request` is the filled request record when the function takes one,
    // null otherwise. The outcome goes into the response.
    virtual void Invoke(RemotingResponse& response, const RemotingRequest* request, void* handle,
                        std::uint32_t token) = 0;
    // Frees what Prepare made; null does nothing.
    virtual void Release(void* handle) = 0;
};

} // namespace Korvel
