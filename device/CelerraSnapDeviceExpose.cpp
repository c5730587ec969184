// Exposure of a snapshot over NFS, the steps every exposing kind shares: the
// writable checkpoint made for a mount and its mount metadata, the export of
// that checkpoint to the mount hosts and its removal, the mount request
// source, and the deletion of the writable checkpoint at the end of an
// unmap. The kinds' own steps are in CelerraSnapDeviceExposeKinds.cpp.
#include <string>
#include <vector>

#include "device/CelerraSnapDevice.h"
#include "host/EvDebug.h"

namespace {

// ExposeChkPtNFS logs under the NFS kind's tag whatever the kind.
const char kExposeTag[] = "CelerraSnapDeviceNfs::ExposeChkPt";
const char kUnExposeTag[] = "CelerraSnapDeviceNfs::UnExposeChkPt";
const char kGUIMountTag[] = "CelerraSnapDevice::GetGUIMountShareName";

// True when the list names at least one host. The file server drops empty
// entries, and an export without any access host is open to every host.
bool NamesAHost(const std::vector<std::string>& vHosts) {
  for (const std::string& sHost : vHosts) {
    if (!sHost.empty()) return true;
  }
  return false;
}

}  // namespace

bool CelerraSnapDevice::CreateRWChkPtForMount(ManageCelerra& oClient,
                                              const char* pszTag) {
  if (m_pSnapInfo == nullptr) {
    EvDebug().DebugLvl(pszTag, -1, JobId(), "%s",
                       "Snap info object is not initialized");
    return false;
  }
  if (!m_sBaselineChkptId.empty()) {
    // The snapshot is itself a writable checkpoint: it is exported as it is.
    m_sRWChkptName = m_sChkptName;
    return true;
  }
  if (!oClient.CreateRWChkPt(m_oStorageResource.sPFSId,
                             m_oStorageResource.eStorageType,
                             m_oStorageResource.sStorageExtra, m_sRWChkptName,
                             false, m_sChkptId, m_sRWChkptId)) {
    return false;
  }
  try {
    const std::string sText = m_sRWChkptName + "|" + m_sRWChkptId;
    const std::string sLine = "Setting Metadata [" + sText + "] for device [" +
                              m_sSnapSourceDevice + "]";
    m_pSnapInfo->Log(1, pszTag, "%s", sLine.c_str());
    m_pSnapInfo->SetMetaData(SM_MDT_SNAP_MOUNT, sText.c_str());
  } catch (...) {
    // Without its mount metadata no unmap would ever find the checkpoint:
    // take it back so that the file server matches the record.
    oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false);
    return false;
  }
  return true;
}

bool CelerraSnapDevice::ExposeChkPtNFS(ManageCelerra& oClient,
                                       const std::string& sMountHost,
                                       const std::string& sSourcePath,
                                       const std::string& sMoverId) {
  if (m_pSnapInfo == nullptr) {
    EvDebug().DebugLvl(kExposeTag, -1, JobId(), "%s",
                       "Snap info object is not initialized");
    return false;
  }
  std::string sHost = sMountHost;
  if (m_bIsVMware) {
    if (m_sESXName.empty()) {
      m_pSnapInfo->Log(2, kExposeTag, "%s",
                       "Host Identifier is empty for VMWare source");
      return false;
    }
    sHost = m_sESXName;
  }

  if (!Celerra_GetSnapDeviceNameWithManageCelerra(
          oClient, sSourcePath, m_oStorageResource.sPFSId, m_sRWChkptId,
          m_sRWChkptName, m_sRWChkptSharePath)) {
    m_pSnapInfo->Log(1, kExposeTag,
                     "Unable to get the share path for RW checkpoint[%s]",
                     m_sRWChkptId.c_str());
    return false;
  }

  std::vector<std::string> vAccessHosts, vRWHosts, vRootHosts;
  bool bHostsFound = false;
  if (m_pOSUtil != nullptr) {
    CelerraUtils oUtils(m_pOSUtil, m_bIsVMware);
    bHostsFound = oUtils.GetMountHostIPsForNFSShare(
        vAccessHosts, vRWHosts, vRootHosts, m_vVMKernelIPs, sHost);
  }
  if (!bHostsFound) {
    m_pSnapInfo->Log(2, kExposeTag, "%s",
                     "Warning! Unable to get the mount hosts for the NFS share "
                     "still goign ahead with the mount");
  }
  if (!NamesAHost(vAccessHosts)) {
    m_pSnapInfo->Log(2, kExposeTag,
                     "Error: No host to give access to the NFS share [%s] of "
                     "RW checkpoint[%s]: not exporting it to every host",
                     m_sRWChkptSharePath.c_str(), m_sRWChkptName.c_str());
    return false;
  }

  if (!oClient.CreateNFSShare(m_sRWChkptSharePath, sMoverId, false,
                              vAccessHosts, vRWHosts, vRootHosts)) {
    return false;
  }
  try {
    m_pSnapInfo->Log(1, kExposeTag, "%s", "Successfully created NFS share.");
    if (!FormSnapDevice(m_sRWChkptSharePath)) {
      m_pSnapInfo->Log(2, kExposeTag, "%s", "Failed to form snap clone device");
      return false;
    }
  } catch (...) {
    // No snap clone device will be recorded for this export, and an unmap
    // goes by that device: remove the export again.
    oClient.DeleteNFSShare(m_sRWChkptSharePath, sMoverId);
    return false;
  }
  return true;
}

