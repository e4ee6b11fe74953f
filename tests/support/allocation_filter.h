#pragma once

// The common part of the tests' allocation hooks: while an object of a class built on this one
// lives, the library's allocation entries ask it whether to refuse each request and pass every
// request it does not refuse to the hooks that were in effect before, which are put back when it
// goes. A refused request gets a null block, as when memory has run out.
//
// The class `Filter` derives from AllocationFilter<Filter>, calls Install() at the end of its
// constructor and answers
//     bool Refuses(AllocationRequest request, std::size_t size);
// where `size` is the block size asked for (for a text copy, the text's length with its end).

#include <cstddef>
#include <cstring>

#include "diagnostics/allocation.h"
#include "platform/heap.h"

namespace Korvel::Testing {

enum class AllocationRequest { Allocate, Reallocate, DuplicateText };

template <typename Filter>
class AllocationFilter {
public:
    AllocationFilter(const AllocationFilter&) = delete;
    AllocationFilter& operator=(const AllocationFilter&) = delete;

protected:
    AllocationFilter() : previous_(CurrentAllocationHooks()) {}
    ~AllocationFilter() {
        SetAllocationHooks(previous_.allocate, previous_.free, previous_.reallocate,
                           previous_.duplicateText, previous_.blockSize, previous_.context);
    }

    // Puts the filter's hooks in place: called once the filter is fully constructed.
    void Install() {
        SetAllocationHooks(&AllocateBlock, &FreeBlock, &ReallocateBlock, &DuplicateBlock,
                           &SizeOfBlock, static_cast<Filter*>(this));
    }

private:
    static Filter& Self(void* context) { return *static_cast<Filter*>(context); }
    static const AllocationHooks& Previous(void* context) {
        return static_cast<AllocationFilter&>(Self(context)).previous_;
    }

    static void* AllocateBlock(std::size_t size, void* context) {
        if (Self(context).Refuses(AllocationRequest::Allocate, size)) {
            return nullptr;
        }
        const AllocationHooks& hooks = Previous(context);
        return hooks.allocate != nullptr ? hooks.allocate(size, hooks.context)
                                         : Platform::HeapAllocate(size);
    }
    static void FreeBlock(void* block, void* context) {
        const AllocationHooks& hooks = Previous(context);
        hooks.free != nullptr ? hooks.free(block, hooks.context) : Platform::HeapFree(block);
    }
    static void* ReallocateBlock(void* block, std::size_t size, void* context) {
        if (Self(context).Refuses(AllocationRequest::Reallocate, size)) {
            return nullptr;
        }
        const AllocationHooks& hooks = Previous(context);
        return hooks.reallocate != nullptr ? hooks.reallocate(block, size, hooks.context)
                                           : Platform::HeapReallocate(block, size);
    }
    static char* DuplicateBlock(const char* text, void* context) {
        if (text != nullptr &&
            Self(context).Refuses(AllocationRequest::DuplicateText, std::strlen(text) + 1)) {
            return nullptr;
        }
        const AllocationHooks& hooks = Previous(context);
        return hooks.duplicateText != nullptr ? hooks.duplicateText(text, hooks.context)
                                              : Platform::HeapDuplicateText(text);
    }
    static std::size_t SizeOfBlock(void* block, void* context) {
        const AllocationHooks& hooks = Previous(context);
        return hooks.blockSize != nullptr ? hooks.blockSize(block, hooks.context)
                                          : Platform::HeapBlockSize(block);
    }

    AllocationHooks previous_;
};

} // namespace Korvel::Testing
