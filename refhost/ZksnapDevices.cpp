// SPDX-License-Identifier: Apache-2.0
// zksnap device, status and log commands: the host records of the catalog.
#include <cctype>
#include <ctime>

#include "refhost/KeyValueText.h"
#include "refhost/RecordHolding.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"
#include "refhost/ZksnapOutput.h"

namespace zkref {

namespace {

const char* const kDeviceTypes[] = {"nfs", "native_celerra", "unc", "fc",
                                    "iscsi"};

std::string SourceIdentifier(const DeviceAddArgs& a) {
  const int nKinds = (a.sNfsExport.empty() ? 0 : 1) +
                     (a.sNasPath.empty() ? 0 : 1) +
                     (a.sIdentifier.empty() ? 0 : 1);
  if (nKinds != 1) {
    throw HostError(
        "give exactly one of --nfs EXPORT, --nas PATH, "
        "--identifier TEXT",
        kExitUsage);
  }
  std::string sError;
  if (!a.sIdentifier.empty()) {
    KeyValuePairs vPairs;
    if (!ParseKeyValueText(a.sIdentifier, &vPairs, &sError)) {
      throw HostError("malformed device identifier \"" + a.sIdentifier +
                      "\": " + sError);
    }
    if (ValueOf(vPairs, "vendor").empty() || ValueOf(vPairs, "type").empty()) {
      throw HostError("malformed device identifier \"" + a.sIdentifier +
                      "\": it needs a type and a vendor");
    }
    bool bKnown = false;
    for (const char* psz : kDeviceTypes)
      bKnown |= ValueOf(vPairs, "type") == psz;
    if (!bKnown) {
      throw HostError("malformed device identifier \"" + a.sIdentifier +
                      "\": unknown type \"" + ValueOf(vPairs, "type") + "\"");
    }
    return a.sIdentifier;
  }
  if (a.sFiler.empty()) {
    throw HostError(
        "--nfs and --nas need --filer HOST (the file server's name)",
        kExitUsage);
  }
  const std::string& sPath = a.sNfsExport.empty() ? a.sNasPath : a.sNfsExport;
  if (sPath.front() != '/') {
    throw HostError("path \"" + sPath + "\" does not start with /", kExitUsage);
  }
  const bool bVMware = a.bVMware || !a.sEsx.empty();
  // The plug-in exports a VMware datastore's snapshot to the ESX host that
  // mounts it; without one its map can only fail.
  if (bVMware && a.sEsx.empty() && a.sHostIdentifier.empty()) {
    throw HostError(
        "--vmware needs --esx HOST, the ESX host that mounts the snapshot "
        "(or --host-identifier TEXT)",
        kExitUsage);
  }
  KeyValuePairs vPairs = {{"kemtype", bVMware ? "vmware" : ""}};
  if (!a.sNfsExport.empty()) {
    vPairs.push_back({"type", "nfs"});
    vPairs.push_back({"lunuuid", a.sNfsExport});
    vPairs.push_back({"targethostname", a.sFiler});
  } else {
    vPairs.push_back({"type", "native_celerra"});
    vPairs.push_back({"targethostname", a.sFiler});
    vPairs.push_back({"path", a.sNasPath});
  }
  vPairs.push_back({"vendor", "celerra"});
  std::string sText;
  if (!FormKeyValueText(vPairs, &sText, &sError)) {
    throw HostError("cannot form the device identifier: " + sError, kExitUsage);
  }
  return sText;
}

std::string HostIdentifier(const DeviceAddArgs& a) {
  std::string sError;
  if (!a.sHostIdentifier.empty()) {
    if (!a.sEsx.empty() || !a.sVCenter.empty() || !a.vVMKernel.empty()) {
      throw HostError(
          "--host-identifier replaces --esx, --vcenter and "
          "--vmkernel; give one or the other",
          kExitUsage);
    }
    KeyValuePairs vPairs;
    if (!ParseKeyValueText(a.sHostIdentifier, &vPairs, &sError)) {
      throw HostError("malformed host identifier \"" +
                      MaskHostIdentifier(a.sHostIdentifier) + "\": " + sError);
    }
    return a.sHostIdentifier;
  }
  if (a.sEsx.empty() && a.sVCenter.empty() && a.vVMKernel.empty()) return "";
  std::string sKernel;
  for (const std::string& s : a.vVMKernel) {
    if (s.empty() || s.find('|') != std::string::npos) {
      throw HostError("VMkernel address \"" + s + "\" is empty or holds |",
                      kExitUsage);
    }
    sKernel += s + "|";
  }
  std::string sText;
  if (!FormKeyValueText(
          {{"vcname", a.sVCenter}, {"esxname", a.sEsx}, {"vmkernel", sKernel}},
          &sText, &sError)) {
    throw HostError("cannot form the host identifier: " + sError, kExitUsage);
  }
  return sText;
}

// Field of the device identifier, for display.
std::string DeviceField(const std::string& sIdentifier,
                        const std::string& sKey) {
  KeyValuePairs vPairs;
  std::string sError;
  if (!ParseKeyValueText(sIdentifier, &vPairs, &sError)) return "";
  return ValueOf(vPairs, sKey);
}

std::string DeviceWhere(const std::string& sIdentifier) {
  std::string s = DeviceField(sIdentifier, "lunuuid");
  if (s.empty()) s = DeviceField(sIdentifier, "path");
  return s;
}

// "name (id)" of the checkpoint the record holds now.
std::string CheckpointOf(const RecordRow& r) {
  const Holding h = HoldingOf(r);
  if (!h.bCheckpoint) return "";
  return h.sCheckpointName + " (" + h.sCheckpointId + ")";
}

Json RecordJson(const RecordRow& r) {
  Json oMeta = Json::Object();
  for (const auto& m : r.mMetaData) oMeta.Set(MetaDataName(m.first), m.second);
  Json o = Json::Object();
  o.Set("name", r.sName)
      .Set("snap_group", r.sGroup)
      .Set("status", StatusName(r.nStatus))
      .Set("status_code", Json::Int(r.nStatus))
      .Set("snap_name", r.sSnapName)
      .Set("checkpoint", CheckpointOf(r))
      .Set("source_device", r.sSourceDevice)
      .Set("snap_device", HeldSnapDevice(r))
      .Set("host_identifier", MaskHostIdentifier(r.sHostIdentifier))
      .Set("array", r.sBoundArray)
      .Set("reason_id", Json::Int(r.nJPRId))
      .Set("reason", r.sJPRText)
      .Set("mount_source", r.oMountSource ? Json::Int(*r.oMountSource) : Json())
      .Set("metadata", oMeta);
  return o;
}

}  // namespace

void CheckName(const std::string& sWhat, const std::string& sName) {
  // Checkpoint names GROUP_RECORD_TIME must stay within 240 characters
  // (prepare checks the escaped snap name again).
  bool bOk = !sName.empty() && sName.size() <= 100 && sName[0] != '-';
  for (char c : sName) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' ||
          c == '-')) {
      bOk = false;
    }
  }
  if (!bOk) {
    throw HostError(sWhat + " \"" + sName +
                        "\" must be 1 to 100 letters, digits, '.', '_' or "
                        "'-', not starting with '-'",
                    kExitUsage);
  }
}

