// Keeps the general heap from giving memory back to the system between benchmark iterations.
//
// glibc returns the top of its heap to the system once more than 128 KB of it is free, and serves
// blocks from 128 KB up with mappings of their own. A reader that frees a few megabytes at the
// end of every iteration then touches fresh pages again in the next one, and whether that
// happens depends on what the iterations before it left in the heap, so the same benchmark
// measured 0.8 ms after some benchmarks and 1.2 ms after others. Raising both thresholds keeps
// the heap warm for every reader alike; the value tree's own page source maps its chunks itself
// and still gives them back as it always does.

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
