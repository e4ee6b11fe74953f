#include "binding/binding_property.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_result.h"
#include "binding/binding_value_pool.h"
#include "binding/binding_visitor.h"
#include "support/refused_allocations.h"

namespace Korvel::Testing {
enum class Shade : int { Dark = 7 };
} // namespace Korvel::Testing

KORVEL_STATIC_TYPE(enum, Korvel::Testing::Shade)

namespace {

using namespace Korvel;

std::vector<std::string> MemberNames(const BindingProperty& value) {
    std::vector<std::string> names;
    for (const auto member : value.Members()) {
        names.emplace_back(member.name);
    }
    return names;
}

TEST(BindingKind, Names) {
    const char* expected[] = {"empty",  "bool", "signed", "unsigned",   "float",
                              "string", "blob", "enum",   "collection", "structure"};
    for (int code = 0; code < 10; ++code) {
        EXPECT_STREQ(KindName(static_cast<BindingKind>(code)), expected[code]);
    }
    EXPECT_STREQ(KindName(static_cast<BindingKind>(10)), "");
    EXPECT_STREQ(KindName(static_cast<BindingKind>(255)), "");
}

TEST(BindingProperty, ScalarSettersAndGetters) {
    BindingProperty value;
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_TRUE(value.OwnsPool());
    EXPECT_EQ(value.Pool(), nullptr);

    value = std::int32_t{-1};
    EXPECT_EQ(value.Kind(), BindingKind::Signed);
    EXPECT_EQ(value.GetSigned(), -1);
    value = std::uint32_t{0xFFFFFFFFu};
    EXPECT_EQ(value.Kind(), BindingKind::Unsigned);
    EXPECT_EQ(value.GetUnsigned(), 4294967295u);
    value = true;
    EXPECT_TRUE(value.GetBool());
    value = 1.5;
    EXPECT_EQ(value.GetFloat(), 1.5);
    // No conversion between kinds: a mismatch yields the default.
    value = std::int64_t{5};
    EXPECT_EQ(value.GetUnsigned(7), 7u);
    EXPECT_EQ(value.GetFloat(2.5), 2.5);
    EXPECT_FALSE(value.GetBool(false));
    EXPECT_EQ(value.GetString("dflt"), "dflt");
    // Scalars never need a pool.
    EXPECT_EQ(value.Pool(), nullptr);
}

TEST(BindingProperty, StringsAndBlobsAndEnums) {
    BindingProperty value;
    value = "";
    EXPECT_EQ(value.Kind(), BindingKind::String);
    EXPECT_EQ(value.Size(), 0u);
    EXPECT_EQ(value.InternedString(), &BindingInternedString::Empty());
    EXPECT_EQ(value.Pool(), nullptr); // the shared empty string belongs to no pool

    value.SetString(std::string_view("abc\0def", 7));
    EXPECT_EQ(value.GetString(), "abc");
    EXPECT_STREQ(value.GetCString(), "abc");
    // Setting a value from its own text.
    value.SetString(value.GetString());
    EXPECT_EQ(value.GetString(), "abc");
    EXPECT_EQ(value.Pool()->InternedCount(), 1u);

    value.SetBlob(std::vector<std::uint8_t>{'a', 'b', 'c'});
    EXPECT_EQ(value.Kind(), BindingKind::Blob);
    EXPECT_EQ(value.Size(), 3u);
    EXPECT_EQ(value.ToString(), "YWJj");
    EXPECT_EQ(value.Pool()->InternedCount(), 0u); // the old string was released
    BindingBytes bytes{1, 2};
    value.SetBlob(std::move(bytes));
    ASSERT_EQ(value.GetBlob().size(), 2u);
    EXPECT_EQ(value.GetBlob()[1], 2);

    value.SetEnum(7, StaticType::Identity<Testing::Shade>());
    EXPECT_EQ(value.Kind(), BindingKind::Enum);
    EXPECT_EQ(value.GetEnum().value, 7);
    EXPECT_EQ(value.GetEnum().type, &StaticType::Identity<Testing::Shade>());
    EXPECT_EQ(value.ToString(), "7");
    EXPECT_EQ(value.Size(), 1u);
}

TEST(BindingProperty, StringsEndAtTheirFirstZeroByteAtAnyPosition) {
    // Lengths on both sides of the four- and eight-byte steps and of the long-text path; bytes
    // around the zero that look like it to a careless word test (0x01, 0x80, 0xFF).
    for (const std::size_t length :
         {1u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 127u, 128u, 129u, 300u}) {
        for (std::size_t zero = 0; zero <= length; ++zero) {
            std::string text(length, '\x80');
            for (std::size_t i = 0; i < length; i += 3) {
                text[i] = i % 2 == 0 ? '\x01' : '\xFF';
            }
            if (zero < length) {
                text[zero] = '\0';
            }
            BindingProperty value;
            value.SetString(std::string_view(text));
            ASSERT_EQ(value.GetString(), std::string_view(text).substr(0, zero))
                << "length " << length << ", zero at " << zero;
            value.Member(std::string_view(text)) = 1;
            ASSERT_EQ(MemberNames(value), std::vector<std::string>{text.substr(0, zero)});
        }
    }
}

TEST(BindingProperty, SizeOfEachKind) {
    BindingProperty value;
    EXPECT_EQ(value.Size(), 0u);
    value = false;
    EXPECT_EQ(value.Size(), 1u);
    value = 0.0;
    EXPECT_EQ(value.Size(), 1u);
    value = "four";
    EXPECT_EQ(value.Size(), 4u);
    value.Element(2);
    EXPECT_EQ(value.Size(), 3u);
    value.Member("x");
    EXPECT_EQ(value.Size(), 1u);
}

TEST(BindingProperty, IsDefault) {
    BindingProperty value;
    EXPECT_TRUE(value.IsDefault());
    value = -0.0;
    EXPECT_TRUE(value.IsDefault());
    value = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(value.IsDefault());
    value = false;
    EXPECT_TRUE(value.IsDefault());
    value = std::uint64_t{0};
    EXPECT_TRUE(value.IsDefault());
    value = std::int64_t{-1};
    EXPECT_FALSE(value.IsDefault());
    value.SetEnum(0, StaticType::Identity<Testing::Shade>());
    EXPECT_TRUE(value.IsDefault());
    value = "";
    EXPECT_TRUE(value.IsDefault());
    value.MakeStructure();
    EXPECT_TRUE(value.IsDefault());
    value.Member("a");
    EXPECT_FALSE(value.IsDefault()); // one "empty" member is still a member
    value.MakeCollection();
    EXPECT_TRUE(value.IsDefault());
}

TEST(BindingProperty, ToString) {
    BindingProperty value;
    EXPECT_EQ(value.ToString(), "");
    value = 2.0;
    EXPECT_EQ(value.ToString(), "2.000000");
    value = 1.5;
    EXPECT_EQ(value.ToString(), "1.500000");
    value = 1e300;
    EXPECT_EQ(value.ToString().size(), 308u); // 301 digits, the point and six decimals
    value = true;
    EXPECT_EQ(value.ToString(), "true");
    value = std::int64_t{std::numeric_limits<std::int64_t>::min()};
    EXPECT_EQ(value.ToString(), "-9223372036854775808");
    value = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(value.ToString(), "18446744073709551615");
    value = "text";
    EXPECT_EQ(value.ToString(), "text");
    value.Member("a") = 1;
    EXPECT_EQ(value.ToString(), "");
    value.Append();
    EXPECT_EQ(value.ToString(), "");
}

TEST(BindingProperty, WriteAccessChangesTheKind) {
    BindingProperty value;
    value.Append() = 1;
    value.Append() = 2;
    value.Append() = 3;
    value.Member("a");
    EXPECT_EQ(value.Kind(), BindingKind::Structure);
    EXPECT_EQ(MemberNames(value), std::vector<std::string>{"a"});
    EXPECT_TRUE(value.Member("a").IsEmpty());

    BindingProperty list;
    BindingProperty& fifth = list.Element(4);
    EXPECT_EQ(list.Kind(), BindingKind::Collection);
    EXPECT_EQ(list.Size(), 5u);
    EXPECT_EQ(&fifth, &list.Elements()[4]);
    for (const BindingProperty& element : list.Elements()) {
        EXPECT_TRUE(element.IsEmpty());
        EXPECT_FALSE(element.OwnsPool());
        EXPECT_EQ(element.Pool(), list.Pool());
    }
    // An existing element is returned, not appended.
    list.Element(1) = "x";
    EXPECT_EQ(list.Size(), 5u);
    EXPECT_EQ(std::as_const(list).Element(1).GetString(), "x");
}

TEST(BindingProperty, ReadAccessNeverChanges) {
    BindingProperty value(std::int64_t{3});
    const BindingProperty& view = value;
    const BindingProperty& missing = view.Member("nothing");
    EXPECT_EQ(&missing, &BindingProperty::EmptyValue());
    EXPECT_EQ(&view.Element(0), &BindingProperty::EmptyValue());
    EXPECT_FALSE(view.HasMember("nothing"));
    EXPECT_EQ(view.FindMember("nothing"), nullptr);
    EXPECT_EQ(value.Kind(), BindingKind::Signed);
    EXPECT_EQ(value.GetSigned(), 3);

    BindingProperty record;
    record.Member("a") = 1;
    EXPECT_TRUE(record.HasMember("a"));
    EXPECT_FALSE(record.HasMember("b"));
    EXPECT_EQ(&std::as_const(record).Member("b"), &BindingProperty::EmptyValue());
    EXPECT_EQ(record.Size(), 1u);
    record.Append();
    EXPECT_EQ(&std::as_const(record).Element(1), &BindingProperty::EmptyValue());
}

TEST(BindingProperty, MembersAreInUnsignedByteOrder) {
    BindingProperty value;
    value.Member("b") = 1;
    value.Member("a") = 2;
    value.Member("B") = 3;
    EXPECT_EQ(MemberNames(value), (std::vector<std::string>{"B", "a", "b"}));

    BindingProperty bytes;
    bytes.Member("\xC3\xA9t\xC3\xA9"); // UTF-8 bytes above 127 sort after every ASCII letter
    bytes.Member("zeta");
    bytes.Member("ab");
    bytes.Member("a");
    bytes.Member("\x7F");
    EXPECT_EQ(MemberNames(bytes),
              (std::vector<std::string>{"a", "ab", "zeta", "\x7F", "\xC3\xA9t\xC3\xA9"}));
    // A name occurs once.
    bytes.Member("ab") = 5;
    EXPECT_EQ(bytes.Size(), 5u);
    EXPECT_TRUE(bytes.RemoveMember("ab"));
    EXPECT_FALSE(bytes.RemoveMember("ab"));
    EXPECT_EQ(bytes.Size(), 4u);
}

TEST(BindingProperty, LargeStructuresKeepOrderAndValues) {
    // Members inserted in a scrambled order, well past the point where a structure changes its
    // storage, keep name order, values and lookups.
    constexpr int count = 5000;
    BindingProperty value;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        const int scrambled = (i * 7919) % count;
        names.push_back("m" + std::to_string(scrambled));
        value.Member(names.back()) = scrambled;
        if (i == 63 || i == 64 || i == 65) {
            EXPECT_EQ(value.Size(), static_cast<std::size_t>(i + 1));
            EXPECT_EQ(std::as_const(value).Member(names.front()).GetSigned(), 0);
        }
    }
    EXPECT_EQ(value.Size(), static_cast<std::size_t>(count));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(MemberNames(value), names);
    for (int i = 0; i < count; i += 97) {
        EXPECT_EQ(std::as_const(value).Member("m" + std::to_string(i)).GetSigned(), i);
    }
    EXPECT_TRUE(value.RemoveMember("m10"));
    EXPECT_FALSE(value.HasMember("m10"));
    EXPECT_EQ(value.Size(), static_cast<std::size_t>(count - 1));

