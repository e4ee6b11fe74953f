#include "diagnostics/assertion.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnostics/format_message.h"
#include "diagnostics/logging_api.h"
#include "log_capture.h"
#include "platform/debugger_output.h"
#include "platform/thread_id.h"

namespace Korvel {
namespace {

TEST(AssertionText, Layout) {
    EXPECT_EQ(BuildAssertionText("", "", "", 0, ""), "Assertion failed!\n\n");
    EXPECT_EQ(BuildAssertionText(nullptr, nullptr, nullptr, 0, nullptr), "Assertion failed!\n\n");
    EXPECT_EQ(BuildAssertionText("x", "d", "a", 12, "f"),
              "Assertion failed!\n\nFile: a\nLine: 12\n\nFunction: f\n\nExpression: x\n\n"
              "Description: d");
    EXPECT_EQ(BuildAssertionText("", "", "", -7, ""), "Assertion failed!\n\nLine: -7\n\n");
    EXPECT_EQ(BuildAssertionText("", "", "", INT32_MIN, ""),
              "Assertion failed!\n\nLine: -2147483648\n\n");
    EXPECT_EQ(BuildAssertionText("", "", "a", 0, "f"),
              "Assertion failed!\n\nFile: a\nFunction: f\n\n");
    EXPECT_EQ(BuildAssertionText("", "why", "", 0, ""),
              "Assertion failed!\n\n\n\nDescription: why");
    EXPECT_EQ(BuildAssertionText(kMarkerRegionDataMissing, "", "", 0, ""),
              "Assertion failed!\n\nExpression: ALE-10000024");
}

TEST(AssertionText, MarkerCodes) {
    EXPECT_STREQ(kMarkerRegionDataMissing, "ALE-10000024");
    EXPECT_STREQ(kMarkerGlobalsMissing, "ALE-10000029");
    EXPECT_STREQ(kMarkerIncompatibleHostApi, "ALE-EECF0606");
}

using AssertionReport = Testing::FreshLoggerTest;

TEST_F(AssertionReport, ReachesStdErrAndDebuggerAtErrorInDbg) {
    Testing::DebuggerCapture debugger;
    ::testing::internal::CaptureStderr();
    ReportAssertion("count %d > 0 %s", "", "file.cpp", 3, "");
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string expected =
        FormatMessage(KORVEL_TEST_PROGRAM "(%1$08X):  ERROR| ", Platform::CurrentThreadId()) +
        "Assertion failed!\n\nFile: file.cpp\nLine: 3\n\nExpression: count %d > 0 %s\n";
    EXPECT_EQ(err, expected);
    EXPECT_THAT(debugger.lines, ::testing::ElementsAre(expected));
}

TEST_F(AssertionReport, MarkerIsLoggedAsExpression) {
    class Capture : public LogTarget {
    public:
        bool Write(const LogRecord& record) override {
            levels.push_back(record.level);
            masks.push_back(record.categories);
            texts.emplace_back(record.message);
            return true;
        }
        std::vector<int32_t> levels;
        std::vector<uint64_t> masks;
        std::vector<std::string> texts;
    } capture;
    auto* stdErr = Logging::GetStdErrTarget();
    stdErr->detach(stdErr);
    capture.Configure(LogTargetConfig{0, 0, 0, "#M"});
    ReportFatalMarker(kMarkerGlobalsMissing);
    ReportAssertion("", "", "", 0, "");
    // A report longer than the logger's message buffer is built whole and logged cut short.
    const std::string expression(6000, 'x');
    const std::string whole = BuildAssertionText(expression.c_str(), "d", "", 0, "");
    EXPECT_EQ(whole, "Assertion failed!\n\nExpression: " + expression + "\n\nDescription: d");
    ReportAssertion(expression.c_str(), "d", "", 0, "");
    ASSERT_EQ(capture.texts.size(), 3u);
    EXPECT_EQ(capture.texts[0], "Assertion failed!\n\nExpression: ALE-10000029");
    EXPECT_EQ(capture.texts[1], "Assertion failed!\n\n");
    EXPECT_EQ(capture.texts[2], whole.substr(0, 4095));
    EXPECT_THAT(capture.levels, ::testing::ElementsAre(2, 2, 2));
    EXPECT_THAT(capture.masks, ::testing::ElementsAre(1u, 1u, 1u));
}

} // namespace
} // namespace Korvel
