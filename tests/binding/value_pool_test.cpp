#include "binding/binding_value_pool.h"

#include <cstdint>
#include <cstring>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mman.h>
#endif

#include "binding/address_poisoning.h"
#include "binding/binding_page_source.h"
#include "binding/binding_property.h"
#include "binding/same_bytes.h"
#include "binding/static_type_id.h"
#include "diagnostics/allocation.h"
#include "platform/virtual_memory.h"

namespace {

using namespace Korvel;

struct PoolDeleter {
    void operator()(BindingValuePool* pool) const { BindingValuePool::Destroy(pool); }
};
using PoolHandle = std::unique_ptr<BindingValuePool, PoolDeleter>;

PoolHandle NewPool() {
    return PoolHandle(BindingValuePool::Create());
}

// Takes every block the inline page of `size` holds and returns their indices.
std::vector<std::size_t> DrainInlinePage(BindingValuePool& pool, std::size_t size,
                                         std::vector<void*>& blocks) {
    std::vector<std::size_t> indices;
    while (true) {
        void* block = pool.AllocateBlock(size);
        const auto where = pool.Locate(block, size);
        if (where.pageSize != BindingValuePool::kInlinePageSize) {
            pool.FreeBlock(block, size);
            break;
        }
        blocks.push_back(block);
        indices.push_back(where.index);
    }
    return indices;
}

std::vector<std::size_t> Range(std::size_t first, std::size_t last) {
    std::vector<std::size_t> values;
    for (std::size_t i = first; i <= last; ++i) {
        values.push_back(i);
    }
    return values;
}

TEST(BindingValuePool, FirstBlockComesFromTheInlinePage) {
    const std::size_t pagesBefore = BindingPageSource::Instance().PagesInUse();
    PoolHandle pool = NewPool();
    void* block = pool->AllocateBlock(8);
    const auto where = pool->Locate(block, 8);
    EXPECT_EQ(where.pageSize, BindingValuePool::kInlinePageSize);
    EXPECT_EQ(where.index, 2u); // (8 + 15) / 8: blocks 0 and 1 overlap the header
    EXPECT_EQ(pool->PagesHeld(), 0u);
    EXPECT_EQ(BindingPageSource::Instance().PagesInUse(), pagesBefore);
    pool->FreeBlock(block, 8);
}

TEST(BindingValuePool, InlinePageNumbering) {
    PoolHandle pool = NewPool();
    std::vector<void*> small, medium, large;
    EXPECT_EQ(DrainInlinePage(*pool, 4, small), Range(4, 35));
    EXPECT_EQ(DrainInlinePage(*pool, 12, medium), Range(2, 11));
    EXPECT_EQ(DrainInlinePage(*pool, 72, large), Range(1, 1));
    // Sizes are rounded up to multiples of 4: 10 bytes use the drained 12-byte bin.
    void* block = pool->AllocateBlock(10);
    EXPECT_EQ(pool->Locate(block, 12).pageSize, BindingValuePool::kPageSize);
    EXPECT_EQ(pool->Locate(block, 12).index, 2u);
    pool->FreeBlock(block, 10);
    for (void* b : small) {
        pool->FreeBlock(b, 4);
    }
    for (void* b : medium) {
        pool->FreeBlock(b, 12);
    }
    for (void* b : large) {
        pool->FreeBlock(b, 72);
    }
    EXPECT_EQ(pool->PagesHeld(), 0u);
}

TEST(BindingValuePool, FullPageNumbering) {
    PoolHandle pool = NewPool();
    for (const std::size_t size : {std::size_t{12}, std::size_t{4}}) {
        std::vector<void*> inlineBlocks;
        DrainInlinePage(*pool, size, inlineBlocks);
        std::vector<void*> blocks;
        std::vector<std::size_t> indices;
        const void* page = nullptr;
        while (true) {
            void* block = pool->AllocateBlock(size);
            const auto where = pool->Locate(block, size);
            ASSERT_EQ(where.pageSize, BindingValuePool::kPageSize);
            if (page == nullptr) {
                page = where.page;
            }
            blocks.push_back(block);
            if (where.page != page) {
                break;
            }
            indices.push_back(where.index);
        }
        EXPECT_EQ(indices, size == 12 ? Range(2, 340) : Range(4, 1023)) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(page) % 4096, 0u);
        for (void* block : blocks) {
            pool->FreeBlock(block, size);
        }
        for (void* block : inlineBlocks) {
            pool->FreeBlock(block, size);
        }
        EXPECT_EQ(pool->PagesHeld(), 0u);
    }
}

