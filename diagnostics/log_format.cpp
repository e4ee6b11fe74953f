// The parts of logging that need no logger: the category table, level names,
// time stamps and the line templates.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "diagnostics/logging_api.h"
#include "platform/clock.h"
#include "platform/executable_path.h"
#include "platform/local_time.h"
#include "platform/static_mutex.h"
#include "platform/thread_id.h"

namespace Korvel {
namespace {

// Category names packed into one word each (three characters, low byte
// first), so that lines can be formatted while another thread registers.
constexpr uint32_t Pack(const char* name) {
    uint32_t packed = 0;
    for (int i = 0; i < 3 && name[i] != '\0'; ++i) {
        packed |= static_cast<uint32_t>(static_cast<unsigned char>(name[i])) << (8 * i);
    }
    return packed;
}

constexpr std::array<uint32_t, kLogCategoryCount> InitialCategoryNames() {
    std::array<uint32_t, kLogCategoryCount> names{};
    const char* const fixed[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
    for (int i = 0; i < kLogCategoryCount; ++i) {
        names[static_cast<std::size_t>(i)] = Pack(i < 8 ? fixed[i] : "???");
    }
    return names;
}

// Constant-initialised, so that static constructors may register categories
// in any order. Entries are read and written through atomic_ref.
constinit std::array<uint32_t, kLogCategoryCount> categoryNames = InitialCategoryNames();
// Highest entry in use.
constinit std::atomic<int> highestCategory{7};
// Serialises registrations, so a name registered by two threads at once
// still gets one bit.
constinit Platform::StaticMutex registerMutex;

uint32_t CategoryName(int index) {
    return std::atomic_ref<uint32_t>(categoryNames[static_cast<std::size_t>(index)])
        .load(std::memory_order_relaxed);
}

std::size_t Append(char* buffer, std::size_t limit, std::size_t length, const char* text,
                   std::size_t textLength) {
    const std::size_t room = limit > length ? limit - length : 0;
    const std::size_t n = textLength < room ? textLength : room;
    std::memcpy(buffer + length, text, n);
    return length + n;
}

std::size_t AppendPrinted(char* buffer, std::size_t limit, std::size_t length, const char* text,
                          int printed) {
    if (printed <= 0) {
        return length;
    }
    return Append(buffer, limit, length, text, static_cast<std::size_t>(printed));
}

// The module name; "<unknown>" until the logger reads the executable's name.
char moduleName[1024] = "<unknown>";
std::once_flag moduleNameOnce;

std::atomic<uint64_t> firstCounter{0};

} // namespace

uint64_t RegisterCategory(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    const uint32_t packed = Pack(name);
    std::lock_guard<Platform::StaticMutex> guard(registerMutex);
    const int highest = highestCategory.load(std::memory_order_acquire);
    for (int i = 0; i <= highest; ++i) {
        if (CategoryName(i) == packed) {
            return uint64_t{1} << i;
        }
    }
    if (highest + 1 >= kLogCategoryCount) {
        // The table is full: no mask is defined beyond 64 categories.
        return 0;
    }
    std::atomic_ref<uint32_t>(categoryNames[static_cast<std::size_t>(highest + 1)])
        .store(packed, std::memory_order_relaxed);
    highestCategory.store(highest + 1, std::memory_order_release);
    return uint64_t{1} << (highest + 1);
}

void RegisterLoadTimeCategories() {
    RegisterCategory("LOC");
}

namespace Logging {

void ReadModuleName() {
    std::call_once(moduleNameOnce, [] {
        char path[1024];
        if (Platform::ReadExecutablePath(path, sizeof path) == 0) {
            return;
        }
        const char* name = path;
        for (const char* p = path; *p != '\0'; ++p) {
            if (*p == '\\' || *p == '/') {
                name = p + 1;
            }
        }
        std::snprintf(moduleName, sizeof moduleName, "%s", name);
    });
}

const char* ModuleName() {
    return moduleName;
}

std::size_t FormatCategories(char* buffer, std::size_t size, uint64_t mask) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const std::size_t limit = size - 1;
    std::size_t length = 0;
    bool first = true;
    for (int i = 0; i < kLogCategoryCount; ++i) {
        if ((mask & (uint64_t{1} << i)) == 0) {
            continue;
        }
        if (!first) {
            length = Append(buffer, limit, length, ";", 1);
        }
        first = false;
        const uint32_t packed = CategoryName(i);
        char name[4] = {static_cast<char>(packed & 0xFF), static_cast<char>((packed >> 8) & 0xFF),
                        static_cast<char>((packed >> 16) & 0xFF), '\0'};
        length = Append(buffer, limit, length, name, std::strlen(name));
    }
    buffer[length] = '\0';
    return length;
}

const char* LevelName(int32_t level) {
    static const char* const names[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
    if (level < 0 || level > 3) {
        return "   ???";
    }
    return names[level];
}

void CaptureTime(LogRecord* record) {
    if (record == nullptr) {
        return;
    }
    const Platform::LocalTime now = Platform::ReadLocalTime();
    record->time =
        LogTime{now.year, now.month, now.day, now.hour, now.minute, now.second, now.millisecond};
}

std::size_t FormatTimestamp(char* buffer, std::size_t size, const LogTime& time) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const int printed =
        std::snprintf(buffer, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month,
                      time.day, time.hour, time.minute, time.second, time.millisecond);
    return printed < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(printed), size - 1);
}

std::size_t FormatFileTimestamp(char* buffer, std::size_t size, const LogTime& time) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const int printed = std::snprintf(buffer, size, "%04d-%02d-%02dT%02d-%02d-%02d", time.year,
                                      time.month, time.day, time.hour, time.minute, time.second);
    return printed < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(printed), size - 1);
}

