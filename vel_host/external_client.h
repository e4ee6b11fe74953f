#pragma once

// Outside HTTP(S) requests for the plug-in's SendExternalRequest, performed with libcurl on the
// calling thread (the plug-in waits for the answer).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Korvel::VelHost {

struct ExternalCall {
    std::string method = "GET"; // method name as sent
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool hasBody = false;
    uint32_t timeLimitSeconds = 0; // 0: kDefaultTimeLimitSeconds
};

// Transport codes the host reports in the external response record.
enum class TransportCode : uint32_t {
    Ok = 0,      // a response arrived
    Failed = 1,  // no response: the connection failed, the address was bad, ...
    TimedOut = 2 // no complete response within the time limit
};

struct ExternalResult {
    TransportCode code = TransportCode::Failed;
    uint32_t status = 0;
    std::vector<std::pair<std::string, std::string>> headers; // of the final response
    std::string body; // the response body, or the error text when no response arrived
};

// A request without a time limit of its own still ends after this long.
inline constexpr uint32_t kDefaultTimeLimitSeconds = 300;
// Largest response body kept; a longer one fails the request.
inline constexpr std::size_t kMaxResponseBytes = 64u * 1024u * 1024u;

// Call once before any other thread starts (curl_global_init is not thread-safe).
void InitializeExternalRequests();
void FinishExternalRequests();

ExternalResult PerformExternalRequest(const ExternalCall& call);

} // namespace Korvel::VelHost