TEST(BindingValuePool, FullPageIsRelinkedAfterOneFree) {
    PoolHandle pool = NewPool();
    constexpr std::size_t size = 72;
    std::vector<void*> inlineBlocks;
    DrainInlinePage(*pool, size, inlineBlocks);
    // Fill one 4096-byte page (55 blocks of 72 bytes) and start a second one.
    std::vector<void*> first;
    for (int i = 0; i < 55; ++i) {
        first.push_back(pool->AllocateBlock(size));
    }
    const void* firstPage = pool->Locate(first[0], size).page;
    EXPECT_EQ(pool->Locate(first.back(), size).index, 55u);
    void* other = pool->AllocateBlock(size);
    const void* secondPage = pool->Locate(other, size).page;
    ASSERT_NE(secondPage, firstPage);
    EXPECT_EQ(pool->FirstPage(size), secondPage);

    pool->FreeBlock(first[10], size);
    EXPECT_EQ(pool->FirstPage(size), firstPage);
    // The freed block is the next one handed out, after which the page is full again.
    EXPECT_EQ(pool->AllocateBlock(size), first[10]);
    EXPECT_EQ(pool->FirstPage(size), secondPage);

    // A second page whose last block goes back returns to the page source.
    EXPECT_EQ(pool->PagesHeld(), 2u);
    pool->FreeBlock(other, size);
    EXPECT_EQ(pool->PagesHeld(), 1u);
    EXPECT_EQ(pool->FirstPage(size), nullptr); // the remaining page is full
    for (void* block : first) {
        pool->FreeBlock(block, size);
    }
    EXPECT_EQ(pool->PagesHeld(), 0u);
    for (void* block : inlineBlocks) {
        pool->FreeBlock(block, size);
    }
    // The inline page, now with a free block, is the first page again.
    EXPECT_EQ(pool->Locate(pool->AllocateBlock(size), size).pageSize,
              BindingValuePool::kInlinePageSize);
}

TEST(BindingPageSource, ChunkIsReleasedWhenAllItsPagesAreBack) {
    BindingPageSource& source = BindingPageSource::Instance();
    ASSERT_EQ(source.PagesInUse(), 0u) << "an earlier test kept pages";
    const std::size_t regionsBefore = Platform::LiveRegionCount();

    std::vector<void*> pages;
    for (std::size_t i = 0; i < BindingPageSource::kPagesPerChunk; ++i) {
        pages.push_back(source.TakePage());
        ASSERT_NE(pages.back(), nullptr);
    }
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore + 1);
    EXPECT_EQ(source.ChunkCount(), 1u);
    // Pages of a new chunk go out from the lowest address up.
    for (std::size_t i = 1; i < pages.size(); ++i) {
        EXPECT_EQ(static_cast<char*>(pages[i]) - static_cast<char*>(pages[i - 1]), 4096);
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pages[0]) % BindingPageSource::kChunkSize, 0u);

    void* seventeenth = source.TakePage(); // the chunk is exhausted: a second one is reserved
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore + 2);

    for (std::size_t i = 0; i + 1 < pages.size(); ++i) {
        source.ReturnPage(pages[i]);
    }
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore + 2);
    source.ReturnPage(pages.back());
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore + 1);
    source.ReturnPage(seventeenth);
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore);
    EXPECT_EQ(source.PagesInUse(), 0u);
    EXPECT_EQ(source.ChunkCount(), 0u);

    // The next page reserves a fresh region.
    void* again = source.TakePage();
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore + 1);
    source.ReturnPage(again);
    source.ReturnPage(again); // a double return is ignored
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore);
}

