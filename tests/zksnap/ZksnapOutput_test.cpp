// SPDX-License-Identifier: Apache-2.0
// What zksnap prints is its own text, untouched: no password is ever in it,
// so nothing in it is rewritten, whatever the password is; a failed write of
// the output is an error; the state files that hold a login are private;
// JSON stays valid UTF-8 whatever bytes a text holds.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

class OddPasswordTest : public ZksnapTest,
                        public ::testing::WithParamInterface<const char*> {};

// Legal passwords that are part of ordinary output: a digit, the user name.
TEST_P(OddPasswordTest, OutputIsNeverRewritten) {
  const std::string sPassword = GetParam();
  std::string sLayout = ReadFile(m_sTmp + "/layout.txt");
  const std::string sLogin = "login nasadmin \"" + std::string(kPassword);
  ASSERT_NE(std::string::npos, sLayout.find(sLogin));
  sLayout.replace(sLayout.find(sLogin), sLogin.size(),
                  "login nasadmin \"" + sPassword);
  {
    std::ofstream o(m_sTmp + "/odd.txt");
    o << sLayout;
  }
  ASSERT_EQ(0, Z({"init"}).nExit);
  ASSERT_EQ(0, Z({"filer", "load", m_sTmp + "/odd.txt"}).nExit);
  RunResult r = Z({"array", "add", kFiler, "--control-host", kControlHost,
                   "--user", "nasadmin", "--password-env", "PW"},
                  "", {"PW=" + sPassword});
  ASSERT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "user nasadmin)")) << r.sOut;
  ASSERT_EQ(0, Z({"device", "add", "rec1", "--snap-name", "g1", "--nfs",
                  "/fs_nfs", "--filer", kFiler})
                   .nExit);
  std::string sAll;
  for (const char* psz : {"prepare", "snap"}) {
    r = Z({"--json", psz, "rec1"});
    EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
    sAll += r.sOut + r.sErr;
  }
  EXPECT_TRUE(Has(sAll, "\"job\": 2,")) << sAll;
  EXPECT_TRUE(Has(sAll, "\"name\": \"rec1\"")) << sAll;
  for (const std::vector<std::string>& v :
       std::vector<std::vector<std::string>>{{"status"},
                                             {"log", "rec1"},
                                             {"array", "list"},
                                             {"-vvv", "reconcile", "rec1"}}) {
    r = Z(v);
    EXPECT_EQ(0, r.nExit) << r.sErr;
    sAll += r.sOut + r.sErr;
  }
  EXPECT_TRUE(Has(sAll, "g1_rec1_1700000000 (")) << sAll;
  // The plug-in's own debug line shows the array information masked.
  const std::string sOwn = "hostPassword:****";
  for (size_t n = sAll.find(sOwn); n != std::string::npos;
       n = sAll.find(sOwn)) {
    sAll.erase(n, sOwn.size());
  }
  EXPECT_FALSE(Has(sAll, "****")) << sAll;
  EXPECT_FALSE(Has(sAll, "withheld")) << sAll;
  EXPECT_FALSE(Has(sAll, "wrote an array password")) << sAll;
}

INSTANTIATE_TEST_SUITE_P(Passwords, OddPasswordTest,
                         ::testing::Values("1", "nasadmin"));

// Every state file that holds a login is private, however it was made.
TEST_F(ZksnapTest, StateFilesWithALoginArePrivate) {
  for (const std::vector<std::string>& v :
       std::vector<std::vector<std::string>>{
           {"init"}, {"filer", "load", m_sTmp + "/layout.txt"}}) {
    ASSERT_EQ(0, Z(v).nExit);
    for (const char* pszFile : {"/catalog.db", "/filer.db"}) {
      struct stat oStat;
      ASSERT_EQ(0, stat((m_sState + pszFile).c_str(), &oStat)) << pszFile;
      EXPECT_EQ(0u, oStat.st_mode & 077)
          << pszFile << " " << std::oct << oStat.st_mode;
    }
  }
}

