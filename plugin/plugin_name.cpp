#include "plugin/plugin_name.h"

#include "diagnostics/format_message.h"
#include "diagnostics/log.h"

namespace Korvel {

const PluginType kBackendPluginType{"backend", {}};

std::string GetFullNameFromShortNameAndType(std::string_view shortName, std::string_view type) {
    std::string name;
    if (type == "backend") {
        name = "tep-be-";
    } else if (type == "frontend") {
        name = "tep-fe-";
    } else {
        const std::string message = FormatMessage(
            "GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type",
            shortName, type);
        LogMessage(LogLevel::Error, kLogCategoryDbg, "            Plugin Manager| %s",
                   message.c_str());
        name = "tep-xx-";
    }
    name += shortName;
    return name;
}

PluginName MakePluginName(std::string_view shortName, const PluginType& type) {
    return PluginName{GetFullNameFromShortNameAndType(shortName, type.type), std::string(shortName),
                      type.type, type.qualifier};
}

} // namespace Korvel
