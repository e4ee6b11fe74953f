#pragma once

#include <string>
#include <string_view>

#include "remoting/http_method.h"

namespace Korvel {

// Derives the name of a function registered from an HTTP path without an explicit name:
// the method name in title case, then the path, turned into an identifier. Separators
// ("!", "+", "-", ".", "/", "_") are dropped and capitalise the next character, "{" becomes
// "By" and "}" is dropped, so GET "/items/{id}" gives "GetItemsById".
std::string FunctionNameFromPath(HttpMethod method, std::string_view path);

} // namespace Korvel
