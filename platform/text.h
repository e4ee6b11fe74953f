#pragma once

#include <cstddef>

namespace Korvel::Platform {

// Compares at most `count` characters of two NUL-terminated texts ignoring
// ASCII case (_strnicmp / strncasecmp): <0, 0 or >0.
int CompareTextNoCase(const char* a, const char* b, std::size_t count);

} // namespace Korvel::Platform
