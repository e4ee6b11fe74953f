#pragma once

#include <string>
#include <string_view>

namespace Korvel {

// The kind of a plug-in: its type text and a second text that qualifies it.
struct PluginType {
    std::string type;
    std::string qualifier;
};

// The back-end plug-in type: "backend" with an empty qualifier.
extern const PluginType kBackendPluginType;

// The names of a plug-in. For this library: "tep-be-vel-service-status",
// "vel-service-status", "backend" and an empty qualifier.
struct PluginName {
    std::string fullName;
    std::string shortName;
    std::string type;
    std::string qualifier;
};

// The full name of a plug-in: "tep-be-" for type "backend", "tep-fe-" for
// "frontend" (exact, case-sensitive), otherwise "tep-xx-" with an ERROR log
// line; then the short name unchanged.
std::string GetFullNameFromShortNameAndType(std::string_view shortName, std::string_view type);

// Builds the names of a plug-in of the given type.
PluginName MakePluginName(std::string_view shortName, const PluginType& type);

} // namespace Korvel
