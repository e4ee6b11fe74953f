#pragma once

// The plug-in's declared functions, read from the API declaration it handed over at load: the
// routes the host serves over HTTP and the entry point that each one calls.

#include "plugin/api_declaration.h"
#include "vel_host/host_value_json.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace Korvel::VelHost {

struct FunctionCall;
struct FunctionAnswer;

class DeclaredFunctions {
public:
    // Runs one entry into the plug-in (the host's entry guard).
    using Enter = std::function<void(const std::function<void()>&)>;

    // Longest request path matched against a route template.
    static constexpr std::size_t kMaxPathLength = 8192;
    // Largest response body read from a body stream.
    static constexpr std::uint32_t kMaxBodyBytes = 64u * 1024u * 1024u;

    // `declaration` may be null (a plug-in that declares nothing).
    explicit DeclaredFunctions(const ApiDeclaration* declaration);

    // Finds the function whose route fits the call's path and method and calls its entry point.
    // A path that no route fits answers 404, a method that none of the fitting routes accepts
    // 405. The function's result is answered as JSON; a failure as {"error": message} with the
    // status the plug-in gives (400 when it gives none).
    FunctionAnswer Call(const FunctionCall& call, uint32_t token, const Enter& enter) const;

    // [{"name", "path", "method"}] in declaration order; method "" accepts any.
    Json Describe() const;

private:
    struct Route {
        const ApiFunctionEntry* entry = nullptr;
        std::string name;
        std::string path;
        uint32_t method = 0;
        std::string methodText;
        int32_t returnKind = 0;
        bool isTemplate = false;
        std::optional<std::regex> expression; // templates only; empty when unusable
    };

    std::vector<Route> routes_;
};

// HttpMethod code of a method name: DELETE 1, GET 2, HEAD 3, OPTIONS 4, PATCH 5, POST 6, PUT 7,
// anything else 8 (a custom method whose name travels as text).
uint32_t MethodCode(const std::string& name);

// The regular expression of a route template: literal text escaped, "{name}" matches up to the
// next "/", "{+name}" matches anything, "{#name}" matches "#" and anything after it.
std::string RouteExpression(const std::string& pattern);

} // namespace Korvel::VelHost