std::vector<RecordRow> SelectRecords(Catalog& c, const Selection& s) {
  const int nWays = (s.vRecords.empty() ? 0 : 1) +
                    (s.sSnapName.empty() ? 0 : 1) + (s.bAll ? 1 : 0);
  if (nWays != 1) {
    throw HostError("name the records: RECORD..., --snap-name GROUP or --all",
                    kExitUsage);
  }
  std::vector<RecordRow> v;
  if (!s.vRecords.empty()) {
    for (const std::string& sName : s.vRecords) {
      std::optional<RecordRow> o = c.FindRecord(sName);
      if (!o) throw HostError("no record named " + sName);
      for (const RecordRow& r : v) {
        if (r.sName == sName) {
          throw HostError("record " + sName + " named twice", kExitUsage);
        }
      }
      v.push_back(*o);
    }
    return v;
  }
  for (RecordRow& r : c.Records()) {
    if (s.bAll || r.sGroup == s.sSnapName) v.push_back(std::move(r));
  }
  if (v.empty()) {
    throw HostError(s.bAll ? "the catalog holds no records"
                           : "no record in snap group " + s.sSnapName);
  }
  return v;
}

Json StatusJson(const std::vector<RecordRow>& vRows, const Notes* pNotes) {
  Json oList = Json::Array();
  for (const RecordRow& r : vRows) {
    Json o = RecordJson(r);
    if (pNotes != nullptr) {
      auto it = pNotes->find(r.sName);
      if (it != pNotes->end()) {
        o.Set("not_reached", Json::Object()
                                 .Set("stopped_at", it->second.sStoppedAt)
                                 .Set("text", it->second.sText));
      }
    }
    oList.Push(o);
  }
  return oList;
}

