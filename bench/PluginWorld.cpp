// SPDX-License-Identifier: Apache-2.0
#include "bench/PluginWorld.h"

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "bench/ClientTimer.h"
#include "bench/HeapCounter.h"
#include "bench/PluginClock.h"
#include "filer/FilerSim.h"
#include "utils/CelerraUtils.h"

namespace zkbench {

namespace {

const char kPassword[] = "Bench-Pw#7731-zk";
const char kControlHost[] = "cs.bench.test";
const char kFilerName[] = "nas.bench.test";
const char kFilerAddress[] = "10.20.0.1";
const char kEsxName[] = "esx.bench.test";
const char kMoverId[] = "2";
const char kVendor[] = "Dell EMC VNX / Celerra";
const int kFirstFsId = 1000;

std::string g_sHostsDir;  // the temporary folder of the hosts file

std::string FsId(int i) { return std::to_string(kFirstFsId + i); }

std::string NfsDevice(const std::string& sExportPath) {
  _CelerraSnapDeviceIdentifier oId;
  oId.sKemType = "vmware";
  oId.sType = "nfs";
  oId.sLunUUID = sExportPath;
  oId.sTargetHostName = kFilerName;
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

std::string NasDevice(const std::string& sPath) {
  _CelerraSnapDeviceIdentifier oId;
  oId.sKemType = "native_celerra";
  oId.sType = "native_celerra";
  oId.sTargetHostName = kFilerName;
  oId.sPath = sPath;
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

std::string HostIdentifier() {
  return std::string("{vcname:vc.bench.test,esxname:") + kEsxName +
         ",vmkernel:10.20.1.1|10.20.1.2|,password:" + kPassword + "}";
}

int64_t SteadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Minor page faults of the calling thread so far: the first touches of
// memory the process had not used yet.
int64_t ThreadPageFaults() {
  rusage oUsage;
  if (getrusage(RUSAGE_THREAD, &oUsage) != 0) return 0;
  return static_cast<int64_t>(oUsage.ru_minflt);
}

bool HoldsPassword(const zkref::MemSnapInfo& oRecord) {
  const std::string sPassword = kPassword;
  for (const auto& oLine : oRecord.vJobLog) {
    if (oLine.sText.find(sPassword) != std::string::npos) return true;
  }
  for (const auto& oJPR : oRecord.vJPRHistory) {
    if (oJPR.second.find(sPassword) != std::string::npos) return true;
  }
  return false;
}

ZKSO::SnapStatus SuccessStatusOf(Operation eOperation) {
  switch (eOperation) {
    case Operation::kPrepare:
    case Operation::kPrepareNas:
      return ZKSO::READY_FOR_SNAP;
    case Operation::kSnap:
      return ZKSO::SNAP_SUCCESS;
    case Operation::kMap:
      return ZKSO::MAP_SUCCESS;
    case Operation::kUnmap:
      return ZKSO::UNMAP_SUCCESS;
    case Operation::kRevert:
      return ZKSO::REVERT_SUCCESS;
    case Operation::kDelete:
      return ZKSO::DELETE_SUCCESS;
    case Operation::kReconcile:
      // Every checkpoint is found: the status stays what the snap wrote.
      return ZKSO::SNAP_SUCCESS;
  }
  return ZKSO::SNAP_STATUS_UNKNOWN;
}

}  // namespace

const char* BenchPassword() { return kPassword; }

const char* LayoutName(Layout eLayout) {
  return eLayout == Layout::kOneFs ? "one_fs" : "fs_per_record";
}

const char* OperationName(Operation eOperation) {
  switch (eOperation) {
    case Operation::kPrepare:
      return "prepare";
    case Operation::kPrepareNas:
      return "prepare_nas";
    case Operation::kSnap:
      return "snap";
    case Operation::kMap:
      return "map";
    case Operation::kUnmap:
      return "unmap";
    case Operation::kRevert:
      return "revert";
    case Operation::kDelete:
      return "delete";
    case Operation::kReconcile:
      return "reconcile";
  }
  return "?";
}

const char* ScenarioName(Scenario eScenario) {
  switch (eScenario) {
    case Scenario::kLifecycle:
      return "lifecycle";
    case Scenario::kPrepareNas:
      return "prepare_nas";
    case Scenario::kReconcile:
      return "reconcile";
  }
  return "?";
}

std::vector<Operation> StepsOf(Scenario eScenario) {
  switch (eScenario) {
    case Scenario::kLifecycle:
      return {Operation::kPrepare, Operation::kSnap,   Operation::kMap,
              Operation::kUnmap,   Operation::kRevert, Operation::kDelete};
    case Scenario::kPrepareNas:
      return {Operation::kPrepareNas};
    case Scenario::kReconcile:
      return {Operation::kReconcile};
  }
  return {};
}

bool WriteHostsFile(std::string* psError) {
  char aTemplate[] = "/tmp/zk-bench-XXXXXX";
  if (mkdtemp(aTemplate) == nullptr) {
    *psError = "cannot make a temporary folder in /tmp";
    return false;
  }
  g_sHostsDir = aTemplate;
  const std::string sHosts = g_sHostsDir + "/hosts";
  std::ofstream oHosts(sHosts);
  oHosts << kFilerAddress << " " << kFilerName << "\n"
         << "10.20.0.9 " << kEsxName << "\n"
         << "10.20.0.5 backup.bench.test\n";
  oHosts.close();
  if (!oHosts) {
    *psError = "cannot write " + sHosts;
    return false;
  }
  setenv("ZK_HOSTS_FILE", sHosts.c_str(), 1);
  return true;
}

void RemoveHostsFile() {
  if (g_sHostsDir.empty()) return;
  std::remove((g_sHostsDir + "/hosts").c_str());
  rmdir(g_sHostsDir.c_str());
  g_sHostsDir.clear();
}

PluginWorld::PluginWorld(Scenario eScenario, Layout eLayout, int nRecords)
    : m_eScenario(eScenario),
      m_eLayout(eLayout),
      m_nRecords(nRecords),
      m_oOSUtil(7731) {
  m_pPlugin = PluginUnderTest::Get(&m_sError);
  if (m_pPlugin == nullptr) {
    m_sError = std::string(PluginUnderTest::Path()) + ": " + m_sError;
    return;
  }
  AdvancePluginClock();
  const bool bReconcile = eScenario == Scenario::kReconcile;
  int nFileSystems = 1;
  if (eLayout == Layout::kFsPerRecord) {
    nFileSystems =
        bReconcile ? std::max(nRecords, kReconcileCheckpoints) : nRecords;
  }
  InstallFileServer(nFileSystems);
  if (!m_sError.empty()) return;
  m_oDatabase.Add(
      {kFilerName,
       {kFilerAddress},
       zkref::ArrayDatabase::FormArrayInfo(kFilerName, kVendor, kControlHost,
                                           "nasadmin", kPassword)});

  if (!bReconcile) {
    const bool bNas = eScenario == Scenario::kPrepareNas;
    for (int i = 0; i < nRecords; ++i) m_vNext.push_back(NewRecord(i, bNas));
    return;
  }
  // The 1024 checkpoints: one snap call in the layout with a file system
  // per record, one call per record on the one file system.
  Records vNew;
  for (int i = 0; i < kReconcileCheckpoints; ++i) {
    vNew.push_back(NewRecord(i, false));
  }
  if (!Run(m_pPlugin->zkso_prepareDevices, "prepare", vNew,
           ZKSO::READY_FOR_SNAP)) {
    return;
  }
  m_vPrepared = CarryAll(vNew);
  if (eLayout == Layout::kFsPerRecord) {
    if (!Run(m_pPlugin->zkso_snapDevices, "snap", m_vPrepared,
             ZKSO::SNAP_SUCCESS)) {
      return;
    }
  } else {
    for (zkref::MemSnapInfo* pRecord : m_vPrepared) {
      if (!Run(m_pPlugin->zkso_snapDevices, "snap", {pRecord},
               ZKSO::SNAP_SUCCESS)) {
        return;
      }
    }
  }
  for (int i = 0; i < nRecords; ++i) {
    m_vNext.push_back(Carry(*m_vPrepared[i % kReconcileCheckpoints]));
  }
}

void PluginWorld::InstallFileServer(int nFileSystems) {
  if (!zkfiler::UseInMemoryStore().ok()) {
    m_sError = "cannot open an in-memory file server store";
    return;
  }
  zkfiler::ServerLayout oLayout(kControlHost, "nasadmin", kPassword);
  // Every record may hold a checkpoint and a writable one of one file
  // system.
  oLayout.limits.ro_per_fs = 1000000;
  oLayout.limits.rw_per_fs = 1000000;
  oLayout.Mover(kMoverId, {kFilerAddress})
      .CifsServer("cifs1", kMoverId, kFilerAddress);
  oLayout.file_systems.reserve(nFileSystems);
  oLayout.exports.reserve(nFileSystems);
  for (int i = 0; i < nFileSystems; ++i) {
    const std::string sPath = "/fs" + FsId(i);
    oLayout.FileSystem(FsId(i), "fs" + FsId(i), kMoverId, sPath)
        .Export(sPath, kMoverId);
    oLayout.file_systems.back().storage_extra = "pool_bench";
  }
  const zkfiler::Status oStatus = zkfiler::Install(oLayout);
  if (!oStatus.ok())
    m_sError = "cannot install the file server: " + oStatus.ToString();
}

std::string PluginWorld::ExportPathOf(int i) const {
  return "/fs" + FsId(m_eLayout == Layout::kOneFs ? 0 : i);
}

zkref::MemSnapInfo* PluginWorld::NewRecord(int i, bool bNas) {
  m_dRecords.emplace_back(&m_oDatabase);
  zkref::MemSnapInfo* pRecord = &m_dRecords.back();
  pRecord->sSnapName = "b" + std::to_string(i);
  if (bNas) {
    pRecord->sSourceDevice = NasDevice(ExportPathOf(i));
    pRecord->mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 1;
  } else {
    pRecord->sSourceDevice = NfsDevice(ExportPathOf(i));
    pRecord->sHostIdentifier = HostIdentifier();
  }
  return pRecord;
}

zkref::MemSnapInfo* PluginWorld::Carry(const zkref::MemSnapInfo& oRecord) {
  m_dRecords.emplace_back(&m_oDatabase);
  zkref::MemSnapInfo* pRecord = &m_dRecords.back();
  pRecord->sSnapName = oRecord.sSnapName;
  pRecord->sSourceDevice = oRecord.sSourceDevice;
  pRecord->sSnapDevice = oRecord.sSnapDevice;
  pRecord->sHostIdentifier = oRecord.sHostIdentifier;
  pRecord->sBoundArray = oRecord.sBoundArray;
  pRecord->mMetaData = oRecord.mMetaData;
  pRecord->mIntValues = oRecord.mIntValues;
  pRecord->nStatus = oRecord.nStatus;
  return pRecord;
}

PluginWorld::Records PluginWorld::CarryAll(const Records& vRecords) {
  Records vCarried;
  vCarried.reserve(vRecords.size());
  for (const zkref::MemSnapInfo* pRecord : vRecords) {
    vCarried.push_back(Carry(*pRecord));
  }
  return vCarried;
}

bool PluginWorld::Run(PluginUnderTest::OperationFn fn, const char* pszWhat,
                      const Records& vRecords, ZKSO::SnapStatus eExpected) {
  std::vector<ZKSO::SnapInfo*> vPointers(vRecords.begin(), vRecords.end());
  const ZKSO::ResultCode eResult =
      fn(vPointers.data(), static_cast<int16_t>(vPointers.size()), &m_oOSUtil);
  for (size_t i = 0; i < vRecords.size(); ++i) {
    if (vRecords[i]->nStatus != eExpected) {
      m_sError = std::string(pszWhat) + ": record " + std::to_string(i) +
                 " ended with status " + std::to_string(vRecords[i]->nStatus) +
                 ", expected " + std::to_string(eExpected) + " (" +
                 vRecords[i]->sJPRText + ")";
      return false;
    }
  }
  if (eResult != ZKSO::RESULT_SUCCESS) {
    m_sError = std::string(pszWhat) + ": result " + std::to_string(eResult);
    return false;
  }
  return true;
}

bool PluginWorld::SnapOneByOne() {
  // The shared checkpoint goes first: the first record's own snap would
  // ask for its name again.
  if (!Run(m_pPlugin->zkso_deleteSnaps, "delete of the shared checkpoint",
           {m_vNext.front()}, ZKSO::DELETE_SUCCESS)) {
    return false;
  }
  Records vSnapped = CarryAll(m_vPrepared);
  for (zkref::MemSnapInfo* pRecord : vSnapped) {
    if (!Run(m_pPlugin->zkso_snapDevices, "snap", {pRecord},
             ZKSO::SNAP_SUCCESS)) {
      return false;
    }
  }
  m_vNext = CarryAll(vSnapped);
  return true;
}

PluginUnderTest::OperationFn PluginWorld::FunctionOf(
    Operation eOperation) const {
  switch (eOperation) {
    case Operation::kPrepare:
    case Operation::kPrepareNas:
      return m_pPlugin->zkso_prepareDevices;
    case Operation::kSnap:
      return m_pPlugin->zkso_snapDevices;
    case Operation::kMap:
      return m_pPlugin->zkso_mapSnaps;
    case Operation::kUnmap:
      return m_pPlugin->zkso_unmapSnaps;
    case Operation::kRevert:
      return m_pPlugin->zkso_revertSnaps;
    case Operation::kDelete:
      return m_pPlugin->zkso_deleteSnaps;
    case Operation::kReconcile:
      return m_pPlugin->zkso_reconcileSnaps;
  }
  return nullptr;
}

bool PluginWorld::Measure(Operation eOperation, CallFigures* pFigures) {
  if (!m_sError.empty()) return false;
  if (eOperation == Operation::kMap && m_eLayout == Layout::kOneFs &&
      !SnapOneByOne()) {
    return false;
  }
  if (!zkfiler::ResetJournal().ok()) {
    m_sError = "cannot empty the file server's journal";
    return false;
  }
  const PluginUnderTest::OperationFn fn = FunctionOf(eOperation);
  std::vector<ZKSO::SnapInfo*> vPointers(m_vNext.begin(), m_vNext.end());
  const int16_t nCount = static_cast<int16_t>(vPointers.size());

  const int64_t nHeapStart = HeapLiveBytes();
  ResetHeapPeak();
  const int64_t nFaultsStart = ThreadPageFaults();
  const int64_t nWallStart = SteadyNanos();
  const int64_t nClientStart = ClientCpuNanos();
  const int64_t nCpuStart = ThreadCpuNanos();
  const ZKSO::ResultCode eResult = fn(vPointers.data(), nCount, &m_oOSUtil);
  const int64_t nCpuEnd = ThreadCpuNanos();
  const int64_t nClientEnd = ClientCpuNanos();
  const int64_t nWallEnd = SteadyNanos();
  pFigures->nPageFaults = ThreadPageFaults() - nFaultsStart;
  pFigures->nCpuNanos = nCpuEnd - nCpuStart;
  pFigures->nClientCpuNanos = nClientEnd - nClientStart;
  pFigures->nWallNanos = nWallEnd - nWallStart;
  pFigures->nPeakHeapBytes = HeapPeakBytes() - nHeapStart;
  pFigures->nKeptHeapBytes = HeapLiveBytes() - nHeapStart;

  const char* pszName = OperationName(eOperation);
  const ZKSO::SnapStatus eExpected = SuccessStatusOf(eOperation);
  for (size_t i = 0; i < m_vNext.size(); ++i) {
    const zkref::MemSnapInfo& oRecord = *m_vNext[i];
    if (oRecord.nStatus != eExpected) {
      m_sError = std::string(pszName) + ": record " + std::to_string(i) +
                 " ended with status " + std::to_string(oRecord.nStatus) +
                 " (" + oRecord.sJPRText + ")";
      return false;
    }
    if (HoldsPassword(oRecord)) {
      m_sError = std::string(pszName) + ": record " + std::to_string(i) +
                 " shows the password in its job log or reason message";
      return false;
    }
  }
  if (eResult != ZKSO::RESULT_SUCCESS) {
    m_sError = std::string(pszName) + ": result " + std::to_string(eResult);
    return false;
  }

  std::vector<zkfiler::JournalEntry> vJournal;
  if (!zkfiler::Journal(&vJournal).ok()) {
    m_sError = "cannot read the file server's journal";
    return false;
  }
  pFigures->mCommands.clear();
  for (const zkfiler::JournalEntry& oEntry : vJournal) {
    ++pFigures->mCommands[oEntry.command];
  }

  // The records of the next call, as the host keeps them.
  if (eOperation == Operation::kPrepare) m_vPrepared = CarryAll(m_vNext);
  if (!Repeatable()) m_vNext = CarryAll(m_vNext);
  return true;
}

std::map<std::string, int64_t> PluginWorld::MinimumCommands(
    Operation eOperation) const {
  const int64_t n = m_nRecords;
  switch (eOperation) {
    case Operation::kPrepare:
      // One PopulateDetails of an NFS export per record.
      return {{"GetNFSInfo", n}, {"GetPFSInfo", n}};
    case Operation::kPrepareNas:
      // The CIFS server list once per control host and expiry period
      // (every world starts a new one), then one PopulateDetails each.
      return {
          {"GetCifsServers", 1}, {"GetMountPointInfo", n}, {"GetPFSInfo", n}};
    case Operation::kSnap:
      // One checkpoint per control host and file system.
      return {{"CreateROChkPt", m_eLayout == Layout::kOneFs ? 1 : n}};
    case Operation::kMap:
      return {{"CreateRWChkPt", n},
              {"Celerra_GetSnapDeviceNameWithManageCelerra", n},
              {"CreateNFSShare", n}};
    case Operation::kUnmap:
      // The export lookup tells whose export the clone path holds before
      // it is removed.
      return {{"Celerra_GetSnapDeviceNameWithManageCelerra", n},
              {"GetNFSInfo", n},
              {"DeleteNFSShare", n},
              {"DeleteChkPt", n}};
    case Operation::kRevert:
      return {{"RestorePFSFromChkPt", n}};
    case Operation::kDelete:
      return {{"DeleteChkPt", n}};
    case Operation::kReconcile:
      return {{"GetChkPointsInfo", n}};
  }
  return {};
}

}  // namespace zkbench
