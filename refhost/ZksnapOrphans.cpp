// SPDX-License-Identifier: Apache-2.0
// zksnap orphans: the checkpoints and checkpoint exports on the file server
// that no record names, and their removal through the plug-in's own unmap
// and delete.
//
// What a record names: the checkpoint (id and name) and baseline id of its
// snap metadata, the writable checkpoint of its mount metadata, the export
// path of its snap device while it holds that mount, and, while it holds the
// plug-in's intent (SM_MDT_CELERRA_INTENT: what an unfinished call was about to
// create, in a form that is the plug-in's own), possibly every checkpoint and
// export of its file system. While another zksnap holds the catalog an
// operation is running whose new objects its records do not name yet: nothing
// is judged then.
//
// A removal is judged and done in one catalog write transaction, so that no
// zksnap operation runs between the two. Each object is removed the way the
// plug-in removes what it made: a writable checkpoint with its export by an
// unmap, a read-only checkpoint by a delete, each of a record that exists
// only for that call and holds what a real record would hold for it.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "filer/FilerSim.h"
#include "host/ZKSnapTypes.h"
#include "refhost/CatalogHost.h"
#include "refhost/KeyValueText.h"
#include "refhost/MemHost.h"
#include "refhost/PluginErrors.h"
#include "refhost/RecordHolding.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"
#include "refhost/ZksnapFilerViews.h"
#include "refhost/ZksnapOutput.h"

namespace zkref {

namespace {

using zkfiler::CheckpointView;
using zkfiler::ExportView;
using zkfiler::FileSystemDef;

void Check(const zkfiler::Status& oStatus) {
  if (!oStatus.ok()) throw HostError(oStatus.message());
}

std::string Joined(const std::vector<std::string>& v, const char* pszSep) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : pszSep) + x;
  return s;
}

// A claim made on every control host when the record's is unknown.
bool OnHost(const std::string& sClaimHost, const std::string& sHost) {
  return sClaimHost.empty() || sClaimHost == sHost;
}

// What the records' metadata names on the file servers.
class Claims {
 public:
  // REQUIRES: a transaction open on c.
  explicit Claims(Catalog& c) {
    for (const RecordRow& r : c.Records()) {
      const std::string sHost = ControlHostOf(c, r);
      const Holding h = NamedBy(r);
      AddId(sHost, h.sCheckpointId, h.sCheckpointName, r.sName,
            "as its checkpoint (snap metadata)");
      AddId(sHost, h.sBaselineId, "", r.sName,
            "as the baseline of its checkpoint (snap metadata)");
      AddId(sHost, h.sMountId, h.sMountName, r.sName,
            "as its writable checkpoint (mount metadata)");
      KeyValuePairs vPairs;
      std::string sError;
      // The snap device stays in the record after an unmap: it names an
      // export only while the record holds the mount.
      if (ParseKeyValueText(HeldSnapDevice(r), &vPairs, &sError)) {
        for (const char* pszKey : {"exportpath", "lunuuid"}) {
          const std::string sPath = ValueOf(vPairs, pszKey);
          if (!sPath.empty()) m_vPaths.push_back({sHost, sPath, r.sName});
        }
      }
      auto it = r.mMetaData.find(SM_MDT_CELERRA_INTENT);
      if (it != r.mMetaData.end() && !it->second.empty()) {
        m_vIntents.push_back({sHost, FileSystemOf(r), r.sName});
      }
    }
  }

  // "record R names it as ..." for the first record that names the
  // checkpoint by its id or by its name; "" for none.
  std::string OfCheckpoint(const CheckpointView& k) const {
    for (const IdClaim& o : m_vIds) {
      // By id or by name: a record that names it either way may own it,
      // and keeping what may be owned is always safe.
      if (OnHost(o.sHost, k.control_host) &&
          ((!o.sId.empty() && o.sId == k.id) ||
           (!o.sName.empty() && o.sName == k.name))) {
        return "record " + o.sRecord + " names it " + o.sAs;
      }
    }
    return "";
  }
  std::string OfExport(const ExportView& e) const {
    for (const PathClaim& o : m_vPaths) {
      if (OnHost(o.sHost, e.control_host) && o.sPath == e.path) {
        return "record " + o.sRecord + " names it as its snap device";
      }
    }
    return "";
  }
  // The first record whose intent may own what is on that file system.
  std::string IntentOver(const std::string& sHost,
                         const std::string& sFsId) const {
    for (const IntentClaim& o : m_vIntents) {
      if (!OnHost(o.sHost, sHost) || (!o.sFsId.empty() && o.sFsId != sFsId)) {
        continue;
      }
      return "record " + o.sRecord +
             " holds the intent of an unfinished plug-in call (metadata type " +
             std::to_string(SM_MDT_CELERRA_INTENT) + ") on " +
             (o.sFsId.empty() ? std::string("an unknown file system")
                              : "file system " + o.sFsId) +
             (o.sHost.empty() ? "" : " of " + o.sHost) +
             ", which may have made it: repeat that record's last operation "
             "('zksnap log " +
             o.sRecord + "'), which settles its intent";
    }
    return "";
  }

