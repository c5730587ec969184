// SPDX-License-Identifier: Apache-2.0
#include "engine/OperationFrame.h"

#include "device/CelerraStatusLog.h"

namespace {

constexpr FailureAction kStop = FailureAction::kStop;
constexpr FailureAction kNext = FailureAction::kNextRecord;

}  // namespace

// Tag, operation, no device (write?, status, action), preparation failure,
// operation or completion failure, completion?, success status, job id on
// the log context?, stop handler?, request / success / failure line.
const OperationPolicy kPreparePolicy = {
    "ZKSnapCelerra::zkso_prepareDevices",
    SNAP_OP_PREPARE,
    true,
    ZKSO::READY_FOR_SNAP_FAILED,
    kStop,
    kStop,
    kStop,
    true,
    ZKSO::READY_FOR_SNAP,
    false,
    true,
    "Request to prepare snaps for [%d] devices",
    "Successfully prepared snaps for [%d of %d] devices.",
    "Failed to prepare any snap"};

const OperationPolicy kSnapPolicy = {
    "ZKSnapCelerra::zkso_snapDevices",
    SNAP_OP_SNAP,
    true,
    ZKSO::SNAP_FAILED,
    kStop,
    kStop,
    kStop,
    true,
    ZKSO::SNAP_SUCCESS,
    false,
    true,
    "Request to create snaps for [%d] devices",
    "Successfully created snaps for [%d of %d] devices.",
    "Failed to create any snap"};

const OperationPolicy kMapPolicy = {
    "ZKSO::ResultCode zkso_mapSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)",
    SNAP_OP_MAP,
    true,
    ZKSO::MAP_FAILED,
    kStop,
    kStop,
    kStop,
    true,
    ZKSO::MAP_SUCCESS,
    true,
    true,
    nullptr,
    "Successfully mapped snaps for [%d of %d] devices.",
    "Failed to reconcile map any snap"};

const OperationPolicy kUnmapPolicy = {
    "ZKSO::ResultCode zkso_unmapSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)",
    SNAP_OP_UNMAP,
    true,
    ZKSO::UNMAP_FAILED,
    kNext,
    kNext,
    kStop,
    true,
    ZKSO::UNMAP_SUCCESS,
    true,
    true,
    nullptr,
    "Successfully unmapped snaps for [%d of %d] devices.",
    "Failed to unmap any snap"};

const OperationPolicy kDeletePolicy = {
    "ZKSO::ResultCode zkso_deleteSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)",
    SNAP_OP_DELETE,
    true,
    ZKSO::DELETE_FAILED,
    kNext,
    kNext,
    kNext,
    true,
    ZKSO::DELETE_SUCCESS,
    true,
    false,
    "Request to delete snaps for [%d] devices",
    "Successfully deleted snaps for [%d of %d] devices.",
    "Failed to delete any snap"};

const OperationPolicy kRevertPolicy = {
    "ZKSO::ResultCode zkso_revertSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)",
    SNAP_OP_REVERT,
    true,
    ZKSO::REVERT_FAILED,
    kStop,
    kStop,
    kStop,
    true,
    ZKSO::REVERT_SUCCESS,
    true,
    false,
    "Request to revert snaps for [%d] devices",
    "Successfully reverted snaps for [%d of %d] devices.",
    "Failed to revert any snap"};

const OperationPolicy kReconcilePolicy = {
    "ZKSO::ResultCode zkso_reconcileSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)",
    SNAP_OP_RECONCILE,
    false,
    ZKSO::SNAP_STATUS_UNKNOWN,
    kNext,
    kNext,
    kNext,
    false,
    ZKSO::SNAP_STATUS_UNKNOWN,
    true,
    false,
    "Request to reconcile snaps for [%d] devices",
    "Successfully reconcilled snaps for [%d of %d] devices.",
    "Failed to reconcile any snap"};

