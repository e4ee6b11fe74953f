#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/binding_property.h"
#include "binding/static_type_id.h"
#include "remoting/http_method.h"

namespace Korvel {

class BindingRegistry;

// The request record a bound function may take as a parameter. The dispatcher fills one record
// per call; the same record serves functions that ask for `HttpBaseTransport::Request`.
struct RemotingRequest {
    // Opaque value from the host's request record, passed through unchanged.
    std::uint32_t token = 0;
    // The registry that owns the called function.
    BindingRegistry* api = nullptr;
    // Time of arrival in 100-nanosecond units since 1970-01-01 (see `RequestArrivalTicks`).
    std::int64_t received = 0;
    HttpMethod method = HttpMethod::None;
    // The method's name; filled only for `HttpMethod::Custom`.
    std::string methodText;
    // The request path as the host gave it, query part included.
    std::string path;
    // One value per declared parameter of the called function, in declaration order.
    std::vector<BindingProperty> arguments;
    // Header name to value, as the host gave them; a later duplicate name replaces an earlier one.
    std::unordered_map<std::string, std::string> headers;

    // Records a header; a name given again replaces the earlier value.
    void SetHeader(std::string name, std::string value) {
        headers.insert_or_assign(std::move(name), std::move(value));
    }
};

namespace HttpBaseTransport {

// The transport's name for the request record. It adds nothing, so a filled `RemotingRequest`
// part of it can be handed to functions that ask for either type.
struct Request : RemotingRequest {};

} // namespace HttpBaseTransport

// The current time as the request records carry it: 100-nanosecond units since 1970-01-01 UTC.
std::int64_t RequestArrivalTicks();

} // namespace Korvel

KORVEL_STATIC_TYPE(struct, Korvel::RemotingRequest)
KORVEL_STATIC_TYPE(struct, Korvel::HttpBaseTransport::Request)
