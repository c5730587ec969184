// The plug-in's exported functions, as the host looks them up with dlsym.
// Plain, unmangled names; none lets an exception out.
#ifndef ZK_HOST_ZKSNAPPLUGIN_H_
#define ZK_HOST_ZKSNAPPLUGIN_H_

#include <cstdint>

#include "host/ZKSnapHost.h"

#define ZKSO_EXPORT extern "C" __attribute__((visibility("default")))

ZKSO_EXPORT void zkso_version(uint16_t* pMajor, uint16_t* pMinor,
                              uint16_t* pRevision);
ZKSO_EXPORT ZKSO::ResultCode zkso_isSupported(const char* pszDeviceIdentifier,
                                              ZKSO::SNAP_TYPE eSnapType,
                                              ZKSO::ZKOSUtil* pOSUtil,
                                              char* pBuffer, int16_t nLength);
ZKSO_EXPORT ZKSO::ResultCode zkso_prepareDevices(ZKSO::SnapInfo** ppSnapInfo,
                                                 int16_t nCount,
                                                 ZKSO::ZKOSUtil* pOSUtil);
ZKSO_EXPORT ZKSO::ResultCode zkso_unprepareDevices(ZKSO::SnapInfo** ppSnapInfo,
                                                   int16_t nCount,
                                                   ZKSO::ZKOSUtil* pOSUtil);
ZKSO_EXPORT ZKSO::ResultCode zkso_snapDevices(ZKSO::SnapInfo** ppSnapInfo,
                                              int16_t nCount,
                                              ZKSO::ZKOSUtil* pOSUtil);
ZKSO_EXPORT ZKSO::ResultCode zkso_isMapped(ZKSO::SnapInfo** ppSnapInfo,
                                           int16_t nCount,
                                           ZKSO::ZKOSUtil* pOSUtil);
ZKSO_EXPORT ZKSO::ResultCode zkso_mapSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                           int16_t nCount,
                                           ZKSO::ZKOSUtil* pOSUtil);
ZKSO_EXPORT ZKSO::ResultCode zkso_unmapSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                             int16_t nCount,
                                             ZKSO::ZKOSUtil* pOSUtil);
ZKSO_EXPORT ZKSO::ResultCode zkso_deleteSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                              int16_t nCount,
                                              ZKSO::ZKOSUtil* pOSUtil);
ZKSO_EXPORT ZKSO::ResultCode zkso_revertSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                              int16_t nCount,
                                              ZKSO::ZKOSUtil* pOSUtil);
ZKSO_EXPORT ZKSO::ResultCode zkso_reconcileSnaps(ZKSO::SnapInfo** ppSnapInfo,
                                                 int16_t nCount,
                                                 ZKSO::ZKOSUtil* pOSUtil);

#endif  // ZK_HOST_ZKSNAPPLUGIN_H_
