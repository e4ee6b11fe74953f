// The plug-in library's only export. The host calls it once, right after
// loading the library, with the descriptor of its plug-in API.

#include "diagnostics/allocation.h"
#include "plugin/plugin_api_descriptor.h"
#include "service_status/service_status_plugin.h"

#include <cstring>
#include <new>

extern "C" __attribute__((visibility("default"))) void KORVEL_CDECL
load_vel_service_status(Korvel::PluginApiDescriptor* descriptor) {
    using Korvel::Client::ServiceStatusPlugin;
    if (descriptor == nullptr) {
        return;
    }
    // The object lives in zero-filled memory from the library's allocator;
    // the host's Shutdown entry point destroys and frees it.
    void* memory = Korvel::Allocate(sizeof(ServiceStatusPlugin));
    if (memory == nullptr) {
        // Without an object the descriptor keeps no entry points and the host
        // cannot go on with this plug-in.
        descriptor->pluginFunctions = nullptr;
        descriptor->plugin = nullptr;
        descriptor->name = nullptr;
        descriptor->apiDeclaration = nullptr;
        return;
    }
    std::memset(memory, 0, sizeof(ServiceStatusPlugin));
    ServiceStatusPlugin* plugin = nullptr;
    try {
        plugin = ::new (memory) ServiceStatusPlugin();
        plugin->Handshake(descriptor, ServiceStatusPlugin::kShortName);
    } catch (...) {
        if (plugin != nullptr) {
            delete plugin;
        } else {
            Korvel::Free(memory);
        }
        descriptor->pluginFunctions = nullptr;
        descriptor->plugin = nullptr;
        descriptor->name = nullptr;
        descriptor->apiDeclaration = nullptr;
    }
}
