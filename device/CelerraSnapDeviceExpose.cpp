// SPDX-License-Identifier: Apache-2.0
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
  CelerraMountWork& oWork = m_oMountWork;
  if (oWork.bKnownView) {
    m_sRWChkptId = oWork.sKnownRWChkptId;
    oWork.bRWChkptAdopted = true;
    m_pSnapInfo->Log(1, pszTag,
                     "Using RW chkpt [%s] id [%s] made for another device of "
                     "this request",
                     m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
  } else if (oClient.CreateRWChkPt(
                 m_oStorageResource.sPFSId, m_oStorageResource.eStorageType,
                 m_oStorageResource.sStorageExtra, m_sRWChkptName, false,
                 m_sChkptId, m_sRWChkptId)) {
    oWork.bMadeRWChkpt = true;
  } else {
    // Another record of this snapshot made it, or a map whose reply was
    // lost: the file server allows one writable checkpoint per snapshot.
    // Whether it may be shared is settled by its export (ExportToHosts).
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
    oWork.bRWChkptAdopted = true;
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
    if (oWork.bMadeRWChkpt) {
      oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false);
      oWork.bMadeRWChkpt = false;
    }
    return false;
  }
  if (oWork.bRWChkptAdopted) {
    // Written once its export is known to be this record's.
    oWork.bMountInfoPending = true;
    return true;
  }
  if (!WriteMountInfo(pszTag)) {
    // Without its mount metadata no unmap would ever find the checkpoint:
    // take it back so that the file server matches the record.
    oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false);
    oWork.bMadeRWChkpt = false;
    return false;
  }
  return true;
}

