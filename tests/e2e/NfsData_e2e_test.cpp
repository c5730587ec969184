// SPDX-License-Identifier: Apache-2.0
// Data through the whole lifecycle with real parts: the simulated file
// server's exports served by `zkfiler serve` (nfs-ganesha) on a free
// loopback port, records snapped, mapped, unmapped and reverted through the
// loaded plug-in, and the clones read by a real NFS client (libnfs, in the
// nfs_probe helper) whose source address is chosen on 127.0.0.0/8 by a
// preload shim, so one machine plays every host of the export lists.
//
// Needs root and nfs-ganesha (the README's test command installs it and CI
// runs as root); skips with a message otherwise.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filer/FilerFiles.h"
#include "filerdata/FilerData.h"
#include "nfsserve/FilerServe.h"
#include "tests/e2e/LifecycleFixture.h"
#include "tests/nfsserve/ServedFiler.h"

namespace zke2e {
namespace {

// Addresses of the hosts the test plays, all on the loopback range.
const char kClientAddr[] = "127.0.0.2";  // this host (kClientHost)
const char kEsxAddr[] = "127.0.0.3";     // the ESX host
const char kVmk1[] = "127.0.0.4";        // its VMkernel addresses
const char kVmk2[] = "127.0.0.5";
const char kStranger[] = "127.0.0.9";  // named in no list
const char kReader[] = "127.0.0.6";    // read-only host of a test export
const char kWriter[] = "127.0.0.7";    // read-write root host of it

struct ProcessRun {
  int status = -1;
  std::string out;
};

// Runs argv with extra environment, collecting stdout and stderr.
ProcessRun Spawn(const std::vector<std::string>& argv,
                 const std::vector<std::string>& env) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  ProcessRun run;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) run.out.append(buf, n);
  ::close(fds[0]);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

// Every entry below `dir` by relative path with its bytes ("<dir>" for a
// directory), to compare trees byte for byte.
void Walk(const std::string& dir, const std::string& rel,
          std::map<std::string, std::string>* out) {
  DIR* d = ::opendir((dir + rel).c_str());
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  for (const std::string& name : names) {
    const std::string path = rel + "/" + name;
    struct stat st;
    if (::lstat((dir + path).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      (*out)[path] = "<dir>";
      Walk(dir, path, out);
    } else {
      std::ifstream in(dir + path, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      (*out)[path] = text.str();
    }
  }
}

std::map<std::string, std::string> Tree(const std::string& dir) {
  std::map<std::string, std::string> out;
  Walk(dir, "", &out);
  return out;
}

class NfsDataTest : public LifecycleTest {
 protected:
  void SetUp() override {
    const std::string sSkip = zkfiler::ServeCannotRun();
    if (!sSkip.empty()) GTEST_SKIP() << sSkip;
    char tmpl[] = "/tmp/zk_nfs_e2e_XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(tmpl));
    m_sDir = tmpl;
    m_sDb = m_sDir + "/filer.db";
    LifecycleTest::SetUp();
    if (HasFatalFailure()) return;
    // The hosts the plug-in names in exports resolve to loopback addresses.
    const char* pHosts = getenv("ZK_HOSTS_FILE");
    std::ifstream in(pHosts);
    std::string sLine, sKept;
    while (std::getline(in, sLine)) {
      if (sLine.find(kClientHost) == std::string::npos &&
          sLine.find(kEsxName) == std::string::npos) {
        sKept += sLine + "\n";
      }
    }
    in.close();
    std::ofstream(pHosts, std::ios::trunc)
        << sKept << kClientAddr << " " << kClientHost << "\n"
        << kEsxAddr << " " << kEsxName << "\n";
    StartServer();
  }

  void TearDown() override {
    StopServer();
    if (!m_sDir.empty()) {
      EXPECT_EQ(0, zknfs::GaneshaNaming(m_sDir)) << "a server was left running";
      zkfiler::UseInMemoryStore();
      zkfiler::data::RemoveTree(m_sDir);
    }
    if (!IsSkipped()) LifecycleTest::TearDown();
  }

  void InstallFileServers() override {
    ASSERT_TRUE(zkfiler::CreateStateFile(m_sDb).ok());
    ASSERT_TRUE(zkfiler::Reset().ok());
    for (const zkfiler::ServerLayout& oLayout :
         {FileServerOne(), FileServerTwo()}) {
      const zkfiler::Status oStatus = zkfiler::Install(oLayout);
      ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
    }
  }

  void StartServer() {
    const std::string sError = m_oServer.Start(ZKFILER_BIN, m_sDb);
    ASSERT_EQ("", sError);
    m_nPort = m_oServer.Port();
  }

  void StopServer() { EXPECT_TRUE(m_oServer.Stop()); }

  // The NFS client as host `sAddr`.
  ProcessRun Probe(const std::string& sAddr, const std::string& sExport,
                   const std::string& sOp, const std::string& sPath,
                   const std::string& sText = "") {
    std::vector<std::string> vArgs = {ZK_NFS_PROBE, std::to_string(m_nPort),
                                      sExport, sOp, sPath};
    if (sOp == "write") vArgs.push_back(sText);
    return Spawn(vArgs, {std::string("LD_PRELOAD=") + ZK_NFS_SHIM,
                         "ZK_NFS_SOURCE_ADDR=" + sAddr});
  }

  // Waits until the server has taken up a change of its exports (it polls
  // the state file) as host sAddr sees it.
  bool AwaitExport(const std::string& sAddr, const std::string& sExport,
                   bool bPresent) {
    for (int i = 0; i < 200; ++i) {
      const bool bMounts = Probe(sAddr, sExport, "ls", "/").status == 0;
      if (bMounts == bPresent) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  void Put(const std::string& sHost, const std::string& sFs,
           const std::string& sPath, const std::string& sText) {
    const zkfiler::Status s = zkfiler::PutData(sHost, sFs, sPath, sText);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  std::string Get(const std::string& sHost, const std::string& sFs,
                  const std::string& sPath) {
    std::string sText;
    const zkfiler::Status s = zkfiler::GetData(sHost, sFs, sPath, &sText);
    return s.ok() ? sText : "<" + s.message() + ">";
  }

  std::string m_sDir, m_sDb;
  zknfs::ServedFiler m_oServer;
  int m_nPort = 0;
};

std::string LoopbackHostIdentifier() {
  return std::string("{vcname:vc1.zk.test,esxname:") + kEsxName +
         ",vmkernel:" + kVmk1 + "|" + kVmk2 + "|,password:" + kPassword + "}";
}

TEST_F(NfsDataTest, ClonesHoldTheFilesOfTheSnapOverNfsAndRevertRestoresThem) {
  const std::string T = std::to_string(m_nNow);
  // Production data of the four kinds of record.
  Put(kCs1, "fs1", "/doc.txt", "fs1 at the snap");
  Put(kCs1, "fs2", "/dirA/doc.txt", "fs2 at the snap");
  Put(kCs1, "fs3", "/ds/vm.vmx", "fs3 at the snap");
  Put(kCs2, "fs2", "/ds1/disk.vmdk", "cs2 fs2 at the snap");
  const std::map<std::string, std::string> mAtSnap = {
      {"/doc.txt", "fs1 at the snap"}};

  zkref::MemSnapInfo* pNfs = NewRecord(NfsExportDevice("/fs1", kNas1), "nfs");
  pNfs->sHostIdentifier = LoopbackHostIdentifier();
  zkref::MemSnapInfo* pVdm = WithMountSource(
      NewRecord(NasDevice("/root_vdm_3/fs3/ds", kNas1, true), "vdm"), 1);
  pVdm->sHostIdentifier = LoopbackHostIdentifier();
  zkref::MemSnapInfo* pDs =
      WithMountSource(NewRecord(NasDevice("/fs2/ds1", kNas2, true), "ds"), 5);
  pDs->sHostIdentifier = LoopbackHostIdentifier();
  std::vector<zkref::MemSnapInfo*> vRecords = Snapped({
      pNfs,
      WithMountSource(NewRecord(NasDevice("/fs2/dirA", kNas1, false), "nat"),
                      2),
      pVdm,
      pDs,
  });
  ASSERT_FALSE(HasFailure());

  // Production moves on after the snap.
  Put(kCs1, "fs1", "/doc.txt", "fs1 changed");
  Put(kCs1, "fs1", "/new.txt", "made after the snap");
  Put(kCs1, "fs2", "/dirA/doc.txt", "fs2 changed");
  Put(kCs1, "fs3", "/ds/vm.vmx", "fs3 changed");
  Put(kCs2, "fs2", "/ds1/disk.vmdk", "cs2 fs2 changed");

  std::vector<zkref::MemSnapInfo*> vMap = CarryAll(vRecords);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vMap)) << m_oSink.Dump();
  struct Clone {
    const char* sExportPrefix;
    std::string sHostAddr;  // a host of its export list
    const char* sPath;      // a file in it
    const char* sAtSnap;
  };
  const Clone aClones[] = {
      {"/nfs_", kEsxAddr, "/doc.txt", "fs1 at the snap"},
      {"/nat_", kClientAddr, "/dirA/doc.txt", "fs2 at the snap"},
      {"/vdm_", kVmk1, "/ds/vm.vmx", "fs3 at the snap"},
      {"/ds_", kVmk2, "/ds1/disk.vmdk", "cs2 fs2 at the snap"},
  };
  for (const Clone& c : aClones) {
    const std::string sExport = c.sExportPrefix + T + "_RW";
    SCOPED_TRACE(sExport);
    ASSERT_TRUE(AwaitExport(c.sHostAddr, sExport, true))
        << Probe(c.sHostAddr, sExport, "ls", "/").out;
    const ProcessRun oRead = Probe(c.sHostAddr, sExport, "cat", c.sPath);
    EXPECT_EQ(0, oRead.status) << oRead.out;
    EXPECT_EQ(c.sAtSnap, oRead.out);
    // A host in no list of the export cannot even see it.
    const ProcessRun oStranger = Probe(kStranger, sExport, "cat", c.sPath);
    EXPECT_NE(0, oStranger.status);
    EXPECT_EQ(std::string::npos, oStranger.out.find(c.sAtSnap));
  }
  EXPECT_EQ("fs1 changed", Get(kCs1, "fs1", "/doc.txt"));
  // The NFS datastore's clone is not offered to this host, the native
  // one not to the ESX host.
  EXPECT_NE(0, Probe(kClientAddr, "/nfs_" + T + "_RW", "ls", "/").status);
  EXPECT_NE(0, Probe(kEsxAddr, "/nat_" + T + "_RW", "ls", "/").status);

  // Unmap: every export is gone for every client.
  std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(vMap);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vUnmap)) << m_oSink.Dump();
  for (const Clone& c : aClones) {
    const std::string sExport = c.sExportPrefix + T + "_RW";
    EXPECT_TRUE(AwaitExport(c.sHostAddr, sExport, false)) << sExport;
    for (const char* sAddr : {kClientAddr, kEsxAddr, kVmk1, kVmk2}) {
      EXPECT_NE(0, Probe(sAddr, sExport, "ls", "/").status)
          << sExport << " from " << sAddr;
    }
  }

  // Revert: production is exactly the checkpoint again.
  std::vector<zkref::MemSnapInfo*> vRevert = CarryAll(vUnmap);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Revert(vRevert)) << m_oSink.Dump();
  const std::string sRoot = zkfiler::DataRoot();
  struct Production {
    const char* sHost;
    const char* sFsId;
    size_t nRecord;
  };
  for (const Production& p :
       {Production{kCs1, "101", 0}, Production{kCs1, "102", 1},
        Production{kCs1, "103", 2}, Production{kCs2, "102", 3}}) {
    SCOPED_TRACE(std::string(p.sHost) + " " + p.sFsId);
    const auto mFs = Tree(zkfiler::data::FsDir(sRoot, p.sHost, p.sFsId));
    const auto mCkpt = Tree(zkfiler::data::CheckpointDir(
        sRoot, p.sHost, ChkptId(*vRecords[p.nRecord])));
    EXPECT_FALSE(mFs.empty());
    EXPECT_EQ(mCkpt, mFs);
  }
  EXPECT_EQ(mAtSnap, Tree(zkfiler::data::FsDir(sRoot, kCs1, "101")));
}

TEST_F(NfsDataTest, HostListsOfAnExportAreTheServersClientRules) {
  Put(kCs1, "fs2", "/shared/readme.txt", "for every listed host");
  // An export made while the server runs: one read-only host, one
  // read-write host with root access.
  ManageCelerra oClient(7);
  oClient.SetControlHostInfo(kCs1, "nasadmin", kPassword);
  std::vector<std::string> vAccess = {kReader, kWriter}, vRw = {kWriter},
                           vRoot = {kWriter};
  ASSERT_TRUE(
      oClient.CreateNFSShare("/fs2/shared", "2", false, vAccess, vRw, vRoot));
  ASSERT_TRUE(AwaitExport(kReader, "/fs2/shared", true));
  for (const char* sAddr : {kReader, kWriter}) {
    const ProcessRun oRead = Probe(sAddr, "/fs2/shared", "cat", "/readme.txt");
    EXPECT_EQ(0, oRead.status) << sAddr << ": " << oRead.out;
    EXPECT_EQ("for every listed host", oRead.out) << sAddr;
  }
  const ProcessRun oDenied =
      Probe(kReader, "/fs2/shared", "write", "/r.txt", "x");
  EXPECT_NE(0, oDenied.status) << oDenied.out;
  EXPECT_EQ("<", Get(kCs1, "fs2", "/shared/r.txt").substr(0, 1));
  const ProcessRun oWrote =
      Probe(kWriter, "/fs2/shared", "write", "/w.txt", "y");
  EXPECT_EQ(0, oWrote.status) << oWrote.out;
  EXPECT_EQ("y", Get(kCs1, "fs2", "/shared/w.txt"));
  EXPECT_NE(0, Probe(kStranger, "/fs2/shared", "ls", "/").status);

  // Deleted while it runs: gone.
  ASSERT_TRUE(oClient.DeleteNFSShare("/fs2/shared", "2"));
  EXPECT_TRUE(AwaitExport(kWriter, "/fs2/shared", false));
  // An export with no host lists is open to every host (the files of
  // the one deleted above are now seen through it).
  std::vector<std::string> vNone;
  ASSERT_TRUE(oClient.CreateNFSShare("/fs2", "2", false, vNone, vNone, vNone));
  ASSERT_TRUE(AwaitExport(kStranger, "/fs2", true));
  const ProcessRun oOpen =
      Probe(kStranger, "/fs2", "cat", "/shared/readme.txt");
  EXPECT_EQ("for every listed host", oOpen.out);
}

// A revert changes the served directory's contents, not the directory:
// the next read of the production export (a new mount, as each probe is)
// gets the checkpoint's bytes, and the export stays served; so does a load
// of a layout whose data= seed replaces a served file system's files.
TEST_F(NfsDataTest, ClientsReadWhatRevertRestoredAtOnce) {
  ManageCelerra oClient(8);
  oClient.SetControlHostInfo(kCs1, "nasadmin", kPassword);
  std::vector<std::string> vNone;
  ASSERT_TRUE(oClient.CreateNFSShare("/fs2", "2", false, vNone, vNone, vNone));
  Put(kCs1, "fs2", "/doc.txt", "at the snap");
  Put(kCs1, "fs2", "/dir/kept.txt", "kept");
  ASSERT_TRUE(AwaitExport(kStranger, "/fs2", true));
  ASSERT_EQ("at the snap", Probe(kStranger, "/fs2", "cat", "/doc.txt").out);
  std::string sId;
  ASSERT_TRUE(
      oClient.CreateROChkPt("102", CELERRA_STG_UXFS, "pool_gold", "rev1", sId))
      << oClient.GetLastError().sMessage;

  for (int nRound = 0; nRound < 3; ++nRound) {
    SCOPED_TRACE(nRound);
    Put(kCs1, "fs2", "/doc.txt", "changed " + std::to_string(nRound));
    Put(kCs1, "fs2", "/dir/kept.txt", "changed too");
    // Read the changed files, so the server holds them.
    EXPECT_EQ("changed " + std::to_string(nRound),
              Probe(kStranger, "/fs2", "cat", "/doc.txt").out);
    EXPECT_EQ("changed too",
              Probe(kStranger, "/fs2", "cat", "/dir/kept.txt").out);
    ASSERT_TRUE(oClient.RestorePFSFromChkPt("rev1", sId, "102"))
        << oClient.GetLastError().sMessage;
    const ProcessRun oDoc = Probe(kStranger, "/fs2", "cat", "/doc.txt");
    EXPECT_EQ(0, oDoc.status) << oDoc.out;
    EXPECT_EQ("at the snap", oDoc.out);
    EXPECT_EQ("kept", Probe(kStranger, "/fs2", "cat", "/dir/kept.txt").out);
  }

  // A load whose seed replaces the served file system's files.
  const std::string sSeed = m_sDir + "/seed";
  ASSERT_EQ(0, ::mkdir(sSeed.c_str(), 0755));
  std::ofstream(sSeed + "/doc.txt") << "from the seed";
  const std::string sLayout = m_sDir + "/seed_layout.txt";
  std::ofstream(sLayout) << "server " << kCs1 << "\n  login nasadmin \""
                         << kPassword << "\"\n  mover 2\n"
                         << "  fs 102 name=fs2 mover=2 mount=/fs2 data=seed\n"
                         << "  export /fs2 mover=2\n";
  const zkfiler::Status oLoad = zkfiler::LoadStateFile(m_sDb, sLayout, false);
  ASSERT_TRUE(oLoad.ok()) << oLoad.ToString();
  const ProcessRun oSeeded = Probe(kStranger, "/fs2", "cat", "/doc.txt");
  EXPECT_EQ(0, oSeeded.status) << oSeeded.out;
  EXPECT_EQ("from the seed", oSeeded.out);
  EXPECT_NE(0, Probe(kStranger, "/fs2", "cat", "/dir/kept.txt").status);
}

}  // namespace
}  // namespace zke2e
