// SPDX-License-Identifier: Apache-2.0
// The operation steps of map, unmap, delete, revert and reconcile, each run
// through the per-record frame (OperationFrame.h). Every driver owns one
// array management client for the call, constructed with the job id and
// given each record's credentials before its array work.
//
// REQUIRES for each Run function: pOSUtil != nullptr. The records and the
// utility object are the host's, borrowed for the call. One call runs on one
// thread; calls share nothing (the CIFS server cache aside, see
// device/CelerraCifsServerCache.h).
#ifndef ZK_ENGINE_OPERATIONDRIVERS_H_
#define ZK_ENGINE_OPERATIONDRIVERS_H_

#include <string>

#include "device/CelerraSnapDevice.h"
#include "host/ManageCelerra.h"
#include "host/ZKSnapHost.h"

// zkso_mapSnaps: a writable checkpoint of each record's snapshot, exported
// to this host (or the ESX host of a VMware device); the clone device is
// recorded. Records of one snapshot share its writable checkpoint and
// export. A record whose map fails after making something has it taken
// back. Stops at the first failure; prints every record's snap device and
// status at the end.
ZKSO::ResultCode RunMap(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                        ZKSO::ZKOSUtil* pOSUtil);
// zkso_unmapSnaps: removes each record's export and writable checkpoint
// (once for records that share them); what is already gone counts as
// removed. Goes on past records whose device cannot be made or prepared;
// stops when removing an exposure or completing a record fails.
ZKSO::ResultCode RunUnmap(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                          ZKSO::ZKOSUtil* pOSUtil);
// zkso_deleteSnaps: deletes each record's checkpoint (once for records that
// share it); a checkpoint already gone counts as deleted. Always goes on.
ZKSO::ResultCode RunDelete(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                           ZKSO::ZKOSUtil* pOSUtil);
// zkso_revertSnaps: restores each record's file system from its checkpoint;
// stops at the first failure.
ZKSO::ResultCode RunRevert(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                           ZKSO::ZKOSUtil* pOSUtil);
// zkso_reconcileSnaps: marks SNAP_NOT_FOUND the records whose checkpoint is
// missing from their file server's list; always goes on.
ZKSO::ResultCode RunReconcile(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                              ZKSO::ZKOSUtil* pOSUtil);

// The control host of the device's file server.
std::string HostOf(CelerraSnapDevice& oDevice);
// Gives oClient the device's control host and login (result not read).
void GiveCredentials(CelerraSnapDevice& oDevice, ManageCelerra& oClient);

#endif  // ZK_ENGINE_OPERATIONDRIVERS_H_
