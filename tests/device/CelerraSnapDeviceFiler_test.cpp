// SPDX-License-Identifier: Apache-2.0
// Devices against the simulated file server: the NFS export search, the CIFS
// share lookup and a whole preparation whose metadata a later call reads.
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "filer/FilerSim.h"
#include "tests/testclock/ZkTestClock.h"

namespace {

using zktest::DeviceTest;
using zktest::Identifier;
using zktest::kPassword;
using zktest::NfsSource;

const char kPopulateNfsTag[] = "CelerraSnapDeviceNfs::PopulateDetails";

class FilerDeviceTest : public DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
    zkfiler::ServerLayout oLayout("cs1", "nasadmin", kPassword);
    oLayout.Mover("2", {"10.1.1.2"})
        .FileSystem("101", "fs1", "2", "/fs1")
        .Export("/fs1", "2", {"10.0.0.9"})
        .CifsServer("cifs1", "2", "10.1.1.2")
        .CifsShare("share1", "101", "2");
    oLayout.file_systems.back().storage_extra = "pool_a";
    zkfiler::Status oStatus = zkfiler::Install(oLayout);
    ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
    zktest::FixNow(1700000000);
  }
  void TearDown() override {
    zktest::UnfixNow();
    DeviceTest::TearDown();
  }

  // A device whose preparation has reached PopulateDetails.
  CelerraSnapDevicePtr Prepared(const std::string& sSource) {
    m_oRecord.sSourceDevice = sSource;
    CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_PREPARE);
    EXPECT_TRUE(pDevice);
    EXPECT_TRUE(pDevice->DetermineFromDevice());
    CelerraSnapDeviceTestPeer(pDevice.get()).Credentials() = {"cs1", "nasadmin",
                                                              kPassword};
    return pDevice;
  }
  ManageCelerra Client() {
    ManageCelerra oClient(kJobId);
    oClient.SetControlHostInfo("cs1", "nasadmin", kPassword);
    return oClient;
  }
  // "command args" of every command the file server received.
  std::vector<std::string> Journal() {
    std::vector<zkfiler::JournalEntry> vEntries;
    EXPECT_TRUE(zkfiler::Journal(&vEntries).ok());
    std::vector<std::string> vCommands;
    for (const auto& oEntry : vEntries) {
      vCommands.push_back(oEntry.command + " " + oEntry.args);
    }
    return vCommands;
  }
  std::vector<std::string> TrimLines() {
    std::vector<std::string> vPaths;
    for (const ZkLogLine& oLine :
         LinesOf(kPopulateNfsTag, "Unable to get nfs info. Trimming")) {
      EXPECT_EQ(oLine.nLevel, -1);
      vPaths.push_back(oLine.sText);
    }
    return vPaths;
  }
  bool ErrorLogged(const std::string& sText) {
    for (const ZkLogLine& oLine : m_oLog.Find(sText)) {
      if (oLine.eStream == ZkLogLine::kError && oLine.sText == sText &&
          oLine.nJobId == kJobId) {
        return true;
      }
    }
    return false;
  }
};

TEST_F(FilerDeviceTest, NfsSearchShortensThePathUntilAnExportAnswers) {
  CelerraSnapDevicePtr pDevice = Prepared(NfsSource("/fs1/a/b", "filer1"));
  ManageCelerra oClient = Client();
  ASSERT_TRUE(pDevice->PopulateDetails(oClient));

  EXPECT_EQ(Journal(), (std::vector<std::string>{
                           "GetNFSInfo path=/fs1/a/b", "GetNFSInfo path=/fs1/a",
                           "GetNFSInfo path=/fs1", "GetPFSInfo fs=101"}));
  EXPECT_EQ(TrimLines(),
            (std::vector<std::string>{
                "Unable to get nfs info. Trimming share path  [/fs1/a] and "
                "continuing",
                "Unable to get nfs info. Trimming share path  [/fs1] and "
                "continuing"}));
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  EXPECT_EQ(oPeer.Storage().sPFSId, "101");
  EXPECT_EQ(oPeer.Storage().eStorageType, CELERRA_STG_UXFS);
  EXPECT_EQ(oPeer.Storage().sStorageExtra, "pool_a");
  EXPECT_EQ(oPeer.NfsMoverId(), "2");
  EXPECT_EQ(oPeer.NfsShareName(), "/fs1/a/b");  // the device keeps its path
  EXPECT_EQ(LinesOf(kPopulateNfsTag,
                    "Got PFSId [101] MoverId [2] for sharename [/fs1/a/b] on "
                    "controlhost [cs1]")
                .size(),
            1u);
  EXPECT_EQ(LinesOf(kPopulateNfsTag,
                    "Got PFSId [101] MoverId [2] sSavVol [vpfs101] for "
                    "sharename [/fs1/a/b] on controlhost [cs1]")
                .size(),
            1u);
}

