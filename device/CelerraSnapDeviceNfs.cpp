// SPDX-License-Identifier: Apache-2.0
#include "device/CelerraSnapDeviceNfs.h"

#include <string>
#include <vector>

#include "device/CelerraStatusLog.h"
#include "host/EvDebug.h"

namespace {

const char kDetermineTag[] = "CelerraSnapDeviceNfs::DetermineFromDevice";
const char kPopulateTag[] = "CelerraSnapDeviceNfs::PopulateDetails";

// The path without its last "/" and what follows; "" when it has none.
std::string CutAtLastSlash(const std::string& sPath) {
  size_t nSlash = sPath.rfind('/');
  return nSlash == std::string::npos ? std::string() : sPath.substr(0, nSlash);
}

}  // namespace

bool CelerraSnapDeviceNfs::DetermineFromDevice() {
  EvDebug().DebugLvl(kDetermineTag, 0, JobId(), "%s", "Device belongs to NFS.");
  _CelerraSnapDeviceIdentifier oIdentifier;
  CelerraUtils::ParseDeviceIdentifier(m_sSnapSourceDevice, oIdentifier);
  if (oIdentifier.sTargetHostName.empty() || oIdentifier.sLunUUID.empty()) {
    EvDebug().DebugLvl(kDetermineTag, -1, JobId(), "%s",
                       "targethostname or lunuuid info is empty");
    return false;
  }
  m_sTargetHostName = oIdentifier.sTargetHostName;
  m_sArrayIdentifier = m_sTargetHostName;
  m_sShareName = oIdentifier.sLunUUID;
  return true;
}

bool CelerraSnapDeviceNfs::PopulateDetails(ManageCelerra& oClient) {
  const char* pszControlHost = m_oArrayCredentials.sHostName.c_str();
  try {
    // The export may be a directory below the exported path: shorten the
    // path until the file server knows the export. "/" is never asked.
    std::string sPath = m_sShareName;
    bool bFound = false;
    while (!bFound && sPath.size() > 1) {
      bool bOnVdm = false;
      std::vector<std::string> vAccessHosts, vRWHosts, vRootHosts;
      if (oClient.GetNFSInfo(sPath, m_oStorageResource.sPFSId, bOnVdm,
                             m_sMoverId, vAccessHosts, vRWHosts, vRootHosts)) {
        bFound = true;
      } else {
        sPath = CutAtLastSlash(sPath);
        EvDebug().DebugLvl(
            kPopulateTag, -1, JobId(),
            "Unable to get nfs info. Trimming share path  [%s] and continuing",
            sPath.c_str());
      }
    }

    if (!bFound) {
      EvDebug().DebugLvl(kPopulateTag, -1, JobId(),
                         "Unable to get nfs info for share [%s]",
                         m_sShareName.c_str());
    } else {
      EvDebug().DebugLvl(
          kPopulateTag, 0, JobId(),
          "Got PFSId [%s] MoverId [%s] for sharename [%s] on controlhost [%s]",
          m_oStorageResource.sPFSId.c_str(), m_sMoverId.c_str(),
          m_sShareName.c_str(), pszControlHost);
      // Private sinks for the values not needed here: the client's static
      // sinks are shared by every thread of the process.
      std::string sSaveVolume, sFSName, sVdmId;
      bool bIsVdm = false;
      if (oClient.GetPFSInfo(m_oStorageResource.sPFSId,
                             m_oStorageResource.eStorageType,
                             m_oStorageResource.sStorageExtra, sSaveVolume,
                             sFSName, sVdmId, bIsVdm)) {
        EvDebug().DebugLvl(kPopulateTag, 0, JobId(),
                           "Got PFSId [%s] MoverId [%s] sSavVol [%s] for "
                           "sharename [%s] on controlhost [%s]",
                           m_oStorageResource.sPFSId.c_str(),
                           m_sMoverId.c_str(),
                           sSaveVolume.empty() ? "Empty" : sSaveVolume.c_str(),
                           m_sShareName.c_str(), pszControlHost);
        return true;
      }
      EvDebug oLog;
      oLog.setJobId(JobId());
      oLog.error(
          "CelerraSnapDevice(925): -Error-: Unable to get PFS info for FS "
          "[%s],share [%s]",
          m_oStorageResource.sPFSId.c_str(), m_sShareName.c_str());
    }
  } catch (...) {
    // Reported below like any other failure.
  }

  try {
    EvDebug oLog;
    oLog.setJobId(JobId());
    oLog.error(
        "CelerraSnapDevice(935): -Error-: Unable to get filesystem information "
        "for share [%s] from control host [%s]",
        m_sShareName.c_str(), pszControlHost);
    LogCelerraStatus(kPopulateTag, JobId(), oClient.GetLastError());
  } catch (...) {
  }
  return false;
}

bool CelerraSnapDeviceNfs::FormSnapDevice(const std::string& sSharePath) {
  m_oSnapDeviceIdentifier.sType = "nfs";
  m_oSnapDeviceIdentifier.sLunUUID = sSharePath;
  m_oSnapDeviceIdentifier.sVendor = "celerra";
  m_oSnapDeviceIdentifier.sTargetHostName = m_sTargetHostName;
  m_oSnapDeviceIdentifier.sKemType = m_bIsVMware ? "vmware" : "native_celerra";
  return true;
}