#ifndef _WIN32
// Pages of the chunk starting at `chunk` that the system has backed with memory.
std::size_t BackedPages(void* chunk) {
    unsigned char resident[BindingPageSource::kPagesPerChunk] = {};
    if (mincore(chunk, BindingPageSource::kChunkSize, resident) != 0) {
        return SIZE_MAX;
    }
    std::size_t backed = 0;
    for (unsigned char page : resident) {
        backed += page & 1u;
    }
    return backed;
}

// Whether this system backs pages on request (emulators and old kernels accept the request and
// do nothing, or refuse it).
bool SystemBacksPagesOnRequest() {
    void* probe = Platform::ReserveRegion(BindingPageSource::kChunkSize);
    if (probe == nullptr) {
        return false;
    }
    Platform::PrepareRegion(probe, BindingPageSource::kChunkSize);
    const bool backed = BackedPages(probe) == BindingPageSource::kPagesPerChunk;
    Platform::ReleaseRegion(probe, BindingPageSource::kChunkSize);
    return backed;
}

// A tree that takes a single page (one small request) leaves the rest of its new chunk unbacked;
// a second page, or a page for a caller that already holds some, has the whole chunk backed in
// one go.
TEST(BindingPageSource, ChunkIsBackedInOneGoOnceItFillsUp) {
    if (!SystemBacksPagesOnRequest()) {
        GTEST_SKIP() << "the system does not back pages on request";
    }
    BindingPageSource& source = BindingPageSource::Instance();
    ASSERT_EQ(source.ChunkCount(), 0u) << "an earlier test kept a chunk";
    const auto chunkOf = [](void* page) {
        return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(page) &
                                       ~(std::uintptr_t{BindingPageSource::kChunkSize} - 1));
    };

    void* first = source.TakePage();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(BackedPages(chunkOf(first)), 0u);
    void* second = source.TakePage();
    ASSERT_EQ(chunkOf(second), chunkOf(first));
    EXPECT_EQ(BackedPages(chunkOf(first)), BindingPageSource::kPagesPerChunk);
    source.ReturnPage(first);
    source.ReturnPage(second);
    ASSERT_EQ(source.ChunkCount(), 0u);

    void* growing = source.TakePage(true);
    ASSERT_NE(growing, nullptr);
    EXPECT_EQ(BackedPages(chunkOf(growing)), BindingPageSource::kPagesPerChunk);
    source.ReturnPage(growing);
    EXPECT_EQ(source.ChunkCount(), 0u);
}
#endif

TEST(BindingValuePool, PoolPagesGoBackToTheSystem) {
    const std::size_t regionsBefore = Platform::LiveRegionCount();
    PoolHandle pool = NewPool();
    std::vector<void*> blocks;
    for (int i = 0; i < 20000; ++i) {
        blocks.push_back(pool->AllocateBlock(24));
    }
    EXPECT_GT(pool->PagesHeld(), 16u);
    EXPECT_GT(Platform::LiveRegionCount(), regionsBefore + 1);
    for (void* block : blocks) {
        pool->FreeBlock(block, 24);
    }
    EXPECT_EQ(pool->PagesHeld(), 0u);
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore);
}

// Requests above the bins come from the array slabs up to their largest block, and from the
// allocation entries beyond.
TEST(BindingValuePool, LargeRequestsBypassTheBins) {
    PoolHandle pool = NewPool();
    void* block = pool->AllocateBlock(200);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 200);
    EXPECT_EQ(pool->PagesHeld(), 0u);
    const std::size_t slabBytes = pool->ArraySlabBytes();
    EXPECT_GT(slabBytes, 0u);
    void* large = pool->AllocateBlock(BindingArraySlabs::kMaxBlockSize + 4);
    ASSERT_NE(large, nullptr);
    EXPECT_GE(BlockSize(large), BindingArraySlabs::kMaxBlockSize + 4);
    EXPECT_EQ(pool->ArraySlabBytes(), slabBytes);
    pool->FreeBlock(large, BindingArraySlabs::kMaxBlockSize + 4);
    pool->FreeBlock(block, 200);
    EXPECT_EQ(pool->AllocateBlock(200), block);
}