TEST_F(FilerDeviceTest, NfsSearchNeverAsksForTheRoot) {
  const struct {
    std::string sExport;
    std::vector<std::string> vAsked;
    size_t nTrims;
  } aCases[] = {
      {"/other/x", {"GetNFSInfo path=/other/x", "GetNFSInfo path=/other"}, 2},
      {"/", {}, 0},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sExport);
    ASSERT_TRUE(zkfiler::ResetJournal().ok());
    m_oLog.Clear();
    CelerraSnapDevicePtr pDevice = Prepared(NfsSource(oCase.sExport, "filer1"));
    ManageCelerra oClient = Client();
    EXPECT_FALSE(pDevice->PopulateDetails(oClient));
    EXPECT_EQ(Journal(), oCase.vAsked);
    EXPECT_EQ(TrimLines().size(), oCase.nTrims);
    EXPECT_EQ(LinesOf(kPopulateNfsTag, "Unable to get nfs info for share [" +
                                           oCase.sExport + "]")
                  .size(),
              1u);
    EXPECT_TRUE(
        ErrorLogged("CelerraSnapDevice(935): -Error-: Unable to get filesystem "
                    "information for share [" +
                    oCase.sExport + "] from control host [cs1]"));
    auto vStatus = LinesOf(kPopulateNfsTag, "returned by Celerra");
    ASSERT_EQ(vStatus.size(), 1u);
    EXPECT_EQ(vStatus[0].nLevel, -1);
  }
}

TEST_F(FilerDeviceTest, NfsSearchOfPathWithoutSlashEnds) {
  CelerraSnapDevicePtr pDevice = Prepared(NfsSource("fs1", "filer1"));
  ManageCelerra oClient = Client();
  EXPECT_FALSE(pDevice->PopulateDetails(oClient));
  EXPECT_EQ(Journal(), std::vector<std::string>{"GetNFSInfo path=fs1"});
  EXPECT_EQ(TrimLines(),
            std::vector<std::string>{
                "Unable to get nfs info. Trimming share path  [] and "
                "continuing"});
}

TEST_F(FilerDeviceTest, NfsFileSystemLookupFailureIsReported) {
  zkfiler::FaultRule oFault;
  oFault.command = "GetPFSInfo";
  oFault.error.sMessageCode = "13421772800";
  ASSERT_TRUE(zkfiler::ArmFault(oFault).ok());
  CelerraSnapDevicePtr pDevice = Prepared(NfsSource("/fs1", "filer1"));
  ManageCelerra oClient = Client();
  EXPECT_FALSE(pDevice->PopulateDetails(oClient));
  EXPECT_TRUE(ErrorLogged(
      "CelerraSnapDevice(925): -Error-: Unable to get PFS info for FS "
      "[101],share [/fs1]"));
  EXPECT_TRUE(ErrorLogged(
      "CelerraSnapDevice(935): -Error-: Unable to get filesystem information "
      "for share [/fs1] from control host [cs1]"));
  auto vStatus = LinesOf(kPopulateNfsTag, "messageCode:[13421772800]");
  ASSERT_EQ(vStatus.size(), 1u);
  EXPECT_EQ(vStatus[0].nLevel, -1);
}

