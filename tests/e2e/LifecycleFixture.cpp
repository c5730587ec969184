// SPDX-License-Identifier: Apache-2.0
#include "tests/e2e/LifecycleFixture.h"

#include <stdlib.h>

#include <atomic>
#include <fstream>

#include "tests/testclock/ZkTestClock.h"
#include "utils/CelerraUtils.h"

namespace zke2e {

const char kCs1[] = "cs1.zk.test";
const char kCs2[] = "cs2.zk.test";
const char kNas1[] = "nas1.zk.test";
const char kNas1Vdm[] = "nas1-vdm.zk.test";
const char kNas2[] = "nas2.zk.test";
const char kEsxName[] = "esx1.zk.test";
const char kClientHost[] = "backup1.zk.test";

const char kSnapTag[] = "ZKSnapCelerra::zkso_snapDevices";
const char kMapTag[] =
    "ZKSO::ResultCode zkso_mapSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)";
const char kUnmapTag[] =
    "ZKSO::ResultCode zkso_unmapSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)";
const char kDeleteTag[] =
    "ZKSO::ResultCode zkso_deleteSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)";
const char kRevertTag[] =
    "ZKSO::ResultCode zkso_revertSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)";
const char kReconcileTag[] =
    "ZKSO::ResultCode zkso_reconcileSnaps(ZKSO::SnapInfo**, int16_t, "
    "ZKSO::ZKOSUtil*)";

namespace {

// Each test of a process starts its clock well past the last one's, so a
// cached CIFS server list of an earlier test has always expired.
std::atomic<long> g_nNextNow{1800000000};

}  // namespace

zkfiler::ServerLayout FileServerOne() {
  zkfiler::ServerLayout oLayout(kCs1, "nasadmin", kPassword);
  oLayout.Mover("2", {"10.11.12.13"})
      .Vdm("3", "2")
      .FileSystem("101", "fs1", "2", "/fs1")
      .FileSystem("102", "fs2", "2", "/fs2")
      .FileSystem("103", "fs3", "3", "/fs3", true)
      .Export("/fs1", "2", {"10.11.12.99"})
      .CifsServer("cifs1", "2", "10.11.12.13 10.11.12.131")
      .CifsServer("cifsvdm", "3", "10.11.12.14", true);
  for (auto& oFs : oLayout.file_systems) oFs.storage_extra = "pool_gold";
  return oLayout;
}

zkfiler::ServerLayout FileServerTwo() {
  zkfiler::ServerLayout oLayout(kCs2, "nasadmin", kPassword);
  oLayout.Mover("2", {"10.11.13.13"})
      .FileSystem("101", "fs1", "2", "/fs1")
      .FileSystem("102", "fs2", "2", "/fs2")
      .Export("/fs1", "2")
      .CifsServer("cifs2", "2", "10.11.13.13");
  for (auto& oFs : oLayout.file_systems) oFs.storage_extra = "pool_silver";
  return oLayout;
}

std::string NfsExportDevice(const std::string& sExportPath,
                            const std::string& sFiler, bool bVMware) {
  _CelerraSnapDeviceIdentifier oId;
  if (bVMware) oId.sKemType = "vmware";
  oId.sType = "nfs";
  oId.sLunUUID = sExportPath;
  oId.sTargetHostName = sFiler;
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

std::string NasDevice(const std::string& sPath, const std::string& sFiler,
                      bool bVMware) {
  _CelerraSnapDeviceIdentifier oId;
  oId.sKemType = bVMware ? "vmware" : "native_celerra";
  oId.sType = "native_celerra";
  oId.sTargetHostName = sFiler;
  oId.sPath = sPath;
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

std::string HostIdentifier() {
  return std::string("{vcname:vc1.zk.test,esxname:") + kEsxName +
         ",vmkernel:10.11.20.1|10.11.20.2|,password:" + kPassword + "}";
}

void LifecycleTest::SetUp() {
  E2ETest::SetUp();
  if (HasFatalFailure()) return;
  SetNow(g_nNextNow.fetch_add(10 * 86400));
  zktest::FixHostName(kClientHost);
  {
    std::ofstream oHosts(getenv("ZK_HOSTS_FILE"), std::ios::app);
    oHosts << "10.11.12.13 " << kNas1 << "\n"
           << "10.11.12.14 " << kNas1Vdm << "\n"
           << "10.11.13.13 " << kNas2 << "\n"
           << "10.11.20.9 " << kEsxName << "\n"
           << "10.11.30.5 " << kClientHost << "\n";
  }
  InstallFileServers();
  m_oDatabase.Clear();
  m_oDatabase.Add({kNas1,
                   {"10.11.12.13"},
                   zkref::ArrayDatabase::FormArrayInfo(kNas1, kVendor, kCs1,
                                                       "nasadmin", kPassword)});
  // The VDM's CIFS server address, registered as its own entry of the same
  // control host.
  m_oDatabase.Add({kNas1Vdm,
                   {},
                   zkref::ArrayDatabase::FormArrayInfo(kNas1Vdm, kVendor, kCs1,
                                                       "nasadmin", kPassword)});
  m_oDatabase.Add({kNas2,
                   {"10.11.13.13"},
                   zkref::ArrayDatabase::FormArrayInfo(kNas2, kVendor, kCs2,
                                                       "nasadmin", kPassword)});
  ASSERT_TRUE(zkfiler::ResetJournal().ok());
}

void LifecycleTest::InstallFileServers() {
  ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
  for (const zkfiler::ServerLayout& oLayout :
       {FileServerOne(), FileServerTwo()}) {
    const zkfiler::Status oStatus = zkfiler::Install(oLayout);
    ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
  }
}

void LifecycleTest::TearDown() {
  zktest::UnfixHostName();
  E2ETest::TearDown();
}

void LifecycleTest::SetNow(long nNow) {
  m_nNow = nNow;
  zktest::FixNow(nNow);
}

ZKSO::ResultCode LifecycleTest::Run(
    Operation fn, const std::vector<zkref::MemSnapInfo*>& vRecords) {
  std::vector<ZKSO::SnapInfo*> vPointers(vRecords.begin(), vRecords.end());
  return fn(vPointers.data(), static_cast<int16_t>(vPointers.size()),
            &m_oOSUtil);
}

zkref::MemSnapInfo* LifecycleTest::Carry(const zkref::MemSnapInfo& oRecord) {
  zkref::MemSnapInfo* pRecord = NewRecord(oRecord.sSourceDevice);
  pRecord->sSnapName = oRecord.sSnapName;
  pRecord->sSnapDevice = oRecord.sSnapDevice;
  pRecord->sHostIdentifier = oRecord.sHostIdentifier;
  pRecord->sBoundArray = oRecord.sBoundArray;
  pRecord->mMetaData = oRecord.mMetaData;
  pRecord->mIntValues = oRecord.mIntValues;
  pRecord->nStatus = oRecord.nStatus;
  return pRecord;
}

std::vector<zkref::MemSnapInfo*> LifecycleTest::CarryAll(
    const std::vector<zkref::MemSnapInfo*>& vRecords) {
  std::vector<zkref::MemSnapInfo*> vCarried;
  for (zkref::MemSnapInfo* pRecord : vRecords) {
    vCarried.push_back(Carry(*pRecord));
  }
  return vCarried;
}

std::map<std::string, int> LifecycleTest::CommandCounts(
    const std::string& sHost) {
  std::vector<zkfiler::JournalEntry> vEntries;
  EXPECT_TRUE(zkfiler::Journal(&vEntries).ok());
  std::map<std::string, int> mCounts;
  for (const auto& oEntry : vEntries) {
    if (sHost.empty() || oEntry.control_host == sHost) {
      ++mCounts[oEntry.command];
    }
  }
  return mCounts;
}

std::vector<zkfiler::JournalEntry> LifecycleTest::JournalOf(
    const std::string& sCommand) {
  std::vector<zkfiler::JournalEntry> vEntries;
  EXPECT_TRUE(zkfiler::Journal(&vEntries).ok());
  std::vector<zkfiler::JournalEntry> vOf;
  for (const auto& oEntry : vEntries) {
    if (oEntry.command == sCommand) vOf.push_back(oEntry);
  }
  return vOf;
}

std::vector<zkfiler::CheckpointView> LifecycleTest::Checkpoints(
    const std::string& sHost) {
  std::vector<zkfiler::CheckpointView> v;
  EXPECT_TRUE(zkfiler::ListCheckpoints(sHost, &v).ok());
  return v;
}

std::vector<zkfiler::ExportView> LifecycleTest::Exports(
    const std::string& sHost) {
  std::vector<zkfiler::ExportView> v;
  EXPECT_TRUE(zkfiler::ListExports(sHost, &v).ok());
  return v;
}

void LifecycleTest::ArmFault(const std::string& sCommand,
                             zkfiler::FaultMode eMode, int64_t n,
                             const std::string& sHost,
                             const std::string& sMessageCode) {
  zkfiler::FaultRule oRule;
  oRule.command = sCommand;
  oRule.control_host = sHost;
  oRule.mode = eMode;
  oRule.n = n;
  oRule.error.sMessageCode = sMessageCode;
  const zkfiler::Status oStatus = zkfiler::ArmFault(oRule);
  ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
}

}  // namespace zke2e
