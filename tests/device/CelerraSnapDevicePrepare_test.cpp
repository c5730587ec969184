// SPDX-License-Identifier: Apache-2.0
// Preparation of a device for each operation (status written first, what is
// loaded from the record) and completion (what is stored, status written),
// and the checkpoint name.
#include <algorithm>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "ScopedHostsFile.h"
#include "tests/testclock/ZkTestClock.h"

namespace {

using zktest::DeviceTest;
using zktest::Identifier;
using zktest::kPassword;
using zktest::NfsSource;

const char kFSInfo[] = "filer1|fs1|1|x|server_2|/fs1|";

class PrepareTest : public DeviceTest {
 protected:
  void SetUp() override { zktest::FixNow(1700000000); }
  void TearDown() override {
    zktest::UnfixNow();
    DeviceTest::TearDown();
  }

  // A record that a prepare and a snap have been through.
  void SnappedRecord(const std::string& sSource = NfsSource("/fs1/a")) {
    AddArray("filer1");
    m_oRecord.sSourceDevice = sSource;
    m_oRecord.sBoundArray = "filer1";
    m_oRecord.sSnapName = "ckpt_1";
    m_oRecord.mMetaData[SM_MDT_FS_INFO] = kFSInfo;
    m_oRecord.mMetaData[SM_MDT_SNAP_UUID] = "ckpt_1|101|";
    m_oRecord.nStatus = ZKSO::SNAP_SUCCESS;
  }
  CelerraSnapDevicePtr Make(_SnapOperationType eOp) {
    CelerraSnapDevicePtr pDevice = MakeDevice(eOp);
    EXPECT_TRUE(pDevice);
    m_oRecord.ClearCalls();
    return pDevice;
  }
  size_t IndexOf(const std::string& sCall) const {
    const auto& vCalls = m_oRecord.Calls();
    return std::find(vCalls.begin(), vCalls.end(), sCall) - vCalls.begin();
  }
  bool Called(const std::string& sCall) const {
    return IndexOf(sCall) < m_oRecord.Calls().size();
  }
  const zkref::MemSnapInfo::JobLogLine& LastJobLine() const {
    return m_oRecord.vJobLog.back();
  }
};

// ---- PreOperation ----

TEST_F(PrepareTest, FailureStatusIsWrittenBeforeAnyWork) {
  const struct {
    int nOp;
    std::vector<int> vStatuses;
  } aCases[] = {
      {SNAP_OP_SNAP, {ZKSO::SNAP_STATUS_UNKNOWN}},
      {SNAP_OP_RESERVED, {ZKSO::SNAP_STATUS_NONE}},
      {SNAP_OP_MAP, {ZKSO::MAP_FAILED}},
      {SNAP_OP_UNMAP, {ZKSO::UNMAP_FAILED}},
      {SNAP_OP_DELETE, {ZKSO::DELETE_FAILED}},
      {SNAP_OP_REVERT, {ZKSO::REVERT_FAILED}},
      {SNAP_OP_RECONCILE, {}},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.nOp);
    m_oRecord = zkref::MemSnapInfo(&m_oDatabase);
    m_oDatabase.Clear();
    SnappedRecord();
    CelerraSnapDevicePtr pDevice =
        Make(static_cast<_SnapOperationType>(oCase.nOp));
    ASSERT_TRUE(pDevice->PreOperation());
    EXPECT_EQ(m_oRecord.vStatusHistory, oCase.vStatuses);
    ASSERT_FALSE(m_oRecord.vJobLog.empty());
    EXPECT_EQ(m_oRecord.vJobLog[0].nLevel, 0);
    EXPECT_EQ(m_oRecord.vJobLog[0].sText,
              "Snap operation[" + std::to_string(oCase.nOp) + "]");
    if (!oCase.vStatuses.empty()) {
      EXPECT_LT(
          IndexOf("SetStatus(" + std::to_string(oCase.vStatuses[0]) + ")"),
          IndexOf("GetMetaData(16)"));
    }
    // Loaded for every later operation.
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    EXPECT_EQ(oPeer.Storage().sPFSId, "fs1");
    EXPECT_EQ(oPeer.NfsShareName(), "/fs1");
    EXPECT_EQ(oPeer.ChkptName(), "ckpt_1");
    EXPECT_EQ(oPeer.ArrayIdentifier(), "array-1");
    EXPECT_EQ(oPeer.Credentials().sHostName, "cs1");
    EXPECT_EQ(oPeer.Credentials().sHostPassword, kPassword);
    EXPECT_EQ(oPeer.ChkptId(), oCase.nOp == SNAP_OP_SNAP ? "" : "101");
  }
}

