#pragma once

#include <string>
#include <string_view>

namespace Korvel {

// Name of the host event that announces changes of the resource at a path:
// "OnJsonApiEvent" joined by "_" with the first three non-empty segments of
// the path, or the first five under "vel-platform-config".
// "/vel-login/v1/login-data-packet" gives
// "OnJsonApiEvent_vel-login_v1_login-data-packet".
std::string ResourceEventName(std::string_view path);

// Name of the host event that carries LCDS messages of a class:
// "OnLcdsEvent_" and the class name with every "." replaced by "_".
std::string LcdsEventName(std::string_view className);

// Matches a resource path against a pattern, left to right without
// backtracking. A character other than "*" must equal the next path
// character; a "*" consumes the following path characters up to, not
// including, the next "/" or the end, and must consume at least one. The
// match succeeds when pattern and path end together: "/a/*/c" matches "/a/b/c"
// but not "/a//c"; "/a/*" matches "/a/b" but neither "/a/" nor "/a/b/c".
bool MatchesWildcard(std::string_view pattern, std::string_view path);

} // namespace Korvel
