#pragma once

#include "binding/binding_registry.h"
#include "plugin/api_declaration.h"
#include "plugin/api_version.h"
#include "plugin/plugin_api_descriptor.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_function_table.h"
#include "plugin/plugin_log_target.h"
#include "plugin/plugin_name.h"
#include "remoting/api_declaration_builder.h"

#include <memory>
#include <string>
#include <vector>

namespace Korvel {

// The host-facing half of a plug-in: the handshake with the host, the entry
// points the host calls, and the forwarding of every host operation through
// the host function table received at initialisation.
class PluginBase : public PluginCore {
public:
    PluginBase();
    ~PluginBase() override;

    // The handshake of the export: checks the host's API version, names the
    // plug-in, registers the plug-in-manager types and its API and fills in
    // the host's descriptor.
    void Handshake(PluginApiDescriptor* descriptor, const char* shortName);

    // Initialisation by the host: keeps the host context, sets up the log
    // target that passes log lines to the host, builds the user agent, makes
    // the plug-in's registry the one of every conversion, subscribes to the
    // service-proxy events and starts the plug-in. Returns the result of
    // Start, or false without a usable host context.
    bool Initialize(const HostContext* context);

    // The entry points of the table handed to the host.
    static bool KORVEL_CDECL InitializeEntry(void* plugin, const HostContext* context);
    static void KORVEL_CDECL ShutdownEntry(void* plugin);
    static void KORVEL_CDECL GetMemoryStatsEntry(void* ignored, PluginMemoryStats* stats);

    void SendRequest(HostResourceResponse* response, const HostResourceRequest* request) override;
    void SendExternalRequest(ExternalResponseRecord* response,
                             const ExternalRequestRecord* request) override;
    void FireEvent(const HostEventRecord* event) override;
    void HostSubscribe(const char* eventName, uint32_t pluginId, HostEventCallback callback,
                       void* userData, uint32_t flag) override;
    void HostUnsubscribe(const char* eventName, uint32_t pluginId) override;
    void HostSetTimer(const char* label, HostTimerCallback callback, void* userData,
                      double delaySeconds, uint32_t flags) override;
    void HostYield() override;
    void HostBeginWait(const std::string& label, uint32_t flags) override;
    void HostEndWait() override;

    // The plug-in's type registry, created with the object with the builtin
    // types in it.
    BindingRegistry& Registry() { return registry_; }
    const BindingRegistry& Registry() const { return registry_; }
    const ApiVersion& HostApiVersion() const { return hostApiVersion_; }
    const PluginName& Name() const { return name_; }
    const std::vector<std::string>& RegistrationTags() const { return registrationTags_; }
    const HostContext* Context() const { return hostContext_; }
    const PluginFunctionTable& Functions() const { return pluginFunctions_; }
    const ApiDeclaration& Declaration() const { return apiDeclaration_; }
    // The incompatibility message of the handshake; empty when the host's
    // API version is compatible.
    const std::string& ApiIncompatibility() const { return apiIncompatibility_; }

private:
    const HostFunctionTable* Host() const;
    void SetUpLogTarget();

    ApiVersion hostApiVersion_;
    std::unique_ptr<PluginLogTarget> logTarget_;
    PluginName name_;
    std::vector<std::string> registrationTags_;
    BindingRegistry registry_;
    const HostContext* hostContext_ = nullptr;
    PluginFunctionTable pluginFunctions_;
    ApiDeclaration apiDeclaration_;
    // Owns what the declaration points to.
    std::unique_ptr<BuiltApiDeclaration> builtDeclaration_;
    std::string apiIncompatibility_;
};

} // namespace Korvel