TEST_F(PrepareTest, UnknownOperationOrMissingRecordFails) {
  SnappedRecord();
  CelerraSnapDevicePtr pDevice = Make(static_cast<_SnapOperationType>(9));
  EXPECT_FALSE(pDevice->PreOperation());
  EXPECT_TRUE(m_oRecord.vStatusHistory.empty());
  auto vLines = LinesOf("CelerraSnapDevice::PreOperation",
                        "Internal error: Operation [9] not implemented");
  ASSERT_EQ(vLines.size(), 1u);
  EXPECT_EQ(vLines[0].nLevel, -1);

  CelerraSnapDevicePtr pOrphan(CelerraSnapDevice::InitializeDeviceObj(
      CELERRA_DEVICE_NFS, &m_oOSUtil, nullptr, NfsSource("/fs1"),
      SNAP_OP_SNAP));
  ASSERT_TRUE(pOrphan);
  EXPECT_FALSE(pOrphan->PreOperation());
  EXPECT_FALSE(pOrphan->PostOperation(ZKSO::SNAP_SUCCESS));
  EXPECT_EQ(LinesOf("CelerraSnapDevice::PreOperation",
                    "Snap info object is not initialized")
                .size(),
            1u);
}

TEST_F(PrepareTest, DeleteOfUnpreparedRecordReadsNothing) {
  SnappedRecord();
  m_oRecord.nStatus = ZKSO::READY_FOR_SNAP_FAILED;
  m_oRecord.mMetaData.clear();
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_DELETE);
  EXPECT_TRUE(pDevice->PreOperation());
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::READY_FOR_SNAP_FAILED);
  EXPECT_TRUE(m_oRecord.vStatusHistory.empty());
  EXPECT_EQ(m_oRecord.CallCount(zkref::Getter::kMetaData), 0);
}

TEST_F(PrepareTest, SnapReadsOnlyTheFileSystemMetadata) {
  SnappedRecord();
  m_oRecord.mMetaData.erase(SM_MDT_SNAP_UUID);
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_SNAP);
  ASSERT_TRUE(pDevice->PreOperation());
  EXPECT_TRUE(Called("GetMetaData(16)"));
  EXPECT_FALSE(Called("GetMetaData(6)"));
}

TEST_F(PrepareTest, MapNamesTheWritableCheckpoint) {
  const struct {
    const char* pszUUID;
    const char* pszRWName;
  } aCases[] = {
      {"ckpt_1|101|", "ckpt_1_RW"},
      {"ckpt_1|101|55|", "ckpt_1"},  // already a writable checkpoint
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszUUID);
    m_oDatabase.Clear();
    SnappedRecord();
    m_oRecord.sSnapName = "host_name";  // read after the snap UUID
    m_oRecord.mMetaData[SM_MDT_SNAP_UUID] = oCase.pszUUID;
    CelerraSnapDevicePtr pDevice = Make(SNAP_OP_MAP);
    ASSERT_TRUE(pDevice->PreOperation());
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    EXPECT_EQ(oPeer.RWChkptName(), oCase.pszRWName);
    EXPECT_EQ(oPeer.ChkptName(), "host_name");
    EXPECT_FALSE(Called("GetHostIdentifier"));  // not a VMware device
  }
}

