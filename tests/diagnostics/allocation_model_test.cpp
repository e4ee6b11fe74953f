// The memory accounting checked against a plain second reading of its rules: seeded
// pseudo-random sequences of calls to the allocation entries, with hook tables put in and taken
// out along the way, and every counter of the statistics compared with the model's after each
// call.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/allocation.h"
#include "platform/address_sanitizer.h"
#include "platform/heap.h"
#include "support/split_mix.h"

// The sanitizers' allocators report impossible sizes instead of failing them.
#if defined(__SANITIZE_THREAD__)
#define KORVEL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVEL_THREAD_SANITIZER 1
#endif
#endif
#if !defined(KORVEL_ADDRESS_SANITIZER) && !defined(KORVEL_THREAD_SANITIZER)
#define KORVEL_HEAP_REFUSES_HUGE_BLOCKS 1
#endif

namespace Korvel {
namespace {

class Random : public Korvel::Testing::SplitMix64 {
public:
    using SplitMix64::SplitMix64;
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
};

MemoryStatistics Read() {
    MemoryStatistics statistics{};
    ReadMemoryStatistics(&statistics);
    return statistics;
}

std::size_t SizeOf(const void* block) {
    return Platform::HeapBlockSize(const_cast<void*>(block));
}

// The rules of the accounting, written out plainly.
struct Model {
    MemoryStatistics s{};

    void Allocated(uint64_t bytes) {
        s.bytesAllocated += bytes;
        s.blocksAllocated += 1;
    }
    void Freed(uint64_t bytes) {
        s.bytesFreed += bytes;
        s.blocksFreed += 1;
    }
    // Bytes in use above the peak raise it, and the block count at the peak is taken with it.
    // More bytes returned than taken (blocks taken before the accounting, or under other hooks,
    // given back through the counting hooks) are no figure of use and raise nothing; neither is
    // a count of blocks in use below zero (every reallocation of a null block counts a block
    // freed), which leaves the block count of the earlier peak.
    void RaisePeak() {
        if (s.bytesFreed > s.bytesAllocated) {
            return;
        }
        const uint64_t inUse = s.bytesAllocated - s.bytesFreed;
        if (inUse <= s.peakBytesInUse) {
            return;
        }
        s.peakBytesInUse = inUse;
        if (s.blocksFreed <= s.blocksAllocated) {
            s.blocksInUseAtPeak = s.blocksAllocated - s.blocksFreed;
        }
    }
};

testing::AssertionResult SameFigures(const Model& model, const MemoryStatistics& seen) {
    const MemoryStatistics& want = model.s;
    struct Figure {
        const char* name;
        uint64_t want;
        uint64_t seen;
    };
    const Figure figures[] = {
        {"peak bytes in use", want.peakBytesInUse, seen.peakBytesInUse},
        {"blocks in use at peak", want.blocksInUseAtPeak, seen.blocksInUseAtPeak},
        {"bytes allocated", want.bytesAllocated, seen.bytesAllocated},
        {"blocks allocated", want.blocksAllocated, seen.blocksAllocated},
        {"bytes freed", want.bytesFreed, seen.bytesFreed},
        {"blocks freed", want.blocksFreed, seen.blocksFreed},
    };
    std::string differences;
    for (const Figure& figure : figures) {
        if (figure.want != figure.seen) {
            differences += std::string(figure.name) + ": model " + std::to_string(figure.want) +
                           ", statistics " + std::to_string(figure.seen) + "; ";
        }
    }
    if (differences.empty()) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << differences;
}

// Test hooks in front of another table (the counting hooks or none): they refuse a request
// while `refuse` is set, as when memory has run out, and pass everything else on.
// With `refuseEvery` set it refuses every so many requests instead, from any thread.
struct Gate {
    AllocationHooks below{};
    bool refuse = false;
    unsigned refuseEvery = 0;
    std::atomic<unsigned> requests{0};

