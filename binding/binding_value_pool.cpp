#include "binding/binding_value_pool.h"

#include <cstring>
#include <new>

#include "binding/address_poisoning.h"
#include "binding/binding_page_source.h"
#include "binding/binding_property.h"
#include "binding/static_type_id.h"
#include "binding/text_up_to_zero.h"
#include "diagnostics/allocation.h"

namespace Korvel {

// Page header, the first 16 bytes of every page (the bin's inline 144-byte page and the 4096-byte
// pages of the page source).
//
// A header with two pointer links and three 16-bit fields needs 22 bytes on a 64-bit build, more
// than the 16 bytes that the block numbering reserves. The header is therefore packed into two
// 64-bit words, the same in the 32-bit and the 64-bit build:
//   word 0: bits 12..63 the link to the next page, bits 0..11 the number of blocks in use;
//   word 1: bits 12..63 the link to the previous page, bits 0..10 the index of the first free
//           block (0 when the page is full), bit 11 set for a 4096-byte page.
// A link is the page's address, which for a page of the page source is a multiple of 4096 and so
// leaves the low 12 bits free; the bin's own inline page (which is only 16-byte aligned) is
// written as the value 0x1000, which never is a page address (it would be the second page of a
// chunk at address 0, and no region is ever placed there); 0 means no page. Links only ever point
// at pages of the same bin, so the inline page they mean is unambiguous. Counts fit: at most 1020
// blocks per page and block indices below 1024.
struct BindingValuePool::PageHeader {
    static constexpr std::uint64_t kLowMask = 0xFFF;
    static constexpr std::uint64_t kInlineLink = 0x1000;
    static constexpr std::uint64_t kFreeMask = 0x7FF;
    static constexpr std::uint64_t kLargeBit = 0x800;

    std::uint64_t nextAndInUse;
    std::uint64_t previousAndFree;

    static std::uint64_t Encode(PageHeader* page, Bin& bin) noexcept {
        if (page == nullptr) {
            return 0;
        }
        if (static_cast<void*>(page) == static_cast<void*>(bin.inlinePage)) {
            return kInlineLink;
        }
        return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(page));
    }
    static PageHeader* Decode(std::uint64_t link, Bin& bin) noexcept {
        link &= ~kLowMask;
        if (link == 0) {
            return nullptr;
        }
        if (link == kInlineLink) {
            return reinterpret_cast<PageHeader*>(bin.inlinePage);
        }
        return reinterpret_cast<PageHeader*>(static_cast<std::uintptr_t>(link));
    }

    PageHeader* Next(Bin& bin) const noexcept { return Decode(nextAndInUse, bin); }
    PageHeader* Previous(Bin& bin) const noexcept { return Decode(previousAndFree, bin); }
    void SetNext(PageHeader* page, Bin& bin) noexcept {
        nextAndInUse = Encode(page, bin) | (nextAndInUse & kLowMask);
    }
    void SetPrevious(PageHeader* page, Bin& bin) noexcept {
        previousAndFree = Encode(page, bin) | (previousAndFree & kLowMask);
    }
    std::size_t InUse() const noexcept { return static_cast<std::size_t>(nextAndInUse & kLowMask); }
    void SetInUse(std::size_t count) noexcept {
        nextAndInUse = (nextAndInUse & ~kLowMask) | (static_cast<std::uint64_t>(count) & kLowMask);
    }
    std::size_t FirstFree() const noexcept {
        return static_cast<std::size_t>(previousAndFree & kFreeMask);
    }
    void SetFirstFree(std::size_t index) noexcept {
        previousAndFree =
            (previousAndFree & ~kFreeMask) | (static_cast<std::uint64_t>(index) & kFreeMask);
    }
    std::size_t PageSize() const noexcept {
        return (previousAndFree & kLargeBit) != 0 ? kPageSize : kInlinePageSize;
    }
};

static_assert(sizeof(std::uint64_t) * 2 == BindingValuePool::kPageHeaderSize);

// A slot of the intern table. Its hash is the slot hash of the entry's text (see SlotHash), not
// the binding hash the entry carries.
struct BindingValuePool::InternSlot {
    std::uint32_t hash;
    BindingInternedString* entry; // null: a free slot
};

