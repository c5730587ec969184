// SPDX-License-Identifier: Apache-2.0
// zkso_prepareDevices through the loaded plug-in: records, reason messages,
// job logs, summaries and result codes, against the simulated file server
// and the host's array management database.
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/e2e/E2EFixture.h"
#include "tests/testclock/ZkTestClock.h"

namespace zke2e {
namespace {

const char kTag[] = "ZKSnapCelerra::zkso_prepareDevices";

std::string ExpectedSnapName() { return "nightly_" + std::to_string(kNow); }

// SM_MDT_FS_INFO of an NFS device on the fixture's export.
std::string NfsFsInfo(const std::string& sFilerName) {
  return sFilerName + "|" + kFsId + "|1|" + kStorageExtra + "|" + kMoverId +
         "|" + kExportPath + "|";
}

std::string ArrayEntryMissingText(const std::string& sArrayIdentifier) {
  return "Failed to find array management entry for array identifier[" +
         sArrayIdentifier +
         "] and Snap Vendor as [Dell EMC VNX / Celerra] or [EMC VNX / "
         "Celerra].Please add/check vendor name or control host of array in "
         "array management.";
}

class PrepareE2ETest : public E2ETest {
 protected:
  ZKSO::ResultCode Prepare(std::vector<ZKSO::SnapInfo*> vRecords) {
    return m_pPlugin->zkso_prepareDevices(
        vRecords.data(), static_cast<int16_t>(vRecords.size()), &m_oOSUtil);
  }
  // The frame's own line with its level, tag and job id.
  void ExpectFrameLine(int nLevel, const std::string& sText) {
    const std::vector<ZkLogLine> v = LinesEqualTo(sText);
    ASSERT_EQ(1u, v.size()) << sText << "\n" << m_oSink.Dump();
    EXPECT_EQ(kTag, v[0].sTag);
    EXPECT_EQ(nLevel, v[0].nLevel);
    EXPECT_TRUE(v[0].bHasJobId);
    EXPECT_EQ(kJobId, v[0].nJobId);
  }
  static bool HasJobLine(const zkref::MemSnapInfo& oRecord, int nLevel,
                         const std::string& sTag, const std::string& sText) {
    for (const auto& oLine : oRecord.vJobLog) {
      if (oLine.nLevel == nLevel && oLine.sTag == sTag && oLine.sText == sText)
        return true;
    }
    return false;
  }
  void ExpectPrepared(const zkref::MemSnapInfo& oRecord,
                      const std::string& sFsInfo) {
    EXPECT_EQ(
        (std::vector<int>{ZKSO::READY_FOR_SNAP_FAILED, ZKSO::READY_FOR_SNAP}),
        oRecord.vStatusHistory);
    EXPECT_EQ(ExpectedSnapName(), oRecord.sSnapName);
    ASSERT_EQ(1u, oRecord.mMetaData.count(SM_MDT_FS_INFO));
    EXPECT_EQ(sFsInfo, oRecord.mMetaData.at(SM_MDT_FS_INFO));
    EXPECT_EQ(kFilerName, oRecord.sBoundArray);
  }
  void ExpectFailedWithStop(const zkref::MemSnapInfo& oRecord) {
    EXPECT_EQ(std::vector<int>{ZKSO::READY_FOR_SNAP_FAILED},
              oRecord.vStatusHistory);
    EXPECT_EQ(0u, oRecord.mMetaData.count(SM_MDT_FS_INFO));
    EXPECT_EQ("nightly", oRecord.sSnapName);
    EXPECT_TRUE(HasJobLine(oRecord, 2, kTag, "Prepare For Device failed"));
  }
};

TEST_F(PrepareE2ETest, NfsDevicesAreReadyForSnap) {
  AddFilerEntry();
  zkref::MemSnapInfo* pFirst = NewRecord(NfsDevice(kExportPath));
  // Known to the database only by its address, found through the hosts
  // file.
  zkref::MemSnapInfo* pAlias =
      NewRecord(NfsDevice(kExportPath, kAliasFilerName));

  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare({pFirst, pAlias}));

  ExpectPrepared(*pFirst, NfsFsInfo(kFilerName));
  EXPECT_TRUE(pFirst->vJPRHistory.empty());
  EXPECT_TRUE(
      HasJobLine(*pFirst, 1, "",
                 "CelerraSnapDevice::UpdateMetaData: Setting Metadata "
                 "[" +
                     NfsFsInfo(kFilerName) +
                     "] for metadata type[SM_MDT_FS_INFO] for device [" +
                     pFirst->sSourceDevice + "]"));

  ExpectPrepared(*pAlias, NfsFsInfo(kAliasFilerName));
  std::vector<std::string> vBinds;
  for (const std::string& sCall : pAlias->Calls()) {
    if (sCall.rfind("SetArrayName(", 0) == 0) vBinds.push_back(sCall);
  }
  EXPECT_EQ((std::vector<std::string>{
                "SetArrayName(\"" + std::string(kAliasFilerName) + "\")",
                "SetArrayName(\"" + std::string(kFilerAddress) + "\")"}),
            vBinds);

