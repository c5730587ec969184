// SPDX-License-Identifier: Apache-2.0
// Many clients on many threads against one store, in memory and in a state
// file. Run under TSan (ctest label "threads").
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

#include "filerdata/FilerData.h"
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 20;

enum class StoreKind { kMemory, kFile };

void PrintTo(StoreKind kind, std::ostream* os) {
  *os << (kind == StoreKind::kMemory ? "memory" : "file");
}

class ThreadsTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    if (GetParam() == StoreKind::kMemory) {
      ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
    } else {
      path_ = ::testing::TempDir() + "filer_threads_" +
              std::to_string(::getpid()) + ".db";
      Remove();
      ASSERT_TRUE(zkfiler::CreateStateFile(path_).ok());
    }
    ASSERT_TRUE(zkfiler::LoadLayoutText(kLayout).ok());
  }
  void TearDown() override {
    ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
    if (!path_.empty()) Remove();
  }
  void Remove() {
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::remove((path_ + suffix).c_str());
    }
    zkfiler::data::RemoveTree(zkfiler::data::RootFor(path_));
  }
  std::string path_;
};

// Each thread creates, lists, exposes, unexposes and deletes its own
// checkpoints; every id handed out must be unique and nothing may be left.
TEST_P(ThreadsTest, ConcurrentCheckpointLifecycles) {
  std::atomic<int> failures{0};
  std::vector<std::vector<std::string>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures, &ids] {
      ManageCelerra client(static_cast<unsigned long long>(t));
      client.SetControlHostInfo("cs1", "admin", kPassword);
      std::vector<std::string> none;
      for (int r = 0; r < kRounds; ++r) {
        const std::string name =
            "t" + std::to_string(t) + "_" + std::to_string(r);
        std::string ro, rw, path;
        std::string baseline;
        std::list<CelerraChkPtInfo> list;
        bool ok =
            client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", name, ro);
        baseline = ro;
        ok = ok && client.CreateRWChkPt("101", CELERRA_STG_UXFS, "pool1",
                                        name + "_RW", false, baseline, rw);
        ok = ok && Celerra_GetSnapDeviceNameWithManageCelerra(
                       client, "/fs1", "101", rw, "", path);
        ok = ok && client.CreateNFSShare(path, "2", false, none, none, none);
        ok = ok && client.GetChkPointsInfo("", list);
        ok = ok && client.DeleteNFSShare(path, "2");
        ok = ok && client.DeleteChkPt(rw, ro, true);
        if (!ok) ++failures;
        ids[t].push_back(ro);
        ids[t].push_back(rw);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  std::set<std::string> unique;
  for (const auto& v : ids) unique.insert(v.begin(), v.end());
  EXPECT_EQ(unique.size(), size_t{kThreads * kRounds * 2});
  std::vector<zkfiler::CheckpointView> left;
  ASSERT_TRUE(zkfiler::ListCheckpoints("", &left).ok());
  EXPECT_TRUE(left.empty());
  std::vector<zkfiler::JournalEntry> journal;
  ASSERT_TRUE(zkfiler::Journal(&journal).ok());
  EXPECT_EQ(journal.size(), size_t{kThreads * kRounds * 7});
}

// Threads race for the same names: exactly one wins each name.
TEST_P(ThreadsTest, OneWinnerPerName) {
  std::atomic<int> wins{0}, in_use{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&wins, &in_use] {
      ManageCelerra client(1);
      client.SetControlHostInfo("cs1", "admin", kPassword);
      for (int r = 0; r < kRounds; ++r) {
        std::string id;
        if (client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1",
                                 "race" + std::to_string(r), id)) {
          ++wins;
        } else if (client.GetLastError().sMessageCode == "13690535947") {
          ++in_use;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wins.load(), kRounds);
  EXPECT_EQ(in_use.load(), (kThreads - 1) * kRounds);
}

INSTANTIATE_TEST_SUITE_P(Stores, ThreadsTest,
                         ::testing::Values(StoreKind::kMemory,
                                           StoreKind::kFile),
                         [](const auto& info) {
                           return info.param == StoreKind::kMemory
                                      ? std::string("Memory")
                                      : std::string("File");
                         });

}  // namespace
}  // namespace zkfiler_test