    BindingProperty copy(value);
    EXPECT_TRUE(copy == value);
    EXPECT_EQ(MemberNames(copy).size(), static_cast<std::size_t>(count - 1));
    value.Clear();
    EXPECT_EQ(std::as_const(copy).Member("m4999").GetSigned(), 4999);

    // A small structure: removal keeps the rest in order.
    BindingProperty small;
    for (const char* name : {"d", "b", "a", "c"}) {
        small.Member(name) = name;
    }
    EXPECT_TRUE(small.RemoveMember("b"));
    EXPECT_EQ(MemberNames(small), (std::vector<std::string>{"a", "c", "d"}));
    EXPECT_EQ(std::as_const(small).Member("c").GetString(), "c");
    EXPECT_EQ(std::as_const(small).Member("d").GetString(), "d");
}

TEST(BindingProperty, HugeStructuresStayFast) {
    // Scrambled insertion of many members must not degrade into quadratic work.
    constexpr int count = 200000;
    BindingProperty value;
    for (int i = 0; i < count; ++i) {
        value.Member(std::to_string((static_cast<long long>(i) * 104729) % count)) = i;
    }
    EXPECT_EQ(value.Size(), static_cast<std::size_t>(count));
    std::string previous;
    std::size_t seen = 0;
    for (const auto member : value.Members()) {
        EXPECT_LT(previous, std::string(member.name));
        previous = member.name;
        ++seen;
    }
    EXPECT_EQ(seen, static_cast<std::size_t>(count));
}

