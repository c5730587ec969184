// SPDX-License-Identifier: Apache-2.0
// The plug-in's exported functions, as the host looks them up with dlsym.
// Plain, unmangled names; none lets an exception out.
#ifndef ZK_HOST_ZKSNAPPLUGIN_H_
#define ZK_HOST_ZKSNAPPLUGIN_H_

#include <cstdint>

#include "host/ZKSnapHost.h"

#define ZKSO_EXPORT extern "C" __attribute__((visibility("default")))

// The eleven exported functions, listed once: ZKSO_EXPORTS(X) expands
// X(name, return type, parenthesised parameter list) for each, in this
// order. Hosts and loaders use it to look every function up, and the
// library's version script is checked against it.
// clang-format off
#define ZKSO_OPERATION_PARAMETERS \
  (ZKSO::SnapInfo** ppSnapInfo, int16_t nCount, ZKSO::ZKOSUtil* pOSUtil)
#define ZKSO_EXPORTS(X)                                                  \
  X(zkso_version, void,                                                  \
    (uint16_t* pMajor, uint16_t* pMinor, uint16_t* pRevision))           \
  X(zkso_isSupported, ZKSO::ResultCode,                                  \
    (const char* pszDeviceIdentifier, ZKSO::SNAP_TYPE eSnapType,         \
     ZKSO::ZKOSUtil* pOSUtil, char* pBuffer, int16_t nLength))           \
  X(zkso_prepareDevices, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)    \
  X(zkso_unprepareDevices, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)  \
  X(zkso_snapDevices, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)       \
  X(zkso_isMapped, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)          \
  X(zkso_mapSnaps, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)          \
  X(zkso_unmapSnaps, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)        \
  X(zkso_deleteSnaps, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)       \
  X(zkso_revertSnaps, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)       \
  X(zkso_reconcileSnaps, ZKSO::ResultCode, ZKSO_OPERATION_PARAMETERS)
// clang-format on

#define ZKSO_DECLARE_EXPORT(name, ret, params) ZKSO_EXPORT ret name params;
ZKSO_EXPORTS(ZKSO_DECLARE_EXPORT)
#undef ZKSO_DECLARE_EXPORT

// ZKSO::Fn::<name>: the pointer type of each export, for dlsym's result.
namespace ZKSO {
namespace Fn {
#define ZKSO_DECLARE_POINTER(name, ret, params) using name = ret(*) params;
ZKSO_EXPORTS(ZKSO_DECLARE_POINTER)
#undef ZKSO_DECLARE_POINTER
}  // namespace Fn

// The exported names, in the order of ZKSO_EXPORTS.
#define ZKSO_NAME_OF_EXPORT(name, ret, params) #name,
constexpr const char* kExportNames[] = {ZKSO_EXPORTS(ZKSO_NAME_OF_EXPORT)};
#undef ZKSO_NAME_OF_EXPORT
}  // namespace ZKSO

#endif  // ZK_HOST_ZKSNAPPLUGIN_H_
