#pragma once

#include <cstdarg>
#include <cstdint>

#if defined(__GNUC__) || defined(__clang__)
#define KORVEL_PRINTF_FORMAT(formatIndex, firstArgument)                                           \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define KORVEL_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// The process-wide logger's entry points. A message carries a level and a
// 64-bit category mask; the logger drops it unless its level reaches the
// logger's minimum and no category is muted, formats it printf-style and
// offers it to every attached log target.
namespace Korvel {

enum class LogLevel : int32_t { Okay = 0, Warn = 1, Error = 2, Always = 3 };

// Bit i of a category mask stands for entry i of the category table.
inline constexpr uint64_t kLogCategoryDbg = 0x1;
inline constexpr uint64_t kLogCategoryGen = 0x2;
inline constexpr uint64_t kLogCategoryXtr = 0x4;
inline constexpr uint64_t kLogCategoryPrf = 0x8;
inline constexpr uint64_t kLogCategoryMem = 0x10;
inline constexpr uint64_t kLogCategoryDsk = 0x20;
inline constexpr uint64_t kLogCategoryNet = 0x40;
inline constexpr uint64_t kLogCategoryTst = 0x80;

// Number of entries of the category table.
inline constexpr int kLogCategoryCount = 64;
// Size of the stack buffers that messages and lines are formatted into.
inline constexpr int kLogBufferSize = 4096;

// Local time of a record.
struct LogTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t millisecond;
};

// What the logger hands to targets; `message` is valid only during dispatch.
struct LogRecord {
    LogTime time;
    int32_t level;
    uint64_t categories;
    const char* message;
};

void LogMessage(LogLevel level, uint64_t categories, const char* format, ...)
    KORVEL_PRINTF_FORMAT(3, 4);
void LogMessageV(LogLevel level, uint64_t categories, const char* format, va_list arguments)
    KORVEL_PRINTF_FORMAT(3, 0);

// Returns the mask of the category with this three-letter name (only the
// first three characters count), registering it in the next free entry when
// it is new. Bit 8 is taken by "LOC" at library load. When all 64 entries are
// in use a new name gets mask 0, which no filter excludes or selects.
uint64_t RegisterCategory(const char* name);

// Registers the categories the library registers when it is loaded ("LOC").
// The shared library calls this from a static initialiser; a program linking
// the static library calls it itself when it wants the same table.
void RegisterLoadTimeCategories();

} // namespace Korvel
