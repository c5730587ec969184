// The convergence sweep: map, unmap, delete and revert over requests whose
// records share checkpoints (1, 2 and 3 records on each of three file
// systems, NFS and NAS, two file servers). For each command the call sends,
// in the order it sends them, the operation is run with that command
//   - refused once,
//   - taking effect with its reply lost once,
//   - and as the last command of a host killed right after it: nothing sent
//     later takes effect, and the host stores nothing of the call;
// then the same operation is repeated without the fault on what the host
// kept. Every record must end at success and tell the truth about the file
// server after every call; unmapping and deleting everything must then
// leave the file server holding exactly what it held before prepare.
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/SweepFixture.h"

namespace zke2e {
namespace {

enum class Fault { kRefused, kReplyLost, kKilledAfter };

const char* Name(Fault eFault) {
  switch (eFault) {
    case Fault::kRefused:
      return "refused";
    case Fault::kReplyLost:
      return "reply lost";
    case Fault::kKilledAfter:
      return "killed after";
  }
  return "?";
}

// Checkpoints and exports of every file server, as comparable text.
std::vector<std::string> ServerState() {
  std::vector<zkfiler::CheckpointView> vChkpts;
  std::vector<zkfiler::ExportView> vExports;
  EXPECT_TRUE(zkfiler::ListCheckpoints("", &vChkpts).ok());
  EXPECT_TRUE(zkfiler::ListExports("", &vExports).ok());
  std::vector<std::string> v;
  for (const auto& c : vChkpts) {
    v.push_back("checkpoint " + c.control_host + " " + c.id + " " + c.name +
                " baseline=" + c.baseline_id);
  }
  for (const auto& e : vExports) {
    std::string sLine = "export " + e.control_host + " " + e.path;
    for (const std::string& h : e.access_hosts) sLine += " " + h;
    v.push_back(sLine);
  }
  return v;
}

class ConvergenceSweepTest
    : public SweepTest,
      public ::testing::WithParamInterface<std::tuple<Op, int>> {
 protected:
  void ArmAt(Fault eFault, int64_t nPosition) {
    zkfiler::FaultRule oRule;
    oRule.command = zkfiler::kAnyCommand;
    oRule.mode = eFault == Fault::kKilledAfter ? zkfiler::FaultMode::kFrom
                                               : zkfiler::FaultMode::kNth;
    oRule.n = eFault == Fault::kKilledAfter ? nPosition + 1 : nPosition;
    oRule.lost_reply = eFault == Fault::kReplyLost;
    const zkfiler::Status oStatus = zkfiler::ArmFault(oRule);
    ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
  }

  // Runs eOp on the records, checks them, and carries them on.
  std::vector<zkref::MemSnapInfo*> RunChecked(
      Op eOp, const std::vector<zkref::MemSnapInfo*>& v, bool bMustSucceed) {
    std::vector<Before> vBefore;
    for (zkref::MemSnapInfo* pRecord : v) vBefore.push_back(BeforeOf(*pRecord));
    const ZKSO::ResultCode eResult = RunOp(eOp, v);
    if (bMustSucceed) {
      EXPECT_EQ(ZKSO::RESULT_SUCCESS, eResult) << Name(eOp) << m_oSink.Dump();
    }
    CheckRun(eOp, eResult, v, vBefore);
    return CarryAll(v);
  }
};

TEST_P(ConvergenceSweepTest, EveryCommandFailingOnceThenRepeated) {
  const Op eOp = std::get<0>(GetParam());
  m_nPerGroup = std::get<1>(GetParam());
  InstallFileServers();
  const std::vector<std::string> vBeforePrepare = ServerState();

  // A clean run counts the commands the operation sends.
  std::vector<zkref::MemSnapInfo*> vClean = ReadyFor(eOp);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, RunOp(eOp, vClean)) << m_oSink.Dump();
  std::vector<zkfiler::JournalEntry> vJournal;
  ASSERT_TRUE(zkfiler::Journal(&vJournal).ok());
  const int64_t nCommands = static_cast<int64_t>(vJournal.size());
  ASSERT_GT(nCommands, 0);

  int nRuns = 0;
  for (int64_t nPosition = 1; nPosition <= nCommands; ++nPosition) {
    for (Fault eFault :
         {Fault::kRefused, Fault::kReplyLost, Fault::kKilledAfter}) {
      SCOPED_TRACE(std::string(Name(eOp)) + ", " + std::to_string(m_nPerGroup) +
                   " per group: command " + std::to_string(nPosition) + " (" +
                   vJournal[nPosition - 1].command + ") " + Name(eFault));
      std::vector<zkref::MemSnapInfo*> v = ReadyFor(eOp);
      const std::vector<zkref::MemSnapInfo*> vKept = CarryAll(v);
      m_oSink.Clear();
      ArmAt(eFault, nPosition);
      std::vector<zkref::MemSnapInfo*> vNext;
      if (eFault == Fault::kKilledAfter) {
        RunOp(eOp, v);
        vNext = vKept;  // the host stored nothing of the call
      } else {
        vNext = RunChecked(eOp, v, false);
      }
      ASSERT_TRUE(zkfiler::ClearFaults().ok());

      // The same operation again: every record reaches success.
      vNext = RunChecked(eOp, vNext, true);
      for (const zkref::MemSnapInfo* pRecord : vNext) {
        EXPECT_EQ(SuccessStatus(eOp), pRecord->nStatus)
            << pRecord->sSourceDevice;
      }
      // Then everything is taken down again.
      if (eOp == Op::kMap) vNext = RunChecked(Op::kUnmap, vNext, true);
      if (eOp != Op::kDelete) vNext = RunChecked(Op::kDelete, vNext, true);
      EXPECT_EQ(vBeforePrepare, ServerState());
      ++nRuns;
      if (HasFailure()) return;
    }
  }
  EXPECT_EQ(3 * nCommands, nRuns);
  RecordProperty("runs", nRuns);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ConvergenceSweepTest,
    ::testing::Combine(::testing::Values(Op::kMap, Op::kUnmap, Op::kDelete,
                                         Op::kRevert),
                       ::testing::Values(1, 2, 3)),
    [](const ::testing::TestParamInfo<std::tuple<Op, int>>& oInfo) {
      return std::string(Name(std::get<0>(oInfo.param))) + "_" +
             std::to_string(std::get<1>(oInfo.param)) + "_per_group";
    });

}  // namespace
}  // namespace zke2e
