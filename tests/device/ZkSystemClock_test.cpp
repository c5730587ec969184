// The clock and host name seam: test overrides and environment variables.
#include "device/ZkSystemClock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* pszName, const char* pszValue) : m_pszName(pszName) {
    setenv(pszName, pszValue, 1);
  }
  ~ScopedEnv() { unsetenv(m_pszName); }

 private:
  const char* m_pszName;
};

TEST(ZkSystemClockTest, OverrideWinsAndResetRestoresTheClock) {
  ZkSetNowForTesting([] { return int64_t{42}; });
  EXPECT_EQ(ZkNow(), 42);
  ZkSetNowForTesting(nullptr);
  int64_t nBefore = static_cast<int64_t>(std::time(nullptr));
  int64_t nNow = ZkNow();
  EXPECT_GE(nNow, nBefore);
  EXPECT_LE(nNow, static_cast<int64_t>(std::time(nullptr)));
}

TEST(ZkSystemClockTest, EnvironmentFixesTheTime) {
  {
    ScopedEnv oNow("ZK_TEST_NOW", "1700000000");
    EXPECT_EQ(ZkNow(), 1700000000);
  }
  {
    // Not a whole number: the system clock.
    ScopedEnv oNow("ZK_TEST_NOW", "17x");
    EXPECT_GT(ZkNow(), 1700000000);
  }
}

TEST(ZkSystemClockTest, HostNameFromOverrideEnvironmentOrSystem) {
  char szName[64] = {0};
  ASSERT_EQ(gethostname(szName, sizeof(szName) - 1), 0);
  EXPECT_EQ(ZkLocalHostName(), szName);
  {
    ScopedEnv oName("ZK_TEST_HOSTNAME", "");
    EXPECT_EQ(ZkLocalHostName(), "");
  }
  {
    ScopedEnv oName("ZK_TEST_HOSTNAME", "esx-7");
    EXPECT_EQ(ZkLocalHostName(), "esx-7");
    ZkSetHostNameForTesting([] { return std::string("fixed"); });
    EXPECT_EQ(ZkLocalHostName(), "fixed");
    ZkSetHostNameForTesting(nullptr);
    EXPECT_EQ(ZkLocalHostName(), "esx-7");
  }
}

}  // namespace
