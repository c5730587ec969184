// SPDX-License-Identifier: Apache-2.0
// The per-record frame: failure policies, stops, exceptions, summaries,
// result codes and the array error report, driven with in-memory records.
// Records without a source device make the factory answer "no device",
// which reaches every policy without a file server; records with stored
// metadata get through preparation for reconcile, which needs none either.
#include "engine/OperationFrame.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"

namespace {

constexpr ZKUint64 kJobId = 77;
const char kPassword[] = "Pw-Zk#4521-secret";

// An operation step scripted per record index.
class ScriptedOperation : public RecordOperation {
 public:
  explicit ScriptedOperation(std::vector<ZKSO::SnapInfo*> vRecords)
      : m_vRecords(std::move(vRecords)) {}

  bool SkipRecord(ZKSO::SnapInfo& oRecord, bool* pbCounted) override {
    const int i = IndexOf(&oRecord);
    if (i == nThrowInSkipAt) throw std::runtime_error("boom");
    if (i == nSkipCountedAt) {
      *pbCounted = true;
      return true;
    }
    return false;
  }
  bool Operate(CelerraSnapDevice& /*oDevice*/,
               ZKSO::SnapInfo& oRecord) override {
    const int i = IndexOf(&oRecord);
    vOperated.push_back(i);
    if (i == nThrowInOperateAt) throw std::bad_alloc();
    return i != nFailOperateAt;
  }
  void ReportStop(ZKSO::SnapInfo* pRecord) override {
    vStopReports.push_back(pRecord == nullptr ? -1 : IndexOf(pRecord));
  }
  void AfterLoop() override { ++nAfterLoop; }

  int nThrowInSkipAt = -2;
  int nSkipCountedAt = -2;
  int nFailOperateAt = -2;
  int nThrowInOperateAt = -2;
  std::vector<int> vOperated;
  std::vector<int> vStopReports;
  int nAfterLoop = 0;

 private:
  int IndexOf(ZKSO::SnapInfo* p) const {
    for (size_t i = 0; i < m_vRecords.size(); ++i) {
      if (m_vRecords[i] == p) return static_cast<int>(i);
    }
    return -1;
  }
  std::vector<ZKSO::SnapInfo*> m_vRecords;
};

class OperationFrameTest : public ::testing::Test {
 protected:
  OperationFrameTest() {
    m_oDatabase.Add(
        {"nas1",
         {},
         zkref::ArrayDatabase::FormArrayInfo("APM1", "Dell EMC VNX / Celerra",
                                             "cs1", "nasadmin", kPassword)});
  }
  ~OperationFrameTest() override {
    for (const ZkLogLine& oLine : m_oSink.Lines()) {
      EXPECT_EQ(std::string::npos, oLine.sText.find(kPassword)) << oLine.sText;
    }
    for (const zkref::MemSnapInfo& oRecord : m_dRecords) {
      for (const auto& oLine : oRecord.vJobLog) {
        EXPECT_EQ(std::string::npos, oLine.sText.find(kPassword));
      }
    }
  }

  // A record the factory cannot make a device for.
  ZKSO::SnapInfo* NoDeviceRecord() {
    m_dRecords.emplace_back(&m_oDatabase);
    return &m_dRecords.back();
  }
  // A record prepared and snapped earlier: reconcile gets through its
  // preparation without a file server.
  ZKSO::SnapInfo* SnappedRecord() {
    m_dRecords.emplace_back(&m_oDatabase);
    zkref::MemSnapInfo& oRecord = m_dRecords.back();
    oRecord.sSourceDevice =
        "{kemtype:vmware,type:nfs,lunuuid:\\/fs1,targethostname:nas1,"
        "vendor:celerra}";
    oRecord.sSnapName = "nightly_1700000000";
    oRecord.nStatus = ZKSO::SNAP_SUCCESS;
    oRecord.mMetaData[SM_MDT_FS_INFO] = "nas1|101|1|pool|2|/fs1|";
    oRecord.mMetaData[SM_MDT_SNAP_UUID] = "nightly_1700000000|58|";
    oRecord.sBoundArray = "nas1";
    return &oRecord;
  }
  zkref::MemSnapInfo& Record(int i) { return m_dRecords[i]; }

  ZKSO::ResultCode Run(const OperationPolicy& oPolicy,
                       std::vector<ZKSO::SnapInfo*> vRecords,
                       ScriptedOperation& oOperation) {
    OperationFrame oFrame(oPolicy, vRecords.data(),
                          static_cast<int16_t>(vRecords.size()), &m_oOSUtil);
    return oFrame.Run(oOperation);
  }
  std::vector<ZkLogLine> LinesEqualTo(const std::string& sText) const {
    std::vector<ZkLogLine> v;
    for (const ZkLogLine& oLine : m_oSink.Lines()) {
      if (oLine.sText == sText) v.push_back(oLine);
    }
    return v;
  }

