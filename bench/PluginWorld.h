// One benchmark case's world: the loaded plug-in, a simulated file server
// (in-memory store, no latency) holding one file system or one file system
// per record, the host's array management entry of that file server, and N
// host records brought to the state the measured operation starts from by
// running the earlier operations of the lifecycle through the plug-in.
//
//   Operation   records before the call
//   kPrepare    NFS datastore records, new
//   kPrepareNas file system records reached natively, new
//   kSnap       prepared
//   kMap        snapped, each record its own checkpoint
//   kUnmap      mapped
//   kDelete     snapped, each record its own checkpoint
//   kRevert     snapped, each record its own checkpoint
//   kReconcile  the file server holds 1024 checkpoints; record i stands for
//               checkpoint i mod 1024
//
// In the one-file-system layout, the snapshots that map, unmap, delete and
// revert start from are taken one record per snap call, so that every
// record has its own checkpoint of the one file system (records snapped in
// one call share one checkpoint, and one checkpoint can be mapped once).
//
// Between calls the records are carried as a host keeps them: fresh record
// objects holding only what the host stores.
//
// Measure() runs the operation once over all records and returns what it
// cost and which commands reached the file server. A world is measured
// once. Process-wide state (the file server store, the plug-in's clock, the
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
enum class Operation {
  kPrepare,
  kPrepareNas,
  kSnap,
  kMap,
  kUnmap,
  kDelete,
  kRevert,
  kReconcile,
};

const char* LayoutName(Layout eLayout);
const char* OperationName(Operation eOperation);

// Checkpoints the file server holds while reconcile is measured.
constexpr int kReconcileCheckpoints = 1024;

// What one measured call cost.
struct CallFigures {
  int64_t nCpuNanos = 0;        // thread CPU time of the whole call
  int64_t nClientCpuNanos = 0;  // of it, inside the client library
  int64_t nWallNanos = 0;       // wall-clock time of the whole call
  int64_t nPeakHeapBytes = 0;   // heap peak during the call above its start
  int64_t nKeptHeapBytes = 0;   // heap held after the call above its start
  std::map<std::string, int64_t> mCommands;  // file server journal
};

class PluginWorld {
 public:
  // Builds the world; check Error() before measuring.
  PluginWorld(Operation eOperation, Layout eLayout, int nRecords);
  PluginWorld(const PluginWorld&) = delete;
  PluginWorld& operator=(const PluginWorld&) = delete;

  // Empty when the world is ready; otherwise what went wrong.
  const std::string& Error() const { return m_sError; }

  // Runs the operation over every record. False (with Error() set) when
  // the call or any record did not succeed: its figures must not be used.
  bool Measure(CallFigures* pFigures);

  // The fewest commands of each kind the contract allows for this call.
  std::map<std::string, int64_t> MinimumCommands() const;

 private:
  using Records = std::vector<zkref::MemSnapInfo*>;

  void InstallFileServer(int nFileSystems);
  std::string ExportPathOf(int i) const;
  zkref::MemSnapInfo* NewRecord(int i, bool bNas);
  zkref::MemSnapInfo* Carry(const zkref::MemSnapInfo& oRecord);
  Records CarryAll(const Records& vRecords);
  // Runs one operation function over vRecords; false with m_sError set
  // unless every record reached eExpected.
  bool Run(PluginUnderTest::OperationFn fn, const char* pszWhat,
           const Records& vRecords, ZKSO::SnapStatus eExpected);
  // Prepared and snapped records, each with its own checkpoint.
  bool SnappedRecords(int nRecords, Records* pvRecords);
  PluginUnderTest::OperationFn FunctionOf(Operation eOperation) const;
  ZKSO::SnapStatus SuccessStatusOf(Operation eOperation) const;

  const Operation m_eOperation;
  const Layout m_eLayout;
  const int m_nRecords;
  const PluginUnderTest* m_pPlugin = nullptr;
  std::string m_sError;
  zkref::ArrayDatabase m_oDatabase;
  zkref::MemOSUtil m_oOSUtil;
  std::deque<zkref::MemSnapInfo> m_dRecords;  // stable addresses
  Records m_vMeasured;                        // the records of the call
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
