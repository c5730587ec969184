// SPDX-License-Identifier: Apache-2.0
// Map and unmap of NFS and NAS devices against the simulated file server:
// the writable checkpoint, its export to the mount hosts, the mount
// metadata, the snap clone device, and their removal.
#include <string>
#include <vector>

#include "SnapshotServerTestSupport.h"

namespace {

class ExposeTest : public zktest::SnapshotServerTest {};
using zktest::HostIdentifier;
using zktest::kClientIP;
using zktest::kEsxHost;
using zktest::kEsxIP;
using zktest::kNASExposeTag;
using zktest::kNASUnExposeTag;
using zktest::kNfsExposeTag;
using zktest::kNfsUnExposeTag;
using zktest::kNoHost;
using zktest::SnapshotRecord;
using Hosts = std::vector<std::string>;

_CelerraSnapDeviceIdentifier CloneOf(const std::string& sText) {
  _CelerraSnapDeviceIdentifier oClone;
  CelerraUtils::ParseDeviceIdentifier(sText, oClone);
  return oClone;
}

// ---- NFS export devices ----

TEST_F(ExposeTest, NfsMapExportsWritableCheckpointAndUnmapRemovesIt) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    std::string sHostIdentifier;
    std::vector<std::pair<std::string, std::string>> vConfig;
    Hosts vAccess, vRW, vRoot;
    const char* pszKemType;
  } aCases[] = {
      {"configured hosts, then the mount host",
       zktest::NfsSnapshot(),
       "",
       {{"sCelerraCommaSeparatedAccessHosts", "10.9.9.1"},
        {"sCelerraCommaSeparatedRWHosts", "10.9.9.2"}},
       {"10.9.9.1", kClientIP},
       {"10.9.9.2", kClientIP},
       {kClientIP},
       "native_celerra"},
      {"VMware: the ESX host and its VMkernel addresses, not the client",
       zktest::NfsSnapshot("vmware"),
       HostIdentifier(kEsxHost, "10.40.0.1|10.40.0.2|"),
       {},
       {kEsxIP, "10.40.0.1", "10.40.0.2"},
       {kEsxIP, "10.40.0.1", "10.40.0.2"},
       {kEsxIP, "10.40.0.1", "10.40.0.2"},
       "vmware"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    m_oOSUtil.ClearConfig();
    for (const auto& oPair : oCase.vConfig) {
      m_oOSUtil.SetConfig(oPair.first, oPair.second);
    }
    UseSnapshot(oCase.oSnapshot, oCase.sHostIdentifier);

    ASSERT_EQ(Map(), "");
    const zkfiler::CheckpointView oRW = CheckpointNamed("SNAP_RW");
    ASSERT_FALSE(oRW.id.empty());
    EXPECT_TRUE(oRW.writable);
    EXPECT_EQ(oRW.baseline_id, "150");
    EXPECT_EQ(oRW.fs_id, "101");
    const zkfiler::ExportView oExport = ExportOf("/SNAP_RW");
    EXPECT_EQ(oExport.mover_id, "2");
    EXPECT_EQ(oExport.fs_id, oRW.id);
    EXPECT_EQ(oExport.access_hosts, oCase.vAccess);
    EXPECT_EQ(oExport.rw_hosts, oCase.vRW);
    EXPECT_EQ(oExport.root_hosts, oCase.vRoot);
    EXPECT_EQ(Journal(),
              (Hosts{"CreateRWChkPt fs=101 name=SNAP_RW baseline=150",
                     "Celerra_GetSnapDeviceNameWithManageCelerra source=/fs1 "
                     "fs=101 id=" +
                         oRW.id + " name=SNAP_RW",
                     JournalOf("CreateNFSShare")}));
    EXPECT_EQ(JournalOf("CreateNFSShare")
                  .rfind("CreateNFSShare path=/SNAP_RW mover=2 ", 0),
              0u);

    // The record: mount metadata, clone device, status.
    const std::string sMount = "SNAP_RW|" + oRW.id;
    EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_MOUNT], sMount);
    EXPECT_TRUE(JobLogged("Setting Metadata [" + sMount + "] for device [" +
                              oCase.oSnapshot.sSource + "]",
                          1, "CelerraSnapDeviceNfs::CreateRWChkPt"));
    EXPECT_TRUE(JobLogged("Successfully created NFS share.", 1, kNfsExposeTag));
    _CelerraSnapDeviceIdentifier oExpected;
    oExpected.sType = "nfs";
    oExpected.sLunUUID = "/SNAP_RW";
    oExpected.sVendor = "celerra";
    oExpected.sTargetHostName = "filer1";
    oExpected.sKemType = oCase.pszKemType;
    EXPECT_EQ(m_oRecord.sSnapDevice,
              CelerraUtils::FormDeviceIdentifider(oExpected));
    EXPECT_EQ(CloneOf(m_oRecord.sSnapDevice).sLunUUID, "/SNAP_RW");
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::MAP_SUCCESS);

    ResetJournal();
    ASSERT_EQ(Unmap(), "");
    EXPECT_EQ(
        Journal(),
        (Hosts{"Celerra_GetSnapDeviceNameWithManageCelerra source=/fs1 "
               "fs=101 id=" +
                   oRW.id + " name=SNAP_RW",
               "GetNFSInfo path=/SNAP_RW",
               "DeleteNFSShare path=/SNAP_RW mover=2",
               "DeleteChkPt id=" + oRW.id + " baseline= with_baseline=false"}));
    EXPECT_TRUE(CheckpointNamed("SNAP_RW").id.empty());
    EXPECT_EQ(CheckpointNamed("SNAP").id, "150");
    EXPECT_TRUE(ExportOf("/SNAP_RW").path.empty());
    EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT), 0u);
    EXPECT_TRUE(JobLogged(
        "Deleting NFS share for chkpt:[SNAP_RW], chkptid [" + oRW.id + "]", 1,
        kNfsUnExposeTag));
    EXPECT_TRUE(
        JobLogged("Successfully deleted the NFS share", 1, kNfsUnExposeTag));
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
  }
}

