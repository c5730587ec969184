// SPDX-License-Identifier: Apache-2.0
// Sweeps over the operations of one request: each operation is run many
// times from the same starting point, each time with something made to go
// wrong inside it (a file server command, an allocation), and after each run
// the records must tell the truth about the file server and the result code
// must match the records.
//
// The request: NFS and NAS devices on two control hosts, VMware ones with
// their host identifier (five records). ReadyFor(op) builds a fresh world
// whose records have been through every operation that comes before op,
// without faults, on a clock of its own.
#ifndef ZK_TESTS_E2E_SWEEPFIXTURE_H_
#define ZK_TESTS_E2E_SWEEPFIXTURE_H_

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/LifecycleFixture.h"

namespace zke2e {

enum class Op { kPrepare, kSnap, kMap, kUnmap, kDelete, kRevert, kReconcile };

const char* Name(Op eOp);
// Every operation, in the life of a snapshot.
std::vector<Op> AllOperations();

// What a record was before the operation under test.
struct Before {
  int nStatus = 0;
  std::string sRWChkptId;   // from its mount metadata
  std::string sExportPath;  // of its clone device
};
Before BeforeOf(const zkref::MemSnapInfo& oRecord);

// Which checks of CheckRun apply beyond the records' truth.
struct RunChecks {
  // A run that did not wholly succeed tells some record why.
  bool bReportRequired = true;
  // Reconcile's result code follows the records whose checkpoint list could
  // not be fetched ("ZKSnapEngineCelerra(996)" lines); a record that failed
  // in another way leaves no trace in the record to count it by.
  bool bReconcileResultFromLog = true;
};

class SweepTest : public LifecycleTest {
 protected:
  // The five-record request above; or, with m_nPerGroup set, that many
  // records on each of three file systems (NFS on the first file server,
  // NAS on both), interleaved, so that records share checkpoints.
  std::vector<zkref::MemSnapInfo*> NewRequest();
  int m_nPerGroup = 0;
  Operation FunctionOf(Op eOp) const;
  ZKSO::ResultCode RunOp(Op eOp, const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(FunctionOf(eOp), v);
  }
  std::vector<zkref::MemSnapInfo*> ReadyFor(Op eOp);
  static int SuccessStatus(Op eOp);

  std::string HostOf(const zkref::MemSnapInfo& oRecord) const;
  bool CheckpointExists(const std::string& sHost, const std::string& sId,
                        const std::string& sName = "");
  bool ExportExists(const std::string& sHost, const std::string& sPath);
  // Whether the export at sPath gives sAddress access.
  bool ExportNames(const std::string& sHost, const std::string& sPath,
                   const std::string& sAddress);
  // The addresses a record's export is for: its ESX host and VMkernel
  // addresses for a VMware record, this host otherwise.
  static std::vector<std::string> MountAddressesOf(
      const zkref::MemSnapInfo& oRecord);

  // What an administrator does after a host was killed mid-call (what
  // 'zksnap orphans --remove' does): removes, through the plug-in's own
  // unmap and delete with a transient record, every checkpoint and export
  // that no record of vRecords names (by its snap UUID, mount metadata or
  // intent) and that was not on the file server at the start (sKeep: host
  // and id). Each removal must succeed.
  void RemoveOrphans(const std::vector<zkref::MemSnapInfo*>& vRecords,
                     const std::set<std::string>& sKeep);
  // "host id" of every checkpoint now, for RemoveOrphans' sKeep.
  std::set<std::string> CheckpointKeys();

  // Every check of one run: each record's status against the file server,
  // the result code against the records, the report of a failed run, and
  // no password in any log line.
  void CheckRun(Op eOp, ZKSO::ResultCode eResult,
                const std::vector<zkref::MemSnapInfo*>& vRecords,
                const std::vector<Before>& vBefore,
                const RunChecks& oChecks = RunChecks());
};

}  // namespace zke2e

#endif  // ZK_TESTS_E2E_SWEEPFIXTURE_H_
