#include "platform/text.h"

#include <strings.h>

namespace Korvel::Platform {

int CompareTextNoCase(const char* a, const char* b, std::size_t count) {
    return strncasecmp(a, b, count);
}

} // namespace Korvel::Platform