TEST_F(PrepareTest, MapOfVMwareDeviceReadsTheHostIdentifier) {
  SnappedRecord(NfsSource("/fs1/a", "filer1", "vmware"));
  m_oRecord.sHostIdentifier = std::string("{vcname:vc1,esxname:esx1,") +
                              "vmkernel:10.0.0.1|,password:" + kPassword + "}";
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_MAP);
  ASSERT_TRUE(pDevice->PreOperation());
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  EXPECT_EQ(oPeer.ESXName(), "esx1");
  EXPECT_EQ(oPeer.VMKernelIPs(), std::vector<std::string>{"10.0.0.1"});
  EXPECT_TRUE(m_oLog.Contains("VmWare Host Identifier ["));

  // A missing host identifier is not an error.
  m_oRecord.sHostIdentifier.clear();
  CelerraSnapDevicePtr pSecond = Make(SNAP_OP_UNMAP);
  EXPECT_TRUE(pSecond->PreOperation());
}

TEST_F(PrepareTest, UnmapLoadsAndDeletesTheMountMetadata) {
  SnappedRecord();
  m_oRecord.mMetaData[SM_MDT_SNAP_MOUNT] = "ckpt_1_RW|202";
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_UNMAP);
  ASSERT_TRUE(pDevice->PreOperation());
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  EXPECT_EQ(oPeer.RWChkptName(), "ckpt_1_RW");
  EXPECT_EQ(oPeer.RWChkptId(), "202");
  EXPECT_TRUE(oPeer.MountInfoLoaded());

  ASSERT_TRUE(pDevice->PostOperation(ZKSO::UNMAP_SUCCESS));
  EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT), 0u);
  EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_UUID], "ckpt_1|101|");
  EXPECT_TRUE(
      m_oRecord.JobLogContains("Deleting SM_MDT_SNAP_MOUNT for snap[ckpt_1]."));
  EXPECT_LT(IndexOf("SetMetaData(46,null)"), IndexOf("SetStatus(14)"));
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
}

TEST_F(PrepareTest, UnmapWithoutMountMetadataContinues) {
  SnappedRecord();
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_UNMAP);
  ASSERT_TRUE(pDevice->PreOperation());
  EXPECT_FALSE(CelerraSnapDeviceTestPeer(pDevice.get()).MountInfoLoaded());
  EXPECT_TRUE(m_oRecord.JobLogContains(
      "Error:Unable to get the mountInfo snapMetaData. Continuing"));

  ASSERT_TRUE(pDevice->PostOperation(ZKSO::UNMAP_SUCCESS));
  for (const std::string& sCall : m_oRecord.Calls()) {
    EXPECT_EQ(sCall.rfind("SetMetaData", 0), std::string::npos) << sCall;
  }
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
}

TEST_F(PrepareTest, UnmapOfWritableSnapshotSwapsAndRewritesTheUUID) {
  SnappedRecord();
  m_oRecord.mMetaData[SM_MDT_SNAP_UUID] = "ckpt_1|101|55|";
  m_oRecord.mMetaData[SM_MDT_SNAP_MOUNT] = "ignored|999";
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_UNMAP);
  ASSERT_TRUE(pDevice->PreOperation());
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  EXPECT_EQ(oPeer.RWChkptId(), "101");
  EXPECT_EQ(oPeer.RWChkptName(), "ckpt_1");
  EXPECT_EQ(oPeer.ChkptId(), "55");
  EXPECT_TRUE(oPeer.SnapUUIDChanged());
  EXPECT_FALSE(Called("GetMetaData(46)"));

  ASSERT_TRUE(pDevice->PostOperation(ZKSO::UNMAP_SUCCESS));
  EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_UUID], "ckpt_1|55|");
  EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_MOUNT], "ignored|999");
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
}

