// SPDX-License-Identifier: Apache-2.0
// The per-record frame shared by the seven operation functions
// (zkso_prepareDevices, zkso_snapDevices, zkso_mapSnaps, zkso_unmapSnaps,
// zkso_deleteSnaps, zkso_revertSnaps, zkso_reconcileSnaps).
//
// For each record, in array order: make a device object for it, prepare it,
// run the operation's own step, complete it with the operation's success
// status, destroy it, count the record. Then log a summary and answer a
// result code: RESULT_SUCCESS when every record succeeded,
// RESULT_PARTIAL_SUCCESS when some did, RESULT_FAILURE when none did (also
// for a count of 0).
//
// What each function does on a failure is its OperationPolicy (a table in
// OperationFrame.cpp). Prepare, snap, map and unmap stop by throwing an int
// that one handler around the whole loop catches; that handler also takes
// any other exception raised while records are processed and reports the
// record in hand. Delete, revert and reconcile have no such handler: an
// exception raised during one record's turn is a failure of that record
// under the function's policy.
//
// Ownership: the records, the array and the utility object are the host's,
// borrowed for one call. The frame owns the device object in hand
// (CelerraSnapDevicePtr releases it through CelerraSnapDevice::Delete on
// every path). A null array is read as an array of null records; a null
// record is a failed record under the policy's "no device" action.
//
// One frame serves one call on one thread.
#ifndef ZK_ENGINE_OPERATIONFRAME_H_
#define ZK_ENGINE_OPERATIONFRAME_H_

#include <string>
#include <vector>

#include "device/CelerraSnapDevice.h"
#include "host/EvDebug.h"
#include "host/ManageCelerra.h"
#include "host/ZKSnapHost.h"

// What a failed record means for the rest of the request.
enum class FailureAction { kNextRecord, kStop };

// How one operation function walks its records.
struct OperationPolicy {
  const char* pszTag;                 // tag of every log line
  _SnapOperationType eOperationType;  // passed to GetInstance
  bool bWriteNoDeviceStatus;          // write eNoDeviceStatus when no device
  ZKSO::SnapStatus eNoDeviceStatus;
  FailureAction eOnNoDevice;
  FailureAction eOnPreOperationFailure;
  FailureAction eOnOperationFailure;  // the operation step or the completion
  bool bHasCompletion;                // PostOperation(eSuccessStatus)
  ZKSO::SnapStatus eSuccessStatus;
  bool bSetJobIdOnLog;  // the log context gets the job id (setJobId)
  bool bStopHandler;    // a stop is thrown and caught around the loop
  // Summary texts; each "%d" is replaced by a number. No request line when
  // null.
  const char* pszRequestLine;
  const char* pszSuccessLine;  // succeeded, number of records
  const char* pszFailureLine;
};

extern const OperationPolicy kPreparePolicy;
extern const OperationPolicy kSnapPolicy;
extern const OperationPolicy kMapPolicy;
extern const OperationPolicy kUnmapPolicy;
extern const OperationPolicy kDeletePolicy;
extern const OperationPolicy kRevertPolicy;
extern const OperationPolicy kReconcilePolicy;

// The parts an operation function adds to the frame. Every hook has a
// default that adds nothing.
class RecordOperation {
 public:
  virtual ~RecordOperation() = default;

  // Function setup, before the first record. False: no record is processed
  // (the summary still follows).
  virtual bool Setup() { return true; }
  // Record-level skip, before a device is made. True ends the record's
  // turn; *pbCounted says whether it counts as succeeded.
  virtual bool SkipRecord(ZKSO::SnapInfo& /*oRecord*/, bool* /*pbCounted*/) {
    return false;
  }
  // The order in which the records are walked: vOrder comes holding 0, 1,
  // ... in array order and may be rearranged (never shortened).
  virtual void Order(std::vector<int>& /*vOrder*/) {}
  // The operation step, between PreOperation and PostOperation. False is a
  // failure under the policy.
  virtual bool Operate(CelerraSnapDevice& /*oDevice*/,
                       ZKSO::SnapInfo& /*oRecord*/) {
    return true;
  }
  // Report of a stop (functions with a stop handler only). pRecord is the
  // record in hand; null when that record pointer was null or no record was
  // taken yet.
  virtual void ReportStop(ZKSO::SnapInfo* /*pRecord*/) {}
  // After the loop, before the summary.
  virtual void AfterLoop() {}
};

