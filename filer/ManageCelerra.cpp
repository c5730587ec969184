// SPDX-License-Identifier: Apache-2.0
// The array management client on top of the simulated file server. Each
// command runs in FilerRuntime's frame; out-parameters are written only when
// the command succeeds (GetMoverForVdm always empties its out first).
#include "host/ManageCelerra.h"

#include "filer/FilerErrors.h"
#include "filer/FilerModel.h"
#include "filer/FilerRuntime.h"
#include "filer/FilerSim.h"
#include "filer/FilerText.h"
#include "filerdata/FilerData.h"

namespace data = zkfiler::data;
using zkfiler::FilerStore;
using zkfiler::RunCommand;
using zkfiler::ServerRow;

std::string ManageCelerra::sDummyVar;
bool ManageCelerra::bDummyVar = false;

namespace {

// One journal word: the value escaped, so a blank or line break inside it
// can never pass for another argument or another command.
std::string Arg(const char* key, const std::string& value) {
  return std::string(key) + "=" + zkfiler::EscapeField(value);
}

std::string Args(std::initializer_list<std::string> parts) {
  std::string text;
  for (const std::string& p : parts) {
    if (!text.empty()) text += " ";
    text += p;
  }
  return text;
}

std::string Hosts(const std::vector<std::string>& hosts) {
  std::string text;
  for (const std::string& h : hosts) {
    if (!text.empty()) text += ",";
    text += h;
  }
  return text;
}

// Keeps every exception (even a failed allocation while building the
// journal text) inside the library.
template <typename Fn>
bool Guarded(ManageCelerra& client, Fn&& fn) noexcept {
  try {
    return fn();
  } catch (...) {
    try {
      client.SetLastError(zkfiler::MakeError(zkfiler::Cause::kStateFile,
                                             "file server client: out of "
                                             "memory"));
    } catch (...) {
    }
    return false;
  }
}

}  // namespace

ManageCelerra::ManageCelerra() : m_nJobId(0) {}
ManageCelerra::ManageCelerra(unsigned long long nJobId) : m_nJobId(nJobId) {}

bool ManageCelerra::SetControlHostInfo(std::string sControlHost,
                                       std::string sUserName,
                                       std::string sPassword) {
  m_sControlHost = std::move(sControlHost);
  m_sUserName = std::move(sUserName);
  m_sPassword = std::move(sPassword);
  return true;
}

bool ManageCelerra::CreateROChkPt(std::string sPFSId,
                                  eCelerraStgType eStorageType,
                                  std::string sStorageExtra,
                                  std::string sChkptName,
                                  std::string& sChkptId) {
  return Guarded(*this, [&]() -> bool {
    std::string id;
    const bool ok = RunCommand(
        *this, "CreateROChkPt",
        Args({Arg("fs", sPFSId), Arg("name", sChkptName)}),
        [&](FilerStore& store, const ServerRow& server) {
          id = zkfiler::model::CreateReadOnly(
              store, server, sPFSId, eStorageType, sStorageExtra, sChkptName);
          if (data::DataChanges* d = data::Active()) {
            d->CreateCopy(data::FsDir(d->root(), server.host, sPFSId),
                          data::CheckpointDir(d->root(), server.host, id));
          }
        });
    if (ok) sChkptId = id;
    return ok;
  });
}

bool ManageCelerra::CreateRWChkPt(std::string sPFSId,
                                  eCelerraStgType eStorageType,
                                  std::string sStorageExtra,
                                  std::string sRWChkptName, bool /*bReserved*/,
                                  std::string& sBaselineChkptId,
                                  std::string& sRWChkptId) {
  return Guarded(*this, [&]() -> bool {
    std::string id;
    const std::string baseline = sBaselineChkptId;
    const bool ok = RunCommand(
        *this, "CreateRWChkPt",
        Args({Arg("fs", sPFSId), Arg("name", sRWChkptName),
              Arg("baseline", baseline)}),
        [&](FilerStore& store, const ServerRow& server) {
          id = zkfiler::model::CreateWritable(store, server, sPFSId,
                                              eStorageType, sStorageExtra,
                                              sRWChkptName, baseline);
          if (data::DataChanges* d = data::Active()) {
            d->CreateCopy(data::CheckpointDir(d->root(), server.host, baseline),
                          data::CheckpointDir(d->root(), server.host, id));
          }
        });
    if (ok) sRWChkptId = id;
    return ok;
  });
}

