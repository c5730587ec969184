// SPDX-License-Identifier: Apache-2.0
// Revert, delete and reconcile of the checkpoint a snapshot stands for. A
// snapshot with a baseline id is itself a writable checkpoint made from the
// read-only checkpoint named m_sChkptName + "_baseline".
#include <list>
#include <string>

#include "device/CelerraSnapDevice.h"
#include "device/CelerraStatusLog.h"
#include "host/EvDebug.h"

namespace {

const char kRevertTag[] = "CelerraSnapDevice::RevertFSFromChkPt";
const char kDeleteTag[] = "CelerraSnapDevice::DeleteChkPt";

}  // namespace

bool CelerraSnapDevice::RevertFSFromChkPt(ManageCelerra& oClient) {
  // Writable checkpoints cannot be restored from: a writable snapshot is
  // restored from its baseline.
  const bool bBaseline = !m_sBaselineChkptId.empty();
  const std::string sName =
      bBaseline ? m_sChkptName + "_baseline" : m_sChkptName;
  const std::string& sId = bBaseline ? m_sBaselineChkptId : m_sChkptId;
  if (oClient.RestorePFSFromChkPt(sName, sId, m_oStorageResource.sPFSId)) {
    return true;
  }

  EvDebug oLog;
  oLog.setJobId(JobId());
  oLog.error(
      "CelerraSnapDevice(1498): -Error-: Unable to revert PFS:[%s] "
      "ChkPt:[%s]",
      m_oStorageResource.sPFSId.c_str(), m_sChkptName.c_str());
  const CelerraError oError = oClient.GetLastError();
  const std::string sText =
      "Component:" + oError.sComponent + "Facility:" + oError.sFacility +
      "Message:" + oError.sMessage + "MessageCode:" + oError.sMessageCode +
      "Severity:" + oError.sSeverity + "Description:" + oError.sDescription +
      " Action:" + oError.sAction + " Diagnostics:" + oError.sDiagnostics;
  LogCelerraStatus(kRevertTag, JobId(), oClient.GetLastError());
  SetJPR(JPR_REVERT_FAILED, sText);
  return false;
}

bool CelerraSnapDevice::DeleteChkPt(ManageCelerra& oClient) {
  // With a baseline the snapshot's writable checkpoint and its baseline go
  // together.
  const bool bBaseline = !m_sBaselineChkptId.empty();
  if (oClient.DeleteChkPt(m_sChkptId, m_sBaselineChkptId, bBaseline)) {
    return true;
  }
  // A deletion whose reply was lost, or made for another record of the
  // snapshot: one query tells whether the checkpoint is still there.
  const CelerraError oCause = oClient.GetLastError();
  bool bPresent = true;
  auto fnOurs = [&](const CelerraChkPtInfo& oChkpt) {
    return oChkpt.sChkptId == m_sChkptId ||
           (bBaseline && oChkpt.sChkptId == m_sBaselineChkptId);
  };
  if (FindChkpt(oClient, fnOurs, &bPresent) && !bPresent) {
    if (m_pSnapInfo != nullptr) {
      m_pSnapInfo->Log(1, kDeleteTag,
                       "Chkpt [%s] id [%s] is no longer on the file server: "
                       "already deleted",
                       m_sChkptName.c_str(), m_sChkptId.c_str());
    }
    return true;
  }
  KeepRefusal(oCause);
  EvDebug oLog;
  oLog.setJobId(JobId());
  if (bBaseline) {
    oLog.error(
        "CelerraSnapDevice(1530): -Error-: Unable to delete ChkPt (aka "
        "snapshot):[%s]",
        m_sChkptId.c_str());
  } else {
    oLog.error(
        "CelerraSnapDevice(1520): -Error-: Unable to delete ChkPt (aka "
        "snapshot):[%s]",
        m_sChkptId.c_str());
  }
  LogCelerraStatus(kDeleteTag, JobId(), oCause);
  return false;
}

bool CelerraSnapDevice::ReconcileChkPt(ManageCelerra& /*oClient*/,
                                       std::list<CelerraChkPtInfo>& lChkpts,
                                       bool& bFound) {
  bFound = false;
  for (const CelerraChkPtInfo& oChkpt : lChkpts) {
    if (oChkpt.sChkptId == m_sChkptId &&
        oChkpt.sBaselineChkptId == m_sBaselineChkptId &&
        oChkpt.sChkptName == m_sChkptName) {
      bFound = true;
      break;
    }
  }
  return true;
}
