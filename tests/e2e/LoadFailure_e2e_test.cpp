// SPDX-License-Identifier: Apache-2.0
// The plug-in loaded while the allocations of its load fail, one at a time:
// the load itself must not throw (an exception out of the library's static
// initialisation would end the host process inside dlopen). When the lock
// of the CIFS server cache is what could not be made, the operations that
// need it fail cleanly instead: the record's failure status, an error line,
// RESULT_FAILURE, and nothing fetched from the file server.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "host/ZKSnapPlugin.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"
#include "tests/e2e/AllocationFailure.h"
#include "tests/testclock/ZkTestClock.h"
#include "utils/CelerraUtils.h"

namespace {

const char kPassword[] = "Lf-Pw#5521-load";
const char kControlHost[] = "cs-loadfail.zk.test";
const char kFiler[] = "nas-loadfail.zk.test";
const char kVendor[] = "Dell EMC VNX / Celerra";
const char kLockError[] = "Not enough memory to initialize ZkCriticalSection";

std::string NasDevice() {
  _CelerraSnapDeviceIdentifier oId;
  oId.sKemType = "native_celerra";
  oId.sType = "native_celerra";
  oId.sTargetHostName = kFiler;
  oId.sPath = "/fs1/ds";
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

class LoadFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char aTemplate[] = "/tmp/zk-loadfail-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(aTemplate));
    m_sTempDir = aTemplate;
    {
      std::ofstream oHosts(m_sTempDir + "/hosts");
      oHosts << "10.21.0.14 " << kFiler << "\n";
    }
    setenv("ZK_HOSTS_FILE", (m_sTempDir + "/hosts").c_str(), 1);
    zktest::FixNow(1700000000);

    ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
    zkfiler::ServerLayout oLayout(kControlHost, "nasadmin", kPassword);
    oLayout.Mover("2", {"10.21.0.14"})
        .FileSystem("101", "fs1", "2", "/fs1")
        .CifsServer("cifs1", "2", "10.21.0.14");
    for (auto& oFs : oLayout.file_systems) oFs.storage_extra = "pool_a";
    const zkfiler::Status oStatus = zkfiler::Install(oLayout);
    ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
    m_oDatabase.Add(
        {kFiler,
         {"10.21.0.14"},
         zkref::ArrayDatabase::FormArrayInfo(kFiler, kVendor, kControlHost,
                                             "nasadmin", kPassword)});
  }

  void TearDown() override {
    zktest::UnfixNow();
    unsetenv("ZK_HOSTS_FILE");
    std::remove((m_sTempDir + "/hosts").c_str());
    rmdir(m_sTempDir.c_str());
  }

  // Loads the plug-in with the nFailAt-th allocation of the load failing (0:
  // none); *pbFailed tells whether there was such an allocation.
  void* Load(int64_t nFailAt, bool* pbFailed) {
    zktest::ArmAllocationFailure(zktest::AllocationSource::kOperatorNew,
                                 nFailAt);
    void* pHandle = dlopen(ZK_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    *pbFailed = zktest::AllocationFailureHappened();
    zktest::DisarmAllocationFailure();
    return pHandle;
  }

  // Prepares one NAS device with the loaded plug-in.
  ZKSO::ResultCode Prepare(void* pHandle, zkref::MemSnapInfo* pRecord) {
    const auto fnPrepare = reinterpret_cast<ZKSO::Fn::zkso_prepareDevices>(
        dlsym(pHandle, "zkso_prepareDevices"));
    EXPECT_NE(nullptr, fnPrepare);
    if (fnPrepare == nullptr) return ZKSO::RESULT_FAILURE;
    pRecord->sSourceDevice = NasDevice();
    pRecord->sSnapName = "nightly";
    ZKSO::SnapInfo* apRecords[] = {pRecord};
    zkref::MemOSUtil oOSUtil(7);
    return fnPrepare(apRecords, 1, &oOSUtil);
  }

  int CifsFetches() {
    std::vector<zkfiler::JournalEntry> vEntries;
    EXPECT_TRUE(zkfiler::Journal(&vEntries).ok());
    int n = 0;
    for (const auto& oEntry : vEntries) n += oEntry.command == "GetCifsServers";
    return n;
  }

  ZkCaptureLogSink m_oSink;
  zkref::ArrayDatabase m_oDatabase;
  std::string m_sTempDir;
};

TEST_F(LoadFailureTest, AFailedAllocationAtLoadFailsTheOperationNotTheLoad) {
  int nLockFailures = 0;
  bool bFailed = true;
  for (int64_t nFailAt = 1; bFailed; ++nFailAt) {
    SCOPED_TRACE("allocation " + std::to_string(nFailAt) + " of the load");
    void* pHandle = Load(nFailAt, &bFailed);
    ASSERT_NE(nullptr, pHandle) << dlerror();
    if (!bFailed) {
      ASSERT_EQ(0, dlclose(pHandle)) << dlerror();
      break;  // every allocation of the load has failed once
    }
    m_oSink.Clear();
    ASSERT_TRUE(zkfiler::ResetJournal().ok());
    zkref::MemSnapInfo oRecord(&m_oDatabase);
    const ZKSO::ResultCode eResult = Prepare(pHandle, &oRecord);
    if (m_oSink.Contains(kLockError)) {
      ++nLockFailures;
      EXPECT_EQ(ZKSO::RESULT_FAILURE, eResult);
      EXPECT_EQ(ZKSO::READY_FOR_SNAP_FAILED, oRecord.nStatus);
      EXPECT_EQ(0, CifsFetches());
    } else {
      EXPECT_EQ(ZKSO::RESULT_SUCCESS, eResult) << m_oSink.Dump();
      EXPECT_EQ(ZKSO::READY_FOR_SNAP, oRecord.nStatus);
    }
    ASSERT_EQ(0, dlclose(pHandle)) << dlerror();
  }
  EXPECT_EQ(1, nLockFailures) << "the lock's allocation was never failed";

  // Loaded with nothing failing, the same preparation succeeds.
  void* pHandle = Load(0, &bFailed);
  ASSERT_NE(nullptr, pHandle) << dlerror();
  m_oSink.Clear();
  zkref::MemSnapInfo oRecord(&m_oDatabase);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare(pHandle, &oRecord)) << m_oSink.Dump();
  EXPECT_EQ(ZKSO::READY_FOR_SNAP, oRecord.nStatus);
  EXPECT_FALSE(m_oSink.Contains(kLockError));
  ASSERT_EQ(0, dlclose(pHandle)) << dlerror();
}

}  // namespace