    bool Refuses() {
        if (refuseEvery != 0) {
            return requests.fetch_add(1) % refuseEvery == refuseEvery - 1;
        }
        return refuse;
    }
};

Gate& GateOf(void* context) {
    return *static_cast<Gate*>(context);
}
void* GateAllocate(std::size_t size, void* context) {
    Gate& gate = GateOf(context);
    if (gate.Refuses()) {
        return nullptr;
    }
    return gate.below.allocate != nullptr ? gate.below.allocate(size, gate.below.context)
                                          : Platform::HeapAllocate(size);
}
void GateFree(void* block, void* context) {
    const Gate& gate = GateOf(context);
    gate.below.free != nullptr ? gate.below.free(block, gate.below.context)
                               : Platform::HeapFree(block);
}
void* GateReallocate(void* block, std::size_t size, void* context) {
    Gate& gate = GateOf(context);
    // A resize to nothing releases the block; it is never refused.
    if ((block == nullptr || size != 0) && gate.Refuses()) {
        return nullptr;
    }
    return gate.below.reallocate != nullptr ? gate.below.reallocate(block, size, gate.below.context)
                                            : Platform::HeapReallocate(block, size);
}
char* GateDuplicate(const char* text, void* context) {
    Gate& gate = GateOf(context);
    if (text != nullptr && gate.Refuses()) {
        return nullptr;
    }
    return gate.below.duplicateText != nullptr ? gate.below.duplicateText(text, gate.below.context)
                                               : Platform::HeapDuplicateText(text);
}
std::size_t GateSize(void* block, void* context) {
    const Gate& gate = GateOf(context);
    return gate.below.blockSize != nullptr ? gate.below.blockSize(block, gate.below.context)
                                           : Platform::HeapBlockSize(block);
}

// Where one entry of the table in effect sends a request.
enum class Route {
    Counted,    // the counting hook
    Plain,      // no hook: the run-time, uncounted
    Gated,      // the gate, then the counting hook
    GatedPlain, // the gate, then the run-time
};

struct Table {
    Route allocate = Route::Counted;
    Route free = Route::Counted;
    Route reallocate = Route::Counted;
    Route duplicateText = Route::Counted;
    Route blockSize = Route::Counted;
};

const char* Describe(Route route) {
    switch (route) {
    case Route::Counted:
        return "counted";
    case Route::Plain:
        return "plain";
    case Route::Gated:
        return "gated";
    case Route::GatedPlain:
        return "gated-plain";
    }
    return "";
}

// A block the sequence holds, with the bytes written into it.
struct Held {
    void* block;
    std::size_t written;
    unsigned char fill;
};

class Sequence {
public:
    Sequence(uint64_t seed, const AllocationHooks& counting) : random_(seed), counting_(counting) {}
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;

    // Whatever happens, the blocks go back and the counting hooks are put back.
    ~Sequence() {
        Install(Table{});
        for (const Held& held : held_) {
            Free(held.block);
        }
    }

    testing::AssertionResult Run(int steps) {
        model_.s = Read();
        for (int step = 0; step < steps; ++step) {
            what_.clear();
            const testing::AssertionResult done = Step();
            if (!done) {
                return testing::AssertionFailure()
                       << "step " << step << " (" << what_ << "): " << done.message();
            }
            const testing::AssertionResult same = SameFigures(model_, Read());
            if (!same) {
                return testing::AssertionFailure() << "step " << step << " (" << what_ << ", table "
                                                   << TableText() << "): " << same.message();
            }
        }
        // Everything back, through the counting hooks.
        Install(Table{});
        while (!held_.empty()) {
            FreeAt(held_.size() - 1);
        }
        return SameFigures(model_, Read());
    }

private:
    testing::AssertionResult Step() {
        const std::size_t pick = random_.Below(100);
        if (pick < 6) {
            return ChangeTable();
        }
        if (pick < 9) {
            gate_.refuse = !gate_.refuse;
            what_ = gate_.refuse ? "gate refuses" : "gate passes";
            return testing::AssertionSuccess();
        }
        if (pick < 30) {
            return DoAllocate(RandomSize());
        }
        if (pick < 33) {
            return DoAllocate(BeyondThePeak());
        }
        if (pick < 50) {
            if (held_.empty() || random_.Chance(10)) {
                what_ = "free null";
                Free(nullptr);
                return testing::AssertionSuccess();
            }
            return DoFree(random_.Below(held_.size()));
        }
        if (pick < 72) {
            return DoReallocate();
        }
        if (pick < 84) {
            return DoDuplicate();
        }
        if (pick < 90) {
            return DoBlockSize();
        }
#if defined(KORVEL_HEAP_REFUSES_HUGE_BLOCKS)
        if (pick < 95) {
            return DoHuge();
        }
#endif
        what_ = "read into null";
        ReadMemoryStatistics(nullptr);
        return testing::AssertionSuccess();
    }

