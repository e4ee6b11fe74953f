#include "binding/binding_array_slabs.h"

#include <bit>
#include <cassert>

#include "binding/address_poisoning.h"
#include "diagnostics/allocation.h"

namespace Korvel {

namespace {

// Each slab begins with the link to the previous slab and its size, padded so that the blocks
// after it keep the alignment of the slab itself.
struct SlabHeader {
    void* previous;
    std::size_t size;
};
constexpr std::size_t kHeaderSize = 16;
static_assert(sizeof(SlabHeader) <= kHeaderSize);

std::size_t SizeOfClass(std::size_t index) noexcept {
    // Even classes are the halfway steps (3 x 2^k), odd ones the powers of two.
    const std::size_t power = 7 + index / 2;
    return (index % 2) == 0 ? std::size_t{3} << (power - 2) : std::size_t{1} << power;
}

} // namespace

std::size_t BindingArraySlabs::ClassIndex(std::size_t size) noexcept {
    assert(size >= kMinBlockSize && size <= kMaxBlockSize);
    // 2^power is the smallest power of two not below `size`; the halfway step below it is
    // 3 x 2^(power - 2).
    const auto power = static_cast<std::size_t>(std::bit_width(size - 1));
    const std::size_t halfway = std::size_t{3} << (power - 2);
    return 2 * (power - 7) + (size > halfway ? 1 : 0);
}

std::size_t BindingArraySlabs::ClassSize(std::size_t size) noexcept {
    return SizeOfClass(ClassIndex(size));
}

void* BindingArraySlabs::Allocate(std::size_t size) noexcept {
    const std::size_t index = ClassIndex(size);
    void* block = free_[index];
    if (block != nullptr) {
        UnpoisonBytes(block, sizeof(void*));
        free_[index] = *static_cast<void**>(block);
        UnpoisonBytes(block, SizeOfClass(index));
        return block;
    }
    const std::size_t blockSize = SizeOfClass(index);
    if (static_cast<std::size_t>(end_ - cursor_) < blockSize && !AddSlab(blockSize)) {
        return nullptr;
    }
    block = cursor_;
    cursor_ += blockSize;
    UnpoisonBytes(block, blockSize);
    return block;
}

void BindingArraySlabs::Free(void* block, std::size_t size) noexcept {
    if (block == nullptr) {
        return;
    }
    const std::size_t index = ClassIndex(size);
    *static_cast<void**>(block) = free_[index];
    free_[index] = block;
    PoisonBytes(block, SizeOfClass(index));
}

bool BindingArraySlabs::AddSlab(std::size_t blockSize) noexcept {
    std::size_t slabSize = nextSlabSize_;
    while (slabSize < kHeaderSize + blockSize) {
        slabSize *= 2;
    }
    auto* slab = static_cast<unsigned char*>(Korvel::Allocate(slabSize));
    if (slab == nullptr) {
        return false;
    }
    // The rest of the current slab becomes free blocks of the classes that fit it, largest
    // first, instead of lying unused.
    for (std::size_t index = kClassCount; index-- > 0 && cursor_ != end_;) {
        const std::size_t size = SizeOfClass(index);
        while (static_cast<std::size_t>(end_ - cursor_) >= size) {
            UnpoisonBytes(cursor_, sizeof(void*));
            Free(cursor_, size);
            cursor_ += size;
        }
    }
    auto* header = reinterpret_cast<SlabHeader*>(slab);
    header->previous = slabs_;
    header->size = slabSize;
    slabs_ = slab;
    cursor_ = slab + kHeaderSize;
    end_ = slab + slabSize;
    PoisonBytes(cursor_, slabSize - kHeaderSize);
    bytesHeld_ += slabSize;
    if (nextSlabSize_ < kMaxSlabSize) {
        nextSlabSize_ *= 2;
    }
    return true;
}

void BindingArraySlabs::ReleaseAll() noexcept {
    while (slabs_ != nullptr) {
        auto* header = static_cast<SlabHeader*>(slabs_);
        slabs_ = header->previous;
        UnpoisonBytes(header, header->size);
        Korvel::Free(header);
    }
    for (void*& head : free_) {
        head = nullptr;
    }
    cursor_ = nullptr;
    end_ = nullptr;
    nextSlabSize_ = kFirstSlabSize;
    bytesHeld_ = 0;
}

} // namespace Korvel
