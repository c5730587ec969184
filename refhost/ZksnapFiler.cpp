// SPDX-License-Identifier: Apache-2.0
// zksnap filer commands: the simulated file server as the catalog sees it.
#include <ctime>
#include <filesystem>
#include <set>
#include <utility>

#include "filer/FilerSim.h"
#include "filer/LayoutFile.h"
#include "refhost/RecordHolding.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"
#include "refhost/ZksnapFilerViews.h"
#include "refhost/ZksnapOutput.h"

namespace zkref {

namespace {

void Check(const zkfiler::Status& oStatus) {
  if (!oStatus.ok()) throw HostError(oStatus.message());
}

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : ",") + x;
  return s;
}

Json StrArray(const std::vector<std::string>& v) {
  Json o = Json::Array();
  for (const std::string& s : v) o.Push(Json::Str(s));
  return o;
}

}  // namespace

Json CheckpointJson(const zkfiler::CheckpointView& c) {
  Json o = Json::Object();
  o.Set("control_host", c.control_host)
      .Set("id", c.id)
      .Set("name", c.name)
      .Set("fs_id", c.fs_id)
      .Set("writable", Json::Bool(c.writable))
      .Set("baseline_id", c.baseline_id)
      .Set("generation", Json::Int(c.generation));
  return o;
}

Json ExportJson(const zkfiler::ExportView& e) {
  Json o = Json::Object();
  o.Set("control_host", e.control_host)
      .Set("path", e.path)
      .Set("mover_id", e.mover_id)
      .Set("fs_id", e.fs_id)
      .Set("access_hosts", StrArray(e.access_hosts))
      .Set("rw_hosts", StrArray(e.rw_hosts))
      .Set("root_hosts", StrArray(e.root_hosts));
  return o;
}

Table CheckpointTable(const std::vector<zkfiler::CheckpointView>& v) {
  Table t({"CONTROL HOST", "CHECKPOINT", "ID", "FS", "WRITABLE", "BASELINE",
           "GENERATION"});
  for (const auto& c : v) {
    t.AddRow({c.control_host, c.name, c.id, c.fs_id, c.writable ? "yes" : "no",
              c.baseline_id, std::to_string(c.generation)});
  }
  return t;
}

Table ExportTable(const std::vector<zkfiler::ExportView>& v) {
  Table t({"CONTROL HOST", "EXPORT", "MOVER", "FS/CHECKPOINT", "ACCESS", "RW",
           "ROOT"});
  for (const auto& e : v) {
    t.AddRow({e.control_host, e.path, e.mover_id, e.fs_id, Join(e.access_hosts),
              Join(e.rw_hosts), Join(e.root_hosts)});
  }
  return t;
}

int CmdFilerShow(Context& z) {
  z.UseFilerStore(false);
  std::vector<zkfiler::ServerLayout> vServers;
  std::vector<zkfiler::CheckpointView> vCheckpoints;
  std::vector<zkfiler::ExportView> vExports;
  Check(zkfiler::ListServers(&vServers));
  Check(zkfiler::ListCheckpoints("", &vCheckpoints));
  Check(zkfiler::ListExports("", &vExports));
  if (z.Json()) {
    Json oServers = Json::Array();
    for (const auto& l : vServers) {
      Json oFs = Json::Array();
      for (const auto& f : l.file_systems) {
        Json o = Json::Object();
        o.Set("id", f.id)
            .Set("name", f.name)
            .Set("mount_path", f.mount_path)
            .Set(f.on_vdm ? "vdm" : "mover", f.mover_id)
            .Set("storage_type", Json::Int(f.storage_type))
            .Set("storage_extra", f.storage_extra)
            .Set("generation", Json::Int(f.generation))
            .Set("restores", Json::Int(f.restores));
        oFs.Push(o);
      }
      Json o = Json::Object();
      o.Set("control_host", l.control_host)
          .Set("user", l.user)
          .Set("file_systems", oFs);
      oServers.Push(o);
    }
    Json oCheckpoints = Json::Array();
    for (const auto& c : vCheckpoints) oCheckpoints.Push(CheckpointJson(c));
    Json oExports = Json::Array();
    for (const auto& e : vExports) oExports.Push(ExportJson(e));
    Json o = Json::Object();
    o.Set("state_file", z.FilerDbPath())
        .Set("servers", oServers)
        .Set("checkpoints", oCheckpoints)
        .Set("exports", oExports);
    z.Out(o.Dump() + "\n");
    return kExitSuccess;
  }
  Table tFs({"CONTROL HOST", "FS", "NAME", "MOUNT", "ON", "EXTRA", "GENERATION",
             "RESTORES"});
  for (const auto& l : vServers) {
    for (const auto& f : l.file_systems) {
      tFs.AddRow({l.control_host, f.id, f.name, f.mount_path,
                  (f.on_vdm ? "vdm " : "mover ") + f.mover_id, f.storage_extra,
                  std::to_string(f.generation), std::to_string(f.restores)});
    }
  }
  z.Out("File systems (" + z.FilerDbPath() + ")\n" + tFs.Render() + "\n");
  z.Out("Checkpoints\n" + CheckpointTable(vCheckpoints).Render() + "\n");
  z.Out("Exports\n" + ExportTable(vExports).Render());
  return kExitSuccess;
}

