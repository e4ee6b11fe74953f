#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/address_sanitizer.h"
#include "platform/clock.h"
#include "platform/debugger_output.h"
#include "platform/dynamic_library.h"
#include "platform/executable_path.h"
#include "platform/heap.h"
#include "platform/local_time.h"
#include "platform/recursive_lock.h"
#include "platform/static_mutex.h"
#include "platform/text.h"
#include "platform/thread_id.h"
#include "platform/virtual_memory.h"

namespace Korvel::Platform {
namespace {

TEST(VirtualMemory, RegionsAreAlignedWritableAndCounted) {
    const std::size_t before = LiveRegionCount();
    std::vector<std::pair<void*, std::size_t>> regions;
    for (std::size_t size : {std::size_t{1}, std::size_t{4096}, std::size_t{65536},
                             std::size_t{65537}, std::size_t{3 * 65536}}) {
        void* region = ReserveRegion(size);
        ASSERT_NE(region, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region) % kRegionAlignment, 0u) << size;
        std::memset(region, 0xAB, size);
        EXPECT_EQ(static_cast<unsigned char*>(region)[size - 1], 0xAB);
        regions.emplace_back(region, size);
    }
    EXPECT_EQ(LiveRegionCount(), before + regions.size());
    for (auto [region, size] : regions) {
        ReleaseRegion(region, size);
    }
    EXPECT_EQ(LiveRegionCount(), before);
}

TEST(VirtualMemory, FreshRegionsAreZeroAndBadRequestsFail) {
    auto* region = static_cast<unsigned char*>(ReserveRegion(65536));
    ASSERT_NE(region, nullptr);
    for (std::size_t i = 0; i < 65536; i += 997) {
        ASSERT_EQ(region[i], 0);
    }
    ReleaseRegion(region, 65536);
    const std::size_t before = LiveRegionCount();
    EXPECT_EQ(ReserveRegion(0), nullptr);
    EXPECT_EQ(ReserveRegion(SIZE_MAX), nullptr);
    ReleaseRegion(nullptr, 65536);
    EXPECT_EQ(LiveRegionCount(), before);
}

// Whether the page at `address` is part of any mapping of the process.
bool IsMapped(const void* address) {
#ifdef _WIN32
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State != MEM_FREE;
#else
    // The system reads the byte for the pipe, and refuses when nothing is mapped there; this also
    // holds under an emulator that keeps the address space reserved for its program.
    int ends[2];
    if (pipe(ends) != 0) {
        return true;
    }
    const bool readable = write(ends[1], address, 1) == 1;
    close(ends[0]);
    close(ends[1]);
    return readable;
#endif
}

// Regions lie at 64 KiB boundaries whatever their size, so regions of a size that is not a
// multiple of it still lie back to back when each starts at the boundary after the one before.
// Given back together, every one of them goes, and nothing else.
TEST(VirtualMemory, AdjacentRegionsOfAnySizeAreAllReleased) {
    for (std::size_t size :
         {std::size_t{100}, std::size_t{4096}, std::size_t{65536}, std::size_t{65536 + 4096}}) {
        const std::size_t stride =
            (size + kRegionAlignment - 1) / kRegionAlignment * kRegionAlignment;
        const std::size_t before = LiveRegionCount();
        std::vector<unsigned char*> regions;
        for (int i = 0; i < 16; ++i) {
            auto* region = static_cast<unsigned char*>(ReserveRegion(size));
            ASSERT_NE(region, nullptr) << size;
            region[size - 1] = 1;
            regions.push_back(region);
        }
        std::sort(regions.begin(), regions.end());
        std::size_t run = regions.size();
        for (std::size_t i = 0; i + 2 < regions.size(); ++i) {
            if (regions[i + 1] == regions[i] + stride &&
                regions[i + 2] == regions[i + 1] + stride) {
                run = i;
                break;
            }
        }
        if (run == regions.size()) {
            for (unsigned char* region : regions) {
                ReleaseRegion(region, size);
            }
            GTEST_SKIP() << "the system placed no three regions of " << size << " bytes together";
        }
        ReleaseAdjacentRegions(regions[run], size, 3);
        EXPECT_EQ(LiveRegionCount(), before + regions.size() - 3) << size;
        for (std::size_t i = 0; i < regions.size(); ++i) {
            EXPECT_EQ(IsMapped(regions[i]), i < run || i >= run + 3) << size << " " << i;
        }
        for (std::size_t i = 0; i < regions.size(); ++i) {
            if (i < run || i >= run + 3) {
                ReleaseRegion(regions[i], size);
            }
        }
        EXPECT_EQ(LiveRegionCount(), before) << size;
    }
}

TEST(VirtualMemory, CountIsExactUnderConcurrency) {
    const std::size_t before = LiveRegionCount();
    std::vector<std::future<void>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.push_back(std::async(std::launch::async, [] {
            for (int i = 0; i < 200; ++i) {
                void* region = ReserveRegion(65536);
                ASSERT_NE(region, nullptr);
                ReleaseRegion(region, 65536);
            }
        }));
    }
    for (auto& worker : workers) {
        worker.get();
    }
    EXPECT_EQ(LiveRegionCount(), before);
}