namespace {

std::size_t RoundToGranularity(std::size_t size) noexcept {
    if (size == 0) {
        size = 1;
    }
    return (size + BindingValuePool::kBlockGranularity - 1) &
           ~(BindingValuePool::kBlockGranularity - 1);
}

std::uint16_t ReadIndex(const unsigned char* block) noexcept {
    std::uint16_t index;
    std::memcpy(&index, block, sizeof index);
    return index;
}

void WriteIndex(unsigned char* block, std::size_t index) noexcept {
    const auto value = static_cast<std::uint16_t>(index);
    std::memcpy(block, &value, sizeof value);
}

std::size_t InternedBlockSize(std::size_t length) noexcept {
    const std::size_t raw = sizeof(BindingInternedString) + length + 1;
    constexpr std::size_t align = alignof(BindingInternedString);
    return (raw + align - 1) & ~(align - 1);
}

// Empties `hole` in a table of open addressing with linear probing (`mask` + 1 slots, a power of
// two) by backward-shift deletion: later entries of the probe run whose home slot does not lie
// between the hole and themselves move into the hole, so no run is broken. `home` gives an
// entry's home slot, `isFree` tells a free slot, and `freeSlot` is written into the last hole.
template <typename Slot, typename Home, typename IsFree>
void CloseHole(Slot* slots, std::size_t mask, std::size_t hole, Home home, IsFree isFree,
               const Slot& freeSlot) noexcept {
    for (std::size_t next = (hole + 1) & mask; !isFree(slots[next]); next = (next + 1) & mask) {
        const std::size_t at = home(slots[next]);
        const bool homeInBetween =
            hole <= next ? (hole < at && at <= next) : (hole < at || at <= next);
        if (!homeInBetween) {
            slots[hole] = slots[next];
            hole = next;
        }
    }
    slots[hole] = freeSlot;
}

// The hash that places texts in the intern table. It reads eight bytes at a time and so costs a
// fraction of the binding hash, which goes byte by byte; that one is computed only when a new
// entry is made, and lookups of texts already present (most of them) never need it.
//
// With kStopAtZero the same pass also looks for a zero byte in every word it reads and gives up
// (returns kZeroFound) on finding one, so that a text which may hold a zero is measured and hashed
// in one pass; the caller cuts the text and hashes it again in that rare case.
constexpr std::uint64_t kZeroFound = ~std::uint64_t{0}; // never a 32-bit hash

template <bool kStopAtZero>
std::uint64_t HashWords(std::string_view text) noexcept {
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    const auto hasZero = [](std::uint64_t word) {
        return kStopAtZero && ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
    };
    std::uint64_t hash = (text.size() + 1) * kMultiplier;
    const char* at = text.data();
    std::size_t left = text.size();
    while (left >= 8) {
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        if (hasZero(word)) {
            return kZeroFound;
        }
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 29;
        at += 8;
        left -= 8;
    }
    if (left > 0) {
        // The last bytes are read with loads that may overlap bytes already mixed in (the length
        // is part of the hash, so texts of different lengths still differ).
        std::uint64_t word;
        if (text.size() >= 8) {
            std::memcpy(&word, text.data() + text.size() - 8, sizeof word);
            if (hasZero(word)) {
                return kZeroFound;
            }
        } else if (left >= 4) {
            std::uint32_t low;
            std::uint32_t high;
            std::memcpy(&low, at, sizeof low);
            std::memcpy(&high, at + left - 4, sizeof high);
            word = low | (static_cast<std::uint64_t>(high) << 32);
            if (hasZero(word)) {
                return kZeroFound;
            }
        } else {
            // One to three bytes: these three reads cover all of them.
            const auto byte = [at](std::size_t i) {
                return static_cast<std::uint64_t>(static_cast<unsigned char>(at[i]));
            };
            if (kStopAtZero && (byte(0) == 0 || byte(left / 2) == 0 || byte(left - 1) == 0)) {
                return kZeroFound;
            }
            word = byte(0) | (byte(left / 2) << 8) | (byte(left - 1) << 16);
        }
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 29;
    }
    return hash >> 32;
}

std::uint32_t SlotHash(std::string_view text) noexcept {
    return static_cast<std::uint32_t>(HashWords<false>(text));
}

} // namespace

constinit const BindingSharedEmptyString kBindingSharedEmptyString = {{kBindingHashBasis, 0, 0, 0},
                                                                      {}};

