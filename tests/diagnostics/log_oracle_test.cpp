// The logger and its targets compared with a plain second reading of their rules: which targets a
// message reaches (the logger's level, muted mask and disabled flag, then each target's level and
// included and excluded masks), the text printf makes of the message within its 4096-byte buffer,
// and the line each target makes of the record with its template. Cases come from a seeded
// generator, so every run checks the same ones. The record's time is the one the logger read:
// a target that keeps the raw records, attached first, tells the oracle what it was.

#include <algorithm>
#include <array>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/logging_api.h"
#include "log_capture.h"
#include "platform/debugger_output.h"
#include "platform/thread_id.h"
#include "plugin/host_function_table.h"
#include "plugin/plugin_log_target.h"
#include "support/split_mix.h"

namespace Korvel {
namespace {

class Generator : public Korvel::Testing::SplitMix64 {
public:
    using SplitMix64::SplitMix64;
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
    int32_t Between(int32_t low, int32_t high) {
        return low + static_cast<int32_t>(Below(static_cast<uint32_t>(high - low + 1)));
    }
    bool Percent(uint32_t chance) { return Below(100) < chance; }
    char Pick(const char* characters) {
        return characters[Below(static_cast<uint32_t>(std::strlen(characters)))];
    }
};

// ---- The oracle ----------------------------------------------------------------------------

// A decimal as "%0<width>d" prints it: the sign counts towards the width.
std::string Padded(int64_t value, int width) {
    uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    const std::size_t sign = value < 0 ? 1 : 0;
    if (digits.size() + sign < static_cast<std::size_t>(width)) {
        digits.insert(0, static_cast<std::size_t>(width) - sign - digits.size(), '0');
    }
    return value < 0 ? "-" + digits : digits;
}

std::string Hex8(uint32_t value) {
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    }
    return text;
}

std::string OracleLevel(int32_t level) {
    switch (level) {
    case 0:
        return "  OKAY";
    case 1:
        return "  WARN";
    case 2:
        return " ERROR";
    case 3:
        return "ALWAYS";
    default:
        return "   ???";
    }
}

std::string OracleStamp(const LogTime& t) {
    return Padded(t.year, 4) + "-" + Padded(t.month, 2) + "-" + Padded(t.day, 2) + "T" +
           Padded(t.hour, 2) + ":" + Padded(t.minute, 2) + ":" + Padded(t.second, 2) + "." +
           Padded(t.millisecond, 3);
}

// The category table: the eight fixed names, then the entries registered so far in this
// program (other tests register some), then "???".
struct CategoryNames {
    std::array<std::string, kLogCategoryCount> names;
    int registered = 8; // entries before the first "???"
};

CategoryNames ReadCategoryNames() {
    CategoryNames table;
    const char* const fixed[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
    for (int i = 0; i < 8; ++i) {
        table.names[static_cast<std::size_t>(i)] = fixed[i];
    }
    for (int i = 8; i < kLogCategoryCount; ++i) {
        char text[16];
        Logging::FormatCategories(text, sizeof text, uint64_t{1} << i);
        table.names[static_cast<std::size_t>(i)] = text;
    }
    while (table.registered < kLogCategoryCount &&
           table.names[static_cast<std::size_t>(table.registered)] != "???") {
        ++table.registered;
    }
    return table;
}

std::string OracleCategories(uint64_t mask, const CategoryNames& table) {
    std::string text;
    for (int i = 0; i < kLogCategoryCount; ++i) {
        if ((mask >> i) & 1) {
            if (!text.empty()) {
                text += ";";
            }
            text += table.names[static_cast<std::size_t>(i)];
        }
    }
    return text;
}

// The expected line, and beside it the shape of every character: ' ' for a character that must
// be equal, 'd' for a digit and '.' for the point of the clock-dependent "#H" field.
struct ExpectedLine {
    std::string text;
    std::string shape;
};

ExpectedLine OracleLine(const std::string& lineTemplate, const LogRecord& record, std::size_t size,
                        const CategoryNames& table, uint32_t threadId) {
    ExpectedLine line;
    const auto add = [&line](const std::string& text) {
        line.text += text;
        line.shape.append(text.size(), ' ');
    };
    for (std::size_t i = 0; i < lineTemplate.size(); ++i) {
        if (lineTemplate[i] != '#') {
            add(std::string(1, lineTemplate[i]));
            continue;
        }
        if (i + 1 == lineTemplate.size()) {
            break;
        }
        const char code = lineTemplate[++i];
        switch (code) {
        case 'D':
            add(OracleStamp(record.time));
            break;
        case 'E':
            add(KORVEL_TEST_PROGRAM);
            break;
        case 'G':
            add(OracleCategories(record.categories, table));
            break;
        case 'H':
            // Whole seconds and thousandths since the counter was first read: six and three
            // digits while the program runs for less than eleven days.
            line.text += "000000.000";
            line.shape += "dddddd.ddd";
            break;
        case 'L':
            add(OracleLevel(record.level));
            break;
        case 'M':
            add(record.message != nullptr ? record.message : "");
            break;
        case 'T':
            add(Hex8(threadId));
            break;
        default:
            add(std::string(1, code));
            break;
        }
    }
    // Two bytes stay for the line end and the terminating NUL.
    if (line.text.size() > size - 2) {
        line.text.resize(size - 2);
        line.shape.resize(size - 2);
    }
    if (line.text.empty() || line.text.back() != '\n') {
        line.text += "\n";
        line.shape += " ";
    }
    return line;
}

// Empty when the text has the expected shape, else a description of the first difference.
std::string Compare(const std::string& actual, const ExpectedLine& expected) {
    const std::size_t common = std::min(actual.size(), expected.text.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char shape = expected.shape[i];
        const char c = actual[i];
        const bool ok = shape == ' '   ? c == expected.text[i]
                        : shape == 'd' ? (c >= '0' && c <= '9')
                                       : c == '.';
        if (!ok) {
            return "differs at " + std::to_string(i) + ": got '" + actual.substr(i, 40) +
                   "', expected '" + expected.text.substr(i, 40) + "'";
        }
    }
    if (actual.size() != expected.text.size()) {
        return "length " + std::to_string(actual.size()) + ", expected " +
               std::to_string(expected.text.size());
    }
    return "";
}

void Append(ExpectedLine& all, const ExpectedLine& line) {
    all.text += line.text;
    all.shape += line.shape;
}

struct Filter {
    int32_t minLevel;
    uint64_t included;
    uint64_t excluded;
};

bool TargetAccepts(const Filter& filter, int32_t level, uint64_t mask) {
    if (level < filter.minLevel) {
        return false;
    }
    if (mask == 0) {
        return true;
    }
    // The included mask is kept without the excluded bits.
    const uint64_t included = filter.included & ~filter.excluded;
    return (mask & filter.excluded) == 0 && (included == 0 || (mask & included) != 0);
}

// A printf format built from pieces, with the text printf makes of it: literal text with "%%"
// in it, then "%s", "%d" and "%s" with their arguments.
struct Message {
    std::string format;
    std::string first;
    int number = 0;
    std::string second;
    std::string expected;
};

std::string RandomText(Generator& random, std::size_t length, bool withPercent) {
    static const char kPlain[] = "abcXYZ 019|;:#-_()[]\t\n";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (withPercent && random.Percent(8)) {
            text += random.Pick("%");
            if (random.Percent(50)) {
                text += random.Pick("sdnx%");
            }
        } else if (random.Percent(3)) {
            text += static_cast<char>(0x80 + random.Below(0x7F)); // bytes above ASCII pass as is
        } else {
            text += random.Pick(kPlain);
        }
    }
    return text;
}

// Literal format text: every "%" escaped, so printf gives back the text.
std::string Escaped(const std::string& text) {
    std::string format;
    for (char c : text) {
        format += c;
        if (c == '%') {
            format += '%';
        }
    }
    return format;
}

std::size_t RandomLength(Generator& random) {
    const uint32_t kind = random.Below(20);
    if (kind == 0) {
        return 3000 + random.Below(8000); // past the 4096-byte buffer now and then
    }
    if (kind == 1) {
        return 0;
    }
    return random.Below(60);
}

Message RandomMessage(Generator& random) {
    Message message;
    const std::string lead = RandomText(random, RandomLength(random) / 2, true);
    const std::string middle = RandomText(random, random.Below(10), true);
    const std::string tail = RandomText(random, random.Below(10), true);
    message.first = RandomText(random, RandomLength(random), true);
    message.second = RandomText(random, random.Below(12), true);
    message.number = static_cast<int>(static_cast<uint32_t>(random.Next()));
    if (random.Percent(30)) {
        message.number = random.Between(-1000, 1000);
    }
    message.format = Escaped(lead) + "%s" + Escaped(middle) + "%d" + Escaped(tail) + "%s";
    message.expected =
        lead + message.first + middle + Padded(message.number, 0) + tail + message.second;
    // printf writes at most 4095 characters and the NUL into the 4096-byte buffer.
    if (message.expected.size() > static_cast<std::size_t>(kLogBufferSize - 1)) {
        message.expected.resize(static_cast<std::size_t>(kLogBufferSize - 1));
    }
    return message;
}

uint64_t RandomMask(Generator& random) {
    switch (random.Below(6)) {
    case 0:
        return 0;
    case 1:
        return uint64_t{1} << random.Below(8);
    case 2:
        return uint64_t{1} << random.Below(64);
    case 3:
        return random.Next() & 0xFF;
    case 4:
        return (uint64_t{1} << random.Below(8)) | (uint64_t{1} << random.Below(64));
    default:
        return random.Next() & random.Next();
    }
}

// A mask for a target's or the logger's filter: mostly narrow, so that messages pass.
uint64_t RandomFilterMask(Generator& random) {
    if (random.Percent(40)) {
        return 0;
    }
    uint64_t mask = 0;
    const uint32_t bits = 1 + random.Below(3);
    for (uint32_t i = 0; i < bits; ++i) {
        mask |= uint64_t{1} << (random.Percent(70) ? random.Below(8) : random.Below(64));
    }
    return mask;
}

std::string RandomTemplate(Generator& random) {
    static const char kCodes[] = "DEGHLMT";
    static const char kOthers[] = "#xdm%| \n1ZA?";
    const uint32_t kind = random.Below(25);
    std::size_t pieces = random.Below(14);
    if (kind == 0) {
        return "";
    }
    if (kind == 1) {
        pieces = 800 + random.Below(2500); // longer than any line
    }
    std::string text;
    for (std::size_t i = 0; i < pieces; ++i) {
        const uint32_t what = random.Below(10);
        if (what < 4) {
            text += '#';
            text += random.Pick(kCodes);
        } else if (what < 5) {
            text += '#';
            text += random.Pick(kOthers);
        } else {
            text += RandomText(random, 1 + random.Below(4), true);
        }
    }
    if (random.Percent(15)) {
        text += '#'; // a last "#" gives nothing
    }
    return text;
}

LogTime RandomTime(Generator& random) {
    LogTime time{};
    if (random.Percent(80)) {
        time = LogTime{random.Between(1601, 9999), random.Between(1, 12), random.Between(1, 31),
                       random.Between(0, 23),      random.Between(0, 59), random.Between(0, 60),
                       random.Between(0, 999)};
    } else {
        // Values beyond the fields' widths are printed whole.
        time = LogTime{random.Between(-99, 99999), random.Between(-9, 123), random.Between(0, 999),
                       random.Between(-5, 100),    random.Between(0, 1000), random.Between(-1, 99),
                       random.Between(-10, 12345)};
    }
    return time;
}

#ifndef _WIN32
// A moment as the C library's local time gives it, in the first 19 characters of "#D".
std::string LocalStamp(std::time_t moment) {
    std::tm parts{};
    localtime_r(&moment, &parts);
    return OracleStamp(LogTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                               parts.tm_min, parts.tm_sec, 0})
        .substr(0, 19);
}
#endif

