#pragma once

// Allocation hooks that refuse allocations by their place in the sequence, for sweeps over every
// allocation an operation makes: while an object of this class lives, the library's allocation
// entries count each allocation (Allocate, DuplicateText, and Reallocate to a size other than 0)
// and refuse the one numbered `refuse` (counted from 1), and with After::Refused every one after
// it as well. Refusing 0 refuses nothing and only counts. Everything else goes to the hooks that
// were in effect before, which are put back when the object goes.

#include <cstddef>

#include "diagnostics/allocation.h"
#include "platform/heap.h"

namespace Korvel::Testing {

class CountedAllocations {
public:
    enum class After { Allowed, Refused };

    explicit CountedAllocations(std::size_t refuse = 0, After after = After::Allowed)
        : previous_(CurrentAllocationHooks()), refuse_(refuse), after_(after) {
        SetAllocationHooks(&AllocateBlock, &FreeBlock, &ReallocateBlock, &DuplicateBlock,
                           &SizeOfBlock, this);
    }
    ~CountedAllocations() {
        SetAllocationHooks(previous_.allocate, previous_.free, previous_.reallocate,
                           previous_.duplicateText, previous_.blockSize, previous_.context);
    }
    CountedAllocations(const CountedAllocations&) = delete;
    CountedAllocations& operator=(const CountedAllocations&) = delete;

    // Allocations asked for so far, refused ones included.
    std::size_t Count() const { return count_; }
    // Allocations refused so far.
    std::size_t Refused() const { return refused_; }

private:
    static CountedAllocations& Self(void* context) {
        return *static_cast<CountedAllocations*>(context);
    }
    bool Refuses() {
        ++count_;
        const bool refused =
            refuse_ != 0 && (count_ == refuse_ || (after_ == After::Refused && count_ > refuse_));
        if (refused) {
            ++refused_;
        }
        return refused;
    }
    static void* AllocateBlock(std::size_t size, void* context) {
        CountedAllocations& self = Self(context);
        if (self.Refuses()) {
            return nullptr;
        }
        const AllocationHooks& hooks = self.previous_;
        return hooks.allocate != nullptr ? hooks.allocate(size, hooks.context)
                                         : Platform::HeapAllocate(size);
    }
    static void FreeBlock(void* block, void* context) {
        const AllocationHooks& hooks = Self(context).previous_;
        hooks.free != nullptr ? hooks.free(block, hooks.context) : Platform::HeapFree(block);
    }
    static void* ReallocateBlock(void* block, std::size_t size, void* context) {
        CountedAllocations& self = Self(context);
        // Resizing to nothing releases the block; it is no allocation.
        if (size != 0 && self.Refuses()) {
            return nullptr;
        }
        const AllocationHooks& hooks = self.previous_;
        return hooks.reallocate != nullptr ? hooks.reallocate(block, size, hooks.context)
                                           : Platform::HeapReallocate(block, size);
    }
    static char* DuplicateBlock(const char* text, void* context) {
        CountedAllocations& self = Self(context);
        if (text != nullptr && self.Refuses()) {
            return nullptr;
        }
        const AllocationHooks& hooks = self.previous_;
        return hooks.duplicateText != nullptr ? hooks.duplicateText(text, hooks.context)
                                              : Platform::HeapDuplicateText(text);
    }
    static std::size_t SizeOfBlock(void* block, void* context) {
        const AllocationHooks& hooks = Self(context).previous_;
        return hooks.blockSize != nullptr ? hooks.blockSize(block, hooks.context)
                                          : Platform::HeapBlockSize(block);
    }

    AllocationHooks previous_;
    std::size_t refuse_;
    After after_;
    std::size_t count_ = 0;
    std::size_t refused_ = 0;
};

} // namespace Korvel::Testing
