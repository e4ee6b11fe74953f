#pragma once

// Results of the requests the plug-in sends through the host: reads of the host's own resources
// and requests to outside web servers. Failures are values here, never exceptions.

#include <cstdint>
#include <map>
#include <string>

#include "binding/binding_property.h"

namespace Korvel {

// Header names and values of an outside request or response. A name appears once; the table
// keeps names in byte order.
using HeaderTable = std::map<std::string, std::string>;

// The result of a request for one of the host's resources.
struct ResourceResult {
    // The resource's value; empty on failure.
    BindingProperty value;
    bool failed = false;
    // The failure's code: the host's error code, or 0 when reading or converting failed.
    int32_t code = 0;
    std::string message;
};

// The result of a request to an outside web server.
struct ExternalResponse {
    // 0 when a response arrived; otherwise the host's transport code: 2 and -1 as given, any
    // other value 1.
    int32_t code = -1;
    // The HTTP status, when a response arrived.
    int32_t status = 0;
    // 0 when the body was parsed as JSON, 1 when it was missing or not JSON; -1 until a response
    // arrived.
    int32_t bodyInvalid = -1;
    // Kept at -1; a response counts as successful only while it is not 1.
    int32_t reserved = -1;
    // Why the request or the body failed; without a response, the body the host gave as text.
    std::string errorText;
    HeaderTable headers;
    // The body parsed as JSON, or its raw text when it was not JSON.
    BindingProperty body;
};

} // namespace Korvel