// ---- Targets the comparison reads ------------------------------------------------------------

// Keeps the raw records: attached first and open to all, it sees every record the logger passes.
class RecordTarget : public LogTarget {
public:
    struct Seen {
        LogTime time;
        int32_t level;
        uint64_t categories;
        std::string message;
        uint32_t thread;
    };
    const char* GetName() const override { return "RecordTarget"; }
    bool Write(const LogRecord& record) override {
        std::lock_guard<std::mutex> guard(mutex_);
        seen_.push_back(Seen{record.time, record.level, record.categories,
                             record.message != nullptr ? record.message : "<null>",
                             Platform::CurrentThreadId()});
        return true;
    }
    std::vector<Seen> Take() {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::exchange(seen_, {});
    }

private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// A host whose Log function keeps the level and text of every call.
struct HostLog {
    HostFunctionTable table{};
    std::mutex mutex;
    std::vector<std::pair<int32_t, std::string>> calls;
};
HostLog* currentHostLog = nullptr;

void KORVEL_CDECL RecordHostLog(const HostFunctionTable*, int32_t level, const char* text) {
    std::lock_guard<std::mutex> guard(currentHostLog->mutex);
    currentHostLog->calls.emplace_back(level, text != nullptr ? text : "<null>");
}

// Logs through the plain interface table, the mask in two halves.
void LogThroughApi(int32_t level, uint64_t mask, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    GetLoggingApi()->logMessageV(level, static_cast<uint32_t>(mask),
                                 static_cast<uint32_t>(mask >> 32), format, arguments);
    va_end(arguments);
}

using LogOracle = Testing::FreshLoggerTest;

// ---- The comparisons ---------------------------------------------------------------------------

TEST_F(LogOracle, LineTemplatesMatchTheOracle) {
    const CategoryNames table = ReadCategoryNames();
    // Entries are handed out in order: after the first "???" no registered name follows.
    for (int i = table.registered; i < kLogCategoryCount; ++i) {
        ASSERT_EQ(table.names[static_cast<std::size_t>(i)], "???") << "entry " << i;
    }
    for (int i = 8; i < table.registered; ++i) {
        const std::string& name = table.names[static_cast<std::size_t>(i)];
        ASSERT_TRUE(!name.empty() && name.size() <= 3) << "entry " << i << ": " << name;
    }
    const uint32_t thread = Platform::CurrentThreadId();
    Generator random(0x10C0FFEE);
    std::vector<char> buffer(kLogBufferSize + 64);
    double lastElapsed = 0;
    for (int round = 0; round < 4000; ++round) {
        const std::string lineTemplate = RandomTemplate(random);
        const std::string message = random.Percent(20)
                                        ? RandomText(random, 4000 + random.Below(300), true)
                                        : RandomText(random, RandomLength(random), true);
        LogRecord record{};
        record.time = RandomTime(random);
        record.level = random.Percent(85) ? random.Between(0, 3) : random.Between(-3, 7);
        record.categories = RandomMask(random);
        record.message = message.c_str();
        const std::size_t size =
            random.Percent(70) ? static_cast<std::size_t>(kLogBufferSize) : 3 + random.Below(200);

        std::fill(buffer.begin(), buffer.end(), '\x7F');
        const std::size_t length =
            Logging::FormatLine(buffer.data(), size, lineTemplate.c_str(), record);
        const std::string actual(buffer.data(), length);
        ASSERT_EQ(buffer[length], '\0');
        ASSERT_LT(length, size);
        ASSERT_EQ(buffer[size], '\x7F') << "wrote past the buffer";
        const ExpectedLine expected = OracleLine(lineTemplate, record, size, table, thread);
        const std::string difference = Compare(actual, expected);
        ASSERT_EQ(difference, "") << "round " << round << ", template '"
                                  << lineTemplate.substr(0, 80) << "', size " << size;

        // "#H" counts up from the first reading.
        char elapsed[32];
        const std::size_t elapsedLength =
            Logging::FormatLine(elapsed, sizeof elapsed, "#H", record);
        ASSERT_EQ(elapsedLength, 11u) << elapsed;
        const double seconds = std::atof(elapsed);
        ASSERT_GE(seconds, lastElapsed) << elapsed;
        lastElapsed = seconds;

        // The interface table formats the same line.
        std::vector<char> again(size);
        ASSERT_EQ(GetLoggingApi()->formatLine(again.data(), size, lineTemplate.c_str(), &record),
                  length);
        ASSERT_EQ(Compare(std::string(again.data(), length), expected), "");

        // "#G" alone, at any size, is the oracle's text cut to fit.
        const std::size_t categoriesSize = 1 + random.Below(300);
        std::vector<char> names(categoriesSize);
        const std::size_t namesLength =
            Logging::FormatCategories(names.data(), categoriesSize, record.categories);
        ASSERT_EQ(std::string(names.data(), namesLength),
                  OracleCategories(record.categories, table).substr(0, categoriesSize - 1))
            << std::hex << record.categories;
        ASSERT_EQ(names[namesLength], '\0');
    }
}

TEST_F(LogOracle, ConsoleAndPluginTargetsWriteTheOracleLines) {
    // Each target given a record directly, with an injected time.
    const CategoryNames table = ReadCategoryNames();
    const uint32_t thread = Platform::CurrentThreadId();
    StdErrLogTarget stdErr;
    StdOutLogTarget stdOut;
    DebuggerConsoleLogTarget debugger;
    HostLog host;
    currentHostLog = &host;
    host.table.log = &RecordHostLog;
    PluginLogTarget plugin(&host.table);
    Testing::DebuggerCapture debuggerLines;

    Generator random(0x5EED0002);
    for (int round = 0; round < 30; ++round) {
        const std::string errTemplate = RandomTemplate(random);
        const std::string outTemplate = RandomTemplate(random);
        const std::string dbgTemplate = RandomTemplate(random);
        stdErr.SetFormat(errTemplate);
        stdOut.SetFormat(outTemplate);
        debugger.SetFormat(dbgTemplate);
        plugin.SetFormat(RandomTemplate(random)); // not applied
        stdOut.SetFlushAfterWrite(random.Percent(50));
        ExpectedLine err;
        ExpectedLine out;
        std::vector<ExpectedLine> dbg;
        std::vector<std::pair<int32_t, std::string>> hostCalls;
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        for (int i = 0; i < 20; ++i) {
            const Message message = RandomMessage(random);
            LogRecord record{};
            record.time = RandomTime(random);
            record.level = random.Between(-2, 5);
            record.categories = RandomMask(random);
            record.message = message.expected.c_str();
            // Write itself does not filter: the logger does that before it.
            EXPECT_TRUE(stdErr.Functions()->write(stdErr.Functions(), &record));
            EXPECT_TRUE(stdOut.Functions()->write(stdOut.Functions(), &record));
            EXPECT_TRUE(debugger.Functions()->write(debugger.Functions(), &record));
            EXPECT_TRUE(plugin.Functions()->write(plugin.Functions(), &record));
            Append(err, OracleLine(errTemplate, record, kLogBufferSize, table, thread));
            Append(out, OracleLine(outTemplate, record, kLogBufferSize, table, thread));
            dbg.push_back(OracleLine(dbgTemplate, record, kLogBufferSize, table, thread));
            hostCalls.emplace_back(record.level, message.expected);
        }
        stdOut.Flush();
        stdErr.Flush();
        const std::string outText = ::testing::internal::GetCapturedStdout();
        const std::string errText = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(Compare(errText, err), "") << "round " << round;
        EXPECT_EQ(Compare(outText, out), "") << "round " << round;
        ASSERT_EQ(debuggerLines.lines.size(), dbg.size());
        for (std::size_t i = 0; i < dbg.size(); ++i) {
            EXPECT_EQ(Compare(debuggerLines.lines[i], dbg[i]), "") << "round " << round;
        }
        debuggerLines.lines.clear();
        EXPECT_EQ(host.calls, hostCalls) << "round " << round;
        host.calls.clear();
    }
    currentHostLog = nullptr;
}

// One random setting of the logger and of its targets.
struct Settings {
    bool disabled;
    int32_t minLevel;
    uint64_t muted;
    Filter err, out, dbg, line, plugin;
    std::string errTemplate, outTemplate, dbgTemplate, lineTemplate;
};

Filter RandomFilter(Generator& random) {
    return Filter{random.Between(-1, 4), RandomFilterMask(random), RandomFilterMask(random)};
}

TEST_F(LogOracle, DispatchMatchesTheOracle) {
    const CategoryNames table = ReadCategoryNames();
    const uint32_t thread = Platform::CurrentThreadId();
    LogTarget* stdErr = LogTarget::FromFunctions(Logging::GetStdErrTarget());
    LogTarget* stdOut = LogTarget::FromFunctions(Logging::GetStdOutTarget());
    LogTarget* debugger = LogTarget::FromFunctions(Logging::GetDebuggerTarget());
    ASSERT_NE(stdErr, nullptr);
    ASSERT_NE(stdOut, nullptr);
    ASSERT_NE(debugger, nullptr);
    stdErr->Detach();
    debugger->Detach();

    RecordTarget records;
    records.Configure(LogTargetConfig{INT32_MIN, 0, 0, ""});
    Testing::LineCapture lines;
    HostLog host;
    currentHostLog = &host;
    host.table.log = &RecordHostLog;
    PluginLogTarget plugin(&host.table);
    Testing::DebuggerCapture debuggerLines;

    Generator random(0xD15BA7C4);
    for (int round = 0; round < 60; ++round) {
        Settings s{};
        s.disabled = random.Percent(8);
        s.minLevel = random.Between(-1, 3);
        s.muted = random.Percent(50) ? kLogCategoryXtr : RandomFilterMask(random);
        s.err = RandomFilter(random);
        s.out = RandomFilter(random);
        s.dbg = RandomFilter(random);
        s.line = RandomFilter(random);
        s.plugin = RandomFilter(random);
        s.errTemplate = RandomTemplate(random);
        s.outTemplate = RandomTemplate(random);
        s.dbgTemplate = RandomTemplate(random);
        s.lineTemplate = RandomTemplate(random);

        GetLoggingApi()->setMinLevel(s.minLevel);
        GetLoggingApi()->setMutedCategories(s.muted);
        if (s.disabled) {
            GetLoggingApi()->disable();
        } else {
            GetLoggingApi()->enable();
        }
        stdErr->Configure(
            LogTargetConfig{s.err.minLevel, s.err.included, s.err.excluded, s.errTemplate});
        stdOut->Configure(
            LogTargetConfig{s.out.minLevel, s.out.included, s.out.excluded, s.outTemplate});
        debugger->Configure(
            LogTargetConfig{s.dbg.minLevel, s.dbg.included, s.dbg.excluded, s.dbgTemplate});
        lines.Configure(
            LogTargetConfig{s.line.minLevel, s.line.included, s.line.excluded, s.lineTemplate});
        plugin.Configure(
            LogTargetConfig{s.plugin.minLevel, s.plugin.included, s.plugin.excluded, "#M"});

        std::vector<Message> messages;
        std::vector<std::pair<int32_t, uint64_t>> sent;
        [[maybe_unused]] const std::time_t before = std::time(nullptr);
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        for (int i = 0; i < 25; ++i) {
            const Message message = RandomMessage(random);
            const int32_t level = random.Percent(85) ? random.Between(0, 3) : random.Between(-2, 6);
            const uint64_t mask = RandomMask(random);
            if (random.Percent(50)) {
                LogMessage(static_cast<LogLevel>(level), mask, message.format.c_str(),
                           message.first.c_str(), message.number, message.second.c_str());
            } else {
                LogThroughApi(level, mask, message.format.c_str(), message.first.c_str(),
                              message.number, message.second.c_str());
            }
            messages.push_back(message);
            sent.emplace_back(level, mask);
        }
        const std::string outText = ::testing::internal::GetCapturedStdout();
        const std::string errText = ::testing::internal::GetCapturedStderr();
        // A coarse clock may lag the precise one by a tick: one second of slack after.
        [[maybe_unused]] const std::time_t after = std::time(nullptr) + 1;

        // Which messages the logger passes on, and their records.
        const std::vector<RecordTarget::Seen> seen = records.Take();
        for (const RecordTarget::Seen& record : seen) {
            ASSERT_TRUE(record.time.month >= 1 && record.time.month <= 12 && record.time.day >= 1 &&
                        record.time.day <= 31 && record.time.hour >= 0 && record.time.hour <= 23 &&
                        record.time.minute >= 0 && record.time.minute <= 59 &&
                        record.time.second >= 0 && record.time.second <= 60 &&
                        record.time.millisecond >= 0 && record.time.millisecond <= 999)
                << OracleStamp(record.time);
            ASSERT_GE(record.time.year, 2024);
#ifndef _WIN32
            // The local time the C library gives just before and just after the messages.
            EXPECT_LE(LocalStamp(before), OracleStamp(record.time).substr(0, 19));
            EXPECT_GE(LocalStamp(after), OracleStamp(record.time).substr(0, 19));
#endif
        }
        ExpectedLine err;
        ExpectedLine out;
        std::vector<ExpectedLine> dbg;
        std::vector<ExpectedLine> line;
        std::vector<std::pair<int32_t, std::string>> hostCalls;
        std::size_t next = 0;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const auto [level, mask] = sent[i];
            if (s.disabled || level < s.minLevel || (mask & s.muted) != 0) {
                continue;
            }
            ASSERT_LT(next, seen.size()) << "round " << round << ": message " << i << " lost";
            const RecordTarget::Seen& record = seen[next++];
            ASSERT_EQ(record.level, level) << "round " << round << ", message " << i;
            ASSERT_EQ(record.categories, mask) << "round " << round << ", message " << i;
            ASSERT_EQ(record.message, messages[i].expected)
                << "round " << round << ", message " << i;
            ASSERT_EQ(record.thread, thread);
            const LogRecord full{record.time, level, mask, messages[i].expected.c_str()};
            if (TargetAccepts(s.err, level, mask)) {
                Append(err, OracleLine(s.errTemplate, full, kLogBufferSize, table, thread));
            }
            if (TargetAccepts(s.out, level, mask)) {
                Append(out, OracleLine(s.outTemplate, full, kLogBufferSize, table, thread));
            }
            if (TargetAccepts(s.dbg, level, mask)) {
                dbg.push_back(OracleLine(s.dbgTemplate, full, kLogBufferSize, table, thread));
            }
            if (TargetAccepts(s.line, level, mask)) {
                line.push_back(OracleLine(s.lineTemplate, full, kLogBufferSize, table, thread));
            }
            if (TargetAccepts(s.plugin, level, mask)) {
                hostCalls.emplace_back(level, messages[i].expected);
            }
        }
        ASSERT_EQ(next, seen.size()) << "round " << round << ": records the oracle drops";
        EXPECT_EQ(Compare(errText, err), "") << "round " << round;
        EXPECT_EQ(Compare(outText, out), "") << "round " << round;
        const std::vector<std::string> lineTexts = lines.Take();
        ASSERT_EQ(lineTexts.size(), line.size()) << "round " << round;
        for (std::size_t i = 0; i < line.size(); ++i) {
            EXPECT_EQ(Compare(lineTexts[i], line[i]), "") << "round " << round;
        }
        ASSERT_EQ(debuggerLines.lines.size(), dbg.size()) << "round " << round;
        for (std::size_t i = 0; i < dbg.size(); ++i) {
            EXPECT_EQ(Compare(debuggerLines.lines[i], dbg[i]), "") << "round " << round;
        }
        debuggerLines.lines.clear();
        {
            std::lock_guard<std::mutex> guard(host.mutex);
            EXPECT_EQ(host.calls, hostCalls) << "round " << round;
            host.calls.clear();
        }
    }
    GetLoggingApi()->enable();
    plugin.Detach();
    currentHostLog = nullptr;
}

