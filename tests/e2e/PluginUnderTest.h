// The built plug-in, loaded the way a host loads it: dlopen on the shared
// object, then dlsym for each exported function by its plain name.
//
// The library is loaded once per process and stays loaded; Get() may be
// called from any test. A function the library does not export is null.
#ifndef ZK_TESTS_E2E_PLUGINUNDERTEST_H_
#define ZK_TESTS_E2E_PLUGINUNDERTEST_H_

#include <cstdint>
#include <string>

#include "host/ZKSnapHost.h"

struct PluginUnderTest {
  using VersionFn = void (*)(uint16_t*, uint16_t*, uint16_t*);
  using IsSupportedFn = ZKSO::ResultCode (*)(const char*, ZKSO::SNAP_TYPE,
                                             ZKSO::ZKOSUtil*, char*, int16_t);
  using OperationFn = ZKSO::ResultCode (*)(ZKSO::SnapInfo**, int16_t,
                                           ZKSO::ZKOSUtil*);

  // The shared object's path (given by the build).
  static const char* Path();
  // Loads the library on first use. Null with the reason in *psError when
  // it cannot be loaded.
  static const PluginUnderTest* Get(std::string* psError);

  VersionFn zkso_version = nullptr;
  IsSupportedFn zkso_isSupported = nullptr;
  OperationFn zkso_prepareDevices = nullptr;
  OperationFn zkso_unprepareDevices = nullptr;
  OperationFn zkso_snapDevices = nullptr;
  OperationFn zkso_isMapped = nullptr;
  OperationFn zkso_mapSnaps = nullptr;
  OperationFn zkso_unmapSnaps = nullptr;
  OperationFn zkso_deleteSnaps = nullptr;
  OperationFn zkso_revertSnaps = nullptr;
  OperationFn zkso_reconcileSnaps = nullptr;
};

#endif  // ZK_TESTS_E2E_PLUGINUNDERTEST_H_
