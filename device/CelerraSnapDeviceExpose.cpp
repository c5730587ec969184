// Exposure of a snapshot over NFS, the steps every exposing kind shares: the
// writable checkpoint made for a mount and its mount metadata, the export of
// that checkpoint to the mount hosts and its removal, the mount request
// source, and the deletion of the writable checkpoint at the end of an
// unmap. The kinds' own steps are in CelerraSnapDeviceExposeKinds.cpp.
#include <list>
#include <string>
#include <vector>

#include "device/CelerraSnapDevice.h"
#include "device/ZkSystemClock.h"
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

// Appends to vTo each non-empty host of vFrom it does not name yet, and
// gives vFrom the result. True when a host was added.
bool AddMissing(std::vector<std::string>& vTo,
                std::vector<std::string>& vFrom) {
  bool bAdded = false;
  for (const std::string& sHost : vFrom) {
    if (sHost.empty()) continue;
    bool bNamed = false;
    for (const std::string& sHad : vTo) bNamed |= sHad == sHost;
    if (!bNamed) {
      vTo.push_back(sHost);
      bAdded = true;
    }
  }
  vFrom = vTo;
  return bAdded;
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
  // Stored as "rwname|rwid": a name holding "|" could never be read back,
  // so nothing is made for it.
  if (m_sRWChkptName.find('|') != std::string::npos) {
    const std::string sText =
        "Unable to store metadata type[SM_MDT_SNAP_MOUNT] "
        "for device [" +
        m_sSnapSourceDevice + "]: the RW checkpoint name [" + m_sRWChkptName +
        "] holds the separator \"|\"";
    m_pSnapInfo->Log(2, pszTag, "%s", sText.c_str());
    SetJPR(JPR_MAP_FAILED, sText);
    return false;
  }
  if (!m_sKnownRWChkptId.empty()) {
    m_sRWChkptId = m_sKnownRWChkptId;
    m_bRWChkptAdopted = true;
    m_pSnapInfo->Log(1, pszTag,
                     "Using RW chkpt [%s] id [%s] made for another device of "
                     "this request",
                     m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
  } else if (oClient.CreateRWChkPt(
                 m_oStorageResource.sPFSId, m_oStorageResource.eStorageType,
                 m_oStorageResource.sStorageExtra, m_sRWChkptName, false,
                 m_sChkptId, m_sRWChkptId)) {
    m_bMadeRWChkpt = true;
  } else {
    // Another record of this snapshot made it, or a map whose reply was
    // lost: the file server allows one writable checkpoint per snapshot.
    const CelerraError oCause = oClient.GetLastError();
    bool bPresent = false;
    CelerraChkPtInfo oFound;
    auto fnMade = [&](const CelerraChkPtInfo& oChkpt) {
      return oChkpt.sChkptName == m_sRWChkptName &&
             oChkpt.sBaselineChkptId == m_sChkptId && !oChkpt.sChkptId.empty();
    };
    if (!FindChkpt(oClient, fnMade, &bPresent, &oFound) || !bPresent) {
      KeepRefusal(oCause);
      return false;
    }
    m_sRWChkptId = oFound.sChkptId;
    m_bRWChkptAdopted = true;
    m_pSnapInfo->Log(1, pszTag,
                     "RW chkpt [%s] id [%s] of chkpt [%s] is already on the "
                     "file server: using it",
                     m_sRWChkptName.c_str(), m_sRWChkptId.c_str(),
                     m_sChkptName.c_str());
  }
  if (m_sRWChkptId.find('|') != std::string::npos) {
    const std::string sText =
        "Unable to store metadata type[SM_MDT_SNAP_MOUNT] "
        "for device [" +
        m_sSnapSourceDevice + "]: the RW checkpoint id [" + m_sRWChkptId +
        "] holds the separator \"|\"";
    m_pSnapInfo->Log(2, pszTag, "%s", sText.c_str());
    SetJPR(JPR_MAP_FAILED, sText);
    if (m_bMadeRWChkpt) {
      oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false);
      m_bMadeRWChkpt = false;
    }
    return false;
  }
  try {
    const std::string sText = m_sRWChkptName + "|" + m_sRWChkptId;
    const std::string sLine = "Setting Metadata [" + sText + "] for device [" +
                              m_sSnapSourceDevice + "]";
    m_pSnapInfo->Log(1, pszTag, "%s", sLine.c_str());
    m_pSnapInfo->SetMetaData(SM_MDT_SNAP_MOUNT, sText.c_str());
    m_bWroteMountInfo = true;
  } catch (...) {
    // Without its mount metadata no unmap would ever find the checkpoint:
    // take it back so that the file server matches the record.
    if (m_bMadeRWChkpt) {
      oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false);
      m_bMadeRWChkpt = false;
    }
    return false;
  }
  return true;
}

