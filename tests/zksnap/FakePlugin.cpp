// Plug-ins that a host must refuse: built once without zkso_snapDevices
// (ZK_FAKE_MISSING_EXPORT) and once complete but of version 2.0.0
// (ZK_FAKE_VERSION_2). Every operation fails without touching anything.
#include "host/ZKSnapPlugin.h"

#define ZK_FAKE_OPERATION(name)                                \
  ZKSO_EXPORT ZKSO::ResultCode name(ZKSO::SnapInfo**, int16_t, \
                                    ZKSO::ZKOSUtil*) {         \
    return ZKSO::RESULT_FAILURE;                               \
  }

ZKSO_EXPORT void zkso_version(uint16_t* pMajor, uint16_t* pMinor,
                              uint16_t* pRevision) {
#ifdef ZK_FAKE_VERSION_2
  *pMajor = 2;
#else
  *pMajor = 1;
#endif
  *pMinor = 0;
  *pRevision = 0;
}

ZKSO_EXPORT ZKSO::ResultCode zkso_isSupported(const char*, ZKSO::SNAP_TYPE,
                                              ZKSO::ZKOSUtil*, char*, int16_t) {
  return ZKSO::RESULT_FAILURE;
}

ZK_FAKE_OPERATION(zkso_prepareDevices)
ZK_FAKE_OPERATION(zkso_unprepareDevices)
#ifndef ZK_FAKE_MISSING_EXPORT
ZK_FAKE_OPERATION(zkso_snapDevices)
#endif
ZK_FAKE_OPERATION(zkso_isMapped)
ZK_FAKE_OPERATION(zkso_mapSnaps)
ZK_FAKE_OPERATION(zkso_unmapSnaps)
ZK_FAKE_OPERATION(zkso_deleteSnaps)
ZK_FAKE_OPERATION(zkso_revertSnaps)
ZK_FAKE_OPERATION(zkso_reconcileSnaps)
