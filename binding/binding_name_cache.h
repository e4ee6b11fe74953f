#pragma once

// BindingNameCache: the member names a reader met last, kept as the interned copies of the tree
// it builds. The records of a document repeat the same few names over and over; a name found
// here costs a short comparison instead of hashing the text and probing the pool's intern table.
//
// The cache has two places for each value of a small hash of the name's length and first and
// last bytes, the name met last in the first, and holds a reference to each copy it keeps. It
// serves one tree at a time: given a member of another tree it forgets what it holds first. Clear
// it (or destroy it) before the tree it serves is destroyed.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/binding_value_pool.h"
#include "binding/text_up_to_zero.h"

namespace Korvel {

class BindingNameCache {
public:
    // Longest name kept; longer names go the usual way.
    static constexpr std::size_t kLongestName = 64;
    static constexpr std::size_t kSets = 128;

    BindingNameCache() noexcept = default;
    ~BindingNameCache() { Clear(); }
    BindingNameCache(const BindingNameCache&) = delete;
    BindingNameCache& operator=(const BindingNameCache&) = delete;

    // The same as owner.Member(name): the write access that makes `owner` a structure and inserts
    // the member when it is missing. The name ends at its first zero byte.
    BindingProperty& Member(BindingProperty& owner, std::string_view name) {
        if (const BindingInternedString* copy = Kept(owner, name)) {
            return owner.Member(*copy);
        }
        return MemberNotKept(owner, name, false);
    }
    BindingProperty& Member(BindingProperty& owner, ZeroFreeText name) {
        if (const BindingInternedString* copy = Kept(owner, name.text)) {
            return owner.Member(*copy);
        }
        return MemberNotKept(owner, name.text, true);
    }

    // Gives back the references the cache holds.
    void Clear() noexcept;

private:
    struct Set {
        const BindingInternedString* recent = nullptr;
        const BindingInternedString* older = nullptr;
    };

    static std::size_t SetIndex(std::string_view name) noexcept {
        // Names of one document mostly differ in length or at either end; a multiplication
        // spreads the three into the index.
        const auto first = static_cast<unsigned char>(name.front());
        const auto last = static_cast<unsigned char>(name.back());
        const std::uint32_t key =
            (static_cast<std::uint32_t>(name.size()) << 16) ^ (std::uint32_t{first} << 8) ^ last;
        static_assert(kSets == 128);
        return (key * 0x9E3779B1u) >> 25;
    }
    // The set's copy of `name` (which then holds no zero byte), or null.
    static const BindingInternedString* Find(const Set& set, std::string_view name) noexcept {
        if (set.recent != nullptr && set.recent->Holds(name)) {
            return set.recent;
        }
        return set.older != nullptr && set.older->Holds(name) ? set.older : nullptr;
    }
    // The kept copy of `name` when `owner` is a structure of the tree served; otherwise null.
    const BindingInternedString* Kept(const BindingProperty& owner,
                                      std::string_view name) const noexcept {
        if (owner.Kind() != BindingKind::Structure || owner.Pool() != pool_ || name.empty() ||
            name.size() > kLongestName) {
            return nullptr;
        }
        return Find(sets_[SetIndex(name)], name);
    }
    // Member for a name not found by Kept: keeps the name when it can.
    BindingProperty& MemberNotKept(BindingProperty& owner, std::string_view name, bool zeroFree);

    Set sets_[kSets];
    BindingValuePool* pool_ = nullptr;
};

} // namespace Korvel
