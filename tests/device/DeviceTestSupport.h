// SPDX-License-Identifier: Apache-2.0
// Test support for the device suites: a peer that reads and writes a device
// object's members, source identifier builders, and a fixture holding one
// in-memory host record, its utility object, the array management database
// and a log capture.
//
// Not thread-safe: one fixture per test.
#ifndef ZK_TESTS_DEVICE_DEVICETESTSUPPORT_H_
#define ZK_TESTS_DEVICE_DEVICETESTSUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/CelerraSnapDevice.h"
#include "device/CelerraSnapDeviceLun.h"
#include "device/CelerraSnapDeviceNAS.h"
#include "device/CelerraSnapDeviceNfs.h"
#include "device/CelerraSnapDeviceUNC.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"

// Reaches the protected members of a device object (a friend of every kind).
class CelerraSnapDeviceTestPeer {
 public:
  explicit CelerraSnapDeviceTestPeer(CelerraSnapDevice* pDevice)
      : m_pDevice(pDevice) {}

  ZKSO::SnapInfo*& SnapInfo() { return m_pDevice->m_pSnapInfo; }
  ZKSO::ZKOSUtil*& OSUtil() { return m_pDevice->m_pOSUtil; }
  _SnapOperationType& OperationType() { return m_pDevice->m_eOperationType; }
  int64_t& JobId() { return m_pDevice->m_nJobId; }
  std::string& LastError() { return m_pDevice->m_sLastError; }
  _CelerraSourceDeviceType& DeviceType() { return m_pDevice->m_eDeviceType; }
  _CelerraArrayCredentials& Credentials() {
    return m_pDevice->m_oArrayCredentials;
  }
  _CelerraStorageResource& Storage() { return m_pDevice->m_oStorageResource; }
  std::string& SourceDevice() { return m_pDevice->m_sSnapSourceDevice; }
  std::string& ChkptName() { return m_pDevice->m_sChkptName; }
  std::string& ChkptId() { return m_pDevice->m_sChkptId; }
  std::string& BaselineChkptId() { return m_pDevice->m_sBaselineChkptId; }
  std::string& RWChkptName() { return m_pDevice->m_sRWChkptName; }
  std::string& RWChkptId() { return m_pDevice->m_sRWChkptId; }
  bool& IsVMware() { return m_pDevice->m_bIsVMware; }
  bool& MountInfoLoaded() { return m_pDevice->m_bMountInfoLoaded; }
  bool& SnapUUIDChanged() { return m_pDevice->m_bSnapUUIDChanged; }
  std::string& HostIdentifier() { return m_pDevice->m_sHostIdentifier; }
  std::string& VCName() { return m_pDevice->m_sVCName; }
  std::string& ESXName() { return m_pDevice->m_sESXName; }
  std::vector<std::string>& VMKernelIPs() { return m_pDevice->m_vVMKernelIPs; }
  _CelerraSnapDeviceIdentifier& SnapDeviceIdentifier() {
    return m_pDevice->m_oSnapDeviceIdentifier;
  }
  std::string& ArrayIdentifier() { return m_pDevice->m_sArrayIdentifier; }

  CelerraSnapDeviceLun& Lun() {
    return dynamic_cast<CelerraSnapDeviceLun&>(*m_pDevice);
  }
  CelerraSnapDeviceNfs& Nfs() {
    return dynamic_cast<CelerraSnapDeviceNfs&>(*m_pDevice);
  }
  CelerraSnapDeviceUNC& UNC() {
    return dynamic_cast<CelerraSnapDeviceUNC&>(*m_pDevice);
  }
  CelerraSnapDeviceNAS& NAS() {
    return dynamic_cast<CelerraSnapDeviceNAS&>(*m_pDevice);
  }

  std::string& LunSerial() { return Lun().m_sLunSerial; }
  std::string& NfsTargetHostName() { return Nfs().m_sTargetHostName; }
  std::string& NfsShareName() { return Nfs().m_sShareName; }
  std::string& NfsMoverId() { return Nfs().m_sMoverId; }
  std::string& UNCShareName() { return UNC().m_sShareName; }
  std::string& UNCSharePath() { return UNC().m_sSharePath; }
  std::string& UNCServerName() { return UNC().m_sServerName; }
  std::vector<std::string>& UNCCifsServers() { return UNC().m_vCifsServers; }
  std::string& NASTargetHostName() { return NAS().m_sTargetHostName; }
  std::string& NASPath() { return NAS().m_sPath; }
  std::string& NASMountPath() { return NAS().m_sMountPath; }
  std::string& NASMoverMountPath() { return NAS().m_sMoverMountPath; }
  std::string& NASFSName() { return NAS().m_sFSName; }
  std::string& NASVdmId() { return NAS().m_sVdmId; }
  bool& NASIsVdm() { return NAS().m_bIsVdm; }
  _CelerraSourceDeviceType& NASExposeType() { return NAS().m_eExposeType; }
  bool& NASGUIMount() { return NAS().m_bGUIMount; }