bool CelerraSnapDevice::WriteMountInfo(const char* pszTag) {
  CelerraMountWork& oWork = m_oMountWork;
  oWork.bMountInfoPending = false;
  try {
    oWork.bMountInfoBefore =
        ReadMountText(*m_pSnapInfo, &oWork.sMountInfoBefore);
    const std::string sText = m_sRWChkptName + "|" + m_sRWChkptId;
    const std::string sLine = "Setting Metadata [" + sText + "] for device [" +
                              m_sSnapSourceDevice + "]";
    m_pSnapInfo->Log(1, pszTag, "%s", sLine.c_str());
    m_pSnapInfo->SetMetaData(SM_MDT_SNAP_MOUNT, sText.c_str());
    oWork.bWroteMountInfo = true;
  } catch (...) {
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
  const bool bFound = oUtils.GetMountHostIPsForNFSShare(
      vAccessHosts, vRWHosts, vRootHosts, m_vVMKernelIPs, sMountHost);
  // An entry of blanks names no host: the export would be refused for it.
  CleanHostList(vAccessHosts);
  CleanHostList(vRWHosts);
  CleanHostList(vRootHosts);
  return bFound;
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
  CelerraMountWork& oWork = m_oMountWork;
  oWork.bHostLookupFailed =
      !MountHostLists(sHost, oWork.oHosts.vAccessHosts, oWork.oHosts.vRWHosts,
                      oWork.oHosts.vRootHosts);
  oWork.bHostsKnown = true;
  if (NamesAHost(oWork.oHosts.vAccessHosts)) return true;
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

  CelerraMountWork& oWork = m_oMountWork;
  if (!oWork.bHostsKnown) {
    oWork.bHostLookupFailed =
        !MountHostLists(sHost, oWork.oHosts.vAccessHosts, oWork.oHosts.vRWHosts,
                        oWork.oHosts.vRootHosts);
    oWork.bHostsKnown = true;
  }
  if (oWork.bHostLookupFailed) {
    m_pSnapInfo->Log(2, kExposeTag, "%s",
                     "Warning! Unable to get the mount hosts for the NFS share "
                     "still goign ahead with the mount");
  }
  if (!NamesAHost(oWork.oHosts.vAccessHosts)) {
    const std::string sText =
        "Error: No host to give access to the NFS share [" +
        m_sRWChkptSharePath + "] of RW checkpoint[" + m_sRWChkptName +
        "]: not exporting it to every host";
    m_pSnapInfo->Log(2, kExposeTag, "%s", sText.c_str());
    SetJPR(JPR_MAP_FAILED, sText);
    return false;
  }

  _CelerraExportHosts oHosts = oWork.oHosts;
  if (!ExportToHosts(oClient, sMoverId, oHosts)) return false;
  try {
    if (!FormSnapDevice(m_sRWChkptSharePath)) {
      m_pSnapInfo->Log(2, kExposeTag, "%s", "Failed to form snap clone device");
      return false;
    }
  } catch (...) {
    // No snap clone device will be recorded for this export, and an unmap
    // goes by that device: remove the export again.
    if (oWork.bMadeExport) {
      oClient.DeleteNFSShare(m_sRWChkptSharePath, sMoverId);
      oWork.bMadeExport = false;
    }
    return false;
  }
  return true;
}

bool CelerraSnapDevice::QueryExport(ManageCelerra& oClient,
                                    const std::string& sPath, bool* pbExists,
                                    _CelerraViewExport* pExport) {
  _CelerraViewExport oFound;
  std::string sPFSId;
  bool bOnVdm = false;
  if (oClient.GetNFSInfo(sPath, sPFSId, bOnVdm, oFound.sMoverId,
                         oFound.oHosts.vAccessHosts, oFound.oHosts.vRWHosts,
                         oFound.oHosts.vRootHosts)) {
    oFound.sSharePath = sPath;
    *pExport = oFound;
    *pbExists = true;
    return true;
  }
  if (oClient.GetLastError().sMessageCode == kCelerraNoExportCode) {
    *pbExists = false;
    return true;
  }
  return false;
}

void CelerraSnapDevice::RefuseSharedView(const _CelerraViewExport& oTheirs,
                                         const _CelerraViewExport& oOurs) {
  const std::string sText =
      "Error: RW chkpt [" + m_sRWChkptName + "] id [" + m_sRWChkptId +
      "] of chkpt [" + m_sChkptName + "] is in the way: its NFS share [" +
      oTheirs.sSharePath + "] on data mover [" + oTheirs.sMoverId +
      "] is exported to " + DescribeHosts(oTheirs.oHosts) +
      ", while this device needs [" + oOurs.sSharePath + "] on data mover [" +
      oOurs.sMoverId + "] exported to " + DescribeHosts(oOurs.oHosts) +
      ". The file server allows one writable view (RW checkpoint) per "
      "snapshot: unmap the device that mapped it first, then map this one";
  m_pSnapInfo->Log(2, kExposeTag, "%s", sText.c_str());
  SetJPR(JPR_MAP_FAILED, sText);
}

bool CelerraSnapDevice::ExportToHosts(ManageCelerra& oClient,
                                      const std::string& sMoverId,
                                      _CelerraExportHosts& oHosts) {
  CelerraMountWork& oWork = m_oMountWork;
  _CelerraViewExport oOurs;
  oOurs.sSharePath = m_sRWChkptSharePath;
  oOurs.sMoverId = sMoverId;
  oOurs.oHosts = oHosts;
  if (oWork.bRWChkptAdopted) {
    // A writable view already there is shared only as it is exported.
    bool bExists = false;
    _CelerraViewExport oTheirs;
    if (oWork.bKnownView) {
      bExists = true;
      oTheirs = oWork.oKnownExport;
    } else if (!QueryExport(oClient, m_sRWChkptSharePath, &bExists, &oTheirs)) {
      return false;  // the lookup's own failure is the reason
    }
    if (bExists) {
      if (!SameExport(oTheirs, oOurs)) {
        RefuseSharedView(oTheirs, oOurs);
        return false;
      }
      if (!oWork.bKnownView) ForgetHandledRefusal(oClient);
      if (oWork.bMountInfoPending && !WriteMountInfo(kExposeTag)) return false;
      m_pSnapInfo->Log(1, kExposeTag,
                       "NFS share [%s] of RW chkpt [%s] already exports it "
                       "to these hosts",
                       m_sRWChkptSharePath.c_str(), m_sRWChkptName.c_str());
      oWork.oExport = oTheirs;
      return true;
    }
    // Not exported yet (a map stopped before it exported): this map
    // exports it, once the record names it.
    ForgetHandledRefusal(oClient);
    if (oWork.bMountInfoPending && !WriteMountInfo(kExposeTag)) return false;
  }
  if (!oClient.CreateNFSShare(m_sRWChkptSharePath, sMoverId, false,
                              oHosts.vAccessHosts, oHosts.vRWHosts,
                              oHosts.vRootHosts)) {
    // The export may have been made although its reply was lost: it counts
    // as made only when the file server shows exactly this one.
    const CelerraError oCause = oClient.GetLastError();
    bool bExists = false;
    _CelerraViewExport oTheirs;
    if (!QueryExport(oClient, m_sRWChkptSharePath, &bExists, &oTheirs) ||
        !bExists || !SameExport(oTheirs, oOurs)) {
      KeepRefusal(oCause);
      return false;
    }
    ForgetHandledRefusal(oClient);
    m_pSnapInfo->Log(1, kExposeTag,
                     "NFS share [%s] is on the file server although its "
                     "creation was not confirmed",
                     m_sRWChkptSharePath.c_str());
  }
  oWork.bMadeExport = true;
  oWork.sExportMoverId = sMoverId;
  oWork.oExport = oOurs;
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
    // A writable checkpoint that is gone took its export with it. Gone is
    // its id with its name: a checkpoint of that name made since (by a map
    // after another record's unmap) belongs to the records that name it.
    const CelerraError oCause = oClient.GetLastError();
    bool bPresent = true;
    std::string sNewerId;
    auto fnOurs = [&](const CelerraChkPtInfo& oChkpt) {
      if (oChkpt.sChkptName == m_sRWChkptName &&
          oChkpt.sChkptId != m_sRWChkptId) {
        sNewerId = oChkpt.sChkptId;
      }
      return oChkpt.sChkptId == m_sRWChkptId &&
             oChkpt.sChkptName == m_sRWChkptName;
    };
    // A snapshot with a baseline was exported by the host's snap name and
    // is looked up here by its stored name and id: that it is not found
    // does not say its export is gone.
    if (m_sBaselineChkptId.empty() && CloneIsOf(m_sRWChkptName) &&
        FindChkpt(oClient, fnOurs, &bPresent) && !bPresent) {
      m_oMountWork.bRWChkptGone = true;
      if (sNewerId.empty()) {
        m_pSnapInfo->Log(1, kUnExposeTag,
                         "RW chkpt [%s] id [%s] is no longer on the file "
                         "server, nor its NFS share: nothing to remove",
                         m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
      } else {
        m_pSnapInfo->Log(1, kUnExposeTag,
                         "RW chkpt [%s] id [%s] is no longer on the file "
                         "server: nothing to remove; RW chkpt [%s] id [%s], "
                         "made since, and its NFS share belong to the "
                         "devices that name it and stay",
                         m_sRWChkptName.c_str(), m_sRWChkptId.c_str(),
                         m_sRWChkptName.c_str(), sNewerId.c_str());
      }
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
    // Gone already only when the file server says there is no such export.
    const CelerraError oCause = oClient.GetLastError();
    bool bExists = true;
    _CelerraViewExport oFound;
    if (!QueryExport(oClient, m_sRWChkptSharePath, &bExists, &oFound) ||
        bExists) {
      KeepRefusal(oCause);
      return false;
    }
    ForgetHandledRefusal(oClient);
    m_pSnapInfo->Log(1, kUnExposeTag,
                     "NFS share [%s] is no longer on the file server",
                     m_sRWChkptSharePath.c_str());
    return true;
  }
  m_oMountWork.bRemovedExport = true;
  m_oMountWork.sExportMoverId = sMoverId;
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

bool CelerraSnapDevice::DeleteRWChkPtAfterUnmount(
    ManageCelerra& oClient, const char* pszTag,
    const std::string& sSourcePath) {
  if (m_pSnapInfo == nullptr) return false;
  CelerraMountWork& oWork = m_oMountWork;
  if (oWork.bRWChkptGone) return true;
  if (m_sRWChkptId.empty()) {
    // No id means no writable checkpoint was recorded: a DeleteChkPt with
    // an empty id would only be refused by the file server.
    m_pSnapInfo->Log(1, pszTag, "No RW checkpoint to delete for chkpt:[%s]",
                     m_sChkptName.c_str());
    if (m_sBaselineChkptId.empty() && !m_bMountInfoLoaded) {
      RemoveUnexportedRWChkpt(oClient, sSourcePath, pszTag);
    }
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
  if (oWork.bRemovedExport) {
    // The writable checkpoint stays mapped: so does its export, on the data
    // mover it was removed from. Its hosts are those a map of this record
    // gives it, which every record sharing the view needed too.
    std::vector<std::string> vAccessHosts, vRWHosts, vRootHosts;
    MountHostLists(m_bIsVMware ? m_sESXName : ZkLocalHostName(), vAccessHosts,
                   vRWHosts, vRootHosts);
    if (NamesAHost(vAccessHosts) &&
        oClient.CreateNFSShare(m_sRWChkptSharePath, oWork.sExportMoverId, false,
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

void CelerraSnapDevice::RemoveUnexportedRWChkpt(ManageCelerra& oClient,
                                                const std::string& sSourcePath,
                                                const char* pszTag) {
  const std::string sName = m_sChkptName + "_RW";
  bool bPresent = false;
  CelerraChkPtInfo oFound;
  auto fnLeft = [&](const CelerraChkPtInfo& oChkpt) {
    return oChkpt.sChkptName == sName &&
           oChkpt.sBaselineChkptId == m_sChkptId && !m_sChkptId.empty() &&
           !oChkpt.sChkptId.empty();
  };
  if (!FindChkpt(oClient, fnLeft, &bPresent, &oFound)) {
    m_pSnapInfo->Log(2, pszTag,
                     "Warning: Unable to list the checkpoints: a RW chkpt "
                     "[%s] left by a map of chkpt [%s] is not looked for",
                     sName.c_str(), m_sChkptName.c_str());
    ForgetHandledRefusal(oClient);
    return;
  }
  if (!bPresent) return;
  std::string sSharePath;
  bool bExported = true;
  _CelerraViewExport oExport;
  if (!Celerra_GetSnapDeviceNameWithManageCelerra(
          oClient, sSourcePath, m_oStorageResource.sPFSId, oFound.sChkptId,
          sName, sSharePath) ||
      !QueryExport(oClient, sSharePath, &bExported, &oExport)) {
    m_pSnapInfo->Log(2, pszTag,
                     "Warning: RW chkpt [%s] id [%s] of chkpt [%s] is on the "
                     "file server and its NFS share could not be looked up: "
                     "left alone",
                     sName.c_str(), oFound.sChkptId.c_str(),
                     m_sChkptName.c_str());
    ForgetHandledRefusal(oClient);
    return;
  }
  ForgetHandledRefusal(oClient);
  if (bExported) {
    m_pSnapInfo->Log(1, pszTag,
                     "RW chkpt [%s] id [%s] of chkpt [%s] is exported as NFS "
                     "share [%s], which another device may use: left alone",
                     sName.c_str(), oFound.sChkptId.c_str(),
                     m_sChkptName.c_str(), sSharePath.c_str());
    return;
  }
  if (oClient.DeleteChkPt(oFound.sChkptId, "", false)) {
    m_pSnapInfo->Log(1, pszTag,
                     "Deleted RW chkpt [%s] id [%s] of chkpt [%s], which a map "
                     "left without an NFS share",
                     sName.c_str(), oFound.sChkptId.c_str(),
                     m_sChkptName.c_str());
    return;
  }
  m_pSnapInfo->Log(2, pszTag,
                   "Warning: Unable to delete RW chkpt [%s] id [%s] of chkpt "
                   "[%s], which a map left without an NFS share",
                   sName.c_str(), oFound.sChkptId.c_str(),
                   m_sChkptName.c_str());
  ForgetHandledRefusal(oClient);
}
