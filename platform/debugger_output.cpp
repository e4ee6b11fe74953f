#include "platform/debugger_output.h"

#include <mutex>

namespace Korvel::Platform {
namespace {

std::mutex hookMutex;
DebuggerOutputHook hookFunction = nullptr;
void* hookContext = nullptr;

} // namespace

void SetDebuggerOutputHook(DebuggerOutputHook hook, void* context) {
    std::lock_guard<std::mutex> guard(hookMutex);
    hookFunction = hook;
    hookContext = context;
}

void WriteDebuggerOutput(const char* text) {
    if (text == nullptr) {
        return;
    }
    Detail::WriteSystemDebuggerOutput(text);
    // The hook runs under the mutex so that it cannot be removed (and its
    // context destroyed) while it runs; it must not set the hook itself.
    std::lock_guard<std::mutex> guard(hookMutex);
    if (hookFunction != nullptr) {
        hookFunction(text, hookContext);
    }
}

} // namespace Korvel::Platform