TEST(RecursiveLock, ReentrantAndExclusive) {
    RecursiveLock lock;
    lock.Lock();
    lock.Lock(); // the owner may take it again
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        RecursiveLockGuard guard(lock);
        acquired = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    lock.Unlock();
    EXPECT_FALSE(acquired.load()); // still held once
    lock.Unlock();
    other.join();
    EXPECT_TRUE(acquired.load());

    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                RecursiveLockGuard outer(lock);
                RecursiveLockGuard inner(lock);
                ++counter;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 40000);
}

// Every Lock counts: after many re-entries the lock is still held until the last Unlock.
TEST(RecursiveLock, HeldUntilEveryLockIsMatched) {
    constexpr int kDepth = 1000;
    RecursiveLock lock;
    for (int i = 0; i < kDepth; ++i) {
        lock.Lock();
    }
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        RecursiveLockGuard guard(lock);
        acquired = true;
    });
    for (int i = 0; i < kDepth - 1; ++i) {
        lock.Unlock();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(acquired.load());
    lock.Unlock();
    other.join();
    EXPECT_TRUE(acquired.load());
    // Taken again, over and over, by the thread that had to wait for it.
    lock.Lock();
    lock.Unlock();
}

// Constant-initialised: usable before any dynamic initialisation has run.
constinit StaticMutex staticMutex;

TEST(StaticMutex, ExclusiveAcrossThreads) {
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                std::lock_guard<StaticMutex> guard(staticMutex);
                // A read, a yield and a write: lost updates show without the lock.
                const int seen = counter;
                if (i % 1000 == 0) {
                    std::this_thread::yield();
                }
                counter = seen + 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 40000);
}

TEST(Clock, MonotonicCounterAndFrequency) {
    const uint64_t frequency = HighResolutionFrequency();
    ASSERT_GT(frequency, 0u);
    const uint64_t start = ReadHighResolutionCounter();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint64_t end = ReadHighResolutionCounter();
    ASSERT_GT(end, start);
    const double seconds = static_cast<double>(end - start) / static_cast<double>(frequency);
    EXPECT_GE(seconds, 0.029);
    EXPECT_LT(seconds, 5.0);
}

// The counter never goes back, in one thread or across threads, and its ticks are seconds divided
// by the frequency: it runs at the pace of the standard steady clock.
TEST(Clock, NeverGoesBackAndKeepsPaceWithTheSteadyClock) {
    uint64_t last = ReadHighResolutionCounter();
    for (int i = 0; i < 100000; ++i) {
        const uint64_t now = ReadHighResolutionCounter();
        ASSERT_GE(now, last);
        last = now;
    }
    uint64_t inThread = 0;
    std::thread([&] { inThread = ReadHighResolutionCounter(); }).join();
    EXPECT_GE(inThread, last);
    EXPECT_GE(ReadHighResolutionCounter(), inThread);

    const double frequency = static_cast<double>(HighResolutionFrequency());
    const auto steadyStart = std::chrono::steady_clock::now();
    const uint64_t start = ReadHighResolutionCounter();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint64_t end = ReadHighResolutionCounter();
    const auto steadyEnd = std::chrono::steady_clock::now();
    const double counted = static_cast<double>(end - start) / frequency;
    const double steady = std::chrono::duration<double>(steadyEnd - steadyStart).count();
    EXPECT_LE(counted, steady + 0.001); // a millisecond for rounding between the two clocks
    EXPECT_GT(counted, steady * 0.9);
}

