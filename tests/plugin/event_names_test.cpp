#include "plugin/event_names.h"

#include <gtest/gtest.h>

namespace Korvel {
namespace {

TEST(ResourceEventName, JoinsTheFirstThreeSegments) {
    EXPECT_EQ(ResourceEventName("/vel-login/v1/login-data-packet"),
              "OnJsonApiEvent_vel-login_v1_login-data-packet");
    EXPECT_EQ(ResourceEventName("/vel-service-status/v1/ticker-messages"),
              "OnJsonApiEvent_vel-service-status_v1_ticker-messages");
    // Deeper paths keep three segments; empty segments do not count.
    EXPECT_EQ(ResourceEventName("/a/b/c/d/e"), "OnJsonApiEvent_a_b_c");
    EXPECT_EQ(ResourceEventName("//a///b/c/"), "OnJsonApiEvent_a_b_c");
    EXPECT_EQ(ResourceEventName("a/b/c"), "OnJsonApiEvent_a_b_c");
    // Fewer segments give what there is.
    EXPECT_EQ(ResourceEventName("/a/b"), "OnJsonApiEvent_a_b");
    EXPECT_EQ(ResourceEventName("/"), "OnJsonApiEvent");
    EXPECT_EQ(ResourceEventName(""), "OnJsonApiEvent");
}

TEST(ResourceEventName, PlatformConfigKeepsFiveSegments) {
    EXPECT_EQ(ResourceEventName("/vel-platform-config/v1/namespaces/a/b/c"),
              "OnJsonApiEvent_vel-platform-config_v1_namespaces_a_b");
    EXPECT_EQ(ResourceEventName("/vel-platform-config/v1"),
              "OnJsonApiEvent_vel-platform-config_v1");
    // Only as the first segment.
    EXPECT_EQ(ResourceEventName("/x/vel-platform-config/a/b/c"),
              "OnJsonApiEvent_x_vel-platform-config_a");
}

TEST(LcdsEventName, ReplacesEveryDot) {
    EXPECT_EQ(LcdsEventName("com.vel.broadcast.BroadcastNotification"),
              "OnLcdsEvent_com_vel_broadcast_BroadcastNotification");
    EXPECT_EQ(LcdsEventName("..x"), "OnLcdsEvent___x");
    EXPECT_EQ(LcdsEventName(""), "OnLcdsEvent_");
}

TEST(MatchesWildcard, StarMatchesOneNonEmptySegmentPart) {
    EXPECT_TRUE(MatchesWildcard("/a/*/c", "/a/b/c"));
    EXPECT_TRUE(MatchesWildcard("/a/*/c", "/a/bbb/c"));
    EXPECT_FALSE(MatchesWildcard("/a/*/c", "/a//c"));
    EXPECT_FALSE(MatchesWildcard("/a/*/c", "/a/b/d"));
    EXPECT_TRUE(MatchesWildcard("/a/*", "/a/b"));
    EXPECT_FALSE(MatchesWildcard("/a/*", "/a/"));
    EXPECT_FALSE(MatchesWildcard("/a/*", "/a/b/c"));
    EXPECT_TRUE(MatchesWildcard("/*/*", "/x/y"));
    EXPECT_TRUE(MatchesWildcard("*", "abc"));
    EXPECT_FALSE(MatchesWildcard("*", ""));
}

TEST(MatchesWildcard, LiteralsMustMatchExactlyAndEndTogether) {
    EXPECT_TRUE(MatchesWildcard("/a/b", "/a/b"));
    EXPECT_TRUE(MatchesWildcard("", ""));
    EXPECT_FALSE(MatchesWildcard("/a/b", "/a/bc"));
    EXPECT_FALSE(MatchesWildcard("/a/bc", "/a/b"));
    EXPECT_FALSE(MatchesWildcard("/A/b", "/a/b"));
}

TEST(MatchesWildcard, StarNeverGivesBackCharacters) {
    // No backtracking: the star takes everything up to the next "/", so a
    // literal after it inside the same segment can never match.
    EXPECT_FALSE(MatchesWildcard("/a/*x", "/a/bx"));
    EXPECT_FALSE(MatchesWildcard("/a/**", "/a/bc"));
    // A literal before the star narrows the segment's start.
    EXPECT_TRUE(MatchesWildcard("/a/x*", "/a/xyz"));
    EXPECT_FALSE(MatchesWildcard("/a/x*", "/a/x"));
}

} // namespace
} // namespace Korvel