// Output that cannot be written is an error, said on stderr.
TEST_F(ZksnapTest, AFailedWriteOfTheOutputIsAnError) {
  ASSERT_EQ(0, Z({"init"}).nExit);
  for (const char* pszArgs :
       {"--json status", "status", "config list", "--help", "status --help",
        "--version", "--json --version"}) {
    const std::string sCommand = std::string(ZKSNAP_PATH) + " --state " +
                                 m_sState + " " + pszArgs + " >/dev/full 2>" +
                                 m_sTmp + "/err";
    const int nStatus = std::system(sCommand.c_str());
    ASSERT_TRUE(WIFEXITED(nStatus)) << pszArgs;
    EXPECT_EQ(1, WEXITSTATUS(nStatus)) << pszArgs;
    EXPECT_TRUE(Has(ReadFile(m_sTmp + "/err"),
                    "zksnap: cannot write the output: No space left"))
        << pszArgs;
  }
}

// A closed pipe is a failed write too, never a silent death by SIGPIPE;
// the command's work was kept.
TEST_F(ZksnapTest, AClosedPipeIsAFailedWrite) {
  InitWithFileServer();
  AddDevices();
  for (const char* pszCommand : {"prepare", "log"}) {
    int aPipe[2];
    ASSERT_EQ(0, pipe(aPipe));
    close(aPipe[0]);  // nobody reads
    const std::string sErr = m_sTmp + "/err";
    const pid_t nPid = fork();
    ASSERT_NE(-1, nPid);
    if (nPid == 0) {
      dup2(aPipe[1], 1);
      const int nErr = open(sErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(nErr, 2);
      const bool bAll = std::string(pszCommand) == "prepare";
      execl(ZKSNAP_PATH, ZKSNAP_PATH, "--state", m_sState.c_str(), pszCommand,
            bAll ? "--all" : static_cast<char*>(nullptr),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(aPipe[1]);
    int nStatus = 0;
    ASSERT_EQ(nPid, waitpid(nPid, &nStatus, 0));
    ASSERT_TRUE(WIFEXITED(nStatus)) << pszCommand << " " << nStatus;
    EXPECT_EQ(1, WEXITSTATUS(nStatus)) << pszCommand;
    EXPECT_TRUE(
        Has(ReadFile(sErr), "zksnap: cannot write the output: Broken pipe"))
        << ReadFile(sErr);
  }
  EXPECT_TRUE(Has(StatusJson("nfs1"), "\"status\": \"READY_FOR_SNAP\""));
}

// --version names a plug-in that does not load as an error; --json gives
// JSON.
TEST_F(ZksnapTest, VersionSaysWhenThePlugInDoesNotLoad) {
  RunResult r = Raw({"--plugin", m_sTmp + "/nope.so", "--version"});
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "zksnap 1.0.0")) << r.sOut;
  EXPECT_TRUE(Has(r.sErr, "zksnap: cannot load the plug-in: ")) << r.sErr;
  EXPECT_EQ(1, LineCount(r.sErr)) << r.sErr;
  r = Raw({"--json", "--version"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "\"zksnap\": \"1.0.0\"")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"version\": \"1.")) << r.sOut;
}

// A record's texts are UTF-8: other bytes are refused before they could
// reach JSON output.
TEST_F(ZksnapTest, DeviceTextsMustBeUtf8) {
  InitWithFileServer();
  for (const char* pszPath : {"/fs_\xff", "/fs_\xc3", "/fs\x01"}) {
    const RunResult r =
        Z({"device", "add", "d1", "--nfs", pszPath, "--filer", kFiler});
    EXPECT_EQ(2, r.nExit) << pszPath;
    EXPECT_TRUE(Has(r.sErr, "--nfs holds")) << r.sErr;
  }
  EXPECT_EQ(
      0, Z({"device", "add", "d1", "--nfs", "/fs_\xc3\xa9", "--filer", kFiler})
             .nExit);
  EXPECT_TRUE(Has(StatusJson("d1"), "/fs_\xc3\xa9")) << StatusJson("d1");
}

}  // namespace
}  // namespace zktest
