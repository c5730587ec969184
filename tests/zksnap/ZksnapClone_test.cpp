// SPDX-License-Identifier: Apache-2.0
// 'zksnap clone ls|cat' against the file server's exports served by
// `zkfiler serve` on a free loopback port: the clone of every kind of
// record holds the files as they were at the snap while production has
// moved on, an export that does not name this host is refused, and bad
// input is said plainly.
//
// Needs root and nfs-ganesha; skips with a message otherwise.
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "filer/FilerFiles.h"
#include "filerdata/FilerData.h"
#include "nfsserve/FilerServe.h"
#include "tests/nfsserve/ServedFiler.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

class ZksnapCloneTest : public ZksnapTest {
 protected:
  void SetUp() override {
    const std::string sSkip = zkfiler::ServeCannotRun();
    if (!sSkip.empty()) GTEST_SKIP() << sSkip;
    ZksnapTest::SetUp();
    InitWithFileServer();
    AddDevices();
    UseFilerStore();
    if (HasFatalFailure()) return;
    Put("fs_nfs", "/doc.txt", "nfs at the snap\n");
    Put("fs_nfs", "/dir/deep.txt", "deep at the snap\n");
    Put("fs_vdm", "/d/doc.txt", "vdm at the snap\n");
    Put("fs_ds", "/vm.vmx", "ds at the snap\n");
    ASSERT_EQ("", m_oServer.Start(ZKFILER_BIN, m_sFilerDb));
  }
  void TearDown() override {
    if (IsSkipped()) return;
    EXPECT_TRUE(m_oServer.Stop());
    EXPECT_EQ(0, zknfs::GaneshaNaming(m_sTmp)) << "a server was left running";
    ZksnapTest::TearDown();
  }

  void Put(const std::string& sFs, const std::string& sPath,
           const std::string& sText) {
    const zkfiler::Status s = zkfiler::PutData("", sFs, sPath, sText);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  std::string Production(const std::string& sFs, const std::string& sPath) {
    std::string s;
    const zkfiler::Status o = zkfiler::GetData("", sFs, sPath, &s);
    return o.ok() ? s : "<" + o.message() + ">";
  }
  // zksnap clone ARGS --port PORT
  RunResult Clone(std::vector<std::string> vArgs) {
    vArgs.insert(vArgs.begin(), "clone");
    vArgs.push_back("--port");
    vArgs.push_back(std::to_string(m_oServer.Port()));
    return Z(vArgs);
  }
  void Run(const std::vector<std::string>& vArgs) {
    const RunResult r = Z(vArgs);
    ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
  }
  // Snaps g1, then production changes every file and gains one.
  void SnapThenChangeProduction() {
    Run({"prepare", "--snap-name", "g1"});
    Run({"snap", "--snap-name", "g1"});
    Put("fs_nfs", "/doc.txt", "nfs changed\n");
    Put("fs_nfs", "/new.txt", "made after the snap\n");
    Put("fs_vdm", "/d/doc.txt", "vdm changed\n");
    Put("fs_ds", "/vm.vmx", "ds changed\n");
  }

  zknfs::ServedFiler m_oServer;
};

TEST_F(ZksnapCloneTest, EveryKindOfCloneHoldsTheFilesAsAtTheSnap) {
  // The backup host reading the clones: this machine, over loopback.
  Run({"config", "set", "sCelerraCommaSeparatedAccessHosts", "127.0.0.1"});
  SnapThenChangeProduction();
  Run({"map", "--snap-name", "g1"});

  struct Case {
    const char* pszRecord;
    const char* pszFile;
    const char* pszAtSnap;
    const char* pszNames;  // 'clone ls' of the root, names only
  };
  const Case aCases[] = {
      {"nfs1", "/doc.txt", "nfs at the snap\n", "dir doc.txt"},
      {"nas1", "/d/doc.txt", "vdm at the snap\n", "d"},
      {"vm1", "/vm.vmx", "ds at the snap\n", "vm.vmx"},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.pszRecord);
    RunResult r = Clone({"cat", c.pszRecord, c.pszFile});
    EXPECT_EQ(0, r.nExit) << r.sErr;
    EXPECT_EQ(c.pszAtSnap, r.sOut);
    r = Clone({"ls", c.pszRecord});
    EXPECT_EQ(0, r.nExit) << r.sErr;
    std::string sNames;
    for (size_t n = r.sOut.find('\n') + 1; n < r.sOut.size();) {
      const size_t nEnd = r.sOut.find('\n', n);
      const std::string sLine = r.sOut.substr(n, nEnd - n);
      sNames += (sNames.empty() ? "" : " ") + sLine.substr(0, sLine.find(' '));
      n = nEnd + 1;
    }
    EXPECT_EQ(c.pszNames, sNames) << r.sOut;
  }
  EXPECT_EQ("nfs changed\n", Production("fs_nfs", "/doc.txt"));

