// SPDX-License-Identifier: Apache-2.0
// Delete, revert and reconcile of snapshots that already exist. None has a
// stop handler: delete and reconcile go on after any failure, revert stops
// at the first one (the frame turns an exception into that record's
// failure).
#include <list>
#include <set>
#include <string>
#include <tuple>

#include "engine/OperationDrivers.h"
#include "engine/OperationFrame.h"
#include "host/EvDebug.h"

namespace {

// True (and the line logged) when the record's preparation failed: no
// checkpoint was ever made for it.
bool NeverSnapped(ZKSO::SnapInfo& oRecord, const char* pszTag,
                  const char* pszText) {
  if (oRecord.GetStatus() != ZKSO::READY_FOR_SNAP_FAILED) return false;
  oRecord.Log(1, pszTag, "%s", pszText);
  return true;
}

class DeleteOperation : public RecordOperation {
 public:
  explicit DeleteOperation(OperationFrame& oFrame) : m_oFrame(oFrame) {}

  bool Setup() override {
    m_oClient = ManageCelerra(m_oFrame.JobId());
    return true;
  }

  bool SkipRecord(ZKSO::SnapInfo& oRecord, bool* pbCounted) override {
    if (!NeverSnapped(oRecord, m_oFrame.Tag(),
                      "READY_FOR_SNAP_FAILED. Hence snap is not at all "
                      "created. Marking as deleted.")) {
      return false;
    }
    oRecord.SetStatus(ZKSO::DELETE_SUCCESS);
    *pbCounted = true;
    return true;
  }

  bool Operate(CelerraSnapDevice& oDevice, ZKSO::SnapInfo& oRecord) override {
    GiveCredentials(oDevice, m_oClient);
    oRecord.Log(1, m_oFrame.Tag(), "Deleting chkpt:[%s]",
                oDevice.GetChkptName().c_str());
    // Records of one snapshot share its checkpoint: it is deleted once.
    const ChkptKey oKey{HostOf(oDevice), oDevice.GetChkptId(),
                        oDevice.GetBaselineChkptId()};
    if (m_sDeleted.count(oKey) != 0) {
      oRecord.Log(1, m_oFrame.Tag(),
                  "Chkpt [%s] id [%s] was deleted for another device of this "
                  "request",
                  oDevice.GetChkptName().c_str(), oDevice.GetChkptId().c_str());
      return true;
    }
    if (!oDevice.DeleteChkPt(m_oClient)) {
      oRecord.Log(2, m_oFrame.Tag(), "%s",
                  "Error: Failed to delete FS from chkpt!");
      return false;
    }
    m_sDeleted.insert(oKey);
    return true;
  }

 private:
  // Control host, checkpoint id and baseline id of a deleted checkpoint.
  using ChkptKey = std::tuple<std::string, std::string, std::string>;

  OperationFrame& m_oFrame;
  ManageCelerra m_oClient;
  std::set<ChkptKey> m_sDeleted;  // in this call
};

class RevertOperation : public RecordOperation {
 public:
  explicit RevertOperation(OperationFrame& oFrame) : m_oFrame(oFrame) {}

  bool Setup() override {
    m_oClient = ManageCelerra(m_oFrame.JobId());
    return true;
  }

  bool Operate(CelerraSnapDevice& oDevice, ZKSO::SnapInfo& oRecord) override {
    GiveCredentials(oDevice, m_oClient);
    oRecord.Log(1, m_oFrame.Tag(), "Reverting PFS:[%s] from chkpt:[%s]",
                oDevice.GetStorageResource().sPFSId.c_str(),
                oDevice.GetChkptName().c_str());
    // Records of one snapshot share its checkpoint and file system: the
    // file system is restored once per call, as delete deletes once.
    const RestoreKey oKey{HostOf(oDevice), oDevice.GetStorageResource().sPFSId,
                          oDevice.GetChkptId(), oDevice.GetBaselineChkptId()};
    if (m_sRestored.count(oKey) != 0) {
      oRecord.Log(1, m_oFrame.Tag(),
                  "PFS [%s] was restored from chkpt [%s] id [%s] for another "
                  "device of this request",
                  oDevice.GetStorageResource().sPFSId.c_str(),
                  oDevice.GetChkptName().c_str(), oDevice.GetChkptId().c_str());
      return true;
    }
    if (!oDevice.RevertFSFromChkPt(m_oClient)) {
      oRecord.Log(2, m_oFrame.Tag(), "%s",
                  "Error: Failed to revert FS from chkpt!");
      return false;
    }
    m_sRestored.insert(oKey);
    return true;
  }

