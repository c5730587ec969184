// SPDX-License-Identifier: Apache-2.0
// Exposure of a snapshot over NFS, the steps every exposing kind has in
// common: the writable view (words as in device/CelerraMountWork.h), that
// is the writable checkpoint made for a mount and its mount metadata, the
// export of that checkpoint to the mount hosts and its removal; the mount
// request source; and the deletion of the writable checkpoint at the end of
// an unmap. The kinds' own steps are in CelerraSnapDeviceExposeKinds.cpp.
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
    oWork.eRWChkpt = RWChkptOrigin::kSharedInCall;
    m_pSnapInfo->Log(1, pszTag,
                     "Using RW chkpt [%s] id [%s] made for another device of "
                     "this request",
                     m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
  } else {
    // Named in the record before it is made: a reply that never comes
    // leaves the record saying what may be on the file server.
    m_oIntent.bRWChkpt = true;
    m_oIntent.sRWName = m_sRWChkptName;
    m_oIntent.sRWPFSId = m_oStorageResource.sPFSId;
    m_oIntent.sRWBaselineId = m_sChkptId;
    StoreIntent();
    if (oClient.CreateRWChkPt(m_oStorageResource.sPFSId,
                              m_oStorageResource.eStorageType,
                              m_oStorageResource.sStorageExtra, m_sRWChkptName,
                              false, m_sChkptId, m_sRWChkptId)) {
      oWork.eRWChkpt = RWChkptOrigin::kMade;
    } else if (!FindRWChkptAfterRefusal(oClient, pszTag)) {
      return false;
    }
  }
  if (m_sRWChkptId.find('|') != std::string::npos) {
    const std::string sText =
        "Unable to store metadata type[SM_MDT_SNAP_MOUNT] "
        "for device [" +
        m_sSnapSourceDevice + "]: the RW checkpoint id [" + m_sRWChkptId +
        "] holds the separator \"|\"";
    m_pSnapInfo->Log(2, pszTag, "%s", sText.c_str());
    SetJPR(JPR_MAP_FAILED, sText);
    if (oWork.MadeRWChkpt()) {
      oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false);
      oWork.eRWChkpt = RWChkptOrigin::kNone;
    }
    return false;
  }
  if (!oWork.MadeRWChkpt()) {
    // Written once its export is known to be this record's.
    oWork.bMountInfoPending = true;
    return true;
  }
  if (!WriteMountInfo(pszTag)) {
    // Without its mount metadata no unmap would ever find the checkpoint:
    // take it back so that the file server matches the record.
    oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false);
    oWork.eRWChkpt = RWChkptOrigin::kNone;
    return false;
  }
  return true;
}

bool CelerraSnapDevice::FindRWChkptAfterRefusal(ManageCelerra& oClient,
                                                const char* pszTag) {
  // Made all the same when the reply was lost; there before (another
  // record's, or this record's own from an earlier call) when the file
  // server refused it. The file server allows one writable checkpoint per
  // snapshot.
  CelerraMountWork& oWork = m_oMountWork;
  const CelerraError oCause = oClient.GetLastError();
  const bool bUnknown = oCause.sMessageCode == kCelerraReplyLostCode;
  bool bPresent = false;
  CelerraChkPtInfo oFound;
  auto fnMade = [&](const CelerraChkPtInfo& oChkpt) {
    return oChkpt.sChkptName == m_sRWChkptName &&
           oChkpt.sBaselineChkptId == m_sChkptId && !oChkpt.sChkptId.empty();
  };
  const bool bAnswered = FindChkpt(oClient, fnMade, &bPresent, &oFound);
  if (!bAnswered || !bPresent) {
    KeepRefusal(oCause);
    // Only an outcome still unknown stays in the record's intent.
    RestoreRWChkptIntent(bUnknown && !bAnswered);
    return false;
  }
  m_sRWChkptId = oFound.sChkptId;
  const bool bOwn =
      bUnknown ||
      m_oPriorIntent.NamesRWChkpt(m_sRWChkptName, m_oStorageResource.sPFSId,
                                  m_sChkptId) ||
      oWork.sMountRWIdBefore == m_sRWChkptId;
  if (!bOwn) {
    // Another record's: its export settles what the map says.
    oWork.eRWChkpt = RWChkptOrigin::kForeign;
    RestoreRWChkptIntent(false);
    return true;
  }
  oWork.eRWChkpt = RWChkptOrigin::kOwn;
  m_pSnapInfo->Log(1, pszTag,
                   "RW chkpt [%s] id [%s] of chkpt [%s] is already on the "
                   "file server: using it",
                   m_sRWChkptName.c_str(), m_sRWChkptId.c_str(),
                   m_sChkptName.c_str());
  return true;
}

