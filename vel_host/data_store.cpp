#include "vel_host/data_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace Korvel::VelHost {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Replaces the address placeholder in every string value; keys stay as they are. The document
// has passed the parser's depth check, so the walk is bounded.
void Substitute(Json& value, const std::string& address, std::size_t depth) {
    if (value.is_string()) {
        ReplaceAll(value.get_ref<std::string&>(), DataStore::kAddressPlaceholder, address);
    } else if (value.is_structured() && depth < kMaxValueDepth) {
        for (Json& element : value) {
            Substitute(element, address, depth + 1);
        }
    }
}

std::size_t Depth(const Json& value, std::size_t limit) {
    if (!value.is_structured() || limit == 0) {
        return 0;
    }
    std::size_t deepest = 0;
    for (const Json& element : value) {
        deepest = std::max(deepest, Depth(element, limit - 1));
    }
    return deepest + 1;
}

} // namespace

DataStore DataStore::Parse(const std::string& text, const std::string& origin,
                           const std::string& hostAddress) {
    Json document;
    try {
        document = Json::parse(text);
    } catch (const Json::parse_error& error) {
        throw DataStoreError("data store " + origin + " is not valid JSON: " + error.what());
    }
    if (!document.is_object()) {
        throw DataStoreError("data store " + origin + " must hold a JSON object, not " +
                             std::string(document.type_name()));
    }
    if (Depth(document, kMaxValueDepth + 1) > kMaxValueDepth) {
        throw DataStoreError("data store " + origin + " is nested deeper than " +
                             std::to_string(kMaxValueDepth) + " levels");
    }
    DataStore store;
    for (auto& [key, value] : document.items()) {
        if (key == "system-settings" || key == "install-settings") {
            if (!value.is_object()) {
                throw DataStoreError("data store " + origin + ": \"" + key +
                                     "\" must be an object of settings, not " +
                                     std::string(value.type_name()));
            }
            Substitute(value, hostAddress, 0);
            (key == "system-settings" ? store.systemSettings_ : store.installSettings_) =
                std::move(value);
        } else if (key == "login-data-packet") {
            if (!value.is_object()) {
                throw DataStoreError("data store " + origin +
                                     ": \"login-data-packet\" must be an object, not " +
                                     std::string(value.type_name()));
            }
            Substitute(value, hostAddress, 0);
            store.loginDataPacket_ = std::move(value);
        } else {
            store.unknownKeys_.push_back(key);
        }
    }
    if (!document.contains("system-settings") || !document.contains("install-settings")) {
        throw DataStoreError("data store " + origin +
                             " must hold \"system-settings\" and \"install-settings\"");
    }
    return store;
}

DataStore DataStore::Load(const std::string& fileName, const std::string& hostAddress) {
    // A folder opens as a stream that reads nothing; say so rather than call it invalid JSON.
    struct stat info {};
    if (::stat(fileName.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        throw DataStoreError("cannot read data store '" + fileName + "': it is a folder");
    }
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        throw DataStoreError("cannot read data store '" + fileName + "': " + std::strerror(errno));
    }
    // Read in blocks up to the limit, so that a device or pipe that never ends cannot take all
    // memory (pipes such as <(...) stay usable).
    std::string text;
    char block[64 * 1024];
    while (file.read(block, sizeof(block)), file.gcount() > 0) {
        const auto count = static_cast<std::size_t>(file.gcount());
        if (count > kMaxFileBytes - text.size()) {
            throw DataStoreError("data store '" + fileName + "' is larger than " +
                                 std::to_string(kMaxFileBytes) + " bytes");
        }
        text.append(block, count);
    }
    if (file.bad()) {
        throw DataStoreError("cannot read data store '" + fileName + "': read error");
    }
    return Parse(text, "'" + fileName + "'", hostAddress);
}

std::optional<Json> DataStore::Find(const std::string& path) const {
    const auto lookUp = [&](const Json& section, std::size_t prefixLength) -> std::optional<Json> {
        const std::string name = path.substr(prefixLength);
        if (name.empty()) {
            return std::nullopt;
        }
        const auto found = section.find(name);
        if (found == section.end()) {
            return std::nullopt;
        }
        return *found;
    };
    if (path.starts_with(kSystemSettingsPrefix)) {
        return lookUp(systemSettings_, std::strlen(kSystemSettingsPrefix));
    }
    if (path.starts_with(kInstallSettingsPrefix)) {
        return lookUp(installSettings_, std::strlen(kInstallSettingsPrefix));
    }
    if (path == kLoginDataPacketPath) {
        return loginDataPacket_;
    }
    return std::nullopt;
}

void DataStore::SetLoginDataPacket(Json packet) {
    loginDataPacket_ = std::move(packet);
}

void DataStore::ClearLoginDataPacket() {
    loginDataPacket_.reset();
}

} // namespace Korvel::VelHost
