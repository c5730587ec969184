// SPDX-License-Identifier: Apache-2.0
#include "bench/ClientTimer.h"

#include <dlfcn.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "host/ManageCelerra.h"

namespace {

thread_local int64_t t_nClientNanos = 0;
thread_local int t_nDepth = 0;  // nesting of forwarded calls

// The library's symbols, by their mangled names.
const char kSetControlHostInfo[] =
    "_ZN13ManageCelerra18SetControlHostInfoENSt7__cxx1112basic_stringIcSt11char"
    "_traitsIcESaIcEEES5_S5_";
const char kCreateROChkPt[] =
    "_ZN13ManageCelerra13CreateROChkPtENSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEE15eCelerraStgTypeS5_S5_RS5_";
const char kCreateRWChkPt[] =
    "_ZN13ManageCelerra13CreateRWChkPtENSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEE15eCelerraStgTypeS5_S5_bRS5_S7_";
const char kDeleteChkPt[] =
    "_ZN13ManageCelerra11DeleteChkPtENSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEES5_b";
const char kRestorePFSFromChkPt[] =
    "_ZN13ManageCelerra19RestorePFSFromChkPtENSt7__cxx1112basic_stringIcSt11"
    "char_traitsIcESaIcEEES5_S5_";
const char kGetChkPointsInfo[] =
    "_ZN13ManageCelerra16GetChkPointsInfoENSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEERNS0_4listI16CelerraChkPtInfoSaIS7_EEE";
const char kGetPFSInfo[] =
    "_ZN13ManageCelerra10GetPFSInfoERNSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEER15eCelerraStgTypeS6_S6_S6_S6_Rb";
const char kGetCifsShareInfo[] =
    "_ZN13ManageCelerra16GetCifsShareInfoENSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEERS5_RbS6_S6_RSt6vectorIS5_SaIS5_EE";
const char kGetNFSInfo[] =
    "_ZN13ManageCelerra10GetNFSInfoENSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEERS5_RbS6_RSt6vectorIS5_SaIS5_EESB_SB_";
const char kGetCifsServers[] =
    "_ZN13ManageCelerra14GetCifsServersERSt6vectorI19CelerraCifsServer_"
    "tSaIS1_EERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE";
const char kGetMountPointInfo[] =
    "_ZN13ManageCelerra17GetMountPointInfoER24CelerraMountPointsInfo_"
    "tNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES7_RKb";
const char kGetMoverForVdm[] =
    "_ZN13ManageCelerra14GetMoverForVdmERKNSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEERS5_";
const char kCreateNFSShare[] =
    "_ZN13ManageCelerra14CreateNFSShareENSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEES5_bRSt6vectorIS5_SaIS5_EES9_S9_";
const char kDeleteNFSShare[] =
    "_ZN13ManageCelerra14DeleteNFSShareENSt7__cxx1112basic_stringIcSt11char_"
    "traitsIcESaIcEEES5_";
const char kGetLastError[] = "_ZN13ManageCelerra12GetLastErrorEv";
const char kGetSnapDeviceName[] =
    "_Z42Celerra_GetSnapDeviceNameWithManageCelerraR13ManageCelerraNSt7__"
    "cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_S6_RKS6_RS6_";

const char* const kAllNames[] = {
    kSetControlHostInfo, kCreateROChkPt,       kCreateRWChkPt,
    kDeleteChkPt,        kRestorePFSFromChkPt, kGetChkPointsInfo,
    kGetPFSInfo,         kGetCifsShareInfo,    kGetNFSInfo,
    kGetCifsServers,     kGetMountPointInfo,   kGetMoverForVdm,
    kCreateNFSShare,     kDeleteNFSShare,      kGetLastError,
    kGetSnapDeviceName};

// The library's definition of pszName; aborts when there is none (a
// benchmark must never run half measured).
template <typename Fn>
Fn Next(const char* pszName) {
  void* p = dlsym(RTLD_NEXT, pszName);
  if (p == nullptr) {
    std::fprintf(stderr, "client timer: no definition of %s\n", pszName);
    std::abort();
  }
  return reinterpret_cast<Fn>(p);
}

// Adds the thread CPU time of the outermost forwarded call to the sum.
class Scope {
 public:
  Scope() {
    if (t_nDepth++ == 0) m_nStart = zkbench::ThreadCpuNanos();
  }
  ~Scope() {
    if (--t_nDepth == 0) {
      t_nClientNanos += zkbench::ThreadCpuNanos() - m_nStart;
    }
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  int64_t m_nStart = 0;
};

using Strings = std::vector<std::string>;

}  // namespace

namespace zkbench {

int64_t ClientCpuNanos() { return t_nClientNanos; }

int64_t ThreadCpuNanos() {
  timespec oNow;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &oNow);
  return static_cast<int64_t>(oNow.tv_sec) * 1000000000 + oNow.tv_nsec;
}

bool ClientTimerReady(std::string* psMissing) {
  psMissing->clear();
  for (const char* pszName : kAllNames) {
    if (dlsym(RTLD_NEXT, pszName) == nullptr) {
      if (!psMissing->empty()) *psMissing += " ";
      *psMissing += pszName;
    }
  }
  return psMissing->empty();
}

}  // namespace zkbench

