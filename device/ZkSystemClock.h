// The plug-in's view of the system clock and of the local host name.
//
// Every reading of the time (checkpoint names, cache expiry) and of the local
// host name (the host a snapshot is mapped to) goes through these two calls,
// so that tests can fix them:
//   - in-process tests install a function with ZkSetNowForTesting /
//     ZkSetHostNameForTesting (an empty function restores the default);
//   - tests that load the built plug-in set the environment variables
//     ZK_TEST_NOW (decimal seconds since the epoch) and ZK_TEST_HOSTNAME
//     (the name; an empty value yields an empty name), which the defaults
//     honour on every call.
// These overrides exist for tests only; production never sets them.
//
// Thread-safe: any thread may call any of these.
#ifndef ZK_DEVICE_ZKSYSTEMCLOCK_H_
#define ZK_DEVICE_ZKSYSTEMCLOCK_H_

#include <cstdint>
#include <functional>
#include <string>

// Seconds since 1970-01-01 00:00 UTC (time(nullptr) by default).
int64_t ZkNow();

// The local host name (gethostname into a zeroed 64-byte buffer by default;
// empty when that fails).
std::string ZkLocalHostName();

// For tests: replaces the source of ZkNow / ZkLocalHostName until reset
// with an empty function.
void ZkSetNowForTesting(std::function<int64_t()> fnNow);
void ZkSetHostNameForTesting(std::function<std::string()> fnHostName);

#endif  // ZK_DEVICE_ZKSYSTEMCLOCK_H_
