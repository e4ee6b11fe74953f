#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plugin/api_declaration.h"
#include "plugin/function_request_records.h"
#include "support/host_values.h"

// Calls declared functions the way a host does: builds a request record, calls the entry point of
// the function's declaration entry with it, reads the response record (value, status, headers,
// body stream) and releases it through the release functions the record carries.
namespace Korvel::Testing {

struct FunctionRequest {
    uint32_t method = 2;
    std::optional<std::string> methodText;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    // Arguments: a name (or none) and a value built by the caller's arena.
    std::vector<std::pair<std::optional<std::string>, HostValue>> arguments;
    std::optional<std::string> contentType;
    std::optional<std::string> body;
    uint32_t token = 0;
};

struct FunctionResponse {
    Json value;
    Json valueKinds;
    uint8_t flag = 0;
    uint32_t contentKind = 0;
    int32_t status = 0;
    std::string statusText;
    std::vector<std::pair<std::string, std::string>> headers;
    bool hasBody = false;
    uint32_t bodySize = 0;
    std::string body; // read through the stream in small pieces
    bool released = false;
};

// Builds the request record from `request` and calls `entry` with it. The record's user data is
// the entry's own.
FunctionResponse CallDeclaredFunction(const ApiFunctionEntry& entry,
                                      const FunctionRequest& request);
// Calls the declared function named `name` with `request`; a test failure, and an empty response,
// when the declaration has no such function.
FunctionResponse CallDeclaredFunction(const ApiDeclaration& declaration, const std::string& name,
                                      const FunctionRequest& request);
// Calls an entry point with a request record the caller built (to pass malformed records).
FunctionResponse CallEntryPoint(HostFunctionEntryPoint entryPoint,
                                const HostFunctionRequest* request);
// Reads and releases a filled response record.
FunctionResponse ReadResponse(HostFunctionResponse& record);

// The entry of the declaration with that name, or null.
const ApiFunctionEntry* FindDeclaredFunction(const ApiDeclaration& declaration,
                                             const std::string& name);

} // namespace Korvel::Testing
