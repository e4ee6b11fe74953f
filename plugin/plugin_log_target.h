#pragma once

#include "diagnostics/log_target.h"
#include "plugin/host_function_table.h"

namespace Korvel {

// The log target that hands the plug-in's log lines to the host: each record
// goes to the host's Log function with its level and message text; the line
// template is not applied, the host formats lines itself.
class PluginLogTarget : public LogTarget {
public:
    explicit PluginLogTarget(const HostFunctionTable* host);
    ~PluginLogTarget() override;

    const char* GetName() const override;
    bool Write(const LogRecord& record) override;

private:
    const HostFunctionTable* host_;
};

} // namespace Korvel
