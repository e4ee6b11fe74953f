#include "service_status/service_status_types.h"

#include <cstddef>

#include "binding/binding_registry.h"

namespace Korvel::Client::ServiceStatus {

const std::string kBroadcastNotificationClassName =
    "com.korvelworks.platform.broadcast.BroadcastNotification";

void RegisterServiceStatusTypes(BindingRegistry& registry) {
    using Api::BroadcastNotification;
    using Api::LoginDataPacket;
    using Api::ServiceStatusResource;
    using Api::TickerMessage;

    // Enumerators are added only to a descriptor created here; a name registered before keeps
    // what it has.
    BindingTypeBuilder severity = registry.RegisterEnum<TickerMessage::Severity>(kSeverityTypeName);
    if (!severity.alreadyRegistered) {
        severity.AddValue("info", 0).AddValue("warn", 1).AddValue("error", 2);
    }

    BindingTypeBuilder status =
        registry.RegisterEnum<ServiceStatusResource::Status>(kStatusTypeName);
    if (!status.alreadyRegistered) {
        status.AddValue("unknown", 0)
            .AddValue("online", 1)
            .AddValue("offline", 2)
            .AddValue("degraded", 3)
            .AddValue("deploying", 4);
    }

    // AddField does nothing on a builder of an already registered name.
    BindingTypeBuilder ticker = registry.RegisterStruct<TickerMessage>(kTickerMessageTypeName);
    KORVEL_BINDING_FIELD(ticker, TickerMessage, severity, "severity", "", 0);
    KORVEL_BINDING_FIELD(ticker, TickerMessage, createdAt, "createdAt", "", 0);
    KORVEL_BINDING_FIELD(ticker, TickerMessage, updatedAt, "updatedAt", "", 0);
    KORVEL_BINDING_FIELD(ticker, TickerMessage, heading, "heading", "", 0);
    KORVEL_BINDING_FIELD(ticker, TickerMessage, message, "message", "", 0);

    BindingTypeBuilder resource =
        registry.RegisterStruct<ServiceStatusResource>(kStatusResourceTypeName);
    KORVEL_BINDING_FIELD(resource, ServiceStatusResource, status, "status", "", 0);
    KORVEL_BINDING_FIELD(resource, ServiceStatusResource, humanReadableUrl, "humanReadableUrl", "",
                         0);

    BindingTypeBuilder broadcast =
        registry.RegisterStruct<BroadcastNotification>(kBroadcastNotificationTypeName);
    KORVEL_BINDING_FIELD(broadcast, BroadcastNotification, broadcastMessages, "broadcastMessages",
                         "", 0);

    BindingTypeBuilder login = registry.RegisterStruct<LoginDataPacket>(kLoginDataPacketTypeName);
    KORVEL_BINDING_FIELD(login, LoginDataPacket, broadcastNotification, "broadcastNotification", "",
                         0);
}

void RegisterLcdsTypes(BindingRegistry& registry, const LcdsTypeBinder& bind) {
    using Record = LCDS::BroadcastNotification;
    if (bind) {
        bind(kLcdsBroadcastNotificationTypeName, StaticType::HashCode<Record>(),
             kBroadcastNotificationClassName);
    }
    BindingTypeBuilder lcds = registry.RegisterStruct<Record>(kLcdsBroadcastNotificationTypeName);
    KORVEL_BINDING_FIELD(lcds, Record, broadcastMessages, "broadcastMessages", "", 0);
}

} // namespace Korvel::Client::ServiceStatus
