// The fault sweep: for each operation over a request of several records on
// two control hosts, NFS and NAS devices mixed, every file server command
// the operation sends is made to fail in turn, once and from then on. After
// each run the result code must match the records' outcomes, and every
// record must tell the truth about the file server's state.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/LifecycleFixture.h"
#include "utils/CelerraUtils.h"

namespace zke2e {
namespace {

enum class Op { kPrepare, kSnap, kMap, kUnmap, kDelete, kRevert, kReconcile };

const char* Name(Op eOp) {
  switch (eOp) {
    case Op::kPrepare:
      return "prepare";
    case Op::kSnap:
      return "snap";
    case Op::kMap:
      return "map";
    case Op::kUnmap:
      return "unmap";
    case Op::kDelete:
      return "delete";
    case Op::kRevert:
      return "revert";
    case Op::kReconcile:
      return "reconcile";
  }
  return "?";
}

// What a record was before the operation under test.
struct Before {
  int nStatus;
  std::string sRWChkptId;   // from its mount metadata
  std::string sExportPath;  // of its clone device
};

bool HasJobLine(const zkref::MemSnapInfo& oRecord, int nLevel,
                const std::string& sText) {
  for (const auto& oLine : oRecord.vJobLog) {
    if (oLine.nLevel == nLevel && oLine.sText == sText) return true;
  }
  return false;
}

bool JobLogHas(const zkref::MemSnapInfo& oRecord, const std::string& sPart) {
  for (const auto& oLine : oRecord.vJobLog) {
    if (oLine.sText.find(sPart) != std::string::npos) return true;
  }
  return false;
}

// Fields of a "|"-separated metadata text.
std::vector<std::string> Fields(const std::string& sText) {
  std::vector<std::string> v;
  size_t nStart = 0;
  while (nStart <= sText.size()) {
    const size_t nBar = sText.find('|', nStart);
    if (nBar == std::string::npos) {
      if (nStart < sText.size()) v.push_back(sText.substr(nStart));
      break;
    }
    v.push_back(sText.substr(nStart, nBar - nStart));
    nStart = nBar + 1;
  }
  return v;
}

class FaultSweepTest : public LifecycleTest,
                       public ::testing::WithParamInterface<Op> {
 protected:
  // The request: NFS and NAS devices on two control hosts, VMware ones with
  // their host identifier.
  std::vector<zkref::MemSnapInfo*> NewRequest() {
    std::vector<zkref::MemSnapInfo*> v = {
        NewRecord(NfsExportDevice("/fs1", kNas1), "r0"),
        NewRecord(NasDevice("/fs2/ds1", kNas1, true), "r1"),
        NewRecord(NasDevice("/root_vdm_3/fs3/ds", kNas1, true), "r2"),
        NewRecord(NfsExportDevice("/fs1", kNas2, false), "r3"),
        NewRecord(NasDevice("/fs2/ds2", kNas2, false), "r4"),
    };
    for (int i : {0, 1, 2}) v[i]->sHostIdentifier = HostIdentifier();
    v[1]->mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 0;
    v[2]->mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 1;
    v[4]->mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
    return v;
  }

  ZKSO::ResultCode RunOp(Op eOp, const std::vector<zkref::MemSnapInfo*>& v) {
    switch (eOp) {
      case Op::kPrepare:
        return Run(m_pPlugin->zkso_prepareDevices, v);
      case Op::kSnap:
        return Run(m_pPlugin->zkso_snapDevices, v);
      case Op::kMap:
        return Run(m_pPlugin->zkso_mapSnaps, v);
      case Op::kUnmap:
        return Run(m_pPlugin->zkso_unmapSnaps, v);
      case Op::kDelete:
        return Run(m_pPlugin->zkso_deleteSnaps, v);
      case Op::kRevert:
        return Run(m_pPlugin->zkso_revertSnaps, v);
      case Op::kReconcile:
        return Run(m_pPlugin->zkso_reconcileSnaps, v);
    }
    return ZKSO::RESULT_FAILURE;
  }

  // A fresh world whose records have been through every operation that
  // comes before eOp, without faults; the records as a host holds them.
  std::vector<zkref::MemSnapInfo*> ReadyFor(Op eOp) {
    InstallFileServers();
    // A new clock each time: no cached CIFS server list survives.
    SetNow(m_nNow + 200000);
    std::vector<zkref::MemSnapInfo*> v = NewRequest();
    // The operations before eOp in the life of a snapshot.
    std::vector<Op> vBefore;
    if (eOp != Op::kPrepare) vBefore.push_back(Op::kPrepare);
    if (eOp != Op::kPrepare && eOp != Op::kSnap) vBefore.push_back(Op::kSnap);
    if (eOp == Op::kUnmap) vBefore.push_back(Op::kMap);
    for (Op eStep : vBefore) {
      EXPECT_EQ(ZKSO::RESULT_SUCCESS, RunOp(eStep, v))
          << Name(eStep) << m_oSink.Dump();
      v = CarryAll(v);
    }
    EXPECT_TRUE(zkfiler::ResetJournal().ok());
    return v;
  }

  static int SuccessStatus(Op eOp) {
    switch (eOp) {
      case Op::kPrepare:
        return ZKSO::READY_FOR_SNAP;
      case Op::kSnap:
        return ZKSO::SNAP_SUCCESS;
      case Op::kMap:
        return ZKSO::MAP_SUCCESS;
      case Op::kUnmap:
        return ZKSO::UNMAP_SUCCESS;
      case Op::kDelete:
        return ZKSO::DELETE_SUCCESS;
      case Op::kRevert:
        return ZKSO::REVERT_SUCCESS;
      case Op::kReconcile:
        return ZKSO::SNAP_SUCCESS;
    }
    return -2;
  }

  std::string HostOf(const zkref::MemSnapInfo& oRecord) {
    return oRecord.sBoundArray == kNas2 ? kCs2 : kCs1;
  }
  bool CheckpointExists(const std::string& sHost, const std::string& sId,
                        const std::string& sName = "") {
    for (const auto& oChkpt : Checkpoints(sHost)) {
      if (oChkpt.id == sId && (sName.empty() || oChkpt.name == sName)) {
        return true;
      }
    }
    return false;
  }
  bool ExportExists(const std::string& sHost, const std::string& sPath) {
    for (const auto& oExport : Exports(sHost)) {
      if (oExport.path == sPath) return true;
    }
    return false;
  }

  // Every check of one run.
  void CheckRun(Op eOp, ZKSO::ResultCode eResult,
                const std::vector<zkref::MemSnapInfo*>& vRecords,
                const std::vector<Before>& vBefore) {
    int nSucceeded = 0;
    int nReported = 0;  // records carrying their operation's report
    for (size_t i = 0; i < vRecords.size(); ++i) {
      SCOPED_TRACE("record " + std::to_string(i));
      const zkref::MemSnapInfo& oRecord = *vRecords[i];
      const std::string sHost = HostOf(oRecord);
      const int nStatus = oRecord.nStatus;
      if (eOp != Op::kReconcile && nStatus == SuccessStatus(eOp)) {
        ++nSucceeded;
      }
      switch (nStatus) {
        case ZKSO::READY_FOR_SNAP: {
          const auto it = oRecord.mMetaData.find(SM_MDT_FS_INFO);
          ASSERT_NE(oRecord.mMetaData.end(), it);
          EXPECT_FALSE(it->second.empty());
          break;
        }
        case ZKSO::SNAP_SUCCESS:
        case ZKSO::REVERT_SUCCESS: {
          const std::vector<std::string> vUUID =
              Fields(oRecord.mMetaData.at(SM_MDT_SNAP_UUID));
          ASSERT_GE(vUUID.size(), 2u);
          EXPECT_TRUE(CheckpointExists(sHost, vUUID[1], vUUID[0]))
              << "the snapshot's checkpoint is missing";
          break;
        }
        case ZKSO::MAP_SUCCESS: {
          const std::vector<std::string> vMount =
              Fields(oRecord.mMetaData.at(SM_MDT_SNAP_MOUNT));
          ASSERT_EQ(2u, vMount.size());
          EXPECT_TRUE(CheckpointExists(sHost, vMount[1], vMount[0]));
          ASSERT_FALSE(oRecord.sSnapDevice.empty());
          _CelerraSnapDeviceIdentifier oClone;
          CelerraUtils::ParseDeviceIdentifier(oRecord.sSnapDevice, oClone);
          const std::string sExport =
              oClone.sExportPath.empty() ? oClone.sLunUUID : oClone.sExportPath;
          EXPECT_TRUE(ExportExists(sHost, sExport)) << sExport;
          break;
        }
        case ZKSO::UNMAP_SUCCESS:
          EXPECT_FALSE(ExportExists(sHost, vBefore[i].sExportPath));
          if (CheckpointExists(sHost, vBefore[i].sRWChkptId)) {
            EXPECT_TRUE(
                JobLogHas(oRecord, "Error:Failed to delete RW checkpoint:["))
                << "a writable checkpoint left behind unsaid";
          }
          EXPECT_EQ(0u, oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT));
          break;
        case ZKSO::DELETE_SUCCESS: {
          const std::vector<std::string> vUUID =
              Fields(oRecord.mMetaData.at(SM_MDT_SNAP_UUID));
          EXPECT_FALSE(CheckpointExists(sHost, vUUID[1]));
          break;
        }
        case ZKSO::SNAP_NOT_FOUND: {
          const std::vector<std::string> vUUID =
              Fields(oRecord.mMetaData.at(SM_MDT_SNAP_UUID));
          EXPECT_FALSE(CheckpointExists(sHost, vUUID[1]))
              << "marked missing while the file server holds it";
          break;
        }
        case ZKSO::MAP_FAILED:
          if (oRecord.nJPRId == JPR_MAP_FAILED) ++nReported;
          break;
        case ZKSO::UNMAP_FAILED:
          if (oRecord.nJPRId == JPR_UNMAP_FAILED) ++nReported;
          break;
        case ZKSO::DELETE_FAILED:
          EXPECT_TRUE(
              HasJobLine(oRecord, 2, "Error: Failed to delete FS from chkpt!"));
          ++nReported;
          break;
        case ZKSO::REVERT_FAILED:
          EXPECT_EQ(JPR_REVERT_FAILED, oRecord.nJPRId);
          EXPECT_TRUE(
              HasJobLine(oRecord, 2, "Error: Failed to revert FS from chkpt!"));
          ++nReported;
          break;
        case ZKSO::READY_FOR_SNAP_FAILED:
          if (HasJobLine(oRecord, 2, "Prepare For Device failed")) ++nReported;
          break;
        case ZKSO::SNAP_STATUS_UNKNOWN:
          if (oRecord.nJPRId == JPR_SNAP_FAILED ||
              oRecord.nJPRId == JPR_SNAP_FAILED_ARRAY_CODE) {
            EXPECT_TRUE(JobLogHas(oRecord,
                                  "Unable to snap src device src "
                                  "device ["));
            ++nReported;
          }
          break;
        default:
          EXPECT_EQ(vBefore[i].nStatus, nStatus) << "unexpected status";
          break;
      }
    }

    if (eOp == Op::kReconcile) {
      // A record whose list could not be fetched is not counted.
      const int nFailures =
          static_cast<int>(m_oSink.Find("ZKSnapEngineCelerra(996)").size());
      nSucceeded = static_cast<int>(vRecords.size()) - nFailures;
    }
    const ZKSO::ResultCode eExpected =
        nSucceeded == 0 ? ZKSO::RESULT_FAILURE
        : nSucceeded < static_cast<int>(vRecords.size())
            ? ZKSO::RESULT_PARTIAL_SUCCESS
            : ZKSO::RESULT_SUCCESS;
    EXPECT_EQ(eExpected, eResult) << nSucceeded << " succeeded";
    // A run that did not wholly succeed tells some record why.
    if (eResult != ZKSO::RESULT_SUCCESS && eOp != Op::kReconcile) {
      EXPECT_GE(nReported, 1) << "no record carries the failure's report";
    }

    for (const ZkLogLine& oLine : m_oSink.Lines()) {
      ASSERT_EQ(std::string::npos, oLine.sText.find(kPassword))
          << oLine.ToString();
    }
  }
};

TEST_P(FaultSweepTest, EveryCommandFailingInTurn) {
  const Op eOp = GetParam();
  // A clean run names the commands of the operation and how often each is
  // sent.
  std::vector<zkref::MemSnapInfo*> vClean = ReadyFor(eOp);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, RunOp(eOp, vClean)) << m_oSink.Dump();
  const std::map<std::string, int> mCommands = CommandCounts();
  ASSERT_FALSE(mCommands.empty());

