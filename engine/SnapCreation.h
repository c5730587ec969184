// SPDX-License-Identifier: Apache-2.0
// Snap creation (zkso_snapDevices): every record is first prepared into a
// device object; the devices are then grouped per control host and per
// production file system (BuildArrayToDeviceMap), and one read-only
// checkpoint is created per group, after which every device of the group is
// completed with that checkpoint's name and id.
//
// Ownership: the records and the utility object are the host's, borrowed for
// the call. RunSnapCreation owns the device objects (destroyed after the
// summary, in record order) and one client per array entry. The map records
// below hold borrowed device pointers.
//
// One call runs on one thread; calls share nothing.
#ifndef ZK_ENGINE_SNAPCREATION_H_
#define ZK_ENGINE_SNAPCREATION_H_

#include <vector>

#include "device/CelerraSnapDevice.h"
#include "host/ZKSnapHost.h"

// One storage group: the devices of one file system of one file server.
struct _CelerraStorageToDevice {
  _CelerraStorageResource oStorageResource;      // of the group's first device
  std::vector<CelerraSnapDevice*> vSnapDevices;  // request order; borrowed
};

// One file server (control host) and its groups in order of first
// appearance.
struct _CelerraArrayToDeviceMap {
  _CelerraArrayCredentials oArrayCredentials;  // of the entry's first device
  std::vector<_CelerraStorageToDevice> vStorageToDevices;
};

// Appends the devices of vDevices, in order, to vArrayMap: the entry is the
// first whose sHostName equals the device's (exact), the group the first of
// that entry whose sPFSId equals the device's and, when bSameFS is false,
// whose first device's checkpoint name equals the device's. With bSameFS
// true a device joining a group takes the group's checkpoint name. Entries
// and groups keep the credentials and resource of their first device.
// Lookups go through an index, so the work is linear in the devices.
// Logs one level 5 line per device. Always true.
bool BuildArrayToDeviceMap(const std::vector<CelerraSnapDevice*>& vDevices,
                           ZKSO::ZKOSUtil* pOSUtil,
                           std::vector<_CelerraArrayToDeviceMap>& vArrayMap,
                           const bool& bSameFS);

// The whole of zkso_snapDevices. REQUIRES: pOSUtil != nullptr.
ZKSO::ResultCode RunSnapCreation(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                                 ZKSO::ZKOSUtil* pOSUtil);

#endif  // ZK_ENGINE_SNAPCREATION_H_
