#pragma once

#include <cstddef>

namespace Korvel::Platform {

// Compares at most `count` characters of two NUL-terminated texts ignoring
// ASCII case, as _strnicmp / strncasecmp do in the C locale: <0, 0 or >0.
// Bytes above ASCII are not folded and order as unsigned values, above ASCII.
int CompareTextNoCase(const char* a, const char* b, std::size_t count);

} // namespace Korvel::Platform
