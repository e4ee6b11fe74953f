#include "platform/executable_path.h"

#include <climits>
#include <cstring>

#include <unistd.h>

namespace Korvel::Platform {

std::size_t ReadExecutablePath(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    buffer[0] = '\0';
    // The whole path first (the system's paths are shorter than PATH_MAX), so that a cut can be
    // placed between two characters.
    char path[PATH_MAX];
    const ssize_t read = readlink("/proc/self/exe", path, sizeof path);
    if (read <= 0) {
        return 0;
    }
    const auto length = static_cast<std::size_t>(read);
    std::size_t kept = length < size ? length : size - 1;
    // A cut before a UTF-8 continuation byte would split a character: the character goes whole.
    for (int back = 0; back < 3 && kept > 0 && kept < length &&
                       (static_cast<unsigned char>(path[kept]) & 0xC0) == 0x80;
         ++back) {
        --kept;
    }
    std::memcpy(buffer, path, kept);
    buffer[kept] = '\0';
    return kept;
}

} // namespace Korvel::Platform
