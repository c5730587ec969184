#include "device/ZkSystemClock.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <utility>

namespace {

// The installed test overrides; empty functions select the defaults.
struct Overrides {
  std::mutex oMutex;
  std::function<int64_t()> fnNow;           // guarded by oMutex
  std::function<std::string()> fnHostName;  // guarded by oMutex
};

Overrides& GetOverrides() {
  static Overrides oOverrides;
  return oOverrides;
}

// ZK_TEST_NOW as decimal seconds; false when unset, not a whole number or
// negative (a checkpoint name carries the time as an unsigned number).
bool NowFromEnvironment(int64_t& nNow) {
  const char* pszValue = std::getenv("ZK_TEST_NOW");
  if (pszValue == nullptr || *pszValue == '\0') return false;
  char* pszEnd = nullptr;
  errno = 0;
  long long nValue = std::strtoll(pszValue, &pszEnd, 10);
  if (errno != 0 || pszEnd == nullptr || *pszEnd != '\0' || nValue < 0) {
    return false;
  }
  nNow = static_cast<int64_t>(nValue);
  return true;
}

}  // namespace

int64_t ZkNow() {
  std::function<int64_t()> fnNow;
  {
    Overrides& oOverrides = GetOverrides();
    std::lock_guard<std::mutex> oGuard(oOverrides.oMutex);
    fnNow = oOverrides.fnNow;
  }
  if (fnNow) return fnNow();
  int64_t nNow = 0;
  if (NowFromEnvironment(nNow)) return nNow;
  return static_cast<int64_t>(std::time(nullptr));
}

std::string ZkLocalHostName() {
  std::function<std::string()> fnHostName;
  {
    Overrides& oOverrides = GetOverrides();
    std::lock_guard<std::mutex> oGuard(oOverrides.oMutex);
    fnHostName = oOverrides.fnHostName;
  }
  if (fnHostName) return fnHostName();
  if (const char* pszName = std::getenv("ZK_TEST_HOSTNAME")) {
    return std::string(pszName);
  }
  char szName[64] = {0};
  // The last byte stays zero even when the name is cut.
  if (gethostname(szName, sizeof(szName) - 1) != 0) return std::string();
  return std::string(szName);
}

void ZkSetNowForTesting(std::function<int64_t()> fnNow) {
  Overrides& oOverrides = GetOverrides();
  std::lock_guard<std::mutex> oGuard(oOverrides.oMutex);
  oOverrides.fnNow = std::move(fnNow);
}

void ZkSetHostNameForTesting(std::function<std::string()> fnHostName) {
  Overrides& oOverrides = GetOverrides();
  std::lock_guard<std::mutex> oGuard(oOverrides.oMutex);
  oOverrides.fnHostName = std::move(fnHostName);
}
