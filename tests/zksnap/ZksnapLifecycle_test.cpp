// SPDX-License-Identifier: Apache-2.0
// The whole snapshot lifecycle through zksnap, each operation in its own
// process, for each kind of device the plug-in carries through: an NFS
// export, a file system on a virtual data mover, and a VMware datastore.
// After every step the record (through 'zksnap status') and the simulated
// file server (through its own API) must tell the same story.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "nfsserve/FilerServe.h"
#include "tests/nfsserve/ServedFiler.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

// The host asks for the snap name GROUP_RECORD (with "-" and "_" escaped);
// the plug-in adds the time.
std::string CheckpointOf(const std::string& sRecord) {
  return "g1_" + sRecord + "_1700000000";
}

struct Kind {
  const char* pszRecord;
  const char* pszFsId;
  const char* pszMountHost;  // must be among the export's access hosts
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.pszRecord; }

class LifecycleTest : public ZksnapTest,
                      public ::testing::WithParamInterface<Kind> {
 protected:
  void ExpectStatus(const std::string& sRecord, const std::string& sStatus) {
    const std::string s = StatusJson(sRecord);
    EXPECT_TRUE(Has(s, "\"status\": \"" + sStatus + "\"")) << s;
  }
  std::vector<zkfiler::CheckpointView> Checkpoints() {
    std::vector<zkfiler::CheckpointView> v;
    EXPECT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
    return v;
  }
  std::vector<zkfiler::ExportView> CheckpointExports() {
    std::vector<zkfiler::ExportView> vAll, v;
    EXPECT_TRUE(zkfiler::ListExports(kControlHost, &vAll).ok());
    for (const auto& e : vAll) {
      for (const auto& c : Checkpoints()) {
        if (c.id == e.fs_id) v.push_back(e);
      }
    }
    return v;
  }
  void Step(const std::string& sOperation, const std::string& sRecord) {
    const RunResult r = Z({sOperation, sRecord});
    EXPECT_EQ(0, r.nExit) << sOperation << "\n" << r.sOut << r.sErr;
    EXPECT_TRUE(Has(r.sOut, sOperation + ": RESULT_SUCCESS")) << r.sOut;
  }
};

TEST_P(LifecycleTest, EveryOperationInItsOwnProcess) {
  const Kind& k = GetParam();
  const std::string sRecord = k.pszRecord;
  const std::string kCheckpoint = CheckpointOf(sRecord);
  InitWithFileServer();
  AddDevices();
  UseFilerStore();

  Step("prepare", sRecord);
  ExpectStatus(sRecord, "READY_FOR_SNAP");
  EXPECT_TRUE(Has(StatusJson(sRecord), kCheckpoint));
  EXPECT_TRUE(Checkpoints().empty());

  Step("snap", sRecord);
  ExpectStatus(sRecord, "SNAP_SUCCESS");
  std::vector<zkfiler::CheckpointView> v = Checkpoints();
  ASSERT_EQ(1u, v.size());
  EXPECT_EQ(kCheckpoint, v[0].name);
  EXPECT_EQ(k.pszFsId, v[0].fs_id);
  const std::string sSnapId = v[0].id;
  EXPECT_TRUE(Has(StatusJson(sRecord), kCheckpoint + " (" + sSnapId + ")"));

  Step("map", sRecord);
  ExpectStatus(sRecord, "MAP_SUCCESS");
  v = Checkpoints();
  ASSERT_EQ(2u, v.size());
  EXPECT_TRUE(v[1].writable);
  EXPECT_EQ(sSnapId, v[1].baseline_id);
  std::vector<zkfiler::ExportView> vExports = CheckpointExports();
  ASSERT_EQ(1u, vExports.size());
  EXPECT_EQ(v[1].id, vExports[0].fs_id);
  bool bHost = false;
  for (const std::string& s : vExports[0].access_hosts) {
    bHost |= s == k.pszMountHost;
  }
  EXPECT_TRUE(bHost) << "export not open to " << k.pszMountHost;
  // The snap device names the export.
  EXPECT_TRUE(Has(StatusJson(sRecord), vExports[0].path));
  RunResult r = Z({"--json", "orphans"});
  EXPECT_EQ(0, r.nExit);
  EXPECT_TRUE(Has(r.sOut, "\"checkpoints\": []")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"exports\": []")) << r.sOut;

  Step("unmap", sRecord);
  ExpectStatus(sRecord, "UNMAP_SUCCESS");
  EXPECT_TRUE(CheckpointExports().empty());
  EXPECT_EQ(1u, Checkpoints().size());

  Step("revert", sRecord);
  ExpectStatus(sRecord, "REVERT_SUCCESS");
  zkfiler::FileSystemDef oFs;
  ASSERT_TRUE(zkfiler::GetFileSystem(kControlHost, k.pszFsId, &oFs).ok());
  EXPECT_EQ(1, oFs.restores);

  Step("reconcile", sRecord);  // the checkpoint is there: status kept
  ExpectStatus(sRecord, "REVERT_SUCCESS");

  Step("delete", sRecord);
  ExpectStatus(sRecord, "DELETE_SUCCESS");
  EXPECT_TRUE(Checkpoints().empty());

  Step("reconcile", sRecord);
  ExpectStatus(sRecord, "SNAP_NOT_FOUND");

  r = Z({"--json", "log", sRecord});
  EXPECT_EQ(0, r.nExit);
  for (const char* psz :
       {"prepare", "snap", "map", "unmap", "revert", "reconcile", "delete"}) {
    EXPECT_TRUE(Has(r.sOut, std::string("\"operation\": \"") + psz + "\""))
        << psz;
  }
  EXPECT_EQ("ok\n", IntegrityCheck());
}

