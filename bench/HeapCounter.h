// SPDX-License-Identifier: Apache-2.0
// Counts the bytes the process holds through operator new, so a benchmark
// can tell how much memory a call needed at its peak.
//
// HeapCounter.cpp replaces the global operator new and delete of the whole
// process (the benchmark program exports them, so the plug-in and the
// libraries it loads allocate through them too). Memory that C code takes
// with malloc directly (SQLite's, inside the simulated file server) is not
// counted.
//
// Thread-safe: the counters are atomics. Tracking is always on.
#ifndef ZK_BENCH_HEAPCOUNTER_H_
#define ZK_BENCH_HEAPCOUNTER_H_

#include <cstdint>

namespace zkbench {

// Bytes held right now (usable sizes of live blocks).
int64_t HeapLiveBytes();
// Highest HeapLiveBytes() since the last ResetHeapPeak().
int64_t HeapPeakBytes();
// Starts a new peak at the bytes held now.
void ResetHeapPeak();

}  // namespace zkbench

#endif  // ZK_BENCH_HEAPCOUNTER_H_
