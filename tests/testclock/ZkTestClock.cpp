// SPDX-License-Identifier: Apache-2.0
#include "tests/testclock/ZkTestClock.h"

#include <errno.h>
#include <link.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Not fixed while negative.
std::atomic<int64_t> g_nNow{-1};

// The fixed host name; no allocation, so the allocation-failure tests can
// run through it.
struct HostName {
  std::mutex oMutex;
  bool bFixed = false;     // guarded by oMutex
  char szName[256] = {0};  // guarded by oMutex
};

HostName& TheHostName() {
  static HostName oName;
  return oName;
}

int64_t SystemNow() {
  struct timespec oNow;
  if (clock_gettime(CLOCK_REALTIME, &oNow) != 0) return -1;
  return static_cast<int64_t>(oNow.tv_sec);
}

// Copies pszName into (pOut, nLen) the way the C library does: the name
// and its terminating zero when they fit, else as much as fits and
// ENAMETOOLONG.
int CopyName(const char* pszName, char* pOut, size_t nLen) {
  const size_t nName = std::strlen(pszName);
  if (nName + 1 > nLen) {
    std::memcpy(pOut, pszName, nLen);
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(pOut, pszName, nName + 1);
  return 0;
}

// The environment a parent gave this process.
__attribute__((constructor)) void FixFromEnvironment() {
  const char* pszNow = std::getenv("ZK_TEST_NOW");
  if (pszNow != nullptr && *pszNow != '\0') {
    char* pszEnd = nullptr;
    errno = 0;
    const long long nValue = std::strtoll(pszNow, &pszEnd, 10);
    if (errno == 0 && *pszEnd == '\0' && nValue >= 0) zktest::FixNow(nValue);
  }
  const char* pszName = std::getenv("ZK_TEST_HOSTNAME");
  if (pszName != nullptr && std::strlen(pszName) < 256) {
    zktest::FixHostName(pszName);
  }
}

struct Runtime {
  std::string sPath;
};

int FindSanitizerRuntime(struct dl_phdr_info* pInfo, size_t, void* pData) {
  const char* pszName = pInfo->dlpi_name;
  if (pszName == nullptr) return 0;
  const char* pszBase = std::strrchr(pszName, '/');
  pszBase = pszBase != nullptr ? pszBase + 1 : pszName;
  for (const char* pszPrefix : {"libasan.so", "libtsan.so"}) {
    if (std::strncmp(pszBase, pszPrefix, std::strlen(pszPrefix)) == 0) {
      static_cast<Runtime*>(pData)->sPath = pszName;
      return 1;
    }
  }
  return 0;
}

}  // namespace

namespace zktest {

void FixNow(int64_t nNow) { g_nNow.store(nNow); }

void UnfixNow() { g_nNow.store(-1); }

void FixHostName(const std::string& sName) {
  HostName& oName = TheHostName();
  std::lock_guard<std::mutex> oGuard(oName.oMutex);
  const size_t nCopy = std::min(sName.size(), sizeof(oName.szName) - 1);
  std::memcpy(oName.szName, sName.data(), nCopy);
  oName.szName[nCopy] = '\0';
  oName.bFixed = true;
}

void UnfixHostName() {
  HostName& oName = TheHostName();
  std::lock_guard<std::mutex> oGuard(oName.oMutex);
  oName.bFixed = false;
}

std::string PreloadFor(const std::string& sLibrary) {
  Runtime oRuntime;
  dl_iterate_phdr(FindSanitizerRuntime, &oRuntime);
  return oRuntime.sPath.empty() ? sLibrary : oRuntime.sPath + ":" + sLibrary;
}

}  // namespace zktest

extern "C" {

time_t time(time_t* pOut) noexcept {
  int64_t nNow = g_nNow.load();
  if (nNow < 0) nNow = SystemNow();
  const time_t nResult = static_cast<time_t>(nNow);
  if (pOut != nullptr) *pOut = nResult;
  return nResult;
}

int gethostname(char* pName, size_t nLen) noexcept {
  {
    HostName& oName = TheHostName();
    std::lock_guard<std::mutex> oGuard(oName.oMutex);
    if (oName.bFixed) return CopyName(oName.szName, pName, nLen);
  }
  struct utsname oSystem;
  if (uname(&oSystem) != 0) return -1;
  return CopyName(oSystem.nodename, pName, nLen);
}

}  // extern "C"