  ExpectFrameLine(0, "Request to prepare snaps for [2] devices");
  ExpectFrameLine(0, "Successfully prepared snaps for [2 of 2] devices.");

  // Preparing creates nothing on the file server.
  std::vector<zkfiler::CheckpointView> vCheckpoints;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &vCheckpoints).ok());
  EXPECT_TRUE(vCheckpoints.empty());
}

TEST_F(PrepareE2ETest, SnapNameFollowsTheClock) {
  AddFilerEntry();
  zktest::FixNow(1234567890);
  zkref::MemSnapInfo* pRecord = NewRecord(NfsDevice(kExportPath), "weekly");
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare({pRecord}));
  EXPECT_EQ("weekly_1234567890", pRecord->sSnapName);
  EXPECT_TRUE(HasJobLine(*pRecord, 1, "CelerraSnapDevice::PostOperation",
                         "Setting Snap UUID [weekly_1234567890]"));
}

TEST_F(PrepareE2ETest, UncDeviceStoresEmptyFileSystemText) {
  m_oDatabase.Add(
      {kCifsServer,
       {},
       zkref::ArrayDatabase::FormArrayInfo("APM00111", kVendor, kControlHost,
                                           "nasadmin", kPassword)});
  zkref::MemSnapInfo* pRecord = NewRecord(UncDevice(kCifsServer, kShareName));
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare({pRecord}));
  EXPECT_EQ(
      (std::vector<int>{ZKSO::READY_FOR_SNAP_FAILED, ZKSO::READY_FOR_SNAP}),
      pRecord->vStatusHistory);
  ASSERT_EQ(1u, pRecord->mMetaData.count(SM_MDT_FS_INFO));
  EXPECT_EQ("", pRecord->mMetaData.at(SM_MDT_FS_INFO));
  EXPECT_EQ(ExpectedSnapName(), pRecord->sSnapName);
}

TEST_F(PrepareE2ETest, LunDeviceFailsWithReason62008) {
  AddFilerEntry();
  zkref::MemSnapInfo* pRecord = NewRecord(LunDevice());
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Prepare({pRecord}));
  ExpectFailedWithStop(*pRecord);
  ASSERT_EQ(1u, pRecord->vJPRHistory.size());
  EXPECT_EQ(JPR_LUN_DEVICE_FAILED, pRecord->vJPRHistory[0].first);
  EXPECT_EQ("[Failed to get Scsi details for device:[" +
                pRecord->sSourceDevice +
                "]. Error:[Non-Vmware is not supported for Celerra snap "
                "backup]]",
            pRecord->vJPRHistory[0].second);
  for (const std::string& sCall : pRecord->Calls()) {
    EXPECT_NE(0u, sCall.rfind("SetArrayName", 0)) << sCall;
  }
  ExpectFrameLine(-1, "Failed to prepare any snap");
}

struct ArrayEntryCase {
  const char* pszName;
  std::string sVendor;   // empty: no entry at all
  std::string sJobLine;  // the credentials step's own line, if any
};

TEST_F(PrepareE2ETest, MissingOrWrongArrayEntryGivesReason62005) {
  const std::vector<ArrayEntryCase> vCases = {
      {"NoEntry", "", ""},
      {"WrongVendor", "EMC Unity",
       "Vendor Name [EMC Unity]. Expected [Dell EMC VNX / Celerra] or [EMC VNX "
       "/ Celerra]. Please correct the array entry"},
      {"VendorInOtherCase", "dell emc vnx / celerra",
       "Vendor Name [dell emc vnx / celerra]. Expected [Dell EMC VNX / "
       "Celerra] or [EMC VNX / Celerra]. Please correct the array entry"},
  };
  for (const ArrayEntryCase& c : vCases) {
    SCOPED_TRACE(c.pszName);
    m_oDatabase.Clear();
    m_oSink.Clear();
    if (!c.sVendor.empty()) AddFilerEntry(c.sVendor);
    zkref::MemSnapInfo* pRecord = NewRecord(NfsDevice(kExportPath));
    EXPECT_EQ(ZKSO::RESULT_FAILURE, Prepare({pRecord}));
    ExpectFailedWithStop(*pRecord);
    ASSERT_FALSE(pRecord->vJPRHistory.empty());
    EXPECT_EQ(JPR_ARRAY_CREDENTIALS_FAILED, pRecord->vJPRHistory.back().first);
    EXPECT_EQ("[" + ArrayEntryMissingText(kFilerName) + "]",
              pRecord->vJPRHistory.back().second);
    EXPECT_TRUE(HasJobLine(*pRecord, 2, "CelerraSnapDevice::PrePrepareDevice",
                           "Failed to get array info for device[" +
                               pRecord->sSourceDevice + "]."));
    if (!c.sJobLine.empty()) {
      EXPECT_TRUE(pRecord->JobLogContains(c.sJobLine));
    }
    EXPECT_FALSE(LinesEqualTo(ArrayEntryMissingText(kFilerName)).empty())
        << m_oSink.Dump();
    ExpectFrameLine(-1, "Failed to prepare any snap");
  }
}

