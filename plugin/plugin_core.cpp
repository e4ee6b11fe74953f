#include "plugin/plugin_core.h"

#include "diagnostics/allocation.h"
#include "diagnostics/format_message.h"
#include "diagnostics/log.h"
#include "plugin/event_names.h"
#include "plugin/monotonic_clock.h"

#include <cmath>
#include <limits>
#include <new>
#include <set>
#include <unordered_map>
#include <utility>

namespace Korvel {

namespace {

// Process-wide record of the plug-in objects alive and of the deferred tasks
// they have handed to the host. The host gets a ticket number as the user
// data of a deferred task instead of an address, so that a timer callback
// arriving after its object was destroyed, or after its task ran, finds
// nothing and touches no freed memory.
struct LiveObjects {
    struct Ticket {
        PluginCore* owner;
        uint64_t entryId;
    };

    Platform::RecursiveLock lock;
    std::set<const PluginCore*> objects;
    std::unordered_map<uintptr_t, Ticket> tickets;
    uintptr_t nextTicket = 1;

    // A ticket number not in use; numbers are only reused after the counter
    // wraps, and never while still pending.
    uintptr_t IssueTicket(PluginCore* owner, uint64_t entryId) {
        Platform::RecursiveLockGuard guard(lock);
        uintptr_t ticket = nextTicket;
        while (ticket == 0 || tickets.count(ticket) != 0) {
            ++ticket;
        }
        nextTicket = ticket + 1;
        tickets.emplace(ticket, Ticket{owner, entryId});
        return ticket;
    }