  zkref::ArrayDatabase m_oDatabase;
  zkref::MemOSUtil m_oOSUtil{kJobId};
  std::deque<zkref::MemSnapInfo> m_dRecords;
  ZkCaptureLogSink m_oSink;
};

TEST_F(OperationFrameTest, NextRecordPolicyWalksEveryRecord) {
  std::vector<ZKSO::SnapInfo*> v = {NoDeviceRecord(), NoDeviceRecord(),
                                    NoDeviceRecord()};
  ScriptedOperation oOperation(v);
  oOperation.nSkipCountedAt = 1;
  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Run(kDeletePolicy, v, oOperation));
  EXPECT_EQ(std::vector<int>{ZKSO::DELETE_FAILED}, Record(0).vStatusHistory);
  EXPECT_TRUE(Record(1).vStatusHistory.empty());
  EXPECT_EQ(std::vector<int>{ZKSO::DELETE_FAILED}, Record(2).vStatusHistory);
  EXPECT_TRUE(oOperation.vStopReports.empty());
  EXPECT_EQ(1, oOperation.nAfterLoop);
  const auto vLines =
      LinesEqualTo("Successfully deleted snaps for [1 of 3] devices.");
  ASSERT_EQ(1u, vLines.size()) << m_oSink.Dump();
  EXPECT_EQ(kDeletePolicy.pszTag, vLines[0].sTag);
  EXPECT_EQ(0, vLines[0].nLevel);
  EXPECT_EQ(kJobId, vLines[0].nJobId);
  EXPECT_EQ(1u, LinesEqualTo("Request to delete snaps for [3] devices").size());
}

TEST_F(OperationFrameTest, StopPolicyReportsRecordInHandAndLeavesTheRest) {
  std::vector<ZKSO::SnapInfo*> v = {NoDeviceRecord(), NoDeviceRecord(),
                                    NoDeviceRecord()};
  ScriptedOperation oOperation(v);
  oOperation.nSkipCountedAt = 0;
  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Run(kPreparePolicy, v, oOperation));
  EXPECT_EQ(std::vector<int>{ZKSO::READY_FOR_SNAP_FAILED},
            Record(1).vStatusHistory);
  EXPECT_TRUE(Record(2).Calls().empty());
  EXPECT_EQ(std::vector<int>{1}, oOperation.vStopReports);
  EXPECT_EQ(1, oOperation.nAfterLoop);
  EXPECT_EQ(1u, LinesEqualTo("Successfully prepared snaps for [1 of 3] "
                             "devices.")
                    .size());
}

TEST_F(OperationFrameTest, ReconcileWritesNothingForMissingDevice) {
  std::vector<ZKSO::SnapInfo*> v = {NoDeviceRecord(), NoDeviceRecord()};
  ScriptedOperation oOperation(v);
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Run(kReconcilePolicy, v, oOperation));
  EXPECT_TRUE(Record(0).vStatusHistory.empty());
  EXPECT_TRUE(Record(1).vStatusHistory.empty());
  const auto vLines = LinesEqualTo("Failed to reconcile any snap");
  ASSERT_EQ(1u, vLines.size());
  EXPECT_EQ(-1, vLines[0].nLevel);
}

// An exception in one record's turn is a failure of that record: with a
// stop handler it stops the loop like any stop; without one the policy's
// action applies. It never leaves the frame.
TEST_F(OperationFrameTest, ExceptionsFollowThePolicy) {
  {
    std::vector<ZKSO::SnapInfo*> v = {NoDeviceRecord(), NoDeviceRecord()};
    ScriptedOperation oOperation(v);
    oOperation.nThrowInSkipAt = 0;
    oOperation.nSkipCountedAt = 1;
    EXPECT_EQ(ZKSO::RESULT_FAILURE, Run(kPreparePolicy, v, oOperation));
    EXPECT_EQ(std::vector<int>{0}, oOperation.vStopReports);
    EXPECT_TRUE(Record(1).Calls().empty());
  }
  {
    std::vector<ZKSO::SnapInfo*> v = {NoDeviceRecord(), NoDeviceRecord()};
    ScriptedOperation oOperation(v);
    oOperation.nThrowInSkipAt = 0;
    oOperation.nSkipCountedAt = 1;
    EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Run(kDeletePolicy, v, oOperation));
    EXPECT_TRUE(oOperation.vStopReports.empty());
  }
}

