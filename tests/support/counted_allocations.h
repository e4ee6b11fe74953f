#pragma once

// Allocation hooks that refuse allocations by their place in the sequence, for sweeps over every
// allocation an operation makes: while an object of this class lives, the library's allocation
// entries count each allocation (Allocate, DuplicateText, and Reallocate to a size other than 0)
// and refuse the one numbered `refuse` (counted from 1), and with After::Refused every one after
// it as well. Refusing 0 refuses nothing and only counts. Everything else goes to the hooks that
// were in effect before, which are put back when the object goes.

#include <cstddef>

#include "support/allocation_filter.h"

namespace Korvel::Testing {

class CountedAllocations : public AllocationFilter<CountedAllocations> {
public:
    enum class After { Allowed, Refused };

    explicit CountedAllocations(std::size_t refuse = 0, After after = After::Allowed)
        : refuse_(refuse), after_(after) {
        Install();
    }

    // Allocations asked for so far, refused ones included.
    std::size_t Count() const { return count_; }
    // Allocations refused so far.
    std::size_t Refused() const { return refused_; }

private:
    friend class AllocationFilter<CountedAllocations>;

    bool Refuses(AllocationRequest request, std::size_t size) {
        if (request == AllocationRequest::Reallocate && size == 0) {
            return false; // resizing to nothing releases the block; it is no allocation
        }
        ++count_;
        const bool refused =
            refuse_ != 0 && (count_ == refuse_ || (after_ == After::Refused && count_ > refuse_));
        if (refused) {
            ++refused_;
        }
        return refused;
    }

    std::size_t refuse_;
    After after_;
    std::size_t count_ = 0;
    std::size_t refused_ = 0;
};

} // namespace Korvel::Testing
