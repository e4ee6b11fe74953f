#pragma once

// The records of the host's plug-in manager: the shapes of resource events, LCDS messages and
// service-proxy replies. Every plug-in registers them, with the five events that carry them,
// during the handshake.

#include <cstdint>
#include <string>

#include "binding/binding_property.h"
#include "binding/static_type_id.h"

namespace Korvel {
class BindingRegistry;
}

namespace Korvel::Client {

enum class PluginManagerState : std::int32_t {
    NotReady = 0,
    PluginsInitialized = 1,
};

struct PluginManagerResource {
    PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : std::int32_t {
    Create = 0,
    Update = 1,
    Delete = 2,
};

// A change of a host resource, or of one of the plug-in's own resources when it publishes one.
struct PluginResourceEvent {
    std::string uri;
    PluginResourceEventType eventType = PluginResourceEventType::Create;
    BindingProperty data;
};

// What a resource listener receives: the event with "data" converted to the listener's type.
template <typename T>
struct PluginResourceEventOf {
    std::string uri;
    PluginResourceEventType eventType = PluginResourceEventType::Create;
    T data{};
};

namespace AppModule {

// A message received over the LCDS connection; "typeName" is its class name.
struct PluginLcdsEvent {
    std::string clientId;
    std::string subtopic;
    std::string typeName;
    BindingProperty body;
};

struct PluginLcdsResponse {
    std::string typeName;
    BindingProperty body;
};

struct PluginServiceProxyResponse {
    std::string uuid;
    std::string serviceName;
    std::string methodName;
    std::string payload;
    std::string status;
    std::string error;
};

} // namespace AppModule

// Names of the plug-in-manager events.
inline constexpr const char kJsonApiEventName[] = "OnJsonApiEvent";
inline constexpr const char kLcdsEventName[] = "OnLcdsEvent";
inline constexpr const char kServiceProxyUuidEventName[] = "OnServiceProxyUuidEvent";
inline constexpr const char kServiceProxyMethodEventName[] = "OnServiceProxyMethodEvent";
inline constexpr const char kServiceProxyAsyncEventName[] = "OnServiceProxyAsyncEvent";

// Registers, each with the tag "kclient": "PluginManagerState", "PluginManagerResource",
// "PluginResourceEventType", "PluginResourceEvent", "PluginLcdsEvent", "PluginLcdsResponse" and
// "PluginServiceProxyResponse", then the events "OnJsonApiEvent", "OnLcdsEvent" and the three
// service-proxy events with their payload types and descriptions. Names registered before keep
// their first descriptors.
void RegisterPluginManagerTypes(BindingRegistry& registry);

} // namespace Korvel::Client

KORVEL_STATIC_TYPE(enum, Korvel::Client::PluginManagerState)
KORVEL_STATIC_TYPE(struct, Korvel::Client::PluginManagerResource)
KORVEL_STATIC_TYPE(enum, Korvel::Client::PluginResourceEventType)
KORVEL_STATIC_TYPE(struct, Korvel::Client::PluginResourceEvent)
KORVEL_STATIC_TYPE(struct, Korvel::Client::AppModule::PluginLcdsEvent)
KORVEL_STATIC_TYPE(struct, Korvel::Client::AppModule::PluginLcdsResponse)
KORVEL_STATIC_TYPE(struct, Korvel::Client::AppModule::PluginServiceProxyResponse)