  // A sub-directory, as JSON.
  RunResult r = Z({"--json", "clone", "ls", "nfs1", "/dir", "--port",
                   std::to_string(m_oServer.Port())});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "\"name\": \"deep.txt\"")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"type\": \"file\"")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"size\": 17")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"mode\": \"0644\"")) << r.sOut;

  // Unmapped, a record has no clone to read.
  Run({"unmap", "--snap-name", "g1"});
  r = Clone({"ls", "nfs1"});
  EXPECT_EQ(1, r.nExit);
  EXPECT_TRUE(Has(r.sErr,
                  "record nfs1 has no clone to read (status "
                  "UNMAP_SUCCESS): map it first"))
      << r.sErr;
}

// The export names only the hosts the plug-in put in it: this host's name
// resolves to 10.60.0.9, so a reader on 127.0.0.1 is refused, and says why.
TEST_F(ZksnapCloneTest, AnExportThatDoesNotNameThisHostIsRefused) {
  SnapThenChangeProduction();
  Run({"map", "nfs1"});
  const RunResult r = Clone({"cat", "nfs1", "/doc.txt", "--timeout", "0.3"});
  EXPECT_EQ(1, r.nExit);
  EXPECT_EQ("", r.sOut);
  EXPECT_TRUE(Has(r.sErr,
                  "cannot read the clone of record nfs1: NFS server "
                  "127.0.0.1:" +
                      std::to_string(m_oServer.Port()) +
                      ": mount of /g1_nfs1_1700000000_RW refused"))
      << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "name this host among its access hosts")) << r.sErr;
}