TEST(BindingProperty, EqualStringsShareOneCopyPerTree) {
    BindingProperty tree;
    tree.Member("first") = "same text";
    tree.Member("second") = "same text";
    tree.Append(); // turns it into a collection: everything above is released
    EXPECT_EQ(tree.Pool()->InternedCount(), 0u);

    tree.Element(0).Member("status") = "status";
    tree.Element(1).Member("status") = "status";
    const BindingInternedString* a =
        std::as_const(tree).Element(0).Member("status").InternedString();
    const BindingInternedString* b =
        std::as_const(tree).Element(1).Member("status").InternedString();
    EXPECT_EQ(a, b);
    EXPECT_EQ(tree.Pool()->InternedCount(), 1u); // the name and the value share one copy
    EXPECT_EQ(a->references, 4u);

    BindingProperty other;
    other.Member("status") = "status";
    EXPECT_NE(std::as_const(other).Member("status").InternedString(), a);
}

TEST(BindingProperty, CopiesBetweenTreesStayIndependent) {
    auto source = std::make_unique<BindingProperty>();
    source->Member("name") = "alpha";
    source->Member("list").Append() = "beta";
    source->Member("list").Append().Member("deep") = std::int64_t{-4};
    source->Member("blob").SetBlob(std::vector<std::uint8_t>{9, 8});
    source->Member("enum").SetEnum(7, StaticType::Identity<Testing::Shade>());

    BindingProperty target;
    target.Member("kept") = true;
    target.Member("copy") = *source;
    EXPECT_NE(target.Pool(), source->Pool());
    EXPECT_TRUE(std::as_const(target).Member("copy") == *source);
    source.reset();

    const BindingProperty& copy = std::as_const(target).Member("copy");
    EXPECT_EQ(copy.Member("name").GetString(), "alpha");
    EXPECT_EQ(copy.Member("list").Element(0).GetString(), "beta");
    EXPECT_EQ(copy.Member("list").Element(1).Member("deep").GetSigned(), -4);
    EXPECT_EQ(copy.Member("blob").GetBlob()[0], 9);
    EXPECT_EQ(copy.Member("enum").GetEnum().value, 7);
    EXPECT_EQ(copy.Member("name").Pool(), target.Pool());
    EXPECT_TRUE(std::as_const(target).Member("kept").GetBool());

    // The copy constructor makes a new root with its own pool.
    BindingProperty second(copy);
    EXPECT_TRUE(second.OwnsPool());
    EXPECT_NE(second.Pool(), target.Pool());
    EXPECT_TRUE(second == copy);
    target.Clear();
    EXPECT_EQ(second.Member("name").GetString(), "alpha");
}