bool CelerraSnapDevice::MountHostLists(const std::string& sMountHost,
                                       std::vector<std::string>& vAccessHosts,
                                       std::vector<std::string>& vRWHosts,
                                       std::vector<std::string>& vRootHosts) {
  if (m_pOSUtil == nullptr) return false;
  CelerraUtils oUtils(m_pOSUtil, m_bIsVMware);
  return oUtils.GetMountHostIPsForNFSShare(vAccessHosts, vRWHosts, vRootHosts,
                                           m_vVMKernelIPs, sMountHost);
}

bool CelerraSnapDevice::CloneIsOf(const std::string& sRWChkptName) {
  std::string sSnapDevice;
  if (!GetSnapData(CELERRA_SNAPINFO_SNAP_DEVICE, sSnapDevice)) return false;
  if (sSnapDevice.empty()) return true;
  _CelerraSnapDeviceIdentifier oClone;
  CelerraUtils::ParseDeviceIdentifier(sSnapDevice, oClone);
  const std::string& sExport =
      oClone.sExportPath.empty() ? oClone.sLunUUID : oClone.sExportPath;
  return sExport == "/" + sRWChkptName;
}

bool CelerraSnapDevice::ExportHost(const std::string& sMountHost,
                                   std::string* psHost) {
  if (!m_bIsVMware) {
    *psHost = sMountHost;
    return true;
  }
  if (m_sESXName.empty()) {
    m_pSnapInfo->Log(2, kExposeTag, "%s",
                     "Host Identifier is empty for VMWare source");
    return false;
  }
  *psHost = m_sESXName;
  return true;
}

bool CelerraSnapDevice::CheckMountHosts(const std::string& sMountHost) {
  if (m_pSnapInfo == nullptr) {
    EvDebug().DebugLvl(kExposeTag, -1, JobId(), "%s",
                       "Snap info object is not initialized");
    return false;
  }
  std::string sHost;
  if (!ExportHost(sMountHost, &sHost)) {
    SetJPR(JPR_MAP_FAILED, "Host Identifier is empty for VMWare source");
    return false;
  }
  std::vector<std::string> vAccessHosts, vRWHosts, vRootHosts;
  MountHostLists(sHost, vAccessHosts, vRWHosts, vRootHosts);
  if (NamesAHost(vAccessHosts)) return true;
  const std::string sText =
      "Error: No host to give access to the NFS share of RW checkpoint[" +
      m_sRWChkptName + "]: mount host [" + sHost +
      "] does not resolve and sCelerraCommaSeparatedAccessHosts names no "
      "host; not exporting it to every host";
  m_pSnapInfo->Log(2, kExposeTag, "%s", sText.c_str());
  SetJPR(JPR_MAP_FAILED, sText);
  return false;
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
  std::string sHost;
  if (!ExportHost(sMountHost, &sHost)) return false;

  if (!Celerra_GetSnapDeviceNameWithManageCelerra(
          oClient, sSourcePath, m_oStorageResource.sPFSId, m_sRWChkptId,
          m_sRWChkptName, m_sRWChkptSharePath)) {
    m_pSnapInfo->Log(1, kExposeTag,
                     "Unable to get the share path for RW checkpoint[%s]",
                     m_sRWChkptId.c_str());
    return false;
  }

  std::vector<std::string> vAccessHosts, vRWHosts, vRootHosts;
  if (!MountHostLists(sHost, vAccessHosts, vRWHosts, vRootHosts)) {
    m_pSnapInfo->Log(2, kExposeTag, "%s",
                     "Warning! Unable to get the mount hosts for the NFS share "
                     "still goign ahead with the mount");
  }
  if (!NamesAHost(vAccessHosts)) {
    const std::string sText =
        "Error: No host to give access to the NFS share [" +
        m_sRWChkptSharePath + "] of RW checkpoint[" + m_sRWChkptName +
        "]: not exporting it to every host";
    m_pSnapInfo->Log(2, kExposeTag, "%s", sText.c_str());
    SetJPR(JPR_MAP_FAILED, sText);
    return false;
  }

  if (!ExportToHosts(oClient, sMoverId, vAccessHosts, vRWHosts, vRootHosts)) {
    return false;
  }
  try {
    if (!FormSnapDevice(m_sRWChkptSharePath)) {
      m_pSnapInfo->Log(2, kExposeTag, "%s", "Failed to form snap clone device");
      return false;
    }
  } catch (...) {
    // No snap clone device will be recorded for this export, and an unmap
    // goes by that device: remove the export again.
    if (m_bMadeExport) {
      oClient.DeleteNFSShare(m_sRWChkptSharePath, sMoverId);
      m_bMadeExport = false;
    }
    return false;
  }
  return true;
}

