#include "tests/e2e/PluginUnderTest.h"

#include <dlfcn.h>

#include <mutex>

namespace {

template <typename Fn>
bool Resolve(void* pHandle, const char* pszName, Fn* pFn,
             std::string* psError) {
  dlerror();
  void* pSymbol = dlsym(pHandle, pszName);
  if (pSymbol == nullptr) {
    *psError = std::string("missing ") + pszName;
    return false;
  }
  *pFn = reinterpret_cast<Fn>(pSymbol);
  return true;
}

PluginUnderTest* Load(std::string* psError) {
  void* pHandle = dlopen(PluginUnderTest::Path(), RTLD_NOW | RTLD_LOCAL);
  if (pHandle == nullptr) {
    const char* pszReason = dlerror();
    *psError = pszReason != nullptr ? pszReason : "dlopen failed";
    return nullptr;
  }
  static PluginUnderTest oPlugin;
  PluginUnderTest* p = &oPlugin;
  const bool bAll =
      Resolve(pHandle, "zkso_version", &p->zkso_version, psError) &&
      Resolve(pHandle, "zkso_isSupported", &p->zkso_isSupported, psError) &&
      Resolve(pHandle, "zkso_prepareDevices", &p->zkso_prepareDevices,
              psError) &&
      Resolve(pHandle, "zkso_unprepareDevices", &p->zkso_unprepareDevices,
              psError) &&
      Resolve(pHandle, "zkso_snapDevices", &p->zkso_snapDevices, psError) &&
      Resolve(pHandle, "zkso_isMapped", &p->zkso_isMapped, psError) &&
      Resolve(pHandle, "zkso_mapSnaps", &p->zkso_mapSnaps, psError) &&
      Resolve(pHandle, "zkso_unmapSnaps", &p->zkso_unmapSnaps, psError) &&
      Resolve(pHandle, "zkso_deleteSnaps", &p->zkso_deleteSnaps, psError) &&
      Resolve(pHandle, "zkso_revertSnaps", &p->zkso_revertSnaps, psError) &&
      Resolve(pHandle, "zkso_reconcileSnaps", &p->zkso_reconcileSnaps, psError);
  return bAll ? p : nullptr;
}

}  // namespace

const char* PluginUnderTest::Path() { return ZK_PLUGIN_PATH; }

const PluginUnderTest* PluginUnderTest::Get(std::string* psError) {
  static std::once_flag oOnce;
  static PluginUnderTest* pPlugin = nullptr;
  static std::string sError;
  std::call_once(oOnce, [] { pPlugin = Load(&sError); });
  if (pPlugin == nullptr && psError != nullptr) *psError = sError;
  return pPlugin;
}