// ---- NAS file systems ----

TEST_F(ExposeTest, NasExportFollowsMountRequestSourceAndDataMover) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    std::string sHostIdentifier;
    int nRequestSource;
    const char* pszSourcePath;  // the client finds the export from it
    const char* pszMover;
    const char* pszMoverLine;  // "" when the file system is on a mover
    const char* pszLunUUID;
    const char* pszClonePath;
    Hosts vHosts;  // access, read-write and root alike
    const char* pszKemType;
  } aCases[] = {
      {"mover, request source 2", zktest::NASSnapshot(), "", 2, "/fs1/ds1", "2",
       "", "/SNAP_RW", "/SNAP/ds1", Hosts{kClientIP}, "native_celerra"},
      {"mover, other request source", zktest::NASSnapshot(), "", 0, "/fs1", "2",
       "", "/SNAP_RW/ds1", "/SNAP/ds1", Hosts{kClientIP}, "native_celerra"},
      {"VDM, other request source", zktest::VdmSnapshot(), "", 1,
       "/root_vdm_3/fs2", "2", "[2] for VdmID [3]", "/VSNAP_RW/ds2",
       "/VSNAP/ds2", Hosts{kClientIP}, "native_celerra"},
      {"VDM, request source 2", zktest::VdmSnapshot(), "", 2,
       "/root_vdm_3/fs2/ds2", "2", "[2] for VdmID [3]", "/VSNAP_RW",
       "/VSNAP/ds2", Hosts{kClientIP}, "native_celerra"},
      {"VMware datastore", zktest::NASSnapshot("vmware"),
       HostIdentifier(kEsxHost, "10.40.0.1|"), 2, "/fs1/ds1", "2", "",
       "/SNAP_RW", "/SNAP/ds1", Hosts{kEsxIP, "10.40.0.1"}, "vmware"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    UseSnapshot(oCase.oSnapshot, oCase.sHostIdentifier);
    m_oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] =
        oCase.nRequestSource;
    const std::string sName = oCase.oSnapshot.sSnapName;
    const std::string sRWName = sName + "_RW";
    const bool bOnVdm = oCase.pszMoverLine[0] != '\0';

    ASSERT_EQ(Map(), "");
    const zkfiler::CheckpointView oRW = CheckpointNamed(sRWName);
    ASSERT_FALSE(oRW.id.empty());
    const zkfiler::ExportView oExport = ExportOf("/" + sRWName);
    EXPECT_EQ(oExport.mover_id, oCase.pszMover);
    EXPECT_EQ(oExport.fs_id, oRW.id);
    EXPECT_EQ(oExport.access_hosts, oCase.vHosts);
    EXPECT_EQ(oExport.rw_hosts, oCase.vHosts);
    EXPECT_EQ(oExport.root_hosts, oCase.vHosts);
    const std::string sLookup =
        "Celerra_GetSnapDeviceNameWithManageCelerra source=" +
        std::string(oCase.pszSourcePath) + " fs=" + oRW.fs_id +
        " id=" + oRW.id + " name=" + sRWName;
    EXPECT_EQ(JournalOf("Celerra_GetSnapDeviceNameWithManageCelerra"), sLookup);
    const Hosts vMapCommands =
        bOnVdm ? Hosts{"CreateRWChkPt", "GetMoverForVdm",
                       "Celerra_GetSnapDeviceNameWithManageCelerra",
                       "CreateNFSShare"}
               : Hosts{"CreateRWChkPt",
                       "Celerra_GetSnapDeviceNameWithManageCelerra",
                       "CreateNFSShare"};
    EXPECT_EQ(Commands(), vMapCommands);
    if (bOnVdm) {
      EXPECT_TRUE(JobLogged("Using DataMoverId " +
                                std::string(oCase.pszMoverLine) +
                                " for NFS mount.",
                            1, kNASExposeTag));
    }
    EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_MOUNT], sRWName + "|" + oRW.id);
    EXPECT_TRUE(JobLogged("Setting Metadata [" + sRWName + "|" + oRW.id +
                              "] for device [" + oCase.oSnapshot.sSource + "]",
                          1, "CelerraSnapDeviceNAS::CreateRWChkPt"));

    const _CelerraSnapDeviceIdentifier oClone = CloneOf(m_oRecord.sSnapDevice);
    EXPECT_EQ(oClone.sType, "nfs");
    EXPECT_EQ(oClone.sLunUUID, oCase.pszLunUUID);
    EXPECT_EQ(oClone.sExportPath, "/" + sRWName);
    EXPECT_EQ(oClone.sPath, oCase.pszClonePath);
    EXPECT_EQ(oClone.sFSPath, "/" + sName);
    EXPECT_EQ(oClone.sVendor, "celerra");
    EXPECT_EQ(oClone.sTargetHostName, "filer1");
    EXPECT_EQ(oClone.sKemType, oCase.pszKemType);

    // Unmap reads the same source path back from the clone device.
    ResetJournal();
    ASSERT_EQ(Unmap(), "");
    EXPECT_EQ(JournalOf("Celerra_GetSnapDeviceNameWithManageCelerra"), sLookup);
    EXPECT_EQ(JournalOf("DeleteNFSShare"),
              "DeleteNFSShare path=/" + sRWName + " mover=" + oCase.pszMover);
    EXPECT_EQ(JournalOf("DeleteChkPt"),
              "DeleteChkPt id=" + oRW.id + " baseline= with_baseline=false");
    if (bOnVdm) {
      EXPECT_TRUE(JobLogged("Using DataMoverId " +
                                std::string(oCase.pszMoverLine) +
                                " for NFS unmount.",
                            1, kNASUnExposeTag));
    }
    EXPECT_TRUE(CheckpointNamed(sRWName).id.empty());
    EXPECT_EQ(Exports().size(), 1u);  // the file system's own export
    EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT), 0u);
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
  }
}

