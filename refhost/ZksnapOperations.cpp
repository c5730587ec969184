// zksnap operation commands: run one plug-in operation over chosen records
// in one catalog transaction, and the support check.
#include <cstring>
#include <ctime>

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

// Refuses an operation that would make the catalog lose track of what a
// record holds on the file server: a new preparation (a failed one leaves
// the record marked as never snapped, and its checkpoint can then no longer
// be deleted), an unpreparation (delete needs the file system facts it
// drops), and a delete of a record whose preparation failed (the plug-in
// marks it deleted without a command).
void CheckKeepsTrack(const std::string& sOperation, const RecordRow& r) {
  const Holding h = HoldingOf(r);
  if (h.Empty()) return;
  const std::string sHolds =
      "record " + r.sName + " still holds " + h.Describe() + "; ";
  const std::string sRemove =
      std::string(h.bMount ? "'zksnap unmap " + r.sName + "' and " : "") +
      "'zksnap delete " + r.sName + "'";
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

// Warnings for an unmap of some of the records that share one writable
// checkpoint: the plug-in removes the checkpoint and its export with the
// first of them, so the records left out lose their export too and go on
// saying they are mapped until they are unmapped themselves.
std::vector<std::string> SharedUnmapWarnings(Catalog& c,
                                             const std::vector<RecordRow>& v) {
  std::vector<std::string> vWarnings;
  const std::vector<RecordRow> vAll = c.Records();
  for (const RecordRow& r : v) {
    const Holding h = HoldingOf(r);
    if (!h.bMount || !h.sBaselineId.empty()) continue;
    const std::string sHost = ControlHostOf(c, r);
    std::string sOthers;
    for (const RecordRow& o : vAll) {
      bool bChosen = false;
      for (const RecordRow& x : v) bChosen |= x.sName == o.sName;
      if (bChosen) continue;
      const Holding ho = HoldingOf(o);
      if (ho.bMount && ho.sMountId == h.sMountId &&
          ho.sMountName == h.sMountName && ControlHostOf(c, o) == sHost) {
        sOthers += (sOthers.empty() ? "" : " ") + o.sName;
      }
    }
    if (sOthers.empty()) continue;
    vWarnings.push_back(
        "record " + r.sName + " shares writable checkpoint " + h.sMountName +
        " (" + h.sMountId + ") and its export with " + sOthers +
        ": unmapping it removes their export too; they still say they are "
        "mapped until you unmap them ('zksnap unmap " +
        sOthers + "')");
  }
  return vWarnings;
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
    for (const RecordRow& r : vRows) CheckKeepsTrack(sOperation, r);
  }
  if (sOperation == "unmap") {
    for (const std::string& sWarning : SharedUnmapWarnings(c, vRows)) {
      z.Err("zksnap: warning: " + sWarning + "\n");
    }
  }
  CatalogHost oHost(&c);
  for (RecordRow& r : vRows) {
    // A new snapshot starts from the snap name the host asks for; the
    // plug-in names the checkpoint after it (adding the time) and stores
    // that name back. Checkpoint names are unique per file server, and one
    // group may span several file systems of one server, so each record
    // asks for its own name: GROUP_RECORD.
    if (sOperation == "prepare") {
      r.sSnapName = r.sGroup + "_" + r.sName;
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
      vErrors.push_back({vRows[i].sName, "zksnap",
                         "the record held no checkpoint when " + sOperation +
                             " started (snap it first)"});
    }
  }
  const int64_t nNow = static_cast<int64_t>(std::time(nullptr));
  for (ErrorLine& e : vErrors) {
    e.sText = oHost.Leaks().Screen(e.sText);
    JobLogRow oRow;
    oRow.nJobId = oHost.JobId();
    oRow.sRecord = e.sRecord;
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
        .Set("records", StatusJson(vWritten));
    Json oErrors = Json::Array();
    for (const ErrorLine& e : vErrors) {
      oErrors.Push(Json::Object()
                       .Set("record", e.sRecord)
                       .Set("tag", e.sTag)
                       .Set("text", e.sText));
    }
    o.Set("errors", oErrors);
    z.Out(o.Dump() + "\n");
  } else {
    z.Out(sOperation + ": " + ResultName(eResult) + " (job " +
          std::to_string(oHost.JobId()) + ", " +
          std::to_string(vWritten.size()) + " record(s))\n");
    PrintStatus(z, vWritten);
    if (!vErrors.empty()) {
      Table t({"RECORD", "ERROR"});
      for (const ErrorLine& e : vErrors) t.AddRow({e.sRecord, e.sText});
      z.Out("\nErrors (kept in 'zksnap log')\n" + t.Render());
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