BindingValuePool* BindingValuePool::Create() {
    void* memory = Allocate(sizeof(BindingValuePool));
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return new (memory) BindingValuePool();
}

void BindingValuePool::Destroy(BindingValuePool* pool) noexcept {
    if (pool == nullptr) {
        return;
    }
    pool->~BindingValuePool();
    Free(pool);
}

BindingValuePool::BindingValuePool() noexcept {
    for (Bin& bin : bins_) {
        bin.firstPage = nullptr;
    }
}

BindingValuePool::~BindingValuePool() {
    if (discard_ != nullptr) {
        discard_->~BindingProperty();
        FreeBlock(discard_, sizeof(BindingProperty));
        discard_ = nullptr;
    }
    // Entries still present belong to a tree torn down with the pool (or to values that were
    // never released): free the copies kept on the general heap; the others go with the pages
    // and the array slabs.
    for (std::size_t i = 0; largeInternCount_ != 0 && i < internSlotCount_; ++i) {
        BindingInternedString* entry = internSlots_[i].entry;
        if (entry != nullptr && IsHeapBlock(InternedBlockSize(entry->length))) {
            Free(entry);
            --largeInternCount_;
        }
    }
    // Every page still held goes back; the chunks they empty are released together (a release
    // scope that the going pool never closes).
    ++releaseDepth_;
    for (std::size_t i = 0; i < pageSlotCount_; ++i) {
        if (pageSlots_[i] != nullptr) {
            ReturnPage(pageSlots_[i]);
        }
    }
    if (pendingCount_ != 0) {
        ReleasePendingRegions();
    }
    Free(pageSlots_);
    Free(internSlots_);
}

BindingValuePool::Bin& BindingValuePool::BinFor(std::size_t roundedSize) noexcept {
    const std::size_t index = roundedSize / kBlockGranularity - 1;
    Bin& bin = bins_[index];
    const std::uint32_t bit = 1u << index;
    if ((formattedBins_ & bit) == 0) {
        formattedBins_ |= bit;
        FormatPage(bin.inlinePage, kInlinePageSize, roundedSize, true);
        bin.firstPage = reinterpret_cast<PageHeader*>(bin.inlinePage);
    }
    return bin;
}

void BindingValuePool::FormatPage(unsigned char* page, std::size_t pageSize, std::size_t blockSize,
                                  bool isInline) noexcept {
    // A page of the page source may come from another pool that left blocks of other sizes
    // poisoned in it.
    UnpoisonBytes(page, pageSize);
    auto* header = reinterpret_cast<PageHeader*>(page);
    header->nextAndInUse = 0;
    header->previousAndFree = isInline ? 0 : PageHeader::kLargeBit;
    const std::size_t first = (blockSize + kPageHeaderSize - 1) / blockSize;
    const std::size_t last = pageSize / blockSize - 1;
    for (std::size_t index = first; index < last; ++index) {
        WriteIndex(page + index * blockSize, index + 1);
    }
    WriteIndex(page + last * blockSize, 0);
    header->SetFirstFree(first);
    PoisonBytes(page + first * blockSize, (last + 1 - first) * blockSize);
}

void* BindingValuePool::AllocateBlock(std::size_t size) {
    const std::size_t rounded = RoundToGranularity(size);
    if (rounded > kMaxBlockSize) {
        void* block = IsHeapBlock(rounded) ? Allocate(rounded) : arrays_.Allocate(rounded);
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        return block;
    }
    Bin& bin = BinFor(rounded);
    if (bin.firstPage == nullptr) {
        auto* page =
            static_cast<unsigned char*>(BindingPageSource::Instance().TakePage(pagesHeld_ != 0));
        if (page == nullptr) {
            throw std::bad_alloc();
        }
        try {
            RememberPage(page);
        } catch (...) {
            BindingPageSource::Instance().ReturnPage(page);
            throw;
        }
        FormatPage(page, kPageSize, rounded, false);
        bin.firstPage = reinterpret_cast<PageHeader*>(page);
    }
    PageHeader* page = bin.firstPage;
    auto* base = reinterpret_cast<unsigned char*>(page);
    unsigned char* block = base + page->FirstFree() * rounded;
    UnpoisonBytes(block, rounded);
    const std::size_t next = ReadIndex(block);
    page->SetFirstFree(next);
    page->SetInUse(page->InUse() + 1);
    if (next == 0) {
        // Full: unlink it; the next page with a free block (if any) becomes the first.
        PageHeader* following = page->Next(bin);
        bin.firstPage = following;
        if (following != nullptr) {
            following->SetPrevious(nullptr, bin);
        }
        page->SetNext(nullptr, bin);
    }
    return block;
}

