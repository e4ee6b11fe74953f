#pragma once

#include <string>
#include <string_view>

namespace Korvel {

// Decodes a URL path capture or query component: "+" becomes a space and "%" followed by two
// hexadecimal digits (either case) becomes the byte they spell. A "%" that is not followed by two
// hexadecimal digits (including one cut off at the end of the text) is kept as literal text, so
// malformed input never turns into bytes the sender did not write.
std::string UrlDecode(std::string_view text);

} // namespace Korvel
