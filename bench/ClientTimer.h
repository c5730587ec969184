// SPDX-License-Identifier: Apache-2.0
// How much of a call is spent inside the array management client library
// (libzkManageCelerra, which holds the simulated file server too).
//
// ClientTimer.cpp defines every public ManageCelerra command, the
// constructor-free members the plug-in calls (SetControlHostInfo,
// GetLastError) and Celerra_GetSnapDeviceNameWithManageCelerra in the
// benchmark program itself. The program exports them, so they take the
// place of the library's definitions for every caller in the process, the
// loaded plug-in included; each one forwards to the library's own
// definition (found with dlsym(RTLD_NEXT)) and adds the thread CPU time of
// the call to a per-thread sum. Calls the library makes to itself from
// inside a command are not counted twice.
//
// The plug-in's own time of a call is then its whole time minus
// ClientCpuNanos() over the call.
//
// Thread-safe: each thread has its own sum.
#ifndef ZK_BENCH_CLIENTTIMER_H_
#define ZK_BENCH_CLIENTTIMER_H_

#include <cstdint>
#include <string>

namespace zkbench {

// Thread CPU time spent inside the client library by this thread so far.
int64_t ClientCpuNanos();
// Thread CPU time of this thread (the clock the sum uses).
int64_t ThreadCpuNanos();
// True when every forwarded function has found the library's definition;
// otherwise false with the missing names in *psMissing. A forwarded call
// whose definition is missing aborts the program.
bool ClientTimerReady(std::string* psMissing);

}  // namespace zkbench

#endif  // ZK_BENCH_CLIENTTIMER_H_