void PrintStatus(Context& z, const std::vector<RecordRow>& vRows,
                 const Notes* pNotes) {
  if (z.Json()) {
    z.Out(StatusJson(vRows, pNotes).Dump() + "\n");
    return;
  }
  Table t(
      {"RECORD", "STATUS", "SNAP NAME", "CHECKPOINT", "SNAP DEVICE", "REASON"});
  for (const RecordRow& r : vRows) {
    std::string sReason = r.sJPRText;
    if (r.nJPRId != 0) {
      sReason = std::to_string(r.nJPRId) + ": " +
                (sReason.empty() ? "(no text; see 'zksnap log')" : sReason);
    }
    if (pNotes != nullptr && pNotes->count(r.sName) != 0) {
      sReason = pNotes->at(r.sName).sText;
    }
    t.AddRow({r.sName, StatusName(r.nStatus), r.sSnapName, CheckpointOf(r),
              HeldCloneExport(r), sReason});
  }
  z.Out(t.Render());
}

namespace {

// Texts of a record are shown and handed to the plug-in as they are: UTF-8
// without control characters.
void CheckDeviceText(const std::string& sOption, const std::string& sText) {
  bool bControl = false;
  for (unsigned char c : sText) bControl |= c < 0x20 || c == 0x7f;
  if (bControl || !IsUtf8(sText)) {
    throw HostError(sOption + " holds " +
                        (bControl ? "a control character"
                                  : "bytes that are not UTF-8 text") +
                        "; give it as UTF-8 text",
                    kExitUsage);
  }
}

}  // namespace

int CmdDeviceAdd(Context& z, const DeviceAddArgs& a) {
  CheckName("record name", a.sName);
  CheckName("snap name", a.sSnapName);
  for (const auto& o : std::vector<std::pair<const char*, std::string>>{
           {"--nfs", a.sNfsExport},
           {"--nas", a.sNasPath},
           {"--identifier", a.sIdentifier},
           {"--filer", a.sFiler},
           {"--esx", a.sEsx},
           {"--vcenter", a.sVCenter},
           {"--host-identifier", a.sHostIdentifier}}) {
    CheckDeviceText(o.first, o.second);
  }
  for (const std::string& s : a.vVMKernel) CheckDeviceText("--vmkernel", s);
  RecordRow r;
  r.sName = a.sName;
  r.sGroup = a.sSnapName;
  r.sSnapName = a.sSnapName + "_" + a.sName;
  r.sSourceDevice = SourceIdentifier(a);
  r.sHostIdentifier = HostIdentifier(a);
  r.nStatus = ZKSO::SNAP_STATUS_UNKNOWN;
  r.oMountSource = a.nMountSource;
  Catalog& c = z.OpenCatalog();
  c.Begin(Catalog::Txn::kWrite);
  c.AddRecord(r);
  c.Commit();
  z.Out("record " + r.sName + " added: " + r.sSourceDevice + "\n");
  return kExitSuccess;
}

int CmdDeviceList(Context& z) {
  Catalog& c = z.OpenCatalog(false, true);
  c.Begin(Catalog::Txn::kRead);
  const std::vector<RecordRow> v = c.Records();
  c.Rollback();
  if (z.Json()) {
    Json oList = Json::Array();
    for (const RecordRow& r : v) oList.Push(RecordJson(r));
    z.Out(oList.Dump() + "\n");
    return kExitSuccess;
  }
  Table t(
      {"RECORD", "SNAP GROUP", "TYPE", "FILER", "PATH", "VMWARE", "STATUS"});
  for (const RecordRow& r : v) {
    t.AddRow(
        {r.sName, r.sGroup, DeviceField(r.sSourceDevice, "type"),
         DeviceField(r.sSourceDevice, "targethostname"),
         DeviceWhere(r.sSourceDevice),
         DeviceField(r.sSourceDevice, "kemtype") == "vmware" ? "yes" : "no",
         StatusName(r.nStatus)});
  }
  z.Out(t.Empty() ? "no records (add one with 'zksnap device add')\n"
                  : t.Render());
  return kExitSuccess;
}

