// SPDX-License-Identifier: Apache-2.0
// What each kind reads from its source identifier, the VMware host
// identifier, and the snap clone identifiers of the NFS and NAS kinds.
#include <string>
#include <vector>

#include "DeviceTestSupport.h"

namespace {

using zktest::DeviceTest;
using zktest::Identifier;
using zktest::kPassword;
using zktest::NfsSource;

class KindsTest : public DeviceTest {
 protected:
  CelerraSnapDevicePtr Make(const std::string& sSource,
                            _SnapOperationType eOp = SNAP_OP_PREPARE) {
    m_oRecord.sSourceDevice = sSource;
    CelerraSnapDevicePtr pDevice = MakeDevice(eOp);
    EXPECT_TRUE(pDevice);
    return pDevice;
  }
  bool Logged(const std::string& sTag, const std::string& sText, int nLevel) {
    auto vLines = LinesOf(sTag, sText);
    return vLines.size() == 1 && vLines[0].sText == sText &&
           vLines[0].bHasLevel && vLines[0].nLevel == nLevel;
  }
};

// ---- LUN ----

TEST_F(KindsTest, LunOfNonVMwareDeviceIsRefusedWithReason) {
  CelerraSnapDevicePtr pDevice = Make(Identifier("fc", "6006", "filer1"));
  EXPECT_FALSE(pDevice->DetermineFromDevice());
  std::string sText = "Failed to get Scsi details for device:[" +
                      m_oRecord.sSourceDevice +
                      "]. Error:[Non-Vmware is not supported for Celerra snap "
                      "backup]";
  EXPECT_TRUE(Logged("CelerraSnapDeviceLun::DetermineFromDevice", sText, -1));
  ASSERT_EQ(m_oRecord.vJPRHistory.size(), 1u);
  EXPECT_EQ(m_oRecord.vJPRHistory[0].first, JPR_LUN_DEVICE_FAILED);
  EXPECT_EQ(m_oRecord.vJPRHistory[0].second, "[" + sText + "]");
}

TEST_F(KindsTest, LunOfVMwareDatastoreReadsArrayAndSerial) {
  // Characters 18..41 carry the serial "APM00012345" as hex, zero padded.
  std::string sUUID =
      std::string("600601601234567890") + "41504D303030313233343500";
  ASSERT_EQ(sUUID.size(), 42u);
  CelerraSnapDevicePtr pDevice =
      Make(Identifier("fc", sUUID, "filer1", "", "vmware"));
  ASSERT_TRUE(pDevice->DetermineFromDevice());
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  EXPECT_EQ(oPeer.ArrayIdentifier(), "filer1");
  EXPECT_EQ(oPeer.LunSerial(), "APM00012345");
  EXPECT_TRUE(Logged("CelerraSnapDeviceLun::DetermineFromDevice",
                     "Device belongs to Lun.", 0));
  // It still stores nothing and is never exposed.
  ManageCelerra oClient(kJobId);
  EXPECT_FALSE(pDevice->PopulateDetails(oClient));
  EXPECT_FALSE(pDevice->CreateRWChkPt(oClient));
  EXPECT_FALSE(pDevice->FormSnapDevice("/x"));
}

// ---- UNC ----

TEST_F(KindsTest, UncPathIsSplitIntoServerShareAndRest) {
  const struct {
    std::string sPath;
    bool bOk;
    std::string sServer, sShare, sRest;
  } aCases[] = {
      {"UNC-NT_srv1\\share1\\dir\\sub", true, "srv1", "share1", "\\dir\\sub"},
      {"UNC-NT_srv1\\share1", true, "srv1", "share1", ""},
      {"UNC-NT_srv1\\share1\\", true, "srv1", "share1", "\\"},
      {"x:UNC-NT_srv2\\s\\d", true, "srv2", "s", "\\d"},
      {"UNC-NT_srv1", false, "srv1", "", ""},
      {"UNC-NT_srv1\\", false, "srv1", "", ""},
      {"UNC-NT_srv1\\\\share", false, "srv1", "", "\\share"},
      {"srv1\\share1", false, "untouched", "", ""},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sPath);
    m_oLog.Clear();
    CelerraSnapDevicePtr pDevice =
        Make(Identifier("unc", oCase.sPath, "filer1"));
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    oPeer.ArrayIdentifier() = "untouched";
    EXPECT_EQ(pDevice->DetermineFromDevice(), oCase.bOk);
    EXPECT_EQ(oPeer.ArrayIdentifier(), oCase.sServer);
    EXPECT_EQ(oPeer.UNCShareName(), oCase.sShare);
    EXPECT_EQ(oPeer.UNCSharePath(), oCase.sRest);
    if (oCase.sServer != "untouched") {
      EXPECT_EQ(oPeer.UNCServerName(), oCase.sServer);
    }
    EXPECT_EQ(
        Logged("CelerraSnapDeviceUNC::DetermineFromDevice",
               "lunuuid is not a valid UNC path [" + oCase.sPath + "]", -1),
        !oCase.bOk);
  }
}

