#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace Korvel::Platform {

LibraryHandle OpenLibrary(const char* name) {
    // dlopen takes an empty name for the program itself, which is no library.
    if (name == nullptr || name[0] == '\0') {
        return nullptr;
    }
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* FindLibraryFunction(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(library, name);
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) {
        dlclose(library);
    }
}

} // namespace Korvel::Platform
