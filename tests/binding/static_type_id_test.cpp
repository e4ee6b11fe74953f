#include "binding/static_type_id.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_property.h"

namespace Korvel::Testing {
struct Sample {};
enum class Colour : int { Red };
} // namespace Korvel::Testing

KORVEL_STATIC_TYPE(struct, Korvel::Testing::Sample)
KORVEL_STATIC_TYPE(enum, Korvel::Testing::Colour)

namespace {

using namespace Korvel;

TEST(BindingHash, FnvReferenceValues) {
    EXPECT_EQ(BindingHash(""), 2166136261u);
    EXPECT_EQ(BindingHash("a"), 0xe40c292cu);
    EXPECT_EQ(BindingHash("foobar"), 0xbf9cf968u);
    EXPECT_EQ(BindingHashBytes("foobar"), BindingHash("foobar"));
    EXPECT_EQ(BindingHash(nullptr), kBindingHashBasis);
    // The basis is a parameter: hashing in two steps equals hashing at once.
    EXPECT_EQ(BindingHash("bar", BindingHash("foo")), BindingHash("foobar"));
}

TEST(BindingHash, BytesAbove127AreUnsigned) {
    const char text[] = {static_cast<char>(0xFF), '\0'};
    const std::uint32_t expected = (2166136261u ^ 0xFFu) * 16777619u;
    EXPECT_EQ(BindingHash(text), expected);
    EXPECT_EQ(BindingHashBytes(std::string_view(text, 1)), expected);
}

TEST(StaticTypeId, FixedSignatureHashes) {
    EXPECT_EQ(StaticType::HashCodeSignature<int>(),
              "unsigned int __cdecl StaticType::HashCode<int>(void)");
    EXPECT_EQ(BindingHash("unsigned int __cdecl StaticType::HashCode<int>(void)"), 0x1C4DE261u);
    EXPECT_EQ(StaticType::HashCode<int>(), 0x1C4DE261u);
    EXPECT_EQ(StaticType::HashCode<bool>(), 0x6AB1187Cu);
    EXPECT_EQ(StaticType::HashCode<void>(), 0x1BE7EF8Eu);
    EXPECT_STREQ(StaticType::Identity<int>().name, "#1C4DE261");
    EXPECT_STREQ(StaticType::Identity<bool>().name, "#6AB1187C");
}

TEST(StaticTypeId, SpellingsAreTheCanonicalOnes) {
    EXPECT_EQ(StaticType::HashCodeSignature<std::vector<BindingProperty>>(),
              "unsigned int __cdecl StaticType::HashCode<class std::vector<class "
              "Korvel::BindingProperty,class std::allocator<class Korvel::BindingProperty> > "
              ">(void)");
    EXPECT_EQ(StaticType::HashCodeSignature<Testing::Sample&>(),
              "unsigned int __cdecl StaticType::HashCode<structKorvel::Testing::Sample&>(void)");
    EXPECT_STREQ(StaticType::Name<Testing::Sample>(),
                 "const char *__cdecl StaticType::Name<struct Korvel::Testing::Sample>(void)");
    EXPECT_EQ(StaticType::HashCodeSignature<Testing::Colour>(),
              "unsigned int __cdecl StaticType::HashCode<enum Korvel::Testing::Colour>(void)");
    // 64-bit integers have one spelling whatever the build's underlying type.
    EXPECT_EQ(StaticType::HashCodeSignature<std::int64_t>(),
              "unsigned int __cdecl StaticType::HashCode<__int64>(void)");
    EXPECT_EQ(StaticType::HashCodeSignature<std::uint64_t>(),
              "unsigned int __cdecl StaticType::HashCode<unsigned __int64>(void)");
    EXPECT_NE(StaticType::HashCode<long long>(), StaticType::HashCode<long>());
}

TEST(StaticTypeId, ReferenceIsATypeOfItsOwn) {
    EXPECT_NE(StaticType::HashCode<Testing::Sample>(), StaticType::HashCode<Testing::Sample&>());
    EXPECT_NE(StaticType::HashCode<int>(), StaticType::HashCode<int&>());
    EXPECT_NE(&StaticType::Identity<Testing::Sample>(), &StaticType::Identity<Testing::Sample&>());
}

TEST(StaticTypeId, IdentityIsOneRecordWithAStableName) {
    const StaticTypeId& first = StaticType::Identity<Testing::Sample>();
    const StaticTypeId& second = StaticType::Identity<Testing::Sample>();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(first.name, second.name);
    EXPECT_EQ(first.name, first.text);
    EXPECT_EQ(first.hash, StaticType::HashCode<Testing::Sample>());
    char expected[16];
    std::snprintf(expected, sizeof expected, "#%08X", first.hash);
    EXPECT_STREQ(first.name, expected);
    EXPECT_EQ(first.text[9], '\0');
}

TEST(StaticTypeId, SignatureFormSharesTheHash) {
    const StaticTypeId& hashed = StaticType::Identity<Testing::Sample>();
    const StaticTypeId& named = StaticType::NamedIdentity<Testing::Sample>();
    EXPECT_NE(&hashed, &named);
    EXPECT_EQ(named.hash, hashed.hash);
    EXPECT_STREQ(named.name, StaticType::Name<Testing::Sample>());
    for (char c : named.text) {
        EXPECT_EQ(c, '\0');
    }
    EXPECT_STREQ(StaticType::NamedIdentity<Testing::Sample&>().name,
                 "const char *__cdecl StaticType::Name<structKorvel::Testing::Sample&>(void)");
}

} // namespace