 private:
  struct IdClaim {
    std::string sHost, sId, sName, sRecord, sAs;
  };
  struct PathClaim {
    std::string sHost, sPath, sRecord;
  };
  struct IntentClaim {
    std::string sHost, sFsId, sRecord;
  };
  void AddId(const std::string& sHost, const std::string& sId,
             const std::string& sName, const std::string& sRecord,
             const char* pszAs) {
    if (!sId.empty() || !sName.empty()) {
      m_vIds.push_back({sHost, sId, sName, sRecord, pszAs});
    }
  }
  std::vector<IdClaim> m_vIds;
  std::vector<PathClaim> m_vPaths;
  std::vector<IntentClaim> m_vIntents;
};

// The file servers as they are now.
struct FilerView {
  std::vector<zkfiler::ServerLayout> vServers;
  std::vector<CheckpointView> vCheckpoints;  // oldest first
  std::vector<ExportView> vExports;

  static FilerView Read() {
    FilerView v;
    Check(zkfiler::ListServers(&v.vServers));
    Check(zkfiler::ListCheckpoints("", &v.vCheckpoints));
    Check(zkfiler::ListExports("", &v.vExports));
    return v;
  }
  const CheckpointView* Checkpoint(const std::string& sHost,
                                   const std::string& sId) const {
    for (const auto& k : vCheckpoints) {
      if (k.control_host == sHost && k.id == sId) return &k;
    }
    return nullptr;
  }
  const FileSystemDef* FileSystem(const std::string& sHost,
                                  const std::string& sId) const {
    for (const auto& l : vServers) {
      if (l.control_host != sHost) continue;
      for (const auto& f : l.file_systems) {
        if (f.id == sId) return &f;
      }
    }
    return nullptr;
  }
  // The exports of a file system or checkpoint.
  std::vector<ExportView> ExportsOf(const std::string& sHost,
                                    const std::string& sId) const {
    std::vector<ExportView> v;
    for (const auto& e : vExports) {
      if (e.control_host == sHost && e.fs_id == sId) v.push_back(e);
    }
    return v;
  }
  // The checkpoints made from a checkpoint (its writable checkpoints).
  std::vector<CheckpointView> MadeFrom(const CheckpointView& k) const {
    std::vector<CheckpointView> v;
    for (const auto& x : vCheckpoints) {
      if (x.control_host == k.control_host && x.baseline_id == k.id) {
        v.push_back(x);
      }
    }
    return v;
  }
};

std::string Describe(const CheckpointView& k) {
  return std::string(k.writable ? "writable checkpoint " : "checkpoint ") +
         k.name + " (" + k.id + ")";
}

std::string Describe(const ExportView& e) {
  return "export " + e.path + " (mover " + e.mover_id + ")";
}

// One removal through the plug-in: an unmap of a writable checkpoint with
// its export, or a delete of a read-only checkpoint; and the record that
// exists for that call.
struct Unit {
  CheckpointView oCheckpoint;
  CheckpointView oBaseline;          // a writable checkpoint's
  std::vector<ExportView> vExports;  // a writable checkpoint's (at most one)
  std::string sArray;                // the array the record is bound to
  std::string sSourceDevice, sFsInfo, sSnapDevice;

  bool Unmap() const { return oCheckpoint.writable; }
  const std::string& Host() const { return oCheckpoint.control_host; }
  std::string What() const {
    if (!Unmap()) return Describe(oCheckpoint);
    std::string s;
    for (const ExportView& e : vExports) s += Describe(e) + " and ";
    return s + Describe(oCheckpoint) + " of " + Describe(oBaseline);
  }
  std::string Key() const {
    std::string s = Host() + "|" + oCheckpoint.id + "|" + oBaseline.id;
    for (const ExportView& e : vExports) s += "|" + e.mover_id + e.path;
    return s;
  }
};

struct Kept {
  std::string sHost;  // "" for a NAME that names nothing
  std::string sObject;
  std::string sWhy;
};