TEST_F(PrepareTest, EachMissingPieceFailsWithItsJobLogLine) {
  const struct {
    const char* pszName;
    int nOp;
    void (*fnBreak)(zkref::MemSnapInfo&);
    const char* pszLine;
  } aCases[] = {
      {"no FS info", SNAP_OP_SNAP,
       [](zkref::MemSnapInfo& r) { r.mMetaData.erase(SM_MDT_FS_INFO); },
       "Error:Unable to get the snapMetaData."},
      {"bad FS info", SNAP_OP_SNAP,
       [](zkref::MemSnapInfo& r) { r.mMetaData[SM_MDT_FS_INFO] = "f||1|"; },
       "Error:Unable to parse the FS metaData."},
      {"no snap UUID", SNAP_OP_DELETE,
       [](zkref::MemSnapInfo& r) { r.mMetaData.erase(SM_MDT_SNAP_UUID); },
       "Error:Unable to get the snapMetaData."},
      {"bad snap UUID", SNAP_OP_REVERT,
       [](zkref::MemSnapInfo& r) { r.mMetaData[SM_MDT_SNAP_UUID] = "n||"; },
       "Error:Unable to parse the snap uuid MetaData."},
      {"bad mount", SNAP_OP_UNMAP,
       [](zkref::MemSnapInfo& r) { r.mMetaData[SM_MDT_SNAP_MOUNT] = "rw|"; },
       "Error:Unable to parse the SM_MDT_SNAP_MOUNT MetaData."},
      {"no snap name", SNAP_OP_RECONCILE,
       [](zkref::MemSnapInfo& r) { r.sSnapName.clear(); },
       "Error:Unable to get the snapName."},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    m_oRecord = zkref::MemSnapInfo(&m_oDatabase);
    m_oDatabase.Clear();
    SnappedRecord();
    oCase.fnBreak(m_oRecord);
    CelerraSnapDevicePtr pDevice =
        Make(static_cast<_SnapOperationType>(oCase.nOp));
    EXPECT_FALSE(pDevice->PreOperation());
    EXPECT_EQ(LastJobLine().nLevel, 2);
    EXPECT_EQ(LastJobLine().sTag, "CelerraSnapDevice::PreOperationCommon");
    EXPECT_EQ(LastJobLine().sText, oCase.pszLine);
    EXPECT_TRUE(m_oRecord.vJPRHistory.empty());
  }
}

TEST_F(PrepareTest, MissingCredentialsPostTheArrayReason) {
  SnappedRecord();
  m_oRecord.sBoundArray.clear();
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_DELETE);
  EXPECT_FALSE(pDevice->PreOperation());
  EXPECT_EQ(LastJobLine().sText, "Failed to get array creds for device[" +
                                     m_oRecord.sSourceDevice + "].");
  const char* pszText =
      "Unable to get array credentials & array identifier.Please add/modify "
      "the array in array management.";
  ASSERT_EQ(m_oRecord.vJPRHistory.size(), 1u);
  EXPECT_EQ(m_oRecord.vJPRHistory[0].first, JPR_ARRAY_CREDENTIALS_FAILED);
  EXPECT_EQ(m_oRecord.vJPRHistory[0].second, std::string("[") + pszText + "]");
  EXPECT_EQ(LinesOf("CelerraSnapDevice::PreOperationCommon", pszText).size(),
            1u);
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::DELETE_FAILED);
}

// ---- Prepare ----

TEST_F(PrepareTest, PrepareStopsWhereTheDeviceCannotBeUsed) {
  // Not recognised: no array lookup at all.
  m_oRecord.sSourceDevice = NfsSource("/fs1/a", "");
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_PREPARE);
  EXPECT_FALSE(pDevice->PreOperation());
  EXPECT_EQ(m_oRecord.vStatusHistory,
            std::vector<int>{ZKSO::READY_FOR_SNAP_FAILED});
  for (const std::string& sCall : m_oRecord.Calls()) {
    EXPECT_EQ(sCall.rfind("SetArrayName", 0), std::string::npos);
  }

  // A LUN that is not a VMware datastore.
  m_oRecord = zkref::MemSnapInfo(&m_oDatabase);
  m_oRecord.sSourceDevice = Identifier("fc", "6006", "filer1");
  pDevice = Make(SNAP_OP_PREPARE);
  EXPECT_FALSE(pDevice->PreOperation());
  ASSERT_EQ(m_oRecord.vJPRHistory.size(), 1u);
  EXPECT_EQ(m_oRecord.vJPRHistory[0].first, JPR_LUN_DEVICE_FAILED);
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::READY_FOR_SNAP_FAILED);
}