bool ManageCelerra::DeleteChkPt(std::string sChkptId,
                                std::string sBaselineChkptId,
                                bool bDeleteBaseline) {
  return Guarded(*this, [&]() -> bool {
    return RunCommand(
        *this, "DeleteChkPt",
        Args({Arg("id", sChkptId), Arg("baseline", sBaselineChkptId),
              Arg("with_baseline", bDeleteBaseline ? "true" : "false")}),
        [&](FilerStore& store, const ServerRow& server) {
          zkfiler::model::DeleteCheckpoint(store, server, sChkptId,
                                           sBaselineChkptId, bDeleteBaseline);
          if (data::DataChanges* d = data::Active()) {
            d->RemoveAfterCommit(
                data::CheckpointDir(d->root(), server.host, sChkptId));
            if (bDeleteBaseline) {
              d->RemoveAfterCommit(data::CheckpointDir(d->root(), server.host,
                                                       sBaselineChkptId));
            }
          }
        });
  });
}

bool ManageCelerra::RestorePFSFromChkPt(std::string sChkptName,
                                        std::string sChkptId,
                                        std::string sPFSId) {
  return Guarded(*this, [&]() -> bool {
    return RunCommand(
        *this, "RestorePFSFromChkPt",
        Args({Arg("name", sChkptName), Arg("id", sChkptId), Arg("fs", sPFSId)}),
        [&](FilerStore& store, const ServerRow& server) {
          zkfiler::model::Restore(store, server, sChkptName, sChkptId, sPFSId);
          if (data::DataChanges* d = data::Active()) {
            d->ReplaceWithCopy(
                data::FsDir(d->root(), server.host, sPFSId),
                data::CheckpointDir(d->root(), server.host, sChkptId));
          }
        });
  });
}

bool ManageCelerra::GetChkPointsInfo(std::string sPFSId,
                                     std::list<CelerraChkPtInfo>& lChkpts) {
  return Guarded(*this, [&]() -> bool {
    std::list<CelerraChkPtInfo> found;
    const bool ok =
        RunCommand(*this, "GetChkPointsInfo", Args({Arg("fs", sPFSId)}),
                   [&](FilerStore& store, const ServerRow& server) {
                     found = zkfiler::model::Checkpoints(store, server, sPFSId);
                   });
    if (ok && zkfiler::ChkptListsWithoutFs()) {
      for (CelerraChkPtInfo& oChkpt : found) oChkpt.sPFSId.clear();
    }
    if (ok) lChkpts.swap(found);
    return ok;
  });
}

bool ManageCelerra::GetPFSInfo(std::string& sPFSId,
                               eCelerraStgType& eStorageType,
                               std::string& sStorageExtra,
                               std::string& sSaveVolume, std::string& sFSName,
                               std::string& sVdmId, bool& bOnVdm) {
  return Guarded(*this, [&]() -> bool {
    zkfiler::FileSystemDef fs;
    const std::string fs_id = sPFSId;
    const bool ok =
        RunCommand(*this, "GetPFSInfo", Args({Arg("fs", fs_id)}),
                   [&](FilerStore& store, const ServerRow& server) {
                     fs = zkfiler::model::FileSystem(store, server, fs_id);
                   });
    if (!ok) return false;
    eStorageType = fs.storage_type;
    sStorageExtra = fs.storage_extra;
    sSaveVolume = fs.save_volume;
    sFSName = fs.name;
    sVdmId = fs.mover_id;
    bOnVdm = fs.on_vdm;
    return true;
  });
}

bool ManageCelerra::GetCifsShareInfo(std::string sShareName,
                                     std::string& sPFSId, bool& bOnVdm,
                                     std::string& sMoverId,
                                     std::string& sSharePath,
                                     std::vector<std::string>& vCifsServers) {
  return Guarded(*this, [&]() -> bool {
    zkfiler::model::ShareInfo info;
    const bool ok = RunCommand(
        *this, "GetCifsShareInfo", Args({Arg("share", sShareName)}),
        [&](FilerStore& store, const ServerRow& server) {
          info = zkfiler::model::CifsShare(store, server, sShareName);
        });
    if (!ok) return false;
    sPFSId = info.fs_id;
    bOnVdm = info.on_vdm;
    sMoverId = info.mover_id;
    sSharePath = info.path;
    vCifsServers = info.cifs_servers;
    return true;
  });
}

bool ManageCelerra::GetNFSInfo(std::string sExportPath, std::string& sPFSId,
                               bool& bOnVdm, std::string& sMoverId,
                               std::vector<std::string>& vAccessHosts,
                               std::vector<std::string>& vRWHosts,
                               std::vector<std::string>& vRootHosts) {
  return Guarded(*this, [&]() -> bool {
    zkfiler::ExportView view;
    bool on_vdm = false;
    const bool ok = RunCommand(
        *this, "GetNFSInfo", Args({Arg("path", sExportPath)}),
        [&](FilerStore& store, const ServerRow& server) {
          view = zkfiler::model::NfsExport(store, server, sExportPath);
          zkfiler::FileSystemDef fs;
          if (store.FindFileSystem(server.host, view.fs_id, &fs)) {
            on_vdm = fs.on_vdm;
          }
        });
    if (!ok) return false;
    sPFSId = view.fs_id;
    bOnVdm = on_vdm;
    sMoverId = view.mover_id;
    vAccessHosts = view.access_hosts;
    vRWHosts = view.rw_hosts;
    vRootHosts = view.root_hosts;
    return true;
  });
}

