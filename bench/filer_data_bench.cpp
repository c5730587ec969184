// SPDX-License-Identifier: Apache-2.0
// What the simulated file server's data costs: a read-only checkpoint (a
// copy of the file system's files), a writable one (a copy of its
// baseline) and a restore (a copy swapped into place) of file systems of
// 1, 100 and 10,000 files (10,000 files of 100 KiB, about 1 GiB), and of
// one 1 GiB file. Counters: bytes copied per operation, and how many of
// them were shared by a clone or copied in the kernel. The state file and
// its data live in a folder under $TMPDIR (or /tmp): its file system decides
// whether clones are possible.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "filer/FilerData.h"
#include "filer/FilerFiles.h"
#include "filer/FilerSim.h"
#include "host/ManageCelerra.h"

namespace {

constexpr const char* kLayout = R"(
server cs1
  login admin pw
  mover 2
  fs 101 name=fs1 mover=2 mount=/fs1 extra=pool
)";

struct World {
  std::string dir;
  std::string db;
  ManageCelerra client{1};
};

// A state file whose fs1 holds `files` files of `size` bytes each.
bool MakeWorld(World* w, int files, int64_t size) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl =
      std::string(tmp != nullptr ? tmp : "/tmp") + "/zk_data_bench_XXXXXX";
  if (::mkdtemp(&tmpl[0]) == nullptr) return false;
  w->dir = tmpl;
  w->db = w->dir + "/filer.db";
  const std::string layout = w->dir + "/layout.txt";
  FILE* f = std::fopen(layout.c_str(), "w");
  if (f == nullptr) return false;
  std::fputs(kLayout, f);
  std::fclose(f);
  if (!zkfiler::LoadStateFile(w->db, layout, false).ok()) return false;
  const std::string fs =
      zkfiler::data::FsDir(zkfiler::DataRoot(), "cs1", "101");
  std::vector<char> block(1 << 20, 'x');
  for (int i = 0; i < files; ++i) {
    const std::string dir = fs + "/d" + std::to_string(i / 1000);
    ::mkdir(dir.c_str(), 0755);
    const int fd = ::open((dir + "/f" + std::to_string(i)).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    for (int64_t left = size; left > 0;) {
      block[0] = static_cast<char>('a' + i % 26);
      const size_t n = static_cast<size_t>(
          std::min<int64_t>(left, static_cast<int64_t>(block.size())));
      if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
        ::close(fd);
        return false;
      }
      left -= static_cast<int64_t>(n);
    }
    ::close(fd);
  }
  w->client.SetControlHostInfo("cs1", "admin", "pw");
  return true;
}

void DropWorld(World* w) {
  zkfiler::UseInMemoryStore();
  zkfiler::data::RemoveTree(w->dir);
}

void SetCounters(benchmark::State& state, const zkfiler::data::CopyCounters& a,
                 const zkfiler::data::CopyCounters& b) {
  const double ops = static_cast<double>(state.iterations());
  state.counters["bytes_copied"] = static_cast<double>(b.bytes - a.bytes) / ops;
  state.counters["files_copied"] = static_cast<double>(b.files - a.files) / ops;
  state.counters["cloned_bytes"] =
      static_cast<double>(b.cloned_bytes - a.cloned_bytes) / ops;
  state.counters["kernel_copied_bytes"] =
      static_cast<double>(b.offloaded_bytes - a.offloaded_bytes) / ops;
}

// Args: files, bytes per file, step (0 snap, 1 writable copy, 2 restore).
void BM_Data(benchmark::State& state) {
  World w;
  if (!MakeWorld(&w, static_cast<int>(state.range(0)), state.range(1))) {
    state.SkipWithError("cannot make the file system's files");
    DropWorld(&w);
    return;
  }
  const int step = static_cast<int>(state.range(2));
  std::string base;
  if (step > 0 &&
      !w.client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool", "base", base)) {
    state.SkipWithError("cannot make the baseline");
  }
  const zkfiler::data::CopyCounters before = zkfiler::data::Counters();
  int n = 0;
  for (auto _ : state) {
    std::string id, baseline = base;
    bool ok = true;
    if (step == 0) {
      ok = w.client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool",
                                  "c" + std::to_string(++n), id);
    } else if (step == 1) {
      ok = w.client.CreateRWChkPt("101", CELERRA_STG_UXFS, "pool", "base_RW",
                                  false, baseline, id);
    } else {
      ok = w.client.RestorePFSFromChkPt("base", base, "101");
    }
    if (!ok) {
      state.SkipWithError(w.client.GetLastError().sMessage.c_str());
      break;
    }
    state.PauseTiming();
    if (step < 2) w.client.DeleteChkPt(id, "", false);
    state.ResumeTiming();
  }
  zkfiler::data::CopyCounters after = zkfiler::data::Counters();
  SetCounters(state, before, after);
  DropWorld(&w);
}

void Cases(benchmark::internal::Benchmark* b) {
  for (int step = 0; step < 3; ++step) {
    b->Args({1, 4096, step});
    b->Args({100, 4096, step});
    b->Args({10000, 100 * 1024, step});    // about 1 GiB
    b->Args({1, int64_t{1} << 30, step});  // one 1 GiB file
  }
  b->ArgNames({"files", "bytes_each", "step"});
  b->Unit(benchmark::kMillisecond);
  b->Iterations(3);
}
BENCHMARK(BM_Data)->Apply(Cases);

}  // namespace

BENCHMARK_MAIN();
