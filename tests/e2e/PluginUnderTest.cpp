// SPDX-License-Identifier: Apache-2.0
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
#define ZKTEST_RESOLVE(name, ret, params) \
  Resolve(pHandle, #name, &p->name, psError)&&
  const bool bAll = ZKSO_EXPORTS(ZKTEST_RESOLVE) true;
#undef ZKTEST_RESOLVE
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
