// SPDX-License-Identifier: Apache-2.0
// The plug-in's exported functions. Each is one boundary: whatever happens
// inside, no exception leaves it.
#include <string>

#include "engine/ControlHost.h"
#include "engine/OperationDrivers.h"
#include "engine/OperationFrame.h"
#include "engine/SnapCreation.h"
#include "host/EvDebug.h"
#include "host/ZKSnapHost.h"
#include "host/ZKSnapPlugin.h"
#include "zk_version.h"

namespace {

// Runs fn and turns anything it throws into RESULT_FAILURE.
template <typename Fn>
ZKSO::ResultCode Guarded(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (...) {
    return ZKSO::RESULT_FAILURE;
  }
}

// Without a utility object nothing is done and the call fails.
bool HaveUtility(const OperationPolicy& oPolicy, ZKSO::ZKOSUtil* pOSUtil) {
  if (pOSUtil != nullptr) return true;
  EvDebug().DebugLvl(oPolicy.pszTag, -1, "%s",
                     "No host utility object given; nothing done");
  return false;
}

using Driver = ZKSO::ResultCode (*)(ZKSO::SnapInfo**, int16_t, ZKSO::ZKOSUtil*);

// One exported operation: the utility object check, then the driver, with
// nothing thrown out.
ZKSO::ResultCode GuardedDriver(const OperationPolicy& oPolicy, Driver fnDriver,
                               ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                               ZKSO::ZKOSUtil* pOSUtil) {
  return Guarded([&] {
    if (!HaveUtility(oPolicy, pOSUtil)) return ZKSO::RESULT_FAILURE;
    return fnDriver(ppSnapInfo, nCount, pOSUtil);
  });
}

// Prepare has no operation step of its own: preparation and completion are
// its whole work.
class PrepareOperation : public RecordOperation {
 public:
  explicit PrepareOperation(const char* pszTag) : m_pszTag(pszTag) {}
  void ReportStop(ZKSO::SnapInfo* pRecord) override {
    if (pRecord != nullptr) {
      pRecord->Log(2, m_pszTag, "%s", "Prepare For Device failed");
    }
  }

 private:
  const char* m_pszTag;
};

}  // namespace

ZKSO_EXPORT void zkso_version(uint16_t* pMajor, uint16_t* pMinor,
                              uint16_t* pRevision) {
  Guarded([&] {
    if (pMajor != nullptr) *pMajor = ZK_VERSION_MAJOR;
    if (pMinor != nullptr) *pMinor = ZK_VERSION_MINOR;
    if (pRevision != nullptr) *pRevision = ZK_VERSION_PATCH;
    return ZKSO::RESULT_SUCCESS;
  });
}

ZKSO_EXPORT ZKSO::ResultCode zkso_isSupported(const char* pszDeviceIdentifier,
                                              ZKSO::SNAP_TYPE eSnapType,
                                              ZKSO::ZKOSUtil* pOSUtil,
                                              char* /*pBuffer*/,
                                              int16_t /*nLength*/) {
  return Guarded([&] {
    if (eSnapType != ZKSO::SNAP_TYPE_SNAPSHOT) return ZKSO::RESULT_FAILURE;
    if (pOSUtil == nullptr) return ZKSO::RESULT_FAILURE;
    std::string sServer;
    std::string sPath;
    std::string sVolume;
    const std::string sIdentifier =
        pszDeviceIdentifier != nullptr ? pszDeviceIdentifier : "";
    return DetermineControlHost(sIdentifier, pOSUtil, sServer, sPath, sVolume)
               ? ZKSO::RESULT_SUCCESS
               : ZKSO::RESULT_PARTIAL_SUCCESS;
  });
}

ZKSO_EXPORT ZKSO::ResultCode zkso_isMapped(ZKSO::SnapInfo** /*ppSnapInfo*/,
                                           int16_t /*nCount*/,
                                           ZKSO::ZKOSUtil* /*pOSUtil*/) {
  return Guarded([] { return ZKSO::RESULT_SUCCESS; });
}

ZKSO_EXPORT ZKSO::ResultCode zkso_unprepareDevices(
    ZKSO::SnapInfo** ppSnapInfo, int16_t nCount, ZKSO::ZKOSUtil* /*pOSUtil*/) {
  return Guarded([&] {
    if (ppSnapInfo == nullptr) return ZKSO::RESULT_SUCCESS;
    for (int16_t i = 0; i < nCount; ++i) {
      ZKSO::SnapInfo* pSnapInfo = ppSnapInfo[i];
      if (pSnapInfo == nullptr) continue;
      pSnapInfo->SetMetaData(SM_MDT_FS_INFO, nullptr);
      pSnapInfo->SetStatus(ZKSO::SNAP_UNPREPARED);
    }
    return ZKSO::RESULT_SUCCESS;
  });
}

ZKSO_EXPORT ZKSO::ResultCode zkso_prepareDevices(ZKSO::SnapInfo** ppSnapInfo,
                                                 int16_t nCount,
                                                 ZKSO::ZKOSUtil* pOSUtil) {
  return Guarded([&] {
    if (!HaveUtility(kPreparePolicy, pOSUtil)) return ZKSO::RESULT_FAILURE;
    OperationFrame oFrame(kPreparePolicy, ppSnapInfo, nCount, pOSUtil);
    PrepareOperation oPrepare(kPreparePolicy.pszTag);
    return oFrame.Run(oPrepare);
  });
}

ZKSO_EXPORT ZKSO::ResultCode zkso_snapDevices(ZKSO::SnapInfo** ppSnapInfo,
                                              int16_t nCount,
                                              ZKSO::ZKOSUtil* pOSUtil) {
  return GuardedDriver(kSnapPolicy, RunSnapCreation, ppSnapInfo, nCount,
                       pOSUtil);
}

ZKSO_EXPORT ZKSO::ResultCode zkso_mapSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                           int16_t nCount,
                                           ZKSO::ZKOSUtil* pOSUtil) {
  return GuardedDriver(kMapPolicy, RunMap, ppSnapInfo, nCount, pOSUtil);
}

ZKSO_EXPORT ZKSO::ResultCode zkso_unmapSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                             int16_t nCount,
                                             ZKSO::ZKOSUtil* pOSUtil) {
  return GuardedDriver(kUnmapPolicy, RunUnmap, ppSnapInfo, nCount, pOSUtil);
}

ZKSO_EXPORT ZKSO::ResultCode zkso_deleteSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                              int16_t nCount,
                                              ZKSO::ZKOSUtil* pOSUtil) {
  return GuardedDriver(kDeletePolicy, RunDelete, ppSnapInfo, nCount, pOSUtil);
}

ZKSO_EXPORT ZKSO::ResultCode zkso_revertSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                              int16_t nCount,
                                              ZKSO::ZKOSUtil* pOSUtil) {
  return GuardedDriver(kRevertPolicy, RunRevert, ppSnapInfo, nCount, pOSUtil);
}

ZKSO_EXPORT ZKSO::ResultCode zkso_reconcileSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                                 int16_t nCount,
                                                 ZKSO::ZKOSUtil* pOSUtil) {
  return GuardedDriver(kReconcilePolicy, RunReconcile, ppSnapInfo, nCount,
                       pOSUtil);
}