// Each definition below takes the place of the library's: same signature,
// the library's definition called with the object as first argument (the
// Itanium C++ ABI passes it so).

bool ManageCelerra::SetControlHostInfo(std::string sControlHost,
                                       std::string sUserName,
                                       std::string sPassword) {
  using Fn = bool (*)(ManageCelerra*, std::string, std::string, std::string);
  static const Fn fn = Next<Fn>(kSetControlHostInfo);
  Scope oScope;
  return fn(this, std::move(sControlHost), std::move(sUserName),
            std::move(sPassword));
}

bool ManageCelerra::CreateROChkPt(std::string sPFSId,
                                  eCelerraStgType eStorageType,
                                  std::string sStorageExtra,
                                  std::string sChkptName,
                                  std::string& sChkptId) {
  using Fn = bool (*)(ManageCelerra*, std::string, eCelerraStgType, std::string,
                      std::string, std::string&);
  static const Fn fn = Next<Fn>(kCreateROChkPt);
  Scope oScope;
  return fn(this, std::move(sPFSId), eStorageType, std::move(sStorageExtra),
            std::move(sChkptName), sChkptId);
}

bool ManageCelerra::CreateRWChkPt(std::string sPFSId,
                                  eCelerraStgType eStorageType,
                                  std::string sStorageExtra,
                                  std::string sRWChkptName, bool bReserved,
                                  std::string& sBaselineChkptId,
                                  std::string& sRWChkptId) {
  using Fn = bool (*)(ManageCelerra*, std::string, eCelerraStgType, std::string,
                      std::string, bool, std::string&, std::string&);
  static const Fn fn = Next<Fn>(kCreateRWChkPt);
  Scope oScope;
  return fn(this, std::move(sPFSId), eStorageType, std::move(sStorageExtra),
            std::move(sRWChkptName), bReserved, sBaselineChkptId, sRWChkptId);
}

bool ManageCelerra::DeleteChkPt(std::string sChkptId,
                                std::string sBaselineChkptId,
                                bool bDeleteBaseline) {
  using Fn = bool (*)(ManageCelerra*, std::string, std::string, bool);
  static const Fn fn = Next<Fn>(kDeleteChkPt);
  Scope oScope;
  return fn(this, std::move(sChkptId), std::move(sBaselineChkptId),
            bDeleteBaseline);
}

bool ManageCelerra::RestorePFSFromChkPt(std::string sChkptName,
                                        std::string sChkptId,
                                        std::string sPFSId) {
  using Fn = bool (*)(ManageCelerra*, std::string, std::string, std::string);
  static const Fn fn = Next<Fn>(kRestorePFSFromChkPt);
  Scope oScope;
  return fn(this, std::move(sChkptName), std::move(sChkptId),
            std::move(sPFSId));
}

bool ManageCelerra::GetChkPointsInfo(std::string sPFSId,
                                     std::list<CelerraChkPtInfo>& lChkpts) {
  using Fn =
      bool (*)(ManageCelerra*, std::string, std::list<CelerraChkPtInfo>&);
  static const Fn fn = Next<Fn>(kGetChkPointsInfo);
  Scope oScope;
  return fn(this, std::move(sPFSId), lChkpts);
}

bool ManageCelerra::GetPFSInfo(std::string& sPFSId,
                               eCelerraStgType& eStorageType,
                               std::string& sStorageExtra,
                               std::string& sSaveVolume, std::string& sFSName,
                               std::string& sVdmId, bool& bOnVdm) {
  using Fn =
      bool (*)(ManageCelerra*, std::string&, eCelerraStgType&, std::string&,
               std::string&, std::string&, std::string&, bool&);
  static const Fn fn = Next<Fn>(kGetPFSInfo);
  Scope oScope;
  return fn(this, sPFSId, eStorageType, sStorageExtra, sSaveVolume, sFSName,
            sVdmId, bOnVdm);
}

