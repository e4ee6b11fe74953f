#pragma once

// The process-wide source of 4096-byte pages for all value pools. Pages come from 64 KiB chunks
// reserved from the operating system through the platform layer; a chunk goes back to the system
// as soon as all 16 of its pages are free again. Taking and returning pages is guarded by one
// mutex, so pools of different trees may be used on different threads.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace Korvel {

class BindingPageSource {
public:
    static constexpr std::size_t kPageSize = 4096;
    static constexpr std::size_t kPagesPerChunk = 16;
    static constexpr std::size_t kChunkSize = kPageSize * kPagesPerChunk;

    // The process's page source, created on first use and never destroyed.
    static BindingPageSource& Instance();

    // A free page, aligned to 4096 bytes; null when the system refuses a new chunk.
    // `moreToCome` tells that the caller already holds pages and is likely to take more, so the
    // page's chunk is worth backing with memory in one go.
    void* TakePage(bool moreToCome = false);
    // Gives a page obtained from TakePage back.
    void ReturnPage(void* page) noexcept;
    // Gives a page back like ReturnPage, but when it was the last page in use of its chunk the
    // chunk's region is not released: the source forgets the chunk and returns the region's
    // base, which the caller must hand to ReleaseRegions. Null otherwise. Lets a caller that
    // returns many pages at once release the emptied regions together.
    void* ReturnPageKeepingRegion(void* page) noexcept;
    // Releases regions obtained from ReturnPageKeepingRegion (the array is reordered). Regions
    // that lie back to back go to the system in one call: every release costs the system a
    // flush of the address translations, whatever its size.
    static void ReleaseRegions(void** regions, std::size_t count) noexcept;

    // Pages handed out and not yet returned, and chunks currently reserved.
    std::size_t PagesInUse() const;
    std::size_t ChunkCount() const;

private:
    struct Chunk {
        unsigned char* base = nullptr;
        // Free pages; the last entry is taken first. Filled in descending address order so the
        // lowest page of a new chunk is handed out first.
        void* freePages[kPagesPerChunk] = {};
        std::size_t freeCount = 0;
        // Links of the list of chunks that have a free page.
        Chunk* nextWithFree = nullptr;
        Chunk* previousWithFree = nullptr;
        bool listed = false;
        // Whether the whole region has been prepared (see TakePage).
        bool prepared = false;
    };

    BindingPageSource() = default;
    void ListChunk(Chunk& chunk) noexcept;
    void UnlistChunk(Chunk& chunk) noexcept;
    // Returns the page; the base of its chunk's region when the chunk is now wholly free and has
    // been forgotten (its region still reserved), otherwise null. Called under the mutex.
    void* ReturnPageLocked(void* page) noexcept;

    mutable std::mutex mutex_;
    // Chunk records by base address. Chunks are 64 KiB aligned, so a page's chunk is found by
    // masking its address.
    std::unordered_map<std::uintptr_t, Chunk> chunks_;
    Chunk* withFreePages_ = nullptr;
    std::size_t pagesInUse_ = 0;
};

} // namespace Korvel
