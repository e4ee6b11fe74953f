#include "diagnostics/log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/format_message.h"
#include "diagnostics/logging_api.h"
#include "log_capture.h"
#include "platform/debugger_output.h"
#include "platform/thread_id.h"

namespace Korvel {
namespace {

using Testing::DebuggerCapture;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Testing::LineCapture;

class LoggerTest : public Testing::FreshLoggerTest {
protected:
    // Detaches the standard-error and debugger targets, so that a test's
    // messages stay out of the test output.
    static void Quiet() {
        auto* stdErr = Logging::GetStdErrTarget();
        auto* debugger = Logging::GetDebuggerTarget();
        stdErr->detach(stdErr);
        debugger->detach(debugger);
    }

    // Configures a capture target that accepts everything the logger passes.
    static void AttachOpen(LineCapture& target, const char* lineTemplate = "#L|#G|#M") {
        target.Configure(LogTargetConfig{0, 0, 0, lineTemplate});
    }
};

LogRecord MakeRecord(int32_t level, uint64_t mask, const char* message) {
    LogRecord record{};
    record.time = LogTime{2024, 3, 9, 7, 5, 3, 42};
    record.level = level;
    record.categories = mask;
    record.message = message;
    return record;
}

std::string Line(const char* lineTemplate, const LogRecord& record, std::size_t size = 4096) {
    std::vector<char> buffer(size);
    const std::size_t length = Logging::FormatLine(buffer.data(), size, lineTemplate, record);
    EXPECT_EQ(length, std::strlen(buffer.data()));
    return std::string(buffer.data(), length);
}

TEST_F(LoggerTest, DefaultSettings) {
    EXPECT_EQ(Logging::GetMinLevel(), 1);
    EXPECT_EQ(Logging::GetMutedCategories(), kLogCategoryXtr);
    EXPECT_FALSE(Logging::IsDisabled());
    EXPECT_EQ(Logging::TargetCount(), 2u);

    auto* stdErr = Logging::GetStdErrTarget();
    auto* stdOut = Logging::GetStdOutTarget();
    auto* debugger = Logging::GetDebuggerTarget();
    EXPECT_STREQ(stdErr->getName(stdErr), "StdErrLogTarget");
    EXPECT_STREQ(stdOut->getName(stdOut), "StdOutLogTarget");
    EXPECT_STREQ(debugger->getName(debugger), "DebuggerConsoleLogTarget");
    EXPECT_STREQ(stdErr->getFormat(stdErr), "#E(#T): #L| #M");
    EXPECT_STREQ(stdOut->getFormat(stdOut), "#M");
    EXPECT_STREQ(debugger->getFormat(debugger), "#E(#T): #L| #M");
    EXPECT_TRUE(stdErr->isAttached(stdErr));
    EXPECT_FALSE(stdOut->isAttached(stdOut));
    EXPECT_TRUE(debugger->isAttached(debugger));
    EXPECT_EQ(stdErr->getIncludedCategories(stdErr), kLogCategoryDbg);
    EXPECT_EQ(stdErr->getExcludedCategories(stdErr), kLogCategoryGen);
    EXPECT_EQ(stdOut->getIncludedCategories(stdOut), kLogCategoryGen);
    EXPECT_EQ(stdOut->getExcludedCategories(stdOut), kLogCategoryDbg);
    EXPECT_EQ(debugger->getIncludedCategories(debugger), kLogCategoryDbg);
    EXPECT_EQ(debugger->getExcludedCategories(debugger), 0u);
    for (auto* target : {stdErr, stdOut, debugger}) {
        EXPECT_EQ(target->getMinLevel(target), 1);
        EXPECT_EQ(target->interfaceVersion(target), 1);
    }
    EXPECT_EQ(Logging::FindTarget("StdErrLogTarget"), stdErr);
    EXPECT_EQ(Logging::FindTarget("StdOutLogTarget"), nullptr); // not attached
    EXPECT_EQ(Logging::FindTarget("stderrlogtarget"), nullptr);
    EXPECT_STREQ(Logging::ModuleName(), KORVEL_TEST_PROGRAM);
}

TEST_F(LoggerTest, BuiltInTargetsRouteByLevelAndCategory) {
    DebuggerCapture debugger;
    const std::string prefix =
        FormatMessage(KORVEL_TEST_PROGRAM "(%1$08X): ", Platform::CurrentThreadId());

    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    LogMessage(LogLevel::Okay, kLogCategoryDbg, "level zero");            // below minimum
    LogMessage(LogLevel::Always, kLogCategoryXtr, "muted");               // muted category
    LogMessage(LogLevel::Error, kLogCategoryDbg, "dbg %d", 2);            // stderr + debugger
    LogMessage(LogLevel::Error, kLogCategoryGen, "gen");                  // nobody
    LogMessage(LogLevel::Warn, 0, "no category");                         // everyone attached
    LogMessage(LogLevel::Warn, kLogCategoryDbg | kLogCategoryNet, "net"); // stderr + debugger
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(err, prefix + " ERROR| dbg 2\n" + prefix + "  WARN| no category\n" + prefix +
                       "  WARN| net\n");
    EXPECT_EQ(out, "");
    EXPECT_THAT(debugger.lines,
                ElementsAre(prefix + " ERROR| dbg 2\n", prefix + "  WARN| no category\n",
                            prefix + "  WARN| net\n"));
}

TEST_F(LoggerTest, StdOutTargetWhenAttached) {
    auto* stdOut = Logging::GetStdOutTarget();
    stdOut->attach(stdOut);
    EXPECT_EQ(Logging::FindTarget("StdOutLogTarget"), stdOut);
    static_cast<StdOutLogTarget*>(LogTarget::FromFunctions(stdOut))->SetFlushAfterWrite(true);
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    LogMessage(LogLevel::Error, kLogCategoryGen, "general %s", "news");
    LogMessage(LogLevel::Error, kLogCategoryGen | kLogCategoryDbg, "excluded");
    LogMessage(LogLevel::Error, kLogCategoryNet, "not included");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "general news\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(LoggerTest, TargetFiltersAndMaskZero) {
    Quiet();
    LineCapture target;
    target.Configure(LogTargetConfig{2, kLogCategoryNet | kLogCategoryMem, kLogCategoryMem, "#M"});
    EXPECT_EQ(target.GetIncludedCategories(), kLogCategoryNet); // excluded bits cleared
    EXPECT_EQ(target.GetExcludedCategories(), kLogCategoryMem);
    Logging::SetMinLevel(0);
    Logging::SetMutedCategories(0);

    LogMessage(LogLevel::Warn, kLogCategoryNet, "below target level");
    LogMessage(LogLevel::Error, kLogCategoryNet, "net");
    LogMessage(LogLevel::Error, kLogCategoryNet | kLogCategoryMem, "excluded");
    LogMessage(LogLevel::Error, kLogCategoryGen, "not included");
    LogMessage(LogLevel::Error, 0, "mask zero");
    LogMessage(LogLevel::Always, kLogCategoryNet | kLogCategoryDsk, "one shared bit");
    EXPECT_THAT(target.Lines(), ElementsAre("net\n", "mask zero\n", "one shared bit\n"));
}

TEST_F(LoggerTest, LoggerLevelMuteAndDisable) {
    Quiet();
    LineCapture target;
    AttachOpen(target, "#M");
    LogMessage(LogLevel::Okay, 0, "dropped: level");
    Logging::SetMinLevel(0);
    LogMessage(LogLevel::Okay, 0, "okay");
    LogMessage(LogLevel::Always, kLogCategoryXtr | kLogCategoryDbg, "dropped: muted");
    Logging::SetMutedCategories(kLogCategoryNet);
    LogMessage(LogLevel::Always, kLogCategoryXtr, "xtr");
    LogMessage(LogLevel::Always, kLogCategoryNet | kLogCategoryGen, "dropped: net");
    Logging::Disable();
    EXPECT_TRUE(Logging::IsDisabled());
    LogMessage(LogLevel::Always, 0, "dropped: disabled");
    Logging::Enable();
    // Levels compare signed: a negative level is below 0.
    LogMessage(static_cast<LogLevel>(-1), 0, "dropped: negative");
    LogMessage(LogLevel::Warn, 0, "enabled");
    EXPECT_THAT(target.Lines(), ElementsAre("okay\n", "xtr\n", "enabled\n"));

    Logging::SetReservedFlag();
    EXPECT_TRUE(Logging::GetReservedFlag());
    Logging::ClearReservedFlag();
    EXPECT_FALSE(Logging::GetReservedFlag());
}

TEST_F(LoggerTest, MessageIsTruncatedToTheBuffer) {
    Quiet();
    LineCapture target;
    AttachOpen(target, "#M");
    const std::string big(10000, 'm');
    LogMessage(LogLevel::Error, 0, "%s", big.c_str());
    ASSERT_EQ(target.Lines().size(), 1u);
    // 4095 characters of message, of which the line keeps 4094 and its end.
    EXPECT_EQ(target.Lines()[0], std::string(4094, 'm') + "\n");
}

TEST_F(LoggerTest, LineTemplates) {
    const LogRecord record = MakeRecord(2, 0x41, "hello");
    EXPECT_EQ(Line("#D", record), "2024-03-09T07:05:03.042\n");
    EXPECT_EQ(Line("#L|#M", record), " ERROR|hello\n");
    EXPECT_EQ(Line("#G", record), "DBG;NET\n");
    EXPECT_EQ(Line("[#G]", MakeRecord(2, 0, "x")), "[]\n");
    EXPECT_EQ(Line("#E", record), KORVEL_TEST_PROGRAM "\n");
    EXPECT_EQ(Line("#X#", record), "X\n");
    EXPECT_EQ(Line("##", record), "#\n");
    EXPECT_EQ(Line("", record), "\n");
    EXPECT_EQ(Line(nullptr, record), "\n");
    EXPECT_EQ(Line("#M", MakeRecord(1, 0, "ends\n")), "ends\n");
    EXPECT_EQ(Line("#M", MakeRecord(1, 0, nullptr)), "\n");
    EXPECT_EQ(Line("#D| #L| #G| #M", record), "2024-03-09T07:05:03.042|  ERROR| DBG;NET| hello\n");

    const std::string thread = Line("#T", record);
    EXPECT_TRUE(std::regex_match(thread, std::regex("[0-9A-F]{8}\n"))) << thread;
    EXPECT_EQ(thread, FormatMessage("%1$08X\n", Platform::CurrentThreadId()));
    const std::string elapsed = Line("#H", record);
    EXPECT_TRUE(std::regex_match(elapsed, std::regex("[0-9]{6}\\.[0-9]{3}\n"))) << elapsed;
}

TEST_F(LoggerTest, LineEndWhenTheBufferIsFull) {
    const LogRecord record = MakeRecord(1, 0, "abcdefghij");
    EXPECT_EQ(Line("#M", record, 8), "abcdef\n");
    EXPECT_EQ(Line("0123456789", record, 8), "012345\n");
    EXPECT_EQ(Line("#M", MakeRecord(1, 0, "abcde\n"), 8), "abcde\n");
    EXPECT_EQ(Line("#M", record, 2), "\n");
    EXPECT_EQ(Line("#M", record, 1), "");
    EXPECT_EQ(Logging::FormatLine(nullptr, 0, "#M", record), 0u);
}

TEST_F(LoggerTest, LevelNamesAndTimestamps) {
    EXPECT_STREQ(Logging::LevelName(0), "  OKAY");
    EXPECT_STREQ(Logging::LevelName(1), "  WARN");
    EXPECT_STREQ(Logging::LevelName(2), " ERROR");
    EXPECT_STREQ(Logging::LevelName(3), "ALWAYS");
    EXPECT_STREQ(Logging::LevelName(4), "   ???");
    EXPECT_STREQ(Logging::LevelName(-1), "   ???");

    const LogTime time{2023, 12, 31, 23, 59, 58, 7};
    char text[64];
    EXPECT_EQ(Logging::FormatTimestamp(text, sizeof text, time), 23u);
    EXPECT_STREQ(text, "2023-12-31T23:59:58.007");
    EXPECT_EQ(Logging::FormatFileTimestamp(text, sizeof text, time), 19u);
    EXPECT_STREQ(text, "2023-12-31T23-59-58");
    EXPECT_EQ(Logging::FormatTimestamp(text, 5, time), 4u);
    EXPECT_STREQ(text, "2023");

    LogRecord record{};
    Logging::CaptureTime(&record);
    EXPECT_GE(record.time.year, 2024);
    EXPECT_GE(record.time.month, 1);
    EXPECT_LE(record.time.month, 12);
    EXPECT_LE(record.time.millisecond, 999);
}

TEST_F(LoggerTest, TargetTableOperations) {
    Quiet();
    LineCapture target;
    LogTargetFunctions* table = target.Functions();
    EXPECT_EQ(LogTarget::FromFunctions(table), &target);
    EXPECT_EQ(table->interfaceVersion(table), 1);
    EXPECT_STREQ(table->getName(table), "LineCapture");
    EXPECT_STREQ(table->getFormat(table), "#D| #L| #G| #M");
    EXPECT_EQ(table->getMinLevel(table), 1);
    table->setMinLevel(table, 3);
    EXPECT_EQ(table->getMinLevel(table), 3);
    table->setCategoryFilter(table, 0xFF, 0x0F);
    EXPECT_EQ(table->getIncludedCategories(table), 0xF0u);
    EXPECT_EQ(table->getExcludedCategories(table), 0x0Fu);

    EXPECT_FALSE(table->isAttached(table));
    table->attach(table);
    table->attach(table); // only once in the list
    EXPECT_TRUE(table->isAttached(table));
    EXPECT_EQ(Logging::TargetCount(), 1u);
    EXPECT_EQ(Logging::FindTarget("LineCapture"), table);
    table->detach(table);
    EXPECT_FALSE(table->isAttached(table));
    EXPECT_EQ(Logging::TargetCount(), 0u);
    EXPECT_EQ(Logging::FindTarget("LineCapture"), nullptr);

    const LogRecord record = MakeRecord(3, 0, "direct");
    EXPECT_TRUE(table->write(table, &record));
    EXPECT_FALSE(table->write(table, nullptr));
    EXPECT_EQ(target.Lines().size(), 1u);

    // AddTarget leaves the attached flag alone; RemoveTarget removes every entry.
    Logging::AddTarget(table);
    Logging::AddTarget(table);
    EXPECT_FALSE(table->isAttached(table));
    EXPECT_EQ(Logging::TargetCount(), 2u);
    Logging::SetMinLevel(0);
    LogMessage(LogLevel::Always, 0, "twice");
    EXPECT_EQ(target.Lines().size(), 3u);
    Logging::RemoveTarget(table);
    EXPECT_EQ(Logging::TargetCount(), 0u);

    const StdErrLogTarget stdErr;
    const BaseConsoleLogTarget& base = stdErr;
    EXPECT_STREQ(base.GetName(), "StdErrLogTarget");
    const StdOutLogTarget stdOut;
    EXPECT_STREQ(static_cast<const LogTarget&>(stdOut).GetName(), "StdOutLogTarget");
    EXPECT_FALSE(stdOut.GetFlushAfterWrite());
    const DebuggerConsoleLogTarget debugger;
    EXPECT_STREQ(static_cast<const LogTarget&>(debugger).GetName(), "DebuggerConsoleLogTarget");
}

TEST_F(LoggerTest, ConfigureReattachesAtTheEnd) {
    Quiet();
    LineCapture first;
    LineCapture second;
    AttachOpen(first, "1:#M");
    AttachOpen(second, "2:#M");
    first.Configure(LogTargetConfig{0, 0, 0, "1b:#M"});
    Logging::SetMinLevel(0);
    EXPECT_EQ(Logging::FindTarget("LineCapture"), second.Functions());
    LogMessage(LogLevel::Warn, 0, "m");
    EXPECT_THAT(first.Lines(), ElementsAre("1b:m\n"));
    EXPECT_THAT(second.Lines(), ElementsAre("2:m\n"));
}

TEST_F(LoggerTest, DestroyedTargetDetachesItself) {
    Quiet();
    {
        LineCapture target;
        AttachOpen(target);
        EXPECT_EQ(Logging::TargetCount(), 1u);
    }
    EXPECT_EQ(Logging::TargetCount(), 0u);
    LogMessage(LogLevel::Error, 0, "still fine");
}

TEST_F(LoggerTest, DestroyedTargetLeavesTheListAlsoWhenAddedWithoutAttaching) {
    Quiet();
    LineCapture survivor;
    {
        LineCapture target;
        Logging::AddTarget(target.Functions());
        AttachOpen(survivor, "#M");
        Logging::AddTarget(target.Functions());
        ASSERT_EQ(Logging::TargetCount(), 3u);
    }
    // The logger would otherwise go on offering records to the destroyed target.
    ASSERT_EQ(Logging::TargetCount(), 1u);
    EXPECT_EQ(Logging::FindTarget("LineCapture"), survivor.Functions());
    LogMessage(LogLevel::Error, 0, "after");
    EXPECT_THAT(survivor.Lines(), ElementsAre("after\n"));
}

TEST_F(LoggerTest, ReferenceCountingControlsTheLifetime) {
    LineCapture target;
    AttachOpen(target);
    Logging::AddRef(); // two references now
    Logging::Release();
    EXPECT_TRUE(Logging::Exists());
    EXPECT_TRUE(target.IsAttached());
    Logging::Release(); // the last one: every target is detached
    EXPECT_FALSE(Logging::Exists());
    EXPECT_FALSE(target.IsAttached());
    // Removing a target when no logger exists does nothing and creates none.
    Logging::RemoveTarget(target.Functions());
    EXPECT_FALSE(Logging::Exists());
    // A message creates the logger again, with the default targets only.
    ::testing::internal::CaptureStderr();
    LogMessage(LogLevel::Okay, 0, "recreate");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(Logging::Exists());
    EXPECT_EQ(Logging::TargetCount(), 2u);
    EXPECT_TRUE(target.Lines().empty());
    Logging::AddRef(); // balances the fixture's TearDown
}

TEST_F(LoggerTest, DestroyAtUnloadIgnoresReferences) {
    LineCapture target;
    AttachOpen(target);
    Logging::AddRef();
    Logging::DestroyAtUnload();
    EXPECT_FALSE(Logging::Exists());
    EXPECT_FALSE(target.IsAttached());
    Logging::Release(); // unmatched now: ignored
    EXPECT_FALSE(Logging::Exists());
    Logging::AddRef(); // balances the fixture's TearDown
    EXPECT_TRUE(Logging::Exists());
}

TEST_F(LoggerTest, InterfaceTable) {
    Quiet();
    const LoggingApi* api = GetLoggingApi();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->interfaceVersion(), 1);
    LineCapture target;
    AttachOpen(target, "#L|#G|#M");
    api->setMinLevel(0);
    EXPECT_EQ(api->getMinLevel(), 0);
    api->setMutedCategories(0x10);
    EXPECT_EQ(api->getMutedCategories(), 0x10u);
    EXPECT_EQ(api->findTarget("LineCapture"), target.Functions());
    EXPECT_EQ(api->getStdErrTarget(), Logging::GetStdErrTarget());
    EXPECT_EQ(api->registerCategory("NET"), kLogCategoryNet);
    EXPECT_STREQ(api->levelName(3), "ALWAYS");
    char text[64];
    EXPECT_EQ(api->formatCategories(text, sizeof text, 0x41), 7u);
    EXPECT_STREQ(text, "DBG;NET");

