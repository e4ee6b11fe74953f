#pragma once

// Korvel::BindingProperty, the dynamic value of the binding system: a tagged tree of scalars,
// strings, byte arrays, enumeration values, ordered collections and structures of named members.
//
// Storage. A root value (ownsPool) creates a BindingValuePool on first need and destroys it with
// itself; every string, blob, enum record, collection and structure of the tree lives in that
// pool. Members and elements point at their root's pool and never own one. Strings are interned:
// equal texts of one tree share one copy.
//
// Reading never changes a value: Member/Element on a const value, HasMember, the typed getters,
// Size, IsDefault, ToString. Lookups that find nothing return the shared empty value. NOTE: on a
// non-const value, Member(name) and Element(index) are the WRITE accessors: they convert the value
// into a structure or collection and insert what is missing. Use FindMember, or std::as_const, to
// read through a non-const reference.
//
// References returned by the write accessors stay valid until the containing structure or
// collection is changed (a collection may move its elements when it grows).
//
// Failures. Operations do not throw for bad input. The exceptions that can leave this class are:
//   * std::length_error from Reserve on a collection when more than kMaxElements elements are
//     requested (the standard vector length failure);
//   * std::bad_alloc when memory is exhausted, also from a write access whose collection cannot
//     grow (the collection is left unchanged).
// A write access that would grow a collection beyond kMaxElements elements (Element with an
// absurd index, Append on a full collection) leaves the collection unchanged and returns the
// pool's discard value (see BindingValuePool::Discard), so the caller's writes go nowhere.
//
// Destruction, copying, comparison and visiting walk the tree with explicit stacks, never by
// recursion per level, so arbitrarily deep trees are safe.
//
// Trees are not synchronised: one tree is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_allocator.h"
#include "binding/binding_value_pool.h"
#include "binding/text_up_to_zero.h"

namespace Korvel {

struct StaticTypeId;
class BindingVisitor;

// Value kinds. Codes and printed names are fixed.
enum class BindingKind : std::uint8_t {
    Empty = 0,      // "empty"
    Bool = 1,       // "bool"
    Signed = 2,     // "signed"      (64-bit)
    Unsigned = 3,   // "unsigned"    (64-bit)
    Float = 4,      // "float"       (double)
    String = 5,     // "string"
    Blob = 6,       // "blob"
    Enum = 7,       // "enum"
    Collection = 8, // "collection"
    Structure = 9,  // "structure"
};

// "empty", "bool", ... "structure"; the empty string for any other code.
const char* KindName(BindingKind kind) noexcept;

// The enum value record: the 32-bit value and the identity (hash form) of its enumeration type.
struct BindingEnumRecord {
    std::int32_t value = 0;
    const StaticTypeId* type = nullptr;

