#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "remoting/route_template.h"
#include "remoting/template_matcher.h"

namespace Korvel {
namespace {

// Every path of up to `length` bytes over `alphabet`.
std::vector<std::string> PathsUpTo(std::string_view alphabet, std::size_t length) {
    std::vector<std::string> paths{""};
    for (std::size_t start = 0, size = 1; size <= length; ++size) {
        const std::size_t end = paths.size();
        for (std::size_t i = start; i < end; ++i) {
            for (const char c : alphabet) {
                paths.push_back(paths[i] + c);
            }
        }
        start = end;
    }
    return paths;
}

// The matcher answers exactly as the template's ECMAScript expression does, captures included,
// on every short path over the bytes that matter to the groups: "/" (refused by simple
// placeholders), line feed and carriage return (refused by "."), "#" and ordinary letters.
TEST(TemplateMatcher, AgreesWithTheTemplatesExpression) {
    const char* const patterns[] = {
        "{a}",       "/{a}",    "{a}/",     "{a}{b}",    "{+a}",     "{+a}{+b}",     "{+a}/{b}",
        "/{a}/{+b}", "{#f}",    "{a}{#f}",  "a{x}b{y}",  "{a}#{+b}", "/{a}{+b}{c}",  "{+a}a{b}",
        "{a}a{+b}a", "{#f}{a}", "{+a}/",    "a/{+x}/b",  "/a/{x",    "{a}{b}{c}{d}", "{+a}#{#b}",
        "{}/{+}",    "a{+x}",   "{x}aa{y}", "{+x}\n{y}",
    };
    const std::vector<std::string> paths = PathsUpTo("a/#\n\r", 5);
    std::size_t matched = 0;
    for (const char* pattern : patterns) {
        const RouteTemplate translated = TranslateRouteTemplate(pattern);
        ASSERT_TRUE(translated.Ok()) << pattern;
        const std::regex expression(translated.expression,
                                    std::regex::ECMAScript | std::regex::optimize);
        std::vector<std::string_view> captures;
        for (const std::string& path : paths) {
            std::smatch groups;
            const bool expected = std::regex_match(path, groups, expression);
            const bool actual =
                MatchRouteTemplate(translated.literals, translated.placeholders, path, captures);
            ASSERT_EQ(actual, expected) << "pattern " << pattern << " path '" << path << "'";
            if (!expected) {
                EXPECT_TRUE(captures.empty());
                continue;
            }
            ++matched;
            ASSERT_EQ(captures.size() + 1, groups.size()) << pattern;
            for (std::size_t i = 0; i < captures.size(); ++i) {
                EXPECT_EQ(captures[i], groups[i + 1].str())
                    << "pattern " << pattern << " path '" << path << "' group " << i + 1;
            }
        }
    }
    // Both answers occur often enough for the comparison to mean something.
    EXPECT_GT(matched, 2000u);
    EXPECT_LT(matched, paths.size() * std::size(patterns) / 2);
}

TEST(TemplateMatcher, RefusesPiecesThatDoNotFitThePlaceholders) {
    std::vector<std::string_view> captures;
    const std::vector<std::string> literals{"/a/", ""};
    const std::vector<RoutePlaceholder> one{{PlaceholderOperator::Simple, "x"}};
    // A piece list that does not belong to the placeholders matches nothing.
    EXPECT_FALSE(MatchRouteTemplate(literals, {}, "/a/", captures));
    EXPECT_TRUE(MatchRouteTemplate(literals, one, "/a/b", captures));
    ASSERT_EQ(captures.size(), 1u);
    EXPECT_EQ(captures[0], "b");
    EXPECT_FALSE(MatchRouteTemplate(literals, one, "/b/b", captures));
    EXPECT_TRUE(captures.empty());
}

} // namespace
} // namespace Korvel
