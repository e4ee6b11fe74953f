#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Korvel {

// How a placeholder of a route template captures text: `Simple` ("{name}") stops at "/",
// `Reserved` ("{+name}") takes everything, `Fragment` ("{#name}") takes everything after a "#".
enum class PlaceholderOperator : std::uint8_t {
    Simple,
    Reserved,
    Fragment,
};

struct RoutePlaceholder {
    PlaceholderOperator op = PlaceholderOperator::Simple;
    std::string name;

    bool operator==(const RoutePlaceholder&) const = default;
};

// Longest route template that is translated; a longer one is refused. It bounds the number of
// placeholders, and with it the matcher's work per byte of a request path.
inline constexpr std::size_t kMaxRouteTemplateLength = 1024;

// A route template translated into the ECMAScript regular expression it stands for, and into the
// pieces that MatchRouteTemplate (template_matcher.h) matches paths with, exactly as that
// expression would.
struct RouteTemplate {
    // The expression text: literal parts escaped, "([^/]*)" for simple placeholders, "(.*)" for
    // reserved ones and "#(.*)" for fragments. Capture group i belongs to placeholders[i - 1].
    std::string expression;
    std::vector<RoutePlaceholder> placeholders;
    // The literal text around the placeholders, unescaped: one piece before each placeholder and
    // one after the last (a fragment's "#" belongs to the piece before it).
    std::vector<std::string> literals;
    // Why the pattern was refused; empty when the translation is usable.
    std::string error;

    bool Ok() const { return error.empty(); }
};

// True when the pattern is a template, i.e. it holds a placeholder opening "{".
bool IsRouteTemplate(std::string_view pattern);

// Translates a route template. Malformed patterns are refused with a message in `error`: a "}"
// outside a placeholder, a "{" inside one, or a template longer than `kMaxRouteTemplateLength`.
// A placeholder that is still open at the end of the pattern adds nothing ("/a/{x" is "/a/").
RouteTemplate TranslateRouteTemplate(std::string_view pattern);

// Checks a route pattern (a literal path or a template) for the faults above. Returns the empty
// text when the pattern is usable, else the message.
std::string CheckRoutePattern(std::string_view pattern);

} // namespace Korvel
