// SPDX-License-Identifier: Apache-2.0
// zksnap operation commands: run one plug-in operation over chosen records
// in one catalog transaction, and the support check.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <set>
#include <utility>

#include "filer/FilerSim.h"
#include "refhost/CatalogHost.h"
#include "refhost/KeyValueText.h"
#include "refhost/PluginErrors.h"
#include "refhost/RecordHolding.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"
#include "refhost/ZksnapOutput.h"

namespace zkref {

int ExitForResult(int nResult) {
  switch (nResult) {
    case ZKSO::RESULT_SUCCESS:
      return kExitSuccess;
    case ZKSO::RESULT_PARTIAL_SUCCESS:
      return kExitPartial;
    default:
      return kExitFailure;
  }
}

namespace {

// The snap name a record asks for: GROUP_RECORD, with "-" written "--" and
// "_" written "-u" in both names, so that the one bare "_" separates them
// and no two records ever ask for the same name (group a_b with record c,
// and group a with record b_c, would otherwise both ask for a_b_c). Names
// without "-" and "_" keep the plain GROUP_RECORD form.
std::string SnapNameFor(const std::string& sGroup, const std::string& sRecord) {
  auto Escape = [](const std::string& s) {
    std::string sOut;
    for (char c : s) {
      if (c == '-') {
        sOut += "--";
      } else if (c == '_') {
        sOut += "-u";
      } else {
        sOut += c;
      }
    }
    return sOut;
  };
  return Escape(sGroup) + "_" + Escape(sRecord);
}

// Refuses an operation that would make the catalog lose track of what a
// record holds on the file server: a new preparation (a failed one leaves
// the record marked as never snapped, and its checkpoint can then no longer
// be deleted), an unpreparation (delete needs the file system facts it
// drops), and a delete of a record whose preparation failed (the plug-in
// marks it deleted without a command).
void CheckKeepsTrack(Catalog& c, const std::string& sOperation,
                     const RecordRow& r) {
  const Holding h = HoldingOf(r);
  if (h.Empty()) return;
  const std::string sHolds =
      "record " + r.sName + " still holds " + h.Describe() + "; ";
  const std::string sRemove = RemoveCommands(c, r);
  if (sOperation == "prepare") {
    throw HostError(sHolds +
                    "a new preparation that fails would lose track "
                    "of it: remove it first (" +
                    sRemove + "), or use --force");
  }
  if (sOperation == "unprepare") {
    throw HostError(sHolds +
                    "after unprepare it could no longer be deleted: "
                    "remove it first (" +
                    sRemove + "), or use --force");
  }
  if (sOperation == "delete" && r.nStatus == ZKSO::READY_FOR_SNAP_FAILED &&
      h.bCheckpoint) {
    throw HostError(sHolds +
                    "its last preparation failed, so the plug-in would mark it "
                    "deleted without deleting anything: prepare it again "
                    "('zksnap prepare --force " +
                    r.sName + "') and then delete it, or use --force");
  }
}

// A snap of records that already hold the checkpoint their preparation
// named takes no new snapshot: the plug-in adopts the checkpoint of that
// name, as a retry after a failed or interrupted snap must. A new point in
// time needs a new preparation. Refused when every record of the call
// holds it; a call with a record still without its checkpoint is a retry.
void CheckNewPointInTime(const std::vector<RecordRow>& v) {
  std::string sRecords, sCheckpoints;
  for (const RecordRow& r : v) {
    const Holding h = HoldingOf(r);
    if (!h.bCheckpoint || r.sSnapName.empty() ||
        h.sCheckpointName != r.sSnapName) {
      // A record still waiting for its checkpoint: a retry, in which the
      // others adopt theirs again.
      return;
    }
    sRecords += (sRecords.empty() ? "" : " ") + r.sName;
    const std::string sCheckpoint =
        h.sCheckpointName + " (" + h.sCheckpointId + ")";
    if (sCheckpoints.find(sCheckpoint) == std::string::npos) {
      sCheckpoints += (sCheckpoints.empty() ? "" : ", ") + sCheckpoint;
    }
  }
  if (sRecords.empty()) return;
  throw HostError("record(s) " + sRecords +
                  " already hold the checkpoint their preparation named (" +
                  sCheckpoints +
                  "): a snap would take no new snapshot; a new point in time "
                  "needs 'zksnap prepare' first, or use --force to snap "
                  "anyway (the records keep that checkpoint)");
}

// What a delete or an unmap removes that records outside the call hold too.
// The records of one snapshot on one file system share its checkpoint (same
// control host, checkpoint name and id) and its writable checkpoint with the
// export (same control host, name and id); the plug-in removes them with
// the first record of the call that names them.
struct Shared {
  bool bMount = false;  // the writable checkpoint and its export
  std::string sHost, sName, sId;
  std::vector<std::string> vChosen;   // records of the call naming it
  std::vector<std::string> vLeftOut;  // records outside it that hold it
};

std::string Joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : " ") + x;
  return s;
}