TEST(LocalTimeTest, MatchesTheCRuntime) {
    const std::time_t now = std::time(nullptr);
    // Single-threaded here, so the C run-time's shared result is safe.
    const std::tm expected = *std::localtime(&now);
    const LocalTime time = ReadLocalTime();
    EXPECT_EQ(time.year, expected.tm_year + 1900);
    EXPECT_EQ(time.month, expected.tm_mon + 1);
    EXPECT_GE(time.day, 1);
    EXPECT_LE(time.day, 31);
    EXPECT_GE(time.hour, 0);
    EXPECT_LE(time.hour, 23);
    EXPECT_LE(time.minute, 59);
    EXPECT_LE(time.second, 60);
    EXPECT_GE(time.millisecond, 0);
    EXPECT_LE(time.millisecond, 999);
}

TEST(ThreadId, SystemIdentifierPerThread) {
#ifdef _WIN32
    EXPECT_EQ(CurrentThreadId(), static_cast<uint32_t>(GetThreadId(GetCurrentThread())));
#else
    EXPECT_EQ(CurrentThreadId(), static_cast<uint32_t>(syscall(SYS_gettid)));
#endif
    EXPECT_EQ(CurrentThreadId(), CurrentThreadId());
    uint32_t other = 0;
    std::thread([&] { other = CurrentThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, CurrentThreadId());
}

TEST(ExecutablePath, NamesThisProgram) {
    char path[1024];
    const std::size_t length = ReadExecutablePath(path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, std::strlen(path));
    const std::string text(path);
#ifdef _WIN32
    // A drive-qualified path ("Z:\\..." under Wine).
    EXPECT_EQ(text.substr(1, 2), ":\\");
    EXPECT_EQ(text.substr(text.find_last_of('\\') + 1), "platform_tests.exe");
#else
    EXPECT_EQ(path[0], '/');
    EXPECT_EQ(text.substr(text.find_last_of('/') + 1), "platform_tests");
#endif

    char small[5];
    EXPECT_EQ(ReadExecutablePath(small, sizeof small), 4u);
    EXPECT_EQ(std::string(small), text.substr(0, 4));
    EXPECT_EQ(ReadExecutablePath(nullptr, 10), 0u);
}

#ifndef _WIN32
// A path cut to fit ends before a character that does not fit whole, never inside it. (The Windows
// path is in the system's 8-bit code page, not UTF-8.)
TEST(ExecutablePath, TruncationKeepsWholeCharacters) {
    char path[4096];
    ASSERT_GT(ReadExecutablePath(path, sizeof path), 0u);
    const std::string self(path);
    const std::string marker = "korvel-exe-";
    if (std::getenv("KORVEL_EXECUTABLE_PATH_PROBE") == nullptr) {
        // Run this test again from a copy in a folder whose name holds a two-, a three- and a
        // four-byte character.
        namespace fs = std::filesystem;
        const std::string folderName =
            marker + "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80-" + std::to_string(getpid());
        const fs::path folder = fs::temp_directory_path() / folderName;
        fs::create_directories(folder);
        const std::string copy = (folder / "platform_tests").string();
        fs::copy_file(self, copy, fs::copy_options::overwrite_existing);
        // Under an emulator (the 32-bit tests run under qemu-user) the copy is started through
        // it as well: the kernel may not run the program itself.
        std::vector<std::string> arguments;
        if (const char* emulator = std::getenv("KORVEL_TEST_EMULATOR")) {
            std::istringstream words(emulator);
            for (std::string word; words >> word;) {
                arguments.push_back(word);
            }
        }
        arguments.insert(arguments.end(),
                         {copy, "--gtest_filter=ExecutablePath.TruncationKeepsWholeCharacters",
                          "--gtest_brief=1"});
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        std::string probe = "KORVEL_EXECUTABLE_PATH_PROBE=1";
        std::vector<char*> envp{probe.data()};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            envp.push_back(*entry);
        }
        envp.push_back(nullptr);
        pid_t child = 0;
        const int started =
            posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), envp.data());
        int status = 0;
        if (started == 0) {
            waitpid(child, &status, 0);
        }
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        if (started != 0) {
            GTEST_SKIP() << "this system cannot start the copy: " << std::strerror(started);
        }
        // 127 is the status of a child whose program could not be started after the fork (an
        // emulated spawn reports the failure no other way).
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
            GTEST_SKIP() << "this system cannot start the copy (status 127)";
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        return;
    }

    const std::size_t first = self.find(marker);
    ASSERT_NE(first, std::string::npos) << self;
    const std::size_t s0 = first + marker.size();
    const std::size_t starts[] = {s0, s0 + 2, s0 + 5, s0 + 9};
    for (std::size_t room = s0; room <= s0 + 9; ++room) {
        std::size_t expected = 0;
        for (std::size_t start : starts) {
            if (start <= room) {
                expected = start;
            }
        }
        char cut[4096];
        EXPECT_EQ(ReadExecutablePath(cut, room + 1), expected) << room;
        EXPECT_EQ(std::string(cut), self.substr(0, expected)) << room;
    }
}
#endif

