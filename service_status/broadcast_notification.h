#pragma once

// Broadcast notifications: short operator messages pushed by the platform's servers. They arrive
// inside the login data packet (Api::BroadcastNotification, registered as "BroadcastNotification")
// and over the LCDS push channel (LCDS::BroadcastNotification, registered as
// "LCDSBroadcastNotification"). The two records have the same shape but are distinct types with
// distinct identities. Each message stays a dynamic value; the plug-in reads its "content",
// "messageKey" and "severity".

#include <vector>

#include "binding/binding_property.h"
#include "binding/static_type_id.h"

namespace Korvel::Client::ServiceStatus::Api {

struct BroadcastNotification {
    std::vector<BindingProperty> broadcastMessages;
};

} // namespace Korvel::Client::ServiceStatus::Api

namespace Korvel::Client::ServiceStatus::LCDS {

struct BroadcastNotification {
    std::vector<BindingProperty> broadcastMessages;
};

} // namespace Korvel::Client::ServiceStatus::LCDS

KORVEL_STATIC_TYPE(struct, Korvel::Client::ServiceStatus::Api::BroadcastNotification)
KORVEL_STATIC_TYPE(struct, Korvel::Client::ServiceStatus::LCDS::BroadcastNotification)
