#include "binding/binding_property.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "binding/binding_visitor.h"
#include "binding/binding_walk.h"
#include "binding/text_up_to_zero.h"
#include "encoding/base64.h"
#include "encoding/decode_limits.h"

namespace Korvel {

namespace {

constexpr const char* kKindNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                      "string", "blob", "enum",   "collection", "structure"};

// Element() appends at most DecodeLimits::kMaxElementGap "empty" elements in one call.
using DecodeLimits::kMaxElementGap;
static_assert(BindingProperty::kMaxElements == DecodeLimits::kMaxCollectionElements,
              "the collection limit is the one the decoders enforce");

bool IsContainer(BindingKind kind) noexcept {
    return kind == BindingKind::Collection || kind == BindingKind::Structure;
}

template <typename T>
using CountedVector = std::vector<T, BindingAllocator<T>>;

// Element and member arrays are blocks of the pool: those that fit its bins come from its pages,
// longer ones from its array slabs and only the longest from the allocation entries, so that
// building a tree costs few general heap operations and tearing it down costs none for most
// arrays. An array is always given back to the pool with its capacity.
constexpr std::size_t kPoolElements = BindingValuePool::kMaxBlockSize / sizeof(BindingProperty);
static_assert(kPoolElements >= 2, "a pool block holds a few elements");

// Moves an array (of elements or member entries) whose items take `used` bytes from a block of
// `from` bytes into one of `to` bytes. Items hold no pointers into themselves, so they may move
// bytewise. Returns null, leaving the old array as it was, when memory is short.
void* ResizeArray(BindingValuePool& pool, void* array, std::size_t used, std::size_t from,
                  std::size_t to) noexcept {
    if (BindingValuePool::IsHeapBlock(from) && BindingValuePool::IsHeapBlock(to)) {
        return Reallocate(array, to);
    }
    void* grown = nullptr;
    try {
        grown = pool.AllocateBlock(to);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (used != 0) {
        std::memcpy(grown, array, used);
    }
    if (array != nullptr) {
        pool.FreeBlock(array, from);
    }
    return grown;
}

// ResizeArray for the element array of a collection.
BindingProperty* ResizeElements(BindingValuePool& pool, BindingProperty* elements, std::size_t size,
                                std::size_t from, std::size_t to) noexcept {
    constexpr std::size_t kItem = sizeof(BindingProperty);
    return static_cast<BindingProperty*>(
        ResizeArray(pool, elements, size * kItem, from * kItem, to * kItem));
}

void FreeElements(BindingValuePool& pool, BindingProperty* elements,
                  std::size_t capacity) noexcept {
    pool.FreeBlock(elements, capacity * sizeof(BindingProperty));
}

} // namespace

const char* KindName(BindingKind kind) noexcept {
    const auto code = static_cast<std::size_t>(kind);
    return code < std::size(kKindNames) ? kKindNames[code] : "";
}

// Destruction and copying of subtrees without recursion.
struct BindingPropertyAccess {
    // Chains container blocks awaiting release through their releaseLink; the low bit of a link
    // tells a structure block from a collection block.
    static void* Tag(BindingCollectionBlock* block) noexcept { return block; }
    static void* Tag(BindingStructureBlock* block) noexcept {
        return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(block) | 1u);
    }

    // Chains the container block of `value` for release. Unless the tree goes with its pool,
    // `value` is left "empty".
    template <bool kWithPool>
    static void Detach(BindingProperty& value, void*& head) noexcept {
        if (value.kind_ == BindingKind::Collection) {
            value.payload_.collection->releaseLink = head;
            head = Tag(value.payload_.collection);
        } else {
            value.payload_.structure->releaseLink = head;
            head = Tag(value.payload_.structure);
        }
        if constexpr (!kWithPool) {
            value.kind_ = BindingKind::Empty;
            value.payload_.raw = 0;
        }
    }

    template <bool kWithPool>
    static void ReleaseChild(BindingProperty& child, void*& head) noexcept {
        if (IsContainer(child.kind_)) {
            Detach<kWithPool>(child, head);
        } else if constexpr (kWithPool) {
            // Strings and enum records live in the pool's pages; only a blob's bytes do not.
            if (child.kind_ == BindingKind::Blob) {
                child.payload_.blob->~BindingBytes();
            }
        } else if (child.kind_ != BindingKind::Empty) {
            child.ReleaseContent();
        }
    }

    static void ReleaseTree(BindingProperty& root) noexcept {
        BindingValuePool* pool = root.pool_;
        if (pool->TearingDown()) {
            ReleaseTree<true>(root, *pool);
        } else {
            ReleaseTree<false>(root, *pool);
        }
    }

