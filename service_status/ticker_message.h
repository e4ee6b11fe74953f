#pragma once

// One line of the status ticker. The plug-in publishes a list of them as the resource
// "/vel-service-status/v1/ticker-messages"; they come from the incident messages of the status
// document or from broadcast notifications.

#include <cstdint>
#include <string>

#include "binding/static_type_id.h"

namespace Korvel::Client::ServiceStatus::Api {

struct TickerMessage {
    // Registered as "ServiceStatusIncident_Severity".
    enum class Severity : std::int32_t {
        info = 0,
        warn = 1,
        error = 2,
    };

    Severity severity = Severity::info;
    // Creation and last update time of the underlying incident, passed through as text.
    std::string createdAt;
    std::string updatedAt;
    // Title and body, in the player's language where the source offers translations.
    std::string heading;
    std::string message;

    bool operator==(const TickerMessage&) const = default;
};

} // namespace Korvel::Client::ServiceStatus::Api

KORVEL_STATIC_TYPE(struct, Korvel::Client::ServiceStatus::Api::TickerMessage)
KORVEL_STATIC_TYPE(enum, Korvel::Client::ServiceStatus::Api::TickerMessage::Severity)
