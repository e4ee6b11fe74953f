#ifdef _WIN32

#include "platform/text.h"

#include <string.h>

namespace Korvel::Platform {

int CompareTextNoCase(const char* a, const char* b, std::size_t count) {
    return _strnicmp(a, b, count);
}

} // namespace Korvel::Platform

#endif // _WIN32