    // Releases the subtree of a container without recursion: container blocks wait in a chain
    // until their children have been seen. When the tree goes with its pool (kWithPool), whatever
    // lives in the pool's pages and array slabs (blocks, strings, map nodes, short arrays) is left
    // to the pool, no value is reset, and only the arrays and blob bytes from the allocation
    // entries are released.
    template <bool kWithPool>
    static void ReleaseTree(BindingProperty& root, BindingValuePool& pool) noexcept {
        pool.BeginRelease();
        void* head = nullptr;
        Detach<false>(root, head);
        while (head != nullptr) {
            const auto link = reinterpret_cast<std::uintptr_t>(head);
            if ((link & 1u) == 0) {
                auto* block = static_cast<BindingCollectionBlock*>(head);
                head = block->releaseLink;
                for (std::uint32_t i = 0; i < block->size; ++i) {
                    ReleaseChild<kWithPool>(block->elements[i], head);
                }
                FreeElements(pool, block->elements, block->capacity);
                if constexpr (!kWithPool) {
                    pool.FreeBlock(block, sizeof(BindingCollectionBlock));
                }
            } else {
                auto* block = reinterpret_cast<BindingStructureBlock*>(link & ~std::uintptr_t{1});
                head = block->releaseLink;
                if (block->map != nullptr) {
                    for (auto& [name, value] : *block->map) {
                        ReleaseChild<kWithPool>(value, head);
                        if constexpr (!kWithPool) {
                            pool.ReleaseInterned(name);
                        }
                    }
                    if constexpr (!kWithPool) {
                        // The map's nodes are pool blocks.
                        block->map->~BindingMemberMap();
                        pool.FreeBlock(block->map, sizeof(BindingMemberMap));
                    }
                } else {
                    for (std::uint32_t i = 0; i < block->size; ++i) {
                        ReleaseChild<kWithPool>(block->entries[i].value, head);
                        if constexpr (!kWithPool) {
                            pool.ReleaseInterned(block->entries[i].name);
                        }
                    }
                    FreeEntries(pool, block->entries, block->capacity);
                }
                if constexpr (!kWithPool) {
                    pool.FreeBlock(block, sizeof(BindingStructureBlock));
                }
            }
        }
        pool.EndRelease();
    }

    // Moves the content of one value of a tree to another value of the same tree.
    static void MoveContent(BindingProperty& to, BindingProperty& from) noexcept {
        to.payload_ = from.payload_;
        to.kind_ = from.kind_;
        from.payload_.raw = 0;
        from.kind_ = BindingKind::Empty;
    }

    // ---- structures ----

    // The first entry of the small form whose name is not below `name`.
    static BindingMemberEntry* LowerBound(const BindingStructureBlock& block,
                                          std::string_view name) noexcept {
        BindingMemberEntry* first = block.entries;
        std::size_t count = block.size;
        while (count > 0) {
            const std::size_t step = count / 2;
            BindingMemberEntry* middle = first + step;
            if (CompareBindingNames(middle->name->View(), name) < 0) {
                first = middle + 1;
                count -= step + 1;
            } else {
                count = step;
            }
        }
        return first;
    }

    static BindingProperty* Find(const BindingStructureBlock& block,
                                 std::string_view name) noexcept {
        if (block.map != nullptr) {
            const auto found = block.map->find(name);
            return found == block.map->end() ? nullptr : &found->second;
        }
        BindingMemberEntry* at = LowerBound(block, name);
        if (at != block.entries + block.size && at->name->Holds(name)) {
            return &at->value;
        }
        return nullptr;
    }

    static BindingMemberMap* NewMap(BindingValuePool& pool) {
        void* memory = pool.AllocateBlock(sizeof(BindingMemberMap));
        return new (memory)
            BindingMemberMap(BindingNameOrder{}, BindingMemberMap::allocator_type(&pool));
    }

    static void FreeEntries(BindingValuePool& pool, BindingMemberEntry* entries,
                            std::size_t capacity) noexcept {
        pool.FreeBlock(entries, capacity * sizeof(BindingMemberEntry));
    }

    // Moves the entries into an array of `capacity`. Returns false, leaving the old array as it
    // was, when memory is short.
    static bool GrowEntries(BindingStructureBlock& block, BindingValuePool& pool,
                            std::size_t capacity) noexcept {
        constexpr std::size_t kItem = sizeof(BindingMemberEntry);
        void* grown = ResizeArray(pool, block.entries, block.size * kItem, block.capacity * kItem,
                                  capacity * kItem);
        if (grown == nullptr) {
            return false;
        }
        block.entries = static_cast<BindingMemberEntry*>(grown);
        block.capacity = static_cast<std::uint32_t>(capacity);
        return true;
    }

    // Moves the members of the small form into the map of the large form.
    static void ConvertToLarge(BindingStructureBlock& block, BindingValuePool& pool) {
        BindingMemberMap* map = NewMap(pool);
        try {
            for (std::uint32_t i = 0; i < block.size; ++i) {
                BindingMemberEntry& entry = block.entries[i];
                const auto at = map->emplace_hint(
                    map->end(), std::piecewise_construct, std::forward_as_tuple(entry.name),
                    std::forward_as_tuple(BindingProperty::ChildOf{&pool}));
                MoveContent(at->second, entry.value);
            }
        } catch (...) {
            std::uint32_t i = 0;
            for (auto& member : *map) {
                MoveContent(block.entries[i++].value, member.second);
            }
            map->~BindingMemberMap();
            pool.FreeBlock(map, sizeof(BindingMemberMap));
            throw;
        }
        FreeEntries(pool, block.entries, block.capacity);
        block.entries = nullptr;
        block.size = 0;
        block.capacity = 0;
        block.map = map;
    }

    // Inserts an "empty" member under `key`, an interned string of `pool` whose reference the
    // member takes over (given back when the insertion fails).
    static BindingProperty& InsertIntoMap(BindingMemberMap& map, BindingValuePool& pool,
                                          BindingMemberMap::iterator hint,
                                          const BindingInternedString* key) {
        try {
            const auto at =
                map.emplace_hint(hint, std::piecewise_construct, std::forward_as_tuple(key),
                                 std::forward_as_tuple(BindingProperty::ChildOf{&pool}));
            return at->second;
        } catch (...) {
            pool.ReleaseInterned(key);
            throw;
        }
    }

