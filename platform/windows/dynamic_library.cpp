#ifdef _WIN32

#include "platform/dynamic_library.h"

#include <windows.h>

namespace Korvel::Platform {

LibraryHandle OpenLibrary(const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return nullptr;
    }
    // Library names are UTF-8; LoadLibraryW takes UTF-16. Malformed UTF-8 (also encoded
    // surrogates) names no file, and a name longer than MAX_PATH is not looked for. The loader
    // wants backslashes in paths, so forward slashes are turned into them.
    wchar_t wide[MAX_PATH];
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide, MAX_PATH);
    if (length <= 0) {
        return nullptr;
    }
    for (int i = 0; i < length; ++i) {
        if (wide[i] == L'/') {
            wide[i] = L'\\';
        }
    }
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