TEST_F(ExposeTest, VdmWithoutHostingMoverIsExportedOnTheVdmId) {
  UseSnapshot(zktest::LostVdmSnapshot());
  m_oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
  // The file server names no mover for VDM 4, so the export is asked of
  // "mover" 4, which the file server refuses.
  EXPECT_EQ(Map(), "ExposeChkPt");
  EXPECT_EQ(JournalOf("GetMoverForVdm"), "GetMoverForVdm vdm=4");
  EXPECT_EQ(JournalOf("CreateNFSShare")
                .rfind("CreateNFSShare path=/USNAP_RW mover=4 ", 0),
            0u);
  EXPECT_TRUE(JobLogged("Using DataMoverId [4] for VdmID [4] for NFS mount.", 1,
                        kNASExposeTag));
  EXPECT_EQ(Exports().size(), 1u);
}

TEST_F(ExposeTest, UnknownMountRequestSourceStopsNasExposure) {
  UseSnapshot(zktest::NASSnapshot());  // the host answers no value 7
  CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_MAP);
  ASSERT_TRUE(pDevice->PreOperation());
  ManageCelerra oClient = ClientFor(*pDevice);
  ASSERT_TRUE(pDevice->CreateRWChkPt(oClient));
  ResetJournal();
  EXPECT_FALSE(pDevice->ExposeChkPt(oClient, zktest::kClientHost));
  EXPECT_TRUE(Journal().empty());
  const std::string sText =
      "Error: Failed to determine mount request source. Device:[" +
      m_oRecord.sSourceDevice + "]";
  EXPECT_TRUE(JobLogged(sText, 2, "CelerraSnapDevice::GetGUIMountShareName"));
  EXPECT_TRUE(JobLogged("Failed to get GUI mount share name details", 2, ""));
  ASSERT_EQ(m_oRecord.vJPRHistory.size(), 1u);
  EXPECT_EQ(m_oRecord.vJPRHistory[0],
            std::make_pair(int{JPR_MOUNT_PATH_FAILED}, "[" + sText + "]"));
}