    // --- hook tables ---

    testing::AssertionResult ChangeTable() {
        Table table;
        const std::size_t kind = random_.Below(4);
        Route* routes[] = {&table.allocate, &table.free, &table.reallocate, &table.duplicateText,
                           &table.blockSize};
        if (kind == 0) {
            // the counting hooks as they started
        } else if (kind == 1) {
            // Counting hooks with some entries left out.
            for (Route* route : routes) {
                *route = random_.Chance(50) ? Route::Counted : Route::Plain;
            }
        } else {
            // The gate in front of the counting hooks or of the run-time, some entries left out.
            const Route through = kind == 2 ? Route::Gated : Route::GatedPlain;
            for (Route* route : routes) {
                *route = random_.Chance(75) ? through : Route::Plain;
            }
        }
        Install(table);
        what_ = "table " + TableText();
        const AllocationHooks now = CurrentAllocationHooks();
        if (std::memcmp(&now, &installed_, sizeof now) != 0) {
            return testing::AssertionFailure() << "the table in effect is not the one installed";
        }
        return testing::AssertionSuccess();
    }

    std::string TableText() const {
        return std::string(Describe(table_.allocate)) + "/" + Describe(table_.free) + "/" +
               Describe(table_.reallocate) + "/" + Describe(table_.duplicateText) + "/" +
               Describe(table_.blockSize) + (gate_.refuse ? " refusing" : "");
    }

    void Install(const Table& table) {
        table_ = table;
        const Route routes[] = {table.allocate, table.free, table.reallocate, table.duplicateText,
                                table.blockSize};
        bool gated = false;
        bool gatedToCounting = false;
        for (const Route route : routes) {
            gated = gated || route == Route::Gated || route == Route::GatedPlain;
            gatedToCounting = gatedToCounting || route == Route::Gated;
        }
        gate_.below = gatedToCounting ? counting_ : AllocationHooks{};
        const auto pick = [](Route route, auto countingHook, auto gateHook) {
            using Hook = decltype(countingHook);
            switch (route) {
            case Route::Counted:
                return countingHook;
            case Route::Plain:
                return Hook{};
            case Route::Gated:
            case Route::GatedPlain:
                return static_cast<Hook>(gateHook);
            }
            return Hook{};
        };
        installed_.allocate = pick(table.allocate, counting_.allocate, &GateAllocate);
        installed_.free = pick(table.free, counting_.free, &GateFree);
        installed_.reallocate = pick(table.reallocate, counting_.reallocate, &GateReallocate);
        installed_.duplicateText =
            pick(table.duplicateText, counting_.duplicateText, &GateDuplicate);
        installed_.blockSize = pick(table.blockSize, counting_.blockSize, &GateSize);
        installed_.context = gated ? static_cast<void*>(&gate_) : counting_.context;
        const bool accepted =
            SetAllocationHooks(installed_.allocate, installed_.free, installed_.reallocate,
                               installed_.duplicateText, installed_.blockSize, installed_.context);
        EXPECT_TRUE(accepted);
    }

