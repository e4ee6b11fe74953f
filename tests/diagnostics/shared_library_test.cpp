// The shared library carries its own allocation operators, start-up and
// shutdown. Loading it must neither disturb the loading process's allocations
// nor let the library's operators serve them.
//
// Once the plug-in exposes GetMemoryStats, this is also the place to check
// that the library's own objects are counted.

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "diagnostics/allocation.h"

namespace {

// Host allocations made while the library is loaded go to the host's heap and
// are freed by it; the host's own counters (this program's copy of the static
// library) see none of them.
void ExpectHostAllocationsUncounted(const Korvel::MemoryStatistics& before) {
    auto text = std::make_unique<std::string>(1000, 'h');
    void* raw = std::malloc(64);
    std::free(raw);
    text.reset();
    Korvel::MemoryStatistics after{};
    Korvel::ReadMemoryStatistics(&after);
    EXPECT_EQ(after.blocksAllocated, before.blocksAllocated);
    EXPECT_EQ(after.blocksFreed, before.blocksFreed);
}

#ifndef _WIN32

std::string ObjectFileOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return "";
    }
    return info.dli_fname;
}

// The library's file name, compared without directories (dladdr reports the
// path the library was loaded by).
bool IsPlugin(const std::string& path) {
    const std::string plugin = KORVEL_PLUGIN_PATH;
    auto base = [](const std::string& p) { return p.substr(p.find_last_of('/') + 1); };
    return !path.empty() && base(path) == base(plugin);
}

TEST(SharedLibrary, LoadsAndUnloadsWithoutTouchingTheHostsAllocations) {
    Korvel::MemoryStatistics before{};
    Korvel::ReadMemoryStatistics(&before);

    void* library = dlopen(KORVEL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_NE(dlsym(library, "load_vel_service_status"), nullptr);

    // The process's operator new is still its own, not the library's.
    using NewFunction = void* (*)(std::size_t);
    NewFunction hostNew = &::operator new;
    EXPECT_FALSE(IsPlugin(ObjectFileOf(reinterpret_cast<void*>(hostNew))));
    void* global = dlsym(RTLD_DEFAULT, sizeof(std::size_t) == 8 ? "_Znwm" : "_Znwj");
    if (global != nullptr) {
        EXPECT_FALSE(IsPlugin(ObjectFileOf(global)));
    }
    // The library's operators are not reachable by name through its handle.
    void* inLibrary = dlsym(library, sizeof(std::size_t) == 8 ? "_Znwm" : "_Znwj");
    if (inLibrary != nullptr) {
        EXPECT_FALSE(IsPlugin(ObjectFileOf(inLibrary)));
    }
    EXPECT_EQ(dlsym(library, "_ZN6Korvel8AllocateEm"), nullptr);
    EXPECT_EQ(dlsym(library, "_ZN6Korvel8AllocateEj"), nullptr);

    ExpectHostAllocationsUncounted(before);

    // Unloading runs the library's shutdown (tracing providers) cleanly.
    EXPECT_EQ(dlclose(library), 0);

    // And the library can be loaded again.
    library = dlopen(KORVEL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_EQ(dlclose(library), 0);
}

#else // _WIN32

std::wstring PluginPath() {
    std::wstring path;
    for (const char* c = KORVEL_PLUGIN_PATH; *c != '\0'; ++c) {
        path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
    }
    return path;
}

HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
    return module;
}

TEST(SharedLibrary, LoadsAndUnloadsWithoutTouchingTheHostsAllocations) {
    Korvel::MemoryStatistics before{};
    Korvel::ReadMemoryStatistics(&before);

    HMODULE library = LoadLibraryW(PluginPath().c_str());
    ASSERT_NE(library, nullptr) << "error " << GetLastError();
    EXPECT_NE(GetProcAddress(library, "load_vel_service_status"), nullptr);

    // The process's operator new is still its own, not the library's.
    using NewFunction = void* (*)(std::size_t);
    NewFunction hostNew = &::operator new;
    EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(hostNew)), GetModuleHandleW(nullptr));
    // Nothing but the entry point is exported: neither the library's
    // operators nor its allocation entries can be found by name.
    for (const char* name : {"_Znwy", "_Znwj", "_ZN6Korvel8AllocateEy", "_ZN6Korvel8AllocateEj",
                             "_load_vel_service_status"}) {
        EXPECT_EQ(GetProcAddress(library, name), nullptr) << name;
    }

    ExpectHostAllocationsUncounted(before);

    // Unloading runs the library's shutdown and really unmaps it.
    EXPECT_NE(FreeLibrary(library), FALSE);
    EXPECT_EQ(GetModuleHandleW(PluginPath().c_str()), nullptr);

    // And the library can be loaded again.
    library = LoadLibraryW(PluginPath().c_str());
    ASSERT_NE(library, nullptr) << "error " << GetLastError();
    EXPECT_NE(FreeLibrary(library), FALSE);
}

#endif // _WIN32

} // namespace