// ---- Mount hosts ----

TEST_F(ExposeTest, VMwareDeviceWithoutEsxHostFailsBeforeExporting) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    Hosts vCommands;  // sent by ExposeChkPt
  } aCases[] = {
      {"NFS export", zktest::NfsSnapshot("vmware"), {}},
      {"NAS on a mover", zktest::NASSnapshot("vmware"), {}},
      // Finding the VDM's mover comes first; nothing is exported.
      {"NAS on a VDM", zktest::VdmSnapshot("vmware"), {"GetMoverForVdm"}},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    UseSnapshot(oCase.oSnapshot, HostIdentifier("", "10.40.0.1|"));
    m_oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
    CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_MAP);
    ASSERT_TRUE(pDevice->PreOperation());
    ManageCelerra oClient = ClientFor(*pDevice);
    ASSERT_TRUE(pDevice->CreateRWChkPt(oClient));
    ResetJournal();
    EXPECT_FALSE(pDevice->ExposeChkPt(oClient, zktest::kClientHost));
    EXPECT_EQ(Commands(), oCase.vCommands);
    EXPECT_TRUE(JobLogged("Host Identifier is empty for VMWare source", 2,
                          kNfsExposeTag));
    EXPECT_EQ(Exports().size(), 1u);
  }
}

TEST_F(ExposeTest, UnresolvableMountHostStillExportsToTheOtherHosts) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    std::string sHostIdentifier;
    const char* pszAccessConfig;
    const char* pszUnresolved;
    Hosts vAccess;
  } aCases[] = {
      {"configured access host",
       zktest::NfsSnapshot(),
       "",
       "10.9.9.1",
       kNoHost,
       {"10.9.9.1"}},
      {"VMkernel addresses",
       zktest::NfsSnapshot("vmware"),
       HostIdentifier("esxgone.zk.invalid", "10.40.0.1|"),
       "",
       "esxgone.zk.invalid",
       {"10.40.0.1"}},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    m_oOSUtil.ClearConfig();
    m_oOSUtil.SetConfig("sCelerraCommaSeparatedAccessHosts",
                        oCase.pszAccessConfig);
    UseSnapshot(oCase.oSnapshot, oCase.sHostIdentifier);
    m_oLog.Clear();
    ASSERT_EQ(Map(kNoHost), "");
    EXPECT_EQ(ExportOf("/SNAP_RW").access_hosts, oCase.vAccess);
    EXPECT_FALSE(m_oLog
                     .Find("Unable to get IP address for host:[" +
                           std::string(oCase.pszUnresolved) + "], continuing")
                     .empty());
  }
}

