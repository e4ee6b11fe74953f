// Requests of the plug-in object through the host: the host's own resources (SendRequest) and
// outside web servers (SendExternalRequest).

#include "binding/host_value_conversion.h"
#include "diagnostics/format_message.h"
#include "encoding/json_reader.h"
#include "plugin/plugin_core.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace Korvel {

namespace {

// Every request the plug-in sends to the host is a GET.
constexpr HttpMethod kResourceMethod = HttpMethod::Get;
// Bytes offered to the host's read function at a time.
constexpr uint32_t kStreamBufferSize = 4096;
// Largest size hint taken as a reservation for a streamed body; a larger body still arrives,
// it just grows as it comes.
constexpr uint32_t kMaxStreamReservation = 16u * 1024u * 1024u;

constexpr const char kSystemSettingsPath[] = "/data-store/v1/system-settings/";
constexpr const char kInstallSettingsPath[] = "/data-store/v1/install-settings/";

// Hands the response record back to the host when the plug-in is done with it, however the
// reading ends.
class ResponseRelease {
public:
    explicit ResponseRelease(HostResourceResponse& response) : response_(response) {}
    ~ResponseRelease() {
        const HostReleaseFunction release = response_.release;
        if (release != nullptr) {
            release(&response_);
        }
    }
    ResponseRelease(const ResponseRelease&) = delete;
    ResponseRelease& operator=(const ResponseRelease&) = delete;

private:
    HostResourceResponse& response_;
};

void Fail(ResourceResult& result, int32_t code, std::string message) {
    result.value.Clear();
    result.failed = true;
    result.code = code;
    result.message = std::move(message);
}

// Collects a streamed body. False when a read failed (or reported more bytes than it was
// offered, which no working host does), and when `ended` reports that the host has shut the
// object down before the body was complete: the object no longer lets the host work between
// reads, so it stops asking for bytes that may not come until the host does.
template <typename Ended>
bool ReadStream(PluginCore& plugin, const HostResourceResponse& response, std::string& text,
                const Ended& ended) {
    const HostReadFunction read = response.read;
    void* const context = response.readContext;
    const uint32_t hint = response.sizeHint;
    text.reserve(std::min(hint, kMaxStreamReservation));
    char buffer[kStreamBufferSize];
    uint8_t more = 1;
    while (more != 0) {
        if (ended()) {
            return false;
        }
        uint32_t length = kStreamBufferSize;
        more = 1;
        if (!read(context, buffer, &length, &more) || length > kStreamBufferSize) {
            return false;
        }
        text.append(buffer, length);
        if (more != 0 && length < kStreamBufferSize) {
            // The host has no more bytes yet: let it work before asking again.
            plugin.HostBeginWait("Wait: yield", 0);
            plugin.HostYield();
            plugin.HostEndWait();
        }
    }
    return true;
}

} // namespace

void PluginCore::FailConversion(ResourceResult& result, std::string_view path,
                                const std::string& message) {
    Fail(result, 0,
         FormatMessage("Error converting response for %1 %2: %3", HttpMethodName(kResourceMethod),
                       path, message));
}

ResourceResult PluginCore::GetResource(std::string_view path) {
    ResourceResult result;
    const std::string pathText(path);
    const std::string_view method = HttpMethodName(kResourceMethod);

    HostResourceRequest request;
    std::memset(&request, 0, sizeof(request));
    request.method = static_cast<uint32_t>(kResourceMethod);
    request.path = pathText.c_str();
    request.arguments = nullptr;
    request.argumentCount = 0;
    request.pluginId = pluginId_;
    HostResourceResponse response;
    std::memset(&response, 0, sizeof(response));
    SendRequest(&response, &request);
    ResponseRelease release(response);

    if (const char* error = response.error; error != nullptr) {
        Fail(result, response.errorCode,
             FormatMessage("Error response for %1 %2: %3", method, pathText, error));
        return result;
    }
    if (response.read != nullptr) {
        std::string text;
        if (!ReadStream(*this, response, text, [this] { return Disposed(); })) {
            Fail(result, 0,
                 FormatMessage("Error reading streamed response for %1 %2: %3", method, pathText,
                               "Stream read error"));
            return result;
        }
        BindingResult parsed = ReadJson(std::string_view(text));
        if (!parsed.IsSuccess()) {
            Fail(result, 0,
                 FormatMessage("Error reading streamed response for %1 %2: %3", method, pathText,
                               parsed.GetError()));
            return result;
        }
        result.value.Take(parsed.value);
        return result;
    }
    HostValueResult error;
    if (!FromHostValue(error, result.value, response.body, "<result>")) {
        FailConversion(result, pathText, error.Message());
    }
    return result;
}

