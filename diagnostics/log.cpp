#include "diagnostics/log.h"

#include <cstdio>

namespace Korvel {

// Provisional: writes WARN and above to standard error until the logger with
// its targets lands.
void LogMessageV(LogLevel level, uint64_t categories, const char* format, va_list arguments) {
    (void)categories;
    if (static_cast<int32_t>(level) < 1) {
        return;
    }
    char text[kLogBufferSize];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::fputs(text, stderr);
    std::fputs("\n", stderr);
}

void LogMessage(LogLevel level, uint64_t categories, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    LogMessageV(level, categories, format, arguments);
    va_end(arguments);
}

uint64_t RegisterCategory(const char*) {
    return 0;
}

void RegisterLoadTimeCategories() {}

} // namespace Korvel