TEST_F(PrepareTest, PrepareWithoutArrayEntryAsksToAddIt) {
  ScopedHostsFile oHosts("");
  AddArray("other-filer");
  m_oRecord.sSourceDevice = NfsSource("/fs1/a", "nohost.zk.invalid");
  m_oRecord.sSnapName = "SP";
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_PREPARE);
  EXPECT_FALSE(pDevice->PreOperation());
  EXPECT_TRUE(m_oRecord.JobLogContains("Failed to get array info for device[" +
                                       m_oRecord.sSourceDevice + "]."));
  std::string sText =
      "Failed to find array management entry for array "
      "identifier[nohost.zk.invalid] and Snap Vendor as [Dell EMC VNX / "
      "Celerra] or [EMC VNX / Celerra].Please add/check vendor name or "
      "control host of array in array management.";
  ASSERT_FALSE(m_oRecord.vJPRHistory.empty());
  EXPECT_EQ(
      m_oRecord.vJPRHistory.back(),
      std::make_pair(int{JPR_ARRAY_CREDENTIALS_FAILED}, "[" + sText + "]"));
  auto vLines = LinesOf("CelerraSnapDevice::PrePrepareDevice", sText);
  ASSERT_EQ(vLines.size(), 1u);
  EXPECT_EQ(vLines[0].nLevel, -1);
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::READY_FOR_SNAP_FAILED);
}

TEST_F(PrepareTest, PrepareWithoutSnapNameFails) {
  AddArray("filer1");
  m_oRecord.sSourceDevice = NfsSource("/fs1/a", "filer1");
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_PREPARE);
  EXPECT_FALSE(pDevice->PreOperation());
  EXPECT_EQ(LastJobLine().sText, "Error:Unable to get the snapName.");
  EXPECT_EQ(LastJobLine().sTag, "CelerraSnapDevice::SetSnapshotName");
  EXPECT_EQ(LinesOf("CelerraSnapDevice::PrePrepareDevice",
                    "Failed to set snapshot name")
                .size(),
            1u);
  // Credentials were read on the way; the password went nowhere.
  EXPECT_EQ(
      CelerraSnapDeviceTestPeer(pDevice.get()).Credentials().sHostPassword,
      kPassword);
}

// ---- PostOperation ----

TEST_F(PrepareTest, PostOperationOfPrepareStoresFileSystemThenStatus) {
  m_oRecord.sSourceDevice = NfsSource("/fs1/a");
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_PREPARE);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  ASSERT_TRUE(pDevice->ParseFSMetaData(kFSInfo));
  oPeer.ChkptName() = "SP_1700000000";

  ASSERT_TRUE(pDevice->PostOperation(ZKSO::READY_FOR_SNAP));
  EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_FS_INFO], kFSInfo);
  EXPECT_EQ(m_oRecord.sSnapName, "SP_1700000000");
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::READY_FOR_SNAP);
  EXPECT_LT(IndexOf("SetMetaData(16,\"" + std::string(kFSInfo) + "\")"),
            IndexOf("SetSnapName(\"SP_1700000000\")"));
  EXPECT_LT(IndexOf("SetSnapName(\"SP_1700000000\")"), IndexOf("SetStatus(1)"));
  EXPECT_EQ(LastJobLine().nLevel, 1);
  EXPECT_EQ(LastJobLine().sTag, "CelerraSnapDevice::PostOperation");
  EXPECT_EQ(LastJobLine().sText, "Setting Snap UUID [SP_1700000000]");
}

TEST_F(PrepareTest, PostOperationOfSnapStoresTheCheckpoint) {
  m_oRecord.sSourceDevice = NfsSource("/fs1/a");
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_SNAP);
  CelerraSnapDeviceTestPeer(pDevice.get()).ChkptName() = "SP_1700000000";
  pDevice->SetChkptID("101");
  ASSERT_TRUE(pDevice->PostOperation(ZKSO::SNAP_SUCCESS));
  EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_UUID], "SP_1700000000|101|");
  EXPECT_EQ(m_oRecord.sSnapName, "SP_1700000000");
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::SNAP_SUCCESS);
  EXPECT_EQ(LastJobLine().sTag, "");  // LogMessage
  EXPECT_EQ(LastJobLine().sText, "Setting Snap UUID [SP_1700000000]");
  // Other operations only write the status.
  CelerraSnapDevicePtr pRevert = Make(SNAP_OP_REVERT);
  ASSERT_TRUE(pRevert->PostOperation(ZKSO::REVERT_SUCCESS));
  EXPECT_EQ(m_oRecord.Calls(), std::vector<std::string>{"SetStatus(22)"});
}

