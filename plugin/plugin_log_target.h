#pragma once

#include "diagnostics/log_target.h"
#include "plugin/host_function_table.h"

#include <atomic>

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
    // Stops handing lines to the host: the host has shut the plug-in down, though code of one of
    // its callbacks may still be running and logging. Lines written afterwards are dropped.
    void Unbind();

private:
    std::atomic<const HostFunctionTable*> host_;
};

} // namespace Korvel
