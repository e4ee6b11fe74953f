// Start-up and shutdown work of the diagnostics when the shared library is
// loaded and unloaded. The counting allocation hooks need no step here: they
// are in place before the first allocation.

#include "diagnostics/event_tracing.h"
#include "diagnostics/log.h"
#include "diagnostics/logging_api.h"

#if !defined(__GNUC__)
// Constructs this file's objects before those of the rest of the library.
#pragma init_seg(lib)
#endif

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
// Frees the C++ run-time's emergency exception-allocation pool.
void __freeres() noexcept;
} // namespace __gnu_cxx
#endif

namespace {

struct DiagnosticsLifetime {
    DiagnosticsLifetime() {
        Korvel::Tracing::StartTracing();
        Korvel::RegisterLoadTimeCategories();
    }
    ~DiagnosticsLifetime() {
        Korvel::Tracing::StopTracing();
        // Nothing logs after this: the library's other static objects are
        // gone already. The logger lives in the host's heap and would
        // otherwise outlast the library.
        Korvel::Logging::DestroyAtUnload();
#if defined(__GLIBCXX__)
        // The library carries its own copy of the C++ run-time, whose
        // emergency exception pool would otherwise stay allocated in the
        // host's heap after every unload. This object is destroyed after
        // the library's other static objects, when no exception can be
        // thrown any more.
        __gnu_cxx::__freeres();
#endif
    }
};

// Constructed before the library's other static objects, so that their
// start-up code finds "LOC" at bit 8.
#if defined(__GNUC__)
__attribute__((init_priority(200))) DiagnosticsLifetime lifetime;
#else
DiagnosticsLifetime lifetime;
#endif

} // namespace
