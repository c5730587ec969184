// SPDX-License-Identifier: Apache-2.0
// Preparation of a device for an operation and its completion: the record's
// failure status is written before any work, what the operation needs is
// loaded (from the device for prepare, from stored metadata otherwise), and
// at the end what the operation produced is stored and the success status
// written.
#include <string>

#include "device/CelerraSnapDevice.h"
#include "device/ZkSystemClock.h"
#include "host/EvDebug.h"

namespace {

const char kPreOperationTag[] = "CelerraSnapDevice::PreOperation";
const char kPrePrepareTag[] = "CelerraSnapDevice::PrePrepareDevice";
const char kPreCommonTag[] = "CelerraSnapDevice::PreOperationCommon";
const char kPostOperationTag[] = "CelerraSnapDevice::PostOperation";
const char kSetSnapshotNameTag[] = "CelerraSnapDevice::SetSnapshotName";

const char kVendorName[] = "Dell EMC VNX / Celerra";
const char kVendorNameOld[] = "EMC VNX / Celerra";

// Longest checkpoint name the file server and the stored texts take.
const size_t kMaxChkptNameLength = 255;

}  // namespace

bool CelerraSnapDevice::PreOperation() {
  if (m_pSnapInfo == nullptr) {
    EvDebug().DebugLvl(kPreOperationTag, -1, JobId(), "%s",
                       "Snap info object is not initialized");
    return false;
  }
  m_pSnapInfo->Log(0, kPreOperationTag, "Snap operation[%d]",
                   static_cast<int>(m_eOperationType));
  switch (static_cast<int>(m_eOperationType)) {
    case SNAP_OP_PREPARE:
      return PrePrepareDevice();
    case SNAP_OP_SNAP:
      m_pSnapInfo->SetStatus(ZKSO::SNAP_STATUS_UNKNOWN);
      return PreOperationCommon();
    case SNAP_OP_RESERVED:
      m_pSnapInfo->SetStatus(ZKSO::SNAP_STATUS_NONE);
      return PreOperationCommon();
    case SNAP_OP_MAP:
      m_pSnapInfo->SetStatus(ZKSO::MAP_FAILED);
      return PreOperationCommon();
    case SNAP_OP_UNMAP:
      m_pSnapInfo->SetStatus(ZKSO::UNMAP_FAILED);
      return PreOperationCommon();
    case SNAP_OP_DELETE:
      // No checkpoint was ever made for such a record.
      if (m_pSnapInfo->GetStatus() == ZKSO::READY_FOR_SNAP_FAILED) return true;
      m_pSnapInfo->SetStatus(ZKSO::DELETE_FAILED);
      return PreOperationCommon();
    case SNAP_OP_REVERT:
      m_pSnapInfo->SetStatus(ZKSO::REVERT_FAILED);
      return PreOperationCommon();
    case SNAP_OP_RECONCILE:
      return PreOperationCommon();
    default:
      EvDebug().DebugLvl(kPreOperationTag, -1, JobId(),
                         "Internal error: Operation [%d] not implemented",
                         static_cast<int>(m_eOperationType));
      return false;
  }
}

bool CelerraSnapDevice::PrePrepareDevice() {
  if (m_pSnapInfo == nullptr) return false;
  ManageCelerra oClient(JobId());
  m_pSnapInfo->SetStatus(ZKSO::READY_FOR_SNAP_FAILED);
  if (!DetermineFromDevice()) return false;

  if (!SetArrayInfo() || !GetArrayCredsFromDB()) {
    m_pSnapInfo->Log(2, kPrePrepareTag,
                     "Failed to get array info for device[%s].",
                     m_sSnapSourceDevice.c_str());
    std::string sText =
        "Failed to find array management entry for array identifier[" +
        m_sArrayIdentifier + "] and Snap Vendor as [" + kVendorName + "] or [" +
        kVendorNameOld +
        "].Please add/check vendor name or control host of array in array "
        "management.";
    EvDebug().DebugLvl(kPrePrepareTag, -1, JobId(), "%s", sText.c_str());
    SetJPR(JPR_ARRAY_CREDENTIALS_FAILED, sText);
    return false;
  }

  if (!SetChkptName("")) {
    EvDebug().DebugLvl(kPrePrepareTag, -1, JobId(), "%s",
                       "Failed to set snapshot name");
    return false;
  }
  oClient.SetControlHostInfo(m_oArrayCredentials.sHostName,
                             m_oArrayCredentials.sHostUserName,
                             m_oArrayCredentials.sHostPassword);
  return PopulateDetails(oClient);
}

