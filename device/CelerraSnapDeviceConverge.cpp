// SPDX-License-Identifier: Apache-2.0
// What lets a map, unmap or delete be repeated until it succeeds: the one
// query after a refusal that tells whether a checkpoint is there, the undo
// of a map that failed after it made something, and the refusal that
// stopped the record.
#include <string.h>

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "device/CelerraSnapDevice.h"
#include "host/EvDebug.h"

void CelerraSnapDevice::ForgetHandledRefusal(ManageCelerra& oClient) {
  oClient = ManageCelerra(JobId());
  oClient.SetControlHostInfo(m_oArrayCredentials.sHostName,
                             m_oArrayCredentials.sHostUserName,
                             m_oArrayCredentials.sHostPassword);
}

void CelerraSnapDevice::SettleStopCause(ManageCelerra& oClient) {
  if (m_bHasKeptRefusal) {
    m_oStopCause = m_oKeptRefusal;
  } else {
    m_oStopCause =
        m_sLastError.empty() ? oClient.GetLastError() : CelerraError();
  }
  m_bStopCauseSettled = true;
}

CelerraError CelerraSnapDevice::StopCause(ManageCelerra& oClient) const {
  return m_bStopCauseSettled ? m_oStopCause : oClient.GetLastError();
}

bool CelerraSnapDevice::FindChkpt(
    ManageCelerra& oClient,
    const std::function<bool(const CelerraChkPtInfo&)>& fnMatch,
    bool* pbPresent, CelerraChkPtInfo* pFound) {
  // Every checkpoint of the file server: ids and names are unique on it,
  // and a record's stored file system need not be the checkpoint's.
  std::list<CelerraChkPtInfo> lChkpts;
  if (!oClient.GetChkPointsInfo("", lChkpts)) return false;
  ForgetHandledRefusal(oClient);
  *pbPresent = false;
  for (const CelerraChkPtInfo& oChkpt : lChkpts) {
    if (!fnMatch(oChkpt)) continue;
    *pbPresent = true;
    if (pFound != nullptr) *pFound = oChkpt;
    break;
  }
  return true;
}

bool CelerraSnapDevice::ReadMountText(ZKSO::SnapInfo& oRecord,
                                      std::string* psText) {
  return ReadMetaDataQuietly(oRecord, SM_MDT_SNAP_MOUNT, psText);
}

bool CelerraSnapDevice::ReadMetaDataQuietly(ZKSO::SnapInfo& oRecord, int nType,
                                            std::string* psText) {
  psText->clear();
  std::vector<char> vBuffer(4097, '\0');
  uint16_t nSize = 4096;
  int nResult = oRecord.GetMetaData(nType, vBuffer.data(), &nSize);
  if (nResult == 2 && nSize > 0 && nSize < UINT16_MAX) {
    vBuffer.assign(static_cast<size_t>(nSize) + 1, '\0');
    nResult = oRecord.GetMetaData(nType, vBuffer.data(), &nSize);
  }
  if (nResult != 0) return false;
  psText->assign(vBuffer.data(), strnlen(vBuffer.data(), vBuffer.size()));
  return true;
}

void CelerraSnapDevice::UndoMap(ManageCelerra& oClient, const char* pszTag) {
  if (m_pSnapInfo == nullptr) return;
  CelerraMountWork& oWork = m_oMountWork;
  const bool bRWChkptStays = !RunUndoPlan(oClient, pszTag);
  if (oWork.bWroteMountInfo && !bRWChkptStays) {
    oWork.bWroteMountInfo = false;
    const std::string sStored = m_sRWChkptName + "|" + m_sRWChkptId;
    if (oWork.bMountInfoBefore && !oWork.sMountInfoBefore.empty()) {
      // The record goes back to what it held before this call.
      m_pSnapInfo->SetMetaData(SM_MDT_SNAP_MOUNT,
                               oWork.sMountInfoBefore.c_str());
      m_pSnapInfo->Log(2, pszTag,
                       "Put SM_MDT_SNAP_MOUNT [%s] back in place of [%s] that "
                       "this map stored",
                       oWork.sMountInfoBefore.c_str(), sStored.c_str());
    } else {
      m_pSnapInfo->SetMetaData(SM_MDT_SNAP_MOUNT, nullptr);
      m_pSnapInfo->Log(2, pszTag,
                       "Removed SM_MDT_SNAP_MOUNT [%s] that this map stored",
                       sStored.c_str());
    }
  }
  StoreIntent();
}

void CelerraSnapDevice::LoadIntent(const char* pszTag) {
  m_oPriorIntent = _CelerraIntent();
  m_oIntent = _CelerraIntent();
  m_sStoredIntent.clear();
  if (m_pSnapInfo == nullptr) return;
  // Read without a line in the job log: most records hold none.
  std::string sText;
  ReadMetaDataQuietly(*m_pSnapInfo, SM_MDT_CELERRA_INTENT, &sText);
  m_sStoredIntent = sText;
  std::string sWhy;
  if (!ParseIntent(sText, &m_oPriorIntent, &sWhy)) {
    m_pSnapInfo->Log(1, pszTag,
                     "Warning: SM_MDT_CELERRA_INTENT of %zu bytes cannot be "
                     "read (%s): taken as no intent",
                     sText.size(), sWhy.c_str());
  }
  m_oIntent = m_oPriorIntent;
}