    // The name FindOrInsert looks for, given as text (no zero byte) or as a copy interned in the
    // owner's pool. Each says whether a member's name is it and gives the interned copy, with a
    // reference for a new member.
    struct TextName {
        std::string_view text;
        std::string_view View() const noexcept { return text; }
        bool Is(const BindingInternedString* name) const noexcept { return name->Holds(text); }
        const BindingInternedString* Take(BindingValuePool& pool) const {
            return pool.InternWhole(text);
        }
    };
    struct InternedName {
        const BindingInternedString& copy;
        std::string_view View() const noexcept { return copy.View(); }
        // Equal texts of one pool are one copy.
        bool Is(const BindingInternedString* name) const noexcept { return name == &copy; }
        const BindingInternedString* Take(BindingValuePool& pool) const noexcept {
            pool.Retain(&copy);
            return &copy;
        }
    };

    // Makes `owner`, which is not a structure, a structure whose only member is `key`. The name
    // is interned before the old content goes: its text may be part of that content (a string
    // value turned into a structure keyed by its own text, or keyed by one of its elements).
    template <typename Name>
    static BindingProperty& FirstMember(BindingProperty& owner, const Name& key) {
        BindingValuePool& pool = owner.EnsurePool();
        const BindingInternedString* copy = key.Take(pool);
        try {
            owner.MakeStructure();
            if (!GrowEntries(*owner.payload_.structure, pool,
                             BindingStructureBlock::kFirstCapacity)) {
                throw std::bad_alloc();
            }
        } catch (...) {
            pool.ReleaseInterned(copy);
            throw;
        }
        return AppendMember(*owner.payload_.structure, pool, copy);
    }

    // The member of that name, inserted as "empty" when absent.
    template <typename Name>
    static BindingProperty& FindOrInsert(BindingProperty& owner, const Name& key) {
        if (owner.kind_ != BindingKind::Structure) {
            return FirstMember(owner, key);
        }
        const std::string_view name = key.View();
        BindingStructureBlock& block = *owner.payload_.structure;
        BindingValuePool& pool = *owner.pool_;
        if (block.map == nullptr) {
            BindingMemberEntry* at = LowerBound(block, name);
            if (at != block.entries + block.size && key.Is(at->name)) {
                return at->value;
            }
            if (block.size < BindingStructureBlock::kSmallLimit) {
                const std::size_t index = static_cast<std::size_t>(at - block.entries);
                const BindingInternedString* copy = key.Take(pool);
                if (block.size == block.capacity) {
                    std::size_t capacity = block.capacity == 0
                                               ? BindingStructureBlock::kFirstCapacity
                                               : std::size_t{block.capacity} * 2;
                    if (capacity > BindingStructureBlock::kSmallLimit) {
                        capacity = BindingStructureBlock::kSmallLimit;
                    }
                    if (!GrowEntries(block, pool, capacity)) {
                        pool.ReleaseInterned(copy);
                        throw std::bad_alloc();
                    }
                }
                BindingMemberEntry* slot = block.entries + index;
                // Entries hold no pointers into themselves, so they may move bytewise. A small
                // structure moves a few entries at most: copies of a fixed size, last entry first,
                // cost less than a call to memmove.
                for (BindingMemberEntry* to = block.entries + block.size; to != slot; --to) {
                    std::memcpy(static_cast<void*>(to), static_cast<const void*>(to - 1),
                                sizeof(BindingMemberEntry));
                }
                slot->name = copy;
                new (&slot->value) BindingProperty(BindingProperty::ChildOf{&pool});
                ++block.size;
                return slot->value;
            }
            ConvertToLarge(block, pool);
        }
        BindingMemberMap& map = *block.map;
        const auto at = map.lower_bound(name);
        if (at != map.end() && key.Is(at->first)) {
            return at->second;
        }
        return InsertIntoMap(map, pool, at, key.Take(pool));
    }

    static bool Remove(BindingProperty& owner, std::string_view name) noexcept {
        BindingStructureBlock& block = *owner.payload_.structure;
        BindingValuePool& pool = *owner.pool_;
        if (block.map != nullptr) {
            const auto found = block.map->find(name);
            if (found == block.map->end()) {
                return false;
            }
            const BindingInternedString* key = found->first;
            found->second.ReleaseContent();
            block.map->erase(found);
            pool.ReleaseInterned(key);
            return true;
        }
        BindingMemberEntry* at = LowerBound(block, name);
        if (at == block.entries + block.size || !at->name->Holds(name)) {
            return false;
        }
        const BindingInternedString* key = at->name;
        at->value.ReleaseContent();
        const std::size_t index = static_cast<std::size_t>(at - block.entries);
        std::memmove(static_cast<void*>(at), static_cast<const void*>(at + 1),
                     (block.size - index - 1) * sizeof(BindingMemberEntry));
        --block.size;
        pool.ReleaseInterned(key);
        return true;
    }

    // Readies an empty structure for `count` members that arrive in name order.
    static void PrepareMembers(BindingStructureBlock& block, BindingValuePool& pool,
                               std::size_t count) {
        if (count > BindingStructureBlock::kSmallLimit) {
            block.map = NewMap(pool);
        } else if (count > block.capacity && !GrowEntries(block, pool, count)) {
            throw std::bad_alloc();
        }
    }