TEST_F(LogOracle, ConcurrentThreadsGetTheOracleLines) {
    // Several threads log at once; every target sees each thread's lines whole and in that
    // thread's order, and "#T" names the thread that logged.
    const CategoryNames table = ReadCategoryNames();
    auto* stdErr = Logging::GetStdErrTarget();
    auto* debugger = Logging::GetDebuggerTarget();
    stdErr->detach(stdErr);
    debugger->detach(debugger);
    Logging::SetMinLevel(1);
    Logging::SetMutedCategories(kLogCategoryXtr | (uint64_t{1} << 40));

    RecordTarget records;
    records.Configure(LogTargetConfig{INT32_MIN, 0, 0, ""});
    Testing::LineCapture lines;
    const std::string lineTemplate = "#T #L [#G] #M";
    const Filter lineFilter{2, kLogCategoryDbg | kLogCategoryNet | (uint64_t{1} << 33),
                            kLogCategoryMem};
    lines.Configure(LogTargetConfig{lineFilter.minLevel, lineFilter.included, lineFilter.excluded,
                                    lineTemplate});
    HostLog host;
    currentHostLog = &host;
    host.table.log = &RecordHostLog;
    PluginLogTarget plugin(&host.table);
    const Filter pluginFilter{1, 0, kLogCategoryGen};
    plugin.Configure(
        LogTargetConfig{pluginFilter.minLevel, pluginFilter.included, pluginFilter.excluded, ""});

    constexpr int kThreads = 4;
    constexpr int kMessages = 150;
    struct Expected {
        uint32_t thread = 0;
        std::vector<std::string> records; // level, mask and text of every record passed on
        std::vector<std::string> lines;
        std::vector<std::pair<int32_t, std::string>> hostCalls;
    };
    std::vector<std::future<Expected>> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.push_back(
            std::async(std::launch::async, [t, &table, &lineTemplate, lineFilter, pluginFilter] {
                Generator random(0x7A11 + static_cast<uint64_t>(t));
                Expected expected;
                expected.thread = Platform::CurrentThreadId();
                for (int i = 0; i < kMessages; ++i) {
                    const Message message = RandomMessage(random);
                    const int32_t level = random.Between(0, 3);
                    const uint64_t mask = RandomMask(random);
                    LogMessage(static_cast<LogLevel>(level), mask, message.format.c_str(),
                               message.first.c_str(), message.number, message.second.c_str());
                    if (level < 1 || (mask & (kLogCategoryXtr | (uint64_t{1} << 40))) != 0) {
                        continue;
                    }
                    expected.records.push_back(std::to_string(level) + "/" + std::to_string(mask) +
                                               "/" + message.expected);
                    const LogRecord record{{}, level, mask, message.expected.c_str()};
                    if (TargetAccepts(lineFilter, level, mask)) {
                        expected.lines.push_back(
                            OracleLine(lineTemplate, record, kLogBufferSize, table, expected.thread)
                                .text);
                    }
                    if (TargetAccepts(pluginFilter, level, mask)) {
                        expected.hostCalls.emplace_back(level, message.expected);
                    }
                }
                return expected;
            }));
    }
    std::vector<Expected> expected;
    for (auto& writer : writers) {
        ASSERT_EQ(writer.wait_for(std::chrono::seconds(120)), std::future_status::ready);
        expected.push_back(writer.get());
    }
    plugin.Detach();
    currentHostLog = nullptr;

    // Each thread's share of what the targets saw, in order of arrival.
    std::map<uint32_t, std::vector<std::string>> recordsBy;
    for (const RecordTarget::Seen& seen : records.Take()) {
        recordsBy[seen.thread].push_back(std::to_string(seen.level) + "/" +
                                         std::to_string(seen.categories) + "/" + seen.message);
    }
    std::map<std::string, std::vector<std::string>> linesBy;
    for (const std::string& line : lines.Take()) {
        linesBy[line.substr(0, 8)].push_back(line);
    }
    std::vector<std::pair<int32_t, std::string>> hostCalls;
    {
        std::lock_guard<std::mutex> guard(host.mutex);
        hostCalls = host.calls;
    }
    std::size_t expectedHostCalls = 0;
    for (const Expected& e : expected) {
        EXPECT_EQ(recordsBy[e.thread], e.records);
        EXPECT_EQ(linesBy[Hex8(e.thread)], e.lines);
        expectedHostCalls += e.hostCalls.size();
        // The host's calls of one thread keep their order among all of them.
        std::size_t at = 0;
        for (const auto& call : hostCalls) {
            if (at < e.hostCalls.size() && call == e.hostCalls[at]) {
                ++at;
            }
        }
        EXPECT_EQ(at, e.hostCalls.size());
    }
    EXPECT_EQ(hostCalls.size(), expectedHostCalls);
}

} // namespace
} // namespace Korvel