    // The mask travels as two halves, low first.
    struct Call {
        static void Log(const LoggingApi* api, int32_t level, uint32_t low, uint32_t high,
                        const char* format, ...) {
            va_list arguments;
            va_start(arguments, format);
            api->logMessageV(level, low, high, format, arguments);
            va_end(arguments);
        }
    };
    Call::Log(api, 2, 0x1, 0x2, "halves %s", "ok");
    Call::Log(api, 2, 0x10, 0, "muted");
    api->disable();
    Call::Log(api, 2, 0, 0, "disabled");
    api->enable();
    EXPECT_THAT(target.Lines(), ElementsAre(" ERROR|DBG;???|halves ok\n"));
    EXPECT_THAT(target.Masks(), ElementsAre((uint64_t{2} << 32) | 1));

    api->addRef();
    api->release();
    EXPECT_TRUE(Logging::Exists());
}

TEST_F(LoggerTest, TargetThatLogsFromWriteDoesNotRecurseForever) {
    Quiet();
    class Echo : public LogTarget {
    public:
        bool Write(const LogRecord& record) override {
            ++writes;
            LogMessage(LogLevel::Error, 0, "echo of %s", record.message);
            return true;
        }
        std::atomic<int> writes{0};
    } echo;
    echo.Configure(LogTargetConfig{0, 0, 0, "#M"});
    LogMessage(LogLevel::Error, 0, "start");
    EXPECT_EQ(echo.writes.load(), 4);
    echo.Detach();
}

TEST_F(LoggerTest, TargetThatThrowsFromWriteDoesNotSilenceTheThread) {
    Quiet();
    class Throwing : public LogTarget {
    public:
        bool Write(const LogRecord&) override { throw std::runtime_error("write failed"); }
    } throwing;
    throwing.Configure(LogTargetConfig{0, 0, 0, "#M"});
    for (int i = 0; i < 8; ++i) {
        EXPECT_THROW(LogMessage(LogLevel::Error, 0, "lost %d", i), std::runtime_error);
    }
    throwing.Detach();
    LineCapture target;
    AttachOpen(target, "#M");
    LogMessage(LogLevel::Error, 0, "heard");
    EXPECT_THAT(target.Lines(), ElementsAre("heard\n"));
}

TEST_F(LoggerTest, TargetsChangedDuringAWriteKeepTheOthersInTheWalk) {
    Quiet();
    Logging::SetMinLevel(0);
    // A target that detaches itself, or another target, from inside its Write.
    class Detaching : public LogTarget {
    public:
        bool Write(const LogRecord&) override {
            ++writes;
            if (victim != nullptr) {
                victim->Detach();
            }
            return true;
        }
        LogTarget* victim = nullptr;
        int writes = 0;
    };
    LineCapture before;
    Detaching self;
    LineCapture after;
    LineCapture last;
    AttachOpen(before, "#M");
    self.Configure(LogTargetConfig{0, 0, 0, "#M"});
    AttachOpen(after, "#M");
    AttachOpen(last, "#M");

    // Leaving the list does not hide the record from the target that follows.
    self.victim = &self;
    LogMessage(LogLevel::Error, 0, "one");
    EXPECT_EQ(self.writes, 1);
    EXPECT_THAT(before.Lines(), ElementsAre("one\n"));
    EXPECT_THAT(after.Lines(), ElementsAre("one\n"));
    EXPECT_THAT(last.Lines(), ElementsAre("one\n"));

    // A target detached by an earlier one in the same walk is not offered the record, and the
    // targets after it still are.
    self.Configure(LogTargetConfig{0, 0, 0, "#M"}); // now after "last"
    before.Detach();
    AttachOpen(before, "#M"); // order: after, last, self, before
    self.victim = &before;
    LogMessage(LogLevel::Error, 0, "two");
    EXPECT_EQ(self.writes, 2);
    EXPECT_THAT(after.Lines(), ElementsAre("one\n", "two\n"));
    EXPECT_THAT(last.Lines(), ElementsAre("one\n", "two\n"));
    EXPECT_THAT(before.Lines(), ElementsAre("one\n"));

    // Detaching a target that was already offered the record does not skip the next one.
    AttachOpen(before, "#M");
    after.Detach();
    AttachOpen(after, "#M"); // order: last, self, before, after
    self.victim = &last;
    LogMessage(LogLevel::Error, 0, "three");
    EXPECT_THAT(last.Lines(), ElementsAre("one\n", "two\n", "three\n"));
    EXPECT_THAT(before.Lines(), ElementsAre("one\n", "three\n"));
    EXPECT_THAT(after.Lines(), ElementsAre("one\n", "two\n", "three\n"));
    EXPECT_FALSE(last.IsAttached());
    self.Detach();
}

TEST_F(LoggerTest, StdErrLinesFromManyThreadsStayWholeAndLongOnesAreCut) {
    auto* debugger = Logging::GetDebuggerTarget();
    debugger->detach(debugger);
    constexpr int kThreads = 4;
    constexpr int kMessages = 50;
    ::testing::internal::CaptureStderr();
    std::vector<std::future<std::string>> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.push_back(std::async(std::launch::async, [t] {
            const std::string payload(1500 + 100 * static_cast<std::size_t>(t), 'a' + t);
            for (int i = 0; i < kMessages; ++i) {
                LogMessage(LogLevel::Warn, kLogCategoryDbg, "t%d|%s|", t, payload.c_str());
            }
            return FormatMessage(KORVEL_TEST_PROGRAM "(%1$08X):   WARN| ",
                                 Platform::CurrentThreadId()) +
                   FormatMessage("t%1|%2|\n", t, payload);
        }));
    }
    std::vector<std::string> expected;
    for (auto& writer : writers) {
        expected.push_back(writer.get());
    }
    // 10000 characters of message: the logger keeps 4095 of them, the line 4094 characters
    // of prefix and message, then its end.
    LogMessage(LogLevel::Error, kLogCategoryDbg, "%s", std::string(10000, 'z').c_str());
    const std::string err = ::testing::internal::GetCapturedStderr();