std::vector<Shared> SharedWithLeftOut(Catalog& c, const std::string& sOp,
                                      const std::vector<RecordRow>& v) {
  std::vector<Shared> vShared;
  if (sOp != "delete" && sOp != "unmap") return vShared;
  const bool bMount = sOp == "unmap";
  std::set<std::string> oChosen;
  for (const RecordRow& r : v) oChosen.insert(r.sName);
  // What a record holds that the operation removes: (name, id), or empty.
  auto Removed =
      [&](const RecordRow& r) -> std::pair<std::string, std::string> {
    const Holding h = HoldingOf(r);
    if (bMount) {
      // A writable checkpoint the map found (the record names a baseline)
      // is not the map's, and unmap leaves it.
      if (!h.bMount || !h.sBaselineId.empty()) return {};
      return {h.sMountName, h.sMountId};
    }
    if (!h.bCheckpoint) return {};
    return {h.sCheckpointName, h.sCheckpointId};
  };
  const std::vector<RecordRow> vAll = c.Records();
  for (const RecordRow& r : v) {
    const auto oKey = Removed(r);
    if (oKey.first.empty() && oKey.second.empty()) continue;
    const std::string sHost = ControlHostOf(c, r);
    Shared* p = nullptr;
    for (Shared& o : vShared) {
      if (o.sHost == sHost && o.sName == oKey.first && o.sId == oKey.second) {
        p = &o;
      }
    }
    if (p != nullptr) {
      p->vChosen.push_back(r.sName);
      continue;
    }
    Shared o;
    o.bMount = bMount;
    o.sHost = sHost;
    o.sName = oKey.first;
    o.sId = oKey.second;
    o.vChosen.push_back(r.sName);
    for (const RecordRow& x : vAll) {
      if (oChosen.count(x.sName) != 0) continue;
      const Holding hx = HoldingOf(x);
      const bool bHolds = bMount ? hx.bMount : hx.bCheckpoint;
      const std::string sName = bMount ? hx.sMountName : hx.sCheckpointName;
      const std::string sId = bMount ? hx.sMountId : hx.sCheckpointId;
      if (bHolds && sName == o.sName && sId == o.sId &&
          ControlHostOf(c, x) == sHost) {
        o.vLeftOut.push_back(x.sName);
      }
    }
    vShared.push_back(std::move(o));
  }
  std::vector<Shared> vLeft;
  for (Shared& o : vShared) {
    if (!o.vLeftOut.empty()) vLeft.push_back(std::move(o));
  }
  return vLeft;
}

std::string WhatOf(const Shared& o) {
  return std::string(o.bMount ? "writable checkpoint " : "checkpoint ") +
         o.sName + " (" + o.sId + ")" + (o.bMount ? " and its export" : "");
}

// The refusal of a delete or an unmap that would take away what records
// outside it hold, naming them and the command that takes them together.
void CheckSharedWithLeftOut(const std::string& sOp,
                            const std::vector<Shared>& vShared) {
  if (vShared.empty()) return;
  std::string sText;
  for (const Shared& o : vShared) {
    std::vector<std::string> vTogether = o.vChosen;
    vTogether.insert(vTogether.end(), o.vLeftOut.begin(), o.vLeftOut.end());
    std::sort(vTogether.begin(), vTogether.end());
    sText += (sText.empty() ? "" : "; ") + std::string("record") +
             (o.vChosen.size() > 1 ? "s " : " ") + Joined(o.vChosen) +
             " share" + (o.vChosen.size() > 1 ? " " : "s ") + WhatOf(o) +
             " with " + Joined(o.vLeftOut) + ", which the " + sOp +
             " leaves out: it would take it from them too; " + sOp +
             " them together ('zksnap " + sOp + " " + Joined(vTogether) + "')";
  }
  throw HostError(sText +
                  ", or use --force (the records left out are then "
                  "marked with what they still hold)");
}

// After a forced delete or unmap: the records left out are marked with what
// now holds on the file server, each with a job log line saying why.
struct LeftOutMark {
  RecordRow oRow;
  std::string sText;
};