TEST_F(KindsTest, UncWithoutPathFails) {
  CelerraSnapDevicePtr pDevice = Make(Identifier("unc", "", "filer1"));
  EXPECT_FALSE(pDevice->DetermineFromDevice());
  EXPECT_TRUE(Logged("CelerraSnapDeviceUNC::DetermineFromDevice",
                     "lunuuid info is empty", -1));
}

// ---- NFS and NAS ----

TEST_F(KindsTest, NfsAndNasNeedTargetHostAndPath) {
  const struct {
    std::string sSource;
    bool bOk;
    const char* pszTag;
    const char* pszError;
  } aCases[] = {
      {NfsSource("/fs1/a", "filer1"), true,
       "CelerraSnapDeviceNfs::DetermineFromDevice", nullptr},
      {NfsSource("/fs1/a", ""), false,
       "CelerraSnapDeviceNfs::DetermineFromDevice",
       "targethostname or lunuuid info is empty"},
      {NfsSource("", "filer1"), false,
       "CelerraSnapDeviceNfs::DetermineFromDevice",
       "targethostname or lunuuid info is empty"},
      {Identifier("native_celerra", "", "filer1", "/fs1/ds1"), true,
       "CelerraSnapDeviceNAS::DetermineFromDevice", nullptr},
      {Identifier("native_celerra", "/fs1/ds1", "filer1", ""), false,
       "CelerraSnapDeviceNAS::DetermineFromDevice",
       "targethostname or path info is empty"},
      {Identifier("native_celerra", "", "", "/fs1/ds1"), false,
       "CelerraSnapDeviceNAS::DetermineFromDevice",
       "targethostname or path info is empty"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sSource);
    m_oLog.Clear();
    CelerraSnapDevicePtr pDevice = Make(oCase.sSource);
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    EXPECT_EQ(pDevice->DetermineFromDevice(), oCase.bOk);
    if (oCase.pszError != nullptr) {
      EXPECT_TRUE(Logged(oCase.pszTag, oCase.pszError, -1));
      EXPECT_EQ(oPeer.ArrayIdentifier(), "");
    } else {
      EXPECT_EQ(oPeer.ArrayIdentifier(), "filer1");
      if (oPeer.DeviceType() == CELERRA_DEVICE_NFS) {
        EXPECT_EQ(oPeer.NfsTargetHostName(), "filer1");
        EXPECT_EQ(oPeer.NfsShareName(), "/fs1/a");
        EXPECT_TRUE(Logged(oCase.pszTag, "Device belongs to NFS.", 0));
      } else {
        EXPECT_EQ(oPeer.NASTargetHostName(), "filer1");
        EXPECT_EQ(oPeer.NASPath(), "/fs1/ds1");
        EXPECT_TRUE(Logged(oCase.pszTag, "Device belongs to NAS.", 0));
      }
    }
  }
}

TEST_F(KindsTest, NasStartsExposedOverNfs) {
  CelerraSnapDevicePtr pDevice =
      Make(Identifier("native_celerra", "", "filer1", "/fs1"));
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  EXPECT_EQ(oPeer.NASExposeType(), CELERRA_DEVICE_NFS);
  EXPECT_FALSE(oPeer.NASIsVdm());
  EXPECT_FALSE(oPeer.NASGUIMount());
}

TEST_F(KindsTest, NfsCloneIdentifier) {
  for (bool bVMware : {false, true}) {
    CelerraSnapDevicePtr pDevice =
        Make(NfsSource("/fs1/a", "filer1", bVMware ? "vmware" : ""));
    ASSERT_TRUE(pDevice->DetermineFromDevice());
    ASSERT_TRUE(pDevice->FormSnapDevice("/ckpt_1_RW"));
    const _CelerraSnapDeviceIdentifier& oClone =
        CelerraSnapDeviceTestPeer(pDevice.get()).SnapDeviceIdentifier();
    EXPECT_EQ(oClone.sType, "nfs");
    EXPECT_EQ(oClone.sLunUUID, "/ckpt_1_RW");
    EXPECT_EQ(oClone.sVendor, "celerra");
    EXPECT_EQ(oClone.sTargetHostName, "filer1");
    EXPECT_EQ(oClone.sKemType, bVMware ? "vmware" : "native_celerra");
    EXPECT_EQ(oClone.sPath, "");
  }
}

