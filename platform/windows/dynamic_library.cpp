#ifdef _WIN32

#include "platform/dynamic_library.h"

#include <windows.h>

namespace Korvel::Platform {

LibraryHandle OpenLibrary(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    // Library names are ASCII; widen them for LoadLibraryW. The loader wants
    // backslashes in paths, so forward slashes are turned into them.
    wchar_t wide[MAX_PATH];
    int i = 0;
    for (; name[i] != '\0' && i < MAX_PATH - 1; ++i) {
        const char c = name[i] == '/' ? '\\' : name[i];
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    if (name[i] != '\0') {
        return nullptr;
    }
    wide[i] = L'\0';
    return LoadLibraryW(wide);
}

void* FindLibraryFunction(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) {
        FreeLibrary(static_cast<HMODULE>(library));
    }
}

} // namespace Korvel::Platform

#endif // _WIN32