INSTANTIATE_TEST_SUITE_P(Kinds, LifecycleTest,
                         ::testing::Values(Kind{"nfs1", "101", "10.60.0.9"},
                                           Kind{"nas1", "103", "10.60.0.9"},
                                           Kind{"vm1", "102", "10.60.0.5"}),
                         [](const ::testing::TestParamInfo<Kind>& o) {
                           return std::string(o.param.pszRecord);
                         });

// One group: the three devices lie on three file systems, so snap makes
// three checkpoints in one job, and delete removes them all.
TEST_F(ZksnapTest, SnapGroupRunsTogether) {
  InitWithFileServer();
  AddDevices();
  UseFilerStore();
  for (const char* psz : {"prepare", "snap"}) {
    const RunResult r = Z({psz, "--snap-name", "g1"});
    ASSERT_EQ(0, r.nExit) << psz << "\n" << r.sOut << r.sErr;
  }
  std::vector<zkfiler::CheckpointView> v;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
  EXPECT_EQ(3u, v.size());
  RunResult r = Z({"--json", "status", "--snap-name", "g1"});
  EXPECT_EQ(3, [&] {
    int n = 0;
    for (size_t p = r.sOut.find("\"SNAP_SUCCESS\""); p != std::string::npos;
         p = r.sOut.find("\"SNAP_SUCCESS\"", p + 1)) {
      ++n;
    }
    return n;
  }()) << r.sOut;
  r = Z({"delete", "--snap-name", "g1"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
  EXPECT_TRUE(v.empty());
}

// The demo runs the whole lifecycle by itself and says so, and tells the
// story with data: a report overwritten after the snap is read as it was
// from the clone (over NFS when this machine can serve it), and revert
// gives it back to production. It leaves no NFS server running.
TEST_F(ZksnapTest, DemoRunsTheWholeLifecycle) {
  const RunResult r = Raw({"demo"}, "", {"TMPDIR=" + m_sTmp});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "the whole lifecycle ran")) << r.sOut;
  for (const char* psz : {"prepare: RESULT_SUCCESS", "snap: RESULT_SUCCESS",
                          "map: RESULT_SUCCESS", "unmap: RESULT_SUCCESS",
                          "revert: RESULT_SUCCESS", "delete: RESULT_SUCCESS"}) {
    EXPECT_TRUE(Has(r.sOut, psz)) << psz;
  }
  EXPECT_FALSE(Has(r.sOut, "Demo-Pw!7731"));
  EXPECT_FALSE(Has(r.sErr, "Demo-Pw!7731"));

  const bool bServes = zkfiler::ServeCannotRun().empty();
  const std::string sOld = "Q3: 1200 units shipped\n";
  const std::string sNew = "Q3: 0 units shipped (overwritten by mistake)\n";
  // Each in this order: production changed, the clone read, the revert,
  // production as it was.
  const std::vector<std::string> vStory = {
      "zkfiler data get fs_home /reports/q3.txt\n" + sNew,
      bServes ? "zksnap clone cat nfs-home /reports/q3.txt --port "
              : "zkfiler data get demo_nfs--home_",
      "\n" + sOld + "-> exit status 0",
      "zksnap revert --snap-name demo",
      "zkfiler data get fs_home /reports/q3.txt\n" + sOld,
  };
  size_t nAt = 0;
  for (const std::string& s : vStory) {
    nAt = r.sOut.find(s, nAt);
    ASSERT_NE(std::string::npos, nAt) << s << "\n" << r.sOut;
  }
  EXPECT_TRUE(Has(
      r.sOut, bServes ? "(read over NFS)" : "(read from the data directory"))
      << r.sOut;
  EXPECT_EQ(0, zknfs::GaneshaNaming(m_sTmp)) << "the demo left a server";
}