bool ManageCelerra::GetCifsServers(std::vector<CelerraCifsServer_t>& vServers,
                                   const std::string& /*sFilter*/) {
  return Guarded(*this, [&]() -> bool {
    std::vector<CelerraCifsServer_t> found;
    const bool ok = RunCommand(*this, "GetCifsServers", "",
                               [&](FilerStore& store, const ServerRow& server) {
                                 found =
                                     zkfiler::model::CifsServers(store, server);
                               });
    if (ok) vServers.swap(found);
    return ok;
  });
}

bool ManageCelerra::GetMountPointInfo(CelerraMountPointsInfo_t& oInfo,
                                      std::string sMoverId, std::string sPath,
                                      const bool& bOnVdm) {
  return Guarded(*this, [&]() -> bool {
    CelerraMountPointsInfo_t info;
    const bool on_vdm = bOnVdm;
    const bool ok = RunCommand(*this, "GetMountPointInfo",
                               Args({Arg("mover", sMoverId), Arg("path", sPath),
                                     Arg("on_vdm", on_vdm ? "true" : "false")}),
                               [&](FilerStore& store, const ServerRow& server) {
                                 info = zkfiler::model::MountPoint(
                                     store, server, sMoverId, sPath, on_vdm);
                               });
    if (ok) oInfo = info;
    return ok;
  });
}

bool ManageCelerra::GetMoverForVdm(const std::string& sVdmId,
                                   std::string& sMoverId) {
  return Guarded(*this, [&]() -> bool {
    const std::string vdm_id = sVdmId;  // may alias sMoverId
    sMoverId.clear();
    std::string mover;
    const bool ok =
        RunCommand(*this, "GetMoverForVdm", Args({Arg("vdm", vdm_id)}),
                   [&](FilerStore& store, const ServerRow& server) {
                     mover = zkfiler::model::MoverForVdm(store, server, vdm_id);
                   });
    if (ok) sMoverId = mover;
    return ok;
  });
}

bool ManageCelerra::CreateNFSShare(std::string sPath, std::string sMoverId,
                                   bool /*bReserved*/,
                                   std::vector<std::string>& vAccessHosts,
                                   std::vector<std::string>& vRWHosts,
                                   std::vector<std::string>& vRootHosts) {
  return Guarded(*this, [&]() -> bool {
    return RunCommand(
        *this, "CreateNFSShare",
        Args({Arg("path", sPath), Arg("mover", sMoverId),
              Arg("access", Hosts(vAccessHosts)), Arg("rw", Hosts(vRWHosts)),
              Arg("root", Hosts(vRootHosts))}),
        [&](FilerStore& store, const ServerRow& server) {
          zkfiler::model::CreateExport(store, server, sPath, sMoverId,
                                       vAccessHosts, vRWHosts, vRootHosts);
        });
  });
}

bool ManageCelerra::DeleteNFSShare(std::string sPath, std::string sMoverId) {
  return Guarded(*this, [&]() -> bool {
    return RunCommand(*this, "DeleteNFSShare",
                      Args({Arg("path", sPath), Arg("mover", sMoverId)}),
                      [&](FilerStore& store, const ServerRow& server) {
                        zkfiler::model::DeleteExport(store, server, sPath,
                                                     sMoverId);
                      });
  });
}

CelerraError ManageCelerra::GetLastError() { return m_oLastError; }

bool Celerra_GetSnapDeviceNameWithManageCelerra(ManageCelerra& oClient,
                                                std::string sSourcePath,
                                                std::string sPFSId,
                                                std::string sRWChkptId,
                                                const std::string& sRWChkptName,
                                                std::string& sSharePath) {
  return Guarded(oClient, [&]() -> bool {
    std::string path;
    const std::string name = sRWChkptName;
    if (zkfiler::SnapDeviceNamesByNameOnly()) sRWChkptId.clear();
    const bool ok =
        RunCommand(oClient, "Celerra_GetSnapDeviceNameWithManageCelerra",
                   Args({Arg("source", sSourcePath), Arg("fs", sPFSId),
                         Arg("id", sRWChkptId), Arg("name", name)}),
                   [&](FilerStore& store, const ServerRow& server) {
                     path = zkfiler::model::WritableExportPath(
                         store, server, sPFSId, sRWChkptId, name);
                   });
    if (ok) sSharePath = path;
    return ok;
  });
}