TEST_F(ZksnapCloneTest, BadRequestsAreSaidPlainly) {
  Run({"config", "set", "sCelerraCommaSeparatedAccessHosts", "127.0.0.1"});
  // Links a client left: out of the clone (absolute, or by ".." past its
  // root), in a loop, and ones that stay inside it: none is followed.
  const std::string sFs =
      zkfiler::data::FsDir(zkfiler::DataRoot(), "cs1.zs.test", "101");
  for (const auto& oLink : std::vector<std::pair<std::string, std::string>>{
           {"/etc/passwd", "/abs"},
           {"../../../../etc/passwd", "/up"},
           {"../doc.txt", "/dir/back"},
           {"loop", "/loop"},
           {"dir/deep.txt", "/in"},
           {"dir", "/dirlink"}}) {
    ASSERT_EQ(0, ::symlink(oLink.first.c_str(), (sFs + oLink.second).c_str()));
  }
  // A name that would turn the text after it around on a terminal.
  Put("fs_nfs", "/evil\xe2\x80\xaetxt.exe\n", "x");
  SnapThenChangeProduction();
  Run({"map", "nfs1"});
  const std::string sPort = std::to_string(m_oServer.Port());
  const int nDeadPort = zkfiler::FreeLoopbackPort();
  struct Case {
    std::vector<std::string> vArgs;
    int nExit;
    std::string sErr;
  };
  const std::vector<Case> vCases = {
      {{"cat", "nfs1", "/../etc/passwd"}, 2, "has a '..' part"},
      {{"cat", "nfs1", "/dir/./deep.txt"}, 2, "has a '.' part"},
      {{"cat", "nfs1", "doc.txt"}, 2, "must start with /"},
      {{"cat", "nfs1", "/"}, 2, "name a file of the clone"},
      {{"ls", "nobody"}, 1, "no record named nobody"},
      {{"ls", "nas1"},
       1,
       "record nas1 has no clone to read (status "
       "SNAP_SUCCESS): map it first"},
      {{"cat", "nfs1", "/missing.txt"}, 1, "cannot read /missing.txt"},
      {{"cat", "nfs1", "/dir"}, 1, "/dir is a directory"},
      {{"ls", "nfs1", "/doc.txt/x"}, 1, "cannot list /doc.txt/x"},
      {{"cat", "nfs1", "/abs"},
       1,
       "/abs is a symbolic link: not followed (it may lead out of the "
       "clone"},
      {{"cat", "nfs1", "/up"}, 1, "/up is a symbolic link: not followed"},
      {{"cat", "nfs1", "/loop"}, 1, "/loop is a symbolic link: not followed"},
      {{"cat", "nfs1", "/in"}, 1, "/in is a symbolic link: not followed"},
      {{"cat", "nfs1", "/dirlink/deep.txt"},
       1,
       "/dirlink is a symbolic link: not followed"},
      {{"ls", "nfs1", "/dirlink"},
       1,
       "/dirlink is a symbolic link: not followed"},
      {{"cat", "nfs1", "/doc.txt", "--port", std::to_string(nDeadPort)},
       1,
       "nothing answers on 127.0.0.1:" + std::to_string(nDeadPort) +
           " (Connection refused): start the NFS server"},
      {{"cat", "nfs1", "/doc.txt", "--server", ""},
       2,
       "--server names no host"},
  };
  for (const Case& c : vCases) {
    std::vector<std::string> vArgs = {"clone"};
    vArgs.insert(vArgs.end(), c.vArgs.begin(), c.vArgs.end());
    if (std::find(vArgs.begin(), vArgs.end(), "--port") == vArgs.end()) {
      vArgs.insert(vArgs.end(), {"--port", sPort});
    }
    const RunResult r = Z(vArgs);
    SCOPED_TRACE(vArgs[1] + " " + vArgs[2] + " " +
                 (vArgs.size() > 3 ? vArgs[3] : ""));
    EXPECT_EQ(c.nExit, r.nExit) << r.sErr;
    EXPECT_EQ("", r.sOut);
    EXPECT_TRUE(Has(r.sErr, c.sErr)) << r.sErr;
  }
  // The good read still works after all that; links are listed as such.
  RunResult r = Clone({"cat", "nfs1", "/dir/deep.txt"});
  EXPECT_EQ("deep at the snap\n", r.sOut) << r.sErr;
  r = Clone({"ls", "nfs1"});
  EXPECT_TRUE(Has(r.sOut, "\ndirlink ")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut.substr(r.sOut.find("\ndirlink ")), " link "))
      << r.sOut;
  // Names are shown escaped, in the table and in JSON.
  r = Clone({"ls", "nfs1"});
  EXPECT_TRUE(Has(r.sOut, "evil\\u202etxt.exe\\x0a ")) << r.sOut;
  r = Z({"--json", "clone", "ls", "nfs1", "--port", sPort});
  EXPECT_TRUE(Has(r.sOut, "\"evil\\u202etxt.exe\\n\"")) << r.sOut;
  for (const std::string& sOut : {Clone({"ls", "nfs1"}).sOut, r.sOut}) {
    EXPECT_FALSE(Has(sOut, "\xe2\x80\xae")) << sOut;
  }
}

}  // namespace
}  // namespace zktest
