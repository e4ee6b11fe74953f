#pragma once

// Matching a request path against a translated route template.
//
// A template's expression is a run of literal pieces and capture groups: "([^/]*)" takes any
// bytes but "/", "(.*)" any bytes but a line feed or a carriage return (the ECMAScript "."); a
// fragment's "#" belongs to the piece before its group. A backtracking regular-expression
// matcher tries every split of the path between neighbouring groups, which takes time
// exponential in the number of groups on a path that almost matches. This matcher gives the same
// answer and the same captures (each group as long as the rest allows, the leftmost group first)
// in time proportional to the path length times the number of groups, and without recursion.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "remoting/route_template.h"

namespace Korvel {

// Most cells the matcher's table may hold: one byte per placeholder and path position (path length
// plus one). A path that would need more matches the template not at all; this bounds the memory
// and time one request can make the matcher use (4 MiB; a template with one placeholder takes
// paths of up to four million bytes, one with eight of up to half a million).
inline constexpr std::size_t kMaxTemplateMatchCells = std::size_t{1} << 22;

// Whether the whole `path` matches the template given by its literal pieces (one more than the
// placeholders) and its placeholders. On a match `captures` holds, for each placeholder in order,
// the text of the path its group took; otherwise it is left empty. A path too long for the table
// (see `kMaxTemplateMatchCells`) does not match.
bool MatchRouteTemplate(std::span<const std::string> literals,
                        std::span<const RoutePlaceholder> placeholders, std::string_view path,
                        std::vector<std::string_view>& captures);

} // namespace Korvel