TEST(BindingProperty, TakeBetweenRootsAndFromMembers) {
    BindingProperty a;
    a.Member("x") = "one";
    BindingValuePool* poolOfA = a.Pool();
    BindingProperty b;
    b = std::move(a);
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(b.Pool(), poolOfA); // roots exchange their storage
    EXPECT_EQ(std::as_const(b).Member("x").GetString(), "one");

    BindingProperty holder;
    holder.Member("inner").Member("y") = "two";
    BindingProperty taken(std::move(holder.Member("inner")));
    EXPECT_TRUE(std::as_const(holder).Member("inner").IsEmpty());
    EXPECT_TRUE(holder.HasMember("inner"));
    EXPECT_EQ(std::as_const(taken).Member("y").GetString(), "two");
    EXPECT_NE(taken.Pool(), holder.Pool());

    // Into a member of another tree.
    holder.Member("moved") = std::move(taken);
    EXPECT_TRUE(taken.IsEmpty());
    EXPECT_EQ(std::as_const(holder).Member("moved").Member("y").GetString(), "two");
}

TEST(BindingProperty, AssignmentWithinOneTree) {
    BindingProperty tree;
    tree.Member("a").Member("b") = "leaf";
    // A value copied into its own member.
    tree.Member("a").Member("self") = tree;
    EXPECT_EQ(std::as_const(tree).Member("a").Member("self").Member("a").Member("b").GetString(),
              "leaf");
    EXPECT_TRUE(
        std::as_const(tree).Member("a").Member("self").Member("a").Member("self").IsEmpty());

    // A root takes one of its own members.
    tree = std::move(tree.Member("a"));
    EXPECT_EQ(std::as_const(tree).Member("b").GetString(), "leaf");
    EXPECT_TRUE(tree.HasMember("self"));

    // A value cannot move into a place inside itself: nothing changes.
    BindingProperty& inner = tree.Member("self");
    inner.Member("z").Take(inner);
    EXPECT_TRUE(tree.HasMember("self"));
    EXPECT_EQ(std::as_const(tree).Member("self").Member("a").Member("b").GetString(), "leaf");

    // Self-assignment keeps the value.
    BindingProperty& same = tree;
    tree = same;
    EXPECT_EQ(std::as_const(tree).Member("b").GetString(), "leaf");
    tree.Member("b") = std::as_const(tree).Member("b");
    EXPECT_EQ(std::as_const(tree).Member("b").GetString(), "leaf");
}

