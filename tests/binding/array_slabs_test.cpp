#include "binding/binding_array_slabs.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/address_poisoning.h"
#include "binding/binding_property.h"
#include "binding/binding_value_pool.h"
#include "diagnostics/allocation.h"
#include "support/live_memory.h"

namespace {

using namespace Korvel;
using Korvel::Testing::LiveBytes;

TEST(BindingArraySlabs, SizesRoundUpToPowersOfTwoAndTheHalfwaySteps) {
    const std::pair<std::size_t, std::size_t> cases[] = {
        {73, 96},    {96, 96},     {97, 128},    {128, 128},   {129, 192},
        {192, 192},  {193, 256},   {257, 384},   {385, 512},   {513, 768},
        {769, 1024}, {1025, 1536}, {1536, 1536}, {1537, 2048}, {2048, 2048}};
    for (const auto& [size, expected] : cases) {
        EXPECT_EQ(BindingArraySlabs::ClassSize(size), expected) << size;
    }
}

// Blocks of every class are aligned, writable as a whole and never overlap; a freed block is the
// next one handed out for its class and for no other.
TEST(BindingArraySlabs, BlocksAreDistinctAndReusedByTheirClass) {
    const std::uint64_t before = LiveBytes();
    {
        BindingArraySlabs slabs;
        struct Taken {
            unsigned char* block;
            std::size_t size;
        };
        std::vector<Taken> taken;
        for (int round = 0; round < 40; ++round) {
            for (std::size_t size = 73; size <= 2048; size = size * 3 / 2) {
                auto* block = static_cast<unsigned char*>(slabs.Allocate(size));
                ASSERT_NE(block, nullptr);
                ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(BindingMemberEntry), 0u)
                    << size;
                std::memset(block, static_cast<int>(taken.size() & 0xFF), size);
                taken.push_back({block, size});
            }
        }
        for (std::size_t i = 0; i < taken.size(); ++i) {
            const auto fill = static_cast<unsigned char>(i & 0xFF);
            for (std::size_t at = 0; at < taken[i].size; ++at) {
                ASSERT_EQ(taken[i].block[at], fill) << "block " << i << " byte " << at;
            }
        }
        EXPECT_GT(slabs.BytesHeld(), 0u);
        EXPECT_GE(LiveBytes() - before, slabs.BytesHeld()); // counted at the heap's block sizes

        const std::size_t held = slabs.BytesHeld();
        slabs.Free(taken[3].block, taken[3].size);
        EXPECT_NE(slabs.Allocate(taken[4].size), taken[3].block); // another class
        EXPECT_EQ(slabs.Allocate(taken[3].size), taken[3].block);
        EXPECT_LE(slabs.BytesHeld(), held + BindingArraySlabs::kMaxSlabSize);
    }
    EXPECT_EQ(LiveBytes(), before);
}

// When a block does not fit the rest of the newest slab, that rest is cut into blocks of the
// classes that fit it instead of being lost.
TEST(BindingArraySlabs, TheRestOfAFullSlabServesSmallerClasses) {
    BindingArraySlabs slabs;
    auto* first = static_cast<unsigned char*>(slabs.Allocate(96));
    ASSERT_EQ(slabs.BytesHeld(), BindingArraySlabs::kFirstSlabSize);
    // 2048 bytes do not fit in what the first slab has left, so a second slab is taken.
    ASSERT_NE(slabs.Allocate(2048), nullptr);
    const std::size_t held = slabs.BytesHeld();
    EXPECT_GT(held, BindingArraySlabs::kFirstSlabSize);
    // 1024 - 16 - 96 = 912 bytes were left: a 768-byte block among others.
    auto* rest = static_cast<unsigned char*>(slabs.Allocate(768));
    EXPECT_GE(rest, first + 96);
    EXPECT_LT(rest, first + BindingArraySlabs::kFirstSlabSize);
    EXPECT_EQ(slabs.BytesHeld(), held);
}

// The arrays of a tree's containers come from its pool's slabs: rebuilding the same content
// reuses the blocks given back instead of taking more, and every slab goes with the pool.
TEST(BindingArraySlabs, ATreeReusesItsArrayBlocks) {
    const std::uint64_t before = LiveBytes();
    {
        BindingProperty root;
        std::size_t held = 0;
        for (int round = 0; round < 4; ++round) {
            BindingProperty& items = root.Member("items");
            for (int i = 0; i < 500; ++i) {
                BindingProperty& item = items.Append();
                for (int m = 0; m < 2 + i % 30; ++m) {
                    item.Member("m" + std::to_string(m)) = m;
                }
                for (int e = 0; e < i % 50; ++e) {
                    item.Member("list").Append() = e;
                }
            }
            ASSERT_EQ(items.Size(), 500u);
            ASSERT_EQ(items.Element(499).Member("m20").GetSigned(-1), 20);
            ASSERT_EQ(items.Element(499).Member("list").Size(), 49u);
            if (round == 0) {
                held = root.Pool()->ArraySlabBytes();
                EXPECT_GT(held, 100000u);
            } else {
                EXPECT_EQ(root.Pool()->ArraySlabBytes(), held) << round;
            }
            ASSERT_TRUE(root.RemoveMember("items"));
        }
    }
    EXPECT_EQ(LiveBytes(), before);
}

// Records of a few members are the common case: their member arrays start small instead of
// holding room for members that never come.
TEST(BindingArraySlabs, SmallRecordsTakeSmallMemberArrays) {
    constexpr std::size_t kRecords = 3000;
    BindingProperty root;
    BindingProperty& items = root.Member("items");
    items.Reserve(kRecords);
    for (std::size_t i = 0; i < kRecords; ++i) {
        BindingProperty& item = items.Append();
        item.Member("locale") = "de_DE";
        item.Member("heading") = "Heading";
        item.Member("content") = "Content";
    }
    ASSERT_EQ(items.Element(kRecords - 1).Size(), 3u);
    // Four entries a record, with room for the slabs' own headers and their last, partly used
    // slab; arrays of eight entries would need twice as much.
    EXPECT_LT(root.Pool()->ArraySlabBytes(), kRecords * 6 * sizeof(BindingMemberEntry));
}

TEST(BindingArraySlabs, FreeBlocksArePoisonedUnderTheAddressSanitizer) {
    if (!kPoisoningActive) {
        GTEST_SKIP() << "built without AddressSanitizer";
    }
    BindingArraySlabs slabs;
    auto* kept = static_cast<unsigned char*>(slabs.Allocate(200));
    auto* freed = static_cast<unsigned char*>(slabs.Allocate(200));
    // Not yet handed out: the rest of the slab.
    EXPECT_TRUE(IsPoisoned(freed + 256));
    slabs.Free(freed, 200);
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_FALSE(IsPoisoned(kept + i)) << i;
        ASSERT_TRUE(IsPoisoned(freed + i)) << i;
    }
    auto* again = static_cast<unsigned char*>(slabs.Allocate(250));
    ASSERT_EQ(again, freed);
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_FALSE(IsPoisoned(again + i)) << i;
    }
}

} // namespace