std::string SubstituteCounts(const char* pszText, int nFirst, int nSecond) {
  std::string sOut;
  if (pszText == nullptr) return sOut;
  const int aNumbers[2] = {nFirst, nSecond};
  int nUsed = 0;
  for (const char* p = pszText; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 'd' && nUsed < 2) {
      sOut += std::to_string(aNumbers[nUsed++]);
      ++p;
    } else {
      sOut.push_back(*p);
    }
  }
  return sOut;
}

OperationFrame::OperationFrame(const OperationPolicy& oPolicy,
                               ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                               ZKSO::ZKOSUtil* pOSUtil)
    : m_oPolicy(oPolicy),
      m_ppSnapInfo(ppSnapInfo),
      m_nRequested(nCount),
      m_nCount(nCount > 0 ? nCount : 0),
      m_pOSUtil(pOSUtil),
      m_nJobId(0),
      m_nSucceeded(0),
      m_pRecordInHand(nullptr) {}

ZKSO::SnapInfo* OperationFrame::RecordAt(int i) const {
  if (m_ppSnapInfo == nullptr || i < 0 || i >= m_nCount) return nullptr;
  return m_ppSnapInfo[i];
}

void OperationFrame::LogCounts(int nLevel, const char* pszText, int nFirst,
                               int nSecond) {
  const std::string sText = SubstituteCounts(pszText, nFirst, nSecond);
  m_oLog.DebugLvl(Tag(), nLevel, m_nJobId, "%s", sText.c_str());
}

void OperationFrame::Begin() {
  m_nJobId = m_pOSUtil->GetJobId();
  if (m_oPolicy.bSetJobIdOnLog) m_oLog.setJobId(m_nJobId);
  if (m_oPolicy.pszRequestLine != nullptr) {
    LogCounts(0, m_oPolicy.pszRequestLine, m_nRequested, 0);
  }
}

void OperationFrame::Summarize() {
  // The count is final here: a line that cannot be logged (no memory for
  // its text) must not turn the result around.
  try {
    if (m_nSucceeded > 0) {
      LogCounts(0, m_oPolicy.pszSuccessLine, m_nSucceeded, m_nCount);
    } else {
      LogCounts(-1, m_oPolicy.pszFailureLine, 0, 0);
    }
  } catch (...) {
  }
}

ZKSO::ResultCode OperationFrame::Result() const {
  if (m_nSucceeded == 0) return ZKSO::RESULT_FAILURE;
  if (m_nSucceeded < m_nCount) return ZKSO::RESULT_PARTIAL_SUCCESS;
  return ZKSO::RESULT_SUCCESS;
}

ZKSO::ResultCode OperationFrame::Run(RecordOperation& oOperation) {
  Begin();
  if (m_oPolicy.bStopHandler) {
    try {
      RunRecords(oOperation);
    } catch (...) {
      // A stop (an int) or anything else raised while records were
      // processed: the record in hand keeps the failure status its
      // preparation wrote; the rest are not touched.
      try {
        oOperation.ReportStop(m_pRecordInHand);
      } catch (...) {
        // The report itself failed (no memory): the records already hold
        // their outcome, and so does the count.
      }
    }
  } else {
    RunRecords(oOperation);
  }
  // Reports after the work; the records and the count are final.
  try {
    oOperation.AfterLoop();
  } catch (...) {
  }
  Summarize();
  m_pDeviceInHand.reset();
  return Result();
}

void OperationFrame::RunRecords(RecordOperation& oOperation) {
  if (!oOperation.Setup()) return;
  std::vector<int> vOrder(m_nCount);
  for (int i = 0; i < m_nCount; ++i) vOrder[i] = i;
  oOperation.Order(vOrder);
  for (int i : vOrder) {
    FailureAction eAction;
    if (m_oPolicy.bStopHandler) {
      eAction = RunRecord(i, oOperation);
      if (eAction == kStop) throw i;
    } else {
      try {
        eAction = RunRecord(i, oOperation);
      } catch (...) {
        eAction = m_oPolicy.eOnOperationFailure;
      }
      if (eAction == kStop) break;
    }
    m_pDeviceInHand.reset();
  }
}

