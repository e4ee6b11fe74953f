#include "plugin/api_version.h"

#include "diagnostics/format_message.h"

namespace Korvel {

const ApiVersion kPluginApiVersion{18, 0, 0, {}, {}};

std::string ApiVersion::ToString() const {
    std::string text = FormatMessage("%1.%2.%3", major, minor, patch);
    if (!prerelease.empty()) {
        text += '-';
        text += prerelease;
    }
    if (!build.empty()) {
        text += '+';
        text += build;
    }
    return text;
}

bool IsApiCompatible(const ApiVersion& plugin, const ApiVersion& host) {
    if (host.major != plugin.major) {
        return false;
    }
    if (host.minor != plugin.minor) {
        return host.minor > plugin.minor;
    }
    return host.patch >= plugin.patch;
}

} // namespace Korvel
