#pragma once

// Allocation hooks for tests of what happens when memory runs out: while an object of this class
// lives, the library's allocation entries refuse every block of `limit` bytes or more and pass
// the rest to the hooks that were in effect before, which are put back when it goes. With
// Entries::Reallocate only reallocations are refused, so that a growing buffer fails while the
// allocations around it succeed.

#include <cstddef>

#include "support/allocation_filter.h"

namespace Korvel::Testing {

class RefusedAllocations : public AllocationFilter<RefusedAllocations> {
public:
    enum class Entries { All, Reallocate };

    explicit RefusedAllocations(std::size_t limit, Entries entries = Entries::All)
        : limit_(limit), entries_(entries) {
        Install();
    }

    // Blocks refused so far.
    std::size_t Refused() const { return refused_; }

private:
    friend class AllocationFilter<RefusedAllocations>;

    bool Refuses(AllocationRequest request, std::size_t size) {
        if (size < limit_ ||
            (entries_ == Entries::Reallocate && request != AllocationRequest::Reallocate)) {
            return false;
        }
        ++refused_;
        return true;
    }

    std::size_t limit_;
    Entries entries_;
    std::size_t refused_ = 0;
};

} // namespace Korvel::Testing
