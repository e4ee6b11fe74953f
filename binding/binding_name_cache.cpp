#include "binding/binding_name_cache.h"

namespace Korvel {

BindingProperty& BindingNameCache::MemberNotKept(BindingProperty& owner, std::string_view name,
                                                 bool zeroFree) {
    const std::string_view whole = zeroFree ? name : TextUpToZero(name);
    // An owner that is not a structure yet but holds storage (a string, a blob, a collection)
    // may hold the name's text itself, which making it a structure would release: the usual
    // way interns the name first.
    const bool holdsStorage =
        owner.Kind() != BindingKind::Structure && owner.Kind() >= BindingKind::String;
    if (whole.empty() || whole.size() != name.size() || whole.size() > kLongestName ||
        holdsStorage) {
        return owner.Member(ZeroFreeText{whole});
    }
    owner.MakeStructure();
    BindingValuePool* pool = owner.Pool();
    if (pool != pool_) {
        Clear();
        pool_ = pool;
    }
    Set& set = sets_[SetIndex(whole)];
    // Kept finds nothing for an owner that was not yet a structure of this tree.
    if (const BindingInternedString* kept = Find(set, whole)) {
        return owner.Member(*kept);
    }
    const BindingInternedString* copy = pool_->InternWhole(whole);
    pool_->ReleaseInterned(set.older);
    set.older = set.recent;
    set.recent = copy;
    return owner.Member(*copy);
}

void BindingNameCache::Clear() noexcept {
    if (pool_ == nullptr) {
        return;
    }
    for (Set& set : sets_) {
        pool_->ReleaseInterned(set.recent);
        pool_->ReleaseInterned(set.older);
        set = Set{};
    }
    pool_ = nullptr;
}

} // namespace Korvel
