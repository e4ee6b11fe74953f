#include "remoting/function_name.h"

namespace Korvel {

namespace {

// ASCII only: the result must not depend on the process locale.
char ToUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char ToLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsSeparator(char c) {
    return c == '!' || c == '+' || c == '-' || c == '.' || c == '/' || c == '_';
}

} // namespace

std::string FunctionNameFromPath(HttpMethod method, std::string_view path) {
    // Title-cased method, a "/", then the path. Built directly rather than through the message
    // formatter so that long paths are not cut at the formatter's size limit.
    const std::string_view methodName = HttpMethodName(method);
    std::string source;
    source.reserve(methodName.size() + 1 + path.size());
    if (!methodName.empty()) {
        source += methodName.front();
        for (char c : methodName.substr(1)) {
            source += ToLowerAscii(c);
        }
    }
    source += '/';
    source += path;

    std::string name;
    name.reserve(source.size() + 8);
    bool capitaliseNext = true;
    for (char c : source) {
        if (IsSeparator(c)) {
            capitaliseNext = true;
        } else if (c == '{') {
            name += "By";
            capitaliseNext = true;
        } else if (c == '}') {
            // dropped; the capitalisation state carries over
        } else {
            name += capitaliseNext ? ToUpperAscii(c) : c;
            capitaliseNext = false;
        }
    }
    return name;
}

} // namespace Korvel