    // Appends a member whose name sorts after every present one, into room made by
    // PrepareMembers: no entry moves, so earlier members stay where they are. `key` is an
    // interned string of `pool` whose reference the member takes over.
    static BindingProperty& AppendMember(BindingStructureBlock& block, BindingValuePool& pool,
                                         const BindingInternedString* key) {
        if (block.map != nullptr) {
            try {
                const auto at = block.map->emplace_hint(
                    block.map->end(), std::piecewise_construct, std::forward_as_tuple(key),
                    std::forward_as_tuple(BindingProperty::ChildOf{&pool}));
                return at->second;
            } catch (...) {
                pool.ReleaseInterned(key);
                throw;
            }
        }
        BindingMemberEntry& slot = block.entries[block.size];
        slot.name = key;
        new (&slot.value) BindingProperty(BindingProperty::ChildOf{&pool});
        ++block.size;
        return slot.value;
    }

    // Remembers, during one copy between trees, which copy in the target pool each source string
    // got, so that repeated texts (member names above all) are found again without hashing and
    // comparing. Every remembered copy is held by the target tree for the whole copy.
    struct InternCache {
        static constexpr std::size_t kSlots = 256;

        const BindingInternedString* Get(BindingValuePool& pool,
                                         const BindingInternedString* source) {
            if (source == &BindingInternedString::Empty()) {
                return source;
            }
            const std::size_t slot = source->hash & (kSlots - 1);
            if (from[slot] == source) {
                pool.Retain(to[slot]);
                return to[slot];
            }
            const BindingInternedString* copy = pool.InternWhole(source->View());
            from[slot] = source;
            to[slot] = copy;
            return copy;
        }

        const BindingInternedString* from[kSlots] = {};
        const BindingInternedString* to[kSlots] = {};
    };

