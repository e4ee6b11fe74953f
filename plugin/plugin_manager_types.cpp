#include "plugin/plugin_manager_types.h"

#include <cstddef>

#include "binding/binding_registry.h"

namespace Korvel::Client {

namespace {

constexpr const char kTag[] = "kclient";

} // namespace

void RegisterPluginManagerTypes(BindingRegistry& registry) {
    using AppModule::PluginLcdsEvent;
    using AppModule::PluginLcdsResponse;
    using AppModule::PluginServiceProxyResponse;

    {
        BindingTypeBuilder type = registry.RegisterEnum<PluginManagerState>("PluginManagerState");
        if (!type.alreadyRegistered) {
            type.AddTag(kTag).AddValue("NotReady", 0).AddValue("PluginsInitialized", 1);
        }
    }
    {
        BindingTypeBuilder type =
            registry.RegisterStruct<PluginManagerResource>("PluginManagerResource");
        type.AddTag(kTag);
        KORVEL_BINDING_FIELD(type, PluginManagerResource, state, "state", "", 0);
    }
    {
        BindingTypeBuilder type =
            registry.RegisterEnum<PluginResourceEventType>("PluginResourceEventType");
        if (!type.alreadyRegistered) {
            type.AddTag(kTag).AddValue("Create", 0).AddValue("Update", 1).AddValue("Delete", 2);
        }
    }
    {
        BindingTypeBuilder type =
            registry.RegisterStruct<PluginResourceEvent>("PluginResourceEvent");
        type.AddTag(kTag);
        KORVEL_BINDING_FIELD(type, PluginResourceEvent, uri, "uri", "", 0);
        KORVEL_BINDING_FIELD(type, PluginResourceEvent, eventType, "eventType", "", 0);
        KORVEL_BINDING_FIELD(type, PluginResourceEvent, data, "data", "", 0);
    }
    {
        BindingTypeBuilder type = registry.RegisterStruct<PluginLcdsEvent>("PluginLcdsEvent");
        type.AddTag(kTag);
        KORVEL_BINDING_FIELD(type, PluginLcdsEvent, clientId, "clientId", "", 0);
        KORVEL_BINDING_FIELD(type, PluginLcdsEvent, subtopic, "subtopic", "", 0);
        KORVEL_BINDING_FIELD(type, PluginLcdsEvent, typeName, "typeName", "", 0);
        KORVEL_BINDING_FIELD(type, PluginLcdsEvent, body, "body", "", 0);
    }
    {
        BindingTypeBuilder type = registry.RegisterStruct<PluginLcdsResponse>("PluginLcdsResponse");
        type.AddTag(kTag);
        KORVEL_BINDING_FIELD(type, PluginLcdsResponse, typeName, "typeName", "", 0);
        KORVEL_BINDING_FIELD(type, PluginLcdsResponse, body, "body", "", 0);
    }
    {
        BindingTypeBuilder type =
            registry.RegisterStruct<PluginServiceProxyResponse>("PluginServiceProxyResponse");
        type.AddTag(kTag);
        KORVEL_BINDING_FIELD(type, PluginServiceProxyResponse, uuid, "uuid", "", 0);
        KORVEL_BINDING_FIELD(type, PluginServiceProxyResponse, serviceName, "serviceName", "", 0);
        KORVEL_BINDING_FIELD(type, PluginServiceProxyResponse, methodName, "methodName", "", 0);
        KORVEL_BINDING_FIELD(type, PluginServiceProxyResponse, payload, "payload", "", 0);
        KORVEL_BINDING_FIELD(type, PluginServiceProxyResponse, status, "status", "", 0);
        KORVEL_BINDING_FIELD(type, PluginServiceProxyResponse, error, "error", "", 0);
    }

    const BindingTypeDescriptor* serviceProxy = registry.FindType<PluginServiceProxyResponse>();
    registry.RegisterEvent(kJsonApiEventName, registry.FindType<PluginResourceEvent>())
        .SetDescription("Fired when a resource is changed.")
        .AddTag(kTag);
    registry.RegisterEvent(kLcdsEventName, registry.FindType<PluginLcdsEvent>())
        .SetDescription("Fired when a message is received over the LCDS connection.")
        .AddTag(kTag);
    registry.RegisterEvent(kServiceProxyUuidEventName, serviceProxy)
        .SetDescription("Fired when a uuid-based service proxy message is received.")
        .AddTag(kTag);
    registry.RegisterEvent(kServiceProxyMethodEventName, serviceProxy)
        .SetDescription("Fired when a method-based service proxy message is received.")
        .AddTag(kTag);
    registry.RegisterEvent(kServiceProxyAsyncEventName, serviceProxy)
        .SetDescription("Fired when an async service proxy message is received.")
        .AddTag(kTag);
}

} // namespace Korvel::Client
