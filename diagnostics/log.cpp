// The process-wide logger: settings, the list of attached targets and the
// dispatch of messages to them.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/logging_api.h"
#include "platform/recursive_lock.h"
#include "platform/static_mutex.h"

namespace Korvel {
namespace Logging {
void ReadModuleName();
} // namespace Logging

namespace {

// Dispatch depth per thread; a target that logs from its Write re-enters the
// logger, and beyond this depth such messages are dropped instead of
// recursing without end.
constexpr int kMaxDispatchDepth = 4;

class Logger {
public:
    Logger() {
        stdErr_.SetFormat("#E(#T): #L| #M");
        stdErr_.SetCategoryFilter(kLogCategoryDbg, kLogCategoryGen);
        stdOut_.SetFormat("#M");
        stdOut_.SetCategoryFilter(kLogCategoryGen, kLogCategoryDbg);
        debugger_.SetFormat("#E(#T): #L| #M");
        debugger_.SetCategoryFilter(kLogCategoryDbg, 0);
        Logging::ReadModuleName();
    }

    // Attaching needs the logger to be reachable, so it follows construction.
    void AttachDefaultTargets() {
        stdErr_.Attach();
        debugger_.Attach();
    }

    ~Logger() {
        {
            Platform::RecursiveLockGuard guard(lock_);
            // Detach from the last to the first; targets added without their
            // attached flag are simply dropped with the list.
            for (std::size_t i = targets_.size(); i > 0; --i) {
                if (i <= targets_.size()) {
                    LogTargetFunctions* target = targets_[i - 1];
                    target->detach(target);
                }
            }
            targets_.clear();
        }
    }

