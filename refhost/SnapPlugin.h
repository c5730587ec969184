// SPDX-License-Identifier: Apache-2.0
// A snap engine plug-in loaded the way a host framework loads it: dlopen of
// the shared object, dlsym of the eleven exported functions by their plain
// names, and a version check (major version 1).
//
// Load throws HostError naming the path and what is wrong (does not load,
// lacks an export, wrong version). The library stays loaded as long as the
// SnapPlugin lives. The function pointers may be called from any thread the
// plug-in allows (it starts none and keeps only its own locked cache).
#ifndef ZK_REFHOST_SNAPPLUGIN_H_
#define ZK_REFHOST_SNAPPLUGIN_H_

#include <cstdint>
#include <memory>
#include <string>

#include "host/ZKSnapHost.h"
#include "host/ZKSnapPlugin.h"

namespace zkref {

class SnapPlugin {
 public:
  using VersionFn = ZKSO::Fn::zkso_version;
  using IsSupportedFn = ZKSO::Fn::zkso_isSupported;
  using OperationFn = ZKSO::Fn::zkso_snapDevices;  // every operation's type

  // The plug-in's major version this host drives: the project's own.
  static const uint16_t kMajorVersion;

  static std::unique_ptr<SnapPlugin> Load(const std::string& sPath);
  ~SnapPlugin();
  SnapPlugin(const SnapPlugin&) = delete;
  SnapPlugin& operator=(const SnapPlugin&) = delete;

  const std::string& Path() const { return m_sPath; }
  std::string Version() const;  // "1.0.0"

  // The operation function of a zksnap operation name ("prepare", "snap",
  // "map", "unmap", "delete", "revert", "reconcile", "unprepare"), or null.
  OperationFn Operation(const std::string& sName) const;

  // One pointer per export, named as the export.
#define ZKREF_EXPORT_POINTER(name, ret, params) ZKSO::Fn::name name = nullptr;
  ZKSO_EXPORTS(ZKREF_EXPORT_POINTER)
#undef ZKREF_EXPORT_POINTER

 private:
  SnapPlugin(void* pHandle, std::string sPath);

  void* m_pHandle;
  std::string m_sPath;
  uint16_t m_nMajor = 0, m_nMinor = 0, m_nRevision = 0;
};

}  // namespace zkref

#endif  // ZK_REFHOST_SNAPPLUGIN_H_
