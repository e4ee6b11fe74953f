#pragma once

#include "plugin/api_declaration.h"
#include "plugin/calling_convention.h"
#include "plugin/plugin_function_table.h"

#include <cstddef>
#include <cstdint>

namespace Korvel {

// The record the host owns and passes to load_vel_service_status (28 bytes in
// the 32-bit build). On entry the plug-in reads only the three version fields,
// the host's API version; on return all seven hold the plug-in's values.
//    0  u32      API major version
//    4  u32      API minor version
//    8  u32      API patch version
//   12  pointer  the plug-in's entry-point table (inside the plug-in object)
//   16  pointer  the plug-in object, passed back to every entry point
//   20  pointer  the plug-in's short name, owned by the plug-in object
//   24  pointer  the plug-in's API declaration, inside the plug-in object
struct PluginApiDescriptor {
    uint32_t apiMajor;
    uint32_t apiMinor;
    uint32_t apiPatch;
    const PluginFunctionTable* pluginFunctions;
    void* plugin;
    const char* name;
    const ApiDeclaration* apiDeclaration;
};

#if KORVEL_ABI_32
static_assert(sizeof(PluginApiDescriptor) == 28);
static_assert(offsetof(PluginApiDescriptor, apiMajor) == 0);
static_assert(offsetof(PluginApiDescriptor, apiMinor) == 4);
static_assert(offsetof(PluginApiDescriptor, apiPatch) == 8);
static_assert(offsetof(PluginApiDescriptor, pluginFunctions) == 12);
static_assert(offsetof(PluginApiDescriptor, plugin) == 16);
static_assert(offsetof(PluginApiDescriptor, name) == 20);
static_assert(offsetof(PluginApiDescriptor, apiDeclaration) == 24);
#endif

// The export's signature.
using LoadPluginFunction = void(KORVEL_CDECL*)(PluginApiDescriptor* descriptor);

} // namespace Korvel
