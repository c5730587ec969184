// SPDX-License-Identifier: Apache-2.0
// The device factory, the record operations (reason message, snap device,
// the two typed readers) and the critical section wrapper.
#include <algorithm>
#include <string>
#include <thread>

#include "DeviceTestSupport.h"
#include "device/ZkCriticalSection.h"

namespace {

using zktest::DeviceTest;
using zktest::Identifier;
using zktest::NfsSource;

class FactoryTest : public DeviceTest {};

struct KindCase {
  const char* pszName;
  std::string sSource;
  _CelerraSourceDeviceType eExpected;
};

TEST_F(FactoryTest, TypeValueChoosesTheKind) {
  const KindCase aCases[] = {
      {"nfs", Identifier("nfs", "/fs1", "filer1"), CELERRA_DEVICE_NFS},
      {"unc", Identifier("unc", "UNC-NT_s\\x", "filer1"), CELERRA_DEVICE_UNC},
      {"native_celerra", Identifier("native_celerra", "", "filer1", "/fs1"),
       CELERRA_DEVICE_NAS},
      {"fc", Identifier("fc", "6006", "filer1"), CELERRA_DEVICE_LUN},
      {"iscsi", Identifier("iscsi", "6006", "filer1"), CELERRA_DEVICE_LUN},
      {"capitals", Identifier("NFS", "/fs1", "filer1"), CELERRA_DEVICE_LUN},
      {"other", Identifier("smb", "/fs1", "filer1"), CELERRA_DEVICE_LUN},
      {"missing", Identifier("", "/fs1", "filer1"), CELERRA_DEVICE_LUN},
  };
  for (const KindCase& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    m_oRecord.sSourceDevice = oCase.sSource;
    CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_MAP);
    ASSERT_TRUE(pDevice);
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    EXPECT_EQ(oPeer.DeviceType(), oCase.eExpected);
    switch (oCase.eExpected) {
      case CELERRA_DEVICE_LUN:
        EXPECT_NE(dynamic_cast<CelerraSnapDeviceLun*>(pDevice.get()), nullptr);
        break;
      case CELERRA_DEVICE_NFS:
        EXPECT_NE(dynamic_cast<CelerraSnapDeviceNfs*>(pDevice.get()), nullptr);
        break;
      case CELERRA_DEVICE_UNC:
        EXPECT_NE(dynamic_cast<CelerraSnapDeviceUNC*>(pDevice.get()), nullptr);
        break;
      case CELERRA_DEVICE_NAS:
        EXPECT_NE(dynamic_cast<CelerraSnapDeviceNAS*>(pDevice.get()), nullptr);
        break;
    }
    EXPECT_EQ(oPeer.SourceDevice(), oCase.sSource);
    EXPECT_EQ(oPeer.OperationType(), SNAP_OP_MAP);
    EXPECT_EQ(oPeer.JobId(), static_cast<int64_t>(kJobId));
    EXPECT_EQ(oPeer.SnapInfo(), &m_oRecord);
    EXPECT_EQ(oPeer.OSUtil(), &m_oOSUtil);
    EXPECT_TRUE(m_oRecord.vJPRHistory.empty());
  }
}

TEST_F(FactoryTest, VMwareFlagIsACaseSensitiveSubstring) {
  const struct {
    std::string sSource;
    bool bVMware;
  } aCases[] = {
      {NfsSource("/fs1", "filer1", "vmware"), true},
      {"{type:nfs,lunuuid:\\/fs1,note:kemtype:vmware,vendor:celerra}", true},
      {"{KEMTYPE:VMWARE,type:nfs,lunuuid:\\/fs1,vendor:celerra}", false},
      {"{kemtype:VMware,type:nfs,lunuuid:\\/fs1,vendor:celerra}", false},
      {NfsSource("/fs1"), false},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sSource);
    m_oRecord.sSourceDevice = oCase.sSource;
    CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_SNAP);
    ASSERT_TRUE(pDevice);
    EXPECT_EQ(CelerraSnapDeviceTestPeer(pDevice.get()).IsVMware(),
              oCase.bVMware);
  }
  EXPECT_FALSE(LinesOf("CelerraSnapDevice::InitializeDeviceObj", "vmware [yes]")
                   .empty());
}

