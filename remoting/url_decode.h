#pragma once

#include <string>
#include <string_view>

namespace Korvel {

// Decodes a URL path capture or query component: "+" becomes a space and "%" followed by two
// more characters becomes the byte they spell as hexadecimal digits (either case); the three
// characters are consumed. A character that is not a hexadecimal digit counts as 16 and the byte
// is the low 8 bits of high * 16 + low. A "%" with fewer than two characters after it is dropped.
std::string UrlDecode(std::string_view text);

} // namespace Korvel