struct Plan {
  std::vector<Unit> vUnits;  // in the order they are removed
  std::vector<Kept> vKept;
  std::string Key() const {
    std::string s;
    for (const Unit& u : vUnits) s += u.Key() + "\n";
    for (const Kept& k : vKept) s += k.sHost + k.sObject + k.sWhy + "\n";
    return s;
  }
};

// What the listing shows.
struct Listing {
  std::vector<CheckpointView> vCheckpoints;  // no record names them
  std::vector<ExportView> vExports;
  std::vector<Kept> vHeld;  // no record names them, but an intent may own
};

Listing ListOrphans(const FilerView& v, const Claims& oClaims) {
  Listing o;
  for (const auto& k : v.vCheckpoints) {
    if (!oClaims.OfCheckpoint(k).empty()) continue;
    const std::string sIntent = oClaims.IntentOver(k.control_host, k.fs_id);
    if (sIntent.empty()) {
      o.vCheckpoints.push_back(k);
    } else {
      o.vHeld.push_back({k.control_host, Describe(k), sIntent});
    }
  }
  // Exports of production file systems are the file server's own business;
  // an export of a checkpoint that no snap device names is an orphan.
  for (const auto& e : v.vExports) {
    const CheckpointView* pOf = v.Checkpoint(e.control_host, e.fs_id);
    if (pOf == nullptr || !oClaims.OfExport(e).empty()) continue;
    const std::string sIntent = oClaims.IntentOver(e.control_host, pOf->fs_id);
    if (sIntent.empty()) {
      o.vExports.push_back(e);
    } else {
      o.vHeld.push_back({e.control_host, Describe(e), sIntent});
    }
  }
  return o;
}

// The first array of the catalog on that control host; "" when none.
std::string ArrayOn(Catalog& c, const std::string& sHost) {
  for (const ArrayRow& a : c.Arrays()) {
    if (a.sControlHost == sHost) return a.sName;
  }
  return "";
}

// Fills the texts of the record a removal uses: what a record holds that
// was prepared on the file system's export (or mount path) and snapped,
// and, for an unmap, mapped to that writable checkpoint. "" when they can
// be made, else why not.
std::string FormRecord(Catalog& c, const FilerView& v, Unit* pUnit) {
  const CheckpointView& k = pUnit->oCheckpoint;
  pUnit->sArray = ArrayOn(c, k.control_host);
  if (pUnit->sArray.empty()) {
    return "no array of the catalog has control host " + k.control_host +
           ", and the plug-in needs its login ('zksnap array add')";
  }
  const FileSystemDef* pFs = v.FileSystem(k.control_host, k.fs_id);
  if (pFs == nullptr) {
    return "its file system " + k.fs_id + " is not on the file server";
  }
  if (pFs->storage_extra.empty()) {
    return "its file system " + k.fs_id +
           " has no storage details, which the plug-in's records hold";
  }
  // The file system as an NFS record prepared on it holds it: its export
  // (its mount path when it has none) and the data mover of that export;
  // an unmap removes the writable checkpoint's export on its own mover.
  std::string sSource = pFs->mount_path;
  std::string sMover = pFs->mover_id;
  const std::vector<ExportView> vFsExports =
      v.ExportsOf(k.control_host, pFs->id);
  if (!vFsExports.empty()) {
    sSource = vFsExports.front().path;
    sMover = vFsExports.front().mover_id;
  }
  if (!pUnit->vExports.empty()) sMover = pUnit->vExports.front().mover_id;
  const std::vector<std::string> vFields = {
      pUnit->sArray,
      pFs->id,
      std::to_string(static_cast<int>(pFs->storage_type)),
      pFs->storage_extra,
      sMover,
      sSource};
  for (const std::string& s :
       {pUnit->sArray, pFs->id, pFs->storage_extra, sMover, sSource, k.name,
        k.id, pUnit->oBaseline.name, pUnit->oBaseline.id}) {
    if (s.find('|') != std::string::npos) {
      return "\"" + s +
             "\" holds the separator \"|\" of the plug-in's metadata";
    }
  }
  pUnit->sFsInfo.clear();
  for (const std::string& s : vFields) pUnit->sFsInfo += s + "|";
  std::string sError;
  if (!FormKeyValueText({{"type", "nfs"},
                         {"lunuuid", sSource},
                         {"targethostname", pUnit->sArray},
                         {"vendor", "celerra"}},
                        &pUnit->sSourceDevice, &sError)) {
    return "no record can name its file system: " + sError;
  }
  pUnit->sSnapDevice.clear();
  if (!pUnit->vExports.empty() &&
      !FormKeyValueText({{"type", "nfs"},
                         {"lunuuid", pUnit->vExports.front().path},
                         {"vendor", "celerra"},
                         {"targethostname", pUnit->sArray},
                         {"kemtype", "native_celerra"}},
                        &pUnit->sSnapDevice, &sError)) {
    return "no record can name its export: " + sError;
  }
  return "";
}