// One record's turn. kNextRecord after a success too; a failure answers the
// policy's action and leaves the device (if any) in hand.
FailureAction OperationFrame::RunRecord(int i, RecordOperation& oOperation) {
  m_pDeviceInHand.reset();
  m_pRecordInHand = RecordAt(i);
  if (m_pRecordInHand == nullptr) {
    m_oLog.DebugLvl(Tag(), -1, m_nJobId, "Snap info record [%d] is missing", i);
    return m_oPolicy.eOnNoDevice;
  }
  ZKSO::SnapInfo& oRecord = *m_pRecordInHand;

  bool bCounted = false;
  if (oOperation.SkipRecord(oRecord, &bCounted)) {
    if (bCounted) CountSucceeded();
    return kNext;
  }

  m_pDeviceInHand.reset(CelerraSnapDevice::GetInstance(
      m_pRecordInHand, m_pOSUtil, m_oPolicy.eOperationType));
  if (!m_pDeviceInHand) {
    if (m_oPolicy.bWriteNoDeviceStatus) {
      oRecord.SetStatus(m_oPolicy.eNoDeviceStatus);
    }
    return m_oPolicy.eOnNoDevice;
  }
  if (!m_pDeviceInHand->PreOperation()) {
    m_oLog.DebugLvl(Tag(), -1, m_nJobId, "Failed to do PreOperation");
    return m_oPolicy.eOnPreOperationFailure;
  }
  if (!oOperation.Operate(*m_pDeviceInHand, oRecord)) {
    return m_oPolicy.eOnOperationFailure;
  }
  if (m_oPolicy.bHasCompletion &&
      !m_pDeviceInHand->PostOperation(m_oPolicy.eSuccessStatus)) {
    m_oLog.DebugLvl(Tag(), -1, m_nJobId, "Failed to do Postoperation");
    return m_oPolicy.eOnOperationFailure;
  }
  CountSucceeded();
  m_pDeviceInHand.reset();
  return kNext;
}

std::string OperationFrame::FormArrayErrorText(const CelerraError& oError) {
  return "Component:" + oError.sComponent + "Facility:" + oError.sFacility +
         "Message:" + oError.sMessage + "MessageCode:" + oError.sMessageCode +
         "Severity:" + oError.sSeverity + "Description:" + oError.sDescription +
         " Action:" + oError.sAction + " Diagnostics:" + oError.sDiagnostics;
}

void OperationFrame::LogArrayErrorStatus(ManageCelerra& oClient) {
  const CelerraError oError = oClient.GetLastError();
  m_oLog.setJobId(m_nJobId);
  LogCelerraStatus(Tag(), m_nJobId, oError);
}

CelerraError OperationFrame::StopCause(ManageCelerra& oClient) const {
  return m_pDeviceInHand ? m_pDeviceInHand->StopCause(oClient)
                         : oClient.GetLastError();
}

void OperationFrame::ReportError(const CelerraError& oError,
                                 ZKSO::SnapInfo* pRecord, int nMessageId,
                                 const char* pszOwnText) {
  const bool bBlank = oError.nStatus == 0 && oError.sMessageCode.empty() &&
                      oError.sMessage.empty();
  if (!bBlank) {
    const std::string sText = FormArrayErrorText(oError);
    if (pRecord != nullptr) pRecord->SetJPR(nMessageId, sText.c_str());
    m_oLog.setJobId(m_nJobId);
    LogCelerraStatus(Tag(), m_nJobId, oError);
    return;
  }
  if (pRecord == nullptr) return;
  if (m_pDeviceInHand && !m_pDeviceInHand->GetLastReason().empty()) return;
  pRecord->SetJPR(nMessageId, pszOwnText);
}