TEST(BindingProperty, AValueAssignedOneOfItsOwnLeavesTakesTheLeaf) {
    // Releasing the container empties its members and elements, so the leaf has to be read
    // before the container goes.
    BindingProperty list;
    list.Append().SetSigned(0x123456789);
    list = std::as_const(list).Element(0);
    EXPECT_EQ(list.Kind(), BindingKind::Signed);
    EXPECT_EQ(list.GetSigned(), 0x123456789);

    BindingProperty record;
    record.Member("a").SetFloat(2.5);
    record.Member("b").SetBool(true);
    record.Member("c").SetUnsigned(9);
    record.Member("d").Member("e").SetBool(true);
    BindingProperty copy = record;
    copy = std::as_const(copy).Member("a");
    EXPECT_EQ(copy.Kind(), BindingKind::Float);
    EXPECT_EQ(copy.GetFloat(), 2.5);
    copy = record;
    copy = std::as_const(copy).Member("b");
    EXPECT_TRUE(copy.GetBool());
    copy = record;
    copy = std::as_const(copy).Member("c");
    EXPECT_EQ(copy.GetUnsigned(9), 9u);
    EXPECT_EQ(copy.Kind(), BindingKind::Unsigned);
    // A member two levels up takes a leaf of its own member.
    copy = record;
    copy.Member("d") = std::as_const(copy).Member("d").Member("e");
    EXPECT_EQ(std::as_const(copy).Member("d").Kind(), BindingKind::Bool);
    EXPECT_TRUE(std::as_const(copy).Member("d").GetBool());

    // Leaves with storage keep theirs as well.
    BindingProperty strings;
    strings.Append().SetString("kept text");
    strings = std::as_const(strings).Element(0);
    EXPECT_EQ(strings.GetString(), "kept text");
    BindingProperty blobs;
    blobs.Append().SetBlob(std::vector<std::uint8_t>{1, 2, 3});
    blobs = std::as_const(blobs).Element(0);
    EXPECT_EQ(blobs.Size(), 3u);
    BindingProperty enums;
    enums.Append().SetEnum(7, StaticType::Identity<Testing::Shade>());
    enums = std::as_const(enums).Element(0);
    EXPECT_EQ(enums.GetEnum().value, 7);
}