    // Whether a request through `route` reaches the counting hooks, and whether the gate stops it.
    bool Counts(Route route) const {
        return route == Route::Counted || route == Route::Gated;
    }
    bool Stopped(Route route) const {
        return (route == Route::Gated || route == Route::GatedPlain) && gate_.refuse;
    }

    // --- requests ---

    std::size_t RandomSize() {
        switch (random_.Below(4)) {
        case 0:
            return random_.Below(17);
        case 1:
        case 2:
            return random_.Below(600);
        default:
            return random_.Below(300000);
        }
    }

    // A block large enough to take bytes in use past the peak, when the figures allow.
    std::size_t BeyondThePeak() {
        const MemoryStatistics now = Read();
        const uint64_t inUse =
            now.bytesAllocated >= now.bytesFreed ? now.bytesAllocated - now.bytesFreed : 0;
        const uint64_t gap = now.peakBytesInUse > inUse ? now.peakBytesInUse - inUse : 0;
        return static_cast<std::size_t>(std::min<uint64_t>(gap, 64u << 20)) + 1 +
               random_.Below(4096);
    }

    void Keep(void* block, std::size_t requested) {
        const unsigned char fill = static_cast<unsigned char>(random_.Next());
        const std::size_t written = std::min<std::size_t>(requested, 256);
        std::memset(block, fill, written);
        held_.push_back({block, written, fill});
    }

    static bool Intact(const Held& held, std::size_t upTo) {
        const auto* bytes = static_cast<const unsigned char*>(held.block);
        for (std::size_t i = 0; i < std::min(upTo, held.written); ++i) {
            if (bytes[i] != held.fill) {
                return false;
            }
        }
        return true;
    }

    testing::AssertionResult DoAllocate(std::size_t size) {
        what_ = "allocate " + std::to_string(size);
        void* block = Allocate(size);
        if (Stopped(table_.allocate)) {
            if (block != nullptr) {
                Free(block);
                return testing::AssertionFailure() << "a refused request got a block";
            }
            return testing::AssertionSuccess();
        }
        if (Counts(table_.allocate)) {
            model_.Allocated(SizeOf(block));
            model_.RaisePeak();
        }
        if (block == nullptr) {
            return testing::AssertionFailure() << "the heap gave no block";
        }
        if (SizeOf(block) < size) {
            return testing::AssertionFailure() << "a block smaller than asked for";
        }
        Keep(block, size);
        return testing::AssertionSuccess();
    }

    // What a free through the table's free entry counts.
    void ModelFree(void* block, std::size_t size) {
        if (block != nullptr && Counts(table_.free)) {
            model_.Freed(size);
        }
    }

    void FreeAt(std::size_t index) {
        void* block = held_[index].block;
        ModelFree(block, SizeOf(block));
        Free(block);
        held_[index] = held_.back();
        held_.pop_back();
    }

    testing::AssertionResult DoFree(std::size_t index) {
        what_ = "free " + std::to_string(SizeOf(held_[index].block));
        if (!Intact(held_[index], held_[index].written)) {
            return testing::AssertionFailure() << "a held block lost its contents";
        }
        FreeAt(index);
        return testing::AssertionSuccess();
    }

