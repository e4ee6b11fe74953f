#ifdef _WIN32

#include "platform/executable_path.h"

#include <windows.h>

namespace Korvel::Platform {

std::size_t ReadExecutablePath(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
    // On truncation Windows XP leaves the text unterminated.
    const std::size_t kept = length < size ? length : size - 1;
    buffer[kept] = '\0';
    return kept;
}

} // namespace Korvel::Platform

#endif // _WIN32
