// Keeps the general heap from giving memory back to the system between benchmark iterations.
// Linked into every benchmark program.
//
// glibc returns the top of its heap to the system once more than 128 KB of it is free, and serves
// blocks from 128 KB up with mappings of their own; freeing such a block raises both thresholds
// for the rest of the process. A benchmark that frees a few megabytes at the end of every
// iteration then touches fresh pages again in the next one or not, depending on what ran before
// it in the same process: one reader measured 0.8 ms after some benchmarks and 1.2 ms after
// others, and building the value tree of the binding benchmark 11.6 ms when it ran first
// and 4.1 ms when interleaved with the others. Raising both thresholds at start-up puts every
// benchmark, and every library compared in it, in the state of a long-running process whose heap
// stays warm. The value tree's own page source maps its chunks itself and still gives them back
// as it always does.

#include <cstdlib> // defines __GLIBC__ on glibc

#if defined(__GLIBC__)
#include <malloc.h>

namespace {

const bool kSteadyHeap = [] {
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    return true;
}();

} // namespace
#endif
