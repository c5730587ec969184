// SPDX-License-Identifier: Apache-2.0
// A snap without a new preparation would adopt the checkpoint the last snap
// made and take no new snapshot: zksnap refuses it unless --force. A retry
// after a failed or interrupted snap still goes through.
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

class SnapAgainTest : public ZksnapTest {
 protected:
  size_t CheckpointCount() {
    UseFilerStore();
    std::vector<zkfiler::CheckpointView> v;
    EXPECT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
    return v.size();
  }
};

TEST_F(SnapAgainTest, SecondSnapWithoutPrepareIsRefused) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "--all"}).nExit);
  ASSERT_EQ(0, Z({"snap", "--all"}).nExit);
  const std::string sBefore = Dump();
  const size_t nCheckpoints = CheckpointCount();

  for (const std::vector<std::string>& vArgs :
       {std::vector<std::string>{"snap", "--all"},
        std::vector<std::string>{"snap", "nfs1"}}) {
    const RunResult r = Z(vArgs);
    EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
    EXPECT_TRUE(Has(r.sErr, "a new point in time needs 'zksnap prepare'"))
        << r.sErr;
    EXPECT_TRUE(Has(r.sErr, "g1_nfs1_")) << r.sErr;
    EXPECT_EQ(sBefore, Dump());
    EXPECT_EQ(nCheckpoints, CheckpointCount());
  }
  RunResult r = Z({"snap", "--force", "nfs1"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_EQ(nCheckpoints, CheckpointCount());
}

// The file server refused the snap: the retry makes the checkpoint.
TEST_F(SnapAgainTest, RetryAfterAFailedSnapGoesThrough) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  UseFilerStore();
  zkfiler::FaultRule oFault;
  oFault.command = "CreateROChkPt";
  ASSERT_TRUE(zkfiler::ArmFault(oFault).ok());
  RunResult r = Z({"snap", "nfs1"});
  EXPECT_EQ(4, r.nExit) << r.sOut << r.sErr;
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  ASSERT_EQ(0u, CheckpointCount());
  r = Z({"snap", "nfs1"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_EQ(1u, CheckpointCount());
  EXPECT_TRUE(Has(StatusJson("nfs1"), "\"status\": \"SNAP_SUCCESS\""));
}

}  // namespace
}  // namespace zktest