TEST_F(PrepareE2ETest, OtherAcceptedVendorNameIsPrepared) {
  AddFilerEntry("EMC VNX / Celerra");
  zkref::MemSnapInfo* pRecord = NewRecord(NfsDevice(kExportPath));
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare({pRecord}));
  ExpectPrepared(*pRecord, NfsFsInfo(kFilerName));
}

TEST_F(PrepareE2ETest, StopAtThirdOfFiveLeavesTheRestUntouched) {
  AddFilerEntry();
  std::vector<ZKSO::SnapInfo*> vRecords;
  for (int i = 0; i < 5; ++i) {
    vRecords.push_back(
        NewRecord(i == 2 ? LunDevice() : NfsDevice(kExportPath)));
  }
  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Prepare(vRecords));
  ExpectPrepared(m_dRecords[0], NfsFsInfo(kFilerName));
  ExpectPrepared(m_dRecords[1], NfsFsInfo(kFilerName));
  ExpectFailedWithStop(m_dRecords[2]);
  EXPECT_TRUE(m_dRecords[3].Calls().empty());
  EXPECT_TRUE(m_dRecords[4].Calls().empty());
  ExpectFrameLine(0, "Request to prepare snaps for [5] devices");
  ExpectFrameLine(0, "Successfully prepared snaps for [2 of 5] devices.");
  EXPECT_TRUE(LinesEqualTo("Failed to prepare any snap").empty());
}

TEST_F(PrepareE2ETest, FailureAtFirstRecordFailsTheCall) {
  AddFilerEntry();
  zkref::MemSnapInfo* pLun = NewRecord(LunDevice());
  zkref::MemSnapInfo* pNfs = NewRecord(NfsDevice(kExportPath));
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Prepare({pLun, pNfs}));
  ExpectFailedWithStop(*pLun);
  EXPECT_TRUE(pNfs->Calls().empty());
  ExpectFrameLine(-1, "Failed to prepare any snap");
}

TEST_F(PrepareE2ETest, RecordWithoutSourceDeviceStopsWithReason62001) {
  AddFilerEntry();
  zkref::MemSnapInfo* pNfs = NewRecord(NfsDevice(kExportPath));
  zkref::MemSnapInfo* pEmpty = NewRecord("");
  zkref::MemSnapInfo* pLater = NewRecord(NfsDevice(kExportPath));
  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Prepare({pNfs, pEmpty, pLater}));
  ExpectPrepared(*pNfs, NfsFsInfo(kFilerName));
  ExpectFailedWithStop(*pEmpty);
  ASSERT_EQ(1u, pEmpty->vJPRHistory.size());
  EXPECT_EQ(JPR_DEVICE_NOT_SUPPORTED, pEmpty->vJPRHistory[0].first);
  EXPECT_EQ("Unable to get the source device name to be processed",
            pEmpty->vJPRHistory[0].second);
  EXPECT_TRUE(pLater->Calls().empty());
  ExpectFrameLine(0, "Successfully prepared snaps for [1 of 3] devices.");
}

TEST_F(PrepareE2ETest, NoRecordsFails) {
  zkref::MemSnapInfo* pRecord = NewRecord(NfsDevice(kExportPath));
  ZKSO::SnapInfo* apRecords[] = {pRecord};
  for (int16_t nCount : {int16_t{0}, int16_t{-3}}) {
    m_oSink.Clear();
    EXPECT_EQ(ZKSO::RESULT_FAILURE,
              m_pPlugin->zkso_prepareDevices(apRecords, nCount, &m_oOSUtil));
    ExpectFrameLine(-1, "Failed to prepare any snap");
  }
  EXPECT_TRUE(pRecord->Calls().empty());
}

// Bad input from the host is answered, never a crash.
TEST_F(PrepareE2ETest, NullUtilityObjectTouchesNothing) {
  AddFilerEntry();
  zkref::MemSnapInfo* pRecord = NewRecord(NfsDevice(kExportPath));
  ZKSO::SnapInfo* apRecords[] = {pRecord};
  EXPECT_EQ(ZKSO::RESULT_FAILURE,
            m_pPlugin->zkso_prepareDevices(apRecords, 1, nullptr));
  EXPECT_TRUE(pRecord->Calls().empty());
}

TEST_F(PrepareE2ETest, NullArrayWithPositiveCountFails) {
  EXPECT_EQ(ZKSO::RESULT_FAILURE,
            m_pPlugin->zkso_prepareDevices(nullptr, 3, &m_oOSUtil));
  ExpectFrameLine(-1, "Failed to prepare any snap");
}

TEST_F(PrepareE2ETest, NullRecordIsAFailedRecord) {
  AddFilerEntry();
  zkref::MemSnapInfo* pFirst = NewRecord(NfsDevice(kExportPath));
  zkref::MemSnapInfo* pLater = NewRecord(NfsDevice(kExportPath));
  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Prepare({pFirst, nullptr, pLater}));
  ExpectPrepared(*pFirst, NfsFsInfo(kFilerName));
  EXPECT_TRUE(pLater->Calls().empty());
  ExpectFrameLine(0, "Successfully prepared snaps for [1 of 3] devices.");
}

}  // namespace
}  // namespace zke2e
