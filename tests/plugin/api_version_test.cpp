#include "plugin/api_version.h"
#include "plugin/plugin_name.h"

#include "diagnostics/log.h"
#include "support/captured_log.h"

#include <gtest/gtest.h>

namespace Korvel {
namespace {

ApiVersion Version(uint32_t major, uint32_t minor, uint32_t patch) {
    return ApiVersion{major, minor, patch, {}, {}};
}

TEST(ApiVersion, TextAddsPrereleaseAndBuildWhenPresent) {
    EXPECT_EQ((ApiVersion{18, 0, 0, "rc1", "7"}.ToString()), "18.0.0-rc1+7");
    EXPECT_EQ((ApiVersion{18, 0, 0, "rc1", ""}.ToString()), "18.0.0-rc1");
    EXPECT_EQ((ApiVersion{18, 0, 0, "", "7"}.ToString()), "18.0.0+7");
    EXPECT_EQ(Version(4294967295u, 0, 12).ToString(), "4294967295.0.12");
}

TEST(IsApiCompatible, SameMajorAndHostNotOlder) {
    const ApiVersion plugin = kPluginApiVersion;
    EXPECT_TRUE(IsApiCompatible(plugin, Version(18, 0, 0)));
    EXPECT_TRUE(IsApiCompatible(plugin, Version(18, 0, 5)));
    EXPECT_TRUE(IsApiCompatible(plugin, Version(18, 3, 0)));
    EXPECT_TRUE(IsApiCompatible(plugin, Version(18, 3, 7)));
    EXPECT_FALSE(IsApiCompatible(plugin, Version(17, 9, 9)));
    EXPECT_FALSE(IsApiCompatible(plugin, Version(19, 0, 0)));
}

TEST(IsApiCompatible, MinorAndPatchCompareAsAPair) {
    const ApiVersion plugin = Version(18, 2, 3);
    EXPECT_FALSE(IsApiCompatible(plugin, Version(18, 2, 2)));
    EXPECT_TRUE(IsApiCompatible(plugin, Version(18, 2, 3)));
    EXPECT_TRUE(IsApiCompatible(plugin, Version(18, 3, 0)));
    EXPECT_FALSE(IsApiCompatible(plugin, Version(18, 1, 9)));
    // Unsigned comparisons: the largest values are newer, not negative.
    EXPECT_TRUE(IsApiCompatible(plugin, Version(18, 4294967295u, 0)));
    EXPECT_FALSE(IsApiCompatible(plugin, Version(4294967295u, 2, 3)));
    // Texts take no part.
    EXPECT_TRUE(IsApiCompatible(plugin, ApiVersion{18, 2, 3, "alpha", "1"}));
}

TEST(PluginName, FullNamePrefixDependsOnTheExactType) {
    Testing::CapturedLog log;
    EXPECT_EQ(GetFullNameFromShortNameAndType("x", "backend"), "tep-be-x");
    EXPECT_EQ(GetFullNameFromShortNameAndType("x", "frontend"), "tep-fe-x");
    EXPECT_TRUE(log.Entries().empty());

    EXPECT_EQ(GetFullNameFromShortNameAndType("x", "Backend"), "tep-xx-x");
    ASSERT_EQ(log.Entries().size(), 1u);
    const Testing::CapturedLog::Entry& line = log.Entries()[0];
    EXPECT_EQ(line.level, static_cast<int32_t>(LogLevel::Error));
    EXPECT_EQ(line.categories, kLogCategoryDbg);
    EXPECT_EQ(line.message, "            Plugin Manager| GetFullNameFromShortNameAndType(\"x\", "
                            "\"Backend\") called with an unknown type");
}

TEST(PluginName, PercentSignsInNamesArePrintedAsGiven) {
    Testing::CapturedLog log;
    EXPECT_EQ(GetFullNameFromShortNameAndType("a%sb", "%d"), "tep-xx-a%sb");
    ASSERT_EQ(log.Entries().size(), 1u);
    EXPECT_NE(log.Entries()[0].message.find("(\"a%sb\", \"%d\")"), std::string::npos);
}

} // namespace
} // namespace Korvel
