#pragma once

#include "diagnostics/log_target.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Korvel::Testing {

// A log target of the test's own process that keeps every record it is
// offered (all levels, all categories) while it exists.
class CapturedLog : public LogTarget {
public:
    struct Entry {
        int32_t level;
        uint64_t categories;
        std::string message;
    };

    CapturedLog();
    ~CapturedLog() override;

    const char* GetName() const override { return "CapturedLog"; }
    bool Write(const LogRecord& record) override;

    const std::vector<Entry>& Entries() const { return entries_; }
    std::vector<Entry> Containing(const std::string& fragment) const;

private:
    std::vector<Entry> entries_;
};

} // namespace Korvel::Testing
