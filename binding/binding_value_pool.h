#pragma once

// Storage of one value tree: interned strings with reference counts and small fixed-size blocks
// (blob headers, enum records, collection and structure headers, structure nodes) served from
// per-size free lists. A pool belongs to the root of its tree; its 4096-byte pages come from the
// process-wide BindingPageSource.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_array_slabs.h"
#include "binding/same_bytes.h"

namespace Korvel {

class BindingProperty;

// An interned string of a pool. The text follows the header in the same block and is
// NUL-terminated; `length` excludes the terminator.
struct BindingInternedString {
    std::uint32_t hash;       // binding hash of the text
    std::uint32_t slotHash;   // hash that places the entry in the pool's intern table
    std::uint32_t references; // 0 only for the shared empty string, which belongs to no pool
    std::uint32_t length;

    const char* Text() const noexcept { return reinterpret_cast<const char*>(this + 1); }
    std::string_view View() const noexcept { return {Text(), length}; }
    // Whether this copy's text is `text`, byte for byte.
    bool Holds(std::string_view text) const noexcept {
        return length == text.size() && SameBytes(Text(), text.data(), text.size());
    }

    // The shared empty string.
    static const BindingInternedString& Empty() noexcept;
};

// Storage of the shared empty string: its header followed by the terminator.
struct BindingSharedEmptyString {
    BindingInternedString header;
    char text[8];
};
extern const BindingSharedEmptyString kBindingSharedEmptyString;

inline const BindingInternedString& BindingInternedString::Empty() noexcept {
    return kBindingSharedEmptyString.header;
}

class BindingValuePool {
public:
    static constexpr std::size_t kBinCount = 18;
    static constexpr std::size_t kBlockGranularity = 4;
    static constexpr std::size_t kMaxBlockSize = kBinCount * kBlockGranularity; // 72
    static constexpr std::size_t kInlinePageSize = 144;
    static constexpr std::size_t kPageSize = 4096;
    static constexpr std::size_t kPageHeaderSize = 16;
    static constexpr std::size_t kInitialInternBuckets = 8;

    // Pools are created and destroyed through the allocation entries. Create throws
    // std::bad_alloc when memory is exhausted.
    static BindingValuePool* Create();
    static void Destroy(BindingValuePool* pool) noexcept;

    BindingValuePool(const BindingValuePool&) = delete;
    BindingValuePool& operator=(const BindingValuePool&) = delete;

    // A block of `size` bytes rounded up to a multiple of 4. Sizes up to 72 come from the bins,
    // sizes up to 2048 (the arrays of containers) from the pool's array slabs, and larger ones
    // from the allocation entries. Throws std::bad_alloc when memory is exhausted.
    void* AllocateBlock(std::size_t size);
    // Gives back a block obtained with the same size.
    void FreeBlock(void* block, std::size_t size) noexcept;
    // Whether AllocateBlock serves `size` bytes from the allocation entries, so that such a block
    // may also be resized there with Reallocate.
    static constexpr bool IsHeapBlock(std::size_t size) noexcept {
        return size > BindingArraySlabs::kMaxBlockSize;
    }

    // The pool's copy of `text` with its reference count raised (inserted with count 1 when new).
    // The text ends at its first zero byte. The empty text gives the shared empty string, which
    // is not counted.
    const BindingInternedString* Intern(std::string_view text);
    // The same for a text known to hold no zero byte (the caller has cut it already).
    const BindingInternedString* InternWhole(std::string_view text);
    // Lowers the count of an interned string of this pool; at zero the entry is removed.
    // The shared empty string is ignored.
    void ReleaseInterned(const BindingInternedString* text) noexcept;
    // Raises the count of an interned string of this pool (a second holder of the same copy).
    void Retain(const BindingInternedString* text) noexcept {
        if (text != nullptr && text != &BindingInternedString::Empty()) {
            ++const_cast<BindingInternedString*>(text)->references;
        }
    }
    // The entry for `text`, or null.
    const BindingInternedString* FindInterned(std::string_view text) const noexcept;
    std::size_t InternedCount() const noexcept { return internCount_; }
    // Slots of the intern table (0 before the first string); always more than InternedCount.
    std::size_t InternBucketCount() const noexcept { return internSlotCount_; }