void BindingValuePool::FreeBlock(void* block, std::size_t size) noexcept {
    if (block == nullptr) {
        return;
    }
    const std::size_t rounded = RoundToGranularity(size);
    if (rounded > kMaxBlockSize) {
        if (IsHeapBlock(rounded)) {
            Free(block);
        } else if (!tearingDown_) {
            arrays_.Free(block, rounded); // when tearing down, the slabs go with the pool
        }
        return;
    }
    if (tearingDown_) {
        return; // the page goes back with the pool
    }
    Bin& bin = BinFor(rounded);
    auto* bytes = static_cast<unsigned char*>(block);
    const bool isInline = bytes >= bin.inlinePage && bytes < bin.inlinePage + kInlinePageSize;
    unsigned char* base =
        isInline ? bin.inlinePage
                 : reinterpret_cast<unsigned char*>(reinterpret_cast<std::uintptr_t>(bytes) &
                                                    ~(std::uintptr_t{kPageSize} - 1));
    auto* page = reinterpret_cast<PageHeader*>(base);
    if (page->FirstFree() == 0) {
        // It was full and unlinked: link it at the front.
        page->SetPrevious(nullptr, bin);
        page->SetNext(bin.firstPage, bin);
        if (bin.firstPage != nullptr) {
            bin.firstPage->SetPrevious(page, bin);
        }
        bin.firstPage = page;
    }
    WriteIndex(bytes, page->FirstFree());
    PoisonBytes(bytes, rounded);
    page->SetFirstFree(static_cast<std::size_t>(bytes - base) / rounded);
    page->SetInUse(page->InUse() - 1);
    if (page->InUse() == 0 && !isInline) {
        PageHeader* previous = page->Previous(bin);
        PageHeader* next = page->Next(bin);
        if (previous != nullptr) {
            previous->SetNext(next, bin);
        } else {
            bin.firstPage = next;
        }
        if (next != nullptr) {
            next->SetPrevious(previous, bin);
        }
        ForgetPage(page);
        ReturnPage(page);
    }
}

std::size_t BindingValuePool::PageSlot(const void* page) const noexcept {
    // Page addresses differ above their low 12 bits; the multiplication spreads those bits.
    const auto number = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(page) >> 12);
    return static_cast<std::size_t>((number * 0x9E3779B97F4A7C15ull) >> 32) & (pageSlotCount_ - 1);
}

void BindingValuePool::RememberPage(void* page) {
    if (2 * (pagesHeld_ + 1) > pageSlotCount_ &&
        !GrowPageSet(pageSlotCount_ == 0 ? 16 : 2 * pageSlotCount_)) {
        throw std::bad_alloc();
    }
    PlacePage(page);
    ++pagesHeld_;
}

void BindingValuePool::PlacePage(void* page) noexcept {
    std::size_t i = PageSlot(page);
    while (pageSlots_[i] != nullptr) {
        i = (i + 1) & (pageSlotCount_ - 1);
    }
    pageSlots_[i] = page;
}

void BindingValuePool::ForgetPage(void* page) noexcept {
    if (pageSlots_ == nullptr) {
        return;
    }
    const std::size_t mask = pageSlotCount_ - 1;
    std::size_t hole = PageSlot(page);
    while (pageSlots_[hole] != page) {
        if (pageSlots_[hole] == nullptr) {
            return; // not a page of this pool; every page the pool takes is entered
        }
        hole = (hole + 1) & mask;
    }
    CloseHole(
        pageSlots_, mask, hole, [this](void* slot) { return PageSlot(slot); },
        [](void* slot) { return slot == nullptr; }, static_cast<void*>(nullptr));
    --pagesHeld_;
}

bool BindingValuePool::GrowPageSet(std::size_t count) noexcept {
    auto* slots = static_cast<void**>(Allocate(count * sizeof(void*)));
    if (slots == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        slots[i] = nullptr;
    }
    void** old = pageSlots_;
    const std::size_t oldCount = pageSlotCount_;
    pageSlots_ = slots;
    pageSlotCount_ = count;
    for (std::size_t j = 0; j < oldCount; ++j) {
        if (old[j] != nullptr) {
            PlacePage(old[j]);
        }
    }
    Free(old);
    return true;
}