std::vector<LeftOutMark> MarkLeftOut(Catalog& c, const std::string& sOp,
                                     const std::vector<Shared>& vShared,
                                     uint64_t nJobId) {
  std::vector<LeftOutMark> vMarks;
  for (const Shared& o : vShared) {
    std::vector<zkfiler::CheckpointView> vCheckpoints;
    const zkfiler::Status oStatus =
        zkfiler::ListCheckpoints(o.sHost, &vCheckpoints);
    if (!oStatus.ok()) throw HostError(oStatus.message());
    bool bStill = false;
    for (const auto& k : vCheckpoints) {
      bStill |= k.id == o.sId && (o.sName.empty() || k.name == o.sName);
    }
    if (bStill) continue;  // the call did not remove it
    for (const std::string& sRecord : o.vLeftOut) {
      std::optional<RecordRow> oRow = c.FindRecord(sRecord);
      if (!oRow) continue;
      RecordRow& r = *oRow;
      std::string sText = WhatOf(o) + " went with " + Joined(o.vChosen) +
                          " in job " + std::to_string(nJobId) + " ('zksnap " +
                          sOp + " --force'), which left this record out: ";
      if (o.bMount) {
        r.mMetaData.erase(SM_MDT_SNAP_MOUNT);
        r.sSnapDevice.clear();
        r.nStatus = ZKSO::UNMAP_SUCCESS;
        sText += "it is no longer mapped (UNMAP_SUCCESS)";
      } else {
        r.nStatus = ZKSO::SNAP_NOT_FOUND;
        sText += "it no longer holds the checkpoint (SNAP_NOT_FOUND)";
      }
      r.nJPRId = 0;
      r.sJPRText.clear();
      c.UpdateRecord(r);
      vMarks.push_back({r, sText});
    }
  }
  return vMarks;
}

// Prepare, snap, map and revert stop at the first record that fails; the
// records it did not get to keep what the operation wrote (a failure status, or
// the status they had) without a reason of their own. zksnap names the record
// where the call stopped and its reason for each of them; a record of the
// same file system failed with it rather than never being reached.
Notes NotReachedRecords(const std::string& sOp, ZKSO::ResultCode eResult,
                        const std::vector<RecordRow>& vWritten) {
  Notes mNotes;
  int nSuccess;
  if (sOp == "prepare") {
    nSuccess = ZKSO::READY_FOR_SNAP;
  } else if (sOp == "snap") {
    nSuccess = ZKSO::SNAP_SUCCESS;
  } else if (sOp == "map") {
    nSuccess = ZKSO::MAP_SUCCESS;
  } else if (sOp == "revert") {
    nSuccess = ZKSO::REVERT_SUCCESS;
  } else {
    return mNotes;
  }
  if (eResult == ZKSO::RESULT_SUCCESS) return mNotes;
  auto HasReason = [](const RecordRow& r) {
    return r.nJPRId != 0 || !r.sJPRText.empty();
  };
  size_t nStop = 0;
  while (nStop < vWritten.size() &&
         (!HasReason(vWritten[nStop]) || vWritten[nStop].nStatus == nSuccess)) {
    ++nStop;
  }
  // A failed preparation sets no reason: the call stopped at the first
  // record with a failure status.
  if (nStop == vWritten.size()) {
    nStop = 0;
    while (nStop < vWritten.size() &&
           !IsFailureStatus(vWritten[nStop].nStatus)) {
      ++nStop;
    }
  }
  if (nStop == vWritten.size()) return mNotes;
  const RecordRow& oStop = vWritten[nStop];
  const std::string sReason =
      HasReason(oStop)
          ? std::to_string(oStop.nJPRId) + ": " +
                (oStop.sJPRText.empty() ? "(no text)" : oStop.sJPRText)
          : StatusName(oStop.nStatus) + " (its errors: 'zksnap log " +
                oStop.sName + "')";
  auto FsOf = [](const RecordRow& r) {
    auto it = r.mMetaData.find(SM_MDT_FS_INFO);
    return it == r.mMetaData.end() ? std::string() : it->second;
  };
  // The plug-in orders the records its own way (by file server and file
  // system), so the records it never reached may come before that one.
  for (const RecordRow& r : vWritten) {
    if (&r == &oStop || HasReason(r) || r.nStatus == nSuccess) continue;
    NotReached o;
    o.sStoppedAt = oStop.sName;
    if (!FsOf(r).empty() && FsOf(r) == FsOf(oStop)) {
      o.sText = "failed with record " + oStop.sName +
                " (same file system), where the " + sOp +
                " stopped: " + sReason;
    } else {
      o.sText = "not reached: the " + sOp + " stopped at record " +
                oStop.sName + ": " + sReason;
    }
    mNotes[r.sName] = o;
  }
  return mNotes;
}

}  // namespace