class OperationFrame {
 public:
  // REQUIRES: pOSUtil != nullptr. ppSnapInfo may be null; a count of 0 or
  // less means no records.
  OperationFrame(const OperationPolicy& oPolicy, ZKSO::SnapInfo** ppSnapInfo,
                 int16_t nCount, ZKSO::ZKOSUtil* pOSUtil);
  OperationFrame(const OperationFrame&) = delete;
  OperationFrame& operator=(const OperationFrame&) = delete;

  // The whole frame: Begin, the record loop, AfterLoop, Summarize, release
  // of the device in hand, Result.
  ZKSO::ResultCode Run(RecordOperation& oOperation);

  // Pieces for a function that walks its records itself (snap).
  void Begin();      // job id, log context, request line
  void Summarize();  // success or failure line; never throws
  ZKSO::ResultCode Result() const;
  void CountSucceeded() { ++m_nSucceeded; }

  // Array error report for the record in hand: posts oError (the refusal
  // that stopped it) as reason message nMessageId on pRecord (when not
  // null), then logs its status line. A blank error (no file server command
  // failed) is never posted as a reason: the reason the device in hand
  // posted stays, or pszOwnText is posted when it posted none.
  void ReportError(const CelerraError& oError, ZKSO::SnapInfo* pRecord,
                   int nMessageId, const char* pszOwnText);
  // The file server error that stopped the record in hand, for its stop
  // report: the one its device settled (CelerraSnapDevice::StopCause), or
  // oClient's last error when no device is in hand.
  CelerraError StopCause(ManageCelerra& oClient) const;
  // "Component:..Facility:..Message:..MessageCode:..Severity:..
  // Description:.. Action:.. Diagnostics:.."
  static std::string FormArrayErrorText(const CelerraError& oError);
  // Level -1 "Status [%d] returned by Celerra, ..." from a fresh read of
  // oClient's last error; gives the log context the job id first.
  void LogArrayErrorStatus(ManageCelerra& oClient);

  const OperationPolicy& Policy() const { return m_oPolicy; }
  const char* Tag() const { return m_oPolicy.pszTag; }
  ZKUint64 JobId() const { return m_nJobId; }
  EvEvent& Log() { return m_oLog; }
  ZKSO::ZKOSUtil* OSUtil() const { return m_pOSUtil; }
  int Count() const { return m_nCount; }
  int Succeeded() const { return m_nSucceeded; }
  // Record i, or null (null array, null entry, i out of range).
  ZKSO::SnapInfo* RecordAt(int i) const;
  ZKSO::SnapInfo* RecordInHand() const { return m_pRecordInHand; }

 private:
  void RunRecords(RecordOperation& oOperation);
  FailureAction RunRecord(int i, RecordOperation& oOperation);
  // Logs one summary text with its numbers put in.
  void LogCounts(int nLevel, const char* pszText, int nFirst, int nSecond);

  const OperationPolicy& m_oPolicy;
  ZKSO::SnapInfo** const m_ppSnapInfo;  // borrowed; may be null
  const int m_nRequested;               // the count as the host passed it
  const int m_nCount;  // records to walk: the count, or 0 when negative
  ZKSO::ZKOSUtil* const m_pOSUtil;  // borrowed
  ZKUint64 m_nJobId;
  EvEvent m_oLog;
  int m_nSucceeded;
  ZKSO::SnapInfo* m_pRecordInHand;  // borrowed
  CelerraSnapDevicePtr m_pDeviceInHand;
};

// Replaces each "%d" of pszText, in order, by the next number (at most
// two). Other text is copied as is.
std::string SubstituteCounts(const char* pszText, int nFirst, int nSecond);

#endif  // ZK_ENGINE_OPERATIONFRAME_H_
