// Random sequences of block requests, frees, interning and releases across several value pools,
// checked after every step against a plain model of the pools and of the page source under them:
// which block comes next (its exact address), which page is a bin's first page, when a page goes
// back and when a chunk is reserved or given back to the system.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/address_poisoning.h"
#include "binding/binding_page_source.h"
#include "binding/binding_value_pool.h"
#include "platform/virtual_memory.h"
#include "support/split_mix.h"

namespace {

using namespace Korvel;
using Korvel::Testing::SplitMix64;

constexpr std::uintptr_t kPage = 4096;
constexpr std::uintptr_t kInlinePage = 144;
constexpr std::uintptr_t kChunk = 65536;
constexpr std::size_t kPagesPerChunk = 16;
constexpr std::size_t kBins = 18;

std::uintptr_t Addr(const void* at) {
    return reinterpret_cast<std::uintptr_t>(at);
}

std::size_t Rounded(std::size_t size) {
    return (size + 3) / 4 * 4;
}

std::uint32_t Fnv1a(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash;
}

// The page source as far as this test's pools use it. Each chunk keeps its free pages as a
// stack; the pages a dying pool gives back together form one group, taken in any order.
struct SourceModel {
    std::map<std::uintptr_t, std::vector<std::vector<std::uintptr_t>>> chunks;
    std::size_t pagesHeld = 0;
    std::size_t reserved = 0; // events, to show the run reached them
    std::size_t released = 0;

    void Take(std::uintptr_t page) {
        const std::uintptr_t chunk = page & ~(kChunk - 1);
        const bool anyFree = std::any_of(chunks.begin(), chunks.end(),
                                         [](const auto& entry) { return !entry.second.empty(); });
        ++pagesHeld;
        if (!anyFree) {
            ASSERT_EQ(chunks.count(chunk), 0u) << "a page of a chunk with no free page";
            ASSERT_EQ(page, chunk) << "a new chunk hands out its lowest page first";
            auto& groups = chunks[chunk];
            for (std::size_t i = kPagesPerChunk - 1; i >= 1; --i) {
                groups.push_back({chunk + i * kPage});
            }
            ++reserved;
            return;
        }
        auto found = chunks.find(chunk);
        ASSERT_TRUE(found != chunks.end() && !found->second.empty())
            << "a page of a chunk with no free page while others have some";
        auto& top = found->second.back();
        const auto at = std::find(top.begin(), top.end(), page);
        ASSERT_NE(at, top.end()) << "not the page given back last in its chunk";
        top.erase(at);
        if (top.empty()) {
            found->second.pop_back();
        }
    }

    // Gives pages back; returns how many chunks became wholly free (and are gone).
    std::size_t Return(const std::vector<std::uintptr_t>& pages) {
        std::map<std::uintptr_t, std::vector<std::uintptr_t>> byChunk;
        for (const std::uintptr_t page : pages) {
            byChunk[page & ~(kChunk - 1)].push_back(page);
        }
        std::size_t emptied = 0;
        for (const auto& [chunk, group] : byChunk) {
            auto& groups = chunks[chunk];
            groups.push_back(group);
            pagesHeld -= group.size();
            const auto free =
                std::accumulate(groups.begin(), groups.end(), std::size_t{0},
                                [](std::size_t n, const auto& g) { return n + g.size(); });
            if (free == kPagesPerChunk) {
                chunks.erase(chunk);
                ++emptied;
            }
        }
        released += emptied;
        return emptied;
    }
};

struct PageModel {
    std::vector<std::size_t> free; // free block indices; the back is handed out next
    std::size_t inUse = 0;
};

PageModel Format(std::size_t pageSize, std::size_t blockSize) {
    PageModel page;
    const std::size_t first = (blockSize + 15) / blockSize;
    for (std::size_t i = pageSize / blockSize; i-- > first;) {
        page.free.push_back(i);
    }
    return page;
}

struct BinModel {
    std::uintptr_t inlinePage = 0;
    std::map<std::uintptr_t, PageModel> pages;
    std::deque<std::uintptr_t> withFree; // front: the bin's first page
};

struct PoolModel {
    BindingValuePool* pool = nullptr;
    std::array<BinModel, kBins> bins;
    std::size_t pagesHeld = 0;
    std::map<std::string, std::pair<std::uintptr_t, std::uint32_t>> interned; // entry, count
    std::size_t buckets = 0;
    int releaseDepth = 0;
    std::size_t pendingRegions = 0;
};

PoolModel NewPool() {
    PoolModel m;
    m.pool = BindingValuePool::Create();
    for (std::size_t i = 0; i < kBins; ++i) {
        BinModel& bin = m.bins[i];
        bin.inlinePage = Addr(m.pool->FirstPage(4 * (i + 1)));
        bin.pages[bin.inlinePage] = Format(kInlinePage, 4 * (i + 1));
        bin.withFree.push_back(bin.inlinePage);
    }
    return m;
}

struct HeldBlock {
    std::size_t pool;
    unsigned char* block;
    std::size_t size;
    unsigned char tag;
};

struct HeldText {
    std::size_t pool;
    std::string text;
    const BindingInternedString* entry;
};

class Harness {
public:
    explicit Harness(std::uint64_t seed) : rng_(seed) {
        // Pages of chunks that other code reserved are taken until the source has to reserve a
        // new chunk (whose only page goes straight back), so that every chunk with a free page
        // from now on is one the model has seen reserved.
        BindingPageSource& source = BindingPageSource::Instance();
        for (const std::size_t chunks = source.ChunkCount(); void* page = source.TakePage();) {
            if (source.ChunkCount() != chunks) {
                source.ReturnPage(page);
                break;
            }
            foreign_.push_back(page);
        }
        pagesBefore_ = source.PagesInUse();
        chunksBefore_ = source.ChunkCount();
        regionsBefore_ = Platform::LiveRegionCount();
        // Texts of every storage class: a bin block (up to 55 bytes), an array-slab block, the
        // heap; some with a zero byte inside (the text ends there) and the empty text.
        for (int i = 0; i < 40; ++i) {
            const std::uint64_t r = Next(100);
            const std::size_t length = r < 70   ? Next(56)
                                       : r < 90 ? 56 + Next(400)
                                                : 2040 + Next(60);
            std::string text;
            for (std::size_t c = 0; c < length; ++c) {
                text += static_cast<char>('a' + Next(3)); // few letters: shared prefixes
            }
            if (Next(6) == 0 && !text.empty()) {
                text[Next(text.size())] = '\0';
            }
            vocabulary_.push_back(text);
        }
        for (int i = 0; i < 3; ++i) {
            pools_.push_back(NewPool());
        }
    }

