#pragma once

#include <atomic>

#include "diagnostics/log_target.h"

namespace Korvel {

// Targets that format each record with their line template into a
// 4096-byte stack buffer and write the line to a console-like channel.
class BaseConsoleLogTarget : public LogTarget {
public:
    const char* GetName() const override;
    bool Write(const LogRecord& record) override = 0;
    virtual void Flush() = 0;

protected:
    // Formats the record with this target's template; returns the length.
    std::size_t FormatRecord(const LogRecord& record, char* buffer, std::size_t size) const;
};

// Writes lines to the standard error stream.
class StdErrLogTarget : public BaseConsoleLogTarget {
public:
    const char* GetName() const override;
    bool Write(const LogRecord& record) override;
    void Flush() override;
};

// Writes lines to standard output, flushing after each line when asked to.
class StdOutLogTarget : public BaseConsoleLogTarget {
public:
    const char* GetName() const override;
    bool Write(const LogRecord& record) override;
    void Flush() override;

    void SetFlushAfterWrite(bool flush) { flushAfterWrite_.store(flush); }
    bool GetFlushAfterWrite() const { return flushAfterWrite_.load(); }

private:
    std::atomic<bool> flushAfterWrite_{false};
};

// Passes lines to the debugger's output channel (Platform::WriteDebuggerOutput).
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
public:
    const char* GetName() const override;
    bool Write(const LogRecord& record) override;
    void Flush() override;
};

} // namespace Korvel
