#include "diagnostics/log_target.h"

#include <cstdio>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/logging_api.h"
#include "platform/debugger_output.h"

namespace Korvel {
namespace Logging {
void AttachTarget(LogTargetFunctions* target, std::atomic<bool>& attached);
void DetachTarget(LogTargetFunctions* target, std::atomic<bool>& attached);
} // namespace Logging

namespace {

LogTarget& Self(LogTargetFunctions* functions) {
    return *static_cast<LogTarget*>(functions->target);
}

int32_t TableInterfaceVersion(LogTargetFunctions*) {
    return kLogTargetInterfaceVersion;
}
void TableSetMinLevel(LogTargetFunctions* self, int32_t level) {
    Self(self).SetMinLevel(level);
}
int32_t TableGetMinLevel(LogTargetFunctions* self) {
    return Self(self).GetMinLevel();
}
void TableSetCategoryFilter(LogTargetFunctions* self, uint64_t included, uint64_t excluded) {
    Self(self).SetCategoryFilter(included, excluded);
}
uint64_t TableGetIncluded(LogTargetFunctions* self) {
    return Self(self).GetIncludedCategories();
}
uint64_t TableGetExcluded(LogTargetFunctions* self) {
    return Self(self).GetExcludedCategories();
}
const char* TableGetName(LogTargetFunctions* self) {
    return Self(self).GetName();
}
const char* TableGetFormat(LogTargetFunctions* self) {
    return Self(self).GetFormat();
}
void TableAttach(LogTargetFunctions* self) {
    Self(self).Attach();
}
void TableDetach(LogTargetFunctions* self) {
    Self(self).Detach();
}
bool TableIsAttached(LogTargetFunctions* self) {
    return Self(self).IsAttached();
}
bool TableWrite(LogTargetFunctions* self, const LogRecord* record) {
    if (record == nullptr) {
        return false;
    }
    return Self(self).Write(*record);
}

} // namespace

LogTarget::LogTarget()
    : functions_{&TableInterfaceVersion,
                 &TableSetMinLevel,
                 &TableGetMinLevel,
                 &TableSetCategoryFilter,
                 &TableGetIncluded,
                 &TableGetExcluded,
                 &TableGetName,
                 &TableGetFormat,
                 &TableAttach,
                 &TableDetach,
                 &TableIsAttached,
                 &TableWrite,
                 this} {}

LogTarget::~LogTarget() {
    // The virtual Detach of a derived class is gone by now; the base one is
    // what runs here, which is all a detach needs.
    LogTarget::Detach();
    // A table put into the list with AddTarget carries no attached flag; it
    // must not stay there once the target is gone.
    Logging::RemoveTarget(&functions_);
}

void LogTarget::Detach() {
    Logging::DetachTarget(&functions_, attached_);
}

void LogTarget::Attach() {
    Logging::AttachTarget(&functions_, attached_);
}

bool LogTarget::IsAttached() const {
    return attached_.load(std::memory_order_relaxed);
}

const char* LogTarget::GetName() const {
    return "LogTarget";
}

const char* LogTarget::GetFormat() const {
    return lineTemplate_.c_str();
}

void LogTarget::SetMinLevel(int32_t level) {
    Platform::RecursiveLockGuard guard(lock_);
    minLevel_.store(level, std::memory_order_relaxed);
}

int32_t LogTarget::GetMinLevel() const {
    return minLevel_.load(std::memory_order_relaxed);
}

void LogTarget::SetCategoryFilter(uint64_t included, uint64_t excluded) {
    Platform::RecursiveLockGuard guard(lock_);
    includedCategories_.store(included & ~excluded, std::memory_order_relaxed);
    excludedCategories_.store(excluded, std::memory_order_relaxed);
}

uint64_t LogTarget::GetIncludedCategories() const {
    return includedCategories_.load(std::memory_order_relaxed);
}

uint64_t LogTarget::GetExcludedCategories() const {
    return excludedCategories_.load(std::memory_order_relaxed);
}

void LogTarget::SetFormat(const std::string& lineTemplate) {
    Platform::RecursiveLockGuard guard(lock_);
    lineTemplate_ = lineTemplate;
}

void LogTarget::Configure(const LogTargetConfig& config) {
    Detach();
    SetMinLevel(config.minLevel);
    SetCategoryFilter(config.includedCategories, config.excludedCategories);
    SetFormat(config.lineTemplate);
    Attach();
}

LogTarget* LogTarget::FromFunctions(LogTargetFunctions* functions) {
    if (functions == nullptr || functions->interfaceVersion != &TableInterfaceVersion) {
        return nullptr;
    }
    return static_cast<LogTarget*>(functions->target);
}

// Console targets.

const char* BaseConsoleLogTarget::GetName() const {
    return "BaseConsoleLogTarget";
}

std::size_t BaseConsoleLogTarget::FormatRecord(const LogRecord& record, char* buffer,
                                               std::size_t size) const {
    return Logging::FormatLine(buffer, size, GetFormat(), record);
}

const char* StdErrLogTarget::GetName() const {
    return "StdErrLogTarget";
}

bool StdErrLogTarget::Write(const LogRecord& record) {
    char line[kLogBufferSize];
    // The template is read under the target lock, as it may be reconfigured.
    Platform::RecursiveLockGuard guard(TargetLock());
    FormatRecord(record, line, sizeof line);
    std::fputs(line, stderr);
    return true;
}

void StdErrLogTarget::Flush() {
    Platform::RecursiveLockGuard guard(TargetLock());
    std::fflush(stderr);
}

const char* StdOutLogTarget::GetName() const {
    return "StdOutLogTarget";
}

bool StdOutLogTarget::Write(const LogRecord& record) {
    char line[kLogBufferSize];
    Platform::RecursiveLockGuard guard(TargetLock());
    FormatRecord(record, line, sizeof line);
    std::fputs(line, stdout);
    if (GetFlushAfterWrite()) {
        std::fflush(stdout);
    }
    return true;
}

void StdOutLogTarget::Flush() {
    Platform::RecursiveLockGuard guard(TargetLock());
    std::fflush(stdout);
}

const char* DebuggerConsoleLogTarget::GetName() const {
    return "DebuggerConsoleLogTarget";
}

bool DebuggerConsoleLogTarget::Write(const LogRecord& record) {
    char line[kLogBufferSize];
    Platform::RecursiveLockGuard guard(TargetLock());
    FormatRecord(record, line, sizeof line);
    Platform::WriteDebuggerOutput(line);
    return true;
}

void DebuggerConsoleLogTarget::Flush() {}

} // namespace Korvel
