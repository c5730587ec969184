// SPDX-License-Identifier: Apache-2.0
// Revert, delete and reconcile of a snapshot's checkpoint against the
// simulated file server, for plain read-only snapshots and for snapshots
// that are writable checkpoints of a baseline.
#include <list>
#include <string>
#include <vector>

#include "SnapshotServerTestSupport.h"

namespace {

using zktest::SnapshotRecord;

const char kRevertTag[] = "CelerraSnapDevice::RevertFSFromChkPt";
const char kDeleteTag[] = "CelerraSnapDevice::DeleteChkPt";

class ChkPtTest : public zktest::SnapshotServerTest {
 protected:
  // A device of the record prepared for eOperation, as the entry point
  // holds it.
  CelerraSnapDevicePtr Prepared(const SnapshotRecord& oSnapshot,
                                _SnapOperationType eOperation) {
    UseSnapshot(oSnapshot);
    CelerraSnapDevicePtr pDevice = MakeDevice(eOperation);
    EXPECT_TRUE(pDevice);
    if (pDevice) {
      EXPECT_TRUE(pDevice->PreOperation());
    }
    ResetJournal();
    m_oLog.Clear();
    return pDevice;
  }
  // The status line of the last refusal, at level -1 under sTag.
  std::vector<ZkLogLine> StatusLines(const char* pszTag) const {
    std::vector<ZkLogLine> vLines = LinesOf(pszTag, "returned by Celerra");
    for (const ZkLogLine& oLine : vLines) EXPECT_EQ(oLine.nLevel, -1);
    return vLines;
  }
};

// ---- Revert ----

TEST_F(ChkPtTest, RevertRestoresFromTheSnapshotOrItsBaseline) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    const char* pszRestoredFrom;
    const char* pszCommand;
  } aCases[] = {
      {"read-only snapshot", zktest::NfsSnapshot(), "SNAP",
       "RestorePFSFromChkPt name=SNAP id=150 fs=101"},
      {"writable snapshot", zktest::WritableSnapshot(zktest::NASSnapshot()),
       "BSNAP_baseline",
       "RestorePFSFromChkPt name=BSNAP_baseline id=180 fs=101"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    ASSERT_TRUE(zkfiler::WriteToFileSystem(zktest::kControlHost, "101").ok());
    const zkfiler::FileSystemDef oBefore = FileSystem("101");
    const int64_t nSnapGeneration =
        CheckpointNamed(oCase.pszRestoredFrom).generation;
    ASSERT_NE(oBefore.generation, nSnapGeneration);

    CelerraSnapDevicePtr pDevice = Prepared(oCase.oSnapshot, SNAP_OP_REVERT);
    ManageCelerra oClient = ClientFor(*pDevice);
    EXPECT_TRUE(pDevice->RevertFSFromChkPt(oClient));
    EXPECT_EQ(Journal(), std::vector<std::string>{oCase.pszCommand});
    const zkfiler::FileSystemDef oAfter = FileSystem("101");
    EXPECT_EQ(oAfter.restores, oBefore.restores + 1);
    EXPECT_EQ(oAfter.generation, nSnapGeneration);
    EXPECT_TRUE(m_oRecord.vJPRHistory.empty());
    EXPECT_TRUE(StatusLines(kRevertTag).empty());
  }
}

TEST_F(ChkPtTest, RevertRefusalPostsTheWholeErrorText) {
  CelerraError oError;
  oError.nStatus = 5;
  oError.sComponent = "DART";
  oError.sFacility = "SVFS";
  oError.sMessage = "restore failed";
  oError.sMessageCode = "13421772801";
  oError.sSeverity = "ERROR";
  oError.sDescription = "The file system is busy.";
  oError.sAction = "Retry later.";
  oError.sDiagnostics = "fs=101";
  ArmFault("RestorePFSFromChkPt", zkfiler::FaultMode::kAlways, oError);

  // A writable snapshot: restored from its baseline, named as itself.
  CelerraSnapDevicePtr pDevice =
      Prepared(zktest::WritableSnapshot(zktest::NfsSnapshot()), SNAP_OP_REVERT);
  ManageCelerra oClient = ClientFor(*pDevice);
  EXPECT_FALSE(pDevice->RevertFSFromChkPt(oClient));
  EXPECT_EQ(FileSystem("101").restores, 0);
  EXPECT_TRUE(ErrorLogged(
      "CelerraSnapDevice(1498): -Error-: Unable to revert PFS:[101] "
      "ChkPt:[BSNAP]"));
  auto vStatus = StatusLines(kRevertTag);
  ASSERT_EQ(vStatus.size(), 1u);
  EXPECT_EQ(vStatus[0].sText,
            "Status [5] returned by Celerra, Component:[DART], "
            "facility:[SVFS],message:[restore failed], "
            "messageCode:[13421772801], severity:[ERROR]");
  ASSERT_EQ(m_oRecord.vJPRHistory.size(), 1u);
  EXPECT_EQ(m_oRecord.vJPRHistory[0],
            std::make_pair(int{JPR_REVERT_FAILED},
                           std::string("[Component:DARTFacility:SVFSMessage:"
                                       "restore failedMessageCode:13421772801"
                                       "Severity:ERRORDescription:The file "
                                       "system is busy. Action:Retry later. "
                                       "Diagnostics:fs=101]")));
}

