#pragma once

// Calls from the host into declared functions. The host calls a function's entry point from the
// API declaration with a response record to fill and a request record; the request carries the
// declaration entry's user data, which names the registry and the function. The dispatcher
// matches the request against the function's route, binds the arguments (argument_binding.h),
// calls the function through its invoker and copies the outcome into the response record.
//
// Nothing is thrown back to the host: every failure becomes a failed response whose value is
// the message text.

#include <cstdint>
#include <memory>
#include <string_view>

#include "binding/binding_function_descriptor.h"
#include "plugin/calling_convention.h"
#include "plugin/function_request_records.h"
#include "remoting/api_declaration_builder.h"
#include "remoting/remoting_response.h"
#include "remoting/route_match.h"

namespace Korvel {

class BindingRegistry;

// Status of a request record the dispatcher cannot read (a null path, a header without a name, a
// count with a null array).
inline constexpr std::int32_t kMalformedRequestStatus = 400;

// The entry point of every declared function. `request->userData` must be the DeclaredFunction
// of the function's declaration entry; a request without one is answered with "Invalid
// function" and status 404. A null response record is ignored.
void KORVEL_CDECL DispatchFunctionRequest(HostFunctionResponse* response,
                                          const HostFunctionRequest* request);

// Dispatches a request to one function: matches the request's method and whole path (a query
// part stays in it, so a literal route does not match the path followed by a query) against the
// function's route, then calls it (CallFunction). A request that does not fit is answered with
// "Invalid function" and status 404 and the function is not called.
void DispatchToFunction(HostFunctionResponse* response, const HostFunctionRequest& request,
                        const BindingFunctionDescriptor& function, BindingRegistry* registry);

// Binds the arguments of a matched request, calls the function and copies the outcome into the
// response record:
//   1. one argument per parameter ("empty"; a required "bool" false);
//   2.-4. header values (for parameters of location 0 or 4, looked up by the lower-cased
//      parameter name), path captures and query values, assigned by key in that order;
//   5. the host's argument list: a named entry goes to the parameter of that name, an unnamed
//      entry i to parameter i plus the number of path captures; its HostValue is converted into
//      the argument;
//   6. the body, into the first parameter of location 5 (also after an earlier failure);
//   7. prepare, invoke (with the filled request record when the function takes one), release.
// After a failure steps 2 to 5 and 7 are skipped.
void CallFunction(HostFunctionResponse* response, const HostFunctionRequest& request,
                  const RouteMatch& match, BindingRegistry* registry);

// Copies a finished response into the host's response record: the result value as a HostValue
// (enumerators named through `registry`) or, on failure, the message as text; the flag byte; the
// content kind (1 to 3, else 0); the status; a copy of the status text; copies of the headers;
// and the body stream, which passes to the host. The record's release function frees the copies.
void CopyResponseToHost(HostFunctionResponse* record, RemotingResponse& response,
                        const BindingRegistry* registry);

// Fills a response record with a failure: the message as text value and the status.
void FailHostResponse(HostFunctionResponse* record, std::string_view message, std::int32_t status);

// The API declaration of the registry with DispatchFunctionRequest as every function's entry
// point; what the handshake hands the host.
std::unique_ptr<BuiltApiDeclaration> BuildPluginApiDeclaration(BindingRegistry& registry);

// The release function the response records carry: frees the value tree, the status text and the
// headers, and zeroes them. The body stream has its own release function.
void KORVEL_CDECL ReleaseFunctionResponse(HostFunctionResponse* record);

} // namespace Korvel