void BindingValuePool::ReturnPage(void* page) noexcept {
    // The page source may hand the page to another pool, or the system the region to anyone.
    UnpoisonBytes(page, kPageSize);
    if (releaseDepth_ == 0) {
        BindingPageSource::Instance().ReturnPage(page);
        return;
    }
    void* region = BindingPageSource::Instance().ReturnPageKeepingRegion(page);
    if (region == nullptr) {
        return;
    }
    if (pendingCount_ == kPendingRegions) {
        ReleasePendingRegions();
    }
    pendingRegions_[pendingCount_++] = region;
}

void BindingValuePool::ReleasePendingRegions() noexcept {
    BindingPageSource::ReleaseRegions(pendingRegions_, pendingCount_);
    pendingCount_ = 0;
}

void BindingValuePool::EndRelease() noexcept {
    if (--releaseDepth_ == 0 && pendingCount_ != 0) {
        ReleasePendingRegions();
    }
}

BindingValuePool::BlockPosition BindingValuePool::Locate(const void* block,
                                                         std::size_t size) const noexcept {
    const std::size_t rounded = RoundToGranularity(size);
    const auto* bytes = static_cast<const unsigned char*>(block);
    if (rounded <= kMaxBlockSize) {
        const Bin& bin = bins_[rounded / kBlockGranularity - 1];
        if (bytes >= bin.inlinePage && bytes < bin.inlinePage + kInlinePageSize) {
            return {bin.inlinePage, kInlinePageSize,
                    static_cast<std::size_t>(bytes - bin.inlinePage) / rounded};
        }
    }
    const auto* base = reinterpret_cast<const unsigned char*>(
        reinterpret_cast<std::uintptr_t>(bytes) & ~(std::uintptr_t{kPageSize} - 1));
    return {base, kPageSize, static_cast<std::size_t>(bytes - base) / rounded};
}

const void* BindingValuePool::FirstPage(std::size_t size) const noexcept {
    const std::size_t rounded = RoundToGranularity(size);
    if (rounded > kMaxBlockSize) {
        return nullptr;
    }
    const std::size_t index = rounded / kBlockGranularity - 1;
    if ((formattedBins_ & (1u << index)) == 0) {
        return bins_[index].inlinePage;
    }
    return bins_[index].firstPage;
}

std::size_t BindingValuePool::HomeSlot(std::uint32_t hash) const noexcept {
    // The slot hash is the high half of a multiplication, well mixed in its top bits.
    return static_cast<std::size_t>(hash >> internShift_);
}

inline BindingValuePool::InternSlot* BindingValuePool::FindSlot(std::string_view text,
                                                                std::uint32_t hash) const noexcept {
    const std::size_t mask = internSlotCount_ - 1;
    for (std::size_t i = HomeSlot(hash);; i = (i + 1) & mask) {
        InternSlot& slot = internSlots_[i];
        if (slot.entry == nullptr) {
            return nullptr;
        }
        if (slot.hash == hash && slot.entry->Holds(text)) {
            return &slot;
        }
    }
}

void BindingValuePool::PlaceSlot(const InternSlot& slot) noexcept {
    const std::size_t mask = internSlotCount_ - 1;
    std::size_t i = HomeSlot(slot.hash);
    while (internSlots_[i].entry != nullptr) {
        i = (i + 1) & mask;
    }
    internSlots_[i] = slot;
}

// The lookup shared by Intern and InternWhole; most texts are found. Making a new entry, the
// longer path, is InsertInterned.
inline const BindingInternedString* BindingValuePool::InternHashed(std::string_view text,
                                                                   std::uint32_t hash) {
    if (text.empty()) {
        return &BindingInternedString::Empty();
    }
    if (internSlots_ != nullptr) {
        if (InternSlot* slot = FindSlot(text, hash)) {
            ++slot->entry->references;
            return slot->entry;
        }
    }
    return InsertInterned(text, hash);
}