TEST(BindingProperty, AValueTurnedIntoAStructureMayBeNamedByItsOwnText) {
    // Write access on a value of another kind releases the old content; a name whose text lies
    // in that content has to be interned before it goes.
    BindingProperty text;
    text = "abc";
    text.Member(text.GetString()) = 1;
    EXPECT_EQ(MemberNames(text), std::vector<std::string>{"abc"});
    EXPECT_EQ(std::as_const(text).Member("abc").GetSigned(), 1);
    EXPECT_EQ(text.Pool()->InternedCount(), 1u);

    BindingProperty list;
    list.Append() = std::string(40, 'q');
    list.Append() = "second";
    list.Member(std::as_const(list).Element(0).GetString()) = true;
    EXPECT_EQ(MemberNames(list), std::vector<std::string>{std::string(40, 'q')});
    EXPECT_EQ(list.Pool()->InternedCount(), 1u);

    // By the interned copy the value itself holds: the member keeps that copy alive, so the
    // names interned next do not overwrite it.
    BindingProperty interned;
    interned = "abc";
    interned.Member(*interned.InternedString()) = 1;
    interned.Member("zzz") = "xyz";
    interned.Member("yyy") = "uvw";
    EXPECT_EQ(MemberNames(interned), (std::vector<std::string>{"abc", "yyy", "zzz"}));
    EXPECT_EQ(std::as_const(interned).Member("abc").GetSigned(), 1);
    const BindingInternedString* abc = interned.Pool()->FindInterned("abc");
    ASSERT_NE(abc, nullptr);
    EXPECT_EQ(abc->references, 1u);
}

TEST(BindingProperty, ReserveHasALengthLimit) {
    BindingProperty list;
    list.MakeCollection();
    EXPECT_TRUE(list.Reserve(100));
    EXPECT_THROW(list.Reserve(BindingProperty::kMaxElements + 1), std::length_error);
    EXPECT_THROW(list.Reserve(std::numeric_limits<std::size_t>::max()), std::length_error);
    EXPECT_EQ(list.Size(), 0u);
    // Only collections reserve: other kinds ignore the call, whatever the count.
    BindingProperty scalar(std::int32_t{1});
    EXPECT_TRUE(scalar.Reserve(10));
    EXPECT_NO_THROW(EXPECT_TRUE(scalar.Reserve(BindingProperty::kMaxElements + 1)));
    EXPECT_EQ(scalar.Kind(), BindingKind::Signed);
    EXPECT_EQ(scalar.GetSigned(), 1);
    BindingProperty empty;
    EXPECT_NO_THROW(EXPECT_TRUE(empty.Reserve(std::numeric_limits<std::size_t>::max())));
    EXPECT_TRUE(empty.IsEmpty());
}

