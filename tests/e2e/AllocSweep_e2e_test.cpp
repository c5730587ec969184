// SPDX-License-Identifier: Apache-2.0
// The allocation sweep: for each operation over the sweep request (five
// records, NFS and NAS devices on two control hosts), the first, second, ...
// allocation made while the operation runs is made to fail, until a run
// completes without reaching the failing one.
//
// Two sources, two sweeps. Every operator new of the plug-in and of the
// libraries it uses (the host library stand-in, the array management client)
// fails in turn, each one. SQLite's allocations under the simulated file
// server are ten times as many, so there every k-th fails (k chosen for
// about kSqliteRuns runs per operation), from the first on. The host's
// record and utility objects are not counted (UncountedHost.h). The log
// keeps the lines a production host keeps (level 0 and errors), so the
// logger formats no detail lines.
//
// After each run: no exception left the plug-in; every record tells the
// truth about the file server and the result code matches the records
// (SweepFixture); the CIFS server cache is neither locked nor holding a
// wrong list: a prepare on another thread, at the same clock, ends and finds
// what a clean prepare finds. Leaks are LeakSanitizer's to find (the
// ASan+UBSan build runs this suite too).
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/AllocationFailure.h"
#include "tests/e2e/SweepFixture.h"
#include "tests/e2e/UncountedHost.h"

namespace zke2e {
namespace {

using zktest::AllocationSource;

const int64_t kSqliteRuns = 300;

const char* Name(AllocationSource eSource) {
  return eSource == AllocationSource::kOperatorNew ? "new" : "sqlite";
}

// What one armed run gave.
struct Outcome {
  ZKSO::ResultCode eResult = ZKSO::RESULT_FAILURE;
  bool bEscaped = false;  // an exception came out of the plug-in
  bool bFailed = false;   // the chosen allocation was reached and failed
  zktest::AllocationCounts oCounts;
};

class AllocSweepTest
    : public SweepTest,
      public ::testing::WithParamInterface<std::tuple<Op, AllocationSource>> {
 protected:
  // Runs eOp over vRecords with the nFailAt-th allocation from eSource
  // failing (0: none). Counting starts right before the call and stops
  // right after it.
  Outcome RunFailing(Op eOp, const std::vector<zkref::MemSnapInfo*>& vRecords,
                     AllocationSource eSource, int64_t nFailAt) {
    std::vector<std::unique_ptr<zktest::UncountedSnapInfo>> vHostRecords;
    std::vector<ZKSO::SnapInfo*> vPointers;
    for (zkref::MemSnapInfo* pRecord : vRecords) {
      vHostRecords.emplace_back(new zktest::UncountedSnapInfo(pRecord));
      vPointers.push_back(vHostRecords.back().get());
    }
    zktest::UncountedOSUtil oOSUtil(&m_oOSUtil);
    const Operation fn = FunctionOf(eOp);
    const int16_t nCount = static_cast<int16_t>(vPointers.size());

    Outcome o;
    zktest::ArmAllocationFailure(eSource, nFailAt);
    try {
      o.eResult = fn(vPointers.data(), nCount, &oOSUtil);
    } catch (...) {
      o.bEscaped = true;
    }
    o.oCounts = zktest::DisarmAllocationFailure();
    o.bFailed = zktest::AllocationFailureHappened();
    return o;
  }

  // File system metadata per source device after a prepare of the whole
  // request, run on another thread at the current clock. Fails the process
  // when that prepare never ends: the cache lock was left held.
  std::map<std::string, std::string> ProbePrepare() {
    std::vector<zkref::MemSnapInfo*> vProbe = NewRequest();
    std::future<ZKSO::ResultCode> oDone = std::async(
        std::launch::async, [&] { return RunOp(Op::kPrepare, vProbe); });
    if (oDone.wait_for(std::chrono::minutes(2)) != std::future_status::ready) {
      std::fprintf(stderr,
                   "a prepare after the run never ended: the CIFS server "
                   "cache lock was left held\n");
      std::fflush(stderr);
      _exit(1);
    }
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, oDone.get()) << m_oSink.Dump();
    std::map<std::string, std::string> mInfo;
    for (const zkref::MemSnapInfo* pRecord : vProbe) {
      const auto it = pRecord->mMetaData.find(SM_MDT_FS_INFO);
      mInfo[pRecord->sSourceDevice] =
          it == pRecord->mMetaData.end() ? "(none)" : it->second;
    }
    return mInfo;
  }
};

TEST_P(AllocSweepTest, EveryAllocationFailingInTurn) {
  const Op eOp = std::get<0>(GetParam());
  const AllocationSource eSource = std::get<1>(GetParam());
  // The log level of a host in production: detail lines are not formatted.
  m_oSink.SetMaxLevel(0);
  // A clean run: how many allocations the operation makes, and what a
  // prepare finds.
  std::vector<zkref::MemSnapInfo*> vClean = ReadyFor(eOp);
  const Outcome oClean = RunFailing(eOp, vClean, eSource, 0);
  ASSERT_FALSE(oClean.bEscaped);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, oClean.eResult) << m_oSink.Dump();
  const int64_t nTotal = eSource == AllocationSource::kOperatorNew
                             ? oClean.oCounts.nOperatorNew
                             : oClean.oCounts.nSqlite;
  ASSERT_GT(nTotal, 0);
  const int64_t nStride = eSource == AllocationSource::kOperatorNew
                              ? 1
                              : std::max<int64_t>(1, nTotal / kSqliteRuns);
  const std::map<std::string, std::string> mExpectedInfo = ProbePrepare();

