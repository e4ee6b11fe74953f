#include "binding/binding_page_source.h"

#include <algorithm>
#include <functional>
#include <new>

#include "platform/virtual_memory.h"

namespace Korvel {

static_assert(BindingPageSource::kChunkSize == 65536);

BindingPageSource& BindingPageSource::Instance() {
    // Constructed in static storage and never destroyed, so pools released during static
    // destruction still find it. The initialisation of a function-local static is thread-safe.
    alignas(BindingPageSource) static unsigned char storage[sizeof(BindingPageSource)];
    static BindingPageSource* const source = new (storage) BindingPageSource();
    return *source;
}

void BindingPageSource::ListChunk(Chunk& chunk) noexcept {
    if (chunk.listed) {
        return;
    }
    chunk.previousWithFree = nullptr;
    chunk.nextWithFree = withFreePages_;
    if (withFreePages_ != nullptr) {
        withFreePages_->previousWithFree = &chunk;
    }
    withFreePages_ = &chunk;
    chunk.listed = true;
}

void BindingPageSource::UnlistChunk(Chunk& chunk) noexcept {
    if (!chunk.listed) {
        return;
    }
    if (chunk.previousWithFree != nullptr) {
        chunk.previousWithFree->nextWithFree = chunk.nextWithFree;
    } else {
        withFreePages_ = chunk.nextWithFree;
    }
    if (chunk.nextWithFree != nullptr) {
        chunk.nextWithFree->previousWithFree = chunk.previousWithFree;
    }
    chunk.nextWithFree = nullptr;
    chunk.previousWithFree = nullptr;
    chunk.listed = false;
}

void* BindingPageSource::TakePage(bool moreToCome) {
    std::lock_guard lock(mutex_);
    if (withFreePages_ == nullptr) {
        auto* base = static_cast<unsigned char*>(Platform::ReserveRegion(kChunkSize));
        if (base == nullptr) {
            return nullptr;
        }
        Chunk* chunk = nullptr;
        try {
            chunk = &chunks_[reinterpret_cast<std::uintptr_t>(base)];
        } catch (const std::bad_alloc&) {
            Platform::ReleaseRegion(base, kChunkSize);
            return nullptr;
        }
        chunk->base = base;
        for (std::size_t i = 0; i < kPagesPerChunk; ++i) {
            chunk->freePages[i] = base + (kPagesPerChunk - 1 - i) * kPageSize;
        }
        chunk->freeCount = kPagesPerChunk;
        ListChunk(*chunk);
    }
    Chunk& chunk = *withFreePages_;
    void* page = chunk.freePages[--chunk.freeCount];
    // A small tree (one request's arguments, say) takes one page and gives its chunk back
    // moments later, so the pages of a new chunk are left to be backed one by one as they are
    // written. A chunk that hands out a second page, or a page to a tree that is growing, is
    // filling up: backing all of its pages in one call then costs much less than a fault for
    // each.
    if (!chunk.prepared && (moreToCome || chunk.freeCount == kPagesPerChunk - 2)) {
        chunk.prepared = true;
        Platform::PrepareRegion(chunk.base, kChunkSize);
    }
    if (chunk.freeCount == 0) {
        UnlistChunk(chunk);
    }
    ++pagesInUse_;
    return page;
}

void* BindingPageSource::ReturnPageLocked(void* page) noexcept {
    const auto base = reinterpret_cast<std::uintptr_t>(page) & ~(std::uintptr_t{kChunkSize} - 1);
    auto found = chunks_.find(base);
    if (found == chunks_.end()) {
        return nullptr; // not one of ours; ignoring it is safer than corrupting a chunk
    }
    Chunk& chunk = found->second;
    if (chunk.freeCount == kPagesPerChunk) {
        return nullptr; // every page of the chunk is free already: a double return
    }
    chunk.freePages[chunk.freeCount++] = page;
    --pagesInUse_;
    ListChunk(chunk);
    if (chunk.freeCount != kPagesPerChunk) {
        return nullptr;
    }
    UnlistChunk(chunk);
    void* region = chunk.base;
    chunks_.erase(found);
    if (chunks_.empty()) {
        // Without chunks the table gives its buckets back too: the source never dies, and a
        // library unloaded in this state must leave nothing behind in the process's heap.
        decltype(chunks_)().swap(chunks_);
    }
    return region;
}

void BindingPageSource::ReturnPage(void* page) noexcept {
    if (page == nullptr) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (void* region = ReturnPageLocked(page)) {
        Platform::ReleaseRegion(region, kChunkSize);
    }
}

void* BindingPageSource::ReturnPageKeepingRegion(void* page) noexcept {
    if (page == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    return ReturnPageLocked(page);
}

void BindingPageSource::ReleaseRegions(void** regions, std::size_t count) noexcept {
    // Descending address order (the order in which the system tends to place new regions), so
    // that runs of adjacent regions become neighbours.
    std::sort(regions, regions + count, std::greater<>());
    std::size_t run = 0;
    while (run < count) {
        std::size_t length = 1;
        while (run + length < count &&
               static_cast<unsigned char*>(regions[run + length]) + length * kChunkSize ==
                   static_cast<unsigned char*>(regions[run])) {
            ++length;
        }
        // regions[run + length - 1] is the lowest of the run.
        Platform::ReleaseAdjacentRegions(regions[run + length - 1], kChunkSize, length);
        run += length;
    }
}

std::size_t BindingPageSource::PagesInUse() const {
    std::lock_guard lock(mutex_);
    return pagesInUse_;
}

std::size_t BindingPageSource::ChunkCount() const {
    std::lock_guard lock(mutex_);
    return chunks_.size();
}

} // namespace Korvel