    ~Harness() {
        for (void* page : foreign_) {
            BindingPageSource::Instance().ReturnPage(page);
        }
    }

    // Destroys every pool: the source is back where it was.
    void Finish() {
        for (PoolModel& m : pools_) {
            Destroy(m);
        }
        pools_.clear();
        Check();
    }

    std::uint64_t Next(std::uint64_t bound) { return rng_.Next() % bound; }

    void Step() {
        if (growing_ ? blocks_.size() > target_ : blocks_.size() <= target_) {
            growing_ = !growing_;
            target_ = growing_ ? 100 + Next(900) : Next(8);
        }
        const std::size_t k = Next(pools_.size());
        const std::uint64_t r = Next(1000);
        // Cumulative shares of: small blocks, frees, interning, releases, large blocks.
        static constexpr std::uint64_t kGrow[] = {550, 750, 850, 920, 950};
        static constexpr std::uint64_t kShrink[] = {200, 750, 800, 960, 970};
        const std::uint64_t* share = growing_ ? kGrow : kShrink;
        if (r < share[0]) {
            static constexpr std::size_t kSizes[] = {4, 12, 24, 40, 72};
            Allocate(k, Next(2) == 0 ? kSizes[Next(5)] : 1 + Next(72));
        } else if (r < share[1]) {
            FreeBlock(Next(blocks_.size() + 1));
        } else if (r < share[2]) {
            Intern(k, vocabulary_[Next(vocabulary_.size())]);
        } else if (r < share[3]) {
            Release(Next(texts_.size() + 1));
        } else if (r < share[4]) {
            Allocate(k, 73 + Next(3000)); // beyond the bins
        } else if (r < 990) {
            PoolModel& m = pools_[k];
            if (m.releaseDepth < 2 && Next(2) == 0) {
                m.pool->BeginRelease();
                ++m.releaseDepth;
            } else if (m.releaseDepth > 0) {
                m.pool->EndRelease();
                if (--m.releaseDepth == 0) {
                    m.pendingRegions = 0;
                }
            }
        } else if (r < 991) {
            Destroy(pools_[k]);
            pools_[k] = NewPool();
        }
    }

    void Allocate(std::size_t k, std::size_t size) {
        PoolModel& m = pools_[k];
        auto* block = static_cast<unsigned char*>(m.pool->AllocateBlock(size));
        ASSERT_NE(block, nullptr);
        if (size <= 72) {
            ASSERT_NO_FATAL_FAILURE(TakeBlock(m, size, block));
        }
        const auto tag = static_cast<unsigned char>(Next(256));
        std::memset(block, tag, size);
        blocks_.push_back({k, block, size, tag});
    }