// Room made for members changes nothing a reader sees, holds no more than the small form would,
// and does not stop the structure from growing past it.
TEST(BindingProperty, ReserveMembersOnlyMakesRoom) {
    BindingProperty scalar(std::int32_t{1});
    EXPECT_TRUE(scalar.ReserveMembers(10)); // only structures reserve
    EXPECT_EQ(scalar.Kind(), BindingKind::Signed);

    BindingProperty record;
    record.MakeStructure();
    const std::size_t slabBytes = record.Pool()->ArraySlabBytes();
    EXPECT_TRUE(record.ReserveMembers(std::numeric_limits<std::size_t>::max()));
    EXPECT_LE(record.Pool()->ArraySlabBytes(), slabBytes + 2 * BindingArraySlabs::kMaxBlockSize);
    EXPECT_EQ(record.Size(), 0u);
    EXPECT_TRUE(record.IsDefault());
    EXPECT_TRUE(record.ReserveMembers(3)); // less than there is room for
    const char* const names[] = {"id", "created_at", "updated_at", "severity", "heading"};
    for (int round = 0; round < 30; ++round) {
        for (const char* name : names) {
            record.Member(name + std::to_string(round)) = round;
        }
    }
    ASSERT_EQ(record.Size(), 150u);
    std::string previous;
    for (const auto& member : std::as_const(record).Members()) {
        EXPECT_LT(previous, member.name);
        previous = std::string(member.name);
    }
    EXPECT_EQ(std::as_const(record).Member("severity17").GetSigned(-1), 17);

    BindingProperty small;
    small.MakeStructure();
    EXPECT_TRUE(small.ReserveMembers(2));
    small.Member("b") = 2;
    small.Member("a") = 1;
    small.Member("c") = 3; // past the room made
    EXPECT_EQ(small.Size(), 3u);
    EXPECT_EQ(std::as_const(small).Member("a").GetSigned(0), 1);
    EXPECT_EQ(std::as_const(small).Member("c").GetSigned(0), 3);
}

TEST(BindingProperty, AbsurdElementIndexIsRefused) {
    BindingProperty list;
    list.Append() = 1;
    for (const std::size_t index :
         {BindingProperty::kMaxElements, std::numeric_limits<std::size_t>::max(),
          std::size_t{1} << 30, std::size_t{1} << 25}) {
        BindingProperty& sink = list.Element(index);
        sink = "lost";
        sink.Member("deep").Append() = "also lost";
        EXPECT_EQ(list.Size(), 1u) << index;
        EXPECT_NE(&sink, &list.Elements()[0]);
    }
    // The next refusal hands the sink out empty again.
    EXPECT_TRUE(list.Element(BindingProperty::kMaxElements).IsEmpty());
    EXPECT_EQ(std::as_const(list).Element(0).GetSigned(), 1);
    // A reasonable index still grows the collection.
    list.Element(1000) = 2;
    EXPECT_EQ(list.Size(), 1001u);
}

// A collection that cannot grow for want of memory says so: the element asked for must not go
// silently to the sink that absurd indices get.
TEST(BindingProperty, ACollectionThatCannotGrowThrows) {
    const std::size_t limit = std::size_t{1} << 20;
    BindingProperty list;
    {
        Testing::RefusedAllocations refused(limit);
        std::size_t appended = 0;
        bool threw = false;
        for (; appended < limit; ++appended) { // the element array reaches the limit long before
            try {
                list.Append() = appended;
            } catch (const std::bad_alloc&) {
                threw = true;
                break;
            }
            if (list.Size() != appended + 1) {
                break; // the element went nowhere
            }
        }
        EXPECT_TRUE(threw);
        EXPECT_GT(refused.Refused(), 0u);
        ASSERT_EQ(list.Size(), appended);
        EXPECT_EQ(std::as_const(list).Element(appended - 1).GetUnsigned(), appended - 1);
        EXPECT_THROW(list.Element(appended + 10), std::bad_alloc);
        EXPECT_EQ(list.Size(), appended);
    }
    // With memory back, the collection grows again.
    const std::size_t size = list.Size();
    list.Append() = "more";
    EXPECT_EQ(list.Size(), size + 1);
}

class RecordingVisitor : public BindingVisitor {
public:
    void Null() override { events.push_back("null"); }
    void Bool(bool value) override { events.push_back(value ? "true" : "false"); }
    void Int64(std::int64_t value) override { events.push_back("i" + std::to_string(value)); }
    void Uint64(std::uint64_t value) override { events.push_back("u" + std::to_string(value)); }
    void Double(double value) override { events.push_back("d" + std::to_string(value)); }
    void String(std::string_view text) override { events.push_back("s:" + std::string(text)); }
    void Blob(std::span<const std::uint8_t> bytes) override {
        events.push_back("blob" + std::to_string(bytes.size()));
    }
    void Enum(const BindingEnumRecord& value) override {
        events.push_back("enum" + std::to_string(value.value));
    }
    void StartArray(std::size_t count) override { events.push_back("[" + std::to_string(count)); }
    void BeginElement(std::size_t index) override { events.push_back("<" + std::to_string(index)); }
    void EndElement(std::size_t index) override { events.push_back(">" + std::to_string(index)); }
    void EndArray() override { events.push_back("]"); }
    void StartObject(std::size_t count) override { events.push_back("{" + std::to_string(count)); }
    void Key(std::string_view name) override { events.push_back("k:" + std::string(name)); }
    void EndMember(std::string_view name) override { events.push_back("/" + std::string(name)); }
    void EndObject() override { events.push_back("}"); }

