// SPDX-License-Identifier: Apache-2.0
#include "device/CelerraCifsServerCache.h"

#include <cstdint>
#include <map>

#include "device/ZkCriticalSection.h"
#include "device/ZkSystemClock.h"
#include "host/EvDebug.h"

namespace {

using CifsServerMap = std::map<std::string, std::vector<CelerraCifsServer_t>>;

// Guards mapArrayToServer() and g_llArrayToMountMapTimeStamp. Made at load
// without throwing; when it could not be made, every lookup fails.
ZkCriticalSection g_oLockArrayToMountMap(std::nothrow);
// When an entry was last fetched and stored; 0: never.
int64_t g_llArrayToMountMapTimeStamp = 0;

CifsServerMap& mapArrayToServer() {
  static CifsServerMap oMap;
  return oMap;
}

const int kDefaultClearSecs = 86400;

}  // namespace

bool GetCifsServersCached(ManageCelerra& oClient, ZKSO::ZKOSUtil* pOSUtil,
                          const std::string& sHostName, const char* pszTag,
                          ZKUint64 nJobId,
                          std::vector<CelerraCifsServer_t>& vServers) {
  if (!g_oLockArrayToMountMap.Made()) {
    EvDebug oLog;
    oLog.setJobId(nJobId);
    oLog.error("%s", "Not enough memory to initialize ZkCriticalSection");
    return false;
  }
  const int64_t llNow = ZkNow();
  int nLimit = kDefaultClearSecs;

  ZkCriticalSectionLock oLock(&g_oLockArrayToMountMap);
  int nConfigured = nLimit;
  if (pOSUtil != nullptr &&
      pOSUtil->GetConfigInt(nullptr, "nClearCelerraArrayMapSecs",
                            &nConfigured)) {
    nLimit = nConfigured;
  }
  EvDebug().DebugJob(pszTag, nJobId,
                     "Duration to clear the cache map: [%d] secs ", nLimit);
  oLock.resetCriticalSection(&g_oLockArrayToMountMap);

  CifsServerMap& oMap = mapArrayToServer();
  if (g_llArrayToMountMapTimeStamp != 0 &&
      llNow - g_llArrayToMountMapTimeStamp > static_cast<int64_t>(nLimit)) {
    EvDebug().DebugJob(pszTag, nJobId, "%s",
                       "Cleaning the array map cache for all the arrays");
    oMap.clear();
  }

  CifsServerMap::const_iterator it = oMap.find(sHostName);
  if (it != oMap.end()) {
    vServers = it->second;
    return true;
  }

  std::vector<CelerraCifsServer_t> vFetched;
  if (!oClient.GetCifsServers(vFetched, "")) {
    EvDebug oLog;
    oLog.setJobId(nJobId);
    oLog.error("%s",
               "CelerraSnapDevice(976): -Error-: Unable to get Cifsserver info "
               "for FS");
    return false;
  }
  // Copy first, then insert and move the stamp: an allocation failure
  // leaves the cache as it was.
  std::vector<CelerraCifsServer_t> vStored(vFetched);
  oMap[sHostName].swap(vStored);
  g_llArrayToMountMapTimeStamp = llNow;
  vServers.swap(vFetched);
  return true;
}
