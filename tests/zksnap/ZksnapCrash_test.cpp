// SPDX-License-Identifier: Apache-2.0
// zksnap killed in the middle of an operation, and zksnap processes running
// at once on one catalog: the catalog stays whole, holds either everything
// a command did or nothing of it, and no process loses another's writes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

class CrashTest : public ZksnapTest {
 protected:
  // Four NFS records on one export, so that one prepare sends a dozen
  // commands; the file server answers each after nLatencyMs.
  void SetUpSlowRecords(int nLatencyMs) {
    InitWithFileServer();
    for (int i = 0; i < 4; ++i) {
      const RunResult r =
          Z({"device", "add", "r" + std::to_string(i), "--snap-name", "g",
             "--nfs", "/fs_nfs", "--filer", kFiler});
      ASSERT_EQ(0, r.nExit) << r.sErr;
    }
    UseFilerStore();
    ASSERT_TRUE(
        zkfiler::SetLatency(std::chrono::milliseconds(nLatencyMs)).ok());
  }
  // Starts 'snap --all' and kills it (SIGKILL) as soon as the file server
  // holds the checkpoint it made, which *pv then lists.
  void KillSnapOnceItsCheckpointIsMade(
      std::vector<zkfiler::CheckpointView>* pv) {
    Spawned o = Spawn({"--state", m_sState, "snap", "--all"});
    for (int i = 0; i < 200 && pv->empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, pv).ok());
    }
    kill(o.nPid, SIGKILL);
    const RunResult r = Wait(o);
    ASSERT_EQ(1u, pv->size());
    ASSERT_EQ(128 + SIGKILL, r.nExit) << "the snap finished before the kill";
  }
  // Four records prepared, and a snap of them killed once it made its
  // checkpoint (*pv lists it).
  void PrepareAndKillSnap(std::vector<zkfiler::CheckpointView>* pv) {
    SetUpSlowRecords(0);
    const RunResult r = Z({"prepare", "--all"});
    ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
    ASSERT_TRUE(zkfiler::SetLatency(std::chrono::milliseconds(300)).ok());
    KillSnapOnceItsCheckpointIsMade(pv);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(zkfiler::SetLatency(std::chrono::milliseconds(0)).ok());
  }
  // Waits (up to 20 s) until the process has sent the file server a
  // command: from then on it holds the catalog's write lock.
  bool WaitForFilerCommand(pid_t nPid) {
    for (int i = 0; i < 2000; ++i) {
      std::vector<zkfiler::JournalEntry> v;
      if (zkfiler::Journal(&v).ok()) {
        for (const auto& e : v) {
          if (e.pid == nPid) return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  unsigned Seed() {
    const unsigned n = std::random_device{}();
    RecordProperty("seed", std::to_string(n));
    return n;
  }
};

// SIGKILL at a random point of a prepare, repeated: afterwards the catalog
// passes SQLite's integrity check and equals either the state before the
// command or the state a complete run leaves; the next command works.
TEST_F(CrashTest, KilledPrepareLeavesTheCatalogWholeAndTheNextCommandWorks) {
  SetUpSlowRecords(20);
  const unsigned nSeed = Seed();
  SCOPED_TRACE("seed " + std::to_string(nSeed));
  std::mt19937 oRandom(nSeed);

  const std::string sBefore = Dump();
  // What one complete prepare leaves, run on a copy of the catalog.
  const std::string sRef = m_sTmp + "/ref";
  CopyCatalog(sRef);
  const std::vector<std::string> vFiler = {"ZK_FILER_DB=" + m_sFilerDb};
  RunResult r = Raw({"--state", sRef, "prepare", "--all"}, "", vFiler);
  ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
  const std::string sComplete = Dump(sRef);
  ASSERT_NE(sBefore, sComplete);

  int nUnchanged = 0;
  for (int i = 0; i < 6; ++i) {
    const int nDelayMs = std::uniform_int_distribution<int>(0, 400)(oRandom);
    SCOPED_TRACE("attempt " + std::to_string(i) + ", kill after " +
                 std::to_string(nDelayMs) + " ms");
    // Every attempt starts from the same catalog.
    const std::string sDir = m_sTmp + "/attempt" + std::to_string(i);
    CopyCatalog(sDir);
    ASSERT_EQ(sBefore, Dump(sDir));
    Spawned o = Spawn({"--state", sDir, "prepare", "--all"}, vFiler);
    std::this_thread::sleep_for(std::chrono::milliseconds(nDelayMs));
    kill(o.nPid, SIGKILL);
    r = Wait(o);
    EXPECT_EQ("ok\n", IntegrityCheck(sDir));
    const std::string sAfter = Dump(sDir);
    EXPECT_TRUE(sAfter == sBefore || sAfter == sComplete)
        << "half-written catalog:\n"
        << sAfter;
    if (r.nExit == 128 + SIGKILL && sAfter == sBefore) ++nUnchanged;
    // The next command works on what was left.
    r = Raw({"--state", sDir, "prepare", "--all"}, "", vFiler);
    EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
    EXPECT_EQ("ok\n", IntegrityCheck(sDir));
  }
  RecordProperty("killed_before_commit", std::to_string(nUnchanged));
}

// A snap killed in the middle can leave a checkpoint on the file server
// that the catalog never learnt of: the catalog is as before, 'orphans'
// names that checkpoint, and a new prepare and snap work.
TEST_F(CrashTest, KilledSnapLeavesAnOrphanThatOrphansFinds) {
  SetUpSlowRecords(0);
  RunResult r = Z({"prepare", "--all"});
  ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
  ASSERT_TRUE(zkfiler::SetLatency(std::chrono::milliseconds(300)).ok());
  const std::string sBefore = Dump();
  std::vector<zkfiler::CheckpointView> v;
  KillSnapOnceItsCheckpointIsMade(&v);
  if (HasFatalFailure()) return;
  EXPECT_EQ(sBefore, Dump());
  ASSERT_TRUE(zkfiler::SetLatency(std::chrono::milliseconds(0)).ok());

  r = Z({"--json", "orphans"});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "\"name\": \"" + v[0].name + "\"")) << r.sOut;

  // A new snapshot needs a new name: prepare again at a later time.
  r = Z({"prepare", "--all"}, "", {"ZK_TEST_NOW=1700000100"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  r = Z({"snap", "--all"}, "", {"ZK_TEST_NOW=1700000100"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  r = Z({"--json", "orphans"});
  EXPECT_TRUE(Has(r.sOut, "\"name\": \"" + v[0].name + "\"")) << r.sOut;
  EXPECT_FALSE(Has(r.sOut, "g_r0_1700000100")) << r.sOut;
}

// What the killed snap left, 'orphans --remove --yes' removes through the
// plug-in's delete; the catalog keeps its records as they were.
TEST_F(CrashTest, KilledSnapsCheckpointIsRemovedByOrphansRemove) {
  std::vector<zkfiler::CheckpointView> v;
  PrepareAndKillSnap(&v);
  if (HasFatalFailure()) return;
  const std::string sRecords = Z({"--json", "status"}).sOut;

  RunResult r = Z({"orphans", "--remove", "--yes"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "checkpoint " + v[0].name + " (" + v[0].id + ")"))
      << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "delete (job ")) << r.sOut;
  std::vector<zkfiler::CheckpointView> vAfter;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &vAfter).ok());
  EXPECT_TRUE(vAfter.empty());
  EXPECT_EQ(sRecords, Z({"--json", "status"}).sOut);
  r = Z({"snap", "--all"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
}

// A map killed once it made the writable checkpoint, or once it also
// exported it, leaves a view that no record names: 'orphans --remove
// --yes' removes it through the plug-in's unmap, the record keeps its
// checkpoint, and a map works again.
TEST_F(CrashTest, KilledMapsViewIsRemovedByOrphansRemove) {
  SetUpSlowRecords(0);
  ASSERT_EQ(0, Z({"prepare", "r0"}).nExit);
  ASSERT_EQ(0, Z({"snap", "r0"}).nExit);
  const std::string sView = "g_r0_1700000000_RW";
  for (const bool bExported : {false, true}) {
    SCOPED_TRACE(bExported ? "killed after the export" : "killed before it");
    const std::string sBefore = Dump();
    ASSERT_TRUE(zkfiler::SetLatency(std::chrono::milliseconds(400)).ok());
    Spawned o = Spawn({"--state", m_sState, "map", "r0"});
    bool bThere = false;
    for (int i = 0; i < 1000 && !bThere; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::vector<zkfiler::CheckpointView> vC;
      std::vector<zkfiler::ExportView> vE;
      ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &vC).ok());
      ASSERT_TRUE(zkfiler::ListExports(kControlHost, &vE).ok());
      for (const auto& k : vC) bThere |= !bExported && k.name == sView;
      for (const auto& e : vE) bThere |= bExported && e.path == "/" + sView;
    }
    kill(o.nPid, SIGKILL);
    RunResult r = Wait(o);
    ASSERT_TRUE(bThere);
    ASSERT_EQ(128 + SIGKILL, r.nExit) << "the map finished before the kill";
    ASSERT_TRUE(zkfiler::SetLatency(std::chrono::milliseconds(0)).ok());
    EXPECT_EQ(sBefore, Dump());

    r = Z({"--json", "orphans"});
    EXPECT_TRUE(Has(r.sOut, "\"name\": \"" + sView + "\"")) << r.sOut;
    r = Z({"orphans", "--remove", "--yes"});
    EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
    EXPECT_TRUE(Has(
        r.sOut,
        std::string(bExported ? "export /" + sView + " (mover 2) and " : "") +
            "writable checkpoint " + sView))
        << r.sOut;
    EXPECT_TRUE(Has(r.sOut, "unmap (job ")) << r.sOut;
    std::vector<zkfiler::CheckpointView> vC;
    std::vector<zkfiler::ExportView> vE;
    ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &vC).ok());
    ASSERT_TRUE(zkfiler::ListExports(kControlHost, &vE).ok());
    ASSERT_EQ(1u, vC.size());
    EXPECT_EQ("g_r0_1700000000", vC[0].name);
    for (const auto& e : vE) EXPECT_NE("/" + sView, e.path);
    r = Z({"orphans"});
    EXPECT_TRUE(Has(r.sOut, "no orphans")) << r.sOut;
    ASSERT_EQ(0, Z({"map", "r0"}).nExit);
    ASSERT_EQ(0, Z({"unmap", "r0"}).nExit);
  }
}