TEST(BindingValuePool, InterningCountsReferences) {
    PoolHandle pool = NewPool();
    const BindingInternedString* first = pool->Intern("status");
    const BindingInternedString* second = pool->Intern(std::string("status"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->references, 2u);
    EXPECT_EQ(first->View(), "status");
    EXPECT_EQ(first->Text()[6], '\0');
    EXPECT_EQ(first->hash, BindingHash("status"));
    EXPECT_EQ(pool->InternedCount(), 1u);

    pool->ReleaseInterned(first);
    EXPECT_EQ(pool->FindInterned("status"), second);
    pool->ReleaseInterned(second);
    EXPECT_EQ(pool->FindInterned("status"), nullptr);
    EXPECT_EQ(pool->InternedCount(), 0u);

    // The empty text is the shared constant, never counted.
    EXPECT_EQ(pool->Intern(""), &BindingInternedString::Empty());
    EXPECT_EQ(pool->InternedCount(), 0u);
    pool->ReleaseInterned(&BindingInternedString::Empty());
    // Text ends at its first zero byte.
    const BindingInternedString* cut = pool->Intern(std::string_view("ab\0cd", 5));
    EXPECT_EQ(cut, pool->Intern("ab"));
    pool->ReleaseInterned(cut);
    pool->ReleaseInterned(cut);
}

TEST(BindingValuePool, TextsCutAtAZeroShareTheCopyOfTheCutText) {
    // Intern finds the zero and hashes in one pass; whatever the length and the zero's place, it
    // must land on the same entry as the cut text given whole, or one text would get two copies.
    PoolHandle pool = NewPool();
    std::set<std::string> distinct;
    for (std::size_t length = 1; length <= 26; ++length) {
        std::string text(length, ' ');
        for (std::size_t i = 0; i < length; ++i) {
            text[i] = static_cast<char>('a' + (i * 7 + length) % 26);
        }
        const BindingInternedString* whole = pool->InternWhole(text);
        ASSERT_EQ(pool->Intern(text), whole) << "length " << length;
        distinct.insert(text);
        for (std::size_t zero = 0; zero < length; ++zero) {
            std::string cut = text;
            cut[zero] = '\0';
            const BindingInternedString* found = pool->Intern(cut);
            const BindingInternedString* direct = pool->InternWhole(cut.substr(0, zero));
            ASSERT_EQ(found, direct) << "length " << length << ", zero at " << zero;
            ASSERT_EQ(found->View(), std::string_view(cut).substr(0, zero));
            if (zero > 0) {
                distinct.insert(cut.substr(0, zero));
            }
        }
    }
    EXPECT_EQ(pool->InternedCount(), distinct.size());
}

// Under AddressSanitizer a released block is reported when touched, as a freed heap block is;
// a block in use never is, whatever its neighbours do (blocks of 12 bytes share the sanitizer's
// 8-byte granules with their neighbours).
TEST(BindingValuePool, FreeBlocksArePoisonedUnderTheAddressSanitizer) {
    if (!kPoisoningActive) {
        GTEST_SKIP() << "built without AddressSanitizer";
    }
    const auto usable = [](const void* block, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            if (IsPoisoned(static_cast<const unsigned char*>(block) + i)) {
                return false;
            }
        }
        return true;
    };
    PoolHandle pool = NewPool();
    for (const std::size_t size : {12u, 24u, 72u}) {
        std::vector<void*> blocks;
        for (int i = 0; i < 600; ++i) { // the inline page and then 4096-byte pages
            blocks.push_back(pool->AllocateBlock(size));
            ASSERT_TRUE(usable(blocks.back(), size)) << size << " / " << i;
        }
        // Free every other block: the ones kept stay usable, the freed ones are poisoned in
        // every granule that is theirs alone.
        for (std::size_t i = 0; i < blocks.size(); i += 2) {
            pool->FreeBlock(blocks[i], size);
        }
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            if (i % 2 == 1) {
                ASSERT_TRUE(usable(blocks[i], size)) << size << " / " << i;
            } else if (size % 8 == 0) {
                ASSERT_TRUE(IsPoisoned(blocks[i])) << size << " / " << i;
            }
        }
        // Taken again, a freed block is usable.
        void* again = pool->AllocateBlock(size);
        EXPECT_TRUE(usable(again, size));
        pool->FreeBlock(again, size);
        for (std::size_t i = 1; i < blocks.size(); i += 2) {
            pool->FreeBlock(blocks[i], size);
        }
    }
    // A page given back to the page source is usable for whoever takes it next.
    EXPECT_EQ(pool->PagesHeld(), 0u);
    void* page = BindingPageSource::Instance().TakePage();
    EXPECT_TRUE(usable(page, BindingValuePool::kPageSize));
    BindingPageSource::Instance().ReturnPage(page);

    // The element array of a short collection is a pool block too.
    BindingProperty root;
    BindingProperty& list = root.Member("list");
    list.Append() = 1;
    list.Append() = 2;
    const BindingProperty* element = &list.Element(0);
    EXPECT_FALSE(IsPoisoned(element));
    list.Clear();
    EXPECT_TRUE(IsPoisoned(element));
}

