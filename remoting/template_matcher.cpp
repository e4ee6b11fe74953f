#include "remoting/template_matcher.h"

#include <cstdint>

namespace Korvel {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Whether a placeholder's group may take the byte `c`.
bool Takes(PlaceholderOperator op, char c) {
    if (op == PlaceholderOperator::Simple) {
        return c != '/';
    }
    return c != '\n' && c != '\r';
}

bool PieceAt(std::string_view path, std::size_t at, const std::string& piece) {
    return at + piece.size() <= path.size() && path.compare(at, piece.size(), piece) == 0;
}

} // namespace

bool MatchRouteTemplate(std::span<const std::string> literals,
                        std::span<const RoutePlaceholder> placeholders, std::string_view path,
                        std::vector<std::string_view>& captures) {
    captures.clear();
    const std::size_t groups = placeholders.size();
    if (literals.size() != groups + 1 || !PieceAt(path, 0, literals[0])) {
        return false;
    }
    const std::size_t n = path.size();
    if (groups != 0 && n >= kMaxTemplateMatchCells / groups) {
        return false;
    }

    // Backwards, group by group: ends[g * (n + 1) + j] tells whether group g may end at j (the
    // piece after it stands at j and everything after that piece matches the rest of the
    // template); fits[i] whether the template from the current group on matches path[i..n).
    std::vector<std::uint8_t> ends(groups * (n + 1));
    std::vector<std::uint8_t> fits(n + 1, 0);
    fits[n] = 1; // after the last piece only the end of the path is left
    for (std::size_t g = groups; g-- > 0;) {
        const std::string& piece = literals[g + 1];
        std::uint8_t* end = ends.data() + g * (n + 1);
        for (std::size_t j = 0; j <= n; ++j) {
            end[j] = PieceAt(path, j, piece) && fits[j + piece.size()] ? 1 : 0;
        }
        // The group starting at i can reach an end when one lies at i, or when it may take the
        // byte at i and can reach an end from i + 1.
        const PlaceholderOperator op = placeholders[g].op;
        bool reachable = false;
        for (std::size_t i = n + 1; i-- > 0;) {
            reachable = end[i] != 0 || (i < n && reachable && Takes(op, path[i]));
            fits[i] = reachable ? 1 : 0;
        }
    }
    std::size_t at = literals[0].size();
    if (fits[at] == 0) {
        return false;
    }

    // Forwards: each group takes the longest run it may that ends where the rest still matches.
    captures.reserve(groups);
    for (std::size_t g = 0; g < groups; ++g) {
        const std::uint8_t* end = ends.data() + g * (n + 1);
        const PlaceholderOperator op = placeholders[g].op;
        std::size_t longest = kNone;
        for (std::size_t j = at;; ++j) {
            if (end[j] != 0) {
                longest = j;
            }
            if (j == n || !Takes(op, path[j])) {
                break;
            }
        }
        captures.push_back(path.substr(at, longest - at));
        at = longest + literals[g + 1].size();
    }
    return true;
}

} // namespace Korvel