// The retry of a killed snap, without a new prepare: the killed call left
// nothing in the catalog (not even the plug-in's intent), so the
// checkpoint it made is no record's. The retry is refused with the file
// server's "already in use" and changes nothing, 'zksnap orphans' names
// that checkpoint, and once 'orphans --remove' took it the snap succeeds.
TEST_F(CrashTest, RetryOfAKilledSnapIsRefusedAndLeavesAnOrphan) {
  std::vector<zkfiler::CheckpointView> v;
  PrepareAndKillSnap(&v);
  if (HasFatalFailure()) return;

  RunResult r = Z({"snap", "--all"});
  EXPECT_EQ(4, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "already in use")) << r.sOut;
  std::vector<zkfiler::CheckpointView> vAfter;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &vAfter).ok());
  ASSERT_EQ(1u, vAfter.size());
  EXPECT_EQ(v[0].id, vAfter[0].id);
  r = Z({"--json", "orphans"});
  EXPECT_TRUE(Has(r.sOut, "\"name\": \"" + v[0].name + "\"")) << r.sOut;
  // The way out: remove the orphan, and the snap goes through.
  ASSERT_EQ(0, Z({"orphans", "--remove", "--yes"}).nExit);
  r = Z({"snap", "--all"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
}

// SIGTERM (a person's Ctrl-C or a service stop): one line that says the
// catalog is as before, exit 128 + 15, the catalog unchanged.
TEST_F(CrashTest, InterruptedCommandSaysSoAndChangesNothing) {
  SetUpSlowRecords(100);
  const std::string sBefore = Dump();
  Spawned o = Spawn({"--state", m_sState, "prepare", "--all"});
  ASSERT_TRUE(WaitForFilerCommand(o.nPid));
  kill(o.nPid, SIGTERM);
  const RunResult r = Wait(o);
  EXPECT_EQ(128 + SIGTERM, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "interrupted; the catalog is as it was before"))
      << r.sErr;
  EXPECT_EQ(1, LineCount(r.sErr)) << r.sErr;
  EXPECT_EQ(sBefore, Dump());
}

