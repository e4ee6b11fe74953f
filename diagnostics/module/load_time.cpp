// Start-up and shutdown work of the diagnostics when the shared library is
// loaded and unloaded. The counting allocation hooks need no step here: they
// are in place before the first allocation.

#include "diagnostics/event_tracing.h"
#include "diagnostics/log.h"

namespace {

struct DiagnosticsLifetime {
    DiagnosticsLifetime() {
        Korvel::Tracing::StartTracing();
        Korvel::RegisterLoadTimeCategories();
    }
    ~DiagnosticsLifetime() { Korvel::Tracing::StopTracing(); }
};

// Constructed before the library's other static objects, so that their
// start-up code finds "LOC" at bit 8.
#if defined(__GNUC__)
__attribute__((init_priority(200))) DiagnosticsLifetime lifetime;
#else
#pragma init_seg(lib)
DiagnosticsLifetime lifetime;
#endif

} // namespace
