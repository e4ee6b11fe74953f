#pragma once

// Storage for the blocks of a value pool that are too large for its bins but still small: the
// member arrays of structures and the element arrays of short collections. A tree has one such
// array per container, and taking each from the general heap (with its counting) cost as much as
// the rest of building the tree. These blocks are instead cut from slabs that the pool takes from
// the allocation entries, a few dozen per megabyte of arrays, in ten size classes (96, 128, 192,
// 256, ... 1536, 2048 bytes: powers of two and the halfway steps between them). A freed block
// waits on its class's free list for the next block of that class; the slabs themselves go back
// to the allocation entries only with the pool, so a tree holds at most the most array memory it
// ever used at once.
//
// Not thread-safe: it is used by the thread that uses the pool's tree.

#include <cstddef>
#include <cstdint>

namespace Korvel {

class BindingArraySlabs {
public:
    static constexpr std::size_t kMinBlockSize = 73; // the bins serve up to 72 bytes
    static constexpr std::size_t kMaxBlockSize = 2048;
    static constexpr std::size_t kClassCount = 10;
    // The first slab is small, so that a small tree does not pay for a large one; each further
    // slab doubles, up to the largest size (below the size from which the general heap maps
    // blocks of their own from the system, which would cost a fresh mapping every time).
    static constexpr std::size_t kFirstSlabSize = 1024;
    static constexpr std::size_t kMaxSlabSize = 32768;

    BindingArraySlabs() noexcept = default;
    BindingArraySlabs(const BindingArraySlabs&) = delete;
    BindingArraySlabs& operator=(const BindingArraySlabs&) = delete;
    ~BindingArraySlabs() { ReleaseAll(); }

    // The block size that serves a request of `size` bytes (kMinBlockSize to kMaxBlockSize).
    static std::size_t ClassSize(std::size_t size) noexcept;

    // A block of at least `size` bytes (kMinBlockSize to kMaxBlockSize), aligned like the
    // allocation entries' blocks; null when memory is exhausted.
    void* Allocate(std::size_t size) noexcept;
    // Gives back a block obtained with the same size.
    void Free(void* block, std::size_t size) noexcept;
    // Gives every slab back to the allocation entries; every block is invalid afterwards.
    void ReleaseAll() noexcept;

    // Bytes of the slabs currently held. For diagnostics and tests.
    std::size_t BytesHeld() const noexcept { return bytesHeld_; }

private:
    static std::size_t ClassIndex(std::size_t size) noexcept;
    bool AddSlab(std::size_t blockSize) noexcept;

    void* free_[kClassCount] = {};    // a free block holds the next one of its class
    unsigned char* cursor_ = nullptr; // the unused rest of the newest slab
    unsigned char* end_ = nullptr;
    void* slabs_ = nullptr; // every slab begins with the link to the one taken before it
    std::size_t nextSlabSize_ = kFirstSlabSize;
    std::size_t bytesHeld_ = 0;
};

} // namespace Korvel