namespace {

bool PathExists(const std::string& sPath) {
  std::error_code oError;
  return std::filesystem::exists(sPath, oError);
}

// A checkpoint of the control host with that id (and name, when known).
bool HasCheckpoint(const std::vector<zkfiler::CheckpointView>& v,
                   const std::string& sName, const std::string& sId) {
  for (const auto& k : v) {
    if (k.id == sId && (sName.empty() || k.name == sName)) return true;
  }
  return false;
}

}  // namespace

int CmdFilerLoad(Context& z, const std::string& sLayoutFile, bool bForce) {
  const std::string sDb = z.FilerDbPath();
  const size_t nSlash = sDb.rfind('/');
  const std::string sDir =
      nSlash == std::string::npos ? "." : sDb.substr(0, nSlash + 1);
  if (!PathExists(sDir)) {
    throw HostError("no directory " + sDir + " for the file server state " +
                    sDb + " (run 'zksnap init' first, or give --state)");
  }
  std::vector<zkfiler::ServerLayout> vLayout;
  Check(zkfiler::ReadLayoutFile(sLayoutFile, &vLayout));

  // The records that still hold something on a file server the layout
  // replaces (its checkpoints and exports go with it).
  Catalog* pCatalog = nullptr;
  if (PathExists(z.Options().sStateDir + "/" + Catalog::kFileName)) {
    pCatalog = &z.OpenCatalog();
    pCatalog->Begin(Catalog::Txn::kWrite);
  }
  std::vector<std::pair<RecordRow, std::string>> vUsers;  // record, host
  if (pCatalog != nullptr && PathExists(sDb)) {
    z.UseFilerStore(false);
    std::vector<zkfiler::ServerLayout> vInstalled;
    Check(zkfiler::ListServers(&vInstalled));
    std::set<std::string> oReplaced;
    for (const auto& l : vLayout) {
      for (const auto& i : vInstalled) {
        if (i.control_host == l.control_host) oReplaced.insert(l.control_host);
      }
    }
    for (const RecordRow& r : pCatalog->Records()) {
      if (HoldingOf(r).Empty()) continue;
      const std::string sHost = ControlHostOf(*pCatalog, r);
      if (oReplaced.count(sHost) != 0) vUsers.push_back({r, sHost});
    }
  }
  if (!vUsers.empty() && !bForce) {
    std::string sText;
    for (const auto& u : vUsers) {
      sText += (sText.empty() ? "" : ", ") + u.first.sName + " (" +
               HoldingOf(u.first).Describe() + " on " + u.second + ")";
    }
    throw HostError(sLayoutFile +
                    " replaces file servers that records still use, with "
                    "their checkpoints and exports: " +
                    sText +
                    "; remove those first ('zksnap unmap', 'zksnap delete'), "
                    "or use --force (the records are then marked with what "
                    "they still hold)");
  }
  // All or nothing: a failed load leaves an existing state file as it was
  // and creates no new one.
  Check(zkfiler::LoadStateFile(sDb, sLayoutFile, false));

  std::vector<std::pair<std::string, std::string>> vMarked;  // record, text
  if (!vUsers.empty()) {
    const uint64_t nJobId = pCatalog->NextJobId();
    const int64_t nNow = static_cast<int64_t>(std::time(nullptr));
    for (auto& u : vUsers) {
      RecordRow& r = u.first;
      std::vector<zkfiler::CheckpointView> vCheckpoints;
      Check(zkfiler::ListCheckpoints(u.second, &vCheckpoints));
      const Holding h = HoldingOf(r);
      std::string sText;
      if (h.bMount && !HasCheckpoint(vCheckpoints, h.sMountName, h.sMountId)) {
        r.mMetaData.erase(SM_MDT_SNAP_MOUNT);
        r.sSnapDevice.clear();
        r.nStatus = ZKSO::UNMAP_SUCCESS;
        sText = "writable checkpoint " + h.sMountName + " (" + h.sMountId +
                ") and its export are gone";
      }
      if (h.bCheckpoint &&
          !HasCheckpoint(vCheckpoints, h.sCheckpointName, h.sCheckpointId)) {
        r.nStatus = ZKSO::SNAP_NOT_FOUND;
        sText += (sText.empty() ? "" : "; ") + std::string("checkpoint ") +
                 h.sCheckpointName + " (" + h.sCheckpointId + ") is gone";
      }
      if (sText.empty()) continue;
      sText += " after 'zksnap filer load --force " + sLayoutFile +
               "' replaced file server " + u.second + ": the record is now " +
               StatusName(r.nStatus);
      r.nJPRId = 0;
      r.sJPRText.clear();
      pCatalog->UpdateRecord(r);
      JobLogRow oRow;
      oRow.nJobId = nJobId;
      oRow.sRecord = r.sName;
      oRow.sOperation = "filer load";
      oRow.nLevel = 1;
      oRow.sTag = "zksnap";
      oRow.sText = sText;
      oRow.nTime = nNow;
      pCatalog->AppendJobLog(oRow);
      vMarked.push_back({r.sName, sText});
    }
  }
  if (pCatalog != nullptr) pCatalog->Commit();
  z.Out("loaded " + sLayoutFile + " into " + sDb + "\n");
  for (const auto& m : vMarked) {
    z.Out("marked record " + m.first + ": " + m.second + "\n");
  }
  return kExitSuccess;
}

}  // namespace zkref
