#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "plugin/plugin_base.h"
#include "plugin/plugin_manager_types.h"
#include "service_status/broadcast_notification.h"
#include "service_status/login_data_packet.h"
#include "service_status/service_status_resource.h"
#include "service_status/ticker_message.h"

namespace Korvel::Client {

// The vel-service-status plug-in: keeps the client informed about the state of the game's
// online services. It learns region and locale from the host, fetches the region's status
// document every 120 seconds and whenever region or locale change, and publishes the overall
// status and the ticker messages as two resources. Broadcasts from the login data and the LCDS
// channel replace the ticker when they arrive.
class ServiceStatusPlugin : public PluginBase {
public:
    // The plug-in's short name.
    static constexpr const char kShortName[] = "vel-service-status";
    // The timer that refreshes the status periodically, and its period.
    static constexpr const char kUpdateTimerName[] = "vel-service-status.update";
    static constexpr double kUpdatePeriodSeconds = 120.0;
    // The two resources the plug-in publishes.
    static constexpr const char kStatusPath[] = "/vel-service-status/v1/zum-status";
    static constexpr const char kTickerPath[] = "/vel-service-status/v1/ticker-messages";
    // The host resource with the login data packet.
    static constexpr const char kLoginDataPath[] = "/vel-login/v1/login-data-packet";

    ServiceStatusPlugin();
    ~ServiceStatusPlugin() override;

    // Removes the update timer, then shuts down as every plug-in does.
    void Shutdown() override;
    // Registers the service-status records, the LCDS binding and the two resources.
    void RegisterApi() override;
    // Subscribes to region/locale changes, arms the update timer, observes broadcasts, reads the
    // region data and the globals and hands the host the first update. Returns true.
    bool Start() override;

    // Takes "region" and "locale" from the value. Returns false, changing nothing, when both
    // equal the current ones byte for byte; otherwise stores both and returns true.
    bool SetRegionLocale(const BindingProperty& value);
    // One fetch-and-publish pass.
    void UpdateServicesStatus();
    // Sets the status from the document's "status" and appends its messages to the ticker.
    void ParseServiceStatus(const BindingProperty& document);

    // Broadcasts over the LCDS channel.
    void OnBroadcastNotification(const ServiceStatus::LCDS::BroadcastNotification& notification);
    // The login data packet: acts on Create and Update events that carry broadcasts.
    void OnLoginDataPacket(PluginResourceEventType eventType,
                           const ServiceStatus::Api::LoginDataPacket& packet);
    // Replaces the ticker with the broadcasts and publishes it.
    void ShowBroadcasts(std::span<const BindingProperty> messages);

    // Copies of the published values; the resource getters answer with them.
    ServiceStatus::Api::ServiceStatusResource StatusResource() const { return statusResource_; }
    std::vector<ServiceStatus::Api::TickerMessage> TickerMessages() const {
        return tickerMessages_;
    }

    const std::string& Region() const { return region_; }
    const std::string& Locale() const { return locale_; }
    const BindingProperty& RegionData() const { return regionData_; }

private:
    // Empties the ticker and makes the status `unknown` with the human-readable address.
    void ResetValues(const std::string& humanUrl);
    // ParseServiceStatus with the locale given.
    void ParseDocument(const BindingProperty& document, std::string_view locale);
    void PublishTicker();
    void PublishStatus();

    std::string region_;
    std::string locale_;
    // The data-store entry "region_data": a structure keyed by region.
    BindingProperty regionData_;
    std::vector<ServiceStatus::Api::TickerMessage> tickerMessages_;
    ServiceStatus::Api::ServiceStatusResource statusResource_;
    // Passes that got as far as fetching; a pass that finds the count moved on when its response
    // arrives was overtaken by a newer one.
    std::uint64_t fetchingPasses_ = 0;
};

} // namespace Korvel::Client
