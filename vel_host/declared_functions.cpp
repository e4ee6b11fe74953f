#include "vel_host/declared_functions.h"

#include "plugin/function_request_records.h"
#include "vel_host/plugin_host.h"

#include <cstring>
#include <limits>

namespace Korvel::VelHost {

namespace {

// Kinds whose result may be a text on success: "string", "object" and "enum" (an enumerator's
// name). For every other kind a text in the response value is the failure message.
bool TextIsResult(int32_t kind) {
    return kind == 12 || kind == 13 || kind == 16;
}

std::string TextOrEmpty(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

const char* ContentTypeOf(uint32_t contentKind) {
    switch (contentKind) {
    case 1:
        return "application/json";
    case 2:
        return "application/x-yaml";
    case 3:
        return "application/x-msgpack";
    default:
        return "application/octet-stream";
    }
}

const char* const kMethodNames[] = {"DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"};

// Name of a declared method: "" for 0 (any method), the method text for 8.
std::string MethodNameOf(uint32_t code, const std::string& text) {
    if (code >= 1 && code <= 7) {
        return kMethodNames[code - 1];
    }
    return code == 8 ? text : std::string();
}

FunctionAnswer Failure(int status, const std::string& message) {
    FunctionAnswer answer;
    answer.status = status;
    answer.body = DumpPretty(Json{{"error", message}});
    return answer;
}

} // namespace

uint32_t MethodCode(const std::string& name) {
    for (uint32_t i = 0; i < 7; ++i) {
        if (name == kMethodNames[i]) {
            return i + 1;
        }
    }
    return 8;
}

std::string RouteExpression(const std::string& pattern) {
    static const std::string kSpecial = "^$.*+?()[]|\\{}";
    std::string expression;
    bool inside = false;
    bool first = false;
    char op = 0;
    for (char c : pattern) {
        if (!inside) {
            if (c == '{') {
                inside = true;
                first = true;
                op = 0;
                continue;
            }
            if (kSpecial.find(c) != std::string::npos) {
                expression += '\\';
            }
            expression += c;
            continue;
        }
        if (c == '}') {
            expression += op == '+' ? "(.*)" : op == '#' ? "#(.*)" : "([^/]*)";
            inside = false;
            continue;
        }
        if (first && (c == '+' || c == '#')) {
            op = c;
        }
        first = false;
    }
    return expression;
}

DeclaredFunctions::DeclaredFunctions(const ApiDeclaration* declaration) {
    if (declaration == nullptr || declaration->functions == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < declaration->functionCount; ++i) {
        const ApiFunctionEntry& entry = declaration->functions[i];
        Route route;
        route.entry = &entry;
        route.name = TextOrEmpty(entry.name);
        route.path = TextOrEmpty(entry.path);
        route.method = entry.method;
        route.methodText = TextOrEmpty(entry.methodText);
        route.returnKind = entry.returnKind;
        route.isTemplate = route.path.find('{') != std::string::npos;
        if (route.isTemplate) {
            try {
                route.expression.emplace(RouteExpression(route.path));
            } catch (const std::regex_error&) {
                // A route the expression engine refuses cannot be reached.
            }
        }
        routes_.push_back(std::move(route));
    }
}

Json DeclaredFunctions::Describe() const {
    Json functions = Json::array();
    for (const Route& route : routes_) {
        functions.push_back({{"name", route.name},
                             {"path", route.path},
                             {"method", MethodNameOf(route.method, route.methodText)}});
    }
    return functions;
}

FunctionAnswer DeclaredFunctions::Call(const FunctionCall& call, uint32_t token,
                                       const Enter& enter) const {
    const std::string path = call.target.substr(0, call.target.find('?'));
    if (path.size() > kMaxPathLength) {
        return Failure(414, "The request path is longer than " + std::to_string(kMaxPathLength) +
                                " bytes");
    }
    // HEAD is GET without the body; the HTTP server drops the body.
    const std::string method = call.method == "HEAD" ? "GET" : call.method;
    const uint32_t code = MethodCode(method);

    const Route* chosen = nullptr;
    std::size_t chosenCaptured = std::numeric_limits<std::size_t>::max();
    std::vector<std::string> allowed;
    for (const Route& route : routes_) {
        if (route.path.empty()) {
            continue;
        }
        std::size_t captured = 0;
        if (route.isTemplate) {
            std::smatch match;
            if (!route.expression || !std::regex_match(path, match, *route.expression)) {
                continue;
            }
            for (std::size_t group = 1; group < match.size(); ++group) {
                captured += static_cast<std::size_t>(match.length(static_cast<int>(group)));
            }
        } else if (route.path != path) {
            continue;
        }
        const bool methodFits = route.method == 0 ||
                                (route.method == code && (code != 8 || route.methodText == method));
        if (!methodFits) {
            allowed.push_back(MethodNameOf(route.method, route.methodText));
            continue;
        }
        if (captured < chosenCaptured) {
            chosen = &route;
            chosenCaptured = captured;
            if (!route.isTemplate) {
                break;
            }
        }
    }
    if (chosen == nullptr) {
        if (!allowed.empty()) {
            FunctionAnswer answer =
                Failure(405, "Method " + call.method + " not allowed for " + path);
            std::string list;
            for (const std::string& name : allowed) {
                list += (list.empty() ? "" : ", ") + name;
            }
            answer.headers.emplace_back("Allow", list);
            return answer;
        }
        return Failure(404, "No function of the plug-in is declared for " + path);
    }

    // The request record and everything it points to live until the entry point returns.
    std::vector<HostHeaderEntry> headers;
    std::string contentType;
    bool haveContentType = false;
    for (const auto& [name, value] : call.headers) {
        headers.push_back(HostHeaderEntry{name.c_str(), value.c_str()});
        if (!haveContentType && Lower(name) == "content-type") {
            contentType = value;
            haveContentType = true;
        }
    }
    HostFunctionRequest request;
    std::memset(&request, 0, sizeof(request));
    request.method = code;
    request.methodText = code == 8 ? method.c_str() : nullptr;
    request.path = call.target.c_str();
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
    request.arguments = nullptr;
    request.argumentCount = 0;
    request.contentType = haveContentType ? contentType.c_str() : nullptr;
    request.body = call.body.empty() ? nullptr : reinterpret_cast<const uint8_t*>(call.body.data());
    request.bodyLength = static_cast<uint32_t>(call.body.size());
    request.token = token;
    request.userData = chosen->entry->userData;

    HostFunctionResponse response;
    std::memset(&response, 0, sizeof(response));
    const HostFunctionEntryPoint entryPoint = chosen->entry->entryPoint;
    if (entryPoint == nullptr) {
        return Failure(501, "The function " + chosen->name + " declares no entry point");
    }

    FunctionAnswer answer;
    bool bodyFailed = false;
    bool typedByHeader = false;
    enter([&] {
        entryPoint(&response, &request);
        // Everything the plug-in put into the record is read here, inside the entry, and then
        // handed back through the release functions.
        const HostValue value = response.value;
        const Json result = ReadHostValue(value);
        const int32_t status = response.status;
        const uint32_t contentKind = response.contentKind;
        const HostHeaderEntry* responseHeaders = response.headers;
        const uint32_t headerCount = response.headerCount;
        void* stream = response.bodyStream;
        const uint32_t bodySize = response.bodySize;
        const HostBodyReadFunction read = response.read;
        const HostBodyReleaseFunction releaseStream = response.releaseStream;
        const HostFunctionResponseRelease release = response.release;

        const bool isText = value.kind == static_cast<uint32_t>(HostValueKind::BorrowedText) ||
                            value.kind == static_cast<uint32_t>(HostValueKind::OwnedText);
        const bool failed = (status >= 400) || (isText && !TextIsResult(chosen->returnKind));
        if (failed) {
            answer.status = status >= 400 && status <= 599 ? status : 400;
            answer.body = DumpPretty(Json{{"error", result.is_string() ? result : Json("")}});
        } else {
            answer.status = status >= 200 && status <= 399 ? status : 200;
            if (responseHeaders != nullptr) {
                for (uint32_t i = 0; i < headerCount; ++i) {
                    const std::string name = TextOrEmpty(responseHeaders[i].name);
                    const std::string lower = Lower(name);
                    if (name.empty() || lower == "content-length" || lower == "transfer-encoding" ||
                        lower == "connection") {
                        continue;
                    }
                    if (lower == "content-type") {
                        answer.contentType = TextOrEmpty(responseHeaders[i].value);
                        typedByHeader = true;
                        continue;
                    }
                    answer.headers.emplace_back(name, TextOrEmpty(responseHeaders[i].value));
                }
            }
            if (stream != nullptr && read != nullptr) {
                if (bodySize > kMaxBodyBytes) {
                    bodyFailed = true;
                } else {
                    std::string body(bodySize, '\0');
                    uint32_t position = 0;
                    while (position < bodySize) {
                        uint32_t length = bodySize - position;
                        if (!read(stream, position, body.data() + position, &length) ||
                            length == 0) {
                            break;
                        }
                        position += length;
                    }
                    bodyFailed = position != bodySize;
                    body.resize(position);
                    answer.body = std::move(body);
                    if (!typedByHeader) {
                        answer.contentType = ContentTypeOf(contentKind);
                    }
                }
            } else {
                answer.body = DumpPretty(result);
            }
        }
        if (stream != nullptr && releaseStream != nullptr) {
            releaseStream(stream);
        }
        if (release != nullptr) {
            release(&response);
        }
    });
    if (bodyFailed) {
        return Failure(502, "The body of " + chosen->name + "'s response could not be read");
    }
    return answer;
}

} // namespace Korvel::VelHost