    testing::AssertionResult DoReallocate() {
        const bool fromNull = held_.empty() || random_.Chance(15);
        const std::size_t index = fromNull ? 0 : random_.Below(held_.size());
        void* block = fromNull ? nullptr : held_[index].block;
        std::size_t size = 0;
        if (!random_.Chance(fromNull ? 20 : 15)) {
            const std::size_t old = SizeOf(block);
            switch (random_.Below(4)) {
            case 0:
                size = old / 2; // shrinking
                break;
            case 1:
                size = old; // the same
                break;
            default:
                size = RandomSize() + 1;
                break;
            }
        }
        what_ = std::string("reallocate ") + (fromNull ? "null" : std::to_string(SizeOf(block))) +
                " to " + std::to_string(size);
        const std::size_t oldSize = SizeOf(block);
        // The gate never refuses a resize to nothing: a null answer is its success.
        const bool releases = block != nullptr && size == 0;
        const bool stopped = Stopped(table_.reallocate) && !releases;

        void* resized = Reallocate(block, size);

        if (stopped) {
            if (resized != nullptr) {
                return testing::AssertionFailure() << "a refused request got a block";
            }
            if (!fromNull && !Intact(held_[index], held_[index].written)) {
                return testing::AssertionFailure() << "a refused resize spoilt the block";
            }
            return testing::AssertionSuccess();
        }
        if (releases) {
            if (resized != nullptr) {
                return testing::AssertionFailure() << "resizing to nothing left a block";
            }
            if (table_.reallocate == Route::Plain) {
                ModelFree(block, oldSize); // no hook: the free entry releases the block
            } else if (Counts(table_.reallocate)) {
                model_.Freed(oldSize);
            }
            held_[index] = held_.back();
            held_.pop_back();
            return testing::AssertionSuccess();
        }
        if (Counts(table_.reallocate)) {
            model_.Freed(oldSize); // 0 bytes for a null block, still one block
            model_.Allocated(SizeOf(resized));
            model_.RaisePeak();
        }
        if (resized == nullptr) {
            return testing::AssertionFailure() << "the heap gave no block";
        }
        if (SizeOf(resized) < size) {
            return testing::AssertionFailure() << "a block smaller than asked for";
        }
        if (fromNull) {
            Keep(resized, size);
            return testing::AssertionSuccess();
        }
        Held& held = held_[index];
        held.block = resized;
        if (!Intact(held, size)) {
            return testing::AssertionFailure() << "the contents did not move with the block";
        }
        held.written = std::min(held.written, size);
        return testing::AssertionSuccess();
    }

    testing::AssertionResult DoDuplicate() {
        if (random_.Chance(8)) {
            what_ = "duplicate null";
            if (DuplicateText(nullptr) != nullptr) {
                return testing::AssertionFailure() << "a copy of no text";
            }
            return testing::AssertionSuccess();
        }
        std::string text(random_.Below(random_.Chance(10) ? 5000 : 80), '\0');
        for (char& c : text) {
            c = static_cast<char>('a' + random_.Below(26));
        }
        what_ = "duplicate " + std::to_string(text.size());
        char* copy = DuplicateText(text.c_str());
        if (Stopped(table_.duplicateText)) {
            if (copy != nullptr) {
                Free(copy);
                return testing::AssertionFailure() << "a refused request got a block";
            }
            return testing::AssertionSuccess();
        }
        if (Counts(table_.duplicateText)) {
            model_.Allocated(SizeOf(copy));
            model_.RaisePeak();
        }
        if (copy == nullptr || text != copy) {
            return testing::AssertionFailure() << "the copy differs from the text";
        }
        held_.push_back({copy, 0, 0}); // letters, not one fill byte: nothing to check later
        return testing::AssertionSuccess();
    }

    testing::AssertionResult DoBlockSize() {
        void* block = held_.empty() || random_.Chance(10)
                          ? nullptr
                          : held_[random_.Below(held_.size())].block;
        what_ = "block size";
        const std::size_t size = BlockSize(block);
        if (size != SizeOf(block)) {
            return testing::AssertionFailure()
                   << "block size " << size << ", the heap says " << SizeOf(block);
        }
        return testing::AssertionSuccess();
    }

#if defined(KORVEL_HEAP_REFUSES_HUGE_BLOCKS)
    // Requests the heap itself refuses, beneath the counting hooks.
    testing::AssertionResult DoHuge() {
        const std::size_t huge = SIZE_MAX - 4096 - random_.Below(4096);
        if (held_.empty() || random_.Chance(40)) {
            what_ = "allocate a huge block";
            if (Allocate(huge) != nullptr) {
                return testing::AssertionFailure() << "the heap gave a huge block";
            }
            if (Counts(table_.allocate) && !Stopped(table_.allocate)) {
                model_.Allocated(0); // a failed allocation: no bytes, one block
                model_.RaisePeak();
            }
            return testing::AssertionSuccess();
        }
        const std::size_t index = random_.Below(held_.size());
        what_ = "reallocate " + std::to_string(SizeOf(held_[index].block)) + " to a huge size";
        if (Reallocate(held_[index].block, huge) != nullptr) {
            return testing::AssertionFailure() << "the heap gave a huge block";
        }
        if (Counts(table_.reallocate) && !Stopped(table_.reallocate)) {
            // The old block lives on and is not counted freed; the attempt counts as a failed
            // allocation.
            model_.Allocated(0);
            model_.RaisePeak();
        }
        if (!Intact(held_[index], held_[index].written)) {
            return testing::AssertionFailure() << "a failed resize spoilt the block";
        }
        return testing::AssertionSuccess();
    }
#endif