TEST_F(KindsTest, NasCloneIdentifierKeepsThePathBelowTheMount) {
  const struct {
    std::string sPath, sMoverMountPath;
    bool bGUIMount;
    std::string sLunUUID, sClonePath;
  } aCases[] = {
      {"/root_vdm_3/fs1/ds1", "/root_vdm_3/fs1", true, "/share/ds1",
       "/ckpt/ds1"},
      {"/root_vdm_3/fs1/ds1", "/root_vdm_3/fs1", false, "/share", "/ckpt/ds1"},
      {"/fs1", "/fs1", true, "/share", "/ckpt"},
      {"/f", "/fs1/longer", true, "/share", "/ckpt"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sPath);
    CelerraSnapDevicePtr pDevice =
        Make(Identifier("native_celerra", "", "filer1", oCase.sPath));
    ASSERT_TRUE(pDevice->DetermineFromDevice());
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    oPeer.ChkptName() = "ckpt";
    oPeer.NASMoverMountPath() = oCase.sMoverMountPath;
    oPeer.NASGUIMount() = oCase.bGUIMount;
    ASSERT_TRUE(pDevice->FormSnapDevice("/share"));
    const _CelerraSnapDeviceIdentifier& oClone = oPeer.SnapDeviceIdentifier();
    EXPECT_EQ(oClone.sType, "nfs");
    EXPECT_EQ(oClone.sPath, oCase.sClonePath);
    EXPECT_EQ(oClone.sLunUUID, oCase.sLunUUID);
    EXPECT_EQ(oClone.sExportPath, "/share");
    EXPECT_EQ(oClone.sFSPath, "/ckpt");
    EXPECT_EQ(oClone.sVendor, "celerra");
    EXPECT_EQ(oClone.sTargetHostName, "filer1");
    EXPECT_EQ(oClone.sKemType, "native_celerra");
  }
}

// ---- VMware host identifier ----

TEST_F(KindsTest, HostIdentifierGivesNamesAndTerminatedAddresses) {
  const struct {
    std::string sIdentifier;
    std::string sVC, sESX;
    std::vector<std::string> vIPs;
  } aCases[] = {
      {"{vcname:vc1,esxname:esx1,vmkernel:10.0.0.1|10.0.0.2|}",
       "vc1",
       "esx1",
       {"10.0.0.1", "10.0.0.2"}},
      {"{vcname:vc1,esxname:esx1,vmkernel:10.0.0.1|10.0.0.2}",
       "vc1",
       "esx1",
       {"10.0.0.1"}},
      {"{vcname:vc1,esxname:esx1,vmkernel:10.0.0.1}", "vc1", "esx1", {}},
      {"{vmkernel:|10.0.0.1||10.0.0.3|}", "", "", {"10.0.0.1", "10.0.0.3"}},
      {std::string("{esxname:esx1,password:") + kPassword + "}",
       "",
       "esx1",
       {}},
      // Key-like text inside a password is never read as a key.
      {"{vcname:vc1,password:x{esxname:Secr3tEsx,esxname:esx2,"
       "vmkernel:10.0.0.9|}",
       "vc1",
       "esx2",
       {"10.0.0.9"}},
      {"{password:p{vcname:Secr3tVc}", "", "", {}},
      {"", "", "", {}},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sIdentifier);
    m_oLog.Clear();
    CelerraSnapDevicePtr pDevice = Make(NfsSource("/fs1"));
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    oPeer.VMKernelIPs() = {"stale"};
    oPeer.HostIdentifier() = oCase.sIdentifier;
    pDevice->ParseHostIdentifier();
    EXPECT_EQ(oPeer.VCName(), oCase.sVC);
    EXPECT_EQ(oPeer.ESXName(), oCase.sESX);
    EXPECT_EQ(oPeer.VMKernelIPs(), oCase.vIPs);

    std::string sSummary =
        "VCName:[" + (oCase.sVC.empty() ? "EMPTY" : oCase.sVC) +
        "], ESXName:[" + (oCase.sESX.empty() ? "EMPTY" : oCase.sESX) +
        "], sizeof VMKernel IPs:[" + std::to_string(oCase.vIPs.size()) + "]";
    auto vLines = LinesOf("CelerraSnapDevice::ParseHostIdentifier", sSummary);
    ASSERT_EQ(vLines.size(), 1u);
    EXPECT_FALSE(vLines[0].bHasLevel);
    EXPECT_FALSE(vLines[0].bHasJobId);
    EXPECT_EQ(LinesOf("CelerraSnapDevice::ParseHostIdentifier").size(),
              2 + oCase.vIPs.size());
    EXPECT_TRUE(m_oLog.Find("Secr3t").empty()) << m_oLog.Dump();
  }
}

}  // namespace
