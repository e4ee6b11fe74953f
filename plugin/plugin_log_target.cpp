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
    if (host_ == nullptr || host_->log == nullptr) {
        return false;
    }
    host_->log(host_, record.level, record.message != nullptr ? record.message : "");
    return true;
}

} // namespace Korvel