  int nRuns = 0;
  for (const auto& [sCommand, nCount] : mCommands) {
    for (int n = 1; n <= nCount; ++n) {
      for (zkfiler::FaultMode eMode :
           {zkfiler::FaultMode::kNth, zkfiler::FaultMode::kFrom}) {
        SCOPED_TRACE(
            std::string(Name(eOp)) + ": " + sCommand + " #" +
            std::to_string(n) +
            (eMode == zkfiler::FaultMode::kNth ? " once" : " from then on"));
        std::vector<zkref::MemSnapInfo*> vRecords = ReadyFor(eOp);
        std::vector<Before> vBefore;
        for (zkref::MemSnapInfo* pRecord : vRecords) {
          Before oBefore{pRecord->nStatus, "", ""};
          auto it = pRecord->mMetaData.find(SM_MDT_SNAP_MOUNT);
          if (it != pRecord->mMetaData.end()) {
            const std::vector<std::string> v = Fields(it->second);
            if (v.size() == 2) oBefore.sRWChkptId = v[1];
          }
          _CelerraSnapDeviceIdentifier oClone;
          CelerraUtils::ParseDeviceIdentifier(pRecord->sSnapDevice, oClone);
          oBefore.sExportPath =
              oClone.sExportPath.empty() ? oClone.sLunUUID : oClone.sExportPath;
          vBefore.push_back(oBefore);
        }
        m_oSink.Clear();
        ArmFault(sCommand, eMode, n);

        const ZKSO::ResultCode eResult = RunOp(eOp, vRecords);

        ASSERT_TRUE(zkfiler::ClearFaults().ok());
        CheckRun(eOp, eResult, vRecords, vBefore);
        ++nRuns;
        if (HasFailure()) return;
      }
    }
  }
  EXPECT_GT(nRuns, 0);
}

INSTANTIATE_TEST_SUITE_P(AllOperations, FaultSweepTest,
                         ::testing::Values(Op::kPrepare, Op::kSnap, Op::kMap,
                                           Op::kUnmap, Op::kDelete, Op::kRevert,
                                           Op::kReconcile),
                         [](const ::testing::TestParamInfo<Op>& oInfo) {
                           return std::string(Name(oInfo.param));
                         });

}  // namespace
}  // namespace zke2e