TEST(BindingValuePool, InternTableGrowsAndKeepsEveryEntry) {
    PoolHandle pool = NewPool();
    EXPECT_EQ(pool->InternBucketCount(), 0u);
    std::vector<std::string> texts;
    std::vector<const BindingInternedString*> entries;
    for (int i = 0; i < 3000; ++i) {
        // Some texts are long enough to live outside the pool's blocks.
        texts.push_back("member-" + std::to_string(i) + std::string(i % 3 == 0 ? 80 : 0, 'x'));
        entries.push_back(pool->Intern(texts.back()));
        if (i == 0) {
            EXPECT_EQ(pool->InternBucketCount(), BindingValuePool::kInitialInternBuckets);
        }
    }
    EXPECT_EQ(pool->InternedCount(), 3000u);
    EXPECT_GE(pool->InternBucketCount(), 3000u);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(pool->FindInterned(texts[i]), entries[i]);
        EXPECT_EQ(entries[i]->View(), texts[i]);
    }
    for (const BindingInternedString* entry : entries) {
        pool->ReleaseInterned(entry);
    }
    EXPECT_EQ(pool->InternedCount(), 0u);
    EXPECT_EQ(pool->PagesHeld(), 0u);
}

// The intern table compares texts with SameBytes: a difference at any position, in any bit, must
// tell two texts apart, at every length around the word steps and beyond the inline limit.
TEST(BindingValuePool, TextComparisonSeesEveryDifferingByte) {
    for (std::size_t size = 0; size <= 80; ++size) {
        std::string a(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            a[i] = static_cast<char>('a' + i % 26);
        }
        const std::string same = a;
        EXPECT_TRUE(SameBytes(a.data(), same.data(), size)) << size;
        for (std::size_t at = 0; at < size; ++at) {
            for (const unsigned char flip : {0x01, 0x80}) {
                std::string other = a;
                other[at] = static_cast<char>(static_cast<unsigned char>(other[at]) ^ flip);
                EXPECT_FALSE(SameBytes(a.data(), other.data(), size))
                    << "size " << size << " position " << at << " bit " << int{flip};
            }
        }
    }
}

TEST(BindingValuePool, PoolsInternIndependently) {
    PoolHandle a = NewPool();
    PoolHandle b = NewPool();
    const BindingInternedString* inA = a->Intern("shared");
    const BindingInternedString* inB = b->Intern("shared");
    EXPECT_NE(inA, inB);
    a->ReleaseInterned(inA);
    EXPECT_EQ(a->FindInterned("shared"), nullptr);
    EXPECT_EQ(b->FindInterned("shared"), inB);
    EXPECT_EQ(inB->View(), "shared");
    b->ReleaseInterned(inB);
}

