// SPDX-License-Identifier: Apache-2.0
// Words, as map and unmap use them in code, comments and docs:
//   - writable checkpoint: the snapshot's <checkpoint>_RW, made by a map
//     from the snapshot's read-only checkpoint (or the snapshot itself when
//     it is writable: it has a baseline).
//   - export: the NFS export of the writable checkpoint as a whole (path,
//     data mover, access, read-write and root hosts): _CelerraViewExport,
//     oExport. Its path keeps the client's name (sSharePath), as do the
//     client's commands (CreateNFSShare, DeleteNFSShare, GetNFSInfo).
//   - writable view (view): the writable checkpoint together with its
//     export. A snapshot has at most one.
//   - snap clone device (clone): what a map records in the host record; it
//     names the export's path, and is not the export itself.
//   - shared: used by several records of one call (one view for all).
// The system's own job log lines and reasons, which stay as they are, call
// the export "NFS share" and the view "writable view (RW checkpoint)".
//
// CelerraMountWork: what one map or unmap of one record found, made, took
// over, wrote and removed, the decisions taken on it, and so what an undo
// takes back. The device object fills it as the steps go; the operation
// reads it (to let later records of the same call share a writable view,
// and to undo a failed map).
//
// The rules, in one place:
//   - A snapshot has at most one writable view: one writable checkpoint
//     and one export of it.
//   - A record takes a writable checkpoint or an export already on the file
//     server only when it is provably its own work: made for an earlier
//     record of the same call, or named by the record's intent
//     (SM_MDT_CELERRA_INTENT, device/CelerraIntent.h) or mount metadata,
//     and shown by the file server as intended (same name and checkpoint,
//     the export exactly as this record makes it: path, data mover, access,
//     read-write and root hosts, order aside). Anything else there is
//     another record's: the map fails, changes nothing, and says which view
//     is in the way and how to get it out of the way. A map never adds
//     hosts to, or removes hosts from, an export it did not make.
//   - After a create fails, what the file server shows is taken as this
//     call's work only when the failure left the outcome unknown (the
//     client's reply-lost answer); an explicit refusal says the object was
//     there before.
//   - "Already there" or "already gone" is concluded only from a query that
//     answered: a full checkpoint listing, or an export lookup that the
//     client refused with its "no such export" code.
//   - An unmap removes an export only when the file server says it is of
//     the record's own writable checkpoint; when it cannot delete the
//     writable checkpoint afterwards it puts back exactly the export it
//     removed.
//   - A map that fails takes back only what it made, and puts the record's
//     mount metadata back as it was before the call.
//
// A plain value; copied by the operation, owned by the device object.
#ifndef ZK_DEVICE_CELERRAMOUNTWORK_H_
#define ZK_DEVICE_CELERRAMOUNTWORK_H_

#include <string>
#include <vector>

// The three host lists of an NFS export.
struct _CelerraExportHosts {
  std::vector<std::string> vAccessHosts;
  std::vector<std::string> vRWHosts;
  std::vector<std::string> vRootHosts;
};

// An export as the file server has it (or as a map made it).
struct _CelerraViewExport {
  std::string sSharePath;
  std::string sMoverId;
  _CelerraExportHosts oHosts;
  // Id of the checkpoint (or file system) the path exports, as the file
  // server answered it; empty for an export this map is about to make.
  std::string sOfId;
};

// True when the two lists name the same hosts, order, repeats and empty
// entries aside.
bool SameHosts(const std::vector<std::string>& vLeft,
               const std::vector<std::string>& vRight);
// True when the exports are the same: path, mover and the three lists.
bool SameExport(const _CelerraViewExport& oLeft,
                const _CelerraViewExport& oRight);
// "access [a, b] rw [a] root [a]", for reasons and job log lines.
std::string DescribeHosts(const _CelerraExportHosts& oHosts);
// Removes blanks around each entry and drops entries left empty: a
// configured list " , " names no host.
void CleanHostList(std::vector<std::string>& vHosts);

