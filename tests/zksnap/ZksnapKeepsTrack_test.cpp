// SPDX-License-Identifier: Apache-2.0
// No zksnap command makes the catalog lose track of what is on the file
// server: commands that would are refused, say what would be lost, and
// change nothing; --force goes on.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

const char kCheckpoint[] = "g1_nfs1_1700000000";

struct Refusal {
  std::vector<std::string> vArgs;
  const char* pszSays;  // the refusal names what would be lost
};

void PrintTo(const Refusal& o, std::ostream* os) {
  for (const std::string& s : o.vArgs) *os << s << " ";
}

class KeepsTrackTest : public ZksnapTest,
                       public ::testing::WithParamInterface<Refusal> {};

// nfs1 snapped and mapped: it holds a checkpoint and a writable checkpoint.
TEST_P(KeepsTrackTest, RefusesWhatWouldLoseACheckpoint) {
  InitWithFileServer();
  AddDevices();
  for (const char* pszOp : {"prepare", "snap", "map"}) {
    ASSERT_EQ(0, Z({pszOp, "nfs1"}).nExit) << pszOp;
  }
  const std::string sBefore = Dump();
  RunResult r = Z(GetParam().vArgs);
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sErr, GetParam().pszSays)) << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "--force")) << r.sErr;
  EXPECT_EQ(sBefore, Dump());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, KeepsTrackTest,
    ::testing::Values(Refusal{{"prepare", "nfs1"},
                              "still holds checkpoint g1_nfs1_1700000000"},
                      Refusal{{"unprepare", "nfs1"},
                              "still holds checkpoint g1_nfs1_1700000000"},
                      Refusal{{"prepare", "--snap-name", "g1"},
                              "record nfs1 still holds checkpoint"},
                      Refusal{{"device", "remove", "nfs1"},
                              "writable checkpoint g1_nfs1_1700000000_RW"}));

// A forced new preparation that fails leaves the record marked as never
// snapped; the plug-in would then mark it deleted without deleting the
// checkpoint, so delete refuses until a preparation succeeds.
TEST_F(ZksnapTest, DeleteAfterAFailedForcedPrepareKeepsTheCheckpoint) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  ASSERT_EQ(0, Z({"snap", "nfs1"}).nExit);
  UseFilerStore();
  zkfiler::FaultRule oFault;
  oFault.command = "GetNFSInfo";
  ASSERT_TRUE(zkfiler::ArmFault(oFault).ok());
  RunResult r = Z({"prepare", "--force", "nfs1"});
  ASSERT_EQ(4, r.nExit) << r.sOut << r.sErr;
  ASSERT_TRUE(zkfiler::ClearFaults().ok());

  r = Z({"delete", "nfs1"});
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "still holds checkpoint " + std::string(kCheckpoint)))
      << r.sErr;
  r = Z({"device", "remove", "nfs1"});
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  std::vector<zkfiler::CheckpointView> v;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
  EXPECT_EQ(1u, v.size());

  // Prepared again, delete removes it.
  ASSERT_EQ(0, Z({"prepare", "--force", "nfs1"}).nExit);
  r = Z({"delete", "nfs1"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(0, Z({"device", "remove", "nfs1"}).nExit);
}

// init --demo on a state that already holds the demo file server.
TEST_F(ZksnapTest, InitDemoKeepsAnExistingFileServer) {
  ASSERT_EQ(0, Z({"init", "--demo"}).nExit);
  ASSERT_EQ(0, Z({"device", "add", "h", "--nfs", "/fs_home", "--filer",
                  "nas1.demo.zk"})
                   .nExit);
  ASSERT_EQ(0, Z({"prepare", "h"}).nExit);
  ASSERT_EQ(0, Z({"snap", "h"}).nExit);
  const std::string sHosts = ReadFile(m_sState + "/hosts");
  {
    std::ofstream o(m_sState + "/hosts", std::ios::app);
    o << "10.10.0.99 mine.example\n";
  }

  RunResult r = Z({"init", "--demo"});
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "with its 1 checkpoint(s)")) << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "hosts file")) << r.sErr;
  EXPECT_TRUE(Has(ReadFile(m_sState + "/hosts"), "mine.example"));
  UseFilerStore();
  std::vector<zkfiler::CheckpointView> v;
  ASSERT_TRUE(zkfiler::ListCheckpoints("cs1.demo.zk", &v).ok());
  EXPECT_EQ(1u, v.size());

  r = Z({"init", "--demo", "--force"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_EQ(sHosts, ReadFile(m_sState + "/hosts"));
}

}  // namespace
}  // namespace zktest
