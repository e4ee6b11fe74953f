// Whole-tree behaviour: every page and every counted byte comes back, and very deep trees are
// destroyed, copied, compared and walked without exhausting the stack.

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_page_source.h"
#include "binding/binding_property.h"
#include "binding/binding_visitor.h"
#include "diagnostics/allocation.h"
#include "platform/virtual_memory.h"
#include "support/live_memory.h"
#include "support/refused_allocations.h"

namespace Korvel::Testing {
enum class Mood : int { Calm = 1 };
} // namespace Korvel::Testing

KORVEL_STATIC_TYPE(enum, Korvel::Testing::Mood)

namespace {

using namespace Korvel;
using Korvel::Testing::LiveBytes;

// The pages, system regions and counted bytes in use when it is made; ExpectAllBack checks that
// every one of them has come back.
struct MemoryInUse {
    std::size_t pages = BindingPageSource::Instance().PagesInUse();
    std::size_t regions = Platform::LiveRegionCount();
    std::uint64_t bytes = LiveBytes();

    void ExpectAllBack() const {
        EXPECT_EQ(BindingPageSource::Instance().PagesInUse(), pages);
        EXPECT_EQ(Platform::LiveRegionCount(), regions);
        EXPECT_EQ(LiveBytes(), bytes);
    }
};

// A tree of about `count` nodes of every kind: records with repeated and unique member names,
// strings short and long, blobs, enums and nested collections.
void BuildMixedTree(BindingProperty& root, int count) {
    BindingProperty& items = root.Member("items");
    int nodes = 0;
    for (int i = 0; nodes < count; ++i) {
        BindingProperty& item = items.Append();
        item.Member("id") = i;
        item.Member("name") = "item-" + std::to_string(i);
        item.Member("ratio") = i * 0.5;
        item.Member("flag") = (i % 2) == 0;
        item.Member("big") = std::uint64_t{1} << (i % 64);
        item.Member(i % 7 == 0 ? "note-" + std::to_string(i) : std::string("note")) =
            std::string(i % 5 == 0 ? 90 : 10, 'n');
        item.Member("bytes").SetBlob(
            std::vector<std::uint8_t>(static_cast<std::size_t>(i % 40), 7));
        item.Member("mood").SetEnum(1, StaticType::Identity<Testing::Mood>());
        BindingProperty& tags = item.Member("tags");
        tags.Append() = "common";
        tags.Append() = std::int64_t{-i};
        tags.Append();
        nodes += 13;
    }
}

TEST(BindingTreeMemory, BuildingAndDestroyingReturnsEverything) {
    BindingPageSource& source = BindingPageSource::Instance();
    const MemoryInUse before;
    {
        BindingProperty root;
        BuildMixedTree(root, 100000);
        EXPECT_GT(source.PagesInUse(), before.pages + 16);
        EXPECT_GT(LiveBytes(), before.bytes); // element arrays, blobs, the pool: all counted
        BindingProperty copy(root);
        EXPECT_TRUE(copy == root);
        root.Clear();
        EXPECT_EQ(root.Pool()->PagesHeld(), 0u);
        EXPECT_EQ(root.Pool()->InternedCount(), 0u);
    }
    before.ExpectAllBack();
}

// A root whose constructor runs out of memory is never destroyed: the constructor itself gives
// back the pool it made and everything the pool took.
TEST(BindingTreeMemory, AConstructorThatRunsOutOfMemoryKeepsNothing) {
    BindingProperty source;
    BuildMixedTree(source, 1000);
    BindingProperty& many = source.Member("many");
    for (int i = 0; i < 100000; ++i) {
        many.Append() = i; // an element array of more than a mebibyte
    }
    const std::string longText(std::size_t{2} << 20, 't');
    const MemoryInUse before;
    {
        const Korvel::Testing::RefusedAllocations refused(std::size_t{1} << 20);
        EXPECT_THROW(BindingProperty copy(source), std::bad_alloc);
        EXPECT_THROW(BindingProperty text(longText), std::bad_alloc);
        EXPECT_THROW(BindingProperty text(longText.c_str()), std::bad_alloc);
        EXPECT_GE(refused.Refused(), 3u);
    }
    before.ExpectAllBack();
    const BindingProperty copy(source);
    EXPECT_TRUE(copy == source);
}

// Pages that empty while the tree lives go back at once; the root's destruction later gives back
// the pages still held, each once. A second tree shares the chunks, so a page given back twice
// would show in the count instead of vanishing with a released chunk.
TEST(BindingTreeMemory, PagesEmptiedBeforeTheTreeIsDestroyedGoBackOnce) {
    BindingPageSource& source = BindingPageSource::Instance();
    const MemoryInUse before;
    {
        BindingProperty other;
        {
            BindingProperty root;
            // "a" and "b" are built one after the other, so that most pages hold blocks of one
            // of them only; "other" takes pages in between, from the same chunks.
            for (const char* name : {"a", "b"}) {
                for (int round = 0; round < 20; ++round) {
                    BuildMixedTree(root.Member(name).Append(), 1500);
                    BuildMixedTree(other.Append(), 300);
                }
            }
            const std::size_t held = root.Pool()->PagesHeld();
            ASSERT_TRUE(root.RemoveMember("a"));
            EXPECT_LT(root.Pool()->PagesHeld(), held);
            BuildMixedTree(root.Member("c"), 20000);
            ASSERT_TRUE(root.RemoveMember("b"));
            EXPECT_EQ(source.PagesInUse(),
                      before.pages + root.Pool()->PagesHeld() + other.Pool()->PagesHeld());
        }
        EXPECT_EQ(source.PagesInUse(), before.pages + other.Pool()->PagesHeld());
    }
    before.ExpectAllBack();
}

// Destroying a root drops its intern table whole instead of searching it once per string; every
// string block must still go back exactly once, shared or not, short (pool block) or long (heap),
// including what the pool's scratch value holds.
TEST(BindingTreeMemory, DestroyingARootGivesEveryStringBackOnce) {
    BindingPageSource& source = BindingPageSource::Instance();
    const std::size_t pagesBefore = source.PagesInUse();
    const std::uint64_t bytesBefore = LiveBytes();
    {
        BindingProperty root;
        const std::string longText(300, 'x');
        for (int i = 0; i < 2000; ++i) {
            BindingProperty& item = root.Member("items").Append();
            item.Member("shared") = "same text";
            item.Member("long") = longText;
            item.Member("unique") = "value " + std::to_string(i);
            item.Member("long unique") = longText + std::to_string(i);
        }
        // An element index beyond the limit hands out the scratch value; it keeps what it was
        // given until the pool goes.
        root.Member("items").Element(BindingProperty::kMaxElements + 1) = longText + "scratch";
        EXPECT_GT(root.Pool()->InternedCount(), 4000u);
        EXPECT_GT(source.PagesInUse(), pagesBefore);
    }
    EXPECT_EQ(source.PagesInUse(), pagesBefore);
    EXPECT_EQ(LiveBytes(), bytesBefore);
}

TEST(BindingTreeMemory, ReplacingContentReleasesIt) {
    const std::uint64_t bytesBefore = LiveBytes();
    {
        BindingProperty root;
        std::size_t pagesAfterFirstRound = 0;
        for (int round = 0; round < 3; ++round) {
            BuildMixedTree(root, 5000);
            EXPECT_GT(root.Pool()->PagesHeld(), 10u);
            root.Member("items") = 1;                    // the whole collection goes
            EXPECT_EQ(root.Pool()->InternedCount(), 1u); // only the name "items" is left
            // What is left (root block, one node, one name) holds at most one page per bin.
            if (round == 0) {
                pagesAfterFirstRound = root.Pool()->PagesHeld();
                EXPECT_LE(pagesAfterFirstRound, 3u);
            } else {
                EXPECT_EQ(root.Pool()->PagesHeld(), pagesAfterFirstRound);
            }
        }
        BindingProperty other;
        other.Member("x") = "y";
        root = std::move(other); // roots exchange pools; `other` releases what root held
        EXPECT_EQ(other.Pool()->InternedCount(), 0u);
    }
    EXPECT_EQ(LiveBytes(), bytesBefore);
}

// Short collections keep their elements in a block of the pool's bins, longer ones in its array
// slabs, and the longest on the general heap, where they grow in place. Every way of growing
// crosses those lines here: appending, reserving, writing at an index past the end, and copying;
// the elements keep their values, and both ways of releasing (a subtree while the tree lives, the
// whole tree with its pool) give everything back.
TEST(BindingTreeMemory, CollectionsMoveFromPoolBlocksToTheHeapIntact) {
    // Every count up to 20, then counts around the slab/heap line of both builds (2048 bytes: 85
    // elements of 24 bytes, 128 of 16) and past the first growth on the heap.
    std::vector<int> counts;
    for (int count = 0; count <= 20; ++count) {
        counts.push_back(count);
    }
    for (const int count : {84, 85, 86, 97, 127, 128, 129, 193, 400}) {
        counts.push_back(count);
    }
    const MemoryInUse before;
    {
        BindingProperty root;
        BindingProperty& lists = root.Member("lists");
        for (const int count : counts) {
            // References into "lists" only once it has stopped growing in this round.
            const std::size_t first = lists.Size();
            lists.Element(first + 2);
            BindingProperty& appended = lists.Element(first);
            BindingProperty& reserved = lists.Element(first + 1);
            BindingProperty& indexed = lists.Element(first + 2);
            reserved.MakeCollection();
            reserved.Reserve(static_cast<std::size_t>(count / 2)); // exact, then grown past
            for (int i = 0; i < count; ++i) {
                appended.Append() = "a" + std::to_string(i);
                reserved.Append().Member("r") = i;
            }
            if (count > 0) {
                indexed.Element(static_cast<std::size_t>(count - 1)) = count;
                indexed.Element(0) = "first";
            }
        }
        const BindingProperty copy(root);
        for (std::size_t round = 0; round < counts.size(); ++round) {
            const int count = counts[round];
            const auto at = 3 * round;
            const BindingProperty* const trees[] = {&root, &copy};
            for (const BindingProperty* tree : trees) {
                const BindingProperty& group = tree->Member("lists");
                ASSERT_EQ(group.Element(at).Size(), static_cast<std::size_t>(count));
                ASSERT_EQ(group.Element(at + 1).Size(), static_cast<std::size_t>(count));
                ASSERT_EQ(group.Element(at + 2).Size(), static_cast<std::size_t>(count));
                for (int i = 0; i < count; ++i) {
                    const auto index = static_cast<std::size_t>(i);
                    ASSERT_EQ(group.Element(at).Element(index).GetString(),
                              "a" + std::to_string(i));
                    ASSERT_EQ(group.Element(at + 1).Element(index).Member("r").GetSigned(-1), i);
                }
                const BindingProperty& indexed = group.Element(at + 2);
                if (count > 0) {
                    EXPECT_EQ(indexed.Element(0).GetString(), "first");
                }
                if (count > 1) {
                    EXPECT_EQ(indexed.Element(static_cast<std::size_t>(count - 1)).GetSigned(0),
                              count);
                    EXPECT_TRUE(indexed.Element(1).IsEmpty() || count == 2);
                }
            }
        }
        // Released while the tree lives: every block goes back to its bin or to the heap.
        lists.Clear();
        EXPECT_EQ(root.Pool()->InternedCount(), 1u); // "lists"
    }
    before.ExpectAllBack();
}

constexpr int kDepth = 100000;

TEST(BindingTreeMemory, VeryDeepTreesAreSafe) {
    const std::uint64_t bytesBefore = LiveBytes();
    const std::size_t pagesBefore = BindingPageSource::Instance().PagesInUse();
    {
        BindingProperty root;
        BindingProperty* at = &root;
        for (int level = 0; level < kDepth; ++level) {
            at = (level % 2 == 0) ? &at->Member("child") : &at->Append();
            if (level % 1000 == 0) {
                at->Member("label") = "level";
            }
        }
        *at = "bottom";

        BindingProperty copy(root);
        EXPECT_TRUE(copy == root);

        struct CountingVisitor : BindingVisitor {
            void Null() override {}
            void Bool(bool) override {}
            void Int64(std::int64_t) override {}
            void Uint64(std::uint64_t) override {}
            void Double(double) override {}
            void String(std::string_view text) override { last = text; }
            void Blob(std::span<const std::uint8_t>) override {}
            void Enum(const BindingEnumRecord&) override {}
            void StartArray(std::size_t) override { ++open; }
            void BeginElement(std::size_t) override {}
            void EndElement(std::size_t) override {}
            void EndArray() override { --open; }
            void StartObject(std::size_t) override { ++open; }
            void Key(std::string_view) override {}
            void EndMember(std::string_view) override {}
            void EndObject() override { --open; }
            long open = 0;
            std::string_view last;
        } visitor;
        copy.Accept(visitor);
        EXPECT_EQ(visitor.open, 0);
        EXPECT_EQ(visitor.last, "bottom");

        // Replace the deep tree by part of itself, then let both go out of scope.
        copy = std::move(copy.Member("child"));
        EXPECT_EQ(copy.Kind(), BindingKind::Collection);
    }
    EXPECT_EQ(BindingPageSource::Instance().PagesInUse(), pagesBefore);
    EXPECT_EQ(LiveBytes(), bytesBefore);
}

} // namespace