    // Copies a leaf value (anything but a container) into `target`.
    static void CopyLeaf(BindingProperty& target, const BindingProperty& source,
                         InternCache* cache = nullptr) {
        switch (source.kind_) {
        case BindingKind::Empty:
            target.ReleaseContent();
            break;
        case BindingKind::Bool:
        case BindingKind::Signed:
        case BindingKind::Unsigned:
        case BindingKind::Float: {
            // Read before the release: the source may lie inside the target (a value assigned
            // one of its own members), and releasing the target empties it.
            const std::uint64_t raw = source.payload_.raw;
            const BindingKind kind = source.kind_;
            target.ReleaseContent();
            target.payload_.raw = raw;
            target.kind_ = kind;
            break;
        }
        case BindingKind::String: {
            const BindingInternedString* text = source.payload_.string;
            if (text != &BindingInternedString::Empty()) {
                BindingValuePool& pool = target.EnsurePool();
                if (&pool == source.pool_) {
                    pool.Retain(text);
                } else if (cache != nullptr) {
                    text = cache->Get(pool, text);
                } else {
                    text = pool.InternWhole(text->View());
                }
            }
            target.SetInterned(text);
            break;
        }
        case BindingKind::Blob: {
            const BindingBytes& bytes = *source.payload_.blob;
            target.SetBlob(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
            break;
        }
        case BindingKind::Enum:
            target.SetEnum(*source.payload_.enumRecord);
            break;
        default:
            break;
        }
    }

    // Deep copy of a container `source` from another pool into `target`.
    static void CopyTree(BindingProperty& target, const BindingProperty& source) {
        struct Pending {
            const BindingProperty* source;
            BindingProperty* target;
        };
        CountedVector<Pending> stack;
        InternCache cache;
        stack.push_back({&source, &target});
        while (!stack.empty()) {
            const Pending item = stack.back();
            stack.pop_back();
            BindingProperty& into = *item.target;
            const BindingProperty& from = *item.source;
            if (from.kind_ == BindingKind::Collection) {
                into.ReleaseContent();
                into.MakeCollection();
                const BindingCollectionBlock& elements = *from.payload_.collection;
                if (!into.Reserve(elements.size)) {
                    throw std::bad_alloc();
                }
                for (std::uint32_t i = 0; i < elements.size; ++i) {
                    const BindingProperty& element = elements.elements[i];
                    BindingProperty& copy = into.Append();
                    if (IsContainer(element.kind_)) {
                        stack.push_back({&element, &copy});
                    } else {
                        CopyLeaf(copy, element, &cache);
                    }
                }
            } else {
                into.ReleaseContent();
                into.MakeStructure();
                BindingStructureBlock& block = *into.payload_.structure;
                BindingValuePool& pool = *into.pool_;
                PrepareMembers(block, pool, from.payload_.structure->Count());
                if (from.payload_.structure->map != nullptr) {
                    for (const auto& [name, value] : *from.payload_.structure->map) {
                        BindingProperty& copy = AppendMember(block, pool, cache.Get(pool, name));
                        if (IsContainer(value.kind_)) {
                            stack.push_back({&value, &copy});
                        } else {
                            CopyLeaf(copy, value, &cache);
                        }
                    }
                } else {
                    const BindingStructureBlock& source = *from.payload_.structure;
                    for (std::uint32_t i = 0; i < source.size; ++i) {
                        const BindingMemberEntry& entry = source.entries[i];
                        BindingProperty& copy =
                            AppendMember(block, pool, cache.Get(pool, entry.name));
                        if (IsContainer(entry.value.kind_)) {
                            stack.push_back({&entry.value, &copy});
                        } else {
                            CopyLeaf(copy, entry.value, &cache);
                        }
                    }
                }
            }
        }
    }

    // True when `inner` lies in the subtree of `outer` (outer itself included).
    static bool Contains(const BindingProperty& outer, const BindingProperty* inner) {
        CountedVector<const BindingProperty*> stack;
        stack.push_back(&outer);
        while (!stack.empty()) {
            const BindingProperty* value = stack.back();
            stack.pop_back();
            if (value == inner) {
                return true;
            }
            if (value->kind_ == BindingKind::Collection) {
                const BindingCollectionBlock& block = *value->payload_.collection;
                for (std::uint32_t i = 0; i < block.size; ++i) {
                    stack.push_back(&block.elements[i]);
                }
            } else if (value->kind_ == BindingKind::Structure) {
                for (const auto member : value->Members()) {
                    stack.push_back(&member.value);
                }
            }
        }
        return false;
    }

    static void Destroy(BindingProperty& value) noexcept { value.Destroy(); }
};

// ---------------------------------------------------------------------------------------------
// Construction, assignment, release

// Runs `fill` on a value under construction. No destructor runs for a value whose constructor
// throws, so when `fill` runs out of memory the value gives back what it holds (the pool a root
// has made) before the exception leaves.
template <typename Fill>
static void Construct(BindingProperty& value, Fill&& fill) {
    try {
        fill();
    } catch (...) {
        BindingPropertyAccess::Destroy(value);
        throw;
    }
}

BindingProperty::BindingProperty(const BindingProperty& other) {
    Construct(*this, [&] { CopyFrom(other); });
}

BindingProperty::BindingProperty(const char* text) {
    Construct(*this, [&] { SetString(text); });
}

BindingProperty::BindingProperty(std::string_view text) {
    Construct(*this, [&] { SetString(text); });
}

BindingProperty::BindingProperty(const std::string& text)
    : BindingProperty(std::string_view(text)) {}

BindingProperty::BindingProperty(const BindingEnumRecord& value) {
    Construct(*this, [&] { SetEnum(value); });
}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept {
    Take(other);
}

BindingProperty::~BindingProperty() {
    Destroy();
}

void BindingProperty::Destroy() noexcept {
    if (ownsPool_ && pool_ != nullptr) {
        pool_->BeginTeardown();
        ReleaseContent();
        BindingValuePool::Destroy(pool_);
        pool_ = nullptr;
    } else {
        ReleaseContent();
    }
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
    CopyFrom(other);
    return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
    Take(other);
    return *this;
}

const BindingProperty& BindingProperty::EmptyValue() noexcept {
    static const BindingProperty empty;
    return empty;
}

BindingValuePool& BindingProperty::EnsurePool() {
    if (pool_ == nullptr) {
        pool_ = BindingValuePool::Create();
    }
    return *pool_;
}

// ReleaseContent calls this for the kinds from "string" on, which are exactly those with storage.
static_assert(BindingKind::Float < BindingKind::String && BindingKind::String < BindingKind::Blob &&
                  BindingKind::Blob < BindingKind::Enum &&
                  BindingKind::Enum < BindingKind::Collection &&
                  BindingKind::Collection < BindingKind::Structure,
              "the kinds with storage come last");

void BindingProperty::ReleaseStorage() noexcept {
    switch (kind_) {
    case BindingKind::String:
        if (pool_ != nullptr) {
            pool_->ReleaseInterned(payload_.string);
        }
        break;
    case BindingKind::Blob:
        payload_.blob->~BindingBytes();
        pool_->FreeBlock(payload_.blob, sizeof(BindingBytes));
        break;
    case BindingKind::Enum:
        pool_->FreeBlock(payload_.enumRecord, sizeof(BindingEnumRecord));
        break;
    case BindingKind::Collection:
    case BindingKind::Structure:
        BindingPropertyAccess::ReleaseTree(*this);
        break;
    default:
        break;
    }
}

void BindingProperty::Clear() noexcept {
    ReleaseContent();
}

void BindingProperty::SetInterned(const BindingInternedString* text) noexcept {
    ReleaseContent();
    payload_.string = text;
    kind_ = BindingKind::String;
}

void BindingProperty::CopyFrom(const BindingProperty& source) {
    if (&source == this) {
        return;
    }
    if (!IsContainer(source.kind_)) {
        BindingPropertyAccess::CopyLeaf(*this, source);
        return;
    }
    if (pool_ != nullptr && pool_ == source.pool_) {
        // Within one tree the target may lie inside the source or the other way round: copy
        // through a separate tree first.
        const BindingProperty copy(source);
        BindingPropertyAccess::CopyTree(*this, copy);
        return;
    }
    BindingPropertyAccess::CopyTree(*this, source);
}

void BindingProperty::Take(BindingProperty& source) {
    if (&source == this) {
        return;
    }
    if (ownsPool_ && source.ownsPool_) {
        std::swap(payload_, source.payload_);
        std::swap(pool_, source.pool_);
        std::swap(kind_, source.kind_);
        source.ReleaseContent();
        return;
    }
    if (pool_ != nullptr && pool_ == source.pool_) {
        if (BindingPropertyAccess::Contains(source, this)) {
            return; // a value cannot move into a place inside itself
        }
        BindingProperty moved(source);
        source.ReleaseContent();
        CopyFrom(moved);
        return;
    }
    CopyFrom(source);
    source.ReleaseContent();
}

// ---------------------------------------------------------------------------------------------
// Setters

void BindingProperty::SetBool(bool value) noexcept {
    ReleaseContent();
    payload_.raw = 0;
    payload_.boolean = value;
    kind_ = BindingKind::Bool;
}

void BindingProperty::SetSigned(std::int64_t value) noexcept {
    ReleaseContent();
    payload_.signedValue = value;
    kind_ = BindingKind::Signed;
}

void BindingProperty::SetUnsigned(std::uint64_t value) noexcept {
    ReleaseContent();
    payload_.unsignedValue = value;
    kind_ = BindingKind::Unsigned;
}

void BindingProperty::SetFloat(double value) noexcept {
    ReleaseContent();
    payload_.floatValue = value;
    kind_ = BindingKind::Float;
}

void BindingProperty::SetString(const char* text) {
    SetString(std::string_view(text != nullptr ? text : ""));
}

void BindingProperty::SetString(std::string_view text) {
    if (text.empty()) {
        SetInterned(&BindingInternedString::Empty());
        return;
    }
    // Intern before releasing: the text may be this value's own. Interning cuts the text at its
    // first zero byte in the same pass that hashes it.
    SetInterned(EnsurePool().Intern(text));
}

void BindingProperty::SetString(ZeroFreeText zeroFree) {
    const std::string_view text = zeroFree.text;
    assert(TextUpToZero(text).size() == text.size());
    if (text.empty()) {
        SetInterned(&BindingInternedString::Empty());
        return;
    }
    // Intern before releasing: the text may be this value's own.
    SetInterned(EnsurePool().InternWhole(text));
}

void BindingProperty::SetBlob(std::span<const std::uint8_t> bytes) {
    BindingValuePool& pool = EnsurePool();
    void* block = pool.AllocateBlock(sizeof(BindingBytes));
    BindingBytes* blob = nullptr;
    try {
        blob = new (block) BindingBytes(bytes.begin(), bytes.end());
    } catch (...) {
        pool.FreeBlock(block, sizeof(BindingBytes));
        throw;
    }
    ReleaseContent();
    payload_.blob = blob;
    kind_ = BindingKind::Blob;
}

void BindingProperty::SetBlob(const std::vector<std::uint8_t>& bytes) {
    SetBlob(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
}

void BindingProperty::SetBlob(BindingBytes&& bytes) {
    BindingValuePool& pool = EnsurePool();
    void* block = pool.AllocateBlock(sizeof(BindingBytes));
    auto* blob = new (block) BindingBytes(std::move(bytes));
    ReleaseContent();
    payload_.blob = blob;
    kind_ = BindingKind::Blob;
}

void BindingProperty::SetEnum(const BindingEnumRecord& value) {
    BindingValuePool& pool = EnsurePool();
    auto* record = new (pool.AllocateBlock(sizeof(BindingEnumRecord))) BindingEnumRecord(value);
    ReleaseContent();
    payload_.enumRecord = record;
    kind_ = BindingKind::Enum;
}

void BindingProperty::SetEnum(std::int32_t value, const StaticTypeId& type) {
    SetEnum(BindingEnumRecord{value, &type});
}

BindingProperty& BindingProperty::operator=(bool value) noexcept {
    SetBool(value);
    return *this;
}

BindingProperty& BindingProperty::operator=(double value) noexcept {
    SetFloat(value);
    return *this;
}

BindingProperty& BindingProperty::operator=(const char* text) {
    SetString(text);
    return *this;
}

BindingProperty& BindingProperty::operator=(std::string_view text) {
    SetString(text);
    return *this;
}

BindingProperty& BindingProperty::operator=(const std::string& text) {
    SetString(std::string_view(text));
    return *this;
}

BindingProperty& BindingProperty::operator=(const BindingEnumRecord& value) {
    SetEnum(value);
    return *this;
}

void BindingProperty::MakeCollection() {
    if (kind_ == BindingKind::Collection) {
        return;
    }
    BindingValuePool& pool = EnsurePool();
    auto* block = new (pool.AllocateBlock(sizeof(BindingCollectionBlock)))
        BindingCollectionBlock{nullptr, 0, 0, nullptr};
    ReleaseContent();
    payload_.collection = block;
    kind_ = BindingKind::Collection;
}

void BindingProperty::MakeStructure() {
    if (kind_ == BindingKind::Structure) {
        return;
    }
    BindingValuePool& pool = EnsurePool();
    auto* block = new (pool.AllocateBlock(sizeof(BindingStructureBlock)))
        BindingStructureBlock{nullptr, 0, 0, nullptr, nullptr};
    ReleaseContent();
    payload_.structure = block;
    kind_ = BindingKind::Structure;
}

// ---------------------------------------------------------------------------------------------
// Read access

std::size_t BindingProperty::Size() const noexcept {
    switch (kind_) {
    case BindingKind::Empty:
        return 0;
    case BindingKind::String:
        return payload_.string->length;
    case BindingKind::Blob:
        return payload_.blob->size();
    case BindingKind::Collection:
        return payload_.collection->size;
    case BindingKind::Structure:
        return payload_.structure->Count();
    default:
        return 1;
    }
}

bool BindingProperty::GetBool(bool defaultValue) const noexcept {
    return kind_ == BindingKind::Bool ? payload_.boolean : defaultValue;
}

std::int64_t BindingProperty::GetSigned(std::int64_t defaultValue) const noexcept {
    return kind_ == BindingKind::Signed ? payload_.signedValue : defaultValue;
}

std::uint64_t BindingProperty::GetUnsigned(std::uint64_t defaultValue) const noexcept {
    return kind_ == BindingKind::Unsigned ? payload_.unsignedValue : defaultValue;
}

double BindingProperty::GetFloat(double defaultValue) const noexcept {
    return kind_ == BindingKind::Float ? payload_.floatValue : defaultValue;
}

std::string_view BindingProperty::GetString(std::string_view defaultValue) const noexcept {
    return kind_ == BindingKind::String ? payload_.string->View() : defaultValue;
}

const char* BindingProperty::GetCString(const char* defaultValue) const noexcept {
    return kind_ == BindingKind::String ? payload_.string->Text() : defaultValue;
}

std::span<const std::uint8_t>
BindingProperty::GetBlob(std::span<const std::uint8_t> defaultValue) const noexcept {
    if (kind_ != BindingKind::Blob) {
        return defaultValue;
    }
    return {payload_.blob->data(), payload_.blob->size()};
}

BindingEnumRecord BindingProperty::GetEnum(BindingEnumRecord defaultValue) const noexcept {
    return kind_ == BindingKind::Enum ? *payload_.enumRecord : defaultValue;
}

const BindingInternedString* BindingProperty::InternedString() const noexcept {
    return kind_ == BindingKind::String ? payload_.string : nullptr;
}

const BindingProperty* BindingProperty::FindMember(std::string_view name) const noexcept {
    if (kind_ != BindingKind::Structure) {
        return nullptr;
    }
    return BindingPropertyAccess::Find(*payload_.structure, TextUpToZero(name));
}

const BindingProperty& BindingProperty::Member(std::string_view name) const noexcept {
    const BindingProperty* member = FindMember(name);
    return member != nullptr ? *member : EmptyValue();
}

bool BindingProperty::HasMember(std::string_view name) const noexcept {
    return FindMember(name) != nullptr;
}

const BindingProperty& BindingProperty::Element(std::size_t index) const noexcept {
    if (kind_ != BindingKind::Collection || index >= payload_.collection->size) {
        return EmptyValue();
    }
    return payload_.collection->elements[index];
}

std::span<const BindingProperty> BindingProperty::Elements() const noexcept {
    if (kind_ != BindingKind::Collection) {
        return {};
    }
    return {payload_.collection->elements, payload_.collection->size};
}

std::span<BindingProperty> BindingProperty::Elements() noexcept {
    if (kind_ != BindingKind::Collection) {
        return {};
    }
    return {payload_.collection->elements, payload_.collection->size};
}

BindingMemberRange<true> BindingProperty::Members() const noexcept {
    if (kind_ != BindingKind::Structure) {
        return {};
    }
    return BindingMemberRange<true>(payload_.structure);
}

BindingMemberRange<false> BindingProperty::Members() noexcept {
    if (kind_ != BindingKind::Structure) {
        return {};
    }
    return BindingMemberRange<false>(payload_.structure);
}

// ---------------------------------------------------------------------------------------------
// Write access

BindingProperty& BindingProperty::Member(std::string_view name) {
    return Member(ZeroFreeText{TextUpToZero(name)});
}

BindingProperty& BindingProperty::Member(ZeroFreeText name) {
    assert(TextUpToZero(name.text).size() == name.text.size());
    return BindingPropertyAccess::FindOrInsert(*this, BindingPropertyAccess::TextName{name.text});
}

BindingProperty& BindingProperty::Member(const BindingInternedString& name) {
    // Only a copy of this tree's pool may name a member of it.
    assert(name.length == 0 || (pool_ != nullptr && pool_->FindInterned(name.View()) == &name));
    return BindingPropertyAccess::FindOrInsert(*this, BindingPropertyAccess::InternedName{name});
}

bool BindingProperty::RemoveMember(std::string_view name) noexcept {
    if (kind_ != BindingKind::Structure) {
        return false;
    }
    return BindingPropertyAccess::Remove(*this, TextUpToZero(name));
}

bool BindingProperty::GrowCollection(std::size_t count) {
    BindingCollectionBlock& block = *payload_.collection;
    if (count > block.capacity) {
        // The first array is the largest a pool block holds; later ones double.
        std::size_t capacity =
            block.capacity < kPoolElements ? kPoolElements : std::size_t{block.capacity} * 2;
        if (capacity < count) {
            capacity = count;
        }
        if (capacity > kMaxElements) {
            capacity = kMaxElements;
        }
        BindingProperty* grown =
            ResizeElements(*pool_, block.elements, block.size, block.capacity, capacity);
        if (grown == nullptr) {
            return false;
        }
        block.elements = grown;
        block.capacity = static_cast<std::uint32_t>(capacity);
    }
    for (std::size_t i = block.size; i < count; ++i) {
        new (&block.elements[i]) BindingProperty(ChildOf{pool_});
    }
    if (count > block.size) {
        block.size = static_cast<std::uint32_t>(count);
    }
    return true;
}

BindingProperty& BindingProperty::Element(std::size_t index) {
    MakeCollection();
    BindingCollectionBlock& block = *payload_.collection;
    if (index < block.size) {
        return block.elements[index];
    }
    if (index >= kMaxElements || index - block.size >= kMaxElementGap) {
        return pool_->Discard();
    }
    if (!GrowCollection(index + 1)) {
        throw std::bad_alloc();
    }
    return payload_.collection->elements[index];
}

BindingProperty& BindingProperty::Append() {
    MakeCollection();
    const std::size_t size = payload_.collection->size;
    if (size >= kMaxElements) {
        return pool_->Discard();
    }
    if (!GrowCollection(size + 1)) {
        throw std::bad_alloc();
    }
    return payload_.collection->elements[size];
}

bool BindingProperty::Reserve(std::size_t count) {
    if (kind_ != BindingKind::Collection) {
        return true; // nothing to reserve, so no count is too large
    }
    if (count > kMaxElements) {
        throw std::length_error("BindingProperty::Reserve: element count above the limit");
    }
    BindingCollectionBlock& block = *payload_.collection;
    if (count <= block.capacity) {
        return true;
    }
    BindingProperty* grown =
        ResizeElements(*pool_, block.elements, block.size, block.capacity, count);
    if (grown == nullptr) {
        return false;
    }
    block.elements = grown;
    block.capacity = static_cast<std::uint32_t>(count);
    return true;
}

bool BindingProperty::ReserveMembers(std::size_t count) {
    if (kind_ != BindingKind::Structure) {
        return true;
    }
    BindingStructureBlock& block = *payload_.structure;
    // Beyond the small form's limit the members go into the map form as they come.
    if (count > BindingStructureBlock::kSmallLimit) {
        count = BindingStructureBlock::kSmallLimit;
    }
    if (block.map != nullptr || count <= block.capacity) {
        return true;
    }
    return BindingPropertyAccess::GrowEntries(block, *pool_, count);
}

// ---------------------------------------------------------------------------------------------
// Queries

bool BindingProperty::IsDefault() const noexcept {
    switch (kind_) {
    case BindingKind::Empty:
        return true;
    case BindingKind::Bool:
        return !payload_.boolean;
    case BindingKind::Signed:
        return payload_.signedValue == 0;
    case BindingKind::Unsigned:
        return payload_.unsignedValue == 0;
    case BindingKind::Float:
        return payload_.floatValue == 0.0;
    case BindingKind::Enum:
        return payload_.enumRecord->value == 0;
    case BindingKind::String:
    case BindingKind::Blob:
    case BindingKind::Collection:
    case BindingKind::Structure:
        return Size() == 0;
    }
    return false;
}

std::string BindingProperty::ToString() const {
    switch (kind_) {
    case BindingKind::Bool:
        return payload_.boolean ? "true" : "false";
    case BindingKind::Signed:
        return std::to_string(payload_.signedValue);
    case BindingKind::Unsigned:
        return std::to_string(payload_.unsignedValue);
    case BindingKind::Float: {
        const int length = std::snprintf(nullptr, 0, "%f", payload_.floatValue);
        if (length <= 0) {
            return {};
        }
        std::string text(static_cast<std::size_t>(length), '\0');
        std::snprintf(text.data(), text.size() + 1, "%f", payload_.floatValue);
        return text;
    }
    case BindingKind::String:
        return std::string(payload_.string->View());
    case BindingKind::Blob:
        return Base64Encode(payload_.blob->data(), payload_.blob->size());
    case BindingKind::Enum:
        return std::to_string(payload_.enumRecord->value);
    default:
        return {};
    }
}

bool BindingProperty::Equals(const BindingProperty& other) const noexcept {
    struct Pair {
        const BindingProperty* a;
        const BindingProperty* b;
    };
    // Compares leaves at once and queues container pairs; the queue lives on the heap.
    auto sameLeaf = [](const BindingProperty& a, const BindingProperty& b) {
        switch (a.kind_) {
        case BindingKind::Empty:
            return true;
        case BindingKind::Bool:
            return a.payload_.boolean == b.payload_.boolean;
        case BindingKind::Signed:
        case BindingKind::Unsigned:
            return a.payload_.raw == b.payload_.raw;
        case BindingKind::Float:
            return a.payload_.floatValue == b.payload_.floatValue;
        case BindingKind::String:
            return a.payload_.string->View() == b.payload_.string->View();
        case BindingKind::Blob:
            return *a.payload_.blob == *b.payload_.blob;
        case BindingKind::Enum:
            return a.payload_.enumRecord->value == b.payload_.enumRecord->value &&
                   (a.payload_.enumRecord->type == b.payload_.enumRecord->type ||
                    (a.payload_.enumRecord->type != nullptr &&
                     b.payload_.enumRecord->type != nullptr &&
                     a.payload_.enumRecord->type->hash == b.payload_.enumRecord->type->hash));
        default:
            return true;
        }
    };
    try {
        CountedVector<Pair> stack;
        stack.push_back({this, &other});
        while (!stack.empty()) {
            const Pair pair = stack.back();
            stack.pop_back();
            if (pair.a->kind_ != pair.b->kind_) {
                return false;
            }
            if (pair.a->kind_ == BindingKind::Collection) {
                const BindingCollectionBlock& a = *pair.a->payload_.collection;
                const BindingCollectionBlock& b = *pair.b->payload_.collection;
                if (a.size != b.size) {
                    return false;
                }
                for (std::uint32_t i = 0; i < a.size; ++i) {
                    stack.push_back({&a.elements[i], &b.elements[i]});
                }
            } else if (pair.a->kind_ == BindingKind::Structure) {
                const auto a = pair.a->Members();
                const auto b = pair.b->Members();
                if (a.size() != b.size()) {
                    return false;
                }
                for (auto left = a.begin(), right = b.begin(); left != a.end(); ++left, ++right) {
                    const auto x = *left;
                    const auto y = *right;
                    if (x.name != y.name) {
                        return false;
                    }
                    stack.push_back({&x.value, &y.value});
                }
            } else if (!sameLeaf(*pair.a, *pair.b)) {
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void BindingProperty::Accept(BindingVisitor& visitor) const {
    WalkBindingValue(*this, visitor);
}

} // namespace Korvel