    Platform::RecursiveLock lock_;
    std::vector<LogTargetFunctions*> targets_;
    std::atomic<bool> reserved_{false};
    std::atomic<bool> disabled_{false};
    std::atomic<int32_t> minLevel_{static_cast<int32_t>(LogLevel::Warn)};
    std::atomic<uint64_t> muted_{kLogCategoryXtr};
    StdErrLogTarget stdErr_;
    StdOutLogTarget stdOut_;
    DebuggerConsoleLogTarget debugger_;
};

constinit std::atomic<Logger*> instance{nullptr};
// Serialises creating and destroying the logger.
constinit Platform::StaticMutex lifetimeMutex;
constinit std::atomic<int32_t> references{0};
thread_local int dispatchDepth = 0;

Logger* Existing() {
    return instance.load(std::memory_order_acquire);
}

Logger& Instance() {
    Logger* logger = instance.load(std::memory_order_acquire);
    if (logger != nullptr) {
        return *logger;
    }
    std::lock_guard<Platform::StaticMutex> guard(lifetimeMutex);
    logger = instance.load(std::memory_order_acquire);
    if (logger == nullptr) {
        logger = new Logger();
        instance.store(logger, std::memory_order_release);
        logger->AttachDefaultTargets();
    }
    return *logger;
}

void Destroy() {
    std::lock_guard<Platform::StaticMutex> guard(lifetimeMutex);
    Logger* logger = instance.load(std::memory_order_acquire);
    if (logger == nullptr) {
        return;
    }
    // The logger stays reachable while its targets detach from it.
    delete logger;
    instance.store(nullptr, std::memory_order_release);
}

bool Accepts(LogTargetFunctions* target, const LogRecord& record) {
    if (record.level < target->getMinLevel(target)) {
        return false;
    }
    if (record.categories != 0) {
        if ((record.categories & target->getExcludedCategories(target)) != 0) {
            return false;
        }
        const uint64_t included = target->getIncludedCategories(target);
        if (included != 0 && (record.categories & included) == 0) {
            return false;
        }
    }
    return true;
}

// Targets a dispatch copies onto the stack; longer lists are copied to the heap.
constexpr std::size_t kDispatchStackTargets = 16;

void Dispatch(Logger& logger, const LogRecord& record) {
    Platform::RecursiveLockGuard guard(logger.lock_);
    // A target may attach or detach targets, itself included, while it writes. The walk goes
    // over the list as it was when the record arrived, so that a change does not make it skip
    // or repeat a target, and offers the record only to targets still in the list, as one
    // that has been detached may be gone.
    const std::size_t count = logger.targets_.size();
    std::array<LogTargetFunctions*, kDispatchStackTargets> onStack{};
    std::vector<LogTargetFunctions*> onHeap;
    LogTargetFunctions** walk = onStack.data();
    if (count > onStack.size()) {
        onHeap = logger.targets_;
        walk = onHeap.data();
    } else {
        std::copy(logger.targets_.begin(), logger.targets_.end(), onStack.begin());
    }
    for (std::size_t i = 0; i < count; ++i) {
        LogTargetFunctions* target = walk[i];
        if (i > 0 && std::find(logger.targets_.begin(), logger.targets_.end(), target) ==
                         logger.targets_.end()) {
            continue;
        }
        if (Accepts(target, record)) {
            target->write(target, &record);
        }
    }
}

} // namespace

void LogMessageV(LogLevel level, uint64_t categories, const char* format, va_list arguments) {
    Logger& logger = Instance();
    const auto levelValue = static_cast<int32_t>(level);
    if (logger.disabled_.load(std::memory_order_relaxed) ||
        levelValue < logger.minLevel_.load(std::memory_order_relaxed) ||
        (categories & logger.muted_.load(std::memory_order_relaxed)) != 0) {
        return;
    }
    if (dispatchDepth >= kMaxDispatchDepth) {
        return;
    }
    char text[kLogBufferSize];
    if (format == nullptr) {
        text[0] = '\0';
    } else if (std::vsnprintf(text, sizeof text, format, arguments) < 0) {
        text[0] = '\0';
    }
    LogRecord record{};
    Logging::CaptureTime(&record);
    record.level = levelValue;
    record.categories = categories;
    record.message = text;
    // The depth is restored also when a target's Write throws, so that the thread can log again.
    struct DepthGuard {
        DepthGuard() { ++dispatchDepth; }
        ~DepthGuard() { --dispatchDepth; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;
    } depth;
    Dispatch(logger, record);
}

void LogMessage(LogLevel level, uint64_t categories, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    LogMessageV(level, categories, format, arguments);
    va_end(arguments);
}

namespace Logging {

void AddRef() {
    if (references.fetch_add(1, std::memory_order_acq_rel) == 0) {
        Instance();
    }
}

void Release() {
    int32_t current = references.load(std::memory_order_relaxed);
    // Never below zero: an unmatched Release is ignored.
    while (current > 0 &&
           !references.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel)) {
    }
    if (current == 1) {
        Destroy();
    }
}

bool Exists() {
    return Existing() != nullptr;
}

void DestroyAtUnload() {
    references.store(0, std::memory_order_relaxed);
    Destroy();
}

void SetMinLevel(int32_t level) {
    Logger& logger = Instance();
    Platform::RecursiveLockGuard guard(logger.lock_);
    logger.minLevel_.store(level, std::memory_order_relaxed);
}

int32_t GetMinLevel() {
    Logger& logger = Instance();
    Platform::RecursiveLockGuard guard(logger.lock_);
    return logger.minLevel_.load(std::memory_order_relaxed);
}

void SetMutedCategories(uint64_t mask) {
    Instance().muted_.store(mask, std::memory_order_relaxed);
}

uint64_t GetMutedCategories() {
    return Instance().muted_.load(std::memory_order_relaxed);
}

void Disable() {
    Instance().disabled_.store(true, std::memory_order_relaxed);
}

void Enable() {
    Instance().disabled_.store(false, std::memory_order_relaxed);
}

bool IsDisabled() {
    return Instance().disabled_.load(std::memory_order_relaxed);
}

void SetReservedFlag() {
    Instance().reserved_.store(true, std::memory_order_relaxed);
}

void ClearReservedFlag() {
    Instance().reserved_.store(false, std::memory_order_relaxed);
}

bool GetReservedFlag() {
    return Instance().reserved_.load(std::memory_order_relaxed);
}

void AddTarget(LogTargetFunctions* target) {
    if (target == nullptr) {
        return;
    }
    Logger& logger = Instance();
    Platform::RecursiveLockGuard guard(logger.lock_);
    logger.targets_.push_back(target);
}

void RemoveTarget(LogTargetFunctions* target) {
    Logger* logger = Existing();
    if (logger == nullptr) {
        return;
    }
    Platform::RecursiveLockGuard guard(logger->lock_);
    std::erase(logger->targets_, target);
}

LogTargetFunctions* FindTarget(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    Logger& logger = Instance();
    Platform::RecursiveLockGuard guard(logger.lock_);
    for (LogTargetFunctions* target : logger.targets_) {
        const char* targetName = target->getName(target);
        if (targetName != nullptr && std::strcmp(targetName, name) == 0) {
            return target;
        }
    }
    return nullptr;
}

std::size_t TargetCount() {
    Logger& logger = Instance();
    Platform::RecursiveLockGuard guard(logger.lock_);
    return logger.targets_.size();
}

LogTargetFunctions* GetStdOutTarget() {
    return Instance().stdOut_.Functions();
}

LogTargetFunctions* GetStdErrTarget() {
    return Instance().stdErr_.Functions();
}

LogTargetFunctions* GetDebuggerTarget() {
    return Instance().debugger_.Functions();
}

// Used by LogTarget: attach and detach under the logger lock.
void AttachTarget(LogTargetFunctions* target, std::atomic<bool>& attached) {
    Logger& logger = Instance();
    Platform::RecursiveLockGuard guard(logger.lock_);
    if (!attached.load(std::memory_order_relaxed)) {
        attached.store(true, std::memory_order_relaxed);
        logger.targets_.push_back(target);
    }
}

void DetachTarget(LogTargetFunctions* target, std::atomic<bool>& attached) {
    Logger* logger = Existing();
    if (logger == nullptr) {
        attached.store(false, std::memory_order_relaxed);
        return;
    }
    Platform::RecursiveLockGuard guard(logger->lock_);
    if (attached.load(std::memory_order_relaxed)) {
        attached.store(false, std::memory_order_relaxed);
        std::erase(logger->targets_, target);
    }
}

} // namespace Logging

namespace {

int32_t ApiInterfaceVersion() {
    return kLoggingApiVersion;
}

uint64_t ApiRegisterCategory(const char* name) {
    return RegisterCategory(name);
}

std::size_t ApiFormatLine(char* buffer, std::size_t size, const char* lineTemplate,
                          const LogRecord* record) {
    if (record == nullptr) {
        const LogRecord empty{};
        return Logging::FormatLine(buffer, size, lineTemplate, empty);
    }
    return Logging::FormatLine(buffer, size, lineTemplate, *record);
}

std::size_t ApiFormatTimestamp(char* buffer, std::size_t size, const LogTime* time) {
    const LogTime zero{};
    return Logging::FormatTimestamp(buffer, size, time != nullptr ? *time : zero);
}

std::size_t ApiFormatFileTimestamp(char* buffer, std::size_t size, const LogTime* time) {
    const LogTime zero{};
    return Logging::FormatFileTimestamp(buffer, size, time != nullptr ? *time : zero);
}

void ApiLogMessageV(int32_t level, uint32_t low, uint32_t high, const char* format,
                    va_list arguments) {
    LogMessageV(static_cast<LogLevel>(level), (uint64_t{high} << 32) | low, format, arguments);
}

constexpr LoggingApi kLoggingApi{
    &ApiInterfaceVersion,
    &Logging::AddRef,
    &Logging::Release,
    &Logging::SetMinLevel,
    &Logging::GetMinLevel,
    &Logging::SetMutedCategories,
    &Logging::GetMutedCategories,
    &Logging::Disable,
    &Logging::Enable,
    &Logging::SetReservedFlag,
    &Logging::ClearReservedFlag,
    &Logging::AddTarget,
    &Logging::RemoveTarget,
    &Logging::FindTarget,
    &Logging::GetStdOutTarget,
    &Logging::GetStdErrTarget,
    &Logging::GetDebuggerTarget,
    &ApiRegisterCategory,
    &Logging::FormatCategories,
    &ApiFormatLine,
    &Logging::LevelName,
    &Logging::ModuleName,
    &Logging::CaptureTime,
    &ApiFormatTimestamp,
    &ApiFormatFileTimestamp,
    &ApiLogMessageV,
};

} // namespace

const LoggingApi* GetLoggingApi() {
    return &kLoggingApi;
}

} // namespace Korvel
