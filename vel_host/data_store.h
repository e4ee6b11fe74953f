#pragma once

// The host's data store: the settings the plug-in reads with SendRequest, from a JSON file
// (or the bundled example) shaped like
//
//   {
//     "system-settings":  { "region_data": { ... }, ... },
//     "install-settings": { "globals": { "region": "NA", "locale": "en_US" }, ... },
//     "login-data-packet": { "broadcastNotification": { "broadcastMessages": [ ... ] } }
//   }
//
// "login-data-packet" is optional. Every text "${vel-host}" inside a string value is replaced by
// the address of this host's own HTTP server (for example http://127.0.0.1:8089), so that a data
// store can point at the documents the host serves itself.

#include "vel_host/host_value_json.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Korvel::VelHost {

// A data store that cannot be read or is not shaped as above; what() says why.
class DataStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DataStore {
public:
    static constexpr const char kSystemSettingsPrefix[] = "/data-store/v1/system-settings/";
    static constexpr const char kInstallSettingsPrefix[] = "/data-store/v1/install-settings/";
    static constexpr const char kLoginDataPacketPath[] = "/vel-login/v1/login-data-packet";
    static constexpr const char kAddressPlaceholder[] = "${vel-host}";
    // Largest data-store file read.
    static constexpr std::size_t kMaxFileBytes = 64u * 1024u * 1024u;

    // `origin` names the source in messages (a file name or "the bundled example").
    static DataStore Parse(const std::string& text, const std::string& origin,
                           const std::string& hostAddress);
    static DataStore Load(const std::string& fileName, const std::string& hostAddress);

    // The entry served for a resource path, or nothing for a path the store does not hold.
    std::optional<Json> Find(const std::string& path) const;
    // Replaces the login data packet (a login-data update the host was told about).
    void SetLoginDataPacket(Json packet);
    void ClearLoginDataPacket();
    // Top-level keys the store does not know; they are kept but never served.
    const std::vector<std::string>& UnknownKeys() const { return unknownKeys_; }

private:
    Json systemSettings_ = Json::object();
    Json installSettings_ = Json::object();
    std::optional<Json> loginDataPacket_;
    std::vector<std::string> unknownKeys_;
};

} // namespace Korvel::VelHost
