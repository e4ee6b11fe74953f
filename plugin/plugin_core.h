#pragma once

#include "binding/binding_property.h"
#include "binding/binding_result.h"
#include "binding/convert_to_property.h"
#include "platform/recursive_lock.h"
#include "plugin/external_request_records.h"
#include "plugin/host_event_record.h"
#include "plugin/host_function_table.h"
#include "plugin/host_resource_records.h"
#include "plugin/plugin_manager_types.h"
#include "plugin/request_results.h"
#include "remoting/http_method.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Korvel {

// Work handed to the host to run later: a callable with no arguments.
using DeferredTask = std::function<void()>;
// What a named timer runs each period.
using TimerHandler = std::function<void()>;
// Receives the host's callbacks for a subscribed event name.
using HostEventHandler = std::function<void(const HostEventRecord& event)>;
// Typed handlers of host events, one per kind of subscription: the payload as a dynamic value
// (plain events), or converted to the plug-in-manager record of the kind.
using PlainEventHandler = std::function<void(const BindingProperty& payload)>;
using ResourceEventHandler = std::function<void(const Client::PluginResourceEvent& event)>;
using LcdsEventHandler = std::function<void(const Client::AppModule::PluginLcdsEvent& event)>;
using ServiceProxyHandler =
    std::function<void(const Client::AppModule::PluginServiceProxyResponse& response)>;
// Reads the clock in nanoseconds; replaceable so that a host with a clock of
// its own (a test host) can drive the timers.
using ClockFunction = int64_t (*)(void* context);

// The host glue shared by every plug-in: subscriptions to host events and
// the listeners of resources and LCDS messages, service-proxy replies,
// publishing resources, requests to the host and to outside web servers,
// deferred tasks and named timers, and the virtual operations through which
// everything reaches the host. The host runs the plug-in's callbacks one at
// a time; the service-proxy tables and the deferred-task table have locks of
// their own.
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
    // Unsubscribes every host event and empties the subscription, listener,
    // service-proxy and timer tables. Deferred tasks stay with the host.
    virtual void Shutdown();
    // Destroys an object the host has shut down. When the host does so from inside a callback
    // of the object that is still under way, the object withdraws its deferred tasks, hands the
    // host no new ones, and is destroyed once that callback returns, so that the code still
    // running on it touches no freed memory.
    static void Dispose(PluginCore* object);
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

    // --- Host events ------------------------------------------------------

    // Subscribes to a host event: stores the handler under the name
    // (replacing one already there) and subscribes with the host, with the
    // plug-in id, this object as user data and the flag (1 for LCDS and
    // service-proxy subscriptions, 0 otherwise). The payload reaches the
    // handler as a dynamic value, or converted to the record of the kind; a
    // payload that does not convert is dropped without a word.
    void SubscribeHostEvent(const std::string& eventName, PlainEventHandler handler,
                            uint32_t flag = 0);
    void SubscribeHostEvent(const std::string& eventName, ResourceEventHandler handler,
                            uint32_t flag = 0);
    void SubscribeHostEvent(const std::string& eventName, LcdsEventHandler handler,
                            uint32_t flag = 1);
    void SubscribeHostEvent(const std::string& eventName, ServiceProxyHandler handler,
                            uint32_t flag = 1);

    // Listens to changes of the resource at `path`: a path with "*" is a
    // wildcard pattern (see MatchesWildcard), any other an exact path. The
    // listener receives each event with "data" converted to T; events whose
    // data does not convert are dropped. For an exact path the resource is
    // read once at once, and when that succeeds the new listener receives it
    // as a Create event.
    template <typename T>
    void ObserveResource(std::string_view path,
                         std::function<void(const Client::PluginResourceEventOf<T>&)> listener);

    // Listens to LCDS messages of the class; the listener receives each
    // message's body converted to T, from a deferred task. Each call
    // subscribes to the class's LCDS event anew.
    template <typename T>
    void ObserveLcds(std::string_view className, std::function<void(const T&)> listener);

    // Publishes a change of one of the plug-in's own resources: fires the
    // resource's event name and then "OnJsonApiEvent" with the
    // PluginResourceEvent {uri, eventType, data}. Returns false, publishing
    // nothing, when the value or the event does not convert.
    template <typename T>
    bool PublishResource(Client::PluginResourceEventType eventType, std::string_view path,
                         const T& value);
    bool PublishResourceValue(Client::PluginResourceEventType eventType, std::string_view path,
                              BindingProperty data);

    // The LCDS class bound to a registered type name or static type hash.
    void BindLcdsType(std::string_view typeName, uint32_t typeHash, std::string_view className);
    const std::string* LcdsClassOfType(std::string_view typeName) const;
    const std::string* LcdsClassOfType(uint32_t typeHash) const;

    // --- Service-proxy replies ---------------------------------------------

    // Waits for the reply with `key` (a uuid, or "service.method"): the
    // handler receives it once, when it arrives or at once when it is
    // already pending, and the wait ends.
    void AwaitServiceProxyResponse(const std::string& key, ServiceProxyHandler handler);
    // Handles the async service-proxy events of `key` ("service.method");
    // replaces a handler registered before.
    void SetServiceProxyAsyncHandler(const std::string& key, ServiceProxyHandler handler);
    // Hands a service-proxy reply, received under the event name, to the
    // waiting request or async handler.
    void
    DispatchServiceProxyResponse(std::string_view eventName,
                                 const Client::AppModule::PluginServiceProxyResponse& response);
    std::size_t PendingServiceProxyResponseCount() const;
    std::size_t WaitingServiceProxyRequestCount() const;

    // --- Requests ----------------------------------------------------------

    // Reads a resource of the host with GET; the value is the body.
    ResourceResult GetResource(std::string_view path);
    // ... converted to T (under the name "<result>"); `result` receives it.
    template <typename T>
    ResourceResult GetResource(std::string_view path, T& result);
    // GetResource of "/data-store/v1/system-settings/" + name, or of
    // "/data-store/v1/install-settings/" + name.
    ResourceResult ReadSystemSetting(std::string_view name);
    ResourceResult ReadInstallSetting(std::string_view name);
    // Sends a request to an outside web server. Unless `headers` has a
    // "user-agent" entry (exact name), the plug-in's user agent goes first.
    ExternalResponse SendExternal(HttpMethod method, std::string_view url,
                                  const HeaderTable& headers, uint32_t timeLimit);

    // --- Deferred work and timers -----------------------------------------

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
    // The registry of every conversion of the host glue; null until set.
    const BindingRegistry* ConversionRegistry() const { return registry_; }
    bool HasTimer(const std::string& name) const { return timers_.count(name) != 0; }
    std::size_t PendingDeferredCount() const;
    std::size_t HostSubscriptionCount() const { return hostSubscriptions_.size(); }
    std::size_t ResourceListenerCount() const;
    std::size_t LcdsListenerCount() const;

