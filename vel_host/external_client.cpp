#include "vel_host/external_client.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>

namespace Korvel::VelHost {

namespace {

struct Transfer {
    std::string body;
    bool tooLarge = false;
    std::vector<std::pair<std::string, std::string>> headers;
};

size_t OnBody(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    if (transfer->body.size() + bytes > kMaxResponseBytes) {
        transfer->tooLarge = true;
        return 0; // makes curl fail the transfer with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, bytes);
    return bytes;
}

std::string Trim(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) {
        ++start;
    }
    return text.substr(start);
}

// Header lines arrive one at a time; a status line starts a new response (after a redirect or
// an interim 100 Continue), so only the final response's headers are kept.
size_t OnHeader(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    const std::string line(data, bytes);
    if (line.starts_with("HTTP/")) {
        transfer->headers.clear();
        return bytes;
    }
    const size_t colon = line.find(':');
    if (colon != std::string::npos && colon > 0) {
        transfer->headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
    return bytes;
}

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

void InitializeExternalRequests() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

void FinishExternalRequests() {
    curl_global_cleanup();
}

ExternalResult PerformExternalRequest(const ExternalCall& call) {
    ExternalResult result;
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) {
        result.body = "cannot start a request: curl_easy_init failed";
        return result;
    }
    Transfer transfer;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* handle = curl.get();

    std::unique_ptr<curl_slist, ListDeleter> headerList;
    for (const auto& [name, value] : call.headers) {
        // "Name:" alone would make curl drop the header; "Name;" sends it with an empty value.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        curl_slist* extended = curl_slist_append(headerList.get(), line.c_str());
        if (extended == nullptr) {
            result.body = "cannot build the request headers";
            return result;
        }
        headerList.release();
        headerList.reset(extended);
    }

    const uint32_t timeLimit =
        call.timeLimitSeconds != 0 ? call.timeLimitSeconds : kDefaultTimeLimitSeconds;
    curl_easy_setopt(handle, CURLOPT_URL, call.url.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(timeLimit));
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // The loopback addresses never go through a proxy set in the environment.
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    if (call.method == "HEAD") {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (call.method != "GET" || call.hasBody) {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, call.method.c_str());
    }
    if (call.hasBody) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, call.body.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(call.body.size()));
    }

    const CURLcode code = curl_easy_perform(handle);
    if (code != CURLE_OK) {
        result.code =
            code == CURLE_OPERATION_TIMEDOUT ? TransportCode::TimedOut : TransportCode::Failed;
        if (transfer.tooLarge) {
            result.body =
                "the response is larger than " + std::to_string(kMaxResponseBytes) + " bytes";
        } else {
            result.body = errorText[0] != '\0' ? std::string(errorText)
                                               : std::string(curl_easy_strerror(code));
        }
        return result;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    result.code = TransportCode::Ok;
    result.status = static_cast<uint32_t>(status);
    result.headers = std::move(transfer.headers);
    result.body = std::move(transfer.body);
    return result;
}

} // namespace Korvel::VelHost
