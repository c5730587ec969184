// SPDX-License-Identifier: Apache-2.0
// CelerraMountWork: what one map or unmap of one record found, made, took
// over, wrote and removed, and so what an undo takes back. It is the undo
// log of the operation on that record: the device object fills it as the
// steps go, the operation reads it (to let later records of the same call
// share a writable view, and to undo a failed map).
//
// The rules it serves, in one place:
//   - A snapshot has at most one writable checkpoint (<checkpoint>_RW) and
//     one export of it. A record may use one already there (made earlier in
//     the call, or found after a refused CreateRWChkPt) only when its export
//     is exactly the one this record would make: same export path, same
//     data mover, same access, read-write and root hosts (order aside), or
//     when it has no export at all yet (a map killed before it exported),
//     which this map then exports to its own hosts. Otherwise the map fails
//     and changes nothing. A map never adds hosts to, or removes hosts from,
//     an export it did not make.
//   - "Already there" or "already gone" is concluded only from a query that
//     answered: a full checkpoint listing, or an export lookup that the
//     client refused with its "no such export" code.
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

// An NFS export as the file server has it (or as a map made it).
struct _CelerraViewExport {
  std::string sSharePath;
  std::string sMoverId;
  _CelerraExportHosts oHosts;
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

  // ---- What this map did ----

  bool bRWChkptAdopted = false;    // already there; not made here
  bool bMadeRWChkpt = false;       // made by this map
  bool bMountInfoPending = false;  // to be written once the export agrees
  bool bWroteMountInfo = false;
  bool bMadeExport = false;
  _CelerraViewExport oExport;  // the export the record's view has now

  // ---- What this unmap did ----

  bool bRWChkptGone = false;    // found no longer there
  bool bRemovedExport = false;  // removed by this unmap
  std::string sExportMoverId;   // mover of the export removed or made
};

#endif  // ZK_DEVICE_CELERRAMOUNTWORK_H_
