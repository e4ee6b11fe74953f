#pragma once

#include <string>
#include <string_view>

#include "remoting/http_method.h"

namespace Korvel {

// Outcome of setting a route path: refused paths leave the route unchanged.
struct RouteRegistration {
    bool failed = false;
    std::string message;
};

// The route fields of a bound function: the path (or path template) it answers on and the
// method it accepts. An empty path means the function is reached by its name only.
struct FunctionRoute {
    std::string path;
    HttpMethod method = HttpMethod::None;
    // Compared only when `method` is `Custom`.
    std::string methodText;

    // Stores the path with one trailing "/" removed when it is longer than one character.
    // Malformed templates are refused with a message and leave the stored path unchanged.
    RouteRegistration SetPath(std::string_view newPath);
    // Stores the method and clears the method text.
    void SetMethod(HttpMethod newMethod);
    // Stores `Custom` together with the method's name.
    void SetCustomMethod(std::string_view text);

    // The text that requests are matched against: the path, or the function's name when the
    // path is empty.
    std::string_view Pattern(std::string_view functionName) const {
        return path.empty() ? functionName : std::string_view(path);
    }
};

// The path as it is stored for a route: one trailing "/" removed when longer than one character.
std::string NormaliseRoutePath(std::string_view path);

} // namespace Korvel