std::string CheckpointKey(const CheckpointView& k) {
  return k.control_host + "|" + k.id;
}
std::string ExportKey(const ExportView& e) {
  return e.control_host + "|" + e.mover_id + "|" + e.path;
}

// Decides what a removal takes and what it keeps, and why. Without NAMEs
// it takes what the listing calls orphans, and what only an intent holds
// (which it keeps, saying so).
Plan Judge(Catalog& c, const std::vector<std::string>& vNames) {
  const FilerView v = FilerView::Read();
  const Claims oClaims(c);
  Plan oPlan;
  std::set<std::string> oCheckpoints, oExports;  // chosen, by key
  const bool bNamed = !vNames.empty();
  if (bNamed) {
    std::set<std::string> oSeen;
    for (const std::string& sName : vNames) {
      if (!oSeen.insert(sName).second) continue;
      std::vector<const CheckpointView*> vK;
      std::vector<const ExportView*> vE;
      std::set<std::string> oHosts;
      for (const auto& k : v.vCheckpoints) {
        if (k.name == sName) vK.push_back(&k), oHosts.insert(k.control_host);
      }
      for (const auto& e : v.vExports) {
        if (e.path == sName && v.Checkpoint(e.control_host, e.fs_id)) {
          vE.push_back(&e), oHosts.insert(e.control_host);
        }
      }
      if (oHosts.size() > 1) {
        oPlan.vKept.push_back(
            {"", sName,
             "names objects on several control hosts (" +
                 Joined({oHosts.begin(), oHosts.end()}, ", ") +
                 "), which one NAME may not take: remove them without "
                 "NAMEs"});
        continue;
      }
      if (vK.empty() && vE.empty()) {
        std::string sWhy =
            "not found: no checkpoint of that name and no checkpoint export "
            "at that path on the file server";
        for (const auto& l : v.vServers) {
          for (const auto& f : l.file_systems) {
            if (f.name == sName || f.mount_path == sName) {
              sWhy = "not a checkpoint object: file system " + f.name + " (" +
                     f.id + ") of " + l.control_host;
            }
          }
        }
        for (const auto& e : v.vExports) {
          if (e.path == sName) {
            sWhy = "not a checkpoint object: " + Describe(e) +
                   " exports file system " + e.fs_id + " of " + e.control_host;
          }
        }
        oPlan.vKept.push_back({"", sName, sWhy});
        continue;
      }
      for (const CheckpointView* p : vK) oCheckpoints.insert(CheckpointKey(*p));
      for (const ExportView* p : vE) oExports.insert(ExportKey(*p));
    }
  } else {
    for (const auto& k : v.vCheckpoints) {
      if (oClaims.OfCheckpoint(k).empty())
        oCheckpoints.insert(CheckpointKey(k));
    }
    for (const auto& e : v.vExports) {
      if (v.Checkpoint(e.control_host, e.fs_id) &&
          oClaims.OfExport(e).empty()) {
        oExports.insert(ExportKey(e));
      }
    }
  }

  // Why a chosen checkpoint stays ("" when it goes); writable checkpoints
  // are judged first, since their baselines go only after them.
  std::map<std::string, std::string> mWhy;  // by checkpoint key
  std::set<std::string> oGoing;             // checkpoint keys removed
  auto JudgeCheckpoint = [&](const CheckpointView& k, Unit* pUnit) {
    std::string sWhy = oClaims.OfCheckpoint(k);
    if (sWhy.empty()) sWhy = oClaims.IntentOver(k.control_host, k.fs_id);
    if (!sWhy.empty()) return sWhy;
    const std::vector<ExportView> vOwn = v.ExportsOf(k.control_host, k.id);
    for (const ExportView& e : vOwn) {
      const std::string sNamed = oClaims.OfExport(e);
      if (!sNamed.empty()) return "its " + Describe(e) + ": " + sNamed;
    }
    if (!k.writable && !vOwn.empty()) {
      return "it is exported as " + Describe(vOwn.front()) +
             ", and the plug-in exports no read-only checkpoint and removes "
             "no such export: remove that export with the file server's own "
             "tools first";
    }
    if (vOwn.size() > 1 ||
        (vOwn.size() == 1 && vOwn.front().path != "/" + k.name)) {
      std::vector<std::string> vText;
      for (const ExportView& e : vOwn) vText.push_back(Describe(e));
      return "it is exported as " + Joined(vText, ", ") +
             ", while the plug-in's unmap removes one export, at /" + k.name +
             ": remove the others with the file server's own tools first";
    }
    for (const CheckpointView& x : v.MadeFrom(k)) {
      if (oGoing.count(CheckpointKey(x)) != 0) continue;
      auto it = mWhy.find(CheckpointKey(x));
      std::string sStays = Describe(x) + " is made from it and stays";
      if (it != mWhy.end()) {
        sStays += " (" + it->second + ")";
      } else {
        const std::string sNamed = oClaims.OfCheckpoint(x);
        sStays +=
            sNamed.empty() ? (bNamed ? ": name it too" : "") : ": " + sNamed;
      }
      return sStays;
    }
    pUnit->oCheckpoint = k;
    pUnit->vExports = vOwn;
    if (k.writable) {
      const CheckpointView* pBase = v.Checkpoint(k.control_host, k.baseline_id);
      if (pBase == nullptr) {
        return "its baseline checkpoint " + k.baseline_id +
               " is not on the file server";
      }
      pUnit->oBaseline = *pBase;
    }
    return FormRecord(c, v, pUnit);
  };
  for (const bool bWritable : {true, false}) {
    for (const auto& k : v.vCheckpoints) {
      if (k.writable != bWritable ||
          oCheckpoints.count(CheckpointKey(k)) == 0) {
        continue;
      }
      Unit oUnit;
      const std::string sWhy = JudgeCheckpoint(k, &oUnit);
      if (sWhy.empty()) {
        oPlan.vUnits.push_back(oUnit);
        oGoing.insert(CheckpointKey(k));
      } else {
        mWhy[CheckpointKey(k)] = sWhy;
        oPlan.vKept.push_back({k.control_host, Describe(k), sWhy});
      }
    }
  }
  // A chosen export goes with its writable checkpoint, or stays.
  for (const auto& e : v.vExports) {
    if (oExports.count(ExportKey(e)) == 0) continue;
    const CheckpointView* pOf = v.Checkpoint(e.control_host, e.fs_id);
    if (oGoing.count(CheckpointKey(*pOf)) != 0) continue;
    std::string sWhy;
    if (!pOf->writable) {
      sWhy = "it exports read-only " + Describe(*pOf) +
             ": the plug-in makes no such export and removes none; remove it "
             "with the file server's own tools";
    } else if (mWhy.count(CheckpointKey(*pOf)) != 0) {
      sWhy = "it goes only with " + Describe(*pOf) + ", which stays";
    } else {
      sWhy = oClaims.OfCheckpoint(*pOf);
      if (sWhy.empty()) sWhy = oClaims.IntentOver(e.control_host, pOf->fs_id);
      sWhy = sWhy.empty()
                 ? "the plug-in's unmap removes it only together with " +
                       Describe(*pOf) + ": name that to remove both"
                 : "the plug-in's unmap removes it only together with " +
                       Describe(*pOf) + ", and " + sWhy;
    }
    oPlan.vKept.push_back({e.control_host, Describe(e), sWhy});
  }
  return oPlan;
}

