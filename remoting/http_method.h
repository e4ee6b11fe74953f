#pragma once

#include <cstdint>
#include <string_view>

namespace Korvel {

// HTTP method of a request or of a bound function's route. The numeric codes are shared with
// the host's request record. `None` on a route accepts every method; `Custom` means the method's
// name travels as text beside the code.
enum class HttpMethod : std::int32_t {
    None = 0,
    Delete = 1,
    Get = 2,
    Head = 3,
    Options = 4,
    Patch = 5,
    Post = 6,
    Put = 7,
    Custom = 8,
};

// The method's name ("GET", "POST", ...); the empty text for `None`, `Custom` and any code
// outside the table.
std::string_view HttpMethodName(HttpMethod method);

// Maps a method code received from the host: codes outside 1 to 8 become `None`.
HttpMethod HttpMethodFromHost(std::int32_t code);

} // namespace Korvel