int CmdOperation(Context& z, const std::string& sOperation,
                 const Selection& s) {
  Catalog& c = z.OpenCatalog();
  SnapPlugin& oPlugin = z.Plugin();
  SnapPlugin::OperationFn fn = oPlugin.Operation(sOperation);
  if (fn == nullptr) {
    throw HostError("unknown operation " + sOperation, kExitUsage);
  }
  z.UseFilerStore(false);

  c.Begin(Catalog::Txn::kWrite);
  std::vector<RecordRow> vRows = SelectRecords(c, s);
  if (vRows.size() > 32767) {
    throw HostError("too many records for one call (" +
                    std::to_string(vRows.size()) + "; at most 32767)");
  }
  if (!s.bForce) {
    for (const RecordRow& r : vRows) CheckKeepsTrack(c, sOperation, r);
    if (sOperation == "snap") CheckNewPointInTime(vRows);
  }
  const std::vector<Shared> vShared = SharedWithLeftOut(c, sOperation, vRows);
  if (!s.bForce) CheckSharedWithLeftOut(sOperation, vShared);
  CatalogHost oHost(&c);
  for (RecordRow& r : vRows) {
    // A new snapshot starts from the snap name the host asks for; the
    // plug-in names the checkpoint after it (adding the time) and stores
    // that name back. Checkpoint names are unique per file server, and one
    // group may span several file systems of one server, so each record
    // asks for its own name (SnapNameFor).
    if (sOperation == "prepare") {
      r.sSnapName = SnapNameFor(r.sGroup, r.sName);
      // The plug-in adds "_" and ten digits of time; the file server takes
      // checkpoint names of up to 240 characters.
      if (r.sSnapName.size() + 11 > 240) {
        throw HostError("record " + r.sName + ": the snap name " + r.sSnapName +
                        " is " + std::to_string(r.sSnapName.size()) +
                        " characters; with the time the checkpoint name "
                        "would be longer than 240 (shorten the record or "
                        "group name, or use fewer '-' and '_')");
      }
      // What an earlier snapshot left in a record that holds nothing any
      // more is history (kept in the job log); the new one starts clean.
      const Holding h = HoldingOf(r);
      if (!h.bCheckpoint) r.mMetaData.erase(SM_MDT_SNAP_UUID);
      if (!h.bMount) {
        r.mMetaData.erase(SM_MDT_SNAP_MOUNT);
        r.sSnapDevice.clear();
      }
    }
    oHost.Add(r);
  }
  std::vector<ZKSO::SnapInfo*> vPointers = oHost.Pointers();
  ZKSO::ResultCode eResult;
  std::vector<ZkLogLine> vLogged;
  {
    PluginErrorCapture oCapture;
    eResult = fn(vPointers.data(), static_cast<int16_t>(vPointers.size()),
                 oHost.OSUtil());
    vLogged = oCapture.Lines();
  }
  const std::vector<RecordRow> vWritten = oHost.WriteBack(sOperation);
  std::vector<ErrorLine> vErrors = AttachErrorLines(vLogged, vWritten);
  // The plug-in's words for an operation on a record without a snapshot
  // ("Failed to mount Chkpt:[]") do not say that.
  for (size_t i = 0; i < vRows.size(); ++i) {
    if (sOperation != "prepare" && sOperation != "snap" &&
        sOperation != "unprepare" && IsFailureStatus(vWritten[i].nStatus) &&
        !HoldingOf(vRows[i]).bCheckpoint) {
      vErrors.push_back({vRows[i].sName, vRows[i].sName, "zksnap",
                         "the record held no checkpoint when " + sOperation +
                             " started (snap it first)"});
    }
  }
  const int64_t nNow = static_cast<int64_t>(std::time(nullptr));
  Notes mNotes = NotReachedRecords(sOperation, eResult, vWritten);
  for (auto& oNote : mNotes) {
    oNote.second.sText = oHost.Leaks().Screen(oNote.second.sText);
    JobLogRow oRow;
    oRow.nJobId = oHost.JobId();
    oRow.sRecord = oNote.first;
    oRow.sOperation = sOperation;
    oRow.nLevel = 2;
    oRow.sTag = "zksnap";
    oRow.sText = oNote.second.sText;
    oRow.nTime = nNow;
    c.AppendJobLog(oRow);
  }
  const std::vector<LeftOutMark> vMarks =
      MarkLeftOut(c, sOperation, vShared, oHost.JobId());
  for (const LeftOutMark& m : vMarks) {
    JobLogRow oRow;
    oRow.nJobId = oHost.JobId();
    oRow.sRecord = m.oRow.sName;
    oRow.sOperation = sOperation;
    oRow.nLevel = 1;
    oRow.sTag = "zksnap";
    oRow.sText = m.sText;
    oRow.nTime = nNow;
    c.AppendJobLog(oRow);
  }
  for (ErrorLine& e : vErrors) {
    e.sText = oHost.Leaks().Screen(e.sText);
    JobLogRow oRow;
    oRow.nJobId = oHost.JobId();
    oRow.sRecord = e.sLogRecord;
    oRow.sOperation = sOperation;
    oRow.nLevel = 2;
    if (e.sTag.empty()) {
      oRow.sTag = "error log";
    } else if (e.sTag == "zksnap") {  // zksnap's own line
      oRow.sTag = e.sTag;
    } else {
      oRow.sTag = "error log: " + e.sTag;
    }
    oRow.sText = e.sText;
    oRow.nTime = nNow;
    c.AppendJobLog(oRow);
  }
  c.Commit();

  if (oHost.Withheld() > 0) {
    z.Err("zksnap: warning: the plug-in wrote an array password into " +
          std::to_string(oHost.Withheld()) +
          " job log line(s) or reason(s); zksnap withheld them\n");
  }
  if (z.Json()) {
    Json o = Json::Object();
    o.Set("operation", sOperation)
        .Set("job", Json::Int(static_cast<int64_t>(oHost.JobId())))
        .Set("result", ResultName(eResult))
        .Set("result_code", Json::Int(eResult))
        .Set("records", StatusJson(vWritten, &mNotes));
    Json oErrors = Json::Array();
    for (const ErrorLine& e : vErrors) {
      oErrors.Push(Json::Object()
                       .Set("record", e.sRecord)
                       .Set("tag", e.sTag)
                       .Set("text", e.sText));
    }
    o.Set("errors", oErrors);
    if (!vMarks.empty()) {
      Json oLeft = Json::Array();
      for (const LeftOutMark& m : vMarks) {
        oLeft.Push(Json::Object()
                       .Set("record", m.oRow.sName)
                       .Set("status", StatusName(m.oRow.nStatus))
                       .Set("text", m.sText));
      }
      o.Set("left_out", oLeft);
    }
    z.Out(o.Dump() + "\n");
  } else {
    z.Out(sOperation + ": " + ResultName(eResult) + " (job " +
          std::to_string(oHost.JobId()) + ", " +
          std::to_string(vWritten.size()) + " record(s))\n");
    PrintStatus(z, vWritten, &mNotes);
    if (!vErrors.empty()) {
      Table t({"RECORD", "ERROR"});
      for (const ErrorLine& e : vErrors) {
        t.AddRow({e.sRecord.empty() ? "(the call)" : e.sRecord, e.sText});
      }
      z.Out("\nErrors (kept in 'zksnap log')\n" + t.Render());
    }
    if (!vMarks.empty()) {
      Table t({"RECORD", "STATUS", "LEFT OUT"});
      for (const LeftOutMark& m : vMarks) {
        t.AddRow({m.oRow.sName, StatusName(m.oRow.nStatus), m.sText});
      }
      z.Out("\nRecords left out, marked by zksnap (kept in 'zksnap log')\n" +
            t.Render());
    }
  }
  return ExitForResult(eResult);
}