TEST_F(FactoryTest, UnreadableSourcePostsDeviceNotSupported) {
  const char* pszText = "Unable to get the source device name to be processed";
  // An empty identifier, then a host that fails the read.
  for (int nRound = 0; nRound < 2; ++nRound) {
    m_oRecord.vJPRHistory.clear();
    m_oLog.Clear();
    if (nRound == 1) {
      m_oRecord.sSourceDevice = NfsSource("/fs1");
      m_oRecord.FailGetter(zkref::Getter::kSourceDevice, 1);
    }
    EXPECT_FALSE(MakeDevice(SNAP_OP_PREPARE));
    ASSERT_EQ(m_oRecord.vJPRHistory.size(), 1u);
    EXPECT_EQ(m_oRecord.vJPRHistory[0].first, JPR_DEVICE_NOT_SUPPORTED);
    EXPECT_EQ(m_oRecord.vJPRHistory[0].second, pszText);
    auto vLines = LinesOf("CelerraSnapDevice::GetInstance", pszText);
    ASSERT_EQ(vLines.size(), 1u);
    EXPECT_EQ(vLines[0].nLevel, -1);
    EXPECT_EQ(vLines[0].nJobId, kJobId);
  }
}

TEST_F(FactoryTest, InitializeDeviceObjRefusesKindsOutsideTheFour) {
  for (int nKind : {0, 3, 16}) {
    CelerraSnapDevice* pDevice = CelerraSnapDevice::InitializeDeviceObj(
        static_cast<_CelerraSourceDeviceType>(nKind), &m_oOSUtil, &m_oRecord,
        NfsSource("/fs1"), SNAP_OP_SNAP);
    EXPECT_EQ(pDevice, nullptr);
    std::string sText = "Failed to initialize object of Device type [" +
                        std::to_string(nKind) + "]. Invalid or Not supported";
    auto vLines = LinesOf("CelerraSnapDevice::InitializeDeviceObj", sText);
    ASSERT_EQ(vLines.size(), 1u) << sText;
    EXPECT_EQ(vLines[0].nLevel, -1);
  }
  CelerraSnapDevicePtr pDevice(CelerraSnapDevice::InitializeDeviceObj(
      CELERRA_DEVICE_NFS, &m_oOSUtil, &m_oRecord, NfsSource("/fs1"),
      SNAP_OP_SNAP));
  ASSERT_TRUE(pDevice);
  EXPECT_EQ(LinesOf("CelerraSnapDevice::InitializeDeviceObj",
                    "Initialized CelerraSnapDevice object for device type [2] "
                    "vmware [no]")
                .size(),
            1u);
}

TEST_F(FactoryTest, InitializeWithoutUtilityObjectKeepsJobIdZero) {
  CelerraSnapDevicePtr pDevice(CelerraSnapDevice::InitializeDeviceObj(
      CELERRA_DEVICE_NFS, nullptr, &m_oRecord, NfsSource("/fs1"),
      SNAP_OP_SNAP));
  ASSERT_TRUE(pDevice);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  EXPECT_EQ(oPeer.JobId(), 0);
  EXPECT_EQ(oPeer.OSUtil(), nullptr);
}

TEST_F(FactoryTest, DeleteReleasesAndNullsThePointer) {
  CelerraSnapDevice* pNull = nullptr;
  CelerraSnapDevice::Delete(pNull);
  EXPECT_EQ(pNull, nullptr);

  m_oRecord.sSourceDevice = NfsSource("/fs1");
  CelerraSnapDevice* pDevice =
      CelerraSnapDevice::GetInstance(&m_oRecord, &m_oOSUtil, SNAP_OP_SNAP);
  ASSERT_NE(pDevice, nullptr);
  CelerraSnapDevice::Delete(pDevice);  // the leak checker sees the rest
  EXPECT_EQ(pDevice, nullptr);
}

TEST_F(FactoryTest, SetJPRBracketsTheTextAndKeepsItAsLastError) {
  m_oRecord.sSourceDevice = NfsSource("/fs1");
  CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_SNAP);
  ASSERT_TRUE(pDevice);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());

  pDevice->SetJPR(JPR_ARRAY_CREDENTIALS_FAILED, "no entry %s%n");
  EXPECT_EQ(oPeer.LastError(), "no entry %s%n");
  pDevice->SetJPR(0, "");
  EXPECT_EQ(oPeer.LastError(), "");
  ASSERT_EQ(m_oRecord.vJPRHistory.size(), 2u);
  EXPECT_EQ(m_oRecord.vJPRHistory[0],
            std::make_pair(int{JPR_ARRAY_CREDENTIALS_FAILED},
                           std::string("[no entry %s%n]")));
  EXPECT_EQ(m_oRecord.vJPRHistory[1], std::make_pair(0, std::string("[]")));

  // Without a record only the last error changes.
  oPeer.SnapInfo() = nullptr;
  pDevice->SetJPR(60513, "x");
  EXPECT_EQ(oPeer.LastError(), "x");
  EXPECT_EQ(m_oRecord.vJPRHistory.size(), 2u);
}

