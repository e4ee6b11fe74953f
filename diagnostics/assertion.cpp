#include "diagnostics/assertion.h"

#include <cstdio>

#include "diagnostics/log.h"

namespace Korvel {
namespace {

bool Present(const char* text) {
    return text != nullptr && text[0] != '\0';
}

} // namespace

std::string BuildAssertionText(const char* expression, const char* description, const char* file,
                               int32_t line, const char* function) {
    std::string text = "Assertion failed!\n\n";
    if (Present(file)) {
        text += "File: ";
        text += file;
        text += "\n";
    }
    if (line != 0) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", static_cast<int>(line));
        text += "Line: ";
        text += digits;
        text += "\n\n";
    }
    if (Present(function)) {
        text += "Function: ";
        text += function;
        text += "\n\n";
    }
    if (Present(expression)) {
        text += "Expression: ";
        text += expression;
    }
    if (Present(description)) {
        text += "\n\nDescription: ";
        text += description;
    }
    return text;
}

void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) {
    const std::string text = BuildAssertionText(expression, description, file, line, function);
    // Through "%s", so that per-cent signs in the inputs are printed as they are.
    LogMessage(LogLevel::Error, kLogCategoryDbg, "%s", text.c_str());
}

void ReportFatalMarker(const char* marker) {
    ReportAssertion(marker, "", "", 0, "");
}

} // namespace Korvel