protected:
    // Counts a callback of the host under way on the object; the last one to return destroys
    // an object disposed of meanwhile.
    class CallbackScope {
    public:
        explicit CallbackScope(PluginCore& object) : object_(object) { ++object_.callbackDepth_; }
        ~CallbackScope();
        CallbackScope(const CallbackScope&) = delete;
        CallbackScope& operator=(const CallbackScope&) = delete;

    private:
        PluginCore& object_;
    };

    // True once the host has disposed of the object while one of its callbacks was under way:
    // the code still running then reaches the host no more.
    bool Disposed() const { return disposed_.load(); }
    void SetPluginId(uint32_t pluginId) { pluginId_ = pluginId; }
    void SetUserAgent(std::string userAgent) { userAgent_ = std::move(userAgent); }
    void SetConversionRegistry(const BindingRegistry* registry) { registry_ = registry; }

private:
    // A listener of resource events, given the event with its data as a
    // dynamic value.
    using ResourceListener = std::function<void(const Client::PluginResourceEvent& event)>;
    // A listener of LCDS messages, given the message.
    using LcdsListener = std::function<void(const Client::AppModule::PluginLcdsEvent& event)>;

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

    // Withdraws every deferred task pending with the host.
    void WithdrawDeferred();
    static void KORVEL_CDECL OnHostEvent(const HostEventRecord* record);
    static void KORVEL_CDECL OnDeferredTimer(void* userData);
    void RunDeferred(uint64_t id);
    void Rearm(const TimerTask& task);

    // Stores the handler of the host's callbacks and subscribes with the host.
    void SubscribeRaw(const std::string& eventName, HostEventHandler handler, uint32_t flag);
    // The payload of a host event as a dynamic value; false when it does not
    // convert.
    bool PayloadOf(const HostEventRecord& event, BindingProperty& payload) const;
    template <typename Record>
    bool RecordOf(const HostEventRecord& event, Record& record) const;
    // Hands a resource event to the exact listeners of its path, then to the
    // wildcard listeners that match it.
    void DispatchResourceEvent(const Client::PluginResourceEvent& event);
    // Defers the delivery of an LCDS message to the listeners of its class.
    void DispatchLcdsEvent(const Client::AppModule::PluginLcdsEvent& event);
    void AddResourceListener(std::string_view path, ResourceListener listener);
    void AddLcdsListener(std::string_view className, LcdsListener listener);
    // The scan of the pending replies for one a request waits for; under the
    // service-proxy lock.
    void FulfilWaitingRequest();
    // Converts a dynamic value to T with the conversion registry; on failure
    // false, with the conversion's message in `message` when given.
    template <typename T>
    bool ConvertData(const BindingProperty& data, T& result, std::string_view name,
                     std::string* message = nullptr) const;
    // Makes `result` the failure of converting the response for `path`.
    static void FailConversion(ResourceResult& result, std::string_view path,
                               const std::string& message);

    const BindingRegistry* registry_ = nullptr;
    // Exact resource path to its listeners, and the wildcard listeners with
    // their patterns, in the order added.
    std::map<std::string, std::vector<ResourceListener>, std::less<>> resourceListeners_;
    std::vector<std::pair<std::string, ResourceListener>> wildcardListeners_;
    uint32_t pluginId_ = 0;
    std::string userAgent_;
    // LCDS class names by registered type name and by static type hash.
    std::map<std::string, std::string, std::less<>> lcdsClassesByName_;
    std::map<uint32_t, std::string> lcdsClassesByHash_;
    // Event name to the handler of the host's callbacks.
    std::map<std::string, HostEventHandler> hostSubscriptions_;
    // Event name to the number of local users of that subscription.
    std::map<std::string, uint32_t> subscriptionCounts_;
    // LCDS class name to its listeners, in the order added.
    std::map<std::string, std::vector<LcdsListener>, std::less<>> lcdsListeners_;
    // Service-proxy requests waiting for their reply, async handlers and
    // replies nobody waited for yet, each by key; guarded by the lock.
    std::map<std::string, ServiceProxyHandler> serviceProxyRequests_;
    std::map<std::string, ServiceProxyHandler> serviceProxyAsyncHandlers_;
    std::map<std::string, Client::AppModule::PluginServiceProxyResponse> pendingServiceProxy_;
    mutable Platform::RecursiveLock serviceProxyLock_;
    std::map<std::string, TimerRecord> timers_;
    // Publications of each of the plug-in's own resource paths so far.
    std::map<std::string, uint64_t, std::less<>> publications_;
    uint64_t lastTimerGeneration_ = 0;
    // Shutdowns so far: a delivery that sees it change stops, since the listeners it still had
    // to call were removed from their tables.
    uint64_t shutdowns_ = 0;
    std::map<uint64_t, DeferredEntry> deferred_;
    uint64_t nextDeferredId_ = 1;
    mutable Platform::RecursiveLock deferredLock_;
    // Host callbacks of the object under way, and whether it was disposed of during one (then
    // it calls the host no more and takes no more deferred tasks).
    uint32_t callbackDepth_ = 0;
    std::atomic<bool> disposed_{false};
    ClockFunction clock_ = nullptr;
    void* clockContext_ = nullptr;
};