TEST(BindingValuePool, InternTableKeepsLookupsRightThroughReleasesInAnyOrder) {
    PoolHandle pool = NewPool();
    // Similar texts, some held twice; released in a scrambled order, so that entries leave from
    // the middle of probe runs and the runs behind them must stay reachable.
    std::vector<std::string> texts;
    std::vector<const BindingInternedString*> held;
    for (int i = 0; i < 2000; ++i) {
        texts.push_back("k" + std::to_string(i));
        held.push_back(pool->Intern(texts.back()));
        if (i % 3 == 0) {
            held.push_back(pool->Intern(texts.back()));
        }
    }
    EXPECT_EQ(pool->InternedCount(), 2000u);
    std::vector<int> remaining(2000, 1);
    for (int i = 0; i < 2000; i += 3) {
        remaining[static_cast<std::size_t>(i)] = 2;
    }
    std::size_t step = 0;
    for (std::size_t k = 0; k < held.size(); ++k) {
        const std::size_t at = (k * 7919) % held.size(); // 7919 is prime, the walk visits all
        const BindingInternedString* entry = held[at];
        const int index = std::stoi(std::string(entry->View().substr(1)));
        pool->ReleaseInterned(entry);
        --remaining[static_cast<std::size_t>(index)];
        if (++step % 250 == 0) {
            for (std::size_t t = 0; t < texts.size(); ++t) {
                const BindingInternedString* found = pool->FindInterned(texts[t]);
                if (remaining[t] > 0) {
                    ASSERT_NE(found, nullptr) << texts[t];
                    EXPECT_EQ(found->View(), texts[t]);
                    EXPECT_EQ(found->references, static_cast<std::uint32_t>(remaining[t]));
                } else {
                    EXPECT_EQ(found, nullptr) << texts[t];
                }
            }
        }
    }
    EXPECT_EQ(pool->InternedCount(), 0u);
    EXPECT_EQ(pool->PagesHeld(), 0u);
}

TEST(BindingPageSource, RegionsKeptWhileReturningGoBackTogether) {
    BindingPageSource& source = BindingPageSource::Instance();
    ASSERT_EQ(source.PagesInUse(), 0u) << "an earlier test kept pages";
    const std::size_t regionsBefore = Platform::LiveRegionCount();
    std::vector<void*> pages;
    for (std::size_t i = 0; i < 3 * BindingPageSource::kPagesPerChunk; ++i) {
        pages.push_back(source.TakePage());
        ASSERT_NE(pages.back(), nullptr);
    }
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore + 3);
    std::vector<void*> regions;
    for (void* page : pages) {
        if (void* region = source.ReturnPageKeepingRegion(page)) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region) % BindingPageSource::kChunkSize, 0u);
            regions.push_back(region);
        }
    }
    // The source has forgotten the chunks; their regions wait for the caller.
    EXPECT_EQ(regions.size(), 3u);
    EXPECT_EQ(source.PagesInUse(), 0u);
    EXPECT_EQ(source.ChunkCount(), 0u);
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore + 3);
    EXPECT_EQ(source.ReturnPageKeepingRegion(nullptr), nullptr);
    BindingPageSource::ReleaseRegions(regions.data(), regions.size());
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore);
    // A new page needs a new region again.
    void* again = source.TakePage();
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore + 1);
    source.ReturnPage(again);
    EXPECT_EQ(Platform::LiveRegionCount(), regionsBefore);
}

} // namespace

namespace {

TEST(BindingPageSource, ConcurrentTreesOnManyThreadsGiveEveryPageBack) {
    // Each thread builds and drops trees of its own (their pools take and return pages of the one
    // page source) and takes pages directly.
    BindingPageSource& source = BindingPageSource::Instance();
    const std::size_t pagesBefore = source.PagesInUse();
    constexpr int kThreads = 4;
    std::vector<std::future<std::size_t>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [t] {
            std::size_t elements = 0;
            for (int round = 0; round < 40; ++round) {
                BindingProperty tree;
                for (int i = 0; i < 300; ++i) {
                    BindingProperty& member = tree.Member("m" + std::to_string(i % 50));
                    member.Append().SetString(std::string(static_cast<std::size_t>(8 + i % 90),
                                                          static_cast<char>('a' + t)));
                }
                elements += tree.Size();
                void* page = BindingPageSource::Instance().TakePage();
                EXPECT_NE(page, nullptr);
                if (page != nullptr) {
                    std::memset(page, t, BindingPageSource::kPageSize);
                    BindingPageSource::Instance().ReturnPage(page);
                }
            }
            return elements;
        }));
    }
    for (auto& worker : workers) {
        EXPECT_EQ(worker.get(), 40u * 50u);
    }
    EXPECT_EQ(source.PagesInUse(), pagesBefore);
}

} // namespace