// Writers at once: every 'config set' of two processes lands.
TEST_F(CrashTest, ConcurrentWritersLoseNothing) {
  ASSERT_EQ(0, Z({"init"}).nExit);
  std::vector<Spawned> vRuns;
  for (int i = 0; i < 12; ++i) {
    vRuns.push_back(
        Spawn({"--state", m_sState, "config", "set", "--force",
               "key" + std::to_string(i), "v" + std::to_string(i)}));
  }
  for (const Spawned& o : vRuns) {
    const RunResult r = Wait(o);
    EXPECT_EQ(0, r.nExit) << r.sErr;
  }
  for (int i = 0; i < 12; ++i) {
    const RunResult r = Z({"config", "get", "key" + std::to_string(i)});
    EXPECT_EQ(0, r.nExit) << r.sErr;
    EXPECT_EQ("v" + std::to_string(i) + "\n", r.sOut);
  }
}

// Two operations at once on different records: the second waits for the
// first, and both records keep their results.
TEST_F(CrashTest, ConcurrentOperationsBothLand) {
  SetUpSlowRecords(30);
  Spawned a = Spawn({"--state", m_sState, "prepare", "r0", "r1"});
  Spawned b = Spawn({"--state", m_sState, "prepare", "r2", "r3"});
  const RunResult ra = Wait(a);
  const RunResult rb = Wait(b);
  EXPECT_EQ(0, ra.nExit) << ra.sErr;
  EXPECT_EQ(0, rb.nExit) << rb.sErr;
  for (const char* psz : {"r0", "r1", "r2", "r3"}) {
    EXPECT_TRUE(Has(StatusJson(psz), "\"status\": \"READY_FOR_SNAP\"")) << psz;
  }
  // Two jobs, two job ids.
  const RunResult r = Z({"--json", "log"});
  EXPECT_TRUE(Has(r.sOut, "\"job\": 1,")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"job\": 2,")) << r.sOut;
}

// A zksnap that may not wait gets a clear "busy" and exit status 5 while
// another holds the catalog, and changes nothing.
TEST_F(CrashTest, NoWaitGivesBusy) {
  SetUpSlowRecords(150);
  Spawned a = Spawn({"--state", m_sState, "prepare", "--all"});
  ASSERT_TRUE(WaitForFilerCommand(a.nPid));
  const RunResult rb =
      Z({"--wait", "0", "config", "set", "sCelerraCommaSeparatedRWHosts", "h"});
  const RunResult ra = Wait(a);
  EXPECT_EQ(0, ra.nExit) << ra.sErr;
  EXPECT_EQ(5, rb.nExit) << rb.sOut << rb.sErr;
  EXPECT_TRUE(Has(rb.sErr, "is busy")) << rb.sErr;
  EXPECT_EQ(1, LineCount(rb.sErr)) << rb.sErr;
  EXPECT_NE(0, Z({"config", "get", "sCelerraCommaSeparatedRWHosts"}).nExit);
}

}  // namespace
}  // namespace zktest
