#include "captured_log.h"

#include "diagnostics/logging_api.h"

namespace Korvel::Testing {

CapturedLog::CapturedLog() {
    // The logger's own level filter would drop OKAY lines; open it while the
    // capture exists.
    Logging::SetMinLevel(0);
    Configure(LogTargetConfig{0, 0, 0, "#M"});
}

CapturedLog::~CapturedLog() {
    Detach();
}

bool CapturedLog::Write(const LogRecord& record) {
    entries_.push_back(
        Entry{record.level, record.categories, record.message != nullptr ? record.message : ""});
    return true;
}

std::vector<CapturedLog::Entry> CapturedLog::Containing(const std::string& fragment) const {
    std::vector<Entry> found;
    for (const Entry& entry : entries_) {
        if (entry.message.find(fragment) != std::string::npos) {
            found.push_back(entry);
        }
    }
    return found;
}

} // namespace Korvel::Testing