    Random random_;
    AllocationHooks counting_;
    Gate gate_;
    Table table_;
    AllocationHooks installed_{};
    Model model_;
    std::vector<Held> held_;
    std::string what_;
};

// Runs the sequences and ends the process: with status 0 when every figure matched the
// model, with 1 and the first difference on standard error otherwise.
[[noreturn]] void RunSequencesAndExit() {
    constexpr uint64_t kSequences = 3000;
    const AllocationHooks counting = CurrentAllocationHooks();
    for (uint64_t seed = 1; seed <= kSequences; ++seed) {
        testing::AssertionResult result = testing::AssertionSuccess();
        {
            Sequence sequence(seed, counting);
            result = sequence.Run(40 + static_cast<int>(seed % 80));
        }
        const AllocationHooks after = CurrentAllocationHooks();
        if (result && std::memcmp(&after, &counting, sizeof after) != 0) {
            result = testing::AssertionFailure() << "the counting hooks were not put back";
        }
        if (!result) {
            std::fprintf(stderr, "seed %llu: %s\n", static_cast<unsigned long long>(seed),
                         result.message());
            std::exit(1);
        }
    }
    std::fprintf(stderr, "%llu sequences matched the model\n",
                 static_cast<unsigned long long>(kSequences));
    std::exit(0);
}

// The sequences free blocks through other hooks than those that allocated them, which leaves
// the counters of the process unbalanced for good; they run in a process of their own.
TEST(MemoryAccountingModel, RandomSequencesMatchTheModel) {
    EXPECT_EXIT(RunSequencesAndExit(), testing::ExitedWithCode(0), "sequences matched the model");
}

// Several threads run random sequences through the hooks in effect at once while another reads
// the statistics: every reading has counters that never go back, and at the end the counters
// have moved by exactly what the threads' own models add up to. A null answer to a small request
// is a refusal of the test hooks, which the counting hooks never see.
void RunConcurrentSequences() {
    constexpr int kThreads = 4;
    constexpr int kSteps = 20000;
    // One thread's share of the figures, and the blocks it holds.
    struct Share {
        Model model;
        std::vector<void*> held;
    };
    const MemoryStatistics before = Read();
    std::atomic<bool> running{true};
    auto reader = std::async(std::launch::async, [&running] {
        MemoryStatistics last = Read();
        int readings = 0;
        std::string fault;
        while (running.load() && fault.empty()) {
            const MemoryStatistics now = Read();
            ++readings;
            if (now.peakBytesInUse < last.peakBytesInUse ||
                now.bytesAllocated < last.bytesAllocated ||
                now.blocksAllocated < last.blocksAllocated || now.bytesFreed < last.bytesFreed ||
                now.blocksFreed < last.blocksFreed) {
                fault = "a counter went back after " + std::to_string(readings) + " readings";
            }
            last = now;
        }
        return fault;
    });
    std::vector<std::future<Share>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [t] {
            Random random(0xC0FFEEu + static_cast<uint64_t>(t));
            Share share;
            Model& m = share.model;
            std::vector<void*>& held = share.held;
            for (int step = 0; step < kSteps; ++step) {
                const std::size_t pick = random.Below(100);
                if (pick < 30) {
                    if (void* block = Allocate(random.Below(700))) {
                        m.Allocated(SizeOf(block));
                        held.push_back(block);
                    }
                } else if (pick < 55 && !held.empty()) {
                    const std::size_t index = random.Below(held.size());
                    m.Freed(SizeOf(held[index]));
                    Free(held[index]);
                    held[index] = held.back();
                    held.pop_back();
                } else if (pick < 60) {
                    Free(nullptr);
                } else if (pick < 80) {
                    const bool fromNull = held.empty() || random.Chance(15);
                    const std::size_t index = fromNull ? 0 : random.Below(held.size());
                    void* block = fromNull ? nullptr : held[index];
                    const std::size_t size = random.Chance(15) ? 0 : random.Below(900);
                    const std::size_t oldSize = SizeOf(block);
                    void* resized = Reallocate(block, size);
                    if (block != nullptr && size == 0) {
                        m.Freed(oldSize);
                        held[index] = held.back();
                        held.pop_back();
                    } else if (resized != nullptr) {
                        m.Freed(oldSize);
                        m.Allocated(SizeOf(resized));
                        if (fromNull) {
                            held.push_back(resized);
                        } else {
                            held[index] = resized;
                        }
                    }
                } else if (pick < 95) {
                    const std::string text(random.Below(120), 'x');
                    if (char* copy = DuplicateText(text.c_str())) {
                        m.Allocated(SizeOf(copy));
                        held.push_back(copy);
                    }
                } else {
                    void* block = held.empty() ? nullptr : held[random.Below(held.size())];
                    if (BlockSize(block) != SizeOf(block)) {
                        m.Allocated(1u << 30); // spoils the balance, so the test reports it
                    }
                }
            }
            return share;
        }));
    }
    Model total;
    for (auto& worker : workers) {
        Share share = worker.get();
        for (void* block : share.held) {
            share.model.Freed(SizeOf(block));
            Free(block);
        }
        total.s.bytesAllocated += share.model.s.bytesAllocated;
        total.s.blocksAllocated += share.model.s.blocksAllocated;
        total.s.bytesFreed += share.model.s.bytesFreed;
        total.s.blocksFreed += share.model.s.blocksFreed;
    }
    running.store(false);
    EXPECT_EQ(reader.get(), "");
    const MemoryStatistics after = Read();
    EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, total.s.bytesAllocated);
    EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, total.s.blocksAllocated);
    EXPECT_EQ(after.bytesFreed - before.bytesFreed, total.s.bytesFreed);
    EXPECT_EQ(after.blocksFreed - before.blocksFreed, total.s.blocksFreed);
    EXPECT_EQ(after.bytesAllocated - after.bytesFreed, before.bytesAllocated - before.bytesFreed);
    EXPECT_GE(after.peakBytesInUse, before.peakBytesInUse);
    EXPECT_LE(after.peakBytesInUse, after.bytesAllocated);
}

TEST(MemoryAccountingModel, ConcurrentSequencesBalance) {
    RunConcurrentSequences();
}

// The same through test hooks in front of the counting hooks that refuse now and then.
TEST(MemoryAccountingModel, ConcurrentSequencesThroughRefusingHooksBalance) {
    const AllocationHooks counting = CurrentAllocationHooks();
    Gate gate;
    gate.below = counting;
    gate.refuseEvery = 7;
    SetAllocationHooks(&GateAllocate, &GateFree, &GateReallocate, &GateDuplicate, &GateSize, &gate);
    RunConcurrentSequences();
    SetAllocationHooks(counting.allocate, counting.free, counting.reallocate,
                       counting.duplicateText, counting.blockSize, counting.context);
    EXPECT_GT(gate.requests.load(), 0u);
}

} // namespace
} // namespace Korvel