TEST_F(FactoryTest, SetSnapDeviceWritesTheCloneIdentifier) {
  m_oRecord.sSourceDevice = NfsSource("/fs1/a");
  CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_MAP);
  ASSERT_TRUE(pDevice);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  ASSERT_TRUE(pDevice->FormSnapDevice("/ckpt_1_RW"));
  std::string sClone =
      CelerraUtils::FormDeviceIdentifider(oPeer.SnapDeviceIdentifier());
  ASSERT_FALSE(sClone.empty());

  pDevice->setSnapDevice();
  EXPECT_EQ(m_oRecord.sSnapDevice, sClone);
  ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
  EXPECT_EQ(m_oRecord.vJobLog[0].nLevel, 1);
  EXPECT_EQ(m_oRecord.vJobLog[0].sTag, "CelerraSnapDevice::setSnapDevice");
  EXPECT_EQ(m_oRecord.vJobLog[0].sText, "Snap clone device is [" + sClone +
                                            "] for device [" +
                                            m_oRecord.sSourceDevice + "]");
}

// ---- Getter convention ----

TEST_F(FactoryTest, GetSnapDataGivesUpAfterThreeTooSmallAnswers) {
  m_oRecord.sSnapName = "SP";
  m_oRecord.AnswerTooSmall(zkref::Getter::kSnapName, 3, 5000);
  std::string sValue = "stale";
  EXPECT_FALSE(CelerraSnapDevice::GetSnapData(
      &m_oRecord, &m_oOSUtil, CELERRA_SNAPINFO_SNAP_NAME, sValue));
  EXPECT_EQ(m_oRecord.CallCount(zkref::Getter::kSnapName), 3);
  EXPECT_EQ(sValue, "");
}

TEST_F(FactoryTest, GetSnapDataFollowsTheSizeTheHostAsksFor) {
  // A text longer than the first buffer: the host answers 2 with its size.
  m_oRecord.sSourceDevice = NfsSource("/fs1/" + std::string(5000, 'd'));
  m_oRecord.AnswerTooSmall(zkref::Getter::kSourceDevice, 1, 4500);
  std::string sValue;
  ASSERT_TRUE(CelerraSnapDevice::GetSnapData(
      &m_oRecord, &m_oOSUtil, CELERRA_SNAPINFO_SOURCE_DEVICE, sValue));
  EXPECT_EQ(sValue, m_oRecord.sSourceDevice);
  EXPECT_EQ(m_oRecord.CallCount(zkref::Getter::kSourceDevice), 3);
}

TEST_F(FactoryTest, GetSnapDataReadsEachTypeThroughItsGetter) {
  m_oRecord.sHostIdentifier = "{esxname:esx1}";
  m_oRecord.sSnapName = "SP";
  m_oRecord.sSourceDevice = NfsSource("/fs1");
  m_oRecord.sSnapDevice = "clone";
  const struct {
    _eCelerraSnapInfoDataType eType;
    std::string sExpected;
    const char* pszCall;
  } aCases[] = {
      {CELERRA_SNAPINFO_HOST_IDENTIFIER, "{esxname:esx1}", "GetHostIdentifier"},
      {CELERRA_SNAPINFO_SNAP_NAME, "SP", "GetSnapName"},
      {CELERRA_SNAPINFO_SOURCE_DEVICE, m_oRecord.sSourceDevice,
       "GetSourceDevice"},
      {CELERRA_SNAPINFO_SNAP_DEVICE, "clone", "GetSnapDevice"},
  };
  for (const auto& oCase : aCases) {
    m_oRecord.ClearCalls();
    std::string sValue;
    EXPECT_TRUE(CelerraSnapDevice::GetSnapData(&m_oRecord, &m_oOSUtil,
                                               oCase.eType, sValue));
    EXPECT_EQ(sValue, oCase.sExpected);
    EXPECT_EQ(m_oRecord.Calls(), std::vector<std::string>{oCase.pszCall});
  }
  // Nothing to read: success with an empty text and no host call.
  m_oRecord.ClearCalls();
  std::string sValue = "stale";
  EXPECT_TRUE(CelerraSnapDevice::GetSnapData(&m_oRecord, &m_oOSUtil,
                                             CELERRA_SNAPINFO_NONE, sValue));
  EXPECT_EQ(sValue, "");
  EXPECT_TRUE(m_oRecord.Calls().empty());
}

TEST_F(FactoryTest, GetSnapDataTypeSixReadsMetadataEntryNine) {
  m_oRecord.mMetaData[9] = "nine";
  std::string sValue;
  EXPECT_TRUE(CelerraSnapDevice::GetSnapData(
      &m_oRecord, &m_oOSUtil, static_cast<_eCelerraSnapInfoDataType>(6),
      sValue));
  EXPECT_EQ(sValue, "nine");
  EXPECT_EQ(m_oRecord.Calls(), std::vector<std::string>{"GetMetaData(9)"});
  // Beyond that nothing is read.
  m_oRecord.ClearCalls();
  EXPECT_TRUE(CelerraSnapDevice::GetSnapData(
      &m_oRecord, &m_oOSUtil, static_cast<_eCelerraSnapInfoDataType>(7),
      sValue));
  EXPECT_EQ(sValue, "");
  EXPECT_TRUE(m_oRecord.Calls().empty());
}