    void FreeBlock(std::size_t j) {
        if (j >= blocks_.size()) {
            return;
        }
        const HeldBlock held = blocks_[j];
        blocks_[j] = blocks_.back();
        blocks_.pop_back();
        ASSERT_TRUE(Intact(held)) << "a block of " << held.size << " bytes was overwritten";
        pools_[held.pool].pool->FreeBlock(held.block, held.size);
        if (held.size <= 72) {
            GiveBlock(pools_[held.pool], held.size, held.block);
        }
    }

    void Intern(std::size_t k, const std::string& raw) {
        PoolModel& m = pools_[k];
        const std::string text = raw.substr(0, raw.find('\0'));
        const BindingInternedString* entry = m.pool->Intern(raw);
        texts_.push_back({k, text, entry});
        if (text.empty()) {
            ASSERT_EQ(entry, &BindingInternedString::Empty());
            return;
        }
        auto found = m.interned.find(text);
        if (found != m.interned.end()) {
            ASSERT_EQ(Addr(entry), found->second.first) << "equal texts share one copy";
            ++found->second.second;
        } else {
            if (4 * (m.interned.size() + 1) > 3 * m.buckets) {
                m.buckets = m.buckets == 0 ? 8 : 2 * m.buckets;
            }
            // The copy lives in one block with its 16-byte header and terminator.
            const std::size_t blockSize = Rounded(16 + text.size() + 1);
            if (blockSize <= 72) {
                ASSERT_NO_FATAL_FAILURE(TakeBlock(m, blockSize, entry));
            }
            found = m.interned.emplace(text, std::make_pair(Addr(entry), 1u)).first;
        }
        ASSERT_EQ(entry->View(), text);
        EXPECT_EQ(entry->Text()[text.size()], '\0');
        EXPECT_EQ(entry->references, found->second.second);
        EXPECT_EQ(entry->hash, Fnv1a(text));
    }

    void Release(std::size_t j) {
        if (j >= texts_.size()) {
            return;
        }
        const HeldText held = texts_[j];
        texts_[j] = texts_.back();
        texts_.pop_back();
        PoolModel& m = pools_[held.pool];
        ASSERT_EQ(held.entry->View(), held.text);
        m.pool->ReleaseInterned(held.entry);
        if (held.text.empty()) {
            return;
        }
        auto found = m.interned.find(held.text);
        if (--found->second.second != 0) {
            EXPECT_EQ(held.entry->references, found->second.second);
            return;
        }
        m.interned.erase(found);
        EXPECT_EQ(m.pool->FindInterned(held.text), nullptr);
        const std::size_t blockSize = Rounded(16 + held.text.size() + 1);
        if (blockSize <= 72) {
            GiveBlock(m, blockSize, held.entry);
        }
    }

    // A tree going away: the pool is torn down with blocks and strings still held; every page
    // goes back at once.
    void Destroy(PoolModel& m) {
        const std::size_t k = static_cast<std::size_t>(&m - pools_.data());
        m.pool->BeginTeardown();
        for (std::size_t j = blocks_.size(); j-- > 0;) {
            if (blocks_[j].pool == k) {
                EXPECT_TRUE(Intact(blocks_[j]));
                m.pool->FreeBlock(blocks_[j].block, blocks_[j].size); // a heap block is freed
                blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(j));
            }
        }
        texts_.erase(std::remove_if(texts_.begin(), texts_.end(),
                                    [k](const HeldText& t) { return t.pool == k; }),
                     texts_.end());
        BindingValuePool::Destroy(m.pool);
        std::vector<std::uintptr_t> pages;
        for (const BinModel& bin : m.bins) {
            for (const auto& entry : bin.pages) {
                if (entry.first != bin.inlinePage) {
                    pages.push_back(entry.first);
                }
            }
        }
        source_.Return(pages);
        m = PoolModel{};
    }

    void TakeBlock(PoolModel& m, std::size_t size, const void* block) {
        const std::size_t rounded = Rounded(size);
        BinModel& bin = m.bins[rounded / 4 - 1];
        if (bin.withFree.empty()) {
            const std::uintptr_t base = Addr(block) & ~(kPage - 1);
            ASSERT_EQ(bin.pages.count(base), 0u) << "a new page that the bin holds already";
            ASSERT_NO_FATAL_FAILURE(source_.Take(base));
            bin.pages[base] = Format(kPage, rounded);
            bin.withFree.push_front(base);
            ++m.pagesHeld;
        }
        const std::uintptr_t base = bin.withFree.front();
        PageModel& page = bin.pages[base];
        const std::size_t index = page.free.back();
        page.free.pop_back();
        ++page.inUse;
        ASSERT_EQ(Addr(block), base + index * rounded) << "block of " << size << " bytes";
        const auto where = m.pool->Locate(block, size);
        EXPECT_EQ(Addr(where.page), base);
        EXPECT_EQ(where.pageSize, base == bin.inlinePage ? kInlinePage : kPage);
        EXPECT_EQ(where.index, index);
        if (page.free.empty()) {
            bin.withFree.pop_front();
            ++fullPages_;
        }
    }

