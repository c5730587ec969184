// SPDX-License-Identifier: Apache-2.0
#include "device/CelerraSnapDeviceNAS.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/CelerraCifsServerCache.h"
#include "device/CelerraStatusLog.h"
#include "host/EvDebug.h"
#include "host/ZkHostLib.h"

namespace {

const char kDetermineTag[] = "CelerraSnapDeviceNAS::DetermineFromDevice";
const char kPopulateTag[] = "CelerraSnapDeviceNAS::PopulateDetails";
const char kRootVdmPrefix[] = "/root_vdm_";

// The addresses of a host name as text, in resolver order; stops at the
// first address that cannot be written.
std::vector<std::string> ResolveAll(const std::string& sHost) {
  std::vector<std::string> vTexts;
  std::vector<CWbIPAddr> vAddrs;
  if (CWbIPAddr::GetAllByName(sHost.c_str(), vAddrs, 0).IsError()) {
    return vTexts;
  }
  for (const CWbIPAddr& oAddr : vAddrs) {
    CWbString sText;
    if (oAddr.GetAddressString(sText).IsError()) break;
    vTexts.push_back(sText.c_str());
  }
  return vTexts;
}

// True when strtol reads the whole text as a base-10 number (an empty text
// counts as read).
bool ConvertsCompletely(const std::string& sText) {
  char* pszEnd = nullptr;
  std::strtol(sText.c_str(), &pszEnd, 10);
  return pszEnd != nullptr && *pszEnd == '\0';
}

}  // namespace

bool CelerraSnapDeviceNAS::DetermineFromDevice() {
  EvDebug().DebugLvl(kDetermineTag, 0, JobId(), "%s", "Device belongs to NAS.");
  _CelerraSnapDeviceIdentifier oIdentifier;
  CelerraUtils::ParseDeviceIdentifier(m_sSnapSourceDevice, oIdentifier);
  if (oIdentifier.sTargetHostName.empty() || oIdentifier.sPath.empty()) {
    EvDebug().DebugLvl(kDetermineTag, -1, JobId(), "%s",
                       "targethostname or path info is empty");
    return false;
  }
  m_sTargetHostName = oIdentifier.sTargetHostName;
  m_sArrayIdentifier = m_sTargetHostName;
  m_sPath = oIdentifier.sPath;
  return true;
}

bool CelerraSnapDeviceNAS::PopulateDetails(ManageCelerra& oClient) {
  const std::string& sControlHost = m_oArrayCredentials.sHostName;
  try {
    if (PopulateFromFileServer(oClient)) return true;
  } catch (...) {
    // Reported below like any other failure.
  }
  try {
    EvDebug oLog;
    oLog.setJobId(JobId());
    oLog.error(
        "CelerraSnapDevice(1076): -Error-: Unable to get filesystem "
        "information for FS [%s] from control host [%s]",
        m_sFSName.c_str(), sControlHost.c_str());
    LogCelerraStatus(kPopulateTag, JobId(), oClient.GetLastError());
  } catch (...) {
  }
  return false;
}

bool CelerraSnapDeviceNAS::PopulateFromFileServer(ManageCelerra& oClient) {
  EvDebug oError;
  oError.setJobId(JobId());

  std::vector<CelerraCifsServer_t> vServers;
  if (!GetCifsServersCached(oClient, m_pOSUtil, m_oArrayCredentials.sHostName,
                            kPopulateTag, JobId(), vServers)) {
    return false;
  }

  // The data mover (or VDM) whose CIFS servers list one of the file
  // server's addresses; first match in address order, then list order.
  std::string sMoverId;
  bool bOnVdm = false;
  if (!FindMover(vServers, sMoverId, bOnVdm)) {
    oError.error(
        "CelerraSnapDevice(1018): -Error-: Unable to find mover from "
        "fileserver for array [%s]",
        m_sArrayIdentifier.c_str());
    return false;
  }

  // A path below "/root_vdm_N" names a file system of VDM N as the physical
  // mover sees it.
  std::string sPath = m_sPath;
  const std::string sVdmPrefix = kRootVdmPrefix;
  if (sPath.compare(0, sVdmPrefix.size(), sVdmPrefix) == 0) {
    // The prefix holds no "/" after its first character.
    const size_t nSecondSlash = sPath.find('/', 1);
    const std::string sNumber =
        nSecondSlash == std::string::npos
            ? sPath.substr(sVdmPrefix.size())
            : sPath.substr(sVdmPrefix.size(), nSecondSlash - sVdmPrefix.size());
    // Only a VDM number with nothing below it fails; any other text after
    // the prefix is a path like any other.
    if (nSecondSlash == std::string::npos && ConvertsCompletely(sNumber)) {
      oError.error("CelerraSnapDevice(1048): -Error-: Invalid mount path [%s]",
                   m_sPath.c_str());
      return false;
    }
    if (nSecondSlash != std::string::npos && ConvertsCompletely(sNumber)) {
      sMoverId = sNumber;
      bOnVdm = true;
      sPath = sPath.substr(nSecondSlash);
    }
  }

  // The mount point: the path itself or the nearest directory above it.
  CelerraMountPointsInfo_t oMountPoint;
  bool bFound = false;
  while (!bFound && !sPath.empty()) {
    oMountPoint.clear();
    if (oClient.GetMountPointInfo(oMountPoint, sMoverId, sPath, bOnVdm)) {
      bFound = true;
    } else {
      const size_t nSlash = sPath.rfind('/');
      sPath =
          nSlash == std::string::npos ? std::string() : sPath.substr(0, nSlash);
      oError.error(
          "CelerraSnapDevice(1041): -Error-: Unable to get Mnt Point from file "
          "server. Trimming path [%s] and continuing",
          sPath.c_str());
    }
  }
  if (!bFound) {
    oError.error("CelerraSnapDevice(1048): -Error-: Invalid mount path [%s]",
                 m_sPath.c_str());
    return false;
  }

  m_oStorageResource.sPFSId = oMountPoint.sPFSId;
  std::string sSaveVolume;
  if (!oClient.GetPFSInfo(m_oStorageResource.sPFSId,
                          m_oStorageResource.eStorageType,
                          m_oStorageResource.sStorageExtra, sSaveVolume,
                          m_sFSName, m_sVdmId, m_bIsVdm)) {
    oError.error(
        "CelerraSnapDevice(1054): -Error-: Unable to get PFS info for FS [%s]",
        m_sFSName.c_str());
    return false;
  }

  m_sMountPath = oMountPoint.sMountPath;
  m_sMoverMountPath = m_sMountPath;
  if (bOnVdm) m_sMoverMountPath = sVdmPrefix + sMoverId + m_sMountPath;

  // The source identifier names the file system path as the physical mover
  // sees it.
  _CelerraSnapDeviceIdentifier oIdentifier;
  CelerraUtils::ParseDeviceIdentifier(m_sSnapSourceDevice, oIdentifier);
  oIdentifier.sFSPath = m_sMoverMountPath;
  const std::string sNewSource =
      CelerraUtils::FormDeviceIdentifider(oIdentifier);
  if (sNewSource.empty()) {
    // An identifier without vendor cannot be written again; replacing it by
    // the empty text would leave the record without its source device and
    // every later operation without a device. It is kept as it is.
    EvDebug().DebugLvl(kPopulateTag, -1, JobId(),
                       "Unable to form the snap source device name from [%s]; "
                       "keeping it",
                       m_sSnapSourceDevice.c_str());
  } else {
    EvDebug().DebugLvl(kPopulateTag, 0, JobId(),
                       "Updating the snap source device name as:[%s] from [%s]",
                       sNewSource.c_str(), m_sSnapSourceDevice.c_str());
    m_sSnapSourceDevice = sNewSource;
    if (m_pSnapInfo != nullptr) {
      m_pSnapInfo->SetSourceDevice(m_sSnapSourceDevice.c_str());
    }
  }

  EvDebug().DebugLvl(kPopulateTag, 0, JobId(),
                     "Got PFSId [%s] sSavVol [%s] for FS [%s] on controlhost "
                     "[%s]",
                     m_oStorageResource.sPFSId.c_str(),
                     sSaveVolume.empty() ? "Empty" : sSaveVolume.c_str(),
                     m_sFSName.c_str(), m_oArrayCredentials.sHostName.c_str());
  return true;
}

