#include "plugin/service_status_plugin.h"

namespace Korvel::Client {

ServiceStatusPlugin::ServiceStatusPlugin() = default;

ServiceStatusPlugin::~ServiceStatusPlugin() = default;

void ServiceStatusPlugin::Shutdown() {
    RemoveTimer(kUpdateTimerName);
    PluginBase::Shutdown();
}

// The status update flow hooks in here; until it exists there is nothing to
// start and the start-up succeeds.
bool ServiceStatusPlugin::Start() {
    return true;
}

} // namespace Korvel::Client
