// SPDX-License-Identifier: Apache-2.0
// The clock and host name seam: the plug-in asks the C library, so what a
// test fixes by interposing time and gethostname (tests/testclock) is what
// the plug-in sees, and nothing else changes it.
#include "device/ZkSystemClock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/utsname.h>
#include <time.h>

#include <string>

#include "tests/testclock/ZkTestClock.h"

namespace {

int64_t SystemSeconds() {
  struct timespec oNow;
  EXPECT_EQ(0, clock_gettime(CLOCK_REALTIME, &oNow));
  return static_cast<int64_t>(oNow.tv_sec);
}

TEST(ZkSystemClockTest, TheProcessClockOrTheSystemOne) {
  zktest::FixNow(42);
  EXPECT_EQ(42, ZkNow());
  zktest::FixNow(1700000000);
  EXPECT_EQ(1700000000, ZkNow());
  zktest::UnfixNow();
  const int64_t nBefore = SystemSeconds();
  const int64_t nNow = ZkNow();
  EXPECT_GE(nNow, nBefore);
  EXPECT_LE(nNow, SystemSeconds());
}

// The plug-in once read ZK_TEST_NOW and ZK_TEST_HOSTNAME from its host's
// environment; a host that sets them must change nothing.
TEST(ZkSystemClockTest, IgnoresTheTestVariablesOfItsHost) {
  setenv("ZK_TEST_NOW", "1234", 1);
  setenv("ZK_TEST_HOSTNAME", "from-environment", 1);
  EXPECT_NE(1234, ZkNow());
  EXPECT_NE("from-environment", ZkLocalHostName());
  unsetenv("ZK_TEST_NOW");
  unsetenv("ZK_TEST_HOSTNAME");
}

TEST(ZkSystemClockTest, HostNameAsGethostnameGivesIt) {
  struct Case {
    std::string sFixed;
    std::string sExpected;
  };
  const Case aCases[] = {
      {"esx-7", "esx-7"},
      {"backup1.zk.test", "backup1.zk.test"},
      {"", ""},
      {std::string(62, 'a'), std::string(62, 'a')},
      // The longest name a 64-byte buffer holds with its terminating zero.
      {std::string(63, 'b'), std::string(63, 'b')},
      // No room for the terminating zero: gethostname fails.
      {std::string(64, 'd'), ""},
      {std::string(200, 'c'), ""},
  };
  for (const Case& oCase : aCases) {
    SCOPED_TRACE(oCase.sFixed);
    zktest::FixHostName(oCase.sFixed);
    EXPECT_EQ(oCase.sExpected, ZkLocalHostName());
  }
  zktest::UnfixHostName();
  struct utsname oSystem;
  ASSERT_EQ(0, uname(&oSystem));
  const std::string sSystem = oSystem.nodename;
  EXPECT_EQ(sSystem.size() < 64 ? sSystem : "", ZkLocalHostName());
}

}  // namespace