bool CelerraSnapDevice::UnExposeChkPtNFS(ManageCelerra& oClient,
                                         const std::string& sSourcePath,
                                         const std::string& sMoverId) {
  if (m_pSnapInfo == nullptr) {
    EvDebug().DebugLvl(kUnExposeTag, -1, JobId(), "%s",
                       "Snap info object is not initialized");
    return false;
  }
  m_pSnapInfo->Log(1, kUnExposeTag,
                   "Deleting NFS share for chkpt:[%s], chkptid [%s]",
                   m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
  if (m_sBaselineChkptId.empty() && !m_bMountInfoLoaded) {
    m_pSnapInfo->Log(
        2, kUnExposeTag, "%s",
        "Looks like mount was not successful. Marking as unmap is successful");
    return true;
  }
  if (!Celerra_GetSnapDeviceNameWithManageCelerra(
          oClient, sSourcePath, m_oStorageResource.sPFSId, m_sRWChkptId,
          m_sRWChkptName, m_sRWChkptSharePath)) {
    m_pSnapInfo->Log(
        2, kUnExposeTag,
        "Error: Unable to get the share path for RW checkpoint[%s]",
        m_sRWChkptId.c_str());
    return false;
  }
  if (!oClient.DeleteNFSShare(m_sRWChkptSharePath, sMoverId)) return false;
  m_pSnapInfo->Log(1, kUnExposeTag, "%s", "Successfully deleted the NFS share");
  return true;
}

bool CelerraSnapDevice::GetGUIMountShareName(bool& bFlag,
                                             std::string& sShareName) {
  if (m_pSnapInfo == nullptr) {
    EvDebug().DebugLvl(kGUIMountTag, -1, JobId(), "%s",
                       "Snap info object is not initialized");
    return false;
  }
  int nSource = 0;
  if (m_pSnapInfo->GetIntValue(ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE, &nSource) ==
      1) {
    const std::string sText =
        "Error: Failed to determine mount request source. Device:[" +
        m_sSnapSourceDevice + "]";
    m_pSnapInfo->Log(2, kGUIMountTag, "%s", sText.c_str());
    SetJPR(JPR_MOUNT_PATH_FAILED, sText);
    return false;
  }
  bFlag = nSource == 2;
  sShareName.clear();
  return true;
}

void CelerraSnapDevice::DeleteRWChkPtAfterUnmount(ManageCelerra& oClient,
                                                  const char* pszTag) {
  if (m_pSnapInfo == nullptr) return;
  if (m_sRWChkptId.empty()) {
    // No id means no writable checkpoint was recorded: a DeleteChkPt with
    // an empty id would only be refused by the file server.
    m_pSnapInfo->Log(1, pszTag, "No RW checkpoint to delete for chkpt:[%s]",
                     m_sChkptName.c_str());
    return;
  }
  if (!oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false)) {
    m_pSnapInfo->Log(2, pszTag, "Error:Failed to delete RW checkpoint:[%s]",
                     m_sRWChkptName.c_str());
  }
}