bool CelerraSnapDeviceNAS::FindMover(
    const std::vector<CelerraCifsServer_t>& vServers, std::string& sMoverId,
    bool& bOnVdm) {
  std::vector<std::string> vAddresses = ResolveAll(m_sArrayIdentifier);
  if (vAddresses.empty() && m_sTargetHostName != m_sArrayIdentifier) {
    // The array management entry's id need not be a host name; the device
    // names its file server too.
    EvDebug().DebugLvl(kPopulateTag, 1, JobId(),
                       "No address for array [%s]; using the file server "
                       "name [%s] of the device",
                       m_sArrayIdentifier.c_str(), m_sTargetHostName.c_str());
    vAddresses = ResolveAll(m_sTargetHostName);
  }
  for (const std::string& sAddress : vAddresses) {
    for (const CelerraCifsServer_t& oServer : vServers) {
      if (oServer.sInterfaces.find(sAddress) != std::string::npos) {
        sMoverId = oServer.sMoverId;
        bOnVdm = oServer.sIsVdm == "true";
        EvDebug().debugLvl(0, "Found Mover id [%s] for Array ip [%s]",
                           sMoverId.c_str(), sAddress.c_str());
        return true;
      }
    }
  }
  return false;
}

std::string CelerraSnapDeviceNAS::RelativePath() const {
  auto Below = [this](const std::string& sMountPoint) {
    return m_sPath.size() > sMountPoint.size() &&
           m_sPath.compare(0, sMountPoint.size(), sMountPoint) == 0 &&
           m_sPath[sMountPoint.size()] == '/';
  };
  if (Below(m_sMoverMountPath)) return m_sPath.substr(m_sMoverMountPath.size());
  if (!m_sMountPath.empty() && m_sMountPath != "/" && Below(m_sMountPath)) {
    return m_sPath.substr(m_sMountPath.size());
  }
  if (m_sPath.size() > m_sMoverMountPath.size()) {
    return m_sPath.substr(m_sMoverMountPath.size());
  }
  return std::string();
}

bool CelerraSnapDeviceNAS::FormSnapDevice(const std::string& sSharePath) {
  // Exposure is always NFS (m_eExposeType 2).
  m_oSnapDeviceIdentifier.sType = "nfs";
  // The clone still reaches the same directory, however the path names
  // the mount point.
  const std::string sRelative = RelativePath();
  m_oSnapDeviceIdentifier.sPath = "/" + m_sChkptName + sRelative;
  m_oSnapDeviceIdentifier.sLunUUID =
      m_bGUIMount ? sSharePath + sRelative : sSharePath;
  m_oSnapDeviceIdentifier.sExportPath = sSharePath;
  m_oSnapDeviceIdentifier.sFSPath = "/" + m_sChkptName;
  m_oSnapDeviceIdentifier.sVendor = "celerra";
  m_oSnapDeviceIdentifier.sTargetHostName = m_sTargetHostName;
  m_oSnapDeviceIdentifier.sKemType = m_bIsVMware ? "vmware" : "native_celerra";
  return true;
}