TEST_F(FactoryTest, GetSnapDataOfAnEmptyTextSucceeds) {
  m_oRecord.sSnapName = "";
  std::string sValue = "stale";
  EXPECT_TRUE(CelerraSnapDevice::GetSnapData(
      &m_oRecord, &m_oOSUtil, CELERRA_SNAPINFO_SNAP_NAME, sValue));
  EXPECT_EQ(sValue, "");

  m_oRecord.FailGetter(zkref::Getter::kSnapName, 1);
  EXPECT_FALSE(CelerraSnapDevice::GetSnapData(
      &m_oRecord, &m_oOSUtil, CELERRA_SNAPINFO_SNAP_NAME, sValue));
  EXPECT_FALSE(CelerraSnapDevice::GetSnapData(
      nullptr, &m_oOSUtil, CELERRA_SNAPINFO_SNAP_NAME, sValue));
}

TEST_F(FactoryTest, GetSnapMetadataMakesAFourthCall) {
  m_oRecord.sSourceDevice = NfsSource("/fs1");
  m_oRecord.mMetaData[SM_MDT_FS_INFO] = "filer1|fs1|1|x|server_2|/fs1|";
  CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_SNAP);
  ASSERT_TRUE(pDevice);

  // Three too-small answers: the fourth call reads the text.
  m_oRecord.AnswerTooSmall(zkref::Getter::kMetaData, 3, 5000);
  std::string sValue;
  EXPECT_TRUE(pDevice->GetSnapMetadata(SM_MDT_FS_INFO, sValue));
  EXPECT_EQ(sValue, "filer1|fs1|1|x|server_2|/fs1|");
  EXPECT_EQ(m_oRecord.CallCount(zkref::Getter::kMetaData), 4);
  EXPECT_TRUE(m_oRecord.JobLogContains(
      "Got value[filer1|fs1|1|x|server_2|/fs1|] for Metadata[16]"));

  // Four: the read fails after the fourth call, with a job log error.
  m_oRecord.AnswerTooSmall(zkref::Getter::kMetaData, 4, 5000);
  sValue.clear();
  EXPECT_FALSE(pDevice->GetSnapMetadata(SM_MDT_SNAP_UUID, sValue));
  EXPECT_EQ(m_oRecord.CallCount(zkref::Getter::kMetaData), 8);
  EXPECT_EQ(sValue, "");
  const auto& oLast = m_oRecord.vJobLog.back();
  EXPECT_EQ(oLast.nLevel, 2);
  EXPECT_EQ(oLast.sTag, "CelerraSnapDevice::GetSnapMetadata");
  EXPECT_EQ(oLast.sText, "Error:Unable to get Metadata[6]");
}

TEST_F(FactoryTest, GetSnapMetadataAssignsOnlyANonEmptyText) {
  m_oRecord.sSourceDevice = NfsSource("/fs1");
  CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_SNAP);
  ASSERT_TRUE(pDevice);
  std::string sValue = "kept";
  EXPECT_TRUE(pDevice->GetSnapMetadata(SM_MDT_SNAP_MOUNT, sValue));
  EXPECT_EQ(sValue, "kept");
}

// ---- Critical section ----

TEST(ZkCriticalSectionTest, LockHoldsTheSectionUntilReset) {
  ZkCriticalSection oFirst;
  ZkCriticalSection oSecond;
  auto TryFromOtherThread = [](ZkCriticalSection& oSection) {
    bool bGot = false;
    std::thread oThread([&] {
      bGot = oSection.enter(false);
      if (bGot) oSection.leave();
    });
    oThread.join();
    return bGot;
  };
  {
    ZkCriticalSectionLock oLock(&oFirst);
    EXPECT_FALSE(TryFromOtherThread(oFirst));
    EXPECT_TRUE(TryFromOtherThread(oSecond));
    oLock.resetCriticalSection(&oSecond);
    EXPECT_TRUE(TryFromOtherThread(oFirst));
    EXPECT_FALSE(TryFromOtherThread(oSecond));
    oLock.resetCriticalSection(nullptr);
    EXPECT_TRUE(TryFromOtherThread(oSecond));
    oLock.resetCriticalSection(&oFirst);
  }
  EXPECT_TRUE(TryFromOtherThread(oFirst));
  ZkCriticalSectionLock oNone(nullptr);  // holds nothing
}

}  // namespace
