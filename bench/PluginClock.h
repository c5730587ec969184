// SPDX-License-Identifier: Apache-2.0
// The plug-in's clock as the benchmarks set it: every world of a benchmark
// gets a time of its own, three days past the previous one, so the
// plug-in's process-wide CIFS server cache (which empties itself after a
// day) never carries a list from one world into the next, and the
// checkpoint names formed from the time differ between worlds.
//
// This is the only place in bench/ that knows how the plug-in's clock is
// fixed from outside: the program links the test clock library, whose time
// and gethostname the loaded plug-in calls instead of the C library's.
//
// Not thread-safe: call from the benchmark's thread only.
#ifndef ZK_BENCH_PLUGINCLOCK_H_
#define ZK_BENCH_PLUGINCLOCK_H_

#include <cstdint>

namespace zkbench {

// Moves the plug-in's clock on by three days and fixes the local host
// name; returns the new time (seconds since 1970).
int64_t AdvancePluginClock();

}  // namespace zkbench

#endif  // ZK_BENCH_PLUGINCLOCK_H_
