#include "binding/binding_name_cache.h"

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_property.h"
#include "binding/binding_value_pool.h"

namespace {

using namespace Korvel;

std::uint32_t References(const BindingProperty& root, std::string_view text) {
    const BindingInternedString* copy = root.Pool()->FindInterned(text);
    return copy != nullptr ? copy->references : 0;
}

// Names that share a set of the cache: same length, same first and last byte. More of them than
// a set has places, so they push each other out.
const std::vector<std::string> kCollidingNames = {"axxb", "ayyb", "azzb", "aqqb", "awwb"};

TEST(BindingNameCache, BuildsTheSameTreeAsMemberByText) {
    std::vector<std::string> names = {
        "id",      "created_at",   "updated_at",         "severity",           "heading",
        "content", "translations", std::string(64, 'n'), std::string(65, 'n'), ""};
    names.insert(names.end(), kCollidingNames.begin(), kCollidingNames.end());

    BindingProperty expected;
    BindingProperty cached;
    BindingNameCache cache;
    for (int record = 0; record < 40; ++record) {
        BindingProperty& plain = expected.Element(static_cast<std::size_t>(record));
        BindingProperty& viaCache = cached.Element(static_cast<std::size_t>(record));
        // A different order in every record, and every name twice (the second meets the member).
        for (std::size_t i = 0; i < 2 * names.size(); ++i) {
            const std::string& name =
                names[(i * 7 + static_cast<std::size_t>(record)) % names.size()];
            plain.Member(name).SetSigned(record * 100 + static_cast<int>(i));
            cache.Member(viaCache, std::string_view(name))
                .SetSigned(record * 100 + static_cast<int>(i));
        }
    }
    cache.Clear();
    EXPECT_TRUE(cached.Equals(expected));
    ASSERT_EQ(cached.Element(3).Size(), names.size());
    // Each member holds one reference to its name, and the cache no longer holds any.
    for (const std::string& name : names) {
        if (!name.empty()) {
            EXPECT_EQ(References(cached, name), 40u) << name;
        }
    }
    EXPECT_EQ(cached.Pool()->InternedCount(), expected.Pool()->InternedCount());
}

TEST(BindingNameCache, AValueMayBeNamedByItsOwnText) {
    // Making the owner a structure releases its text, which is the name.
    BindingNameCache cache;
    BindingProperty text;
    text = "abc";
    cache.Member(text, text.GetString()).SetSigned(1);
    BindingProperty list;
    list.Append() = "name";
    cache.Member(list, ZeroFreeText{std::as_const(list).Element(0).GetString()}).SetSigned(2);
    cache.Clear();
    EXPECT_EQ(std::as_const(text).Member("abc").GetSigned(), 1);
    EXPECT_EQ(References(text, "abc"), 1u);
    EXPECT_EQ(std::as_const(list).Member("name").GetSigned(), 2);
    EXPECT_EQ(References(list, "name"), 1u);
}

TEST(BindingNameCache, HoldsOneReferenceToEachNameItKeeps) {
    BindingProperty root;
    BindingNameCache cache;
    cache.Member(root.Element(0), std::string_view("id")).SetSigned(1);
    cache.Member(root.Element(1), std::string_view("id")).SetSigned(2);
    EXPECT_EQ(References(root, "id"), 3u);
    // A removed member gives its reference back; the cache's keeps the copy alive.
    EXPECT_TRUE(root.Element(0).RemoveMember("id"));
    EXPECT_TRUE(root.Element(1).RemoveMember("id"));
    EXPECT_EQ(References(root, "id"), 1u);
    cache.Clear();
    EXPECT_EQ(root.Pool()->FindInterned("id"), nullptr);
    EXPECT_EQ(root.Pool()->InternedCount(), 0u);
}

TEST(BindingNameCache, NamesEndAtTheirFirstZeroByte) {
    BindingProperty root;
    BindingNameCache cache;
    cache.Member(root, std::string_view("ab", 2)).SetSigned(1);
    // Equal up to the zero: the same member, though the cached "ab" is not this text.
    cache.Member(root, std::string_view("ab\0cd", 5)).SetSigned(2);
    cache.Member(root, std::string_view("ab\0", 3)).SetSigned(3);
    // A text with a zero is never kept: "ab" is still found as itself.
    cache.Member(root, std::string_view("x\0yyyb", 6)).SetSigned(4);
    cache.Member(root, std::string_view("x", 1)).SetSigned(5);
    cache.Clear();
    EXPECT_EQ(root.Size(), 2u);
    EXPECT_EQ(root.Member("ab").GetSigned(), 3);
    EXPECT_EQ(root.Member("x").GetSigned(), 5);
    EXPECT_EQ(References(root, "ab"), 1u);
    EXPECT_EQ(References(root, "x"), 1u);
}

TEST(BindingNameCache, MovingToAnotherTreeGivesTheFirstTreesNamesBack) {
    BindingNameCache cache;
    BindingProperty second;
    {
        BindingProperty first;
        cache.Member(first, std::string_view("name")).SetSigned(1);
        EXPECT_EQ(References(first, "name"), 2u);
        cache.Member(second, std::string_view("name")).SetSigned(2);
        // The first tree's copy is back to its member's reference alone.
        EXPECT_EQ(References(first, "name"), 1u);
        EXPECT_EQ(References(second, "name"), 2u);
    } // the first tree goes while the cache still serves the second
    cache.Member(second, ZeroFreeText{"other"}).SetSigned(3);
    EXPECT_EQ(References(second, "other"), 2u);
    cache.Clear();
    EXPECT_EQ(References(second, "name"), 1u);
    EXPECT_EQ(References(second, "other"), 1u);
    EXPECT_EQ(second.Member("name").GetSigned(), 2);
}

TEST(BindingNameCache, MembersOfALargeStructureByInternedName) {
    // Beyond the small form a structure keeps its members in an ordered map.
    BindingProperty root;
    BindingNameCache cache;
    for (int i = 0; i < 200; ++i) {
        cache.Member(root, std::string_view("member" + std::to_string(i))).SetSigned(i);
    }
    for (int i = 0; i < 200; i += 3) {
        cache.Member(root, std::string_view("member" + std::to_string(i))).SetSigned(-i);
    }
    cache.Clear();
    ASSERT_EQ(root.Size(), 200u);
    EXPECT_EQ(root.Member("member99").GetSigned(), -99);
    EXPECT_EQ(root.Member("member100").GetSigned(), 100);
    EXPECT_EQ(References(root, "member150"), 1u);
    std::string previous;
    for (const auto& member : root.Members()) {
        EXPECT_LT(previous, std::string(member.name));
        previous = std::string(member.name);
    }
}

} // namespace