TEST_F(OperationFrameTest, OperationStepFailuresFollowThePolicy) {
  // Reconcile goes on past a failed step.
  {
    std::vector<ZKSO::SnapInfo*> v = {SnappedRecord(), SnappedRecord(),
                                      SnappedRecord()};
    ScriptedOperation oOperation(v);
    oOperation.nFailOperateAt = 1;
    EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS,
              Run(kReconcilePolicy, v, oOperation));
    EXPECT_EQ((std::vector<int>{0, 1, 2}), oOperation.vOperated);
    EXPECT_EQ(1u, LinesEqualTo("Successfully reconcilled snaps for [2 of 3] "
                               "devices.")
                      .size())
        << m_oSink.Dump();
  }
  // The same frame with a stop handler stops at the failed step and reports
  // that record; an exception in the step does the same.
  OperationPolicy oStopping = kReconcilePolicy;
  oStopping.eOnOperationFailure = FailureAction::kStop;
  oStopping.bStopHandler = true;
  for (bool bThrow : {false, true}) {
    SCOPED_TRACE(bThrow ? "throw" : "fail");
    std::vector<ZKSO::SnapInfo*> v = {SnappedRecord(), SnappedRecord(),
                                      SnappedRecord()};
    ScriptedOperation oOperation(v);
    (bThrow ? oOperation.nThrowInOperateAt : oOperation.nFailOperateAt) = 1;
    EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Run(oStopping, v, oOperation));
    EXPECT_EQ((std::vector<int>{0, 1}), oOperation.vOperated);
    EXPECT_EQ(std::vector<int>{1}, oOperation.vStopReports);
  }
}

TEST_F(OperationFrameTest, NullArrayAndNullRecordsAreFailedRecords) {
  ScriptedOperation oOperation({});
  {
    OperationFrame oFrame(kDeletePolicy, nullptr, 4, &m_oOSUtil);
    EXPECT_EQ(ZKSO::RESULT_FAILURE, oFrame.Run(oOperation));
  }
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(1u, LinesEqualTo("Snap info record [" + std::to_string(i) +
                               "] is missing")
                      .size());
  }
  EXPECT_EQ(1u, LinesEqualTo("Failed to delete any snap").size());
  std::vector<ZKSO::SnapInfo*> v = {nullptr, NoDeviceRecord()};
  ScriptedOperation oStopping(v);
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Run(kPreparePolicy, v, oStopping));
  EXPECT_EQ(std::vector<int>{-1}, oStopping.vStopReports);
  EXPECT_TRUE(Record(0).Calls().empty());
}

TEST_F(OperationFrameTest, ArrayErrorReportPostsAndLogsTheRefusal) {
  CelerraError oError;
  oError.nStatus = 5;
  oError.sComponent = "CS_PLATFORM";
  oError.sFacility = "FS";
  oError.sMessage = "Checkpoint limit reached";
  oError.sMessageCode = "13690535984";
  oError.sSeverity = "ERROR";
  oError.sDescription = "Too many checkpoints.";
  oError.sAction = "Delete some.";
  oError.sDiagnostics = "fs 101";
  ManageCelerra oClient(kJobId);
  oClient.SetLastError(oError);
  ZKSO::SnapInfo* pRecord = NoDeviceRecord();

  OperationFrame oFrame(kMapPolicy, &pRecord, 1, &m_oOSUtil);
  oFrame.Begin();
  oFrame.ReportError(oClient.GetLastError(), pRecord, JPR_MAP_FAILED, "own");
  oFrame.ReportError(oClient.GetLastError(), nullptr, JPR_MAP_FAILED, "own");

  ASSERT_EQ(1u, Record(0).vJPRHistory.size());
  EXPECT_EQ(JPR_MAP_FAILED, Record(0).vJPRHistory[0].first);
  EXPECT_EQ(
      "Component:CS_PLATFORMFacility:FSMessage:Checkpoint limit "
      "reachedMessageCode:13690535984Severity:ERRORDescription:Too many "
      "checkpoints. Action:Delete some. Diagnostics:fs 101",
      Record(0).vJPRHistory[0].second);
  const auto vLines = LinesEqualTo(
      "Status [5] returned by Celerra, Component:[CS_PLATFORM], "
      "facility:[FS],message:[Checkpoint limit reached], "
      "messageCode:[13690535984], severity:[ERROR]");
  ASSERT_EQ(2u, vLines.size()) << m_oSink.Dump();
  EXPECT_EQ(kMapPolicy.pszTag, vLines[0].sTag);
  EXPECT_EQ(-1, vLines[0].nLevel);
  EXPECT_EQ(kJobId, vLines[0].nJobId);
}

// No file server command failed: the empty error text is not a reason, the
// plug-in's own words are, and no status line is logged.
TEST_F(OperationFrameTest, BlankArrayErrorPostsTheOwnTextInstead) {
  ZKSO::SnapInfo* pRecord = NoDeviceRecord();
  OperationFrame oFrame(kMapPolicy, &pRecord, 1, &m_oOSUtil);
  oFrame.Begin();
  oFrame.ReportError(CelerraError(), pRecord, JPR_MAP_FAILED,
                     "Map stopped before any command failed");
  ASSERT_EQ(1u, Record(0).vJPRHistory.size());
  EXPECT_EQ(JPR_MAP_FAILED, Record(0).vJPRHistory[0].first);
  EXPECT_EQ("Map stopped before any command failed",
            Record(0).vJPRHistory[0].second);
  EXPECT_TRUE(m_oSink.Find("Status [").empty()) << m_oSink.Dump();
}

}  // namespace