struct Removal {
  const Unit* pUnit = nullptr;
  bool bDone = false;
  std::string sWhy;  // why it failed
};

// Runs one unit's unmap or delete through the plug-in and checks on the
// file server that the objects are gone.
Removal Remove(Context& z, Catalog& c, const Unit& u, uint64_t nJobId,
               LeakCheck* pLeaks) {
  Removal o;
  o.pUnit = &u;
  ArrayDatabase oDatabase;
  MemOSUtil oOSUtil(nJobId);
  for (const ArrayRow& a : c.Arrays()) {
    oDatabase.Add(
        {a.sName, a.vAddresses,
         ArrayDatabase::FormArrayInfo(a.sArrayId, a.sVendor, a.sControlHost,
                                      a.sUser, a.sPassword, a.sEngine)});
  }
  for (const ConfigRow& r : c.Config()) {
    oOSUtil.SetConfig(r.sKey, r.sValue, r.sSection);
  }
  MemSnapInfo oRecord(&oDatabase);
  const CheckpointView& oSnapshot = u.Unmap() ? u.oBaseline : u.oCheckpoint;
  oRecord.sSourceDevice = u.sSourceDevice;
  oRecord.sBoundArray = u.sArray;
  oRecord.sSnapName = oSnapshot.name;
  oRecord.mMetaData[SM_MDT_FS_INFO] = u.sFsInfo;
  oRecord.mMetaData[SM_MDT_SNAP_UUID] =
      oSnapshot.name + "|" + oSnapshot.id + "|";
  if (u.Unmap()) {
    oRecord.mMetaData[SM_MDT_SNAP_MOUNT] =
        u.oCheckpoint.name + "|" + u.oCheckpoint.id;
    oRecord.sSnapDevice = u.sSnapDevice;
    oRecord.nStatus = ZKSO::MAP_SUCCESS;
  } else {
    oRecord.nStatus = ZKSO::SNAP_SUCCESS;
  }
  oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
  ZKSO::SnapInfo* aRecords[] = {&oRecord};
  SnapPlugin& oPlugin = z.Plugin();
  ZKSO::ResultCode eResult;
  std::vector<ZkLogLine> vLogged;
  {
    PluginErrorCapture oCapture;
    eResult = (u.Unmap() ? oPlugin.zkso_unmapSnaps : oPlugin.zkso_deleteSnaps)(
        aRecords, 1, &oOSUtil);
    vLogged = oCapture.Lines();
  }
  // What is on the file server now says whether it is gone.
  std::vector<CheckpointView> vCheckpoints;
  std::vector<ExportView> vExports;
  Check(zkfiler::ListCheckpoints(u.Host(), &vCheckpoints));
  Check(zkfiler::ListExports(u.Host(), &vExports));
  std::vector<std::string> vLeft;
  for (const auto& k : vCheckpoints) {
    if (k.id == u.oCheckpoint.id) vLeft.push_back(Describe(k));
  }
  for (const auto& e : vExports) {
    for (const ExportView& x : u.vExports) {
      if (e.path == x.path && e.mover_id == x.mover_id) {
        vLeft.push_back(Describe(e));
      }
    }
  }
  o.bDone = eResult == ZKSO::RESULT_SUCCESS && vLeft.empty();
  if (o.bDone) return o;
  std::vector<std::string> vWhy;
  auto Add = [&](const std::string& s) {
    const std::string sText = pLeaks->Screen(s);
    if (!sText.empty() &&
        std::find(vWhy.begin(), vWhy.end(), sText) == vWhy.end()) {
      vWhy.push_back(sText);
    }
  };
  if (!IsEmptyReason(oRecord.sJPRText)) Add(oRecord.sJPRText);
  RecordRow oRow;
  oRow.sName = "orphans";
  oRow.sSourceDevice = u.sSourceDevice;
  oRow.sSnapName = oSnapshot.name;
  for (const ErrorLine& e : AttachErrorLines(vLogged, {oRow})) Add(e.sText);
  for (const auto& l : oRecord.vJobLog) {
    if (l.nLevel >= 2) Add(l.sText);
  }
  if (eResult == ZKSO::RESULT_SUCCESS) {
    Add("the plug-in's " + std::string(u.Unmap() ? "unmap" : "delete") +
        " answered success, but " + Joined(vLeft, " and ") +
        " is still on the file server");
  }
  o.sWhy = Joined(vWhy, "; ");
  return o;
}