bool CelerraSnapDevice::ExportToHosts(ManageCelerra& oClient,
                                      const std::string& sMoverId,
                                      std::vector<std::string>& vAccessHosts,
                                      std::vector<std::string>& vRWHosts,
                                      std::vector<std::string>& vRootHosts) {
  if (m_bRWChkptAdopted) {
    // The writable checkpoint is shared: so is its export. It names the
    // hosts of every record that mapped it.
    std::vector<std::string> vAccess, vRW, vRoot;
    std::string sPFSId, sMover;
    bool bOnVdm = false;
    if (oClient.GetNFSInfo(m_sRWChkptSharePath, sPFSId, bOnVdm, sMover, vAccess,
                           vRW, vRoot)) {
      bool bAdded = AddMissing(vAccess, vAccessHosts);
      bAdded = AddMissing(vRW, vRWHosts) || bAdded;
      bAdded = AddMissing(vRoot, vRootHosts) || bAdded;
      if (!bAdded) {
        m_pSnapInfo->Log(1, kExposeTag,
                         "NFS share [%s] of RW chkpt [%s] already exports it "
                         "to these hosts",
                         m_sRWChkptSharePath.c_str(), m_sRWChkptName.c_str());
        return true;
      }
      if (!oClient.CreateNFSShare(m_sRWChkptSharePath, sMoverId, false, vAccess,
                                  vRW, vRoot)) {
        return false;
      }
      m_pSnapInfo->Log(1, kExposeTag,
                       "Added the mount hosts to NFS share [%s] of RW chkpt "
                       "[%s]",
                       m_sRWChkptSharePath.c_str(), m_sRWChkptName.c_str());
      return true;
    }
    ForgetHandledRefusal(oClient);  // not exported yet
  }
  if (!oClient.CreateNFSShare(m_sRWChkptSharePath, sMoverId, false,
                              vAccessHosts, vRWHosts, vRootHosts)) {
    // The export may have been made although its reply was lost.
    const CelerraError oCause = oClient.GetLastError();
    std::vector<std::string> vAccess, vRW, vRoot;
    std::string sPFSId, sMover;
    bool bOnVdm = false;
    if (!oClient.GetNFSInfo(m_sRWChkptSharePath, sPFSId, bOnVdm, sMover,
                            vAccess, vRW, vRoot) ||
        AddMissing(vAccess, vAccessHosts)) {
      KeepRefusal(oCause);
      return false;
    }
    ForgetHandledRefusal(oClient);
    m_pSnapInfo->Log(1, kExposeTag,
                     "NFS share [%s] is on the file server although its "
                     "creation was not confirmed",
                     m_sRWChkptSharePath.c_str());
  }
  m_bMadeExport = true;
  m_sExportMoverId = sMoverId;
  m_pSnapInfo->Log(1, kExposeTag, "%s", "Successfully created NFS share.");
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
    // A writable checkpoint that is gone (by id and by name) took its
    // export with it.
    const CelerraError oCause = oClient.GetLastError();
    bool bPresent = true;
    auto fnOurs = [&](const CelerraChkPtInfo& oChkpt) {
      return oChkpt.sChkptId == m_sRWChkptId ||
             oChkpt.sChkptName == m_sRWChkptName;
    };
    // A snapshot with a baseline was exported by the host's snap name and
    // is looked up here by its stored name and id: that it is not found
    // does not say its export is gone.
    if (m_sBaselineChkptId.empty() && CloneIsOf(m_sRWChkptName) &&
        FindChkpt(oClient, fnOurs, &bPresent) && !bPresent) {
      m_bRWChkptGone = true;
      m_pSnapInfo->Log(1, kUnExposeTag,
                       "RW chkpt [%s] id [%s] is no longer on the file "
                       "server, nor its NFS share: nothing to remove",
                       m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
      return true;
    }
    KeepRefusal(oCause);
    m_pSnapInfo->Log(
        2, kUnExposeTag,
        "Error: Unable to get the share path for RW checkpoint[%s]",
        m_sRWChkptId.c_str());
    return false;
  }
  if (!oClient.DeleteNFSShare(m_sRWChkptSharePath, sMoverId)) {
    const CelerraError oCause = oClient.GetLastError();
    std::vector<std::string> vAccess, vRW, vRoot;
    std::string sPFSId, sMover;
    bool bOnVdm = false;
    if (oClient.GetNFSInfo(m_sRWChkptSharePath, sPFSId, bOnVdm, sMover, vAccess,
                           vRW, vRoot)) {
      KeepRefusal(oCause);
      return false;
    }
    ForgetHandledRefusal(oClient);
    m_pSnapInfo->Log(1, kUnExposeTag,
                     "NFS share [%s] is no longer on the file server",
                     m_sRWChkptSharePath.c_str());
    return true;
  }
  m_bRemovedExport = true;
  m_sExportMoverId = sMoverId;
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

bool CelerraSnapDevice::DeleteRWChkPtAfterUnmount(ManageCelerra& oClient,
                                                  const char* pszTag) {
  if (m_pSnapInfo == nullptr) return false;
  if (m_bRWChkptGone) return true;
  if (m_sRWChkptId.empty()) {
    // No id means no writable checkpoint was recorded: a DeleteChkPt with
    // an empty id would only be refused by the file server.
    m_pSnapInfo->Log(1, pszTag, "No RW checkpoint to delete for chkpt:[%s]",
                     m_sChkptName.c_str());
    return true;
  }
  if (oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false)) {
    return true;
  }
  const CelerraError oCause = oClient.GetLastError();
  bool bPresent = true;
  auto fnOurs = [&](const CelerraChkPtInfo& oChkpt) {
    return oChkpt.sChkptId == m_sRWChkptId;
  };
  if (FindChkpt(oClient, fnOurs, &bPresent) && !bPresent) {
    m_pSnapInfo->Log(1, pszTag,
                     "RW checkpoint [%s] id [%s] is no longer on the file "
                     "server",
                     m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
    return true;
  }
  KeepRefusal(oCause);
  m_pSnapInfo->Log(2, pszTag, "Error:Failed to delete RW checkpoint:[%s]",
                   m_sRWChkptName.c_str());
  if (m_bRemovedExport) {
    // The writable checkpoint stays mapped: so does its export.
    std::vector<std::string> vAccessHosts, vRWHosts, vRootHosts;
    MountHostLists(m_bIsVMware ? m_sESXName : ZkLocalHostName(), vAccessHosts,
                   vRWHosts, vRootHosts);
    if (NamesAHost(vAccessHosts) &&
        oClient.CreateNFSShare(m_sRWChkptSharePath, m_sExportMoverId, false,
                               vAccessHosts, vRWHosts, vRootHosts)) {
      m_pSnapInfo->Log(2, pszTag,
                       "Restored NFS share [%s] of RW checkpoint [%s], which "
                       "stays",
                       m_sRWChkptSharePath.c_str(), m_sRWChkptName.c_str());
    } else {
      m_pSnapInfo->Log(2, pszTag,
                       "Error: Unable to restore NFS share [%s] of RW "
                       "checkpoint [%s]",
                       m_sRWChkptSharePath.c_str(), m_sRWChkptName.c_str());
    }
  }
  return false;
}
