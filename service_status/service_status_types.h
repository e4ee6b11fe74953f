#pragma once

// Registration of the service-status records and enumerations with the plug-in's type registry.
// The registered type and field names are the keys under which the records travel in every
// encoding, so they are fixed here once.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "binding/static_type_id.h"
#include "service_status/broadcast_notification.h"
#include "service_status/login_data_packet.h"
#include "service_status/service_status_resource.h"
#include "service_status/ticker_message.h"

namespace Korvel {
class BindingRegistry;
}

namespace Korvel::Client::ServiceStatus {

// The LCDS data-transfer-object class that LCDS::BroadcastNotification is bound to; also the key
// of the plug-in's LCDS subscription. Created at library load, destroyed at unload.
extern const std::string kBroadcastNotificationClassName;

// Registered type names.
inline constexpr const char kSeverityTypeName[] = "ServiceStatusIncident_Severity";
inline constexpr const char kStatusTypeName[] = "ServiceStatusResource_Status";
inline constexpr const char kTickerMessageTypeName[] = "TickerMessage";
inline constexpr const char kStatusResourceTypeName[] = "ServiceStatusResource";
inline constexpr const char kBroadcastNotificationTypeName[] = "BroadcastNotification";
inline constexpr const char kLoginDataPacketTypeName[] = "LoginDataPacket";
inline constexpr const char kLcdsBroadcastNotificationTypeName[] = "LCDSBroadcastNotification";

// Registers, in this order: the enumerations "ServiceStatusIncident_Severity" and
// "ServiceStatusResource_Status", then the records "TickerMessage", "ServiceStatusResource",
// "BroadcastNotification" and "LoginDataPacket". A name registered before keeps its first
// descriptor untouched; the later steps still run.
void RegisterServiceStatusTypes(BindingRegistry& registry);

// Enters one LCDS type binding into the plug-in's LCDS type tables: the registered type name and
// the type's static hash code, each mapped to the LCDS class name (an existing entry is
// overwritten).
using LcdsTypeBinder = std::function<void(std::string_view typeName, std::uint32_t typeHash,
                                          std::string_view className)>;

// Binds "LCDSBroadcastNotification" and the hash of LCDS::BroadcastNotification to
// kBroadcastNotificationClassName through `bind`, then registers the record
// "LCDSBroadcastNotification". Runs right after RegisterServiceStatusTypes.
void RegisterLcdsTypes(BindingRegistry& registry, const LcdsTypeBinder& bind);

} // namespace Korvel::Client::ServiceStatus