TEST_F(ChkPtTest, RevertRefusedByTheFileServerNamesItsCause) {
  // Snapshot SNAP claims baseline 150, but 150 is SNAP itself, not a
  // checkpoint named "SNAP_baseline": the file server refuses the restore.
  SnapshotRecord oSnapshot = zktest::NfsSnapshot();
  oSnapshot.sSnapUUID = "SNAP|150|150|";
  CelerraSnapDevicePtr pDevice = Prepared(oSnapshot, SNAP_OP_REVERT);
  ManageCelerra oClient = ClientFor(*pDevice);
  EXPECT_FALSE(pDevice->RevertFSFromChkPt(oClient));
  EXPECT_EQ(Journal(), std::vector<std::string>{
                           "RestorePFSFromChkPt name=SNAP_baseline id=150 "
                           "fs=101"});
  const CelerraError oError = oClient.GetLastError();
  ASSERT_FALSE(oError.sMessage.empty());
  ASSERT_EQ(m_oRecord.vJPRHistory.size(), 1u);
  EXPECT_EQ(m_oRecord.vJPRHistory[0].first, JPR_REVERT_FAILED);
  const std::string& sPosted = m_oRecord.vJPRHistory[0].second;
  EXPECT_EQ(sPosted.rfind("[Component:" + oError.sComponent, 0), 0u);
  EXPECT_NE(sPosted.find("Message:" + oError.sMessage), std::string::npos);
  EXPECT_NE(sPosted.find(" Action:" + oError.sAction), std::string::npos);
  EXPECT_EQ(StatusLines(kRevertTag).size(), 1u);
  EXPECT_EQ(FileSystem("101").restores, 0);
}

// ---- Delete ----

TEST_F(ChkPtTest, DeleteRemovesTheSnapshotOrTheWritableOneWithItsBaseline) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    const char* pszCommand;
    std::vector<std::string> vGone;
  } aCases[] = {
      {"read-only snapshot",
       zktest::NfsSnapshot(),
       "DeleteChkPt id=150 baseline= with_baseline=false",
       {"SNAP"}},
      {"writable snapshot",
       zktest::WritableSnapshot(zktest::NASSnapshot()),
       "DeleteChkPt id=181 baseline=180 with_baseline=true",
       {"BSNAP", "BSNAP_baseline"}},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    const size_t nBefore = Checkpoints().size();
    CelerraSnapDevicePtr pDevice = Prepared(oCase.oSnapshot, SNAP_OP_DELETE);
    ManageCelerra oClient = ClientFor(*pDevice);
    EXPECT_TRUE(pDevice->DeleteChkPt(oClient));
    EXPECT_EQ(Journal(), std::vector<std::string>{oCase.pszCommand});
    EXPECT_EQ(Checkpoints().size(), nBefore - oCase.vGone.size());
    for (const std::string& sName : oCase.vGone) {
      EXPECT_TRUE(CheckpointNamed(sName).id.empty()) << sName;
    }
    EXPECT_TRUE(StatusLines(kDeleteTag).empty());
  }
}

