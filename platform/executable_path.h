#pragma once

#include <cstddef>

namespace Korvel::Platform {

// Writes the full path of the running process's executable into `buffer`
// (GetModuleFileNameA of the process module), truncated to fit and always
// NUL-terminated when size > 0. Returns the length written, 0 on failure.
std::size_t ReadExecutablePath(char* buffer, std::size_t size);

} // namespace Korvel::Platform
