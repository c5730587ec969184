// SPDX-License-Identifier: Apache-2.0
// The fault sweep: for each operation over a request of several records on
// two control hosts, NFS and NAS devices mixed, every file server command
// the operation sends is made to fail in turn, once and from then on. After
// each run the result code must match the records' outcomes, and every
// record must tell the truth about the file server's state.
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/SweepFixture.h"

namespace zke2e {
namespace {

class FaultSweepTest : public SweepTest,
                       public ::testing::WithParamInterface<Op> {};

TEST_P(FaultSweepTest, EveryCommandFailingInTurn) {
  const Op eOp = GetParam();
  // A clean run names the commands of the operation and how often each is
  // sent.
  std::vector<zkref::MemSnapInfo*> vClean = ReadyFor(eOp);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, RunOp(eOp, vClean)) << m_oSink.Dump();
  const std::map<std::string, int> mCommands = CommandCounts();
  ASSERT_FALSE(mCommands.empty());

  int nRuns = 0;
  for (const auto& [sCommand, nCount] : mCommands) {
    for (int n = 1; n <= nCount; ++n) {
      for (zkfiler::FaultMode eMode :
           {zkfiler::FaultMode::kNth, zkfiler::FaultMode::kFrom}) {
        SCOPED_TRACE(
            std::string(Name(eOp)) + ": " + sCommand + " #" +
            std::to_string(n) +
            (eMode == zkfiler::FaultMode::kNth ? " once" : " from then on"));
        std::vector<zkref::MemSnapInfo*> vRecords = ReadyFor(eOp);
        std::vector<Before> vBefore;
        for (zkref::MemSnapInfo* pRecord : vRecords) {
          vBefore.push_back(BeforeOf(*pRecord));
        }
        m_oSink.Clear();
        ArmFault(sCommand, eMode, n);

        const ZKSO::ResultCode eResult = RunOp(eOp, vRecords);

        ASSERT_TRUE(zkfiler::ClearFaults().ok());
        CheckRun(eOp, eResult, vRecords, vBefore);
        ++nRuns;
        if (HasFailure()) return;
      }
    }
  }
  EXPECT_GT(nRuns, 0);
}

INSTANTIATE_TEST_SUITE_P(AllOperations, FaultSweepTest,
                         ::testing::ValuesIn(AllOperations()),
                         [](const ::testing::TestParamInfo<Op>& oInfo) {
                           return std::string(Name(oInfo.param));
                         });

}  // namespace
}  // namespace zke2e