// Without root the demo still runs, reads the clone from the file server's
// data directory, and says that serving NFS needs root.
TEST_F(ZksnapTest, DemoWithoutRootReadsTheDataDirectory) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the demo as nobody";
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv";
  const std::string sTmp = m_sTmp + "/nobody";
  ASSERT_EQ(0, mkdir(sTmp.c_str(), 0777));
  ASSERT_EQ(0, chmod(sTmp.c_str(), 0777));
  ASSERT_EQ(0, chmod(m_sTmp.c_str(), 0711));
  const std::string sAsNobody =
      "TMPDIR=" + sTmp +
      " setpriv --reuid=65534 --regid=65534 --clear-groups " + ZKSNAP_PATH;
  if (std::system((sAsNobody + " --version >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << "nobody cannot run " << ZKSNAP_PATH
                 << " (a folder on its path is closed to others)";
  }
  std::string sOut;
  FILE* p = popen((sAsNobody + " demo 2>&1").c_str(), "r");
  ASSERT_NE(nullptr, p);
  char a[4096];
  for (size_t n; (n = fread(a, 1, sizeof a, p)) > 0;) sOut.append(a, n);
  const int nStatus = pclose(p);
  EXPECT_EQ(0, nStatus) << sOut;
  EXPECT_TRUE(Has(sOut, "not serving over NFS: zkfiler serve needs root"))
      << sOut;
  EXPECT_TRUE(Has(sOut, "/reports/q3.txt\nQ3: 1200 units shipped\n-> exit"))
      << sOut;
  EXPECT_TRUE(Has(sOut,
                  "(read from the data directory: NFS serving needs "
                  "root and nfs-ganesha)"))
      << sOut;
}

}  // namespace
}  // namespace zktest

namespace zktest {
namespace {

// Three records on one file system share its checkpoint, its writable
// checkpoint and the export: mapped, unmapped and deleted in one call each;
// every step succeeds, the file server ends as it began and orphans finds
// nothing (ZksnapShared_test.cpp: calls that leave some of them out).
TEST_F(ZksnapTest, RecordsOfOneFileSystemShareTheirSnapshot) {
  InitWithFileServer();
  for (const char* psz : {"s1", "s2", "s3"}) {
    const RunResult r = Z({"device", "add", psz, "--snap-name", "share",
                           "--nfs", "/fs_nfs", "--filer", kFiler});
    ASSERT_EQ(0, r.nExit) << r.sErr;
  }
  UseFilerStore();
  std::vector<zkfiler::CheckpointView> vBefore;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &vBefore).ok());
  for (const char* psz : {"prepare", "snap", "map"}) {
    const RunResult r = Z({psz, "--snap-name", "share"});
    ASSERT_EQ(0, r.nExit) << psz << "\n" << r.sOut << r.sErr;
  }

  RunResult r = Z({"unmap", "s1", "s2", "s3"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_FALSE(Has(r.sOut + r.sErr, "left out")) << r.sOut << r.sErr;
  r = Z({"delete", "--snap-name", "share"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  std::vector<zkfiler::CheckpointView> vAfter;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &vAfter).ok());
  EXPECT_EQ(vBefore.size(), vAfter.size());
  r = Z({"orphans"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_FALSE(Has(r.sOut, "share_")) << r.sOut;
}

}  // namespace
}  // namespace zktest
