#pragma once

// What the logging tests share: a fixture that starts each test with a fresh logger, a target
// that keeps the lines it makes of each record, and a hook that collects the debugger channel.

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/log.h"
#include "diagnostics/log_target.h"
#include "diagnostics/logging_api.h"
#include "platform/debugger_output.h"
#include "platform/recursive_lock.h"

// The test program's file name as the "#E" code prints it.
#ifdef _WIN32
#define KORVEL_TEST_PROGRAM "diagnostics_tests.exe"
#else
#define KORVEL_TEST_PROGRAM "diagnostics_tests"
#endif

namespace Korvel::Testing {

// Each test starts with a fresh logger in its default state and gives it back at the end.
class FreshLoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logging::AddRef();
        Logging::Release(); // destroys any logger an earlier test left behind
        Logging::AddRef();
    }
    void TearDown() override { Logging::Release(); }
};

// Formats each record with the target's template, as a console target does, and keeps the lines
// and the records' category masks. Safe to write from several threads.
class LineCapture : public LogTarget {
public:
    const char* GetName() const override { return "LineCapture"; }
    bool Write(const LogRecord& record) override {
        char line[kLogBufferSize];
        Platform::RecursiveLockGuard guard(TargetLock());
        Logging::FormatLine(line, sizeof line, GetFormat(), record);
        std::lock_guard<std::mutex> lines(mutex_);
        lines_.emplace_back(line);
        masks_.push_back(record.categories);
        return true;
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }
    std::vector<uint64_t> Masks() {
        std::lock_guard<std::mutex> guard(mutex_);
        return masks_;
    }
    // The lines kept so far; the target starts over empty.
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> guard(mutex_);
        masks_.clear();
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<uint64_t> masks_;
};

// Collects what reaches the debugger channel while it exists.
struct DebuggerCapture {
    DebuggerCapture() { Platform::SetDebuggerOutputHook(&Collect, this); }
    ~DebuggerCapture() { Platform::SetDebuggerOutputHook(nullptr, nullptr); }
    DebuggerCapture(const DebuggerCapture&) = delete;
    DebuggerCapture& operator=(const DebuggerCapture&) = delete;
    static void Collect(const char* text, void* context) {
        static_cast<DebuggerCapture*>(context)->lines.emplace_back(text);
    }
    std::vector<std::string> lines;
};

} // namespace Korvel::Testing