const BindingInternedString* BindingValuePool::InsertInterned(std::string_view text,
                                                              std::uint32_t hash) {
    // The table keeps at most three quarters of its slots in use, so probes stay short and
    // always end at a free slot.
    if (4 * (internCount_ + 1) > 3 * internSlotCount_ &&
        !GrowInternTable(internSlots_ == nullptr ? kInitialInternBuckets : 2 * internSlotCount_) &&
        internCount_ + 2 > internSlotCount_) {
        throw std::bad_alloc(); // a table without a free slot would be searched forever
    }
    if (text.size() > 0xFFFFFFF0u) {
        throw std::bad_alloc();
    }
    auto* entry =
        static_cast<BindingInternedString*>(AllocateBlock(InternedBlockSize(text.size())));
    entry->hash = BindingHashBytes(text);
    entry->slotHash = hash;
    entry->references = 1;
    entry->length = static_cast<std::uint32_t>(text.size());
    auto* copy = reinterpret_cast<char*>(entry + 1);
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    PlaceSlot({hash, entry});
    ++internCount_;
    if (IsHeapBlock(InternedBlockSize(text.size()))) {
        ++largeInternCount_;
    }
    return entry;
}

const BindingInternedString* BindingValuePool::Intern(std::string_view text) {
    const std::uint64_t scanned = HashWords<true>(text);
    if (scanned == kZeroFound) {
        text = TextUpToZero(text);
        return InternHashed(text, SlotHash(text));
    }
    return InternHashed(text, static_cast<std::uint32_t>(scanned));
}

const BindingInternedString* BindingValuePool::InternWhole(std::string_view text) {
    return InternHashed(text, SlotHash(text));
}

bool BindingValuePool::GrowInternTable(std::size_t count) noexcept {
    auto* slots = static_cast<InternSlot*>(Allocate(count * sizeof(InternSlot)));
    if (slots == nullptr) {
        return false; // keep the denser table; lookups stay correct
    }
    for (std::size_t i = 0; i < count; ++i) {
        slots[i] = {0, nullptr};
    }
    InternSlot* old = internSlots_;
    const std::size_t oldCount = internSlotCount_;
    unsigned shift = 32;
    for (std::size_t n = count; n > 1; n >>= 1) {
        --shift;
    }
    internSlots_ = slots;
    internSlotCount_ = count;
    internShift_ = shift;
    for (std::size_t j = 0; j < oldCount; ++j) {
        if (old[j].entry != nullptr) {
            PlaceSlot(old[j]);
        }
    }
    Free(old);
    return true;
}

void BindingValuePool::ReleaseInterned(const BindingInternedString* text) noexcept {
    if (text == nullptr || text == &BindingInternedString::Empty() || internSlots_ == nullptr) {
        return;
    }
    if (tearingDown_) {
        return; // the entry goes with the pool
    }
    auto* entry = const_cast<BindingInternedString*>(text);
    if (--entry->references != 0) {
        return;
    }
    const std::size_t mask = internSlotCount_ - 1;
    std::size_t hole = HomeSlot(entry->slotHash);
    while (internSlots_[hole].entry != nullptr && internSlots_[hole].entry != entry) {
        hole = (hole + 1) & mask;
    }
    if (internSlots_[hole].entry == entry) {
        CloseHole(
            internSlots_, mask, hole,
            [this](const InternSlot& slot) { return HomeSlot(slot.hash); },
            [](const InternSlot& slot) { return slot.entry == nullptr; }, InternSlot{0, nullptr});
        --internCount_;
    }
    const std::size_t blockSize = InternedBlockSize(entry->length);
    if (IsHeapBlock(blockSize)) {
        --largeInternCount_;
    }
    FreeBlock(entry, blockSize);
}

const BindingInternedString* BindingValuePool::FindInterned(std::string_view text) const noexcept {
    text = TextUpToZero(text);
    if (text.empty()) {
        return &BindingInternedString::Empty();
    }
    if (internSlots_ == nullptr) {
        return nullptr;
    }
    const InternSlot* slot = FindSlot(text, SlotHash(text));
    return slot != nullptr ? slot->entry : nullptr;
}

BindingProperty& BindingValuePool::Discard() {
    if (discard_ == nullptr) {
        void* block = AllocateBlock(sizeof(BindingProperty));
        discard_ = new (block) BindingProperty(BindingProperty::ChildOf{this});
    } else {
        discard_->Clear();
    }
    return *discard_;
}

} // namespace Korvel