    std::vector<std::string> events;
};

TEST(BindingProperty, AcceptWalksInDocumentOrder) {
    BindingProperty value;
    value.Member("b").Append() = true;
    value.Member("b").Append();
    value.Member("b").Append().MakeStructure();
    value.Member("a") = std::uint32_t{1};
    value.Member("c").SetBlob(std::vector<std::uint8_t>{1, 2, 3});
    value.Member("d").SetEnum(7, StaticType::Identity<Testing::Shade>());
    RecordingVisitor visitor;
    value.Accept(visitor);
    const std::vector<std::string> expected = {
        "{4", "k:a", "u1", "/a", "k:b", "[3",  "<0",    "true", ">0",  "<1",    "null", ">1", "<2",
        "{0", "}",   ">2", "]",  "/b",  "k:c", "blob3", "/c",   "k:d", "enum7", "/d",   "}"};
    EXPECT_EQ(visitor.events, expected);

    RecordingVisitor scalar;
    BindingProperty("text").Accept(scalar);
    EXPECT_EQ(scalar.events, std::vector<std::string>{"s:text"});
}

TEST(BindingProperty, Equality) {
    BindingProperty a;
    a.Member("x").Append() = 1.5;
    BindingProperty b(a);
    EXPECT_TRUE(a == b);
    b.Member("x").Element(0) = 2.5;
    EXPECT_FALSE(a == b);
    b.Member("x").Element(0) = 1.5;
    b.Member("y");
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(BindingProperty(std::int64_t{1}) == BindingProperty(std::uint64_t{1}));
}

TEST(BindingResult, ErrorsAndReset) {
    BindingResult result;
    EXPECT_TRUE(result.IsSuccess());
    EXPECT_EQ(result.GetError(), "");
    result.value.Member("data") = 1;
    result.SetError("x");
    EXPECT_FALSE(result.IsSuccess());
    EXPECT_EQ(result.GetError(), "x");
    EXPECT_EQ(result.value.Kind(), BindingKind::Structure);
    EXPECT_EQ(result.value.Size(), 1u);
    EXPECT_EQ(std::as_const(result.value).Member("error").Kind(), BindingKind::String);
    EXPECT_EQ(std::as_const(result.value).Member("error").GetString(), "x");

    // The message may come from the result itself.
    result.SetError(std::as_const(result.value).Member("error").GetString());
    EXPECT_EQ(result.GetError(), "x");

    result.Reset();
    EXPECT_TRUE(result.IsSuccess());
    EXPECT_TRUE(result.value.IsEmpty());

    // A failure whose "error" member is not a string reports no text.
    result.success = false;
    result.value.Member("error") = 3;
    EXPECT_EQ(result.GetError(), "");
}

TEST(BindingResult, MoveCarriesValueAndFlag) {
    BindingResult failed;
    failed.SetError("bad");
    BindingResult moved(std::move(failed));
    EXPECT_FALSE(moved.IsSuccess());
    EXPECT_EQ(moved.GetError(), "bad");
    EXPECT_TRUE(failed.value.IsEmpty());

    BindingResult target;
    target.value = "old";
    target = std::move(moved);
    EXPECT_EQ(target.GetError(), "bad");

    BindingProperty content("v");
    BindingResult copied(content);
    EXPECT_TRUE(copied.IsSuccess());
    EXPECT_EQ(copied.value.GetString(), "v");
    EXPECT_EQ(content.GetString(), "v");
}

} // namespace
