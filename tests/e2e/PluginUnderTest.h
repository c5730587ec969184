// SPDX-License-Identifier: Apache-2.0
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
#include "host/ZKSnapPlugin.h"

struct PluginUnderTest {
  using VersionFn = ZKSO::Fn::zkso_version;
  using IsSupportedFn = ZKSO::Fn::zkso_isSupported;
  using OperationFn = ZKSO::Fn::zkso_snapDevices;  // every operation's type

  // The shared object's path (given by the build).
  static const char* Path();
  // Loads the library on first use. Null with the reason in *psError when
  // it cannot be loaded.
  static const PluginUnderTest* Get(std::string* psError);

  // One pointer per export, named as the export.
#define ZKTEST_EXPORT_POINTER(name, ret, params) ZKSO::Fn::name name = nullptr;
  ZKSO_EXPORTS(ZKTEST_EXPORT_POINTER)
#undef ZKTEST_EXPORT_POINTER
};

#endif  // ZK_TESTS_E2E_PLUGINUNDERTEST_H_