 private:
  CelerraSnapDevice* m_pDevice;  // borrowed
};

namespace zktest {

// A password no log line, job log line or reason message may show.
inline const char* const kPassword = "Pw-Zk#4521-secret";
inline const char* const kVendor = "Dell EMC VNX / Celerra";

// Source identifiers as the host writes them.
inline std::string Identifier(const std::string& sType,
                              const std::string& sLunUUID,
                              const std::string& sTargetHostName,
                              const std::string& sPath = "",
                              const std::string& sKemType = "") {
  _CelerraSnapDeviceIdentifier oIdentifier;
  oIdentifier.sType = sType;
  oIdentifier.sLunUUID = sLunUUID;
  oIdentifier.sTargetHostName = sTargetHostName;
  oIdentifier.sPath = sPath;
  oIdentifier.sKemType = sKemType;
  oIdentifier.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oIdentifier);
}

inline std::string NfsSource(const std::string& sExport,
                             const std::string& sHost = "filer1",
                             const std::string& sKemType = "") {
  return Identifier("nfs", sExport, sHost, "", sKemType);
}

// One host record with its utility object, array database and log capture.
class DeviceTest : public ::testing::Test {
 protected:
  static constexpr ZKUint64 kJobId = 4711;

  DeviceTest() : m_oRecord(&m_oDatabase), m_oOSUtil(kJobId) {}

  // Every scenario runs with the distinctive password in the database.
  void TearDown() override { ExpectPasswordNeverShown(); }

  // Registers a file server entry under sName with the distinctive password.
  void AddArray(const std::string& sName,
                const std::vector<std::string>& vAliases = {},
                const std::string& sVendor = kVendor,
                const std::string& sArrayId = "array-1",
                const std::string& sControlHost = "cs1") {
    zkref::ArrayEntry oEntry;
    oEntry.sName = sName;
    oEntry.vAliases = vAliases;
    oEntry.sArrayInfo = zkref::ArrayDatabase::FormArrayInfo(
        sArrayId, sVendor, sControlHost, "nasadmin", kPassword);
    m_oDatabase.Add(oEntry);
  }

  // A device of the record's source identifier, made by the factory.
  CelerraSnapDevicePtr MakeDevice(_SnapOperationType eOperation) {
    return CelerraSnapDevicePtr(
        CelerraSnapDevice::GetInstance(&m_oRecord, &m_oOSUtil, eOperation));
  }

  // True when the password shows in no captured line, no job log line and
  // no reason message.
  void ExpectPasswordNeverShown() const {
    for (const ZkLogLine& oLine : m_oLog.Lines()) {
      EXPECT_EQ(oLine.sText.find(kPassword), std::string::npos)
          << oLine.ToString();
    }
    for (const auto& oLine : m_oRecord.vJobLog) {
      EXPECT_EQ(oLine.sText.find(kPassword), std::string::npos) << oLine.sText;
    }
    for (const auto& oJPR : m_oRecord.vJPRHistory) {
      EXPECT_EQ(oJPR.second.find(kPassword), std::string::npos) << oJPR.second;
    }
  }

  // The captured lines of a tag whose text contains sNeedle.
  std::vector<ZkLogLine> LinesOf(const std::string& sTag,
                                 const std::string& sNeedle = "") const {
    std::vector<ZkLogLine> vLines;
    for (const ZkLogLine& oLine : m_oLog.Find(sNeedle)) {
      if (oLine.sTag == sTag) vLines.push_back(oLine);
    }
    return vLines;
  }

  ZkCaptureLogSink m_oLog;
  zkref::ArrayDatabase m_oDatabase;
  zkref::MemSnapInfo m_oRecord;
  zkref::MemOSUtil m_oOSUtil;
};

}  // namespace zktest

#endif  // ZK_TESTS_DEVICE_DEVICETESTSUPPORT_H_
