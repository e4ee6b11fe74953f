#pragma once

#include <cstdint>

namespace Korvel {

// Where a bound function's parameter takes its value from in a request. The code is kept per
// parameter in the function's descriptor and declared to the host.
enum class ArgumentLocation : std::int32_t {
    Any = 0,    // any source
    Query = 1,  // the query string
    Path = 2,   // a path placeholder
    Header = 4, // a request header
    Body = 5,   // the request body
};

} // namespace Korvel
