#pragma once

namespace Korvel::Platform {

// Looking up a library and its functions at run time (LoadLibraryW and
// GetProcAddress on Windows, dlopen and dlsym elsewhere).
using LibraryHandle = void*;

// Loads the library by name or path (UTF-8); null when it cannot be found or loaded.
LibraryHandle OpenLibrary(const char* name);
// The address of an exported function, or null (also for a null library).
void* FindLibraryFunction(LibraryHandle library, const char* name);
// Drops one reference taken by OpenLibrary; null is ignored.
void CloseLibrary(LibraryHandle library);

} // namespace Korvel::Platform