// True when the person at the terminal agrees; a usage error without a
// terminal (nothing has been changed).
bool Confirm(const Plan& oPlan) {
  std::FILE* pTty = std::fopen("/dev/tty", "r+");
  if (pTty == nullptr) {
    throw HostError(
        "no terminal to confirm the removal of " +
            std::to_string(oPlan.vUnits.size()) +
            " orphan(s): nothing was removed; give --yes to remove them "
            "without asking",
        kExitUsage);
  }
  Table t({"CONTROL HOST", "TO REMOVE", "BY"});
  for (const Unit& u : oPlan.vUnits) {
    t.AddRow({u.Host(), u.What(), u.Unmap() ? "unmap" : "delete"});
  }
  const std::string sText = t.Render() + "Remove these " +
                            std::to_string(oPlan.vUnits.size()) +
                            " from the file server? [y/N] ";
  std::fputs(sText.c_str(), pTty);
  std::fflush(pTty);
  char aLine[64] = {0};
  const bool bRead = std::fgets(aLine, sizeof(aLine), pTty) != nullptr;
  std::fclose(pTty);
  std::string s = bRead ? aLine : "";
  while (!s.empty() &&
         (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) {
    s.pop_back();
  }
  return s == "y" || s == "Y" || s == "yes" || s == "YES" || s == "Yes";
}

void BeginOrBusy(Catalog& c) {
  try {
    c.Begin(Catalog::Txn::kWrite);
  } catch (const HostError& e) {
    if (e.ExitCode() != kExitBusy) throw;
    throw HostError(
        "an operation is in progress (another zksnap holds the catalog): "
        "what it is making is not named by its record yet, so nothing can "
        "be judged now; nothing was removed: run 'zksnap orphans --remove' "
        "again when it has ended",
        kExitBusy);
  }
}

Json KeptJson(const std::vector<Kept>& v) {
  Json o = Json::Array();
  for (const Kept& k : v) {
    o.Push(Json::Object()
               .Set("control_host", k.sHost)
               .Set("object", k.sObject)
               .Set("reason", k.sWhy));
  }
  return o;
}

Table KeptTable(const std::vector<Kept>& v) {
  Table t({"CONTROL HOST", "OBJECT", "WHY IT STAYS"});
  for (const Kept& k : v) {
    t.AddRow({k.sHost.empty() ? "-" : k.sHost, k.sObject, k.sWhy});
  }
  return t;
}

int RemoveOrphans(Context& z, const OrphansArgs& a) {
  Catalog& c = z.OpenCatalog();
  z.Plugin();  // a plug-in that does not load is an error before anything
  z.UseFilerStore(false);
  BeginOrBusy(c);
  Plan oPlan = Judge(c, a.vNames);
  const bool bRefusedName = !a.vNames.empty() && !oPlan.vKept.empty();
  if (bRefusedName || oPlan.vUnits.empty()) {
    c.Rollback();
    if (z.Json()) {
      z.Out(Json::Object()
                .Set("removed", Json::Array())
                .Set("kept", KeptJson(oPlan.vKept))
                .Dump() +
            "\n");
    } else if (!oPlan.vKept.empty()) {
      z.Out("Kept\n" + KeptTable(oPlan.vKept).Render());
    }
    if (bRefusedName) {
      throw HostError(
          "nothing was removed: " + std::to_string(oPlan.vKept.size()) +
          " of the objects named cannot be removed (see above)");
    }
    if (!z.Json()) z.Out("nothing to remove\n");
    return kExitSuccess;
  }
  if (!a.bYes) {
    // Nobody waits on the catalog while the question is asked: the answer
    // holds only for the very same plan, judged again afterwards.
    c.Rollback();
    if (!Confirm(oPlan)) {
      throw HostError("not confirmed: nothing was removed");
    }
    BeginOrBusy(c);
    const Plan oAgain = Judge(c, a.vNames);
    if (oAgain.Key() != oPlan.Key()) {
      throw HostError(
          "the catalog or the file server changed while asking: nothing was "
          "removed; run 'zksnap orphans --remove' again");
    }
  }
  LeakCheck oLeaks;
  for (const ArrayRow& r : c.Arrays()) AddArrayTexts(r, &oLeaks);
  const uint64_t nJobId = c.NextJobId();
  std::vector<Removal> vDone;
  const Removal* pFailed = nullptr;
  for (const Unit& u : oPlan.vUnits) {
    vDone.push_back(Remove(z, c, u, nJobId, &oLeaks));
    if (!vDone.back().bDone) {
      pFailed = &vDone.back();
      break;
    }
  }
  c.Commit();  // the job id
  std::vector<const Unit*> vNotTried;
  for (size_t i = vDone.size(); i < oPlan.vUnits.size(); ++i) {
    vNotTried.push_back(&oPlan.vUnits[i]);
  }
  if (oLeaks.Withheld() > 0) {
    z.Err("zksnap: warning: the plug-in wrote an array password into " +
          std::to_string(oLeaks.Withheld()) +
          " of its texts; zksnap withheld them\n");
  }
  if (z.Json()) {
    Json oRemoved = Json::Array();
    for (const Removal& r : vDone) {
      if (!r.bDone) continue;
      oRemoved.Push(Json::Object()
                        .Set("control_host", r.pUnit->Host())
                        .Set("object", r.pUnit->What())
                        .Set("by", r.pUnit->Unmap() ? "unmap" : "delete"));
    }
    Json o = Json::Object();
    o.Set("job", Json::Int(static_cast<int64_t>(nJobId)))
        .Set("removed", oRemoved)
        .Set("kept", KeptJson(oPlan.vKept));
    if (pFailed != nullptr) {
      Json oNotTried = Json::Array();
      for (const Unit* p : vNotTried) {
        oNotTried.Push(Json::Object()
                           .Set("control_host", p->Host())
                           .Set("object", p->What()));
      }
      o.Set("failed", Json::Object()
                          .Set("control_host", pFailed->pUnit->Host())
                          .Set("object", pFailed->pUnit->What())
                          .Set("reason", pFailed->sWhy))
          .Set("not_tried", oNotTried);
    }
    z.Out(o.Dump() + "\n");
  } else {
    Table t({"CONTROL HOST", "REMOVED", "BY"});
    for (const Removal& r : vDone) {
      if (!r.bDone) continue;
      t.AddRow({r.pUnit->Host(), r.pUnit->What(),
                std::string(r.pUnit->Unmap() ? "unmap" : "delete") + " (job " +
                    std::to_string(nJobId) + ")"});
    }
    std::string sOut = "Removed\n" + t.Render();
    if (pFailed != nullptr) {
      sOut += "\nNot removed: the file server refused\n" +
              EscapeControls(pFailed->pUnit->What() + " on " +
                             pFailed->pUnit->Host() + ": " + pFailed->sWhy) +
              "\n";
      if (!vNotTried.empty()) {
        Table n({"CONTROL HOST", "NOT TRIED"});
        for (const Unit* p : vNotTried) n.AddRow({p->Host(), p->What()});
        sOut += "\nNot tried after that\n" + n.Render();
      }
    }
    if (!oPlan.vKept.empty()) {
      sOut += "\nKept\n" + KeptTable(oPlan.vKept).Render();
    }
    z.Out(sOut);
  }
  if (pFailed != nullptr) {
    z.Err("zksnap: the file server refused the removal of " +
          EscapeControls(pFailed->pUnit->What() + " on " +
                         pFailed->pUnit->Host()) +
          "; what is listed as removed is gone, nothing else was touched\n");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

int CmdOrphans(Context& z, const OrphansArgs& a) {
  if (a.bRemove) return RemoveOrphans(z, a);
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
  const Claims oClaims(c);
  const FilerView v = FilerView::Read();
  c.Rollback();
  const Listing o = ListOrphans(v, oClaims);
  if (z.Json()) {
    Json oC = Json::Array();
    for (const auto& k : o.vCheckpoints) oC.Push(CheckpointJson(k));
    Json oE = Json::Array();
    for (const auto& e : o.vExports) oE.Push(ExportJson(e));
    Json oJson = Json::Object();
    oJson.Set("operation_in_progress", Json::Bool(bInProgress));
    if (bInProgress) {
      oJson.Set("checkpoints", Json::Array())
          .Set("exports", Json::Array())
          .Set("too_new_to_judge",
               Json::Object().Set("checkpoints", oC).Set("exports", oE));
    } else {
      oJson.Set("checkpoints", oC).Set("exports", oE);
    }
    oJson.Set("held_by_intent", KeptJson(o.vHeld));
    z.Out(oJson.Dump() + "\n");
    return bInProgress ? kExitBusy : kExitSuccess;
  }
  if (bInProgress) {
    z.Out(
        "an operation is in progress (another zksnap holds the catalog): a "
        "checkpoint it is making is not named by its record yet, so no "
        "checkpoint can be called an orphan now; run 'zksnap orphans' again "
        "when it has ended\n");
    if (!o.vCheckpoints.empty()) {
      z.Out("\nCheckpoints too new to judge (no record names them yet)\n" +
            CheckpointTable(o.vCheckpoints).Render());
    }
    if (!o.vExports.empty()) {
      z.Out("\nCheckpoint exports too new to judge\n" +
            ExportTable(o.vExports).Render());
    }
    return kExitBusy;
  }
  std::string sOut;
  if (!o.vCheckpoints.empty()) {
    sOut += "Checkpoints no record names\n" +
            CheckpointTable(o.vCheckpoints).Render();
  }
  if (!o.vExports.empty()) {
    sOut += std::string(sOut.empty() ? "" : "\n") +
            "Checkpoint exports no record names\n" +
            ExportTable(o.vExports).Render();
  }
  if (!o.vHeld.empty()) {
    sOut += std::string(sOut.empty() ? "" : "\n") +
            "Not orphans while a record's intent may own them\n" +
            KeptTable(o.vHeld).Render();
  }
  if (o.vCheckpoints.empty() && o.vExports.empty()) {
    sOut = std::string(o.vHeld.empty()
                           ? "no orphans: every checkpoint and checkpoint "
                             "export on the file server is named by a record\n"
                           : "no orphans: every checkpoint and checkpoint "
                             "export on the file server is named by a record "
                             "or may be owned by one's intent\n\n") +
           sOut;
  }
  z.Out(sOut);
  return kExitSuccess;
}

}  // namespace zkref