    // Called with the lock held after tickets were erased. Without pending
    // tickets the table gives its buckets back too, so that once every
    // plug-in object is gone the record holds no memory.
    void ReleaseIfEmpty() {
        if (tickets.empty()) {
            decltype(tickets)().swap(tickets);
        }
    }
};

LiveObjects& Live() {
    static LiveObjects live;
    return live;
}

bool IsLive(const PluginCore* object) {
    LiveObjects& live = Live();
    Platform::RecursiveLockGuard guard(live.lock);
    return live.objects.count(object) != 0;
}

constexpr double kNanosecondsPerSecond = 1e9;

// now + seconds; a span the clock cannot represent saturates instead of
// overflowing. Periods that are not positive add nothing.
int64_t AddSeconds(int64_t now, double seconds) {
    if (!(seconds > 0.0)) {
        return now;
    }
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    const double span = seconds * kNanosecondsPerSecond;
    const int64_t nanoseconds =
        span >= static_cast<double>(kMax / 2) ? kMax / 2 : static_cast<int64_t>(span);
    return now > kMax - nanoseconds ? kMax : now + nanoseconds;
}

// (dueTime - now) in seconds, 0 when the due time has passed.
double DelaySeconds(int64_t dueTime, int64_t now) {
    if (dueTime <= now) {
        return 0.0;
    }
    // Both in range and dueTime > now: the difference fits an unsigned count.
    const uint64_t difference = static_cast<uint64_t>(dueTime) - static_cast<uint64_t>(now);
    return static_cast<double>(difference) / kNanosecondsPerSecond;
}

int64_t DefaultClock(void*) {
    return MonotonicNanoseconds();
}

} // namespace

void* PluginCore::operator new(std::size_t size) {
    void* block = Allocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void PluginCore::operator delete(void* block) {
    Free(block);
}

PluginCore::PluginCore() {
    LiveObjects& live = Live();
    Platform::RecursiveLockGuard guard(live.lock);
    live.objects.insert(this);
}

PluginCore::~PluginCore() {
    WithdrawDeferred();
    LiveObjects& live = Live();
    Platform::RecursiveLockGuard guard(live.lock);
    live.objects.erase(this);
}

void PluginCore::WithdrawDeferred() {
    LiveObjects& live = Live();
    Platform::RecursiveLockGuard deferredGuard(deferredLock_);
    Platform::RecursiveLockGuard guard(live.lock);
    for (const auto& [id, entry] : deferred_) {
        live.tickets.erase(entry.ticket);
    }
    live.ReleaseIfEmpty();
}

void PluginCore::Dispose(PluginCore* object) {
    if (object == nullptr) {
        return;
    }
    if (object->callbackDepth_ == 0) {
        delete object;
        return;
    }
    object->disposed_ = true;
    object->WithdrawDeferred();
}

PluginCore::CallbackScope::~CallbackScope() {
    if (--object_.callbackDepth_ == 0 && object_.disposed_) {
        delete &object_;
    }
}

void PluginCore::Subscribe(std::string_view resourcePath) {
    const std::string eventName = ResourceEventName(resourcePath);
    uint32_t& count = subscriptionCounts_[eventName];
    ++count;
    if (count == 1) {
        SubscribeHostEvent(eventName,
                           ResourceEventHandler([this](const Client::PluginResourceEvent& event) {
                               DispatchResourceEvent(event);
                           }),
                           0);
    }
}

void PluginCore::Unsubscribe(std::string_view resourcePath) {
    const std::string eventName = ResourceEventName(resourcePath);
    auto found = subscriptionCounts_.find(eventName);
    if (found == subscriptionCounts_.end()) {
        return;
    }
    if (--found->second != 0) {
        return;
    }
    subscriptionCounts_.erase(found);
    HostUnsubscribe(eventName.c_str(), pluginId_);
    hostSubscriptions_.erase(eventName);
}

void PluginCore::Shutdown() {
    ++shutdowns_;
    std::map<std::string, HostEventHandler> subscriptions = std::move(hostSubscriptions_);
    hostSubscriptions_.clear();
    for (const auto& [eventName, handler] : subscriptions) {
        HostUnsubscribe(eventName.c_str(), pluginId_);
    }
    // The counts belong to the subscriptions just ended; a later Subscribe
    // must reach the host again.
    subscriptionCounts_.clear();
    lcdsListeners_.clear();
    {
        Platform::RecursiveLockGuard guard(serviceProxyLock_);
        serviceProxyRequests_.clear();
        serviceProxyAsyncHandlers_.clear();
        pendingServiceProxy_.clear();
    }
    timers_.clear();
    resourceListeners_.clear();
    wildcardListeners_.clear();
}

void PluginCore::RegisterApi() {}

void PluginCore::SubscribeRaw(const std::string& eventName, HostEventHandler handler,
                              uint32_t flag) {
    hostSubscriptions_[eventName] = std::move(handler);
    HostSubscribe(eventName.c_str(), pluginId_, &PluginCore::OnHostEvent, this, flag);
}

void KORVEL_CDECL PluginCore::OnHostEvent(const HostEventRecord* record) {
    if (record == nullptr || record->name == nullptr) {
        return;
    }
    auto* plugin = static_cast<PluginCore*>(record->userData);
    if (!IsLive(plugin)) {
        return;
    }
    const CallbackScope scope(*plugin);
    // Nothing may unwind into the host: a handler that fails (memory
    // exhausted) loses its event.
    try {
        auto found = plugin->hostSubscriptions_.find(std::string(record->name));
        if (found == plugin->hostSubscriptions_.end()) {
            return;
        }
        // A copy, since the handler may unsubscribe and so erase its own entry.
        HostEventHandler handler = found->second;
        if (handler) {
            handler(*record);
        }
    } catch (...) {
    }
}

uint64_t PluginCore::AddDeferred(const std::string& label, DeferredTask task, int64_t dueTime) {
    const double delay = DelaySeconds(dueTime, Now());

    uint64_t id;
    uintptr_t ticket;
    {
        Platform::RecursiveLockGuard guard(deferredLock_);
        id = nextDeferredId_++;
        if (disposed_) {
            // The host has shut the object down: the task would run after that.
            return id;
        }
        ticket = Live().IssueTicket(this, id);
        DeferredEntry& entry = deferred_[id];
        entry.id = id;
        entry.ticket = ticket;
        entry.task = std::move(task);
    }
    HostSetTimer(label.c_str(), &PluginCore::OnDeferredTimer, reinterpret_cast<void*>(ticket),
                 delay, 0);
    return id;
}

void KORVEL_CDECL PluginCore::OnDeferredTimer(void* userData) {
    const auto ticket = reinterpret_cast<uintptr_t>(userData);
    PluginCore* owner;
    uint64_t id;
    {
        LiveObjects& live = Live();
        Platform::RecursiveLockGuard guard(live.lock);
        auto found = live.tickets.find(ticket);
        if (found == live.tickets.end()) {
            return;
        }
        owner = found->second.owner;
        id = found->second.entryId;
        live.tickets.erase(found);
        live.ReleaseIfEmpty();
    }
    const CallbackScope scope(*owner);
    owner->RunDeferred(id);
}

void PluginCore::RunDeferred(uint64_t id) {
    DeferredTask* task = nullptr;
    {
        Platform::RecursiveLockGuard guard(deferredLock_);
        auto found = deferred_.find(id);
        if (found == deferred_.end()) {
            return;
        }
        task = &found->second.task;
    }
    // Entries are only erased here and by the destructor, and map nodes do
    // not move, so the task stays put while it runs without the lock (it may
    // add deferred tasks itself). A task that fails still leaves the table;
    // nothing unwinds into the host.
    try {
        if (*task) {
            (*task)();
        }
    } catch (...) {
    }
    Platform::RecursiveLockGuard guard(deferredLock_);
    deferred_.erase(id);
}

std::size_t PluginCore::PendingDeferredCount() const {
    Platform::RecursiveLockGuard guard(deferredLock_);
    return deferred_.size();
}

void PluginCore::AddTimer(const std::string& name, double periodSeconds, TimerHandler handler) {
    TimerRecord& record = timers_[name];
    record.name = name;
    record.period = periodSeconds;
    record.nextDue = AddSeconds(Now(), periodSeconds);
    // Generations come from one counter of the object, so a timer removed
    // and registered again under its name never takes a generation that a
    // firing of its earlier life still carries.
    record.generation = ++lastTimerGeneration_;
    record.task = TimerTask{this, name, record.generation, std::move(handler)};
    AddDeferred(FormatMessage("Timer: %1", name), record.task, record.nextDue);
}

void PluginCore::RemoveTimer(const std::string& name) {
    timers_.erase(name);
}

void PluginCore::TimerTask::operator()() const {
    auto found = plugin->timers_.find(name);
    if (found == plugin->timers_.end()) {
        LogMessage(LogLevel::Warn, kLogCategoryDbg | kLogCategoryNet,
                   "Couldn't find timer named %s", name.c_str());
        return;
    }
    TimerRecord& record = found->second;
    if (record.generation != generation) {
        return;
    }
    // The next run is scheduled from the start of this one, so the handler's
    // own duration does not delay the schedule.
    record.nextDue = AddSeconds(plugin->Now(), record.period);
    // A handler that fails (memory exhausted) loses this run, not the runs after it.
    try {
        if (handler) {
            handler();
        }
    } catch (...) {
        plugin->Rearm(*this);
        throw;
    }
    plugin->Rearm(*this);
}

void PluginCore::Rearm(const TimerTask& task) {
    auto found = timers_.find(task.name);
    if (found == timers_.end() || found->second.generation != task.generation) {
        return;
    }
    TimerRecord& record = found->second;
    AddDeferred(FormatMessage("Timer: %1", record.name), record.task, record.nextDue);
}

int64_t PluginCore::Now() const {
    return clock_ != nullptr ? clock_(clockContext_) : DefaultClock(nullptr);
}

void PluginCore::SetClock(ClockFunction clock, void* context) {
    clock_ = clock;
    clockContext_ = context;
}

} // namespace Korvel