void CelerraSnapDevice::StoreIntent() {
  if (m_pSnapInfo == nullptr) return;
  const std::string sText = FormatIntent(m_oIntent);
  if (sText == m_sStoredIntent) return;
  m_pSnapInfo->SetMetaData(SM_MDT_CELERRA_INTENT,
                           sText.empty() ? nullptr : sText.c_str());
  m_sStoredIntent = sText;
}

void CelerraSnapDevice::IntendROChkpt(const std::string& sName) {
  m_oIntent.bROChkpt = true;
  m_oIntent.sROName = sName;
  m_oIntent.sROPFSId = m_oStorageResource.sPFSId;
  StoreIntent();
}

void CelerraSnapDevice::ExportIntentAsBefore() {
  m_oIntent.bExport = m_oPriorIntent.bExport;
  m_oIntent.oExport = m_oPriorIntent.oExport;
}

void CelerraSnapDevice::DropROChkptIntent() {
  m_oIntent.bROChkpt = m_oPriorIntent.bROChkpt;
  m_oIntent.sROName = m_oPriorIntent.sROName;
  m_oIntent.sROPFSId = m_oPriorIntent.sROPFSId;
  StoreIntent();
}

bool CelerraSnapDevice::NamesExport(const _CelerraViewExport& oFound) const {
  // An export of another checkpoint than the one in hand is nobody's here.
  if (!oFound.sOfId.empty() && !m_sRWChkptId.empty() &&
      oFound.sOfId != m_sRWChkptId) {
    return false;
  }
  if (m_oPriorIntent.NamesExport(oFound)) return true;
  // The record holds the view: a map of it succeeded.
  return m_oMountWork.bCloneOfView &&
         (!m_sBaselineChkptId.empty() || m_oMountWork.HoldsView(m_sRWChkptId));
}

std::string CelerraSnapDevice::HeldROChkptId(const std::string& sName) {
  if (m_pSnapInfo == nullptr) return "";
  std::string sText;
  ReadMetaDataQuietly(*m_pSnapInfo, SM_MDT_SNAP_UUID, &sText);
  const std::string sPrefix = sName + "|";
  if (sText.compare(0, sPrefix.size(), sPrefix) != 0) return "";
  const size_t nEnd = sText.find('|', sPrefix.size());
  return sText.substr(sPrefix.size(), nEnd == std::string::npos
                                          ? std::string::npos
                                          : nEnd - sPrefix.size());
}

bool CelerraSnapDevice::RunUndoPlan(ManageCelerra& oClient,
                                    const char* pszTag) {
  CelerraMountWork& oWork = m_oMountWork;
  bool bRWChkptGone = true;
  for (const _CelerraUndoStep& oStep : oWork.UndoPlan()) {
    const _CelerraViewExport& oExport = oStep.oExport;
    switch (oStep.eKind) {
      case _CelerraUndoStep::Kind::kRemoveExport:
        oWork.bMadeExport = false;
        if (oClient.DeleteNFSShare(oExport.sSharePath, oExport.sMoverId)) {
          ExportIntentAsBefore();
          m_pSnapInfo->Log(2, pszTag,
                           "Removed NFS share [%s] that this map made",
                           oExport.sSharePath.c_str());
        } else {
          m_pSnapInfo->Log(2, pszTag,
                           "Error: Unable to remove NFS share [%s] that this "
                           "map made",
                           oExport.sSharePath.c_str());
        }
        break;
      case _CelerraUndoStep::Kind::kDeleteRWChkpt:
        oWork.eRWChkpt = RWChkptOrigin::kNone;
        if (oClient.DeleteChkPt(m_sRWChkptId, m_sBaselineChkptId, false)) {
          // Gone, and its export with it: nothing of it is left to intend.
          RestoreRWChkptIntent(false);
          ExportIntentAsBefore();
          m_pSnapInfo->Log(2, pszTag,
                           "Deleted RW chkpt [%s] id [%s] that this map made",
                           m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
        } else {
          bRWChkptGone = false;
          m_pSnapInfo->Log(2, pszTag,
                           "Error: Unable to delete RW chkpt [%s] id [%s] that "
                           "this map made: its SM_MDT_SNAP_MOUNT stays for "
                           "unmap",
                           m_sRWChkptName.c_str(), m_sRWChkptId.c_str());
        }
        break;
      case _CelerraUndoStep::Kind::kPutBackExport: {
        // The writable checkpoint stays mapped: so does its export, exactly
        // as it was removed (path, data mover and hosts).
        std::vector<std::string> vAccessHosts = oExport.oHosts.vAccessHosts;
        std::vector<std::string> vRWHosts = oExport.oHosts.vRWHosts;
        std::vector<std::string> vRootHosts = oExport.oHosts.vRootHosts;
        if (oClient.CreateNFSShare(oExport.sSharePath, oExport.sMoverId, false,
                                   vAccessHosts, vRWHosts, vRootHosts)) {
          oWork.bRemovedExport = false;
          m_pSnapInfo->Log(2, pszTag,
                           "Restored NFS share [%s] of RW checkpoint [%s], "
                           "which stays",
                           oExport.sSharePath.c_str(), m_sRWChkptName.c_str());
        } else {
          m_pSnapInfo->Log(2, pszTag,
                           "Error: Unable to restore NFS share [%s] of RW "
                           "checkpoint [%s]",
                           oExport.sSharePath.c_str(), m_sRWChkptName.c_str());
        }
        break;
      }
    }
  }
  return bRWChkptGone;
}