void CelerraSnapDevice::RestoreRWChkptIntent(bool bKeepUnknown) {
  if (bKeepUnknown) return;
  m_oIntent.bRWChkpt = m_oPriorIntent.bRWChkpt;
  m_oIntent.sRWName = m_oPriorIntent.sRWName;
  m_oIntent.sRWPFSId = m_oPriorIntent.sRWPFSId;
  m_oIntent.sRWBaselineId = m_oPriorIntent.sRWBaselineId;
  StoreIntent();
}

bool CelerraSnapDevice::WriteMountInfo(const char* pszTag) {
  CelerraMountWork& oWork = m_oMountWork;
  oWork.bMountInfoPending = false;
  try {
    const std::string sText = m_sRWChkptName + "|" + m_sRWChkptId;
    const std::string sLine = "Setting Metadata [" + sText + "] for device [" +
                              m_sSnapSourceDevice + "]";
    m_pSnapInfo->Log(1, pszTag, "%s", sLine.c_str());
    m_pSnapInfo->SetMetaData(SM_MDT_SNAP_MOUNT, sText.c_str());
    oWork.bWroteMountInfo = true;
    // The mount metadata names the writable checkpoint from now on.
    m_oIntent.bRWChkpt = false;
    StoreIntent();
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
  // What the record holds before this map: its mount metadata ("name|id")
  // and whether its snap clone device is the export of that checkpoint.
  oWork.bMountInfoBefore = ReadMountText(*m_pSnapInfo, &oWork.sMountInfoBefore);
  const std::string sPrefix = m_sRWChkptName + "|";
  oWork.sMountRWIdBefore.clear();
  if (oWork.sMountInfoBefore.compare(0, sPrefix.size(), sPrefix) == 0) {
    oWork.sMountRWIdBefore = oWork.sMountInfoBefore.substr(sPrefix.size());
  }
  std::string sSnapDevice;
  oWork.bCloneOfView = GetSnapData(CELERRA_SNAPINFO_SNAP_DEVICE, sSnapDevice) &&
                       !sSnapDevice.empty() && CloneIsOf(m_sRWChkptName);
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
          m_sRWChkptName, m_sExportPath)) {
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
        "Error: No host to give access to the NFS share [" + m_sExportPath +
        "] of RW checkpoint[" + m_sRWChkptName +
        "]: not exporting it to every host";
    m_pSnapInfo->Log(2, kExposeTag, "%s", sText.c_str());
    SetJPR(JPR_MAP_FAILED, sText);
    return false;
  }

  _CelerraExportHosts oHosts = oWork.oHosts;
  if (!ExportToHosts(oClient, sMoverId, oHosts)) return false;
  try {
    if (!FormSnapDevice(m_sExportPath)) {
      m_pSnapInfo->Log(2, kExposeTag, "%s", "Failed to form snap clone device");
      return false;
    }
  } catch (...) {
    // No snap clone device will be recorded for this export, and an unmap
    // goes by that device: remove the export again.
    if (oWork.bMadeExport) {
      oClient.DeleteNFSShare(m_sExportPath, sMoverId);
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
    oFound.sOfId = sPFSId;
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

void CelerraSnapDevice::RefuseView(const _CelerraViewExport* pTheirs,
                                   const _CelerraViewExport& oOurs) {
  const CelerraMountWork& oWork = m_oMountWork;
  if (pTheirs == nullptr) {
    const std::string sText =
        "Error: RW chkpt [" + m_sRWChkptName + "] id [" + m_sRWChkptId +
        "] of chkpt [" + m_sChkptName +
        "] is in the way: it has no NFS share, and nothing this device "
        "stored names it (a map stopped before it exported, or one in "
        "progress). The file server allows one writable view (RW "
        "checkpoint) per snapshot: unmap the device that made it, or remove "
        "it once no map is in progress, then map this one";
    m_pSnapInfo->Log(2, kExposeTag, "%s", sText.c_str());
    SetJPR(JPR_MAP_FAILED, sText);
    return;
  }
  const _CelerraViewExport& oTheirs = *pTheirs;
  const std::string sNeeds =
      SameExport(oTheirs, oOurs)
          ? std::string(
                ", as this device needs it, but another device holds "
                "it")
          : ", while this device needs [" + oOurs.sSharePath +
                "] on data mover [" + oOurs.sMoverId + "] exported to " +
                DescribeHosts(oOurs.oHosts);
  // This record holds it when its mount metadata names the writable
  // checkpoint, or its intent the export (a map of it that failed after it
  // exported).
  const bool bThisHolds =
      (!m_sRWChkptId.empty() && oWork.sMountRWIdBefore == m_sRWChkptId) ||
      (m_oPriorIntent.bExport &&
       m_oPriorIntent.oExport.sSharePath == oTheirs.sSharePath);
  const std::string sWayOut =
      bThisHolds ? "this device holds it; unmap this device, then map it again"
      : oWork.eRWChkpt == RWChkptOrigin::kSharedInCall
          ? "unmap the device that mapped it first, then map this one"
          : "unmap the device that holds it, then map this one, or map the "
            "devices of the snapshot in one call";
  const std::string sText =
      "Error: RW chkpt [" + m_sRWChkptName + "] id [" + m_sRWChkptId +
      "] of chkpt [" + m_sChkptName + "] is in the way: its NFS share [" +
      oTheirs.sSharePath + "] on data mover [" + oTheirs.sMoverId +
      "] is exported to " + DescribeHosts(oTheirs.oHosts) + sNeeds +
      ". The file server allows one writable view (RW checkpoint) per "
      "snapshot: " +
      sWayOut;
  m_pSnapInfo->Log(2, kExposeTag, "%s", sText.c_str());
  SetJPR(JPR_MAP_FAILED, sText);
}

bool CelerraSnapDevice::ExportToHosts(ManageCelerra& oClient,
                                      const std::string& sMoverId,
                                      _CelerraExportHosts& oHosts) {
  CelerraMountWork& oWork = m_oMountWork;
  _CelerraViewExport oOurs;
  oOurs.sSharePath = m_sExportPath;
  oOurs.sMoverId = sMoverId;
  oOurs.oHosts = oHosts;
  if (!oWork.MadeRWChkpt()) {
    // A writable view already there, or a snapshot that is itself
    // writable, may be exported already: such an export is used only when
    // it is this record's own (or this call's) and exactly as needed.
    bool bExists = false;
    _CelerraViewExport oTheirs;
    const bool bInCall = oWork.eRWChkpt == RWChkptOrigin::kSharedInCall;
    if (bInCall) {
      bExists = true;
      oTheirs = oWork.oKnownExport;
    } else if (!QueryExport(oClient, m_sExportPath, &bExists, &oTheirs)) {
      return false;  // the lookup's own failure is the reason
    }
    if (bExists) {
      if (!oWork.MayUse(oTheirs, oOurs, NamesExport(oTheirs))) {
        RefuseView(&oTheirs, oOurs);
        return false;
      }
      if (!bInCall) ForgetHandledRefusal(oClient);
      if (oWork.bMountInfoPending && !WriteMountInfo(kExposeTag)) return false;
      m_pSnapInfo->Log(1, kExposeTag,
                       "NFS share [%s] of RW chkpt [%s] already exports it "
                       "to these hosts",
                       m_sExportPath.c_str(), m_sRWChkptName.c_str());
      oWork.oExport = oTheirs;
      return true;
    }
    ForgetHandledRefusal(oClient);
    if (!oWork.MayExportUnexported()) {
      RefuseView(nullptr, oOurs);
      return false;
    }
    // Not exported yet (this record's map stopped before it exported):
    // this map exports it, once the record names it.
    if (oWork.bMountInfoPending && !WriteMountInfo(kExposeTag)) return false;
  }
  m_oIntent.bExport = true;
  m_oIntent.oExport = oOurs;
  StoreIntent();
  if (!oClient.CreateNFSShare(m_sExportPath, sMoverId, false,
                              oHosts.vAccessHosts, oHosts.vRWHosts,
                              oHosts.vRootHosts)) {
    // Made all the same only when the reply was lost and the file server
    // shows exactly this export; a refusal says it was not made here.
    const CelerraError oCause = oClient.GetLastError();
    const bool bUnknown = oCause.sMessageCode == kCelerraReplyLostCode;
    bool bExists = false;
    _CelerraViewExport oTheirs;
    const bool bAnswered =
        bUnknown && QueryExport(oClient, m_sExportPath, &bExists, &oTheirs);
    if (!bAnswered || !bExists || !SameExport(oTheirs, oOurs) ||
        (!oTheirs.sOfId.empty() && !m_sRWChkptId.empty() &&
         oTheirs.sOfId != m_sRWChkptId)) {
      KeepRefusal(oCause);
      // Only an outcome still unknown stays in the record's intent.
      if (!bUnknown || bAnswered) {
        ExportIntentAsBefore();
        StoreIntent();
      }
      return false;
    }
    ForgetHandledRefusal(oClient);
    m_pSnapInfo->Log(1, kExposeTag,
                     "NFS share [%s] is on the file server although its "
                     "creation was not confirmed",
                     m_sExportPath.c_str());
  }
  oWork.bMadeExport = true;
  oWork.oExport = oOurs;
  oWork.oExport.sOfId = m_sRWChkptId;
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
          m_sRWChkptName, m_sExportPath)) {
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
  // The export at that path is removed only when it is of this record's
  // own writable checkpoint: the path follows from the name alone, and a
  // view made since for other records has the same name.
  bool bExists = false;
  _CelerraViewExport oFound;
  if (!QueryExport(oClient, m_sExportPath, &bExists, &oFound)) {
    m_pSnapInfo->Log(2, kUnExposeTag,
                     "Error: Unable to look up NFS share [%s] of RW "
                     "checkpoint[%s]",
                     m_sExportPath.c_str(), m_sRWChkptId.c_str());
    return false;
  }
  if (!bExists) {
    ForgetHandledRefusal(oClient);
    m_pSnapInfo->Log(1, kUnExposeTag,
                     "NFS share [%s] is no longer on the file server",
                     m_sExportPath.c_str());
    return true;
  }
  if (oFound.sOfId != m_sRWChkptId) {
    if (oFound.sOfId.empty()) {
      const std::string sText =
          "Error: The file server does not say which checkpoint NFS share [" +
          m_sExportPath + "] exports: it is not removed";
      m_pSnapInfo->Log(2, kUnExposeTag, "%s", sText.c_str());
      SetJPR(JPR_UNMAP_FAILED, sText);
      return false;
    }
    m_oMountWork.bRWChkptGone = true;
    m_pSnapInfo->Log(1, kUnExposeTag,
                     "NFS share [%s] exports checkpoint id [%s], not RW chkpt "
                     "[%s] id [%s]: it belongs to a newer view and stays; "
                     "this device's view is gone",
                     m_sExportPath.c_str(), oFound.sOfId.c_str(),
                     m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
    return true;
  }
  // Removed where the file server says it is exported.
  if (oFound.sMoverId.empty()) oFound.sMoverId = sMoverId;
  if (!oClient.DeleteNFSShare(m_sExportPath, oFound.sMoverId)) {
    // Gone already only when the file server says there is no such export.
    const CelerraError oCause = oClient.GetLastError();
    bool bStill = true;
    _CelerraViewExport oAgain;
    if (!QueryExport(oClient, m_sExportPath, &bStill, &oAgain) || bStill) {
      KeepRefusal(oCause);
      return false;
    }
    ForgetHandledRefusal(oClient);
    m_pSnapInfo->Log(1, kUnExposeTag,
                     "NFS share [%s] is no longer on the file server",
                     m_sExportPath.c_str());
    return true;
  }
  m_oMountWork.bRemovedExport = true;
  m_oMountWork.oRemovedExport = oFound;
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
  RunUndoPlan(oClient, pszTag);
  return false;
}

void CelerraSnapDevice::RemoveUnexportedRWChkpt(ManageCelerra& oClient,
                                                const std::string& sSourcePath,
                                                const char* pszTag) {
  const std::string sName = m_sChkptName + "_RW";
  // Only what the record's own intent names: another record's map may be
  // between making its writable checkpoint and exporting it.
  if (!m_oPriorIntent.NamesRWChkpt(sName, m_oStorageResource.sPFSId,
                                   m_sChkptId)) {
    return;
  }
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
  std::string sExportPath;
  bool bExported = true;
  _CelerraViewExport oExport;
  if (!Celerra_GetSnapDeviceNameWithManageCelerra(
          oClient, sSourcePath, m_oStorageResource.sPFSId, oFound.sChkptId,
          sName, sExportPath) ||
      !QueryExport(oClient, sExportPath, &bExported, &oExport)) {
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
                     m_sChkptName.c_str(), sExportPath.c_str());
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
