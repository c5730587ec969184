// SPDX-License-Identifier: Apache-2.0
#include "refhost/SnapPlugin.h"

#include <dlfcn.h>

#include "refhost/ZksnapError.h"
#include "zk_version.h"

namespace zkref {

namespace {

template <typename Fn>
void Resolve(void* pHandle, const std::string& sPath, const char* pszName,
             Fn* pFn) {
  dlerror();
  void* pSymbol = dlsym(pHandle, pszName);
  if (pSymbol == nullptr) {
    throw HostError("plug-in " + sPath + " lacks the export " + pszName);
  }
  *pFn = reinterpret_cast<Fn>(pSymbol);
}

}  // namespace

std::unique_ptr<SnapPlugin> SnapPlugin::Load(const std::string& sPath) {
  // A path without "/" would make dlopen search the library path.
  const std::string sOpen =
      sPath.find('/') == std::string::npos ? "./" + sPath : sPath;
  void* pHandle = dlopen(sOpen.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (pHandle == nullptr) {
    const char* pszWhy = dlerror();
    throw HostError("cannot load plug-in " + sPath + ": " +
                    (pszWhy != nullptr ? pszWhy : "dlopen failed"));
  }
  std::unique_ptr<SnapPlugin> p(new SnapPlugin(pHandle, sPath));
#define ZKREF_RESOLVE(name, ret, params) \
  Resolve(pHandle, sPath, #name, &p->name);
  ZKSO_EXPORTS(ZKREF_RESOLVE)
#undef ZKREF_RESOLVE
  p->zkso_version(&p->m_nMajor, &p->m_nMinor, &p->m_nRevision);
  if (p->m_nMajor != kMajorVersion) {
    throw HostError("plug-in " + sPath + " has version " + p->Version() +
                    "; this host drives version " +
                    std::to_string(kMajorVersion) + ".x");
  }
  return p;
}

const uint16_t SnapPlugin::kMajorVersion = ZK_VERSION_MAJOR;

SnapPlugin::SnapPlugin(void* pHandle, std::string sPath)
    : m_pHandle(pHandle), m_sPath(std::move(sPath)) {}

SnapPlugin::~SnapPlugin() { dlclose(m_pHandle); }

std::string SnapPlugin::Version() const {
  return std::to_string(m_nMajor) + "." + std::to_string(m_nMinor) + "." +
         std::to_string(m_nRevision);
}

SnapPlugin::OperationFn SnapPlugin::Operation(const std::string& s) const {
  if (s == "prepare") return zkso_prepareDevices;
  if (s == "unprepare") return zkso_unprepareDevices;
  if (s == "snap") return zkso_snapDevices;
  if (s == "map") return zkso_mapSnaps;
  if (s == "unmap") return zkso_unmapSnaps;
  if (s == "delete") return zkso_deleteSnaps;
  if (s == "revert") return zkso_revertSnaps;
  if (s == "reconcile") return zkso_reconcileSnaps;
  return nullptr;
}

}  // namespace zkref
