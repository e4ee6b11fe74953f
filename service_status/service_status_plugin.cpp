#include "service_status/service_status_plugin.h"

#include <utility>

#include "diagnostics/assertion.h"
#include "diagnostics/log.h"
#include "encoding/json_writer.h"
#include "remoting/resource_getter.h"
#include "service_status/broadcast_messages.h"
#include "service_status/service_status_types.h"
#include "service_status/status_document.h"

namespace Korvel::Client {

namespace {

using ServiceStatus::Api::LoginDataPacket;
using ServiceStatus::Api::ServiceStatusResource;
using ServiceStatus::Api::TickerMessage;

constexpr const char kRegionLocaleEvent[] = "OnRegionLocaleChanged";
constexpr const char kRegionDataSetting[] = "region_data";
constexpr const char kGlobalsSetting[] = "globals";
constexpr const char kInitialUpdateLabel[] = "Initial UpdateServicesStatus";
// Time limit the host applies to the status fetch.
constexpr std::uint32_t kFetchTimeLimit = 20;

// A fetch counts as successful only when a response arrived with a 2xx status and a body that
// parsed as JSON.
bool FetchSucceeded(const ExternalResponse& response) {
    return response.errorText.empty() && response.code == 0 && response.status >= 200 &&
           response.status <= 299 && response.bodyInvalid == 0 && response.reserved != 1;
}

} // namespace

ServiceStatusPlugin::ServiceStatusPlugin() = default;

ServiceStatusPlugin::~ServiceStatusPlugin() = default;

void ServiceStatusPlugin::Shutdown() {
    RemoveTimer(kUpdateTimerName);
    PluginBase::Shutdown();
}

void ServiceStatusPlugin::RegisterApi() {
    BindingRegistry& registry = Registry();
    ServiceStatus::RegisterServiceStatusTypes(registry);
    ServiceStatus::RegisterLcdsTypes(
        registry,
        [this](std::string_view typeName, std::uint32_t typeHash, std::string_view className) {
            BindLcdsType(typeName, typeHash, className);
        });
    RegisterResourceGetter(registry, kStatusPath, this, &ServiceStatusPlugin::StatusResource,
                           RegistrationTags());
    RegisterResourceGetter(registry, kTickerPath, this, &ServiceStatusPlugin::TickerMessages,
                           RegistrationTags());
}

bool ServiceStatusPlugin::Start() {
    PlainEventHandler onRegionLocale = [this](const BindingProperty& value) {
        if (SetRegionLocale(value)) {
            UpdateServicesStatus();
        }
    };
    SubscribeHostEvent(kRegionLocaleEvent, std::move(onRegionLocale), 0);
    AddTimer(kUpdateTimerName, kUpdatePeriodSeconds, [this] { UpdateServicesStatus(); });
    ObserveLcds<ServiceStatus::LCDS::BroadcastNotification>(
        ServiceStatus::kBroadcastNotificationClassName,
        [this](const ServiceStatus::LCDS::BroadcastNotification& notification) {
            OnBroadcastNotification(notification);
        });
    ObserveResource<LoginDataPacket>(kLoginDataPath,
                                     [this](const PluginResourceEventOf<LoginDataPacket>& event) {
                                         OnLoginDataPacket(event.eventType, event.data);
                                     });

    ResourceResult regionData = ReadSystemSetting(kRegionDataSetting);
    if (regionData.failed) {
        ReportFatalMarker(kMarkerRegionDataMissing);
    } else {
        regionData_ = std::move(regionData.value);
    }

    ResourceResult globals = ReadInstallSetting(kGlobalsSetting);
    if (globals.failed) {
        ReportFatalMarker(kMarkerGlobalsMissing);
    } else {
        SetRegionLocale(globals.value);
    }

    AddDeferred(
        kInitialUpdateLabel, [this] { UpdateServicesStatus(); }, Now());
    return true;
}

bool ServiceStatusPlugin::SetRegionLocale(const BindingProperty& value) {
    const std::string_view region = ServiceStatus::TextOf(value, "region");
    const std::string_view locale = ServiceStatus::TextOf(value, "locale");
    if (region == region_ && locale == locale_) {
        return false;
    }
    region_ = region;
    locale_ = locale;
    return true;
}

void ServiceStatusPlugin::UpdateServicesStatus() {
    // The pass works on the region and locale it starts with: the host may deliver a change of
    // them while the fetch is in flight, and the change runs a pass of its own.
    const std::string region = region_;
    const std::string locale = locale_;
    const BindingProperty& node = ServiceStatus::ServiceStatusNode(regionData_, region);
    const std::string humanUrl = ServiceStatus::LocalisedStatusUrl(
        ServiceStatus::TextOf(node, "human_readable_status_url"), locale);
    const std::string apiUrl(ServiceStatus::TextOf(node, "api_url"));

    if (apiUrl.empty()) {
        LogMessage(LogLevel::Warn, kLogCategoryDbg,
                   "vel-service-status: Unable to get service statuses. The service_status/api_url "
                   "is missing for region '%s' in the data_store.",
                   region.c_str());
        // Periodic passes would find no address either; the next region or locale change runs
        // a pass again.
        RemoveTimer(kUpdateTimerName);
        return;
    }

    const std::uint64_t pass = ++fetchingPasses_;
    ResetValues(humanUrl);

    {
        // The response, with the document's value tree, is released before publishing, so that
        // the document and the published values are not held at the same time.
        ExternalResponse response = SendExternal(HttpMethod::Get, apiUrl, {}, kFetchTimeLimit);
        if (pass != fetchingPasses_) {
            // A pass that started while this one waited has published values newer than this
            // response.
            return;
        }
        // Rebuilt from the response alone: a broadcast that replaced the ticker while the fetch
        // was in flight is older than the document.
        ResetValues(humanUrl);
        if (FetchSucceeded(response)) {
            ParseDocument(response.body, locale);
        } else {
            const std::string body = WriteJson(response.body, &Registry(), "\r\n");
            LogMessage(LogLevel::Warn, kLogCategoryDbg | kLogCategoryNet,
                       "vel-service-status: Failed to get service status for region '%s': %d - "
                       "%s - '%s'",
                       region.c_str(), static_cast<int>(response.status),
                       response.errorText.c_str(), body.c_str());
        }
    }

    PublishTicker();
    PublishStatus();
}

void ServiceStatusPlugin::ResetValues(const std::string& humanUrl) {
    tickerMessages_.clear();
    statusResource_ = ServiceStatusResource{};
    statusResource_.humanReadableUrl = humanUrl;
}

void ServiceStatusPlugin::ParseServiceStatus(const BindingProperty& document) {
    ParseDocument(document, locale_);
}

void ServiceStatusPlugin::ParseDocument(const BindingProperty& document, std::string_view locale) {
    statusResource_.status = ServiceStatus::ReadOverallStatus(document, Registry());
    ServiceStatus::AppendStatusMessages(document, locale, Registry(), tickerMessages_);
}

void ServiceStatusPlugin::OnBroadcastNotification(
    const ServiceStatus::LCDS::BroadcastNotification& notification) {
    LogMessage(LogLevel::Always, kLogCategoryDbg,
               "vel-service-status: a notification with %u messages received.",
               static_cast<unsigned>(notification.broadcastMessages.size()));
    ShowBroadcasts(notification.broadcastMessages);
}

void ServiceStatusPlugin::OnLoginDataPacket(PluginResourceEventType eventType,
                                            const LoginDataPacket& packet) {
    if (eventType != PluginResourceEventType::Create &&
        eventType != PluginResourceEventType::Update) {
        return;
    }
    const auto& messages = packet.broadcastNotification.broadcastMessages;
    if (messages.empty()) {
        return;
    }
    LogMessage(LogLevel::Always, kLogCategoryDbg,
               "vel-service-status: a notification with %u messages exist.",
               static_cast<unsigned>(messages.size()));
    ShowBroadcasts(messages);
}

void ServiceStatusPlugin::ShowBroadcasts(std::span<const BindingProperty> messages) {
    tickerMessages_ = ServiceStatus::BroadcastTickerMessages(messages);
    PublishTicker();
}

void ServiceStatusPlugin::PublishTicker() {
    PublishResource(PluginResourceEventType::Update, kTickerPath, tickerMessages_);
}

void ServiceStatusPlugin::PublishStatus() {
    PublishResource(PluginResourceEventType::Update, kStatusPath, statusResource_);
}

} // namespace Korvel::Client