// Seconds since the process first read the counter here, as "%06d.%03d".
static int FormatElapsed(char* text, std::size_t size) {
    const uint64_t now = Platform::ReadHighResolutionCounter();
    uint64_t first = firstCounter.load(std::memory_order_relaxed);
    if (first == 0 && !firstCounter.compare_exchange_strong(first, now)) {
        // Another thread set the start in between; `first` now holds it.
    } else if (first == 0) {
        first = now;
    }
    // A thread that read the counter just before another set the start sees a start later than
    // its own reading: that line was written at the start.
    const uint64_t elapsed = now > first ? now - first : 0;
    const float seconds =
        static_cast<float>(elapsed) / static_cast<float>(Platform::HighResolutionFrequency());
    const int whole = static_cast<int>(seconds);
    const int thousandths = static_cast<int>((seconds - static_cast<float>(whole)) * 1000.0f);
    return std::snprintf(text, size, "%06d.%03d", whole, thousandths);
}

std::size_t FormatLine(char* buffer, std::size_t size, const char* lineTemplate,
                       const LogRecord& record) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    if (size < 3) {
        // No room for text besides the line end.
        const std::size_t length = size - 1;
        if (length == 1) {
            buffer[0] = '\n';
        }
        buffer[length] = '\0';
        return length;
    }
    // Two bytes stay reserved for the line end and the NUL.
    const std::size_t limit = size - 2;
    std::size_t length = 0;
    const char* p = lineTemplate != nullptr ? lineTemplate : "";
    char text[128];
    while (*p != '\0' && length < limit) {
        if (*p != '#') {
            buffer[length++] = *p++;
            continue;
        }
        const char code = p[1];
        if (code == '\0') {
            break; // "#" as the last character gives nothing
        }
        p += 2;
        switch (code) {
        case 'D':
            length = Append(buffer, limit, length, text,
                            FormatTimestamp(text, sizeof text, record.time));
            break;
        case 'E': {
            const char* name = ModuleName();
            length = Append(buffer, limit, length, name, std::strlen(name));
            break;
        }
        case 'G': {
            char names[kLogCategoryCount * 4 + 1];
            length = Append(buffer, limit, length, names,
                            FormatCategories(names, sizeof names, record.categories));
            break;
        }
        case 'H':
            length = AppendPrinted(buffer, limit, length, text, FormatElapsed(text, sizeof text));
            break;
        case 'L': {
            const char* name = LevelName(record.level);
            length = Append(buffer, limit, length, name, std::strlen(name));
            break;
        }
        case 'M':
            if (record.message != nullptr) {
                length = Append(buffer, limit, length, record.message, std::strlen(record.message));
            }
            break;
        case 'T':
            length =
                AppendPrinted(buffer, limit, length, text,
                              std::snprintf(text, sizeof text, "%08X",
                                            static_cast<unsigned>(Platform::CurrentThreadId())));
            break;
        default:
            buffer[length++] = code;
            break;
        }
    }
    if (length == 0 || buffer[length - 1] != '\n') {
        buffer[length++] = '\n';
    }
    buffer[length] = '\0';
    return length;
}

} // namespace Logging
} // namespace Korvel