// Debugger output from a static constructor that runs before all others, as a load-time
// constructor of any module may: the hook and its lock work before dynamic initialisation has
// reached them.
char earlyText[32] = {};

struct EarlyDebuggerOutput {
    EarlyDebuggerOutput() {
        SetDebuggerOutputHook(
            [](const char* text, void*) { std::snprintf(earlyText, sizeof earlyText, "%s", text); },
            nullptr);
        WriteDebuggerOutput("before main");
        SetDebuggerOutputHook(nullptr, nullptr);
    }
};

__attribute__((init_priority(101))) EarlyDebuggerOutput earlyDebuggerOutput;

TEST(DebuggerOutput, WorksFromTheFirstStaticConstructor) {
    EXPECT_STREQ(earlyText, "before main");
}

// Windows has a debugger channel and its own system libraries; the tests of
// those are in windows_platform_test.cpp.
#ifndef _WIN32
TEST(DebuggerOutput, NoChannelButTheHookSeesEveryText) {
    WriteDebuggerOutput("dropped: no hook yet");
    std::vector<std::string> seen;
    SetDebuggerOutputHook(
        [](const char* text, void* context) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(text);
        },
        &seen);
    WriteDebuggerOutput("first\n");
    WriteDebuggerOutput(nullptr);
    WriteDebuggerOutput("second");
    SetDebuggerOutputHook(nullptr, nullptr);
    WriteDebuggerOutput("dropped again");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "first\n");
    EXPECT_EQ(seen[1], "second");
}

// The place a region was given back in is where the next region goes: reserving and releasing
// in turn does not walk down through the address space. (The system places Windows regions.)
TEST(VirtualMemory, ReleasedPlaceIsTakenAgain) {
    std::vector<void*> places;
    places.reserve(64); // nothing else maps memory between the calls
    for (int i = 0; i < 64; ++i) {
        void* region = ReserveRegion(65536);
        ASSERT_NE(region, nullptr);
        places.push_back(region);
        ReleaseRegion(region, 65536);
    }
    EXPECT_EQ(std::set<void*>(places.begin(), places.end()).size(), 1u);
}

TEST(DynamicLibrary, LooksUpLibrariesAndFunctions) {
    EXPECT_EQ(OpenLibrary("Advapi32.dll"), nullptr);
    EXPECT_EQ(OpenLibrary(nullptr), nullptr);
    EXPECT_EQ(FindLibraryFunction(nullptr, "strlen"), nullptr);
    CloseLibrary(nullptr);

    LibraryHandle libc = OpenLibrary("libc.so.6");
    ASSERT_NE(libc, nullptr);
    using Strlen = std::size_t (*)(const char*);
    auto strlenFunction = reinterpret_cast<Strlen>(FindLibraryFunction(libc, "strlen"));
    ASSERT_NE(strlenFunction, nullptr);
    EXPECT_EQ(strlenFunction("four"), 4u);
    EXPECT_EQ(FindLibraryFunction(libc, "NoSuchFunctionAnywhere"), nullptr);
    EXPECT_EQ(FindLibraryFunction(libc, nullptr), nullptr);
    CloseLibrary(libc);
}
#endif // !_WIN32

// An empty name names no library (the POSIX loader would hand out the program itself).
TEST(DynamicLibrary, EmptyAndMalformedNamesLoadNothing) {
    EXPECT_EQ(OpenLibrary(""), nullptr);
    EXPECT_EQ(OpenLibrary("\xC3"), nullptr);
    EXPECT_EQ(OpenLibrary("\xED\xA0\x80.dll"), nullptr);
}

