// SPDX-License-Identifier: Apache-2.0
// The plug-in's view of the system clock and of the local host name.
//
// Every reading of the time (checkpoint names, cache expiry) and of the local
// host name (the host a snapshot is mapped to) goes through these two calls.
// They ask the C library's time and gethostname and nothing else: no lock,
// no environment variable, no state. Tests that need a fixed clock or host
// name interpose those two C functions from outside the plug-in
// (tests/testclock); nothing of that is built into the plug-in.
//
// Thread-safe: any thread may call either.
#ifndef ZK_DEVICE_ZKSYSTEMCLOCK_H_
#define ZK_DEVICE_ZKSYSTEMCLOCK_H_

#include <cstdint>
#include <string>

// Seconds since 1970-01-01 00:00 UTC: time(nullptr).
int64_t ZkNow();

// The local host name: gethostname into a zeroed 64-byte buffer whose last
// byte is kept zero; empty when that fails (also for a name of 63 bytes or
// more, which does not fit).
std::string ZkLocalHostName();

#endif  // ZK_DEVICE_ZKSYSTEMCLOCK_H_