TEST_F(PrepareTest, PostOperationRefusingMetadataKeepsTheFailureStatus) {
  m_oRecord.sSourceDevice = NfsSource("/fs1/a");
  m_oRecord.nStatus = ZKSO::READY_FOR_SNAP_FAILED;
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_PREPARE);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  ASSERT_TRUE(pDevice->ParseFSMetaData(kFSInfo));
  oPeer.NfsShareName() = "/fs1/a|b";
  oPeer.ChkptName() = "SP_1";
  EXPECT_FALSE(pDevice->PostOperation(ZKSO::READY_FOR_SNAP));
  // A checkpoint name that could not be stored in the snap UUID later.
  oPeer.NfsShareName() = "/fs1";
  oPeer.ChkptName() = "S|P_1";
  EXPECT_FALSE(pDevice->PostOperation(ZKSO::READY_FOR_SNAP));
  EXPECT_TRUE(m_oRecord.JobLogContains(
      "the checkpoint name [S|P_1] holds the separator \"|\""));

  CelerraSnapDevicePtr pSnap = Make(SNAP_OP_SNAP);
  CelerraSnapDeviceTestPeer(pSnap.get()).ChkptName() = "SP_1";
  pSnap->SetChkptID("10|1");
  EXPECT_FALSE(pSnap->PostOperation(ZKSO::SNAP_SUCCESS));

  EXPECT_TRUE(m_oRecord.vStatusHistory.empty());
  EXPECT_TRUE(m_oRecord.mMetaData.empty());
  EXPECT_EQ(m_oRecord.sSnapName, "");
}

// ---- Checkpoint name ----

TEST_F(PrepareTest, NewCheckpointNameIsSnapNameAndEpochSeconds) {
  m_oRecord.sSourceDevice = NfsSource("/fs1/a");
  m_oRecord.sSnapName = "SP";
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_PREPARE);
  ASSERT_TRUE(pDevice->SetChkptName(""));
  EXPECT_EQ(pDevice->GetChkptName(), "SP_1700000000");
  auto vLines = LinesOf("CelerraSnapDevice::SetSnapshotName",
                        "Snapshotname [SP_1700000000] set for device [" +
                            m_oRecord.sSourceDevice + "]");
  ASSERT_EQ(vLines.size(), 1u);
  EXPECT_EQ(vLines[0].nLevel, 3);

  // The same name again: nothing logged.
  m_oLog.Clear();
  EXPECT_TRUE(pDevice->SetChkptName("SP_1700000000"));
  EXPECT_TRUE(LinesOf("CelerraSnapDevice::SetSnapshotName").empty());

  EXPECT_TRUE(pDevice->SetChkptName("other_1"));
  EXPECT_EQ(pDevice->GetChkptName(), "other_1");
  EXPECT_EQ(LinesOf("CelerraSnapDevice::SetSnapshotName",
                    "Snapshotname changed [other_1] for device [")
                .size(),
            1u);
}

TEST_F(PrepareTest, CheckpointNameLongerThan255IsRefused) {
  m_oRecord.sSourceDevice = NfsSource("/fs1/a");
  CelerraSnapDevicePtr pDevice = Make(SNAP_OP_PREPARE);
  // 244 + "_" + 10 digits = 255: still taken.
  m_oRecord.sSnapName = std::string(244, 's');
  ASSERT_TRUE(pDevice->SetChkptName(""));
  EXPECT_EQ(pDevice->GetChkptName().size(), 255u);

  m_oRecord.sSnapName = std::string(245, 's');
  EXPECT_FALSE(pDevice->SetChkptName(""));
  EXPECT_EQ(pDevice->GetChkptName().size(), 255u);  // unchanged
  EXPECT_EQ(LastJobLine().nLevel, 2);
  EXPECT_EQ(LastJobLine().sTag, "CelerraSnapDevice::SetSnapshotName");
  EXPECT_NE(LastJobLine().sText.find("is longer than 255 characters"),
            std::string::npos);

  EXPECT_FALSE(pDevice->SetChkptName(std::string(256, 'n')));
  EXPECT_EQ(pDevice->GetChkptName().size(), 255u);
}

}  // namespace