// Names are UTF-8: a library in a folder whose name is not ASCII loads by its UTF-8 path.
TEST(DynamicLibrary, NonAsciiPathsLoad) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / fs::path(u8"korvel-bibliothèque-中");
    fs::create_directories(folder);
    const fs::path source(KORVEL_PLUGIN_PATH);
    const fs::path copy = folder / fs::path(u8"plüg-in").concat(source.extension().u8string());
    fs::copy_file(source, copy, fs::copy_options::overwrite_existing);

    const std::u8string name = copy.u8string();
    LibraryHandle library = OpenLibrary(reinterpret_cast<const char*>(name.c_str()));
    EXPECT_NE(library, nullptr) << reinterpret_cast<const char*>(name.c_str());
    if (library != nullptr) {
        EXPECT_NE(FindLibraryFunction(library, "load_vel_service_status"), nullptr);
        CloseLibrary(library);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

TEST(Text, CaseInsensitiveCompare) {
    EXPECT_EQ(CompareTextNoCase("Content-Type", "content-type", 12), 0);
    EXPECT_EQ(CompareTextNoCase("ABCx", "abcY", 3), 0);
    EXPECT_LT(CompareTextNoCase("abc", "ABD", 3), 0);
    EXPECT_GT(CompareTextNoCase("b", "A", 1), 0);
    EXPECT_LT(CompareTextNoCase("ab", "abc", 5), 0);
    EXPECT_EQ(CompareTextNoCase("x", "y", 0), 0);
}

// Bytes above ASCII are not letters and compare as unsigned, above every ASCII byte; only ASCII
// letters fold, so the characters between the two alphabets keep their order against letters.
// The comparison ends at the first NUL however large the count.
TEST(Text, CaseInsensitiveCompareOfOtherBytes) {
    EXPECT_GT(CompareTextNoCase("\xC3\xA9", "z", 2), 0);
    EXPECT_LT(CompareTextNoCase("Z", "\x80", 1), 0);
    EXPECT_NE(CompareTextNoCase("\xC3\xA9", "\xC3\x89", 2), 0); // no folding outside ASCII
    EXPECT_EQ(CompareTextNoCase("\xC3\xA9X", "\xC3\xA9x", 3), 0);
    EXPECT_LT(CompareTextNoCase("_", "a", 1), 0);
    EXPECT_LT(CompareTextNoCase("_", "A", 1), 0);
    EXPECT_LT(CompareTextNoCase("[", "a", 1), 0);
    EXPECT_GT(CompareTextNoCase("a", "@", 1), 0);
    EXPECT_EQ(CompareTextNoCase("ab\0x", "AB\0y", 100), 0);
    EXPECT_GT(CompareTextNoCase("abc", "AB", SIZE_MAX), 0);
}

// Requests the heap cannot meet are refused with null, and a refused resize leaves the block
// as it was. (AddressSanitizer stops the program on such requests instead.)
TEST(Heap, ImpossibleRequestsAreRefused) {
#if defined(KORVEL_ADDRESS_SANITIZER)
    GTEST_SKIP() << "AddressSanitizer stops the program on impossible requests";
#else
    EXPECT_EQ(HeapAllocate(SIZE_MAX), nullptr);
    EXPECT_EQ(HeapAllocate(SIZE_MAX - 64), nullptr);
    auto* block = static_cast<char*>(HeapAllocate(16));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "kept as it was", 15);
    EXPECT_EQ(HeapReallocate(block, SIZE_MAX - 64), nullptr);
    EXPECT_STREQ(block, "kept as it was");
    EXPECT_GE(HeapBlockSize(block), 16u);
    HeapFree(block);
#endif
}

// A long text is copied whole, and a block of a size that is no round number reports at least
// that size.
TEST(Heap, LongTextsAndOddSizes) {
    const std::string text(100000, 'k');
    char* copy = HeapDuplicateText(text.c_str());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::string(copy), text);
    EXPECT_GE(HeapBlockSize(copy), text.size() + 1);
    HeapFree(copy);

    void* block = HeapAllocate(1);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(HeapBlockSize(block), 1u);
    block = HeapReallocate(block, 12345);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(HeapBlockSize(block), 12345u);
    block = HeapReallocate(block, 3);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(HeapBlockSize(block), 3u);
    HeapFree(block);
}

TEST(Heap, RuntimeHeapWithUsableSize) {
    void* block = HeapAllocate(100);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(HeapBlockSize(block), 100u);
    block = HeapReallocate(block, 5000);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(HeapBlockSize(block), 5000u);
    HeapFree(block);
    HeapFree(nullptr);
    EXPECT_EQ(HeapBlockSize(nullptr), 0u);

    char* copy = HeapDuplicateText("copy me");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "copy me");
    EXPECT_GE(HeapBlockSize(copy), 8u);
    HeapFree(copy);
    EXPECT_EQ(HeapDuplicateText(nullptr), nullptr);
}

} // namespace
} // namespace Korvel::Platform
