#pragma once

// The part of the host's login data packet ("/vel-login/v1/login-data-packet") that the plug-in
// reads: the broadcasts that were current at login.

#include "binding/static_type_id.h"
#include "service_status/broadcast_notification.h"

namespace Korvel::Client::ServiceStatus::Api {

struct LoginDataPacket {
    BroadcastNotification broadcastNotification;
};

} // namespace Korvel::Client::ServiceStatus::Api

KORVEL_STATIC_TYPE(struct, Korvel::Client::ServiceStatus::Api::LoginDataPacket)