// How a map came by the snapshot's writable checkpoint.
enum class RWChkptOrigin {
  kNone,          // not yet (or the snapshot is itself writable)
  kMade,          // made by this map
  kSharedInCall,  // made or taken for an earlier record of this call
  kOwn,           // already there, named by the record's intent or mount
                  // metadata
  kForeign,       // already there, and nothing of this record names it
};

// One step of taking back what a map or an unmap did on the file server.
struct _CelerraUndoStep {
  enum class Kind {
    kRemoveExport,   // an export this map made
    kDeleteRWChkpt,  // the writable checkpoint this map made
    kPutBackExport,  // the export this unmap removed, exactly as it was
  };
  Kind eKind = Kind::kRemoveExport;
  _CelerraViewExport oExport;  // kRemoveExport, kPutBackExport
};

struct CelerraMountWork {
  // ---- In (map): set by the operation before the record's steps ----

  // A writable view of this snapshot made or taken over for another record
  // earlier in this call: its id and its export.
  bool bKnownView = false;
  std::string sKnownRWChkptId;
  _CelerraViewExport oKnownExport;

  // ---- Found before anything is made (map) ----

  // The hosts this record's export needs, looked up once per record.
  bool bHostsKnown = false;
  bool bHostLookupFailed = false;
  _CelerraExportHosts oHosts;
  // The record's mount metadata before this map wrote any.
  bool bMountInfoBefore = false;
  std::string sMountInfoBefore;
  // The writable checkpoint id that mount metadata names, and whether the
  // record's snap clone device is the export of that checkpoint: then the
  // record holds the view (a map of it succeeded).
  std::string sMountRWIdBefore;
  bool bCloneOfView = false;

  // ---- What this map did ----

  RWChkptOrigin eRWChkpt = RWChkptOrigin::kNone;
  bool bMountInfoPending = false;  // to be written once the export agrees
  bool bWroteMountInfo = false;
  bool bMadeExport = false;
  _CelerraViewExport oExport;  // the export the record's view has now

  // ---- What this unmap did ----

  bool bRWChkptGone = false;    // found no longer there (or replaced)
  bool bRemovedExport = false;  // removed by this unmap: oRemovedExport
  _CelerraViewExport oRemovedExport;

  // ---- Decisions ----

  bool MadeRWChkpt() const { return eRWChkpt == RWChkptOrigin::kMade; }
  // Whether this record holds the view whose writable checkpoint is
  // sRWChkptId, by its own mount metadata and snap clone device.
  bool HoldsView(const std::string& sRWChkptId) const {
    return !sRWChkptId.empty() && sMountRWIdBefore == sRWChkptId &&
           bCloneOfView;
  }
  // Whether a map may use the export oFound at the path it would export:
  // only one exactly as it needs (oOurs), made for an earlier record of the
  // call, or named as intended by the record's own intent or held by the
  // record itself (bNamed).
  bool MayUse(const _CelerraViewExport& oFound, const _CelerraViewExport& oOurs,
              bool bNamed) const {
    if (!SameExport(oFound, oOurs)) return false;
    return eRWChkpt == RWChkptOrigin::kSharedInCall || bNamed;
  }
  // What an undo takes back, in order: a failed map the export it made,
  // then the writable checkpoint it made; an unmap that cannot delete the
  // writable checkpoint the export it removed, put back as it was.
  std::vector<_CelerraUndoStep> UndoPlan() const {
    std::vector<_CelerraUndoStep> vPlan;
    if (bMadeExport) {
      vPlan.push_back({_CelerraUndoStep::Kind::kRemoveExport, oExport});
    }
    if (MadeRWChkpt()) {
      vPlan.push_back({_CelerraUndoStep::Kind::kDeleteRWChkpt, {}});
    }
    if (bRemovedExport) {
      vPlan.push_back({_CelerraUndoStep::Kind::kPutBackExport, oRemovedExport});
    }
    return vPlan;
  }
  // Whether a map may export a writable checkpoint that has no export yet:
  // one it made, or its own.
  bool MayExportUnexported() const {
    return eRWChkpt == RWChkptOrigin::kMade ||
           eRWChkpt == RWChkptOrigin::kOwn || eRWChkpt == RWChkptOrigin::kNone;
  }
};

#endif  // ZK_DEVICE_CELERRAMOUNTWORK_H_