bool CelerraSnapDevice::PreOperationCommon() {
  if (m_pSnapInfo == nullptr) return false;
  std::string sMetaData;
  if (!GetSnapMetadata(SM_MDT_FS_INFO, sMetaData) || sMetaData.empty()) {
    m_pSnapInfo->Log(2, kPreCommonTag, "%s",
                     "Error:Unable to get the snapMetaData.");
    return false;
  }
  EvDebug().DebugLvl(kPreCommonTag, 3, JobId(), "Snap Meta data [%s]",
                     sMetaData.c_str());
  if (!ParseFSMetaData(sMetaData)) {
    m_pSnapInfo->Log(2, kPreCommonTag, "%s",
                     "Error:Unable to parse the FS metaData.");
    return false;
  }

  if (m_eOperationType != SNAP_OP_SNAP && m_eOperationType != SNAP_OP_PREPARE) {
    sMetaData.clear();
    if (!GetSnapMetadata(SM_MDT_SNAP_UUID, sMetaData) || sMetaData.empty()) {
      m_pSnapInfo->Log(2, kPreCommonTag, "%s",
                       "Error:Unable to get the snapMetaData.");
      return false;
    }
    EvDebug().DebugLvl(kPreCommonTag, 3, JobId(), "Snap Meta data [%s]",
                       sMetaData.c_str());
    if (!ParseSnapUUID(sMetaData)) {
      m_pSnapInfo->Log(2, kPreCommonTag, "%s",
                       "Error:Unable to parse the snap uuid MetaData.");
      return false;
    }

    if (m_eOperationType == SNAP_OP_MAP) {
      // With a baseline the snapshot is already a writable checkpoint.
      m_sRWChkptName =
          m_sBaselineChkptId.empty() ? m_sChkptName + "_RW" : m_sChkptName;
    }
    if (m_eOperationType == SNAP_OP_UNMAP) {
      if (m_sBaselineChkptId.empty()) {
        sMetaData.clear();
        bool bNoMemory = false;
        if (!GetSnapMetadata(SM_MDT_SNAP_MOUNT, sMetaData, &bNoMemory) &&
            bNoMemory) {
          // Unread is not absent: going on would mark a mounted snapshot
          // unmapped and leave its export behind.
          m_pSnapInfo->Log(2, kPreCommonTag, "%s",
                           "Error:Unable to get the mountInfo snapMetaData.");
          return false;
        }
        if (sMetaData.empty()) {
          m_pSnapInfo->Log(
              2, kPreCommonTag, "%s",
              "Error:Unable to get the mountInfo snapMetaData. Continuing");
        } else {
          EvDebug().DebugLvl(kPreCommonTag, 3, JobId(),
                             "SM_MDT_SNAP_MOUNT Snap Meta data [%s]",
                             sMetaData.c_str());
          if (!ParseMountInfo(sMetaData)) {
            m_pSnapInfo->Log(
                2, kPreCommonTag, "%s",
                "Error:Unable to parse the SM_MDT_SNAP_MOUNT MetaData.");
            return false;
          }
          m_bMountInfoLoaded = true;
        }
      } else {
        // The snapshot itself was mounted: it is the writable checkpoint to
        // remove, and the baseline becomes the snapshot.
        m_sRWChkptId = m_sChkptId;
        m_sRWChkptName = m_sChkptName;
        m_sChkptId = m_sBaselineChkptId;
        m_bSnapUUIDChanged = true;
      }
    }
    if (m_bIsVMware && (m_eOperationType == SNAP_OP_MAP ||
                        m_eOperationType == SNAP_OP_UNMAP)) {
      if (GetSnapData(CELERRA_SNAPINFO_HOST_IDENTIFIER, m_sHostIdentifier) &&
          !m_sHostIdentifier.empty()) {
        CelerraUtils::PrintVMWareHostIdentifier(m_sHostIdentifier);
        ParseHostIdentifier();
      }
    }
  }

  if (!GetSnapData(CELERRA_SNAPINFO_SNAP_NAME, m_sChkptName) ||
      m_sChkptName.empty()) {
    m_pSnapInfo->Log(2, kPreCommonTag, "%s",
                     "Error:Unable to get the snapName.");
    return false;
  }

  if (m_eOperationType == SNAP_OP_SNAP || m_eOperationType == SNAP_OP_MAP ||
      m_eOperationType == SNAP_OP_UNMAP) {
    LoadIntent(kPreCommonTag);
  }

  if (!GetArrayCredsFromDB()) {
    m_pSnapInfo->Log(2, kPreCommonTag,
                     "Failed to get array creds for device[%s].",
                     m_sSnapSourceDevice.c_str());
    const char* pszText =
        "Unable to get array credentials & array identifier.Please add/modify "
        "the array in array management.";
    EvDebug().DebugLvl(kPreCommonTag, -1, JobId(), "%s", pszText);
    SetJPR(JPR_ARRAY_CREDENTIALS_FAILED, pszText);
    return false;
  }
  return true;
}

