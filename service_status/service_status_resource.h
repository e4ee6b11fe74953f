#pragma once

// The overall state of the game's services for the player's region, published as the resource
// "/vel-service-status/v1/zum-status".

#include <cstdint>
#include <string>

#include "binding/static_type_id.h"

namespace Korvel::Client::ServiceStatus::Api {

struct ServiceStatusResource {
    // Registered as "ServiceStatusResource_Status".
    enum class Status : std::int32_t {
        unknown = 0,
        online = 1,
        offline = 2,
        degraded = 3,
        deploying = 4,
    };

    Status status = Status::unknown;
    // Address of a web page that shows the status to people.
    std::string humanReadableUrl;

    bool operator==(const ServiceStatusResource&) const = default;
};

} // namespace Korvel::Client::ServiceStatus::Api

KORVEL_STATIC_TYPE(struct, Korvel::Client::ServiceStatus::Api::ServiceStatusResource)
KORVEL_STATIC_TYPE(enum, Korvel::Client::ServiceStatus::Api::ServiceStatusResource::Status)