  RunChecks oChecks;
  // The failure's own report may be what could not be allocated.
  oChecks.bReportRequired = false;
  // A reconcile record that failed for want of memory leaves no line to
  // count it by.
  oChecks.bReconcileResultFromLog = false;

  int64_t nRuns = 0;
  for (int64_t nFailAt = 1;; nFailAt += nStride) {
    SCOPED_TRACE(std::string(Name(eOp)) + ": " + Name(eSource) +
                 " allocation #" + std::to_string(nFailAt) + " of " +
                 std::to_string(nTotal) + " fails");
    std::vector<zkref::MemSnapInfo*> vRecords = ReadyFor(eOp);
    if (HasFailure()) return;
    std::vector<Before> vBefore;
    for (zkref::MemSnapInfo* pRecord : vRecords) {
      vBefore.push_back(BeforeOf(*pRecord));
    }
    m_oSink.Clear();

    const Outcome o = RunFailing(eOp, vRecords, eSource, nFailAt);

    ASSERT_FALSE(o.bEscaped) << "an exception left the plug-in";
    if (!o.bFailed) {
      // The operation made fewer allocations: the sweep is through.
      EXPECT_EQ(ZKSO::RESULT_SUCCESS, o.eResult) << m_oSink.Dump();
      break;
    }
    ++nRuns;
    CheckRun(eOp, o.eResult, vRecords, vBefore, oChecks);
    EXPECT_EQ(mExpectedInfo, ProbePrepare()) << "the cache went wrong";
    if (HasFailure()) {
      ADD_FAILURE() << m_oSink.Dump();
      return;
    }
    // A run that keeps allocating past twice the clean count is looping.
    ASSERT_LE(nFailAt, 2 * nTotal + 100);
  }
  EXPECT_GT(nRuns, 0);
  std::printf("%s: %lld of %lld %s allocations made to fail\n", Name(eOp),
              static_cast<long long>(nRuns), static_cast<long long>(nTotal),
              Name(eSource));
}

INSTANTIATE_TEST_SUITE_P(
    AllOperations, AllocSweepTest,
    ::testing::Combine(::testing::ValuesIn(AllOperations()),
                       ::testing::Values(AllocationSource::kOperatorNew,
                                         AllocationSource::kSqlite)),
    [](const ::testing::TestParamInfo<std::tuple<Op, AllocationSource>>&
           oInfo) {
      return std::string(Name(std::get<0>(oInfo.param))) + "_" +
             Name(std::get<1>(oInfo.param));
    });

}  // namespace
}  // namespace zke2e

int main(int argc, char** argv) {
  // SQLite joins the count before anything in the process opens a database.
  if (!zktest::CountSqliteAllocations()) {
    std::fprintf(stderr, "SQLite refused the counting allocator\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
