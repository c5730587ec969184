// SPDX-License-Identifier: Apache-2.0
#include "tests/e2e/SweepFixture.h"

#include <map>

#include "utils/CelerraUtils.h"

namespace zke2e {
namespace {

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

}  // namespace

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

std::vector<Op> AllOperations() {
  return {Op::kPrepare, Op::kSnap,   Op::kMap,      Op::kUnmap,
          Op::kDelete,  Op::kRevert, Op::kReconcile};
}

Before BeforeOf(const zkref::MemSnapInfo& oRecord) {
  Before oBefore;
  oBefore.nStatus = oRecord.nStatus;
  auto it = oRecord.mMetaData.find(SM_MDT_SNAP_MOUNT);
  if (it != oRecord.mMetaData.end()) {
    const std::vector<std::string> v = Fields(it->second);
    if (v.size() == 2) oBefore.sRWChkptId = v[1];
  }
  _CelerraSnapDeviceIdentifier oClone;
  CelerraUtils::ParseDeviceIdentifier(oRecord.sSnapDevice, oClone);
  oBefore.sExportPath =
      oClone.sExportPath.empty() ? oClone.sLunUUID : oClone.sExportPath;
  return oBefore;
}

std::vector<zkref::MemSnapInfo*> SweepTest::NewRequest() {
  if (m_nPerGroup > 0) {
    std::vector<zkref::MemSnapInfo*> v;
    for (int i = 0; i < m_nPerGroup; ++i) {
      const std::string sDir = "/fs2/ds" + std::to_string(i);
      v.push_back(NewRecord(NfsExportDevice("/fs1", kNas1, false), "g1"));
      v.push_back(NewRecord(NasDevice(sDir, kNas1, false), "g2"));
      v.back()->mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 1;
      v.push_back(NewRecord(NasDevice(sDir, kNas2, false), "g3"));
      v.back()->mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
    }
    return v;
  }
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

LifecycleTest::Operation SweepTest::FunctionOf(Op eOp) const {
  switch (eOp) {
    case Op::kPrepare:
      return m_pPlugin->zkso_prepareDevices;
    case Op::kSnap:
      return m_pPlugin->zkso_snapDevices;
    case Op::kMap:
      return m_pPlugin->zkso_mapSnaps;
    case Op::kUnmap:
      return m_pPlugin->zkso_unmapSnaps;
    case Op::kDelete:
      return m_pPlugin->zkso_deleteSnaps;
    case Op::kRevert:
      return m_pPlugin->zkso_revertSnaps;
    case Op::kReconcile:
      return m_pPlugin->zkso_reconcileSnaps;
  }
  return nullptr;
}

std::vector<zkref::MemSnapInfo*> SweepTest::ReadyFor(Op eOp) {
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

int SweepTest::SuccessStatus(Op eOp) {
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

std::string SweepTest::HostOf(const zkref::MemSnapInfo& oRecord) const {
  return oRecord.sBoundArray == kNas2 ? kCs2 : kCs1;
}
bool SweepTest::CheckpointExists(const std::string& sHost,
                                 const std::string& sId,
                                 const std::string& sName) {
  for (const auto& oChkpt : Checkpoints(sHost)) {
    if (oChkpt.id == sId && (sName.empty() || oChkpt.name == sName)) {
      return true;
    }
  }
  return false;
}
std::vector<std::string> SweepTest::MountAddressesOf(
    const zkref::MemSnapInfo& oRecord) {
  _CelerraSnapDeviceIdentifier oSource;
  CelerraUtils::ParseDeviceIdentifier(oRecord.sSourceDevice, oSource);
  if (oSource.sKemType == "vmware" && !oRecord.sHostIdentifier.empty()) {
    return {"10.11.20.9", "10.11.20.1", "10.11.20.2"};  // ESX, VMkernel
  }
  return {"10.11.30.5"};  // this host
}

bool SweepTest::ExportNames(const std::string& sHost, const std::string& sPath,
                            const std::string& sAddress) {
  for (const auto& oExport : Exports(sHost)) {
    if (oExport.path != sPath) continue;
    for (const std::string& sAccess : oExport.access_hosts) {
      if (sAccess == sAddress) return true;
    }
  }
  return false;
}

bool SweepTest::ExportExists(const std::string& sHost,
                             const std::string& sPath) {
  for (const auto& oExport : Exports(sHost)) {
    if (oExport.path == sPath) return true;
  }
  return false;
}

std::set<std::string> SweepTest::CheckpointKeys() {
  std::set<std::string> sKeys;
  for (const auto& oChkpt : Checkpoints()) {
    sKeys.insert(oChkpt.control_host + " " + oChkpt.id);
  }
  return sKeys;
}

void SweepTest::RemoveOrphans(const std::vector<zkref::MemSnapInfo*>& vRecords,
                              const std::set<std::string>& sKeep) {
  // Whether a record names the checkpoint (on its own file server).
  auto fnNamed = [&](const zkfiler::CheckpointView& oChkpt) {
    for (const zkref::MemSnapInfo* pRecord : vRecords) {
      if (HostOf(*pRecord) != oChkpt.control_host) continue;
      for (int nType : {SM_MDT_SNAP_UUID, SM_MDT_SNAP_MOUNT}) {
        auto it = pRecord->mMetaData.find(nType);
        if (it == pRecord->mMetaData.end()) continue;
        const std::vector<std::string> v = Fields(it->second);
        if (v.size() >= 2 && v[1] == oChkpt.id) return true;
      }
      auto it = pRecord->mMetaData.find(SM_MDT_CELERRA_INTENT);
      if (it != pRecord->mMetaData.end() &&
          it->second.find(" " + oChkpt.name + " ") != std::string::npos) {
        return true;
      }
    }
    return false;
  };
  // A record of the same file server whose snap name is sName lends its
  // file system metadata to a transient record.
  auto fnLender = [&](const zkfiler::CheckpointView& oChkpt,
                      const std::string& sName) -> zkref::MemSnapInfo* {
    for (const zkref::MemSnapInfo* pRecord : vRecords) {
      if (HostOf(*pRecord) == oChkpt.control_host &&
          pRecord->sSnapName == sName &&
          pRecord->mMetaData.count(SM_MDT_FS_INFO) != 0) {
        zkref::MemSnapInfo* pTransient = Carry(*pRecord);
        pTransient->mMetaData.erase(SM_MDT_CELERRA_INTENT);
        pTransient->mMetaData.erase(SM_MDT_SNAP_MOUNT);
        pTransient->sSnapDevice.clear();
        return pTransient;
      }
    }
    return nullptr;
  };
  // Writable checkpoints first (with their exports), then read-only ones.
  for (bool bWritable : {true, false}) {
    const std::vector<zkfiler::CheckpointView> vChkpts = Checkpoints();
    for (const auto& oChkpt : vChkpts) {
      if (oChkpt.writable != bWritable || fnNamed(oChkpt) ||
          sKeep.count(oChkpt.control_host + " " + oChkpt.id) != 0) {
        continue;
      }
      SCOPED_TRACE("orphan " + oChkpt.name + " " + oChkpt.id);
      std::string sBaselineName;
      for (const auto& oOther : vChkpts) {
        if (oOther.control_host == oChkpt.control_host &&
            oOther.id == oChkpt.baseline_id) {
          sBaselineName = oOther.name;
        }
      }
      const std::string sSnapName = bWritable ? sBaselineName : oChkpt.name;
      zkref::MemSnapInfo* pTransient = fnLender(oChkpt, sSnapName);
      ASSERT_NE(nullptr, pTransient) << "no record of " << sSnapName;
      std::vector<zkref::MemSnapInfo*> v = {pTransient};
      if (bWritable) {
        pTransient->mMetaData[SM_MDT_SNAP_UUID] =
            sBaselineName + "|" + oChkpt.baseline_id + "|";
        pTransient->mMetaData[SM_MDT_SNAP_MOUNT] =
            oChkpt.name + "|" + oChkpt.id;
        pTransient->nStatus = ZKSO::MAP_FAILED;
        EXPECT_EQ(ZKSO::RESULT_SUCCESS, RunOp(Op::kUnmap, v)) << m_oSink.Dump();
      } else {
        pTransient->mMetaData[SM_MDT_SNAP_UUID] =
            oChkpt.name + "|" + oChkpt.id + "|";
        pTransient->nStatus = ZKSO::SNAP_SUCCESS;
        EXPECT_EQ(ZKSO::RESULT_SUCCESS, RunOp(Op::kDelete, v))
            << m_oSink.Dump();
      }
      EXPECT_FALSE(CheckpointExists(oChkpt.control_host, oChkpt.id));
    }
  }
}

void SweepTest::CheckRun(Op eOp, ZKSO::ResultCode eResult,
                         const std::vector<zkref::MemSnapInfo*>& vRecords,
                         const std::vector<Before>& vBefore,
                         const RunChecks& oChecks) {
  int nSucceeded = 0;
  int nReported = 0;  // records carrying their operation's report
  for (size_t i = 0; i < vRecords.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const zkref::MemSnapInfo& oRecord = *vRecords[i];
    const std::string sHost = HostOf(oRecord);
    const int nStatus = oRecord.nStatus;
    if (eOp != Op::kReconcile && nStatus == SuccessStatus(eOp)) {
      ++nSucceeded;
      // A failure elsewhere in the request is never reported on it.
      EXPECT_EQ(0, oRecord.nJPRId) << oRecord.sJPRText;
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
        // The export is the record's own: it names the record's mount host
        // (never only another record's). A VMware record's export may lack
        // the ESX host when its lookup failed (an allocation, say); its
        // VMkernel addresses are there.
        bool bNamed = false;
        for (const std::string& sAddress : MountAddressesOf(oRecord)) {
          bNamed = bNamed || ExportNames(sHost, sExport, sAddress);
        }
        EXPECT_TRUE(bNamed) << sExport << " does not name "
                            << MountAddressesOf(oRecord).front();
        break;
      }
      case ZKSO::UNMAP_SUCCESS:
        EXPECT_FALSE(ExportExists(sHost, vBefore[i].sExportPath));
        EXPECT_FALSE(CheckpointExists(sHost, vBefore[i].sRWChkptId))
            << "a writable checkpoint left behind";
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
        if (oChecks.bReportRequired) {
          EXPECT_TRUE(
              HasJobLine(oRecord, 2, "Error: Failed to delete FS from chkpt!"));
        }
        ++nReported;
        break;
      case ZKSO::REVERT_FAILED:
        if (oChecks.bReportRequired) {
          EXPECT_EQ(JPR_REVERT_FAILED, oRecord.nJPRId);
          EXPECT_TRUE(
              HasJobLine(oRecord, 2, "Error: Failed to revert FS from chkpt!"));
        }
        ++nReported;
        break;
      case ZKSO::SNAP_FAILED:
        // No device could be made for it: nothing may carry its name.
        for (const auto& oChkpt : Checkpoints(sHost)) {
          EXPECT_NE(oRecord.sSnapName, oChkpt.name)
              << "marked failed while its checkpoint exists";
        }
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

  if (eOp == Op::kReconcile && oChecks.bReconcileResultFromLog) {
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
  if (eOp != Op::kReconcile || oChecks.bReconcileResultFromLog) {
    EXPECT_EQ(eExpected, eResult) << nSucceeded << " succeeded";
  }
  // A run that did not wholly succeed tells some record why.
  if (oChecks.bReportRequired && eResult != ZKSO::RESULT_SUCCESS &&
      eOp != Op::kReconcile) {
    EXPECT_GE(nReported, 1) << "no record carries the failure's report";
  }

  for (const ZkLogLine& oLine : m_oSink.Lines()) {
    ASSERT_EQ(std::string::npos, oLine.sText.find(kPassword))
        << oLine.ToString();
  }
}

}  // namespace zke2e