    void GiveBlock(PoolModel& m, std::size_t size, const void* block) {
        const std::size_t rounded = Rounded(size);
        BinModel& bin = m.bins[rounded / 4 - 1];
        const bool isInline = Addr(block) >= bin.inlinePage && Addr(block) < bin.inlinePage + 144;
        const std::uintptr_t base = isInline ? bin.inlinePage : Addr(block) & ~(kPage - 1);
        const auto found = bin.pages.find(base);
        ASSERT_NE(found, bin.pages.end()) << "a block of a page the bin does not hold";
        PageModel& page = found->second;
        const std::size_t next = page.free.empty() ? 0 : page.free.back();
        if (page.free.empty()) {
            bin.withFree.push_front(base); // a full page is again the first page
        }
        page.free.push_back((Addr(block) - base) / rounded);
        if (--page.inUse != 0 || isInline) {
            if (!kPoisoningActive) { // a free block holds the index of the next free one
                std::uint16_t stored = 0;
                std::memcpy(&stored, block, sizeof stored);
                EXPECT_EQ(stored, next);
            }
            return;
        }
        bin.withFree.erase(std::find(bin.withFree.begin(), bin.withFree.end(), base));
        bin.pages.erase(found);
        --m.pagesHeld;
        const std::size_t emptied = source_.Return({base});
        if (m.releaseDepth > 0) {
            m.pendingRegions += emptied;
            pendingSeen_ += emptied;
        }
    }

    void Check() {
        std::size_t pending = 0;
        for (std::size_t k = 0; k < pools_.size(); ++k) {
            const PoolModel& m = pools_[k];
            for (std::size_t i = 0; i < kBins; ++i) {
                const BinModel& bin = m.bins[i];
                ASSERT_EQ(Addr(m.pool->FirstPage(4 * (i + 1))),
                          bin.withFree.empty() ? 0 : bin.withFree.front())
                    << "first page of pool " << k << ", blocks of " << 4 * (i + 1);
            }
            ASSERT_EQ(m.pool->PagesHeld(), m.pagesHeld) << "pool " << k;
            ASSERT_EQ(m.pool->InternedCount(), m.interned.size()) << "pool " << k;
            ASSERT_EQ(m.pool->InternBucketCount(), m.buckets) << "pool " << k;
            pending += m.pendingRegions;
        }
        BindingPageSource& source = BindingPageSource::Instance();
        ASSERT_EQ(source.PagesInUse(), pagesBefore_ + source_.pagesHeld);
        ASSERT_EQ(source.ChunkCount(), chunksBefore_ + source_.chunks.size());
        ASSERT_EQ(Platform::LiveRegionCount(), regionsBefore_ + source_.chunks.size() + pending);
    }

    static bool Intact(const HeldBlock& held) {
        return std::all_of(held.block, held.block + held.size,
                           [&](unsigned char c) { return c == held.tag; });
    }

    SourceModel source_;
    std::size_t fullPages_ = 0;
    std::size_t pendingSeen_ = 0;

private:
    std::vector<void*> foreign_;
    std::size_t pagesBefore_ = 0;
    std::size_t chunksBefore_ = 0;
    std::size_t regionsBefore_ = 0;
    SplitMix64 rng_;
    std::vector<std::string> vocabulary_;
    std::vector<PoolModel> pools_;
    std::vector<HeldBlock> blocks_;
    std::vector<HeldText> texts_;
    bool growing_ = true;
    std::size_t target_ = 600;
};

TEST(BindingValuePoolModel, RandomSequencesMatchTheModel) {
    std::size_t reserved = 0, released = 0, fullPages = 0, pending = 0;
    for (const std::uint64_t seed : {1u, 2u, 0x5eedu, 77u}) {
        Harness harness(seed);
        for (int step = 0; step < 6000 && !::testing::Test::HasFailure(); ++step) {
            harness.Step();
            if (!::testing::Test::HasFailure()) {
                harness.Check();
            }
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "seed " << seed << ", step " << step;
            }
        }
        harness.Finish();
        reserved += harness.source_.reserved;
        released += harness.source_.released;
        fullPages += harness.fullPages_;
        pending += harness.pendingSeen_;
    }
    // The sequences reach what they are meant to check.
    EXPECT_GT(reserved, 8u);
    EXPECT_GT(released, 4u);
    EXPECT_GT(fullPages, 100u);
    EXPECT_GT(pending, 2u);
}

} // namespace
