#include "remoting/route_template.h"

#include "diagnostics/format_message.h"

namespace Korvel {

namespace {

constexpr std::string_view kRegexMetacharacters = "^$.*+?()[]|\\";

constexpr const char* kStrayClose = "Route '%1' has a '}' outside a placeholder at offset %2.";
constexpr const char* kNestedOpen = "Route '%1' has a '{' inside a placeholder at offset %2.";
constexpr const char* kTooLong = "Route template '%1...' is longer than %2 characters.";

} // namespace

bool IsRouteTemplate(std::string_view pattern) {
    return pattern.find('{') != std::string_view::npos;
}

RouteTemplate TranslateRouteTemplate(std::string_view pattern) {
    RouteTemplate result;
    if (pattern.size() > kMaxRouteTemplateLength) {
        result.error = FormatMessage(kTooLong, pattern.substr(0, 64), kMaxRouteTemplateLength);
        return result;
    }

    bool inside = false;
    bool atFirstCharacter = false;
    PlaceholderOperator op = PlaceholderOperator::Simple;
    std::string name;
    // Unescaped literal text since the start or the last placeholder.
    std::string literal;

    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (!inside) {
            if (c == '{') {
                inside = true;
                atFirstCharacter = true;
                op = PlaceholderOperator::Simple;
                name.clear();
            } else if (c == '}') {
                result.error = FormatMessage(kStrayClose, pattern, i);
                return result;
            } else {
                if (kRegexMetacharacters.find(c) != std::string_view::npos) {
                    result.expression += '\\';
                }
                result.expression += c;
                literal += c;
            }
            continue;
        }

        if (c == '}') {
            switch (op) {
            case PlaceholderOperator::Simple:
                result.expression += "([^/]*)";
                break;
            case PlaceholderOperator::Reserved:
                result.expression += "(.*)";
                break;
            case PlaceholderOperator::Fragment:
                result.expression += "#(.*)";
                break;
            }
            if (op == PlaceholderOperator::Fragment) {
                literal += '#';
            }
            result.literals.push_back(std::move(literal));
            literal.clear();
            result.placeholders.push_back({op, name});
            inside = false;
        } else if (c == '{') {
            result.error = FormatMessage(kNestedOpen, pattern, i);
            return result;
        } else if (atFirstCharacter && c == '+') {
            op = PlaceholderOperator::Reserved;
        } else if (atFirstCharacter && c == '#') {
            op = PlaceholderOperator::Fragment;
        } else {
            name += c;
        }
        atFirstCharacter = false;
    }

    // A placeholder still open at the end of the pattern adds nothing: neither a group nor an
    // entry in the placeholder list.
    result.literals.push_back(std::move(literal));
    return result;
}

std::string CheckRoutePattern(std::string_view pattern) {
    if (IsRouteTemplate(pattern)) {
        return TranslateRouteTemplate(pattern).error;
    }
    const std::size_t stray = pattern.find('}');
    if (stray != std::string_view::npos) {
        return FormatMessage(kStrayClose, pattern, stray);
    }
    return {};
}

} // namespace Korvel
