// The plug-in's exported functions.
#include "host/ZKSnapPlugin.h"

#include "host/ZKSnapHost.h"

ZKSO_EXPORT void zkso_version(uint16_t* pMajor, uint16_t* pMinor,
                              uint16_t* pRevision) {
  if (pMajor != nullptr) *pMajor = 1;
  if (pMinor != nullptr) *pMinor = 0;
  if (pRevision != nullptr) *pRevision = 0;
}

ZKSO_EXPORT ZKSO::ResultCode zkso_isMapped(ZKSO::SnapInfo** /*ppSnapInfo*/,
                                           int16_t /*nCount*/,
                                           ZKSO::ZKOSUtil* /*pOSUtil*/) {
  return ZKSO::RESULT_SUCCESS;
}

ZKSO_EXPORT ZKSO::ResultCode zkso_unprepareDevices(ZKSO::SnapInfo** ppSnapInfo,
                                                   int16_t nCount,
                                                   ZKSO::ZKOSUtil* /*pOSUtil*/) {
  if (ppSnapInfo == nullptr) return ZKSO::RESULT_SUCCESS;
  for (int16_t i = 0; i < nCount; ++i) {
    ZKSO::SnapInfo* pSnapInfo = ppSnapInfo[i];
    if (pSnapInfo == nullptr) continue;
    pSnapInfo->SetMetaData(SM_MDT_FS_INFO, nullptr);
    pSnapInfo->SetStatus(ZKSO::SNAP_UNPREPARED);
  }
  return ZKSO::RESULT_SUCCESS;
}

// Not built yet: each answers RESULT_FAILURE without touching the records.
#define ZK_NOT_BUILT(name)                                             \
  ZKSO_EXPORT ZKSO::ResultCode name(ZKSO::SnapInfo**, int16_t,         \
                                    ZKSO::ZKOSUtil*) {                 \
    return ZKSO::RESULT_FAILURE;                                       \
  }
ZK_NOT_BUILT(zkso_prepareDevices)
ZK_NOT_BUILT(zkso_snapDevices)
ZK_NOT_BUILT(zkso_mapSnaps)
ZK_NOT_BUILT(zkso_unmapSnaps)
ZK_NOT_BUILT(zkso_deleteSnaps)
ZK_NOT_BUILT(zkso_revertSnaps)
ZK_NOT_BUILT(zkso_reconcileSnaps)

ZKSO_EXPORT ZKSO::ResultCode zkso_isSupported(const char*, ZKSO::SNAP_TYPE,
                                              ZKSO::ZKOSUtil*, char*, int16_t) {
  return ZKSO::RESULT_FAILURE;
}