    std::vector<int> counts(kThreads, 0);
    std::size_t at = 0;
    for (int line = 0; line < kThreads * kMessages; ++line) {
        bool matched = false;
        for (int t = 0; t < kThreads && !matched; ++t) {
            if (err.compare(at, expected[t].size(), expected[t]) == 0) {
                ++counts[t];
                at += expected[t].size();
                matched = true;
            }
        }
        ASSERT_TRUE(matched) << "broken line at offset " << at;
    }
    EXPECT_THAT(counts, ElementsAre(kMessages, kMessages, kMessages, kMessages));
    const std::string prefix =
        FormatMessage(KORVEL_TEST_PROGRAM "(%1$08X):  ERROR| ", Platform::CurrentThreadId());
    EXPECT_EQ(err.substr(at), prefix + std::string(4094 - prefix.size(), 'z') + "\n");
}

TEST_F(LoggerTest, ConcurrentLoggingAndReconfiguration) {
    Quiet();
    LineCapture target;
    AttachOpen(target, "#M");
    constexpr int kThreads = 4;
    constexpr int kMessages = 300;
    std::atomic<bool> stop{false};
    // Reconfiguring takes the logger lock with no target lock held and the
    // target lock alone; logging takes the logger lock, then the target lock.
    auto reconfigure = std::async(std::launch::async, [&] {
        LineCapture other;
        while (!stop.load()) {
            other.Configure(LogTargetConfig{0, 0, 0, "#M"});
            target.SetMinLevel(0);
            target.SetFormat("#M");
            other.Detach();
        }
    });
    std::vector<std::future<void>> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.push_back(std::async(std::launch::async, [t] {
            for (int i = 0; i < kMessages; ++i) {
                LogMessage(LogLevel::Error, 0, "t%d m%d", t, i);
            }
        }));
    }
    for (auto& writer : writers) {
        ASSERT_EQ(writer.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    }
    stop.store(true);
    ASSERT_EQ(reconfigure.wait_for(std::chrono::seconds(60)), std::future_status::ready);

    const std::vector<std::string> lines = target.Lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kMessages));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        int thread = -1;
        int message = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "t%d m%d", &thread, &message), 2) << line;
        ASSERT_EQ(message, next[thread]++) << "lines of one thread keep their order";
    }
}

