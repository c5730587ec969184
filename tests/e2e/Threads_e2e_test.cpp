// SPDX-License-Identifier: Apache-2.0
// Several host threads run the loaded plug-in at once, each with its own
// records and utility object, as a host framework may: NAS preparations on
// the same and on different control hosts share the process-wide CIFS server
// cache. Run under TSan with the "threads" label.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/LifecycleFixture.h"

namespace zke2e {
namespace {

class ThreadsE2ETest : public LifecycleTest {};

TEST_F(ThreadsE2ETest, ConcurrentNasPreparationsShareOneFetchPerControlHost) {
  const int kThreads = 4;
  const int kRounds = 3;
  struct Device {
    std::string sFiler;
    std::string sPath;
    std::string sFsInfo;
  };
  const std::vector<Device> vDevices = {
      {kNas1, "/fs2/ds1",
       "102|1|pool_gold|nas1.zk.test|/fs2/ds1|fs2|2|false|/fs2|"},
      {kNas1, "/root_vdm_3/fs3/ds",
       "103|1|pool_gold|nas1.zk.test|/root_vdm_3/fs3/ds|fs3|3|true|/fs3|"},
      {kNas2, "/fs2/ds9",
       "102|1|pool_silver|nas2.zk.test|/fs2/ds9|fs2|2|false|/fs2|"},
  };

  std::atomic<int> nWrong{0};
  std::vector<std::thread> vThreads;
  for (int t = 0; t < kThreads; ++t) {
    vThreads.emplace_back([&, t] {
      zkref::MemOSUtil oOSUtil(static_cast<ZKUint64>(100 + t));
      for (int r = 0; r < kRounds; ++r) {
        std::vector<zkref::MemSnapInfo> vRecords(
            vDevices.size(), zkref::MemSnapInfo(&m_oDatabase));
        std::vector<ZKSO::SnapInfo*> vPointers;
        for (size_t i = 0; i < vDevices.size(); ++i) {
          // Rotate the order so threads reach the control hosts differently.
          const Device& oDevice = vDevices[(i + t) % vDevices.size()];
          vRecords[i].sSourceDevice =
              NasDevice(oDevice.sPath, oDevice.sFiler, true);
          vRecords[i].sSnapName = "t" + std::to_string(t);
          vPointers.push_back(&vRecords[i]);
        }
        const ZKSO::ResultCode eResult = m_pPlugin->zkso_prepareDevices(
            vPointers.data(), static_cast<int16_t>(vPointers.size()), &oOSUtil);
        if (eResult != ZKSO::RESULT_SUCCESS) ++nWrong;
        for (size_t i = 0; i < vDevices.size(); ++i) {
          const Device& oDevice = vDevices[(i + t) % vDevices.size()];
          if (vRecords[i].nStatus != ZKSO::READY_FOR_SNAP ||
              vRecords[i].mMetaData[SM_MDT_FS_INFO] != oDevice.sFsInfo) {
            ++nWrong;
          }
        }
      }
    });
  }
  for (std::thread& oThread : vThreads) oThread.join();

  EXPECT_EQ(0, nWrong.load()) << m_oSink.Dump();
  // The clock stands still: one fetch per control host for the whole run.
  EXPECT_EQ(1, CommandCounts(kCs1)["GetCifsServers"]);
  EXPECT_EQ(1, CommandCounts(kCs2)["GetCifsServers"]);
}

}  // namespace
}  // namespace zke2e
