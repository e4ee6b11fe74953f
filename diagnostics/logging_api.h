#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "diagnostics/log.h"
#include "diagnostics/log_target.h"

namespace Korvel {

// The plain table through which the logger is reached (GetLoggingApi).
struct LoggingApi {
    int32_t (*interfaceVersion)();
    // The first reference creates the logger; the last release destroys it
    // (detaching every target). Releasing to zero must not race with other
    // threads using the logger.
    void (*addRef)();
    void (*release)();
    void (*setMinLevel)(int32_t level);
    int32_t (*getMinLevel)();
    void (*setMutedCategories)(uint64_t mask);
    uint64_t (*getMutedCategories)();
    void (*disable)();
    void (*enable)();
    void (*setReservedFlag)();
    void (*clearReservedFlag)();
    // Appends to the list without touching the target's attached flag.
    void (*addTarget)(LogTargetFunctions* target);
    // Removes every occurrence; does nothing when no logger exists.
    void (*removeTarget)(LogTargetFunctions* target);
    // The first target in the list whose name equals `name`, or null.
    LogTargetFunctions* (*findTarget)(const char* name);
    LogTargetFunctions* (*getStdOutTarget)();
    LogTargetFunctions* (*getStdErrTarget)();
    LogTargetFunctions* (*getDebuggerTarget)();
    uint64_t (*registerCategory)(const char* name);
    std::size_t (*formatCategories)(char* buffer, std::size_t size, uint64_t mask);
    std::size_t (*formatLine)(char* buffer, std::size_t size, const char* lineTemplate,
                              const LogRecord* record);
    const char* (*levelName)(int32_t level);
    const char* (*moduleName)();
    void (*captureTime)(LogRecord* record);
    std::size_t (*formatTimestamp)(char* buffer, std::size_t size, const LogTime* time);
    std::size_t (*formatFileTimestamp)(char* buffer, std::size_t size, const LogTime* time);
    // The category mask travels as two 32-bit halves, low first.
    void (*logMessageV)(int32_t level, uint32_t categoriesLow, uint32_t categoriesHigh,
                        const char* format, va_list arguments);
};

inline constexpr int32_t kLoggingApiVersion = 1;

const LoggingApi* GetLoggingApi();

// The same operations for C++ callers of this module.
namespace Logging {

void AddRef();
void Release();
// Whether the logger exists at the moment.
bool Exists();
// Destroys the logger whatever its reference count, as the last step of
// unloading the library that holds it; a later message creates a new one.
void DestroyAtUnload();
void SetMinLevel(int32_t level);
int32_t GetMinLevel();
void SetMutedCategories(uint64_t mask);
uint64_t GetMutedCategories();
void Disable();
void Enable();
bool IsDisabled();
void SetReservedFlag();
void ClearReservedFlag();
bool GetReservedFlag();
void AddTarget(LogTargetFunctions* target);
void RemoveTarget(LogTargetFunctions* target);
LogTargetFunctions* FindTarget(const char* name);
// Number of entries of the target list (a target added twice counts twice).
std::size_t TargetCount();
LogTargetFunctions* GetStdOutTarget();
LogTargetFunctions* GetStdErrTarget();
LogTargetFunctions* GetDebuggerTarget();

// "#G": the names of the categories in the mask, in bit order, separated by
// ";". Entries not registered read "???". Returns the length written.
std::size_t FormatCategories(char* buffer, std::size_t size, uint64_t mask);
// Formats a record with a line template and ends the line with "\n" (see
// log_format.cpp). Returns the length written.
std::size_t FormatLine(char* buffer, std::size_t size, const char* lineTemplate,
                       const LogRecord& record);
// "  OKAY", "  WARN", " ERROR", "ALWAYS"; "   ???" for any other level.
const char* LevelName(int32_t level);
// The executable's file name without directory, or "<unknown>".
const char* ModuleName();
void CaptureTime(LogRecord* record);
// "%04d-%02d-%02dT%02d:%02d:%02d.%03d"
std::size_t FormatTimestamp(char* buffer, std::size_t size, const LogTime& time);
// "%04d-%02d-%02dT%02d-%02d-%02d"
std::size_t FormatFileTimestamp(char* buffer, std::size_t size, const LogTime& time);

} // namespace Logging
} // namespace Korvel