bool CelerraSnapDevice::PostOperation(ZKSO::SnapStatus nStatus) {
  if (m_pSnapInfo == nullptr) return false;
  std::string sLine;
  switch (static_cast<int>(m_eOperationType)) {
    case SNAP_OP_PREPARE:
      // The name becomes the first field of SM_MDT_SNAP_UUID after the snap.
      if (m_sChkptName.find('|') != std::string::npos) {
        m_pSnapInfo->Log(2, kPostOperationTag,
                         "Unable to store metadata type[SM_MDT_SNAP_UUID] for "
                         "device [%s]: the checkpoint name [%s] holds the "
                         "separator \"|\"",
                         m_sSnapSourceDevice.c_str(), m_sChkptName.c_str());
        return false;
      }
      if (!UpdateFSMetaData()) return false;
      sLine = "Setting Snap UUID [" + m_sChkptName + "]";
      m_pSnapInfo->Log(1, kPostOperationTag, "%s", sLine.c_str());
      m_pSnapInfo->SetSnapName(m_sChkptName.c_str());
      break;
    case SNAP_OP_SNAP:
      if (!UpdateSnapUUIDMetaData()) return false;
      // The checkpoint is recorded: the intent that named it has served.
      m_oIntent.bROChkpt = false;
      StoreIntent();
      sLine = "Setting Snap UUID [" + m_sChkptName + "]";
      m_pSnapInfo->LogMessage(1, sLine.c_str());
      m_pSnapInfo->SetSnapName(m_sChkptName.c_str());
      break;
    case SNAP_OP_UNMAP:
      if (m_bMountInfoLoaded) {
        m_pSnapInfo->Log(1, kPostOperationTag,
                         "Deleting SM_MDT_SNAP_MOUNT for snap[%s].",
                         m_sChkptName.c_str());
        m_pSnapInfo->SetMetaData(SM_MDT_SNAP_MOUNT, nullptr);
      }
      if (m_bSnapUUIDChanged && !UpdateSnapUUIDMetaData()) return false;
      m_oIntent.bRWChkpt = false;
      m_oIntent.bExport = false;
      StoreIntent();
      break;
    case SNAP_OP_MAP:
      // The mount metadata and the snap clone device record the view.
      m_oIntent.bRWChkpt = false;
      m_oIntent.bExport = false;
      StoreIntent();
      break;
    default:
      break;
  }
  m_pSnapInfo->SetStatus(nStatus);
  return true;
}

bool CelerraSnapDevice::SetChkptName(const std::string& sName) {
  int64_t nNow = ZkNow();
  std::string sNewName;
  if (sName.empty()) {
    std::string sSnapName;
    if (!GetSnapData(CELERRA_SNAPINFO_SNAP_NAME, sSnapName) ||
        sSnapName.empty()) {
      if (m_pSnapInfo != nullptr) {
        m_pSnapInfo->Log(2, kSetSnapshotNameTag, "%s",
                         "Error:Unable to get the snapName.");
      }
      return false;
    }
    sNewName =
        sSnapName + "_" + std::to_string(static_cast<unsigned long>(nNow));
  } else {
    if (sName == m_sChkptName) return true;
    sNewName = sName;
  }

  if (sNewName.size() > kMaxChkptNameLength) {
    if (m_pSnapInfo != nullptr) {
      m_pSnapInfo->Log(2, kSetSnapshotNameTag,
                       "Error:Snapshot name [%s] for device [%s] is longer "
                       "than %zu characters.",
                       sNewName.c_str(), m_sSnapSourceDevice.c_str(),
                       kMaxChkptNameLength);
    }
    return false;
  }

  m_sChkptName = sNewName;
  if (sName.empty()) {
    EvDebug().DebugLvl(kSetSnapshotNameTag, 3, JobId(),
                       "Snapshotname [%s] set for device [%s]",
                       m_sChkptName.c_str(), m_sSnapSourceDevice.c_str());
  } else {
    EvDebug().DebugLvl(kSetSnapshotNameTag, 3, JobId(),
                       "Snapshotname changed [%s] for device [%s]",
                       m_sChkptName.c_str(), m_sSnapSourceDevice.c_str());
  }
  return true;
}
