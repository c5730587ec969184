// SPDX-License-Identifier: Apache-2.0
// Codes exchanged between the host backup framework and a snap engine plug-in.
//
// These values travel across the plug-in boundary and are stored by the host:
// never renumber them.
#ifndef ZK_HOST_ZKSNAPTYPES_H_
#define ZK_HOST_ZKSNAPTYPES_H_

#include <cstdint>

typedef unsigned long long ZKUint64;

// The operation a device object is made for; one value per exported function.
// Value 3 exists in the host's enumeration but no entry point uses it.
enum _SnapOperationType : int32_t {
  SNAP_OP_PREPARE = 1,
  SNAP_OP_SNAP = 2,
  SNAP_OP_RESERVED = 3,
  SNAP_OP_MAP = 4,
  SNAP_OP_UNMAP = 5,
  SNAP_OP_DELETE = 6,
  SNAP_OP_REVERT = 7,
  SNAP_OP_RECONCILE = 8,
};

// Metadata types stored in a host record.
enum : int {
  SM_MDT_SNAP_UUID = 6,
  SM_MDT_FS_INFO = 16,
  SM_MDT_SNAP_MOUNT = 46,
  // The plug-in's own: what a call is about to create on the file server,
  // kept so that a repeat after a lost reply adopts only its own work.
  SM_MDT_CELERRA_INTENT = 147,
};

// Reason message ids posted with SnapInfo::SetJPR.
enum : int {
  JPR_MOUNT_PATH_FAILED = 60002,
  JPR_SNAP_FAILED = 60505,
  JPR_REVERT_FAILED = 60513,
  JPR_SNAP_FAILED_ARRAY_CODE = 60850,
  JPR_MAP_FAILED = 60851,
  JPR_UNMAP_FAILED = 60852,
  JPR_DEVICE_NOT_SUPPORTED = 62001,
  JPR_ARRAY_CREDENTIALS_FAILED = 62005,
  JPR_LUN_DEVICE_FAILED = 62008,
};

namespace ZKSO {

enum ResultCode : int32_t {
  RESULT_SUCCESS = 0,
  RESULT_FAILURE = 1,
  RESULT_PARTIAL_SUCCESS = 2,
};

// Kind of snapshot the host asks about in zkso_isSupported; the plug-in
// supports only SNAP_TYPE_SNAPSHOT (2).
enum SNAP_TYPE : int32_t {
  SNAP_TYPE_NONE = 0,
  SNAP_TYPE_CLONE = 1,
  SNAP_TYPE_SNAPSHOT = 2,
};

// Status of a host record. An operation writes its failure value before it
// starts and replaces it by its success value at the end.
enum SnapStatus : int32_t {
  SNAP_STATUS_UNKNOWN = -1,
  SNAP_STATUS_NONE = 0,
  READY_FOR_SNAP = 1,
  READY_FOR_SNAP_FAILED = 2,
  SNAP_UNPREPARED = 3,
  SNAP_SUCCESS = 5,
  SNAP_FAILED = 6,
  MAP_FAILED = 11,
  MAP_SUCCESS = 12,
  UNMAP_SUCCESS = 14,
  UNMAP_FAILED = 15,
  DELETE_SUCCESS = 20,
  DELETE_FAILED = 21,
  REVERT_SUCCESS = 22,
  REVERT_FAILED = 23,
  SNAP_NOT_FOUND = 24,
};

// Value ids for SnapInfo::GetIntValue.
enum : int {
  GET_VALUE_VOLSNAP_OP_SOURCE = 7,  // where a mount request came from
};

}  // namespace ZKSO

#endif  // ZK_HOST_ZKSNAPTYPES_H_
