#ifdef _WIN32

#include "platform/debugger_output.h"

#include <windows.h>

namespace Korvel::Platform::Detail {

void WriteSystemDebuggerOutput(const char* text) {
    OutputDebugStringA(text);
}

} // namespace Korvel::Platform::Detail

#endif // _WIN32
