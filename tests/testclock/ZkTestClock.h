// SPDX-License-Identifier: Apache-2.0
// A fixed clock and host name for tests, from outside the plug-in.
//
// ZkTestClock.cpp defines the C library functions time and gethostname.
// Linked into a test executable (target zktestclock), the executable exports
// both, so every call in the process reaches them instead of the C
// library's: the plug-in's objects linked into a unit test and the plug-in a
// test loads with dlopen alike. Built as a shared object
// (zktestclock_preload) it does the same for a child process through
// LD_PRELOAD; PreloadFor() gives the value.
//
// Until fixed, both answer as the system does (clock_gettime and uname). A
// process also starts fixed when its environment holds ZK_TEST_NOW (decimal
// seconds since the epoch, not negative) or ZK_TEST_HOSTNAME (the name; an
// empty value gives an empty name): that is how a test fixes them for a
// child. Only this test library reads those variables.
//
// Thread-safe: any thread may call any of these and the two C functions.
#ifndef ZK_TESTS_TESTCLOCK_ZKTESTCLOCK_H_
#define ZK_TESTS_TESTCLOCK_ZKTESTCLOCK_H_

#include <cstdint>
#include <string>

namespace zktest {

// time() answers nNow (REQUIRES: nNow >= 0) until UnfixNow.
void FixNow(int64_t nNow);
void UnfixNow();

// gethostname() answers sName until UnfixHostName.
// REQUIRES: sName.size() < 256.
void FixHostName(const std::string& sName);
void UnfixHostName();

// The LD_PRELOAD value that gives a child process this clock library
// (sLibrary, the path of zktestclock_preload). A sanitizer runtime loaded
// in this process comes first, as the sanitizers require.
std::string PreloadFor(const std::string& sLibrary);

}  // namespace zktest

#endif  // ZK_TESTS_TESTCLOCK_ZKTESTCLOCK_H_
