#include "platform/text.h"

namespace Korvel::Platform {
namespace {

int FoldAsciiCase(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

} // namespace

// The run-times' own functions fold by the current locale, and some compare bytes above ASCII as
// signed: this one folds ASCII letters only and compares bytes as unsigned on every system.
int CompareTextNoCase(const char* a, const char* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const int left = FoldAsciiCase(static_cast<unsigned char>(a[i]));
        const int right = FoldAsciiCase(static_cast<unsigned char>(b[i]));
        if (left != right || left == 0) {
            return left - right;
        }
    }
    return 0;
}

} // namespace Korvel::Platform