// An export without access hosts would be open to every host: a writable
// copy of the file system is never exported that way.
TEST_F(ExposeTest, ExportWithoutAccessHostIsRefused) {
  const struct {
    const char* pszName;
    const char* pszAccessConfig;
    const char* pszRWConfig;
  } aCases[] = {
      {"nothing configured", "", ""},
      {"only read-write hosts configured", "", "10.9.9.2"},
      {"only empty access entries", ",,", ""},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    m_oOSUtil.ClearConfig();
    m_oOSUtil.SetConfig("sCelerraCommaSeparatedAccessHosts",
                        oCase.pszAccessConfig);
    m_oOSUtil.SetConfig("sCelerraCommaSeparatedRWHosts", oCase.pszRWConfig);
    UseSnapshot(zktest::NfsSnapshot());
    EXPECT_EQ(Map(kNoHost), "ExposeChkPt");
    EXPECT_EQ(
        Commands(),
        (Hosts{"CreateRWChkPt", "Celerra_GetSnapDeviceNameWithManageCelerra"}));
    EXPECT_TRUE(ExportOf("/SNAP_RW").path.empty());
    EXPECT_TRUE(JobLogged(
        "Error: No host to give access to the NFS share [/SNAP_RW] of RW "
        "checkpoint[SNAP_RW]: not exporting it to every host",
        2, kNfsExposeTag));
    // The record still names the writable checkpoint the server holds.
    EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_MOUNT],
              "SNAP_RW|" + CheckpointNamed("SNAP_RW").id);
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::MAP_FAILED);
  }
}

// ---- Snapshots that are writable checkpoints ----

TEST_F(ExposeTest, WritableSnapshotIsExportedItselfAndUnmapKeepsItsBaseline) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    const char* pszSourcePath;
  } aCases[] = {
      {"NFS export", zktest::WritableSnapshot(zktest::NfsSnapshot()), "/fs1"},
      {"NAS file system", zktest::WritableSnapshot(zktest::NASSnapshot()),
       "/fs1/ds1"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    UseSnapshot(oCase.oSnapshot);
    m_oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;

    ASSERT_EQ(Map(), "");
    const std::string sSource(oCase.pszSourcePath);
    // Already writable: whether its path is exported is asked first.
    EXPECT_EQ(Journal(),
              (Hosts{"Celerra_GetSnapDeviceNameWithManageCelerra source=" +
                         sSource + " fs=101 id= name=BSNAP",
                     "GetNFSInfo path=/BSNAP", JournalOf("CreateNFSShare")}));
    EXPECT_EQ(ExportOf("/BSNAP").fs_id, "181");
    EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT), 0u);
    EXPECT_EQ(CloneOf(m_oRecord.sSnapDevice).sLunUUID, "/BSNAP");

    ResetJournal();
    ASSERT_EQ(Unmap(), "");
    EXPECT_EQ(
        Journal(),
        (Hosts{"Celerra_GetSnapDeviceNameWithManageCelerra source=" + sSource +
                   " fs=101 id=181 name=BSNAP",
               "GetNFSInfo path=/BSNAP", "DeleteNFSShare path=/BSNAP mover=2",
               "DeleteChkPt id=181 baseline=180 with_baseline=false"}));
    EXPECT_TRUE(CheckpointNamed("BSNAP").id.empty());
    EXPECT_EQ(CheckpointNamed("BSNAP_baseline").id, "180");
    EXPECT_TRUE(ExportOf("/BSNAP").path.empty());
    EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_UUID], "BSNAP|180|");
    EXPECT_TRUE(
        JobLines("Error:Failed to delete RW checkpoint:[BSNAP]").empty());
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
  }
}

}  // namespace
