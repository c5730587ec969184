// SPDX-License-Identifier: Apache-2.0
// One benchmark case's world: the loaded plug-in, a simulated file server
// (in-memory store, no latency) holding one file system or one file system
// per record, the host's array management entry of that file server, and N
// host records, and the calls measured in it, in order:
//
//   kLifecycle   NFS datastore records through prepare, snap, map, unmap,
//                revert and delete, each call measured
//   kPrepareNas  file system records reached natively, through prepare
//   kReconcile   the file server holds 1024 checkpoints (made by prepare and
//                snap, not measured); record i stands for checkpoint
//                i mod 1024; reconcile, which changes neither the records
//                nor the file server, can be measured again and again
//
// In the one-file-system layout, the measured snap gives every record the
// same checkpoint; one checkpoint can be mapped once, so before map (not
// measured) that checkpoint is deleted and the prepared records are snapped
// again one record per call, giving each record its own checkpoint of the
// one file system, as in the other layout.
//
// Between calls the records are carried as a host keeps them: fresh record
// objects holding only what the host stores.
//
// Process-wide state (the file server store, the plug-in's clock, the
// hosts file variable) is reset by each new world: one world at a time.
#ifndef ZK_BENCH_PLUGINWORLD_H_
#define ZK_BENCH_PLUGINWORLD_H_

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "host/ZKSnapHost.h"
#include "refhost/MemHost.h"
#include "tests/e2e/PluginUnderTest.h"

namespace zkbench {

enum class Layout { kOneFs, kFsPerRecord };
enum class Scenario { kLifecycle, kPrepareNas, kReconcile };
enum class Operation {
  kPrepare,
  kPrepareNas,
  kSnap,
  kMap,
  kUnmap,
  kRevert,
  kDelete,
  kReconcile,
};

const char* LayoutName(Layout eLayout);
const char* OperationName(Operation eOperation);
const char* ScenarioName(Scenario eScenario);
// The calls a scenario measures, in order.
std::vector<Operation> StepsOf(Scenario eScenario);

// Checkpoints the file server holds while reconcile is measured.
constexpr int kReconcileCheckpoints = 1024;

// What one measured call cost.
struct CallFigures {
  int64_t nCpuNanos = 0;        // thread CPU time of the whole call
  int64_t nClientCpuNanos = 0;  // of it, inside the client library
  int64_t nWallNanos = 0;       // wall-clock time of the whole call
  int64_t nPeakHeapBytes = 0;   // heap peak during the call above its start
  int64_t nKeptHeapBytes = 0;   // heap held after the call above its start
  int64_t nPageFaults = 0;      // minor page faults of the thread in the call
  std::map<std::string, int64_t> mCommands;  // file server journal
};

class PluginWorld {
 public:
  // Builds the world; check Error() before measuring.
  PluginWorld(Scenario eScenario, Layout eLayout, int nRecords);
  PluginWorld(const PluginWorld&) = delete;
  PluginWorld& operator=(const PluginWorld&) = delete;

  // Empty when the world is ready; otherwise what went wrong.
  const std::string& Error() const { return m_sError; }

  // Runs the next call of the scenario over every record (after the setup
  // it needs, not measured). False (with Error() set) when the call or any
  // record did not succeed: its figures must not be used. REQUIRES:
  // eOperation is the next of StepsOf(scenario), or the same again for a
  // repeatable one.
  bool Measure(Operation eOperation, CallFigures* pFigures);
  bool Repeatable() const { return m_eScenario == Scenario::kReconcile; }

  // The fewest commands of each kind the contract allows for one call.
  std::map<std::string, int64_t> MinimumCommands(Operation eOperation) const;

 private:
  using Records = std::vector<zkref::MemSnapInfo*>;

  void InstallFileServer(int nFileSystems);
  std::string ExportPathOf(int i) const;
  zkref::MemSnapInfo* NewRecord(int i, bool bNas);
  zkref::MemSnapInfo* Carry(const zkref::MemSnapInfo& oRecord);
  Records CarryAll(const Records& vRecords);
  // Runs one operation function over vRecords (not measured); false with
  // m_sError set unless every record reached eExpected.
  bool Run(PluginUnderTest::OperationFn fn, const char* pszWhat,
           const Records& vRecords, ZKSO::SnapStatus eExpected);
  // Before map in the one-file-system layout: a checkpoint of its own for
  // every record.
  bool SnapOneByOne();
  PluginUnderTest::OperationFn FunctionOf(Operation eOperation) const;

  const Scenario m_eScenario;
  const Layout m_eLayout;
  const int m_nRecords;
  const PluginUnderTest* m_pPlugin = nullptr;
  std::string m_sError;
  zkref::ArrayDatabase m_oDatabase;
  zkref::MemOSUtil m_oOSUtil;
  std::deque<zkref::MemSnapInfo> m_dRecords;  // stable addresses
  Records m_vPrepared;  // as prepare left them (lifecycle)
  Records m_vNext;      // the records of the next call
};

// The password every world's file server and array entry use; no log line
// may ever hold it.
const char* BenchPassword();

// Writes the hosts file that names the file server and the mount host, and
// points ZK_HOSTS_FILE at it. Call once per process, before any world;
// RemoveHostsFile() deletes it.
bool WriteHostsFile(std::string* psError);
void RemoveHostsFile();

}  // namespace zkbench

#endif  // ZK_BENCH_PLUGINWORLD_H_