    // Where a block lies: its page (the bin's inline page or a 4096-byte page), the page size and
    // the block's index within the page. For diagnostics and tests.
    struct BlockPosition {
        const void* page;
        std::size_t pageSize;
        std::size_t index;
    };
    BlockPosition Locate(const void* block, std::size_t size) const noexcept;
    // The first page of the bin serving `size` (the page the next block comes from), or null.
    const void* FirstPage(std::size_t size) const noexcept;
    // Number of 4096-byte pages this pool currently holds.
    std::size_t PagesHeld() const noexcept { return pagesHeld_; }
    // Bytes of the array slabs this pool currently holds.
    std::size_t ArraySlabBytes() const noexcept { return arrays_.BytesHeld(); }

    // While at least one release scope is open, the regions of chunks that FreeBlock empties
    // are collected and go back to the system together when the outermost scope closes (or when
    // the collection is full), which costs far less than one release per chunk. Releasing a large
    // subtree opens one.
    void BeginRelease() noexcept { ++releaseDepth_; }
    void EndRelease() noexcept;

    // The tree is being destroyed together with this pool: from now on FreeBlock (for blocks of
    // the bins and the array slabs) and ReleaseInterned do nothing, and the destructor gives back
    // every page and slab the pool holds and every string copy kept on the general heap at once.
    // Saves touching every string and every block of a large tree while it goes away.
    void BeginTeardown() noexcept { tearingDown_ = true; }
    bool TearingDown() const noexcept { return tearingDown_; }

    // A scratch value of this pool that absorbs writes which the tree refuses (an element index
    // beyond the collection limit). It is emptied every time it is handed out.
    BindingProperty& Discard();

private:
    struct Bin;
    struct PageHeader;

    BindingValuePool() noexcept;
    ~BindingValuePool();

    Bin& BinFor(std::size_t roundedSize) noexcept;
    void FormatPage(unsigned char* page, std::size_t pageSize, std::size_t blockSize,
                    bool isInline) noexcept;
    struct InternSlot;
    std::size_t HomeSlot(std::uint32_t hash) const noexcept;
    InternSlot* FindSlot(std::string_view text, std::uint32_t hash) const noexcept;
    // Intern for a text without a zero byte whose slot hash is known; InsertInterned makes the
    // entry for a text that is not in the table yet.
    const BindingInternedString* InternHashed(std::string_view text, std::uint32_t hash);
    const BindingInternedString* InsertInterned(std::string_view text, std::uint32_t hash);
    // Puts a slot into the first free place of its probe run; the table has a free slot.
    void PlaceSlot(const InternSlot& slot) noexcept;
    bool GrowInternTable(std::size_t count) noexcept;
    // The set of 4096-byte pages the pool holds (open addressing on the page address, linear
    // probing), so that a teardown can give them all back without the blocks being freed.
    std::size_t PageSlot(const void* page) const noexcept;
    void RememberPage(void* page);
    void ForgetPage(void* page) noexcept;
    // Puts a page into the first free slot of its probe run; the set has a free slot.
    void PlacePage(void* page) noexcept;
    bool GrowPageSet(std::size_t count) noexcept;
    void ReturnPage(void* page) noexcept;
    void ReleasePendingRegions() noexcept;

    struct alignas(16) Bin {
        unsigned char inlinePage[kInlinePageSize];
        PageHeader* firstPage;
    };

    Bin bins_[kBinCount];
    BindingArraySlabs arrays_;
    std::uint32_t formattedBins_ = 0; // bit i: bin i's inline page has been formatted
    std::size_t pagesHeld_ = 0;
    void** pageSlots_ = nullptr;    // null: a free slot
    std::size_t pageSlotCount_ = 0; // a power of two, at least twice pagesHeld_
    // Intern table: open addressing with linear probing; a slot keeps a hash of the entry's text
    // beside the pointer, so probing compares hashes without touching the entries.
    InternSlot* internSlots_ = nullptr;
    std::size_t internSlotCount_ = 0; // a power of two
    unsigned internShift_ = 32;       // 32 - log2(internSlotCount_)
    std::size_t internCount_ = 0;
    std::size_t largeInternCount_ = 0; // entries too long for the pages and array slabs
    bool tearingDown_ = false;
    BindingProperty* discard_ = nullptr;
    static constexpr std::size_t kPendingRegions = 32;
    std::uint32_t releaseDepth_ = 0;
    std::uint32_t pendingCount_ = 0;
    void* pendingRegions_[kPendingRegions];
};

} // namespace Korvel
