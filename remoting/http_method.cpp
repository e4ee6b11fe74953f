#include "remoting/http_method.h"

namespace Korvel {

std::string_view HttpMethodName(HttpMethod method) {
    switch (method) {
    case HttpMethod::Delete:
        return "DELETE";
    case HttpMethod::Get:
        return "GET";
    case HttpMethod::Head:
        return "HEAD";
    case HttpMethod::Options:
        return "OPTIONS";
    case HttpMethod::Patch:
        return "PATCH";
    case HttpMethod::Post:
        return "POST";
    case HttpMethod::Put:
        return "PUT";
    default:
        return {};
    }
}

HttpMethod HttpMethodFromHost(std::int32_t code) {
    if (code < static_cast<std::int32_t>(HttpMethod::Delete) ||
        code > static_cast<std::int32_t>(HttpMethod::Custom)) {
        return HttpMethod::None;
    }
    return static_cast<HttpMethod>(code);
}

} // namespace Korvel