int CmdSupported(Context& z, const std::string& sIdentifier) {
  KeyValuePairs vPairs;
  std::string sError;
  if (!ParseKeyValueText(sIdentifier, &vPairs, &sError)) {
    throw HostError("malformed device identifier \"" + sIdentifier +
                    "\": " + sError);
  }
  SnapPlugin& oPlugin = z.Plugin();
  MemOSUtil oOSUtil(0);
  char aBuffer[4096] = {0};
  const ZKSO::ResultCode eResult =
      oPlugin.zkso_isSupported(sIdentifier.c_str(), ZKSO::SNAP_TYPE_SNAPSHOT,
                               &oOSUtil, aBuffer, sizeof(aBuffer));
  const bool bSupported = eResult == ZKSO::RESULT_SUCCESS;
  if (z.Json()) {
    Json o = Json::Object();
    o.Set("identifier", sIdentifier)
        .Set("supported", Json::Bool(bSupported))
        .Set("result", ResultName(eResult))
        .Set("result_code", Json::Int(eResult));
    z.Out(o.Dump() + "\n");
  } else {
    z.Out(std::string(bSupported ? "supported" : "not supported") + " (" +
          ResultName(eResult) + ")\n");
  }
  return ExitForResult(eResult);
}

}  // namespace zkref
