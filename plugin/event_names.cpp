#include "plugin/event_names.h"

#include <cstddef>

namespace Korvel {

std::string ResourceEventName(std::string_view path) {
    std::string name = "OnJsonApiEvent";
    size_t limit = 3;
    size_t taken = 0;
    size_t position = 0;
    while (position < path.size() && taken < limit) {
        size_t end = path.find('/', position);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > position) {
            std::string_view segment = path.substr(position, end - position);
            if (taken == 0 && segment == "vel-platform-config") {
                limit = 5;
            }
            name += '_';
            name += segment;
            ++taken;
        }
        position = end + 1;
    }
    return name;
}

std::string LcdsEventName(std::string_view className) {
    std::string name = "OnLcdsEvent_";
    name.reserve(name.size() + className.size());
    for (char c : className) {
        name += c == '.' ? '_' : c;
    }
    return name;
}

bool MatchesWildcard(std::string_view pattern, std::string_view path) {
    size_t at = 0;
    for (char p : pattern) {
        if (p == '*') {
            size_t start = at;
            while (at < path.size() && path[at] != '/') {
                ++at;
            }
            if (at == start) {
                return false;
            }
        } else {
            if (at >= path.size() || path[at] != p) {
                return false;
            }
            ++at;
        }
    }
    return at == path.size();
}

} // namespace Korvel
