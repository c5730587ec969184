// SPDX-License-Identifier: Apache-2.0
// Loading and unloading the plug-in over and over, as a host that loads it
// for each job does: after each dlopen several host threads prepare NAS
// devices at once (so the CIFS server cache and its lock are used), then the
// library is closed. Each load must start with an empty cache of its own and
// a working lock, the close must take the library out of the process with
// no thread of its own left behind, and nothing may leak (LeakSanitizer,
// in the ASan+UBSan build). The clock stands still across loads, so a cache
// that outlived its library would be seen at once.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "filer/FilerSim.h"
#include "host/ZKSnapPlugin.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"
#include "tests/testclock/ZkTestClock.h"
#include "utils/CelerraUtils.h"

namespace {

const char kPassword[] = "Ld-Pw#7781-unload";
const char kControlHost[] = "cs-reload.zk.test";
const char kFiler[] = "nas-reload.zk.test";
const char kVendor[] = "Dell EMC VNX / Celerra";
const int kLoads = 20;
const int kThreads = 4;

using OperationFn = ZKSO::Fn::zkso_prepareDevices;

std::string NasDevice(const std::string& sPath) {
  _CelerraSnapDeviceIdentifier oId;
  oId.sKemType = "native_celerra";
  oId.sType = "native_celerra";
  oId.sTargetHostName = kFiler;
  oId.sPath = sPath;
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

size_t ThreadCount() {
  size_t n = 0;
  if (DIR* pDir = opendir("/proc/self/task")) {
    while (struct dirent* pEntry = readdir(pDir)) {
      if (pEntry->d_name[0] != '.') ++n;
    }
    closedir(pDir);
  }
  return n;
}

bool Loaded() {
  void* pHandle = dlopen(ZK_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (pHandle == nullptr) return false;
  dlclose(pHandle);
  return true;
}

class LoadUnloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char aTemplate[] = "/tmp/zk-reload-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(aTemplate));
    m_sTempDir = aTemplate;
    {
      std::ofstream oHosts(m_sTempDir + "/hosts");
      oHosts << "10.21.0.13 " << kFiler << "\n";
    }
    setenv("ZK_HOSTS_FILE", (m_sTempDir + "/hosts").c_str(), 1);
    zktest::FixNow(1700000000);

    ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
    zkfiler::ServerLayout oLayout(kControlHost, "nasadmin", kPassword);
    oLayout.Mover("2", {"10.21.0.13"})
        .FileSystem("101", "fs1", "2", "/fs1")
        .FileSystem("102", "fs2", "2", "/fs2")
        .CifsServer("cifs1", "2", "10.21.0.13");
    for (auto& oFs : oLayout.file_systems) oFs.storage_extra = "pool_a";
    const zkfiler::Status oStatus = zkfiler::Install(oLayout);
    ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
    m_oDatabase.Add(
        {kFiler,
         {"10.21.0.13"},
         zkref::ArrayDatabase::FormArrayInfo(kFiler, kVendor, kControlHost,
                                             "nasadmin", kPassword)});
  }

  void TearDown() override {
    for (const ZkLogLine& oLine : m_oSink.Lines()) {
      EXPECT_EQ(std::string::npos, oLine.sText.find(kPassword))
          << oLine.ToString();
    }
    for (const zkref::MemSnapInfo& oRecord : m_dRecords) {
      for (const auto& oLine : oRecord.vJobLog) {
        EXPECT_EQ(std::string::npos, oLine.sText.find(kPassword))
            << oLine.sText;
      }
    }
    zktest::UnfixNow();
    unsetenv("ZK_HOSTS_FILE");
    std::remove((m_sTempDir + "/hosts").c_str());
    rmdir(m_sTempDir.c_str());
  }

  int CommandCount(const std::string& sCommand) {
    std::vector<zkfiler::JournalEntry> vEntries;
    EXPECT_TRUE(zkfiler::Journal(&vEntries).ok());
    int n = 0;
    for (const auto& oEntry : vEntries) n += oEntry.command == sCommand;
    return n;
  }

  ZkCaptureLogSink m_oSink;
  zkref::ArrayDatabase m_oDatabase;
  std::deque<zkref::MemSnapInfo> m_dRecords;
  std::string m_sTempDir;
};

TEST_F(LoadUnloadTest, EachLoadHasItsOwnCacheAndLeavesNothingBehind) {
  const size_t nThreadsBefore = ThreadCount();
  ASSERT_FALSE(Loaded());
  for (int nLoad = 0; nLoad < kLoads; ++nLoad) {
    SCOPED_TRACE("load " + std::to_string(nLoad + 1));
    void* pHandle = dlopen(ZK_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, pHandle) << dlerror();
    const OperationFn fnPrepare =
        reinterpret_cast<OperationFn>(dlsym(pHandle, "zkso_prepareDevices"));
    ASSERT_NE(nullptr, fnPrepare);
    ASSERT_TRUE(zkfiler::ResetJournal().ok());

    // Each host thread: its own records, utility object and request.
    std::vector<std::vector<ZKSO::SnapInfo*>> vRequests(kThreads);
    std::deque<zkref::MemOSUtil> dOSUtils;
    for (int t = 0; t < kThreads; ++t) {
      dOSUtils.emplace_back(static_cast<ZKUint64>(1000 * nLoad + t));
      for (const char* pszPath : {"/fs1/ds", "/fs2/ds"}) {
        m_dRecords.emplace_back(&m_oDatabase);
        m_dRecords.back().sSourceDevice = NasDevice(pszPath);
        m_dRecords.back().sSnapName = "t" + std::to_string(t);
        vRequests[t].push_back(&m_dRecords.back());
      }
    }
    std::atomic<int> nSucceeded{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < kThreads; ++t) {
      vThreads.emplace_back([&, t] {
        std::vector<ZKSO::SnapInfo*>& v = vRequests[t];
        if (fnPrepare(v.data(), static_cast<int16_t>(v.size()), &dOSUtils[t]) ==
            ZKSO::RESULT_SUCCESS) {
          ++nSucceeded;
        }
      });
    }
    for (std::thread& oThread : vThreads) oThread.join();
    EXPECT_EQ(kThreads, nSucceeded.load()) << m_oSink.Dump();
    // One fetch per load, however many threads asked, at a clock that never
    // moves: the cache belongs to the loaded library and starts empty.
    EXPECT_EQ(1, CommandCount("GetCifsServers"));

    ASSERT_EQ(0, dlclose(pHandle)) << dlerror();
    // Out of the process: none of its code can run any more.
    ASSERT_FALSE(Loaded()) << "the library stayed loaded after dlclose";
    EXPECT_EQ(nThreadsBefore, ThreadCount());
  }
}

}  // namespace