template <typename T>
bool PluginCore::ConvertData(const BindingProperty& data, T& result, std::string_view name,
                             std::string* message) const {
    if (registry_ == nullptr) {
        if (message != nullptr) {
            *message = "no type registry";
        }
        return false;
    }
    BindingResult status;
    FromProperty(status, result, data, name, *registry_);
    if (!status.IsSuccess() && message != nullptr) {
        *message = status.GetError();
    }
    return status.IsSuccess();
}

template <typename T>
void PluginCore::ObserveResource(
    std::string_view path, std::function<void(const Client::PluginResourceEventOf<T>&)> listener) {
    AddResourceListener(
        path, [this, listener = std::move(listener)](const Client::PluginResourceEvent& event) {
            Client::PluginResourceEventOf<T> typed;
            typed.uri = event.uri;
            typed.eventType = event.eventType;
            if (ConvertData(event.data, typed.data, "<value>") && listener) {
                listener(typed);
            }
        });
}

template <typename T>
void PluginCore::ObserveLcds(std::string_view className, std::function<void(const T&)> listener) {
    AddLcdsListener(className, [this, listener = std::move(listener)](
                                   const Client::AppModule::PluginLcdsEvent& event) {
        T body{};
        if (ConvertData(event.body, body, "<value>") && listener) {
            listener(body);
        }
    });
}

template <typename T>
bool PluginCore::PublishResource(Client::PluginResourceEventType eventType, std::string_view path,
                                 const T& value) {
    if (registry_ == nullptr) {
        return false;
    }
    BindingResult data;
    ToProperty(data, value, *registry_);
    if (!data.IsSuccess()) {
        return false;
    }
    return PublishResourceValue(eventType, path, std::move(data.value));
}

template <typename T>
ResourceResult PluginCore::GetResource(std::string_view path, T& result) {
    ResourceResult read = GetResource(path);
    if (read.failed) {
        return read;
    }
    std::string message;
    if (!ConvertData(read.value, result, "<result>", &message)) {
        FailConversion(read, path, message);
    }
    return read;
}

} // namespace Korvel
