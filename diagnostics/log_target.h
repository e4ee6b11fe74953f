#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "diagnostics/log.h"
#include "platform/recursive_lock.h"

namespace Korvel {

// The plain table of functions that every log target carries. The logger's
// list holds pointers to these tables, so a target built in another module
// can be attached as well. Every entry takes the table itself first.
struct LogTargetFunctions {
    int32_t (*interfaceVersion)(LogTargetFunctions* self);
    void (*setMinLevel)(LogTargetFunctions* self, int32_t level);
    int32_t (*getMinLevel)(LogTargetFunctions* self);
    void (*setCategoryFilter)(LogTargetFunctions* self, uint64_t included, uint64_t excluded);
    uint64_t (*getIncludedCategories)(LogTargetFunctions* self);
    uint64_t (*getExcludedCategories)(LogTargetFunctions* self);
    const char* (*getName)(LogTargetFunctions* self);
    const char* (*getFormat)(LogTargetFunctions* self);
    void (*attach)(LogTargetFunctions* self);
    void (*detach)(LogTargetFunctions* self);
    bool (*isAttached)(LogTargetFunctions* self);
    bool (*write)(LogTargetFunctions* self, const LogRecord* record);
    // The object behind the table, for the module that built it.
    void* target;
};

inline constexpr int32_t kLogTargetInterfaceVersion = 1;
inline constexpr const char kDefaultLogLineTemplate[] = "#D| #L| #G| #M";

// Settings applied at once by LogTarget::Configure.
struct LogTargetConfig {
    int32_t minLevel;
    uint64_t includedCategories;
    uint64_t excludedCategories;
    std::string lineTemplate;
};

// Base of all log targets. A target receives the records that pass its own
// level and category filters: the record's level must reach the minimum
// level; a non-zero record mask must share no bit with the excluded mask and,
// when the included mask is not zero, share a bit with it. A record with
// mask 0 passes both category filters.
class LogTarget {
public:
    LogTarget();
    // Detaches the target if it is attached, and takes its table out of the logger's list also
    // where AddTarget put it there without attaching it. By then the derived part that Write uses
    // is gone already, so a target that another thread may be logging to while it is destroyed
    // detaches in its own destructor as well: the detach waits for a write in progress to finish.
    virtual ~LogTarget();
    LogTarget(const LogTarget&) = delete;
    LogTarget& operator=(const LogTarget&) = delete;

    // If attached: clears the flag and removes the target from the logger.
    virtual void Detach();
    virtual const char* GetName() const;
    virtual const char* GetFormat() const;
    // Writes one record; called by the logger under its lock.
    virtual bool Write(const LogRecord& record) = 0;

    // If not attached: sets the flag and appends the target to the logger.
    void Attach();
    bool IsAttached() const;

    void SetMinLevel(int32_t level);
    int32_t GetMinLevel() const;
    // Stores the included mask without the excluded bits, and the excluded
    // mask as given.
    void SetCategoryFilter(uint64_t included, uint64_t excluded);
    uint64_t GetIncludedCategories() const;
    uint64_t GetExcludedCategories() const;
    void SetFormat(const std::string& lineTemplate);

    // Detaches, applies the settings, then attaches.
    void Configure(const LogTargetConfig& config);

    // The table the logger holds for this target.
    LogTargetFunctions* Functions() { return &functions_; }
    // The target behind a table built by this module, or null.
    static LogTarget* FromFunctions(LogTargetFunctions* functions);

protected:
    // Serialises the target's settings and its writes.
    Platform::RecursiveLock& TargetLock() const { return lock_; }

private:
    LogTargetFunctions functions_;
    std::atomic<bool> attached_{false};
    mutable Platform::RecursiveLock lock_;
    std::atomic<int32_t> minLevel_{static_cast<int32_t>(LogLevel::Warn)};
    std::atomic<uint64_t> includedCategories_{0};
    std::atomic<uint64_t> excludedCategories_{0};
    std::string lineTemplate_{kDefaultLogLineTemplate};
};

} // namespace Korvel
