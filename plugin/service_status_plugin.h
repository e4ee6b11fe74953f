#pragma once

#include "plugin/plugin_base.h"

#include <string>

namespace Korvel::Client {

// The vel-service-status plug-in: keeps the client informed about the state
// of the game's online services.
class ServiceStatusPlugin : public PluginBase {
public:
    // The plug-in's short name.
    static constexpr const char kShortName[] = "vel-service-status";
    // The timer that refreshes the status periodically.
    static constexpr const char kUpdateTimerName[] = "vel-service-status.update";

    ServiceStatusPlugin();
    ~ServiceStatusPlugin() override;

    // Removes the update timer, then shuts down as every plug-in does.
    void Shutdown() override;
    bool Start() override;

    const std::string& Region() const { return region_; }
    const std::string& Locale() const { return locale_; }

private:
    std::string region_;
    std::string locale_;
    // The region data, the ticker messages and the status resource follow
    // here with the service-status records.
};

} // namespace Korvel::Client
