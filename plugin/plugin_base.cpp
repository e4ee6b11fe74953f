#include "plugin/plugin_base.h"

#include "diagnostics/allocation.h"
#include "diagnostics/assertion.h"
#include "diagnostics/format_message.h"
#include "diagnostics/log.h"
#include "diagnostics/logging_api.h"
#include "plugin/plugin_manager_types.h"
#include "remoting/function_dispatch.h"

#include <cstring>

namespace Korvel {

namespace {

// Service-proxy events every plug-in subscribes to at initialisation.
constexpr const char* kServiceProxyEvents[] = {
    Client::kServiceProxyUuidEventName,
    Client::kServiceProxyMethodEventName,
    Client::kServiceProxyAsyncEventName,
};

constexpr int32_t kLoggerMinLevelWithHost = static_cast<int32_t>(LogLevel::Okay);
constexpr uint64_t kLoggerMutedWithHost = kLogCategoryXtr;

void DetachTarget(LogTargetFunctions* target) {
    if (target != nullptr && target->detach != nullptr) {
        target->detach(target);
    }
}

} // namespace

PluginBase::PluginBase() {
    pluginFunctions_.initialize = &PluginBase::InitializeEntry;
    pluginFunctions_.shutdown = &PluginBase::ShutdownEntry;
    pluginFunctions_.getMemoryStats = &PluginBase::GetMemoryStatsEntry;
    std::memset(&apiDeclaration_, 0, sizeof(apiDeclaration_));
    // The builtin types come first, before anything the plug-in registers.
    registry_.Reinitialise();
}

PluginBase::~PluginBase() = default;

void PluginBase::Handshake(PluginApiDescriptor* descriptor, const char* shortName) {
    if (descriptor == nullptr) {
        return;
    }
    const std::string name = shortName != nullptr ? shortName : "";

    const ApiVersion& own = kPluginApiVersion;
    ApiVersion host{descriptor->apiMajor, descriptor->apiMinor, descriptor->apiPatch, {}, {}};
    if (!IsApiCompatible(own, host)) {
        ReportFatalMarker(kMarkerIncompatibleHostApi);
        apiIncompatibility_ = FormatMessage(
            "%1 which supports plugin API %2 is not compatible with core's plugin API %3", name,
            own.ToString(), host.ToString());
    }
    hostApiVersion_ = std::move(host);

    name_ = MakePluginName(name, kBackendPluginType);
    registrationTags_ = {"Plugins", "Plugin " + name};

    SetConversionRegistry(&registry_);
    Client::RegisterPluginManagerTypes(registry_);
    RegisterApi();
    // The API declaration of everything registered so far; the object keeps
    // it, and every text and array it points to, until it is destroyed.
    builtDeclaration_ = BuildPluginApiDeclaration(registry_);
    apiDeclaration_ = builtDeclaration_->Declaration();

    descriptor->apiMajor = own.major;
    descriptor->apiMinor = own.minor;
    descriptor->apiPatch = own.patch;
    descriptor->pluginFunctions = &pluginFunctions_;
    descriptor->plugin = this;
    descriptor->name = name_.shortName.c_str();
    descriptor->apiDeclaration = &apiDeclaration_;
}

bool PluginBase::Initialize(const HostContext* context) {
    if (context == nullptr || context->functions == nullptr) {
        return false;
    }
    hostContext_ = context;
    SetUpLogTarget();
    std::string userAgent =
        FormatMessage("KorvelClient/%1 (%2)", hostApiVersion_.ToString(), name_.shortName);
    SetPluginId(context->pluginId);
    SetUserAgent(std::move(userAgent));
    SetConversionRegistry(&registry_);
    for (const char* eventName : kServiceProxyEvents) {
        SubscribeHostEvent(
            eventName,
            ServiceProxyHandler(
                [this, eventName](const Client::AppModule::PluginServiceProxyResponse& response) {
                    DispatchServiceProxyResponse(eventName, response);
                }),
            1);
    }
    return Start();
}

void PluginBase::SetUpLogTarget() {
    // A target this object set up for an earlier host context is replaced.
    logTarget_.reset();
    if (Logging::FindTarget("PluginLogTarget") != nullptr) {
        return;
    }
    DetachTarget(Logging::GetStdErrTarget());
    DetachTarget(Logging::GetStdOutTarget());
    DetachTarget(Logging::GetDebuggerTarget());
    Logging::SetMinLevel(kLoggerMinLevelWithHost);
    Logging::SetMutedCategories(kLoggerMutedWithHost);
    logTarget_ = std::make_unique<PluginLogTarget>(hostContext_->functions);
    logTarget_->Configure(
        LogTargetConfig{Logging::GetMinLevel(), 0, 0, std::string(kDefaultLogLineTemplate)});
}

bool KORVEL_CDECL PluginBase::InitializeEntry(void* plugin, const HostContext* context) {
    if (plugin == nullptr) {
        return false;
    }
    auto* object = static_cast<PluginBase*>(plugin);
    const CallbackScope scope(*object);
    try {
        return object->Initialize(context);
    } catch (...) {
        return false;
    }
}

void KORVEL_CDECL PluginBase::ShutdownEntry(void* plugin) {
    if (plugin == nullptr) {
        return;
    }
    auto* object = static_cast<PluginBase*>(plugin);
    try {
        object->Shutdown();
    } catch (...) {
        // The object is destroyed whatever happened during its shutdown.
    }
    // A callback still under way on the object may go on logging until it returns; its lines
    // must not reach a host that has shut the plug-in down.
    if (object->logTarget_ != nullptr) {
        object->logTarget_->Unbind();
    }
    Dispose(object);
}

void KORVEL_CDECL PluginBase::GetMemoryStatsEntry(void*, PluginMemoryStats* stats) {
    if (stats == nullptr) {
        return;
    }
    MemoryStatistics counters{};
    ReadMemoryStatistics(&counters);
    stats->peakBytes = counters.peakBytesInUse;
    stats->peakBlocks = counters.blocksInUseAtPeak;
    stats->bytesAllocated = counters.bytesAllocated;
    stats->blocksAllocated = counters.blocksAllocated;
    stats->bytesFreed = counters.bytesFreed;
    stats->blocksFreed = counters.blocksFreed;
    std::memset(stats->reserved, 0, sizeof(stats->reserved));
}

const HostFunctionTable* PluginBase::Host() const {
    // An object the host has disposed of calls it no more, though code of a callback under way
    // still runs on it.
    return hostContext_ != nullptr && !Disposed() ? hostContext_->functions : nullptr;
}

// The forwarding operations call the host only once it has initialised the
// plug-in, and not after it has disposed of it; otherwise there is no host
// function table to call.

void PluginBase::SendRequest(HostResourceResponse* response, const HostResourceRequest* request) {
    if (const HostFunctionTable* host = Host(); host != nullptr && host->sendRequest != nullptr) {
        host->sendRequest(host, response, request);
    }
}

void PluginBase::SendExternalRequest(ExternalResponseRecord* response,
                                     const ExternalRequestRecord* request) {
    if (const HostFunctionTable* host = Host();
        host != nullptr && host->sendExternalRequest != nullptr) {
        host->sendExternalRequest(host, response, request);
    }
}

void PluginBase::FireEvent(const HostEventRecord* event) {
    if (const HostFunctionTable* host = Host(); host != nullptr && host->fireEvent != nullptr) {
        host->fireEvent(host, event);
    }
}

void PluginBase::HostSubscribe(const char* eventName, uint32_t pluginId, HostEventCallback callback,
                               void* userData, uint32_t flag) {
    if (const HostFunctionTable* host = Host(); host != nullptr && host->subscribe != nullptr) {
        host->subscribe(host, eventName, pluginId, callback, userData, flag);
    }
}

void PluginBase::HostUnsubscribe(const char* eventName, uint32_t pluginId) {
    if (const HostFunctionTable* host = Host(); host != nullptr && host->unsubscribe != nullptr) {
        host->unsubscribe(host, eventName, pluginId);
    }
}

void PluginBase::HostSetTimer(const char* label, HostTimerCallback callback, void* userData,
                              double delaySeconds, uint32_t flags) {
    if (const HostFunctionTable* host = Host(); host != nullptr && host->setTimer != nullptr) {
        host->setTimer(host, label, callback, userData, delaySeconds, flags);
    }
}

void PluginBase::HostYield() {
    if (const HostFunctionTable* host = Host(); host != nullptr && host->yield != nullptr) {
        host->yield(host);
    }
}

void PluginBase::HostBeginWait(const std::string& label, uint32_t flags) {
    if (const HostFunctionTable* host = Host(); host != nullptr && host->beginWait != nullptr) {
        host->beginWait(host, label.c_str(), flags);
    }
}

void PluginBase::HostEndWait() {
    if (const HostFunctionTable* host = Host(); host != nullptr && host->endWait != nullptr) {
        host->endWait(host);
    }
}

} // namespace Korvel
