// SPDX-License-Identifier: Apache-2.0
// zksnap filer and orphans commands: the simulated file server as the
// catalog sees it.
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "filer/FilerSim.h"
#include "filer/LayoutFile.h"
#include "refhost/KeyValueText.h"
#include "refhost/RecordHolding.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"
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

}  // namespace

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

namespace {

// What the records name on the file server, keyed by control host: a
// checkpoint by id (with the name the record expects, "" for a baseline
// whose name it does not know) and exports by path. A record whose control
// host the catalog does not know names its ids on every control host.
struct Named {
  std::multimap<std::pair<std::string, std::string>, std::string> mIds;
  std::set<std::pair<std::string, std::string>> sPaths;

  void AddId(const std::string& sHost, const std::string& sId,
             const std::string& sName) {
    if (!sId.empty()) mIds.insert({{sHost, sId}, sName});
  }
  bool NamesIdOn(const std::string& sHost,
                 const zkfiler::CheckpointView& k) const {
    auto oRange = mIds.equal_range({sHost, k.id});
    for (auto it = oRange.first; it != oRange.second; ++it) {
      if (it->second.empty() || it->second == k.name) return true;
    }
    return false;
  }
  bool Names(const zkfiler::CheckpointView& k) const {
    return NamesIdOn(k.control_host, k) || NamesIdOn("", k);
  }
  bool Names(const zkfiler::ExportView& e) const {
    return sPaths.count({e.control_host, e.path}) != 0 ||
           sPaths.count({"", e.path}) != 0;
  }
};

Named NamedByRecords(Catalog& c) {
  Named o;
  for (const RecordRow& r : c.Records()) {
    const std::string sHost = ControlHostOf(c, r);
    const Holding h = NamedBy(r);
    o.AddId(sHost, h.sCheckpointId, h.sCheckpointName);
    o.AddId(sHost, h.sBaselineId, "");
    o.AddId(sHost, h.sMountId, h.sMountName);
    KeyValuePairs vPairs;
    std::string sError;
    if (ParseKeyValueText(r.sSnapDevice, &vPairs, &sError)) {
      for (const char* pszKey : {"exportpath", "lunuuid"}) {
        const std::string sPath = ValueOf(vPairs, pszKey);
        if (!sPath.empty()) o.sPaths.insert({sHost, sPath});
      }
    }
  }
  return o;
}

}  // namespace

int CmdOrphans(Context& z) {
  Catalog& c = z.OpenCatalog();
  z.UseFilerStore(false);
  // Taking the write lock waits for a running operation: the checkpoint a
  // snap is making is on the file server before its record names it.
  bool bInProgress = false;
  try {
    c.Begin(Catalog::Txn::kWrite);
  } catch (const HostError& e) {
    if (e.ExitCode() != kExitBusy) throw;
    bInProgress = true;
    c.Begin(Catalog::Txn::kRead);
  }
  const Named oNamed = NamedByRecords(c);
  std::vector<zkfiler::CheckpointView> vCheckpoints, vOrphanCheckpoints;
  std::vector<zkfiler::ExportView> vExports, vOrphanExports;
  Check(zkfiler::ListCheckpoints("", &vCheckpoints));
  Check(zkfiler::ListExports("", &vExports));
  c.Rollback();
  std::set<std::pair<std::string, std::string>> sCheckpointIds;
  for (const auto& k : vCheckpoints) {
    sCheckpointIds.insert({k.control_host, k.id});
    if (!oNamed.Names(k)) vOrphanCheckpoints.push_back(k);
  }
  // Exports of production file systems are the file server's own business;
  // an export of a checkpoint that no snap device names is an orphan.
  for (const auto& e : vExports) {
    if (sCheckpointIds.count({e.control_host, e.fs_id}) != 0 &&
        !oNamed.Names(e)) {
      vOrphanExports.push_back(e);
    }
  }
  if (z.Json()) {
    Json oC = Json::Array();
    for (const auto& k : vOrphanCheckpoints) oC.Push(CheckpointJson(k));
    Json oE = Json::Array();
    for (const auto& e : vOrphanExports) oE.Push(ExportJson(e));
    Json o = Json::Object();
    o.Set("operation_in_progress", Json::Bool(bInProgress));
    if (bInProgress) {
      o.Set("checkpoints", Json::Array())
          .Set("exports", Json::Array())
          .Set("too_new_to_judge",
               Json::Object().Set("checkpoints", oC).Set("exports", oE));
    } else {
      o.Set("checkpoints", oC).Set("exports", oE);
    }
    z.Out(o.Dump() + "\n");
    return bInProgress ? kExitBusy : kExitSuccess;
  }
  if (bInProgress) {
    z.Out(
        "an operation is in progress (another zksnap holds the catalog): a "
        "checkpoint it is making is not named by its record yet, so no "
        "checkpoint can be called an orphan now; run 'zksnap orphans' again "
        "when it has ended\n");
    if (!vOrphanCheckpoints.empty()) {
      z.Out("\nCheckpoints too new to judge (no record names them yet)\n" +
            CheckpointTable(vOrphanCheckpoints).Render());
    }
    if (!vOrphanExports.empty()) {
      z.Out("\nCheckpoint exports too new to judge\n" +
            ExportTable(vOrphanExports).Render());
    }
    return kExitBusy;
  }
  if (vOrphanCheckpoints.empty() && vOrphanExports.empty()) {
    z.Out(
        "no orphans: every checkpoint and checkpoint export on the file "
        "server is named by a record\n");
    return kExitSuccess;
  }
  if (!vOrphanCheckpoints.empty()) {
    z.Out("Checkpoints no record names\n" +
          CheckpointTable(vOrphanCheckpoints).Render());
  }
  if (!vOrphanExports.empty()) {
    z.Out(std::string(vOrphanCheckpoints.empty() ? "" : "\n") +
          "Checkpoint exports no record names\n" +
          ExportTable(vOrphanExports).Render());
  }
  return kExitSuccess;
}

}  // namespace zkref
