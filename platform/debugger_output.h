#pragma once

namespace Korvel::Platform {

// Passes a text to the debugger's output channel (OutputDebugStringA). There
// is no such channel on POSIX systems: the text goes to the capture hook when
// one is set and is dropped otherwise.
void WriteDebuggerOutput(const char* text);

// Receives every text passed to WriteDebuggerOutput, in addition to the
// system channel where there is one. Null removes the hook.
using DebuggerOutputHook = void (*)(const char* text, void* context);
void SetDebuggerOutputHook(DebuggerOutputHook hook, void* context);

} // namespace Korvel::Platform

namespace Korvel::Platform::Detail {

// The system channel alone; provided by each platform's implementation.
void WriteSystemDebuggerOutput(const char* text);

} // namespace Korvel::Platform::Detail