ResourceResult PluginCore::ReadSystemSetting(std::string_view name) {
    std::string path = kSystemSettingsPath;
    path.append(name);
    return GetResource(path);
}

ResourceResult PluginCore::ReadInstallSetting(std::string_view name) {
    std::string path = kInstallSettingsPath;
    path.append(name);
    return GetResource(path);
}

ExternalResponse PluginCore::SendExternal(HttpMethod method, std::string_view url,
                                          const HeaderTable& headers, uint32_t timeLimit) {
    ExternalResponse result;
    const std::string urlText(url);
    const std::string_view methodName = HttpMethodName(method);

    std::vector<HostHeaderEntry> entries;
    entries.reserve(headers.size() + 1);
    if (headers.find("user-agent") == headers.end()) {
        entries.push_back(HostHeaderEntry{"user-agent", userAgent_.c_str()});
    }
    for (const auto& [name, value] : headers) {
        entries.push_back(HostHeaderEntry{name.c_str(), value.c_str()});
    }

    ExternalRequestRecord request;
    std::memset(&request, 0, sizeof(request));
    request.method = static_cast<uint32_t>(method);
    request.url = urlText.c_str();
    request.headers = entries.empty() ? nullptr : entries.data();
    request.headerCount = static_cast<uint32_t>(entries.size());
    request.body = nullptr;
    request.bodyLength = 0;
    request.timeLimit = timeLimit;
    request.flag = 1;
    ExternalResponseRecord response;
    std::memset(&response, 0, sizeof(response));
    SendExternalRequest(&response, &request);

    const uint32_t transport = response.transportCode;
    if (transport == 0 || transport == 2) {
        result.code = static_cast<int32_t>(transport);
    } else if (transport == 0xFFFFFFFFu) {
        result.code = -1;
    } else {
        result.code = 1;
    }
    const char* body = reinterpret_cast<const char*>(response.body);
    const std::size_t bodyLength = body != nullptr ? response.bodyLength : 0;
    if (result.code != 0) {
        result.errorText.assign(body != nullptr ? body : "", bodyLength);
        return result;
    }

    result.status = static_cast<int32_t>(response.status);
    if (response.headers == nullptr && response.headerCount != 0) {
        result.bodyInvalid = 1;
        result.errorText = FormatMessage("Error converting response for %1 %2: headers was null",
                                         methodName, urlText);
    } else {
        for (uint32_t i = 0; i < response.headerCount; ++i) {
            const HostHeaderEntry& header = response.headers[i];
            result.headers.insert_or_assign(header.name != nullptr ? header.name : "",
                                            header.value != nullptr ? header.value : "");
        }
    }
    // The body is read whatever the headers were. Its verdict decides bodyInvalid; a body that
    // fails replaces the headers' text with its own, a valid one leaves that text in place, so
    // the response still does not count as a success.
    if (bodyLength == 0) {
        result.bodyInvalid = 1;
        result.errorText = FormatMessage("Error converting response for %1 %2: body was empty",
                                         methodName, urlText);
        return result;
    }
    const std::string_view bodyText(body, bodyLength);
    BindingResult parsed = ReadJson(bodyText);
    if (!parsed.IsSuccess()) {
        result.bodyInvalid = 1;
        result.errorText = FormatMessage("Error deserializing json response for %1 %2: %3",
                                         methodName, urlText, parsed.GetError());
        result.body.SetString(bodyText);
        return result;
    }
    result.bodyInvalid = 0;
    result.body.Take(parsed.value);
    return result;
}

} // namespace Korvel
