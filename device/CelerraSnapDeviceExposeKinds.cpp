// SPDX-License-Identifier: Apache-2.0
// Map and unmap steps of the NFS and NAS kinds: which export a kind's
// checkpoint is found from and on which data mover it is exported. The
// NFS steps all kinds have in common are in CelerraSnapDeviceExpose.cpp.
#include <string>

#include "device/CelerraSnapDevice.h"
#include "device/CelerraSnapDeviceNAS.h"
#include "device/CelerraSnapDeviceNfs.h"
#include "host/EvDebug.h"

namespace {

const char kNfsCreateRWTag[] = "CelerraSnapDeviceNfs::CreateRWChkPt";
const char kNfsUnExposeTag[] = "CelerraSnapDeviceNfs::UnExposeChkPt";
const char kNASCreateRWTag[] = "CelerraSnapDeviceNAS::CreateRWChkPt";
const char kNASExposeTag[] = "CelerraSnapDeviceNAS::ExposeChkPt";
const char kNASUnExposeTag[] = "CelerraSnapDeviceNAS::UnExposeChkPt";

enum class ExportStep { kMount, kUnmount };

// The physical data mover that exports a NAS file system: the mover hosting
// its VDM, or the VDM id itself when the file server names none. A file
// system not on a VDM is served by the mover sVdmId names.
std::string ExportingMover(ManageCelerra& oClient, ZKSO::SnapInfo* pSnapInfo,
                           const char* pszTag, const std::string& sVdmId,
                           bool bIsVdm, ExportStep eStep) {
  if (!bIsVdm) return sVdmId;
  std::string sMover;
  oClient.GetMoverForVdm(sVdmId, sMover);  // an empty mover says enough
  if (sMover.empty()) sMover = sVdmId;
  if (eStep == ExportStep::kMount) {
    pSnapInfo->Log(1, pszTag,
                   "Using DataMoverId [%s] for VdmID [%s] for NFS mount.",
                   sMover.c_str(), sVdmId.c_str());
  } else {
    pSnapInfo->Log(1, pszTag,
                   "Using DataMoverId [%s] for VdmID [%s] for NFS unmount.",
                   sMover.c_str(), sVdmId.c_str());
  }
  return sMover;
}

bool RecordMissing(ZKSO::SnapInfo* pSnapInfo, const char* pszTag,
                   ZKUint64 nJobId) {
  if (pSnapInfo != nullptr) return false;
  EvDebug().DebugLvl(pszTag, -1, nJobId, "%s",
                     "Snap info object is not initialized");
  return true;
}

}  // namespace

// ---- NFS export ----

bool CelerraSnapDeviceNfs::CreateRWChkPt(ManageCelerra& oClient) {
  return CreateRWChkPtForMount(oClient, kNfsCreateRWTag);
}

bool CelerraSnapDeviceNfs::ExposeChkPt(ManageCelerra& oClient,
                                       const std::string& sMountHost) {
  return ExposeChkPtNFS(oClient, sMountHost, m_sShareName, m_sMoverId);
}

bool CelerraSnapDeviceNfs::UnExposeChkPt(ManageCelerra& oClient) {
  if (!UnExposeChkPtNFS(oClient, m_sShareName, m_sMoverId)) return false;
  return DeleteRWChkPtAfterUnmount(oClient, kNfsUnExposeTag, m_sShareName);
}

// ---- NAS file system ----

bool CelerraSnapDeviceNAS::CreateRWChkPt(ManageCelerra& oClient) {
  return CreateRWChkPtForMount(oClient, kNASCreateRWTag);
}

