#include "platform/debugger_output.h"

namespace Korvel::Platform::Detail {

// POSIX systems have no debugger output channel.
void WriteSystemDebuggerOutput(const char*) {}

} // namespace Korvel::Platform::Detail
