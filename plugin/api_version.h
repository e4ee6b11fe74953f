#pragma once

#include <cstdint>
#include <string>

namespace Korvel {

// A plug-in API version as the plug-in keeps it.
struct ApiVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t patch = 0;
    std::string prerelease;
    std::string build;

    // "major.minor.patch", then "-prerelease" and "+build" when not empty.
    std::string ToString() const;
};

// The plug-in API version this library implements: 18.0.0.
extern const ApiVersion kPluginApiVersion;

// True when a plug-in built for `plugin` can work with a host of `host`: the
// same major version and a host (minor, patch) not below the plug-in's, in
// lexicographic order. The prerelease and build texts take no part.
bool IsApiCompatible(const ApiVersion& plugin, const ApiVersion& host);

} // namespace Korvel