TEST(LogCategories, NumberingAndConcurrentRegistration) {
    // Done once in this program: the category table is process-wide.
    EXPECT_EQ(RegisterCategory("NET"), kLogCategoryNet);
    EXPECT_EQ(RegisterCategory("DBG"), kLogCategoryDbg);
    EXPECT_EQ(RegisterCategory(nullptr), 0u);
    RegisterLoadTimeCategories();
    EXPECT_EQ(RegisterCategory("LOC"), uint64_t{1} << 8);
    EXPECT_EQ(RegisterCategory("LOCATION"), uint64_t{1} << 8); // first three characters count
    EXPECT_EQ(RegisterCategory("AAA"), uint64_t{1} << 9);
    EXPECT_EQ(RegisterCategory("BBB"), uint64_t{1} << 10);
    EXPECT_EQ(RegisterCategory("AAA"), uint64_t{1} << 9);
    EXPECT_EQ(RegisterCategory("LOC"), uint64_t{1} << 8);

    char text[512];
    Logging::FormatCategories(text, sizeof text,
                              (uint64_t{1} << 8) | (uint64_t{1} << 10) | (uint64_t{1} << 11) |
                                  (uint64_t{1} << 63));
    EXPECT_STREQ(text, "LOC;BBB;???;???");
    Logging::FormatCategories(text, 6, 0x41);
    EXPECT_STREQ(text, "DBG;N");

    // Registration from several threads at once: each new name gets one bit.
    std::vector<std::future<uint64_t>> results;
    for (int t = 0; t < 4; ++t) {
        results.push_back(std::async(std::launch::async, [] { return RegisterCategory("CCC"); }));
    }
    for (auto& result : results) {
        EXPECT_EQ(result.get(), uint64_t{1} << 11);
    }

    // Entries 12 to 63 remain; beyond them a new name gets mask 0.
    for (int bit = 12; bit < 64; ++bit) {
        const std::string name = FormatMessage("X%1$02d", bit);
        EXPECT_EQ(RegisterCategory(name.c_str()), uint64_t{1} << bit);
    }
    EXPECT_EQ(RegisterCategory("ZZZ"), 0u);
    EXPECT_EQ(RegisterCategory("X63"), uint64_t{1} << 63);
    Logging::FormatCategories(text, sizeof text, uint64_t{1} << 63);
    EXPECT_STREQ(text, "X63");
}

} // namespace
} // namespace Korvel
