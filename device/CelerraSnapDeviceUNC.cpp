// SPDX-License-Identifier: Apache-2.0
#include "device/CelerraSnapDeviceUNC.h"

#include <string>

#include "host/EvDebug.h"

namespace {

const char kDetermineTag[] = "CelerraSnapDeviceUNC::DetermineFromDevice";
const char kPopulateTag[] = "CelerraSnapDeviceUNC::PopulateDetails";
const char kServerPrefix[] = "UNC-NT_";

}  // namespace

bool CelerraSnapDeviceUNC::DetermineFromDevice() {
  EvDebug().DebugLvl(kDetermineTag, 0, JobId(), "%s",
                     "Device belongs to UNC/CIFS.");
  _CelerraSnapDeviceIdentifier oIdentifier;
  CelerraUtils::ParseDeviceIdentifier(m_sSnapSourceDevice, oIdentifier);
  const std::string& sPath = oIdentifier.sLunUUID;
  if (sPath.empty()) {
    EvDebug().DebugLvl(kDetermineTag, -1, JobId(), "%s",
                       "lunuuid info is empty");
    return false;
  }

  // UNC-NT_server\share\rest: the server ends at the first backslash after
  // the prefix, the share at the next one; the rest keeps its backslash.
  size_t nServerEnd = std::string::npos;
  size_t nShareEnd = std::string::npos;
  size_t nPrefix = sPath.find(kServerPrefix);
  if (nPrefix != std::string::npos) {
    size_t nServerStart = nPrefix + sizeof(kServerPrefix) - 1;
    nServerEnd = sPath.find('\\', nServerStart);
    m_sArrayIdentifier =
        sPath.substr(nServerStart, nServerEnd == std::string::npos
                                       ? std::string::npos
                                       : nServerEnd - nServerStart);
    m_sServerName = m_sArrayIdentifier;
  }
  if (nServerEnd != std::string::npos) {
    size_t nShareStart = nServerEnd + 1;
    nShareEnd = sPath.find('\\', nShareStart);
    m_sShareName = sPath.substr(nShareStart, nShareEnd == std::string::npos
                                                 ? std::string::npos
                                                 : nShareEnd - nShareStart);
  }
  if (nShareEnd != std::string::npos) m_sSharePath = sPath.substr(nShareEnd);

  if (m_sShareName.empty()) {
    EvDebug().DebugLvl(kDetermineTag, -1, JobId(),
                       "lunuuid is not a valid UNC path [%s]", sPath.c_str());
    return false;
  }
  return true;
}

bool CelerraSnapDeviceUNC::PopulateDetails(ManageCelerra& oClient) {
  try {
    bool bOnVdm = false;
    std::string sMoverId;
    std::string sSharePath;
    if (!oClient.GetCifsShareInfo(m_sShareName, m_oStorageResource.sPFSId,
                                  bOnVdm, sMoverId, sSharePath,
                                  m_vCifsServers)) {
      return false;
    }
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
                         m_oStorageResource.sPFSId.c_str(), sMoverId.c_str(),
                         sSaveVolume.empty() ? "Empty" : sSaveVolume.c_str(),
                         m_sShareName.c_str(),
                         m_oArrayCredentials.sHostName.c_str());
      return true;
    }
    EvDebug oLog;
    oLog.setJobId(JobId());
    oLog.error(
        "CelerraSnapDevice(875): -Error-: Unable to get PFS info for FS "
        "[%s],share [%s]",
        m_oStorageResource.sPFSId.c_str(), m_sShareName.c_str());
    return false;
  } catch (...) {
    return false;
  }
}
