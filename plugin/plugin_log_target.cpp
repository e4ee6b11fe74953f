#include "plugin/plugin_log_target.h"

namespace Korvel {

PluginLogTarget::PluginLogTarget(const HostFunctionTable* host) : host_(host) {}

PluginLogTarget::~PluginLogTarget() {
    // Detached here as well as in the base, so that the logger cannot call
    // Write while this part of the object is already gone.
    Detach();
}

const char* PluginLogTarget::GetName() const {
    return "PluginLogTarget";
}

bool PluginLogTarget::Write(const LogRecord& record) {
    const HostFunctionTable* host = host_.load();
    if (host == nullptr || host->log == nullptr) {
        return false;
    }
    host->log(host, record.level, record.message != nullptr ? record.message : "");
    return true;
}

void PluginLogTarget::Unbind() {
    host_.store(nullptr);
}

} // namespace Korvel
