// Host events of the plug-in object: typed subscriptions, resource and LCDS listeners,
// service-proxy replies and publishing the plug-in's own resources.

#include "binding/host_value_conversion.h"
#include "diagnostics/format_message.h"
#include "diagnostics/log.h"
#include "plugin/event_names.h"
#include "plugin/plugin_core.h"

#include <cstring>
#include <new>

namespace Korvel {

namespace {

using Client::PluginResourceEvent;
using Client::PluginResourceEventType;
using Client::AppModule::PluginLcdsEvent;
using Client::AppModule::PluginServiceProxyResponse;

// A HostValue the plug-in built, released when it goes.
class OwnedHostValue {
public:
    OwnedHostValue() : value_(MakeEmptyHostValue()) {}
    ~OwnedHostValue() { ReleaseHostValue(value_); }
    OwnedHostValue(const OwnedHostValue&) = delete;
    OwnedHostValue& operator=(const OwnedHostValue&) = delete;

    HostValue& Get() { return value_; }

private:
    HostValue value_;
};

// "service.method", the key of method-based and async service-proxy replies.
std::string MethodKey(const PluginServiceProxyResponse& response) {
    return FormatMessage("%1.%2", response.serviceName, response.methodName);
}

} // namespace

// --- Subscriptions ---------------------------------------------------------------------

bool PluginCore::PayloadOf(const HostEventRecord& event, BindingProperty& payload) const {
    HostValueResult error;
    return FromHostValue(error, payload, event.payload, "<result>");
}

template <typename Record>
bool PluginCore::RecordOf(const HostEventRecord& event, Record& record) const {
    BindingProperty payload;
    return PayloadOf(event, payload) && ConvertData(payload, record, "<value>");
}

void PluginCore::SubscribeHostEvent(const std::string& eventName, PlainEventHandler handler,
                                    uint32_t flag) {
    SubscribeRaw(
        eventName,
        [this, handler = std::move(handler)](const HostEventRecord& event) {
            BindingProperty payload;
            if (PayloadOf(event, payload) && handler) {
                handler(payload);
            }
        },
        flag);
}

void PluginCore::SubscribeHostEvent(const std::string& eventName, ResourceEventHandler handler,
                                    uint32_t flag) {
    SubscribeRaw(
        eventName,
        [this, handler = std::move(handler)](const HostEventRecord& event) {
            PluginResourceEvent record;
            if (RecordOf(event, record) && handler) {
                handler(record);
            }
        },
        flag);
}

void PluginCore::SubscribeHostEvent(const std::string& eventName, LcdsEventHandler handler,
                                    uint32_t flag) {
    SubscribeRaw(
        eventName,
        [this, handler = std::move(handler)](const HostEventRecord& event) {
            PluginLcdsEvent record;
            if (RecordOf(event, record) && handler) {
                handler(record);
            }
        },
        flag);
}

void PluginCore::SubscribeHostEvent(const std::string& eventName, ServiceProxyHandler handler,
                                    uint32_t flag) {
    SubscribeRaw(
        eventName,
        [this, handler = std::move(handler)](const HostEventRecord& event) {
            PluginServiceProxyResponse record;
            if (RecordOf(event, record) && handler) {
                handler(record);
            }
        },
        flag);
}

// --- Resource listeners ------------------------------------------------------------------

void PluginCore::AddResourceListener(std::string_view path, ResourceListener listener) {
    const bool wildcard = path.find('*') != std::string_view::npos;
    if (wildcard) {
        wildcardListeners_.emplace_back(std::string(path), listener);
    } else {
        auto found = resourceListeners_.find(path);
        if (found == resourceListeners_.end()) {
            found = resourceListeners_.emplace(std::string(path), std::vector<ResourceListener>())
                        .first;
        }
        found->second.push_back(listener);
    }
    const uint64_t shutdowns = shutdowns_;
    Subscribe(path);
    if (wildcard) {
        return;
    }
    // The current state of the resource reaches the new listener as its creation, unless the
    // object was shut down (so the listener removed) while the host handled the read.
    ResourceResult current = GetResource(path);
    if (current.failed || !listener || shutdowns_ != shutdowns) {
        return;
    }
    PluginResourceEvent event;
    event.uri = std::string(path);
    event.eventType = PluginResourceEventType::Create;
    event.data.Take(current.value);
    listener(event);
}

void PluginCore::DispatchResourceEvent(const PluginResourceEvent& received) {
    const PluginResourceEvent* event = &received;
    PluginResourceEvent rooted;
    if (received.uri.empty() || received.uri.front() != '/') {
        rooted = received;
        rooted.uri.insert(rooted.uri.begin(), '/');
        event = &rooted;
    }
    // Copies of both lists, taken before any listener runs: listeners added while the event is
    // dispatched hear only later events, so none hears this one after a newer one that a
    // listener published meanwhile.
    std::vector<ResourceListener> listeners;
    if (auto found = resourceListeners_.find(event->uri); found != resourceListeners_.end()) {
        listeners = found->second;
    }
    // A listener that shuts the object down removes the others too: none of them hears the rest
    // of this event.
    const std::vector<std::pair<std::string, ResourceListener>> wildcards = wildcardListeners_;
    const uint64_t shutdowns = shutdowns_;
    for (const ResourceListener& listener : listeners) {
        if (shutdowns_ != shutdowns) {
            return;
        }
        if (listener) {
            listener(*event);
        }
    }
    for (const auto& [pattern, listener] : wildcards) {
        if (shutdowns_ != shutdowns) {
            return;
        }
        if (listener && MatchesWildcard(pattern, event->uri)) {
            listener(*event);
        }
    }
}

std::size_t PluginCore::ResourceListenerCount() const {
    std::size_t count = wildcardListeners_.size();
    for (const auto& [path, listeners] : resourceListeners_) {
        count += listeners.size();
    }
    return count;
}

// --- LCDS ----------------------------------------------------------------------------------

void PluginCore::AddLcdsListener(std::string_view className, LcdsListener listener) {
    auto found = lcdsListeners_.find(className);
    if (found == lcdsListeners_.end()) {
        found = lcdsListeners_.emplace(std::string(className), std::vector<LcdsListener>()).first;
    }
    found->second.push_back(std::move(listener));
    SubscribeHostEvent(
        LcdsEventName(className),
        LcdsEventHandler([this](const PluginLcdsEvent& event) { DispatchLcdsEvent(event); }), 1);
}

void PluginCore::DispatchLcdsEvent(const PluginLcdsEvent& event) {
    auto found = lcdsListeners_.find(event.typeName);
    if (found == lcdsListeners_.end() || found->second.empty()) {
        return;
    }
    // The listeners run later, outside the host's event callback.
    AddDeferred(
        FormatMessage("Event: OnLcdsEvent (%1)", event.typeName),
        [this, event] {
            auto listeners = lcdsListeners_.find(event.typeName);
            if (listeners == lcdsListeners_.end()) {
                return;
            }
            const std::vector<LcdsListener> copies = listeners->second;
            const uint64_t shutdowns = shutdowns_;
            for (const LcdsListener& listener : copies) {
                if (shutdowns_ != shutdowns) {
                    return; // the listeners left were removed by a shutdown
                }
                if (listener) {
                    listener(event);
                }
            }
        },
        Now());
}

std::size_t PluginCore::LcdsListenerCount() const {
    std::size_t count = 0;
    for (const auto& [className, listeners] : lcdsListeners_) {
        count += listeners.size();
    }
    return count;
}

void PluginCore::BindLcdsType(std::string_view typeName, uint32_t typeHash,
                              std::string_view className) {
    lcdsClassesByName_.insert_or_assign(std::string(typeName), std::string(className));
    lcdsClassesByHash_.insert_or_assign(typeHash, std::string(className));
}

const std::string* PluginCore::LcdsClassOfType(std::string_view typeName) const {
    auto found = lcdsClassesByName_.find(typeName);
    return found != lcdsClassesByName_.end() ? &found->second : nullptr;
}

const std::string* PluginCore::LcdsClassOfType(uint32_t typeHash) const {
    auto found = lcdsClassesByHash_.find(typeHash);
    return found != lcdsClassesByHash_.end() ? &found->second : nullptr;
}

// --- Service-proxy replies -------------------------------------------------------------

void PluginCore::DispatchServiceProxyResponse(std::string_view eventName,
                                              const PluginServiceProxyResponse& response) {
    Platform::RecursiveLockGuard guard(serviceProxyLock_);
    if (eventName == Client::kServiceProxyAsyncEventName) {
        const std::string key = MethodKey(response);
        auto found = serviceProxyAsyncHandlers_.find(key);
        if (found == serviceProxyAsyncHandlers_.end() || !found->second) {
            LogMessage(LogLevel::Error, kLogCategoryDbg,
                       "Could not find registered handler for async service proxy event %s",
                       key.c_str());
            return;
        }
        // A copy: the handler may replace itself.
        const ServiceProxyHandler handler = found->second;
        handler(response);
        return;
    }
    std::string key;
    if (eventName == Client::kServiceProxyUuidEventName) {
        key = response.uuid;
    } else if (eventName == Client::kServiceProxyMethodEventName) {
        key = MethodKey(response);
    } else {
        return;
    }
    pendingServiceProxy_.insert_or_assign(std::move(key), response);
    FulfilWaitingRequest();
}

void PluginCore::FulfilWaitingRequest() {
    for (auto pending = pendingServiceProxy_.begin(); pending != pendingServiceProxy_.end();
         ++pending) {
        auto request = serviceProxyRequests_.find(pending->first);
        if (request == serviceProxyRequests_.end()) {
            continue;
        }
        // Taken out of both tables before the handler runs, so that it may wait for another
        // reply.
        const std::string key = pending->first;
        const PluginServiceProxyResponse response = std::move(pending->second);
        const ServiceProxyHandler handler = std::move(request->second);
        serviceProxyRequests_.erase(request);
        pendingServiceProxy_.erase(pending);
        if (handler) {
            handler(response);
        }
        LogMessage(LogLevel::Always, kLogCategoryDbg, "Fulfilled service proxy request: %s",
                   key.c_str());
        return;
    }
}

void PluginCore::AwaitServiceProxyResponse(const std::string& key, ServiceProxyHandler handler) {
    Platform::RecursiveLockGuard guard(serviceProxyLock_);
    serviceProxyRequests_.insert_or_assign(key, std::move(handler));
    FulfilWaitingRequest();
}

void PluginCore::SetServiceProxyAsyncHandler(const std::string& key, ServiceProxyHandler handler) {
    Platform::RecursiveLockGuard guard(serviceProxyLock_);
    serviceProxyAsyncHandlers_.insert_or_assign(key, std::move(handler));
}

std::size_t PluginCore::PendingServiceProxyResponseCount() const {
    Platform::RecursiveLockGuard guard(serviceProxyLock_);
    return pendingServiceProxy_.size();
}

std::size_t PluginCore::WaitingServiceProxyRequestCount() const {
    Platform::RecursiveLockGuard guard(serviceProxyLock_);
    return serviceProxyRequests_.size();
}

// --- Publishing --------------------------------------------------------------------------

bool PluginCore::PublishResourceValue(PluginResourceEventType eventType, std::string_view path,
                                      BindingProperty data) {
    if (registry_ == nullptr) {
        return false;
    }
    PluginResourceEvent event;
    event.uri = std::string(path);
    event.eventType = eventType;
    event.data.Take(data);
    BindingResult converted;
    ToProperty(converted, event, *registry_);
    if (!converted.IsSuccess()) {
        return false;
    }
    OwnedHostValue payload;
    ToHostValue(payload.Get(), converted.value, registry_);

    auto counted = publications_.find(path);
    if (counted == publications_.end()) {
        counted = publications_.emplace(std::string(path), 0).first;
    }
    // Map nodes stay put while entries are added, and none is ever removed.
    const uint64_t publication = ++counted->second;

    const std::string eventName = ResourceEventName(path);
    HostEventRecord record;
    std::memset(&record, 0, sizeof(record));
    record.name = eventName.c_str();
    record.payload = payload.Get();
    record.flag = 0;
    FireEvent(&record);
    if (eventName != Client::kJsonApiEventName) {
        // A host may hand the event to its listeners at once and deliver other events meanwhile.
        // When one of them led to a newer publication of the same path, that one has fired both
        // names already; firing this older value after it would leave it as the last word.
        if (counted->second != publication) {
            return true;
        }
        record.name = Client::kJsonApiEventName;
        FireEvent(&record);
    }
    return true;
}

} // namespace Korvel