int CmdDeviceShow(Context& z, const std::string& sName) {
  Catalog& c = z.OpenCatalog(false, true);
  c.Begin(Catalog::Txn::kRead);
  std::optional<RecordRow> o = c.FindRecord(sName);
  c.Rollback();
  if (!o) throw HostError("no record named " + sName);
  if (z.Json()) {
    z.Out(RecordJson(*o).Dump() + "\n");
    return kExitSuccess;
  }
  Table t({"FIELD", "VALUE"});
  t.AddRow({"record", o->sName});
  t.AddRow({"snap group", o->sGroup});
  t.AddRow({"status", StatusName(o->nStatus)});
  t.AddRow({"snap name", o->sSnapName});
  t.AddRow({"checkpoint", CheckpointOf(*o)});
  t.AddRow({"source device", o->sSourceDevice});
  t.AddRow({"snap device", HeldSnapDevice(*o)});
  t.AddRow({"host identifier", MaskHostIdentifier(o->sHostIdentifier)});
  t.AddRow({"array", o->sBoundArray});
  t.AddRow({"mount source",
            o->oMountSource ? std::to_string(*o->oMountSource) : ""});
  t.AddRow({"reason", o->nJPRId == 0 && o->sJPRText.empty()
                          ? ""
                          : std::to_string(o->nJPRId) + ": " + o->sJPRText});
  for (const auto& m : o->mMetaData) {
    t.AddRow({"metadata " + MetaDataName(m.first), m.second});
  }
  z.Out(t.Render());
  return kExitSuccess;
}

int CmdDeviceRemove(Context& z, const std::string& sName, bool bForce) {
  Catalog& c = z.OpenCatalog();
  c.Begin(Catalog::Txn::kWrite);
  std::optional<RecordRow> o = c.FindRecord(sName);
  if (!o) throw HostError("no record named " + sName);
  const Holding h = HoldingOf(*o);
  if (!h.Empty() && !bForce) {
    throw HostError("record " + sName + " still holds " + h.Describe() +
                    "; remove it first (" + RemoveCommands(c, *o) +
                    ") or use --force");
  }
  c.RemoveRecord(sName);
  c.Commit();
  z.Out("record " + sName + " removed\n");
  return kExitSuccess;
}

int CmdStatus(Context& z, const Selection& s) {
  Catalog& c = z.OpenCatalog(false, true);
  c.Begin(Catalog::Txn::kRead);
  std::vector<RecordRow> v;
  if (s.vRecords.empty() && s.sSnapName.empty()) {
    v = c.Records();
  } else {
    v = SelectRecords(c, s);
  }
  c.Rollback();
  if (v.empty() && !z.Json()) {
    z.Out("no records (add one with 'zksnap device add')\n");
    return kExitSuccess;
  }
  PrintStatus(z, v);
  return kExitSuccess;
}

int CmdLog(Context& z, const std::string& sRecord, uint64_t nJobId) {
  Catalog& c = z.OpenCatalog(false, true);
  c.Begin(Catalog::Txn::kRead);
  if (!sRecord.empty() && !c.FindRecord(sRecord)) {
    throw HostError("no record named " + sRecord);
  }
  std::vector<JobLogRow> v = c.JobLog(sRecord);
  c.Rollback();
  if (nJobId != 0) {
    std::vector<JobLogRow> vJob;
    for (JobLogRow& r : v) {
      if (r.nJobId == nJobId) vJob.push_back(std::move(r));
    }
    v.swap(vJob);
  }
  if (z.Json()) {
    Json oList = Json::Array();
    for (const JobLogRow& r : v) {
      Json o = Json::Object();
      o.Set("seq", Json::Int(r.nSeq))
          .Set("job", Json::Int(static_cast<int64_t>(r.nJobId)))
          .Set("time", Json::Int(r.nTime))
          .Set("record", r.sRecord)
          .Set("operation", r.sOperation)
          .Set("level", Json::Int(r.nLevel))
          .Set("tag", r.sTag)
          .Set("text", r.sText);
      oList.Push(o);
    }
    z.Out(oList.Dump() + "\n");
    return kExitSuccess;
  }
  static const char* const kLevels[] = {"detail", "info", "error"};
  Table t({"JOB", "RECORD", "OPERATION", "LEVEL", "TAG", "TEXT"});
  for (const JobLogRow& r : v) {
    t.AddRow({std::to_string(r.nJobId), r.sRecord, r.sOperation,
              r.nLevel >= 0 && r.nLevel <= 2 ? kLevels[r.nLevel]
                                             : std::to_string(r.nLevel),
              r.sTag, r.sText});
  }
  z.Out(t.Empty() ? "no job log lines\n" : t.Render());
  return kExitSuccess;
}

}  // namespace zkref