TEST_F(FilerDeviceTest, UncShareGivesItsFileSystem) {
  CelerraSnapDevicePtr pDevice =
      Prepared(Identifier("unc", "UNC-NT_cifs1\\share1\\dir", "filer1"));
  ManageCelerra oClient = Client();
  ASSERT_TRUE(pDevice->PopulateDetails(oClient));
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  EXPECT_EQ(oPeer.Storage().sPFSId, "101");
  EXPECT_EQ(oPeer.Storage().sStorageExtra, "pool_a");
  EXPECT_EQ(LinesOf("CelerraSnapDeviceUNC::PopulateDetails",
                    "Got PFSId [101] MoverId [2] sSavVol [vpfs101] for "
                    "sharename [share1] on controlhost [cs1]")
                .size(),
            1u);

  // An unknown share fails quietly; a failed file system lookup says so.
  m_oLog.Clear();
  CelerraSnapDevicePtr pUnknown =
      Prepared(Identifier("unc", "UNC-NT_cifs1\\nosuch", "filer1"));
  EXPECT_FALSE(pUnknown->PopulateDetails(oClient));
  EXPECT_TRUE(LinesOf("CelerraSnapDeviceUNC::PopulateDetails").empty());

  zkfiler::FaultRule oFault;
  oFault.command = "GetPFSInfo";
  ASSERT_TRUE(zkfiler::ArmFault(oFault).ok());
  EXPECT_FALSE(pDevice->PopulateDetails(oClient));
  EXPECT_TRUE(ErrorLogged(
      "CelerraSnapDevice(875): -Error-: Unable to get PFS info for FS "
      "[101],share [share1]"));
}

TEST_F(FilerDeviceTest, PreparedNfsRecordIsReadBackBySnap) {
  AddArray("filer1", {}, zktest::kVendor, "array-1", "cs1");
  m_oRecord.sSourceDevice = NfsSource("/fs1/a", "filer1");
  m_oRecord.sSnapName = "SP";
  CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_PREPARE);
  ASSERT_TRUE(pDevice);
  ASSERT_TRUE(pDevice->PreOperation());
  ASSERT_TRUE(pDevice->PostOperation(ZKSO::READY_FOR_SNAP));
  EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_FS_INFO],
            "filer1|101|1|pool_a|2|/fs1/a|");
  EXPECT_EQ(m_oRecord.sSnapName, "SP_1700000000");
  EXPECT_EQ(
      m_oRecord.vStatusHistory,
      (std::vector<int>{ZKSO::READY_FOR_SNAP_FAILED, ZKSO::READY_FOR_SNAP}));
  // The file server was asked with the entry's login.
  std::vector<zkfiler::JournalEntry> vEntries;
  ASSERT_TRUE(zkfiler::Journal(&vEntries).ok());
  ASSERT_FALSE(vEntries.empty());
  EXPECT_EQ(vEntries[0].control_host, "cs1");
  EXPECT_EQ(vEntries[0].user, "nasadmin");
  EXPECT_EQ(vEntries[0].job_id, kJobId);

  CelerraSnapDevicePtr pSnap = MakeDevice(SNAP_OP_SNAP);
  ASSERT_TRUE(pSnap);
  ASSERT_TRUE(pSnap->PreOperation());
  _CelerraStorageResource oStorage = pSnap->GetStorageResource();
  EXPECT_EQ(oStorage.sPFSId, "101");
  EXPECT_EQ(oStorage.eStorageType, CELERRA_STG_UXFS);
  EXPECT_EQ(oStorage.sStorageExtra, "pool_a");
  EXPECT_EQ(pSnap->GetChkptName(), "SP_1700000000");
  _CelerraArrayCredentials oCredentials;
  pSnap->GetArrayCredentials(oCredentials);
  EXPECT_EQ(oCredentials.sHostName, "cs1");
  EXPECT_EQ(oCredentials.sHostPassword, kPassword);
}

TEST_F(FilerDeviceTest, PrepareWithWrongPasswordFailsWithoutShowingIt) {
  zkref::ArrayEntry oEntry;
  oEntry.sName = "filer1";
  oEntry.sArrayInfo = zkref::ArrayDatabase::FormArrayInfo(
      "array-1", zktest::kVendor, "cs1", "nasadmin",
      std::string(kPassword) + "-old");
  m_oDatabase.Add(oEntry);
  m_oRecord.sSourceDevice = NfsSource("/fs1/a", "filer1");
  m_oRecord.sSnapName = "SP";
  CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_PREPARE);
  ASSERT_TRUE(pDevice);
  EXPECT_FALSE(pDevice->PreOperation());
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::READY_FOR_SNAP_FAILED);
  EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_FS_INFO), 0u);
  EXPECT_FALSE(LinesOf(kPopulateNfsTag, "returned by Celerra").empty());
}

}  // namespace