 private:
  // Control host, file system, checkpoint id and baseline id of a restore.
  using RestoreKey =
      std::tuple<std::string, std::string, std::string, std::string>;

  OperationFrame& m_oFrame;
  ManageCelerra m_oClient;
  std::set<RestoreKey> m_sRestored;  // in this call
};

class ReconcileOperation : public RecordOperation {
 public:
  explicit ReconcileOperation(OperationFrame& oFrame) : m_oFrame(oFrame) {}

  bool Setup() override {
    m_oClient = ManageCelerra(m_oFrame.JobId());
    return true;
  }

  bool SkipRecord(ZKSO::SnapInfo& oRecord, bool* pbCounted) override {
    *pbCounted = NeverSnapped(oRecord, m_oFrame.Tag(),
                              "READY_FOR_SNAP_FAILED. Hence snap is not at all "
                              "created. Skipping the snap for reconciliation");
    return *pbCounted;
  }

  bool Operate(CelerraSnapDevice& oDevice, ZKSO::SnapInfo& oRecord) override {
    GiveCredentials(oDevice, m_oClient);
    const std::string sChkptName = oDevice.GetChkptName();
    // The list is kept across records; the client decides whether a fetch
    // replaces or extends it.
    if (!m_oClient.GetChkPointsInfo("", m_lChkpts)) {
      m_oFrame.Log().error("%s",
                           "ZKSnapEngineCelerra(996): -Error-: Unable to get "
                           "the list of all chkpts,Continuing with the next "
                           "snap");
      m_oFrame.LogArrayErrorStatus(m_oClient);
      return false;
    }
    bool bFound = false;
    if (!oDevice.ReconcileChkPt(m_oClient, m_lChkpts, bFound)) {
      m_oFrame.Log().error(
          "%s",
          "ZKSnapEngineCelerra(1005): -Error-: Failed to reconcile snaps");
      return false;
    }
    if (!bFound) {
      _CelerraArrayCredentials oCredentials;
      oDevice.GetArrayCredentials(oCredentials);
      oRecord.Log(1, m_oFrame.Tag(),
                  "Warning:Unable find the snap :[%s] on controlhost [%s]. "
                  "Seems to have been deleted ",
                  sChkptName.c_str(), oCredentials.sHostName.c_str());
      oRecord.SetStatus(ZKSO::SNAP_NOT_FOUND);
    }
    return true;
  }

 private:
  OperationFrame& m_oFrame;
  ManageCelerra m_oClient;
  std::list<CelerraChkPtInfo> m_lChkpts;
};

}  // namespace

ZKSO::ResultCode RunDelete(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                           ZKSO::ZKOSUtil* pOSUtil) {
  OperationFrame oFrame(kDeletePolicy, ppSnapInfo, nCount, pOSUtil);
  DeleteOperation oDelete(oFrame);
  return oFrame.Run(oDelete);
}

ZKSO::ResultCode RunRevert(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                           ZKSO::ZKOSUtil* pOSUtil) {
  OperationFrame oFrame(kRevertPolicy, ppSnapInfo, nCount, pOSUtil);
  RevertOperation oRevert(oFrame);
  return oFrame.Run(oRevert);
}

ZKSO::ResultCode RunReconcile(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                              ZKSO::ZKOSUtil* pOSUtil) {
  OperationFrame oFrame(kReconcilePolicy, ppSnapInfo, nCount, pOSUtil);
  ReconcileOperation oReconcile(oFrame);
  return oFrame.Run(oReconcile);
}