    bool operator==(const BindingEnumRecord&) const = default;
};

// Compares member names byte by byte, bytes taken as unsigned; a name sorts before every longer
// name that begins with it. Inline: names are short, a call to memcmp costs more than the loop.
inline int CompareBindingNames(std::string_view a, std::string_view b) noexcept {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Orders member names by CompareBindingNames. Transparent, so lookups need no interned key.
struct BindingNameOrder {
    using is_transparent = void;
    bool operator()(const BindingInternedString* a, const BindingInternedString* b) const noexcept {
        return CompareBindingNames(a->View(), b->View()) < 0;
    }
    bool operator()(const BindingInternedString* a, std::string_view b) const noexcept {
        return CompareBindingNames(a->View(), b) < 0;
    }
    bool operator()(std::string_view a, const BindingInternedString* b) const noexcept {
        return CompareBindingNames(a, b->View()) < 0;
    }
};

// Allocator of structure nodes: single nodes come from the tree's pool.
template <typename T>
struct BindingPoolAllocator {
    using value_type = T;

    explicit BindingPoolAllocator(BindingValuePool* owner) noexcept : pool(owner) {}
    template <typename U>
    BindingPoolAllocator(const BindingPoolAllocator<U>& other) noexcept : pool(other.pool) {}

    T* allocate(std::size_t count) {
        return static_cast<T*>(pool->AllocateBlock(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept {
        pool->FreeBlock(block, count * sizeof(T));
    }
    template <typename U>
    bool operator==(const BindingPoolAllocator<U>& other) const noexcept {
        return pool == other.pool;
    }

    BindingValuePool* pool;
};

using BindingMemberMap =
    std::map<const BindingInternedString*, BindingProperty, BindingNameOrder,
             BindingPoolAllocator<std::pair<const BindingInternedString* const, BindingProperty>>>;

template <bool IsConst>
class BindingMemberRange;
struct BindingCollectionBlock;
struct BindingStructureBlock;

class BindingProperty {
public:
    // Largest element count of a collection (the length limit of Reserve).
    static constexpr std::size_t kMaxElements = 268435455;

    // A root value: "empty", owns its (not yet created) pool.
    BindingProperty() noexcept = default;
    // Deep copy into a new root.
    BindingProperty(const BindingProperty& other);
    // A new root that takes the other's content (Take); the other is left "empty".
    BindingProperty(BindingProperty&& other) noexcept;
    ~BindingProperty();

    // Deep copy: this value keeps its own pool; the source may belong to another tree.
    BindingProperty& operator=(const BindingProperty& other);
    // Take: see Take().
    BindingProperty& operator=(BindingProperty&& other) noexcept;

    explicit BindingProperty(bool value) noexcept { SetBool(value); }
    explicit BindingProperty(std::int32_t value) noexcept { SetSigned(value); }
    explicit BindingProperty(std::uint32_t value) noexcept { SetUnsigned(value); }
    explicit BindingProperty(std::int64_t value) noexcept { SetSigned(value); }
    explicit BindingProperty(std::uint64_t value) noexcept { SetUnsigned(value); }
    explicit BindingProperty(double value) noexcept { SetFloat(value); }
    // A constructor that runs out of memory gives back the pool it made before it throws.
    explicit BindingProperty(const char* text);
    explicit BindingProperty(std::string_view text);
    explicit BindingProperty(const std::string& text);
    explicit BindingProperty(const BindingEnumRecord& value);

    // Setters. Each releases the old content first.
    void SetBool(bool value) noexcept;
    void SetSigned(std::int64_t value) noexcept;    // 32-bit values are sign-extended
    void SetUnsigned(std::uint64_t value) noexcept; // 32-bit values are zero-extended
    void SetFloat(double value) noexcept;
    // "string", interned; the text ends at its first zero byte. The empty text stores the shared
    // empty string.
    void SetString(const char* text);
    void SetString(std::string_view text);
    void SetString(ZeroFreeText text);
    // "blob": copies the bytes, or takes a byte vector of the binding allocator.
    void SetBlob(std::span<const std::uint8_t> bytes);
    void SetBlob(const std::vector<std::uint8_t>& bytes);
    void SetBlob(BindingBytes&& bytes);
    // "enum".
    void SetEnum(const BindingEnumRecord& value);
    void SetEnum(std::int32_t value, const StaticTypeId& type);

    BindingProperty& operator=(bool value) noexcept;
    template <typename T>
    requires std::is_integral_v<T> &&(!std::is_same_v<T, bool>)BindingProperty&
    operator=(T value) noexcept {
        if constexpr (std::is_signed_v<T>) {
            SetSigned(static_cast<std::int64_t>(value));
        } else {
            SetUnsigned(static_cast<std::uint64_t>(value));
        }
        return *this;
    }
    BindingProperty& operator=(double value) noexcept;
    BindingProperty& operator=(const char* text);
    BindingProperty& operator=(std::string_view text);
    BindingProperty& operator=(const std::string& text);
    BindingProperty& operator=(const BindingEnumRecord& value);

    // Becomes an empty collection / structure unless it already is one.
    void MakeCollection();
    void MakeStructure();
    // Releases the content; the value becomes "empty".
    void Clear() noexcept;
    // Move assignment: the target takes the source's content and the source ends "empty". Two
    // roots exchange their storage; otherwise the source is deep-copied and then released.
    // Taking a value into a place inside itself leaves both unchanged.
    void Take(BindingProperty& source);

    // Read access.
    BindingKind Kind() const noexcept { return kind_; }
    bool IsEmpty() const noexcept { return kind_ == BindingKind::Empty; }
    // "empty" 0; "string" its length in bytes; "blob" its byte count; "collection" its element
    // count; "structure" its member count; every other kind 1.
    std::size_t Size() const noexcept;

    // Typed getters: the default unless the kind matches exactly (no conversion between kinds).
    bool GetBool(bool defaultValue = false) const noexcept;
    std::int64_t GetSigned(std::int64_t defaultValue = 0) const noexcept;
    std::uint64_t GetUnsigned(std::uint64_t defaultValue = 0) const noexcept;
    double GetFloat(double defaultValue = 0.0) const noexcept;
    // The text stays valid while the value is unchanged; for a "string" it is NUL-terminated.
    std::string_view GetString(std::string_view defaultValue = {}) const noexcept;
    const char* GetCString(const char* defaultValue = "") const noexcept;
    std::span<const std::uint8_t>
    GetBlob(std::span<const std::uint8_t> defaultValue = {}) const noexcept;
    BindingEnumRecord GetEnum(BindingEnumRecord defaultValue = {}) const noexcept;

    // Read-only lookups: the shared empty value when not found.
    const BindingProperty& Member(std::string_view name) const noexcept;
    const BindingProperty& Element(std::size_t index) const noexcept;
    bool HasMember(std::string_view name) const noexcept;
    const BindingProperty* FindMember(std::string_view name) const noexcept;

    // Write access (see the header comment).
    BindingProperty& Member(std::string_view name);
    BindingProperty& Member(ZeroFreeText name);
    // The same by a name already interned in this value's pool (see BindingNameCache): saves
    // looking the text up in the pool's intern table.
    BindingProperty& Member(const BindingInternedString& name);
    BindingProperty& Element(std::size_t index);
    BindingProperty& Append();
    // On a collection only (other kinds are left alone): ensures room for `count` elements.
    // Returns false when the memory could not be obtained. Throws std::length_error when `count`
    // exceeds kMaxElements on a collection.
    bool Reserve(std::size_t count);
    // On a structure only (other kinds are left alone): readies room for `count` members, as far
    // as the small form holds them, so that a reader that knows how many members follow builds
    // the structure without growing it. Returns false when the memory could not be obtained.
    bool ReserveMembers(std::size_t count);

    // Iteration: elements in index order, members in name order. Empty for other kinds.
    std::span<const BindingProperty> Elements() const noexcept;
    std::span<BindingProperty> Elements() noexcept;
    BindingMemberRange<true> Members() const noexcept;
    BindingMemberRange<false> Members() noexcept;
    // Removes a member; true when it existed.
    bool RemoveMember(std::string_view name) noexcept;

    // "empty"; "bool" false; "signed"/"unsigned" 0; "float" == 0.0 (so -0.0, never NaN); "enum"
    // value 0; "string", "blob", "collection", "structure" of size 0.
    bool IsDefault() const noexcept;
    // "true"/"false", decimal digits, "%f", the text, base64 of a blob, the enum's decimal value;
    // the empty string for "empty", "collection" and "structure".
    std::string ToString() const;

    // Walks the value through a visitor (see binding_visitor.h).
    void Accept(BindingVisitor& visitor) const;

    // Deep equality: same kinds, payloads, texts, bytes, elements and members.
    bool Equals(const BindingProperty& other) const noexcept;
    bool operator==(const BindingProperty& other) const noexcept { return Equals(other); }

    // The shared empty value returned by read-only lookups.
    static const BindingProperty& EmptyValue() noexcept;

    // Storage details, for tests and the encoders.
    BindingValuePool* Pool() const noexcept { return pool_; }
    bool OwnsPool() const noexcept { return ownsPool_; }
    const BindingInternedString* InternedString() const noexcept;

    // Constructs a member or element of the tree that owns `pool`. Used by the containers.
    struct ChildOf {
        BindingValuePool* pool;
    };
    explicit BindingProperty(ChildOf child) noexcept : pool_(child.pool), ownsPool_(false) {}

private:
    union Payload {
        std::uint64_t raw;
        bool boolean;
        std::int64_t signedValue;
        std::uint64_t unsignedValue;
        double floatValue;
        const BindingInternedString* string;
        BindingBytes* blob;
        BindingEnumRecord* enumRecord;
        BindingCollectionBlock* collection;
        BindingStructureBlock* structure;
    };

    friend class BindingValuePool;
    friend struct BindingPropertyAccess;

    BindingValuePool& EnsurePool();
    // What the destructor does: releases the content and destroys the pool a root owns. A
    // constructor that fails runs it itself, since the destructor never sees that object.
    void Destroy() noexcept;
    // Releases the content; the value becomes "empty". Scalars hold nothing to give back, so the
    // check stays inline and a setter on a fresh value (what every decoder writes) makes no call.
    void ReleaseContent() noexcept {
        if (kind_ >= BindingKind::String) {
            ReleaseStorage();
        }
        kind_ = BindingKind::Empty;
        payload_.raw = 0;
    }
    // Gives back the storage of a string, blob, enum record or container.
    void ReleaseStorage() noexcept;
    void CopyFrom(const BindingProperty& source);
    void SetInterned(const BindingInternedString* text) noexcept;
    bool GrowCollection(std::size_t count);

    Payload payload_{0};
    BindingValuePool* pool_ = nullptr;
    BindingKind kind_ = BindingKind::Empty;
    bool ownsPool_ = true;
};

// Storage blocks of the container kinds; both live in the tree's pool.
struct BindingCollectionBlock {
    BindingProperty* elements; // contiguous array: a block of the pool (its bins or its array
                               // slabs) up to 2048 bytes, else from the allocation entries
    std::uint32_t size;
    std::uint32_t capacity;
    void* releaseLink; // chains blocks awaiting release while a tree is destroyed
};

// A member of a structure in its small form.
struct BindingMemberEntry {
    const BindingInternedString* name;
    BindingProperty value;
};

// A structure holds its members in one of two forms. Up to kSmallLimit members they are a sorted
// array of entries (a block of the pool, like a short element array): lookups are binary searches
// over contiguous memory and walks are linear. Beyond that the members move into an ordered map
// whose nodes are blocks of the tree's pool, so that very large structures keep logarithmic
// insertion.
struct BindingStructureBlock {
    static constexpr std::uint32_t kSmallLimit = 64;
    // Capacity of the first member array, doubled as members arrive. Most records have only a
    // few members; starting at four rather than eight halves the arrays of those with up to four.
    static constexpr std::uint32_t kFirstCapacity = 4;

    BindingMemberEntry* entries; // small form, sorted by name
    std::uint32_t size;
    std::uint32_t capacity;
    BindingMemberMap* map; // large form when not null
    void* releaseLink;     // chains blocks awaiting release while a tree is destroyed

    std::size_t Count() const noexcept { return map != nullptr ? map->size() : size; }
};

// A member seen during iteration.
template <bool IsConst>
struct BindingMemberView {
    std::string_view name;
    std::conditional_t<IsConst, const BindingProperty&, BindingProperty&> value;
};

// Members of a structure in name order, whichever form the structure has.
template <bool IsConst>
class BindingMemberRange {
    using Entry = std::conditional_t<IsConst, const BindingMemberEntry, BindingMemberEntry>;
    using MapIterator =
        std::conditional_t<IsConst, BindingMemberMap::const_iterator, BindingMemberMap::iterator>;
    using Block = std::conditional_t<IsConst, const BindingStructureBlock, BindingStructureBlock>;

public:
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = BindingMemberView<IsConst>;
        using difference_type = std::ptrdiff_t;

        Iterator() = default;
        explicit Iterator(Entry* entry) : entry_(entry) {}
        explicit Iterator(MapIterator at) : at_(at), large_(true) {}
        BindingMemberView<IsConst> operator*() const {
            if (large_) {
                return {at_->first->View(), at_->second};
            }
            return {entry_->name->View(), entry_->value};
        }
        Iterator& operator++() {
            if (large_) {
                ++at_;
            } else {
                ++entry_;
            }
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator& other) const {
            return large_ ? at_ == other.at_ : entry_ == other.entry_;
        }

    private:
        Entry* entry_ = nullptr;
        MapIterator at_{};
        bool large_ = false;
    };

    BindingMemberRange() = default;
    explicit BindingMemberRange(Block* block) : block_(block) {}
    Iterator begin() const {
        if (block_ == nullptr) {
            return Iterator();
        }
        return block_->map != nullptr ? Iterator(block_->map->begin()) : Iterator(block_->entries);
    }
    Iterator end() const {
        if (block_ == nullptr) {
            return Iterator();
        }
        return block_->map != nullptr ? Iterator(block_->map->end())
                                      : Iterator(block_->entries + block_->size);
    }
    std::size_t size() const { return block_ == nullptr ? 0 : block_->Count(); }
    bool empty() const { return size() == 0; }

private:
    Block* block_ = nullptr;
};

} // namespace Korvel

#include "binding/static_type_id.h"

KORVEL_STATIC_TYPE(class, Korvel::BindingProperty)