bool ManageCelerra::GetCifsShareInfo(std::string sShareName,
                                     std::string& sPFSId, bool& bOnVdm,
                                     std::string& sMoverId,
                                     std::string& sSharePath,
                                     Strings& vCifsServers) {
  using Fn = bool (*)(ManageCelerra*, std::string, std::string&, bool&,
                      std::string&, std::string&, Strings&);
  static const Fn fn = Next<Fn>(kGetCifsShareInfo);
  Scope oScope;
  return fn(this, std::move(sShareName), sPFSId, bOnVdm, sMoverId, sSharePath,
            vCifsServers);
}

bool ManageCelerra::GetNFSInfo(std::string sExportPath, std::string& sPFSId,
                               bool& bOnVdm, std::string& sMoverId,
                               Strings& vAccessHosts, Strings& vRWHosts,
                               Strings& vRootHosts) {
  using Fn = bool (*)(ManageCelerra*, std::string, std::string&, bool&,
                      std::string&, Strings&, Strings&, Strings&);
  static const Fn fn = Next<Fn>(kGetNFSInfo);
  Scope oScope;
  return fn(this, std::move(sExportPath), sPFSId, bOnVdm, sMoverId,
            vAccessHosts, vRWHosts, vRootHosts);
}

bool ManageCelerra::GetCifsServers(std::vector<CelerraCifsServer_t>& vServers,
                                   const std::string& sFilter) {
  using Fn = bool (*)(ManageCelerra*, std::vector<CelerraCifsServer_t>&,
                      const std::string&);
  static const Fn fn = Next<Fn>(kGetCifsServers);
  Scope oScope;
  return fn(this, vServers, sFilter);
}

bool ManageCelerra::GetMountPointInfo(CelerraMountPointsInfo_t& oInfo,
                                      std::string sMoverId, std::string sPath,
                                      const bool& bOnVdm) {
  using Fn = bool (*)(ManageCelerra*, CelerraMountPointsInfo_t&, std::string,
                      std::string, const bool&);
  static const Fn fn = Next<Fn>(kGetMountPointInfo);
  Scope oScope;
  return fn(this, oInfo, std::move(sMoverId), std::move(sPath), bOnVdm);
}

bool ManageCelerra::GetMoverForVdm(const std::string& sVdmId,
                                   std::string& sMoverId) {
  using Fn = bool (*)(ManageCelerra*, const std::string&, std::string&);
  static const Fn fn = Next<Fn>(kGetMoverForVdm);
  Scope oScope;
  return fn(this, sVdmId, sMoverId);
}

bool ManageCelerra::CreateNFSShare(std::string sPath, std::string sMoverId,
                                   bool bReserved, Strings& vAccessHosts,
                                   Strings& vRWHosts, Strings& vRootHosts) {
  using Fn = bool (*)(ManageCelerra*, std::string, std::string, bool, Strings&,
                      Strings&, Strings&);
  static const Fn fn = Next<Fn>(kCreateNFSShare);
  Scope oScope;
  return fn(this, std::move(sPath), std::move(sMoverId), bReserved,
            vAccessHosts, vRWHosts, vRootHosts);
}

bool ManageCelerra::DeleteNFSShare(std::string sPath, std::string sMoverId) {
  using Fn = bool (*)(ManageCelerra*, std::string, std::string);
  static const Fn fn = Next<Fn>(kDeleteNFSShare);
  Scope oScope;
  return fn(this, std::move(sPath), std::move(sMoverId));
}

CelerraError ManageCelerra::GetLastError() {
  // The result is returned through a hidden pointer that comes before the
  // object, as for a free function returning the record.
  using Fn = CelerraError (*)(ManageCelerra*);
  static const Fn fn = Next<Fn>(kGetLastError);
  Scope oScope;
  return fn(this);
}

bool Celerra_GetSnapDeviceNameWithManageCelerra(ManageCelerra& oClient,
                                                std::string sSourcePath,
                                                std::string sPFSId,
                                                std::string sRWChkptId,
                                                const std::string& sRWChkptName,
                                                std::string& sSharePath) {
  using Fn = bool (*)(ManageCelerra&, std::string, std::string, std::string,
                      const std::string&, std::string&);
  static const Fn fn = Next<Fn>(kGetSnapDeviceName);
  Scope oScope;
  return fn(oClient, std::move(sSourcePath), std::move(sPFSId),
            std::move(sRWChkptId), sRWChkptName, sSharePath);
}
