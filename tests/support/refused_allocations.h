#pragma once

// Allocation hooks for tests of what happens when memory runs out: while an object of this class
// lives, the library's allocation entries refuse every block of `limit` bytes or more and pass
// the rest to the hooks that were in effect before, which are put back when it goes. With
// Entries::Reallocate only reallocations are refused, so that a growing buffer fails while the
// allocations around it succeed.

#include <cstddef>
#include <cstring>

#include "diagnostics/allocation.h"
#include "platform/heap.h"

namespace Korvel::Testing {

class RefusedAllocations {
public:
    enum class Entries { All, Reallocate };

    explicit RefusedAllocations(std::size_t limit, Entries entries = Entries::All)
        : previous_(CurrentAllocationHooks()), limit_(limit), entries_(entries) {
        SetAllocationHooks(&AllocateBlock, &FreeBlock, &ReallocateBlock, &DuplicateBlock,
                           &SizeOfBlock, this);
    }
    ~RefusedAllocations() {
        SetAllocationHooks(previous_.allocate, previous_.free, previous_.reallocate,
                           previous_.duplicateText, previous_.blockSize, previous_.context);
    }
    RefusedAllocations(const RefusedAllocations&) = delete;
    RefusedAllocations& operator=(const RefusedAllocations&) = delete;

    // Blocks refused so far.
    std::size_t Refused() const { return refused_; }

private:
    static RefusedAllocations& Self(void* context) {
        return *static_cast<RefusedAllocations*>(context);
    }
    bool Refuses(std::size_t size) {
        if (size < limit_) {
            return false;
        }
        ++refused_;
        return true;
    }
    static void* AllocateBlock(std::size_t size, void* context) {
        RefusedAllocations& self = Self(context);
        if (self.entries_ == Entries::All && self.Refuses(size)) {
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
        RefusedAllocations& self = Self(context);
        if (self.Refuses(size)) {
            return nullptr;
        }
        const AllocationHooks& hooks = self.previous_;
        return hooks.reallocate != nullptr ? hooks.reallocate(block, size, hooks.context)
                                           : Platform::HeapReallocate(block, size);
    }
    static char* DuplicateBlock(const char* text, void* context) {
        RefusedAllocations& self = Self(context);
        if (text != nullptr && self.entries_ == Entries::All &&
            self.Refuses(std::strlen(text) + 1)) {
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
    std::size_t limit_;
    Entries entries_;
    std::size_t refused_ = 0;
};

} // namespace Korvel::Testing
