// SPDX-License-Identifier: Apache-2.0
// The convergence sweep: map, unmap, delete and revert over requests whose
// records share checkpoints (1, 2 and 3 records on each of three file
// systems, NFS and NAS, two file servers). For each command the call sends,
// in the order it sends them, the operation is run with that command
//   - refused once,
//   - taking effect with its reply lost once,
//   - and as the last command of a host killed right after it: nothing sent
//     later takes effect, and the host stores nothing of the call;
//   - refused once while every query that could follow it (the checkpoint
//     listing, the export lookup) is refused too, or loses its reply;
//   - taking effect with its reply lost while every query is refused: only
//     the record's intent can tell the repeat what the call made;
// then the same operation is repeated without the fault on what the host
// kept, or everything is taken down at once (unmap, then delete). After a
// killed host, what it left that no record names is removed first, as an
// administrator does ('zksnap orphans --remove'). Every record must end at
// success and tell the truth about the file server after every call;
// unmapping and deleting everything must then leave the file server holding
// exactly what it held before prepare. A cross-call sweep maps a snapshot's
// records in two calls: the second is refused, whatever fails, and never
// touches the first's view.
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/SweepFixture.h"

namespace zke2e {
namespace {

enum class Fault {
  kRefused,
  kReplyLost,
  kKilledAfter,
  kRefusedQueriesRefused,
  kRefusedQueriesLost,
  kReplyLostQueriesRefused,
};

const Fault kAllFaults[] = {Fault::kRefused,
                            Fault::kReplyLost,
                            Fault::kKilledAfter,
                            Fault::kRefusedQueriesRefused,
                            Fault::kRefusedQueriesLost,
                            Fault::kReplyLostQueriesRefused};
const int kFaultCount = sizeof(kAllFaults) / sizeof(kAllFaults[0]);

// What follows the faulted call.
enum class Then { kRepeat, kTeardown };

const char* Name(Fault eFault) {
  switch (eFault) {
    case Fault::kRefused:
      return "refused";
    case Fault::kReplyLost:
      return "reply lost";
    case Fault::kKilledAfter:
      return "killed after";
    case Fault::kRefusedQueriesRefused:
      return "refused, queries refused";
    case Fault::kRefusedQueriesLost:
      return "refused, queries' replies lost";
    case Fault::kReplyLostQueriesRefused:
      return "reply lost, queries refused";
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

class ConvergenceSweepBase : public SweepTest {
 protected:
  void ArmAt(Fault eFault, int64_t nPosition) {
    zkfiler::FaultRule oRule;
    oRule.command = zkfiler::kAnyCommand;
    oRule.mode = eFault == Fault::kKilledAfter ? zkfiler::FaultMode::kFrom
                                               : zkfiler::FaultMode::kNth;
    oRule.n = eFault == Fault::kKilledAfter ? nPosition + 1 : nPosition;
    oRule.lost_reply = eFault == Fault::kReplyLost ||
                       eFault == Fault::kReplyLostQueriesRefused;
    const zkfiler::Status oStatus = zkfiler::ArmFault(oRule);
    ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
    if (eFault != Fault::kRefusedQueriesRefused &&
        eFault != Fault::kRefusedQueriesLost &&
        eFault != Fault::kReplyLostQueriesRefused) {
      return;
    }
    for (const char* pszQuery : {"GetChkPointsInfo", "GetNFSInfo"}) {
      zkfiler::FaultRule oQuery;
      oQuery.command = pszQuery;
      oQuery.mode = zkfiler::FaultMode::kAlways;
      oQuery.lost_reply = eFault == Fault::kRefusedQueriesLost;
      ASSERT_TRUE(zkfiler::ArmFault(oQuery).ok());
    }
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
  // Runs eOp on the records with eFault armed at nPosition, checks them
  // (unless the host was killed) and returns what the host then keeps.
  std::vector<zkref::MemSnapInfo*> RunFaulted(
      Op eOp, const std::vector<zkref::MemSnapInfo*>& v, Fault eFault,
      int64_t nPosition) {
    const std::vector<zkref::MemSnapInfo*> vKept = CarryAll(v);
    m_oSink.Clear();
    ArmAt(eFault, nPosition);
    std::vector<zkref::MemSnapInfo*> vNext;
    if (eFault == Fault::kKilledAfter) {
      RunOp(eOp, v);
      vNext = vKept;  // the host stored nothing of the call
      EXPECT_TRUE(zkfiler::ClearFaults().ok());
      std::vector<zkref::MemSnapInfo*> vHeld = vNext;
      vHeld.insert(vHeld.end(), m_vHeldElsewhere.begin(),
                   m_vHeldElsewhere.end());
      RemoveOrphans(vHeld, m_sPreexisting);
    } else {
      vNext = RunChecked(eOp, v, false);
    }
    EXPECT_TRUE(zkfiler::ClearFaults().ok());
    return vNext;
  }
  // Unmaps, then deletes every record: both must succeed.
  std::vector<zkref::MemSnapInfo*> TakeDown(
      const std::vector<zkref::MemSnapInfo*>& v) {
    return RunChecked(Op::kDelete, RunChecked(Op::kUnmap, v, true), true);
  }
  // Checkpoints on the file servers as installed ("host id").
  std::set<std::string> m_sPreexisting;
  // Records the host holds beside those of the faulted call: what they
  // name is no orphan.
  std::vector<zkref::MemSnapInfo*> m_vHeldElsewhere;
  // The commands a clean run sends.
  std::vector<zkfiler::JournalEntry> CleanJournal() {
    std::vector<zkfiler::JournalEntry> vJournal;
    EXPECT_TRUE(zkfiler::Journal(&vJournal).ok());
    return vJournal;
  }
};

class ConvergenceSweepTest
    : public ConvergenceSweepBase,
      public ::testing::WithParamInterface<std::tuple<Op, int, Then>> {};

TEST_P(ConvergenceSweepTest, EveryCommandFailingOnceThenRepeatedOrTakenDown) {
  const Op eOp = std::get<0>(GetParam());
  m_nPerGroup = std::get<1>(GetParam());
  const Then eThen = std::get<2>(GetParam());
  InstallFileServers();
  const std::vector<std::string> vBeforePrepare = ServerState();
  m_sPreexisting = CheckpointKeys();

  // A clean run counts the commands the operation sends.
  std::vector<zkref::MemSnapInfo*> vClean = ReadyFor(eOp);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, RunOp(eOp, vClean)) << m_oSink.Dump();
  std::vector<zkfiler::JournalEntry> vJournal;
  ASSERT_TRUE(zkfiler::Journal(&vJournal).ok());
  const int64_t nCommands = static_cast<int64_t>(vJournal.size());
  ASSERT_GT(nCommands, 0);

  int nRuns = 0;
  for (int64_t nPosition = 1; nPosition <= nCommands; ++nPosition) {
    for (Fault eFault : kAllFaults) {
      SCOPED_TRACE(std::string(Name(eOp)) + ", " + std::to_string(m_nPerGroup) +
                   " per group: command " + std::to_string(nPosition) + " (" +
                   vJournal[nPosition - 1].command + ") " + Name(eFault));
      std::vector<zkref::MemSnapInfo*> vNext =
          RunFaulted(eOp, ReadyFor(eOp), eFault, nPosition);

      if (eThen == Then::kRepeat) {
        // The same operation again: every record reaches success.
        vNext = RunChecked(eOp, vNext, true);
        for (const zkref::MemSnapInfo* pRecord : vNext) {
          EXPECT_EQ(SuccessStatus(eOp), pRecord->nStatus)
              << pRecord->sSourceDevice;
        }
        // Then everything is taken down again.
        if (eOp == Op::kMap) vNext = RunChecked(Op::kUnmap, vNext, true);
        if (eOp != Op::kDelete) vNext = RunChecked(Op::kDelete, vNext, true);
      } else {
        // Whatever the faulted call left, unmap and delete take it down.
        vNext = TakeDown(vNext);
      }
      for (const zkref::MemSnapInfo* pRecord : vNext) {
        EXPECT_EQ(0u, pRecord->mMetaData.count(SM_MDT_CELERRA_INTENT))
            << pRecord->mMetaData.at(SM_MDT_CELERRA_INTENT);
      }
      EXPECT_EQ(vBeforePrepare, ServerState());
      ++nRuns;
      if (HasFailure()) return;
    }
  }
  EXPECT_EQ(kFaultCount * nCommands, nRuns);
  RecordProperty("runs", nRuns);
}

// A snapshot's records mapped in two calls: map a; map b; unmap a; unmap b;
// delete. Whatever fails in b's map, and when it is repeated, b is refused,
// nothing changes, and a's view stays; then everything comes down.
class CrossCallSweepTest : public ConvergenceSweepBase,
                           public ::testing::WithParamInterface<int> {
 protected:
  // a: the first record of each group, mapped; b: the others, snapped.
  void Ready(std::vector<zkref::MemSnapInfo*>* pvA,
             std::vector<zkref::MemSnapInfo*>* pvB) {
    std::vector<zkref::MemSnapInfo*> v = ReadyFor(Op::kMap);
    const size_t nGroups = 3;
    std::vector<zkref::MemSnapInfo*> vA(v.begin(), v.begin() + nGroups);
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, RunOp(Op::kMap, vA)) << m_oSink.Dump();
    *pvA = CarryAll(vA);
    *pvB = CarryAll(
        std::vector<zkref::MemSnapInfo*>(v.begin() + nGroups, v.end()));
    EXPECT_TRUE(zkfiler::ResetJournal().ok());
  }
};

TEST_P(CrossCallSweepTest, TheSecondCallNeverTakesTheFirstsView) {
  m_nPerGroup = GetParam();
  InstallFileServers();
  const std::vector<std::string> vBeforePrepare = ServerState();
  m_sPreexisting = CheckpointKeys();
  std::vector<zkref::MemSnapInfo*> vA, vB;
  Ready(&vA, &vB);
  RunOp(Op::kMap, vB);
  const std::vector<zkfiler::JournalEntry> vJournal = CleanJournal();
  const int64_t nCommands = static_cast<int64_t>(vJournal.size());
  ASSERT_GT(nCommands, 0);

  for (int64_t nPosition = 1; nPosition <= nCommands; ++nPosition) {
    for (Fault eFault : kAllFaults) {
      SCOPED_TRACE("command " + std::to_string(nPosition) + " (" +
                   vJournal[nPosition - 1].command + ") " + Name(eFault));
      Ready(&vA, &vB);
      m_vHeldElsewhere = vA;
      const std::vector<std::string> vMappedA = ServerState();
      std::vector<zkref::MemSnapInfo*> vNext =
          RunFaulted(Op::kMap, vB, eFault, nPosition);
      EXPECT_EQ(vMappedA, ServerState());
      // Repeated: refused again, naming the view in the way.
      const std::vector<zkref::MemSnapInfo*> vRepeat = vNext;
      vNext = RunChecked(Op::kMap, vRepeat, false);
      EXPECT_EQ(vMappedA, ServerState());
      EXPECT_EQ(ZKSO::MAP_FAILED, vRepeat.front()->nStatus);
      EXPECT_NE(std::string::npos,
                vRepeat.front()->sJPRText.find("is in the way"))
          << vRepeat.front()->sJPRText;
      for (const zkref::MemSnapInfo* pRecord : vRepeat) {
        EXPECT_EQ(0u, pRecord->mMetaData.count(SM_MDT_SNAP_MOUNT));
      }
      // a's view is whole: a unmaps it, b has nothing to unmap.
      vA = RunChecked(Op::kUnmap, vA, true);
      vNext = RunChecked(Op::kUnmap, vNext, true);
      std::vector<zkref::MemSnapInfo*> vAll = vA;
      vAll.insert(vAll.end(), vNext.begin(), vNext.end());
      RunChecked(Op::kDelete, vAll, true);
      EXPECT_EQ(vBeforePrepare, ServerState());
      if (HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Groups, CrossCallSweepTest, ::testing::Values(2),
                         [](const ::testing::TestParamInfo<int>& oInfo) {
                           return std::to_string(oInfo.param) + "_per_group";
                         });

// An NFS record and a VMware record of one snapshot need its one writable
// view exported to different hosts. Beside the groups of the sweep above
// they are mapped in one call (the NFS record first), or the VMware record
// alone after the others mapped. Whatever fails, and after the repeat, the
// VMware record is refused and never changes the NFS record's view; the
// full teardown leaves the file server as before prepare.
class MixedHostsSweepTest
    : public ConvergenceSweepBase,
      public ::testing::WithParamInterface<std::tuple<bool, int>> {
 protected:
  // The request, prepared and snapped (and, for two calls, mapped but for
  // the VMware record, which comes last).
  std::vector<zkref::MemSnapInfo*> Ready(bool bOneCall) {
    InstallFileServers();
    SetNow(m_nNow + 200000);
    std::vector<zkref::MemSnapInfo*> v = NewRequest();
    v.push_back(VMware(NewRecord(NfsExportDevice("/fs1", kNas1, true), "g1")));
    std::vector<Op> vSteps = {Op::kPrepare, Op::kSnap};
    for (Op eStep : vSteps) {
      EXPECT_EQ(ZKSO::RESULT_SUCCESS, RunOp(eStep, v)) << m_oSink.Dump();
      v = CarryAll(v);
    }
    if (!bOneCall) {
      std::vector<zkref::MemSnapInfo*> vOthers(v.begin(), v.end() - 1);
      EXPECT_EQ(ZKSO::RESULT_SUCCESS, RunOp(Op::kMap, vOthers))
          << m_oSink.Dump();
      vOthers = CarryAll(vOthers);
      vOthers.push_back(Carry(*v.back()));
      v = vOthers;
    }
    EXPECT_TRUE(zkfiler::ResetJournal().ok());
    return v;
  }
  static std::vector<zkref::MemSnapInfo*> Target(
      const std::vector<zkref::MemSnapInfo*>& v, bool bOneCall) {
    if (bOneCall) return v;
    return {v.back()};
  }
};

TEST_P(MixedHostsSweepTest, TheRecordForOtherHostsNeverTakesTheViewOver) {
  const bool bOneCall = std::get<0>(GetParam());
  m_nPerGroup = std::get<1>(GetParam());
  InstallFileServers();
  const std::vector<std::string> vBeforePrepare = ServerState();
  m_sPreexisting = CheckpointKeys();

  std::vector<zkref::MemSnapInfo*> v = Ready(bOneCall);
  RunOp(Op::kMap, Target(v, bOneCall));
  const std::vector<zkfiler::JournalEntry> vJournal = CleanJournal();
  const int64_t nCommands = static_cast<int64_t>(vJournal.size());
  ASSERT_GT(nCommands, 0);

  for (int64_t nPosition = 1; nPosition <= nCommands; ++nPosition) {
    for (Fault eFault : kAllFaults) {
      SCOPED_TRACE(std::string(bOneCall ? "one call" : "two calls") +
                   ", command " + std::to_string(nPosition) + " (" +
                   vJournal[nPosition - 1].command + ") " + Name(eFault));
      v = Ready(bOneCall);
      m_vHeldElsewhere.clear();
      if (!bOneCall) m_vHeldElsewhere.assign(v.begin(), v.end() - 1);
      const std::vector<std::string> vBeforeMap = ServerState();
      std::vector<zkref::MemSnapInfo*> vNext =
          RunFaulted(Op::kMap, Target(v, bOneCall), eFault, nPosition);
      // The VMware record's own map changes nothing.
      if (!bOneCall) {
        EXPECT_EQ(vBeforeMap, ServerState());
      }

      const std::vector<zkref::MemSnapInfo*> vRepeat = vNext;
      vNext = RunChecked(Op::kMap, vRepeat, false);
      const zkref::MemSnapInfo& oVMware = *vRepeat.back();
      EXPECT_EQ(ZKSO::MAP_FAILED, oVMware.nStatus);
      EXPECT_NE(std::string::npos, oVMware.sJPRText.find("is in the way"))
          << oVMware.sJPRText;
      EXPECT_EQ(0u, oVMware.mMetaData.count(SM_MDT_SNAP_MOUNT));
      for (size_t i = 0; i + 1 < vRepeat.size(); ++i) {
        EXPECT_EQ(ZKSO::MAP_SUCCESS, vRepeat[i]->nStatus)
            << vRepeat[i]->sSourceDevice;
      }
      if (!bOneCall) {
        EXPECT_EQ(vBeforeMap, ServerState());
      }

      // Everything taken down, the VMware record with the rest.
      std::vector<zkref::MemSnapInfo*> vAll;
      if (bOneCall) {
        vAll = vNext;
      } else {
        vAll =
            CarryAll(std::vector<zkref::MemSnapInfo*>(v.begin(), v.end() - 1));
        vAll.push_back(vNext.back());
      }
      vAll = RunChecked(Op::kUnmap, vAll, true);
      vAll = RunChecked(Op::kDelete, vAll, true);
      EXPECT_EQ(vBeforePrepare, ServerState());
      if (HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, MixedHostsSweepTest,
    ::testing::Combine(::testing::Bool(), ::testing::Values(1, 2)),
    [](const ::testing::TestParamInfo<std::tuple<bool, int>>& oInfo) {
      return std::string(std::get<0>(oInfo.param) ? "one_call" : "two_calls") +
             "_" + std::to_string(std::get<1>(oInfo.param)) + "_per_group";
    });

// Two file systems of one control host whose groups ask for one checkpoint
// name: whatever fails, and after the repeat, the second group never holds
// the first one's checkpoint; deleting the first leaves the file server as
// before prepare.
TEST_F(ConvergenceSweepBase, SnapOfTwoFileSystemsAskingOneNameNeverCrosses) {
  InstallFileServers();
  const std::vector<std::string> vBeforePrepare = ServerState();
  m_sPreexisting = CheckpointKeys();
  auto fnReady = [&]() {
    InstallFileServers();
    SetNow(m_nNow + 200000);
    std::vector<zkref::MemSnapInfo*> v = {
        NewRecord(NfsExportDevice("/fs1", kNas1, false), "night"),
        WithMountSource(NewRecord(NasDevice("/fs2/ds1", kNas1, false), "night"),
                        1)};
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, RunOp(Op::kPrepare, v)) << m_oSink.Dump();
    v = CarryAll(v);
    EXPECT_EQ(v[0]->sSnapName, v[1]->sSnapName);
    EXPECT_TRUE(zkfiler::ResetJournal().ok());
    return v;
  };
  std::vector<zkref::MemSnapInfo*> v = fnReady();
  RunOp(Op::kSnap, v);
  const std::vector<zkfiler::JournalEntry> vJournal = CleanJournal();
  const int64_t nCommands = static_cast<int64_t>(vJournal.size());

  for (int64_t nPosition = 1; nPosition <= nCommands; ++nPosition) {
    for (Fault eFault : kAllFaults) {
      SCOPED_TRACE("command " + std::to_string(nPosition) + " (" +
                   vJournal[nPosition - 1].command + ") " + Name(eFault));
      std::vector<zkref::MemSnapInfo*> vNext =
          RunFaulted(Op::kSnap, fnReady(), eFault, nPosition);
      const std::vector<zkref::MemSnapInfo*> vRepeat = vNext;
      vNext = RunChecked(Op::kSnap, vRepeat, false);
      EXPECT_NE(std::string::npos, vRepeat[1]->sJPRText.find("in use"))
          << vRepeat[1]->sJPRText;
      EXPECT_EQ(ZKSO::SNAP_SUCCESS, vNext[0]->nStatus);
      EXPECT_NE(ZKSO::SNAP_SUCCESS, vNext[1]->nStatus);
      EXPECT_EQ(0u, vNext[1]->mMetaData.count(SM_MDT_SNAP_UUID));
      std::vector<zkref::MemSnapInfo*> vFirst = {vNext[0]};
      RunChecked(Op::kDelete, vFirst, true);
      EXPECT_EQ(vBeforePrepare, ServerState());
      if (HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ConvergenceSweepTest,
    ::testing::Combine(::testing::Values(Op::kMap, Op::kUnmap, Op::kDelete,
                                         Op::kRevert),
                       ::testing::Values(1, 2, 3),
                       ::testing::Values(Then::kRepeat, Then::kTeardown)),
    [](const ::testing::TestParamInfo<std::tuple<Op, int, Then>>& oInfo) {
      return std::string(Name(std::get<0>(oInfo.param))) + "_" +
             std::to_string(std::get<1>(oInfo.param)) + "_per_group" +
             (std::get<2>(oInfo.param) == Then::kRepeat ? "" : "_teardown");
    });

}  // namespace
}  // namespace zke2e
