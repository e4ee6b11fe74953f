#include "platform/executable_path.h"

#include <unistd.h>

namespace Korvel::Platform {

std::size_t ReadExecutablePath(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
    if (length <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[length] = '\0';
    return static_cast<std::size_t>(length);
}

} // namespace Korvel::Platform