bool CelerraSnapDeviceNAS::ExposeChkPt(ManageCelerra& oClient,
                                       const std::string& sMountHost) {
  if (RecordMissing(m_pSnapInfo, kNASExposeTag, JobId())) return false;
  m_eExposeType = CELERRA_DEVICE_NFS;
  bool bFromSourceTwo = false;
  std::string sShareName;
  if (!GetGUIMountShareName(bFromSourceTwo, sShareName)) {
    m_pSnapInfo->LogMessage(2, "Failed to get GUI mount share name details");
    return false;
  }
  m_bGUIMount = !bFromSourceTwo;
  const std::string sMover =
      ExportingMover(oClient, m_pSnapInfo, kNASExposeTag, m_sVdmId, m_bIsVdm,
                     ExportStep::kMount);
  return ExposeChkPtNFS(oClient, sMountHost,
                        m_bGUIMount ? m_sMoverMountPath : m_sPath, sMover);
}

bool CelerraSnapDeviceNAS::UnExposeChkPt(ManageCelerra& oClient) {
  if (RecordMissing(m_pSnapInfo, kNASUnExposeTag, JobId())) return false;
  std::string sSnapDevice;
  if (!GetSnapData(CELERRA_SNAPINFO_SNAP_DEVICE, sSnapDevice)) {
    m_pSnapInfo->Log(2, kNASUnExposeTag, "%s",
                     "Error:Failed to get snap device");
    return false;
  }
  // The mount request source the host gives now; false when it cannot
  // tell.
  auto fnGUIMountNow = [&](bool* pbGUIMount) {
    int nSource = 0;
    if (m_pSnapInfo->GetIntValue(ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE, &nSource) ==
        1) {
      return false;
    }
    *pbGUIMount = nSource != 2;
    return true;
  };
  if (sSnapDevice.empty()) {
    bool bGUIMount = false;
    if (m_sPath == m_sMoverMountPath || !fnGUIMountNow(&bGUIMount)) {
      bGUIMount = false;
    }
    const std::string& sSourcePath = bGUIMount ? m_sMoverMountPath : m_sPath;
    if (!m_bMountInfoLoaded) {
      m_pSnapInfo->LogMessage(1, "Checkpoint not exposed. No need to unexpose");
      return DeleteRWChkPtAfterUnmount(oClient, kNASUnExposeTag, sSourcePath);
    }
    // A map that stored its mount metadata and then failed may have
    // exported all the same (a reply lost): the export of this record's
    // writable checkpoint goes as the NFS kind's does.
    const std::string sMover =
        ExportingMover(oClient, m_pSnapInfo, kNASUnExposeTag, m_sVdmId,
                       m_bIsVdm, ExportStep::kUnmount);
    if (!UnExposeChkPtNFS(oClient, sSourcePath, sMover)) return false;
    return DeleteRWChkPtAfterUnmount(oClient, kNASUnExposeTag, sSourcePath);
  }
  // The map chose the export's source path by the mount request source; the
  // clone identifier it wrote tells which (see FormSnapDevice): the mover
  // mount path when the clone's identifier differs from its export path,
  // this device's path otherwise. Only when there is no part below the
  // mount point, and the two paths differ, do both sources form the same
  // clone: then the host's mount request source tells which the map used.
  _CelerraSnapDeviceIdentifier oClone;
  CelerraUtils::ParseDeviceIdentifier(sSnapDevice, oClone);
  bool bGUIMount = oClone.sExportPath != oClone.sLunUUID;
  const bool bNothingBelow = RelativePath().empty();
  if (!bGUIMount && bNothingBelow && m_sPath != m_sMoverMountPath) {
    bool bNow = false;
    if (fnGUIMountNow(&bNow)) bGUIMount = bNow;
  }
  const std::string& sSourcePath = bGUIMount ? m_sMoverMountPath : m_sPath;
  const std::string sMover =
      ExportingMover(oClient, m_pSnapInfo, kNASUnExposeTag, m_sVdmId, m_bIsVdm,
                     ExportStep::kUnmount);
  if (!UnExposeChkPtNFS(oClient, sSourcePath, sMover)) return false;
  return DeleteRWChkPtAfterUnmount(oClient, kNASUnExposeTag, sSourcePath);
}