TEST_F(ChkPtTest, DeleteRefusalNamesTheCheckpoint) {
  // A mapped snapshot still has its writable checkpoint and export.
  UseSnapshot(zktest::NfsSnapshot());
  ASSERT_EQ(Map(), "");
  CelerraSnapDevicePtr pDevice =
      Prepared(zktest::NfsSnapshot(), SNAP_OP_DELETE);
  ManageCelerra oClient = ClientFor(*pDevice);
  EXPECT_FALSE(pDevice->DeleteChkPt(oClient));
  EXPECT_EQ(CheckpointNamed("SNAP").id, "150");
  EXPECT_TRUE(ErrorLogged(
      "CelerraSnapDevice(1520): -Error-: Unable to delete ChkPt (aka "
      "snapshot):[150]"));
  auto vStatus = StatusLines(kDeleteTag);
  ASSERT_EQ(vStatus.size(), 1u);
  EXPECT_NE(vStatus[0].sText.find("messageCode:[13690535962]"),
            std::string::npos);

  // A writable snapshot: the line names the snapshot's own id.
  ArmFault("DeleteChkPt");
  m_oLog.Clear();
  CelerraSnapDevicePtr pWritable =
      Prepared(zktest::WritableSnapshot(zktest::NfsSnapshot()), SNAP_OP_DELETE);
  EXPECT_FALSE(pWritable->DeleteChkPt(oClient));
  EXPECT_TRUE(ErrorLogged(
      "CelerraSnapDevice(1530): -Error-: Unable to delete ChkPt (aka "
      "snapshot):[181]"));
  EXPECT_FALSE(ErrorLogged(
      "CelerraSnapDevice(1520): -Error-: Unable to delete ChkPt (aka "
      "snapshot):[181]"));
  vStatus = StatusLines(kDeleteTag);
  ASSERT_EQ(vStatus.size(), 1u);
  EXPECT_NE(vStatus[0].sText.find("messageCode:[13958643799]"),
            std::string::npos);
  EXPECT_EQ(CheckpointNamed("BSNAP").id, "181");
  EXPECT_EQ(CheckpointNamed("BSNAP_baseline").id, "180");
  EXPECT_TRUE(m_oRecord.vJPRHistory.empty());
}

// ---- Reconcile ----

TEST_F(ChkPtTest, ReconcileFindsOnlyTheExactCheckpoint) {
  const CelerraChkPtInfo oSnap{"150", "", "101", "SNAP"};
  const CelerraChkPtInfo oWritable{"181", "180", "101", "BSNAP"};
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    std::list<CelerraChkPtInfo> lChkpts;
    bool bFound;
  } aCases[] = {
      {"exact", zktest::NfsSnapshot(), {oSnap}, true},
      {"after others",
       zktest::NfsSnapshot(),
       {oWritable, {"151", "", "101", "SNAP"}, oSnap},
       true},
      {"empty list", zktest::NfsSnapshot(), {}, false},
      {"same id and name, other baseline",
       zktest::NfsSnapshot(),
       {{"150", "180", "101", "SNAP"}},
       false},
      {"name in other letter case",
       zktest::NfsSnapshot(),
       {{"150", "", "101", "snap"}},
       false},
      {"other id", zktest::NfsSnapshot(), {{"1500", "", "101", "SNAP"}}, false},
      {"longer name",
       zktest::NfsSnapshot(),
       {{"150", "", "101", "SNAP_RW"}},
       false},
      {"writable, exact",
       zktest::WritableSnapshot(zktest::NfsSnapshot()),
       {oSnap, oWritable},
       true},
      {"writable, baseline missing",
       zktest::WritableSnapshot(zktest::NfsSnapshot()),
       {{"181", "", "101", "BSNAP"}},
       false},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    CelerraSnapDevicePtr pDevice = Prepared(oCase.oSnapshot, SNAP_OP_RECONCILE);
    ManageCelerra oClient = ClientFor(*pDevice);
    std::list<CelerraChkPtInfo> lChkpts = oCase.lChkpts;
    bool bFound = !oCase.bFound;
    EXPECT_TRUE(pDevice->ReconcileChkPt(oClient, lChkpts, bFound));
    EXPECT_EQ(bFound, oCase.bFound);
    EXPECT_EQ(lChkpts.size(), oCase.lChkpts.size());
    EXPECT_TRUE(Journal().empty());  // the list is all it looks at
  }
}

TEST_F(ChkPtTest, ReconcileAgainstTheFileServersList) {
  for (const SnapshotRecord& oSnapshot :
       {zktest::NfsSnapshot(),
        zktest::WritableSnapshot(zktest::NfsSnapshot())}) {
    SCOPED_TRACE(oSnapshot.sSnapUUID);
    InstallServer();
    CelerraSnapDevicePtr pDevice = Prepared(oSnapshot, SNAP_OP_RECONCILE);
    ManageCelerra oClient = ClientFor(*pDevice);
    std::list<CelerraChkPtInfo> lChkpts;
    ASSERT_TRUE(oClient.GetChkPointsInfo("", lChkpts));
    bool bFound = false;
    EXPECT_TRUE(pDevice->ReconcileChkPt(oClient, lChkpts, bFound));
    EXPECT_TRUE(bFound);

    // Once deleted, the snapshot is no longer found.
    CelerraSnapDevicePtr pDelete = Prepared(oSnapshot, SNAP_OP_DELETE);
    ASSERT_TRUE(pDelete->DeleteChkPt(oClient));
    ASSERT_TRUE(oClient.GetChkPointsInfo("", lChkpts));
    EXPECT_TRUE(pDevice->ReconcileChkPt(oClient, lChkpts, bFound));
    EXPECT_FALSE(bFound);
  }
}

}  // namespace
