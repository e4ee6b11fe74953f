#pragma once

#include "platform/recursive_lock.h"
#include "plugin/external_request_records.h"
#include "plugin/host_event_record.h"
#include "plugin/host_function_table.h"
#include "plugin/host_resource_records.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace Korvel {

// Work handed to the host to run later: a callable with no arguments.
using DeferredTask = std::function<void()>;
// What a named timer runs each period.
using TimerHandler = std::function<void()>;
// Receives a host event for a subscribed name.
using HostEventHandler = std::function<void(const HostEventRecord& event)>;
// Reads the clock in nanoseconds; replaceable so that a host with a clock of
// its own (a test host) can drive the timers.
using ClockFunction = int64_t (*)(void* context);

// The host glue shared by every plug-in: subscriptions to host events,
// deferred tasks and named timers, and the virtual operations through which
// everything reaches the host. The host runs the plug-in's callbacks one at
// a time; only the deferred-task table is used from other threads as well
// and has a lock of its own.
class PluginCore {
public:
    // The object is allocated through the library's allocation entries, so
    // that it is counted like everything else the library holds.
    static void* operator new(std::size_t size);
    static void operator delete(void* block);

    PluginCore();
    PluginCore(const PluginCore&) = delete;
    PluginCore& operator=(const PluginCore&) = delete;

    // The virtual operations, in the order of their slots.

    // Counted subscription to the resource event of a path: the first one for
    // an event name subscribes to the host.
    virtual void Subscribe(std::string_view resourcePath);
    // Counted unsubscription: the one that brings the count of the event
    // name to zero unsubscribes from the host. Unsubscribing a name that is
    // not subscribed does nothing.
    virtual void Unsubscribe(std::string_view resourcePath);
    // Withdraws every deferred task still pending with the host, so that a
    // later callback for one of them finds nothing to run.
    virtual ~PluginCore();
    // Unsubscribes every host event and empties the subscription and timer
    // tables. Deferred tasks stay with the host.
    virtual void Shutdown();
    virtual void SendRequest(HostResourceResponse* response,
                             const HostResourceRequest* request) = 0;
    virtual void SendExternalRequest(ExternalResponseRecord* response,
                                     const ExternalRequestRecord* request) = 0;
    virtual void FireEvent(const HostEventRecord* event) = 0;
    virtual void HostSubscribe(const char* eventName, uint32_t pluginId, HostEventCallback callback,
                               void* userData, uint32_t flag) = 0;
    virtual void HostUnsubscribe(const char* eventName, uint32_t pluginId) = 0;
    virtual void HostSetTimer(const char* label, HostTimerCallback callback, void* userData,
                              double delaySeconds, uint32_t flags) = 0;
    virtual void HostYield() = 0;
    virtual void HostBeginWait(const std::string& label, uint32_t flags) = 0;
    virtual void HostEndWait() = 0;
    // Registers the plug-in's own types and functions during the handshake.
    virtual void RegisterApi();
    // Starts the plug-in's work at the end of initialisation.
    virtual bool Start() = 0;

    // Subscribes to a host event: stores the handler under the name
    // (replacing one already there) and subscribes with the host.
    void SubscribeHostEvent(const std::string& eventName, HostEventHandler handler, uint32_t flag);

    // Runs `task` once, at or after `dueTime` (clock nanoseconds). The label
    // is for the host's own use. Returns the entry's id.
    uint64_t AddDeferred(const std::string& label, DeferredTask task, int64_t dueTime);
    // Registers or re-registers a named timer that runs `handler` every
    // `periodSeconds`, the first time one period from now.
    void AddTimer(const std::string& name, double periodSeconds, TimerHandler handler);
    // Removes a named timer. A firing already handed to the host is not
    // withdrawn; when it runs it logs that the timer is gone.
    void RemoveTimer(const std::string& name);

    // The clock in nanoseconds: the monotonic clock unless replaced.
    int64_t Now() const;
    void SetClock(ClockFunction clock, void* context);

    uint32_t PluginId() const { return pluginId_; }
    const std::string& UserAgent() const { return userAgent_; }
    bool HasTimer(const std::string& name) const { return timers_.count(name) != 0; }
    std::size_t PendingDeferredCount() const;
    std::size_t HostSubscriptionCount() const { return hostSubscriptions_.size(); }

protected:
    void SetPluginId(uint32_t pluginId) { pluginId_ = pluginId; }
    void SetUserAgent(std::string userAgent) { userAgent_ = std::move(userAgent); }

    // Hands a host event to the listeners of resource paths. The resource
    // listener tables come with the event layer; until then no listener can
    // be registered and the event reaches nobody.
    void DispatchResourceEvent(const HostEventRecord& event);

private:
    struct TimerTask {
        PluginCore* plugin;
        std::string name;
        uint64_t generation;
        TimerHandler handler;
        void operator()() const;
    };

    struct TimerRecord {
        std::string name;
        TimerTask task;
        int64_t nextDue = 0;
        double period = 0.0;
        uint64_t generation = 0;
    };

    struct DeferredEntry {
        uint64_t id = 0;
        // The user data handed to the host: a process-wide ticket that maps
        // back to this object and id while both exist.
        uintptr_t ticket = 0;
        DeferredTask task;
    };

    static void KORVEL_CDECL OnHostEvent(const HostEventRecord* record);
    static void KORVEL_CDECL OnDeferredTimer(void* userData);
    void RunDeferred(uint64_t id);
    void Rearm(const TimerTask& task);

    // Slots of the event layer (resource listeners, LCDS type bindings and
    // listeners, service-proxy tables and their lock) go here.

    // Registry used for conversions: set by the handshake once the type
    // registry exists.

    uint32_t pluginId_ = 0;
    std::string userAgent_;
    // Event name to the handler of the host's callbacks.
    std::map<std::string, HostEventHandler> hostSubscriptions_;
    // Event name to the number of local users of that subscription.
    std::map<std::string, uint32_t> subscriptionCounts_;
    std::map<std::string, TimerRecord> timers_;
    uint64_t lastTimerGeneration_ = 0;
    std::map<uint64_t, DeferredEntry> deferred_;
    uint64_t nextDeferredId_ = 1;
    mutable Platform::RecursiveLock deferredLock_;
    ClockFunction clock_ = nullptr;
    void* clockContext_ = nullptr;
};

} // namespace Korvel
