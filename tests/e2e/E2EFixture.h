// SPDX-License-Identifier: Apache-2.0
// The world an end-to-end test drives the loaded plug-in in: a simulated
// file server with one data mover, a file system, an NFS export and a CIFS
// share; the host's array management database; in-memory host records; a
// hosts file naming the file servers; a fixed clock; and a log sink that
// keeps every line of every level.
//
// Every scenario logs in with kPassword; TearDown checks that no debug
// line, error line, job log line or reason message of the test holds it.
//
// The fixture owns the records (stable addresses for the whole test) and
// restores the environment variables it set.
#ifndef ZK_TESTS_E2E_E2EFIXTURE_H_
#define ZK_TESTS_E2E_E2EFIXTURE_H_

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <deque>
#include <string>
#include <vector>

#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"
#include "tests/e2e/PluginUnderTest.h"

namespace zke2e {

extern const char kPassword[];
extern const char kControlHost[];   // the simulated file server's control host
extern const char kFilerName[];     // name the devices give the file server
extern const char kFilerAddress[];  // its address in the hosts file
extern const char kAliasFilerName[];  // a second name, known to the database
                                      // only by its address
extern const char kCifsServer[];      // CIFS server name of the UNC devices
extern const char kExportPath[];      // NFS export of file system kFsId
extern const char kFsId[];
extern const char kStorageExtra[];
extern const char kMoverId[];
extern const char kShareName[];  // CIFS share on kFsId
extern const ZKUint64 kJobId;
extern const long kNow;       // the fixed clock, seconds since 1970
extern const char kVendor[];  // accepted vendor name of array entries

// Device identifiers as the host writes them.
std::string NfsDevice(const std::string& sExportPath,
                      const std::string& sFilerName = kFilerName);
std::string UncDevice(const std::string& sServer, const std::string& sShare);
std::string LunDevice();  // a non-VMware "fc" device

// The fixture's sink: keeps every line, or, after SetMaxLevel, only the
// debug lines up to that level (error lines always), so that the logger does
// not even format the others, as with ZK_DEBUG_LEVEL and the default sink.
class E2ELogSink : public ZkCaptureLogSink {
 public:
  bool Wants(ZkLogLine::Stream eStream, int nLevel) const override {
    return eStream == ZkLogLine::kError || nLevel <= m_nMaxLevel.load();
  }
  void SetMaxLevel(int nLevel) { m_nMaxLevel.store(nLevel); }

 private:
  std::atomic<int> m_nMaxLevel{INT_MAX};
};

class E2ETest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new record for sSourceDevice with host snap name sSnapName.
  zkref::MemSnapInfo* NewRecord(const std::string& sSourceDevice,
                                const std::string& sSnapName = "nightly");
  // The array management entry of kFilerName, with the vendor given.
  void AddFilerEntry(const std::string& sVendor = kVendor);
  // Lines of the sink whose text equals sText exactly.
  std::vector<ZkLogLine> LinesEqualTo(const std::string& sText) const;

  const PluginUnderTest* m_pPlugin = nullptr;
  E2ELogSink m_oSink;
  zkref::ArrayDatabase m_oDatabase;
  zkref::MemOSUtil m_oOSUtil{kJobId};
  std::deque<zkref::MemSnapInfo> m_dRecords;

 private:
  std::string m_sTempDir;
};

}  // namespace zke2e

#endif  // ZK_TESTS_E2E_E2EFIXTURE_H_
