// The Windows platform layer against the system itself: the debugger channel,
// the loader and the virtual-memory manager. The tests shared with POSIX
// systems are in platform_test.cpp.
#ifdef _WIN32

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/debugger_output.h"
#include "platform/dynamic_library.h"
#include "platform/virtual_memory.h"

namespace Korvel::Platform {
namespace {

// OutputDebugStringA raises this exception; a debugger, or else the system's
// own handler, takes the text from it. A vectored handler sees it first.
constexpr DWORD kDebugPrintException = 0x40010006;

std::vector<std::string>* channelTexts = nullptr;

LONG CALLBACK WatchDebugPrint(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (record.ExceptionCode == kDebugPrintException && record.NumberParameters >= 2 &&
        channelTexts != nullptr) {
        // Parameters: the length including the NUL, then the text.
        const auto* text = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
        channelTexts->emplace_back(text, record.ExceptionInformation[0] - 1);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(DebuggerOutput, TextsReachTheSystemChannelAndTheHook) {
    std::vector<std::string> channel;
    channelTexts = &channel;
    PVOID watcher = AddVectoredExceptionHandler(1, &WatchDebugPrint);
    ASSERT_NE(watcher, nullptr);

    WriteDebuggerOutput("channel only\n");
    std::vector<std::string> hooked;
    SetDebuggerOutputHook(
        [](const char* text, void* context) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(text);
        },
        &hooked);
    WriteDebuggerOutput("both");
    WriteDebuggerOutput(nullptr);
    SetDebuggerOutputHook(nullptr, nullptr);

    RemoveVectoredExceptionHandler(watcher);
    channelTexts = nullptr;
    EXPECT_EQ(channel, (std::vector<std::string>{"channel only\n", "both"}));
    EXPECT_EQ(hooked, (std::vector<std::string>{"both"}));
}

// A long line goes to the channel whole, in one piece, as it does to the hook.
TEST(DebuggerOutput, LongLinesReachTheChannelWhole) {
    std::string line;
    for (int i = 0; line.size() < 20000; ++i) {
        line += std::to_string(i) + ' ';
    }
    std::vector<std::string> channel;
    channelTexts = &channel;
    PVOID watcher = AddVectoredExceptionHandler(1, &WatchDebugPrint);
    ASSERT_NE(watcher, nullptr);
    std::vector<std::string> hooked;
    SetDebuggerOutputHook(
        [](const char* text, void* context) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(text);
        },
        &hooked);
    WriteDebuggerOutput(line.c_str());
    SetDebuggerOutputHook(nullptr, nullptr);
    RemoveVectoredExceptionHandler(watcher);
    channelTexts = nullptr;
    EXPECT_EQ(channel, std::vector<std::string>{line});
    EXPECT_EQ(hooked, std::vector<std::string>{line});
}

TEST(DynamicLibrary, LooksUpLibrariesAndFunctions) {
    EXPECT_EQ(OpenLibrary("NoSuchLibraryAnywhere.dll"), nullptr);
    EXPECT_EQ(OpenLibrary(nullptr), nullptr);
    EXPECT_EQ(OpenLibrary(std::string(MAX_PATH + 10, 'a').c_str()), nullptr);
    EXPECT_EQ(FindLibraryFunction(nullptr, "strlen"), nullptr);
    CloseLibrary(nullptr);

    LibraryHandle crt = OpenLibrary("msvcrt.dll");
    ASSERT_NE(crt, nullptr);
    using Strlen = std::size_t (*)(const char*);
    auto strlenFunction = reinterpret_cast<Strlen>(FindLibraryFunction(crt, "strlen"));
    ASSERT_NE(strlenFunction, nullptr);
    EXPECT_EQ(strlenFunction("four"), 4u);
    EXPECT_EQ(FindLibraryFunction(crt, "NoSuchFunctionAnywhere"), nullptr);
    EXPECT_EQ(FindLibraryFunction(crt, nullptr), nullptr);
    CloseLibrary(crt);
}

TEST(DynamicLibrary, PathsWithForwardSlashesLoad) {
    const std::string path = KORVEL_PLUGIN_PATH;
    ASSERT_NE(path.find('/'), std::string::npos) << path;
    LibraryHandle library = OpenLibrary(path.c_str());
    ASSERT_NE(library, nullptr) << path;
    EXPECT_NE(FindLibraryFunction(library, "load_vel_service_status"), nullptr);

    // The same module as the one named with backslashes.
    std::string backslashed = path;
    for (char& c : backslashed) {
        if (c == '/') {
            c = '\\';
        }
    }
    EXPECT_EQ(static_cast<void*>(GetModuleHandleA(backslashed.c_str())), library);
    CloseLibrary(library);
}

TEST(VirtualMemory, RegionsAreCommittedReadWriteUntilReleased) {
    void* region = ReserveRegion(65536);
    ASSERT_NE(region, nullptr);
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_EQ(VirtualQuery(region, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.AllocationBase, region);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
    EXPECT_GE(info.RegionSize, 65536u);

    ReleaseRegion(region, 65536);
    ASSERT_EQ(VirtualQuery(region, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

} // namespace
} // namespace Korvel::Platform

#endif // _WIN32
