// SPDX-License-Identifier: Apache-2.0
// How the simulated file server's cost grows with its size: the cost of one
// client command against a state file holding 10, 1,000 and 100,000 file
// systems (each exported), and the time to load 1,000 and 100,000 file
// systems with as many exports into a new state file or over a full one.
//
// The state files live in /tmp and are removed at the end. Bounded: the
// largest load runs three times, each command for about half a second per
// size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "filer/FilerSim.h"
#include "host/ManageCelerra.h"

namespace {

constexpr const char* kHost = "cs";
constexpr const char* kPassword = "bench-pw";
const int kSizes[] = {10, 1000, 100000};

std::string Scratch(const std::string& what) {
  return "/tmp/filer_scale_bench_" + std::to_string(::getpid()) + "_" + what;
}

void RemoveState(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    std::remove((path + suffix).c_str());
  }
}

std::string FsId(int i) { return std::to_string(1000 + i); }

// `n` file systems on mover 2, each exported to one host.
std::string LayoutFile(int n) {
  const std::string path = Scratch("layout_" + std::to_string(n) + ".txt");
  std::ifstream existing(path);
  if (existing) return path;
  std::ofstream out(path);
  out << "server " << kHost << "\n login admin " << kPassword
      << "\n mover 2 interfaces=10.0.0.2\n";
  for (int i = 0; i < n; ++i) {
    const std::string id = FsId(i);
    out << " fs " << id << " name=fs" << id << " mover=2 mount=/fs" << id
        << " extra=pool\n";
  }
  for (int i = 0; i < n; ++i) {
    const std::string id = FsId(i);
    out << " export /fs" << id << " mover=2 access=10.1.0.1 rw=10.1.0.1\n";
  }
  return path;
}

// The state file the command benchmarks run against; reloaded only when
// the size changes.
bool UseSize(int n) {
  static int loaded = -1;
  if (loaded == n) return true;
  const std::string db = Scratch("commands.db");
  zkfiler::UseInMemoryStore();
  RemoveState(db);
  if (!zkfiler::LoadStateFile(db, LayoutFile(n), false).ok()) return false;
  loaded = n;
  return true;
}

ManageCelerra Client() {
  ManageCelerra client(1);
  client.SetControlHostInfo(kHost, "admin", kPassword);
  return client;
}

// File systems visited in a scattered order.
struct Picker {
  explicit Picker(int n) : n(n) {}
  std::string Next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return FsId(static_cast<int>((state >> 33) % static_cast<uint64_t>(n)));
  }
  int n;
  uint64_t state = 88172645463325252ULL;
};

using Command = bool (*)(ManageCelerra&, const std::string& fs, int64_t round);

bool PfsInfo(ManageCelerra& c, const std::string& fs, int64_t) {
  std::string id = fs, extra, savvol, name, vdm;
  eCelerraStgType type;
  bool on_vdm;
  return c.GetPFSInfo(id, type, extra, savvol, name, vdm, on_vdm);
}

bool NfsInfo(ManageCelerra& c, const std::string& fs, int64_t) {
  std::string id, mover;
  bool on_vdm;
  std::vector<std::string> a, r, o;
  return c.GetNFSInfo("/fs" + fs, id, on_vdm, mover, a, r, o);
}

bool MountPoint(ManageCelerra& c, const std::string& fs, int64_t) {
  CelerraMountPointsInfo_t info;
  return c.GetMountPointInfo(info, "2", "/fs" + fs, false);
}

bool CheckpointsOfFs(ManageCelerra& c, const std::string& fs, int64_t) {
  std::list<CelerraChkPtInfo> list;
  return c.GetChkPointsInfo(fs, list);
}

// What the plug-in sends to take, expose, unexpose and delete one snapshot.
bool SnapshotCycle(ManageCelerra& c, const std::string& fs, int64_t round) {
  const std::string name = "bench_" + std::to_string(round);
  std::string ro, rw, path;
  std::vector<std::string> hosts{"10.1.0.9"};
  return c.CreateROChkPt(fs, CELERRA_STG_UXFS, "pool", name, ro) &&
         c.CreateRWChkPt(fs, CELERRA_STG_UXFS, "pool", name + "_rw", false, ro,
                         rw) &&
         Celerra_GetSnapDeviceNameWithManageCelerra(c, "/fs" + fs, fs, rw, "",
                                                    path) &&
         c.CreateNFSShare(path, "2", false, hosts, hosts, hosts) &&
         c.DeleteNFSShare(path, "2") && c.DeleteChkPt(rw, ro, true);
}

void RunCommand(benchmark::State& state, int n, Command command) {
  if (!UseSize(n)) {
    state.SkipWithError("cannot load the layout");
    return;
  }
  ManageCelerra client = Client();
  Picker picker(n);
  static int64_t round = 0;
  for (auto _ : state) {
    if (!command(client, picker.Next(), round++)) {
      state.SkipWithError(client.GetLastError().sMessage.c_str());
      break;
    }
  }
  state.counters["fs"] = n;
}

void RunLoad(benchmark::State& state, int n, bool over_full) {
  const std::string layout = LayoutFile(n);
  const std::string db = Scratch("load.db");
  for (auto _ : state) {
    state.PauseTiming();
    zkfiler::UseInMemoryStore();
    RemoveState(db);
    if (over_full && !zkfiler::LoadStateFile(db, layout, false).ok()) {
      state.SkipWithError("cannot load the layout");
      break;
    }
    state.ResumeTiming();
    zkfiler::Status s = zkfiler::LoadStateFile(db, layout, over_full);
    if (!s.ok()) {
      state.SkipWithError(s.message().c_str());
      break;
    }
  }
  zkfiler::UseInMemoryStore();
  RemoveState(db);
  state.counters["fs"] = n;
  state.counters["exports"] = n;
}

}  // namespace

int main(int argc, char** argv) {
  const struct {
    const char* name;
    Command command;
  } commands[] = {{"GetPFSInfo", PfsInfo},
                  {"GetNFSInfo", NfsInfo},
                  {"GetMountPointInfo", MountPoint},
                  {"GetChkPointsInfo_fs", CheckpointsOfFs},
                  {"SnapshotCycle", SnapshotCycle}};
  // By size first, so each size is loaded once.
  for (int n : kSizes) {
    for (const auto& c : commands) {
      const Command command = c.command;
      benchmark::RegisterBenchmark(
          (std::string("Command/") + c.name + "/fs:" + std::to_string(n))
              .c_str(),
          [n, command](benchmark::State& s) { RunCommand(s, n, command); })
          ->Unit(benchmark::kMicrosecond)
          ->MinTime(0.5);
    }
  }
  for (int n : {1000, 100000}) {
    for (bool over_full : {false, true}) {
      benchmark::RegisterBenchmark(
          (std::string(over_full ? "LoadResetOverFull" : "LoadNewFile") +
           "/fs:" + std::to_string(n))
              .c_str(),
          [n, over_full](benchmark::State& s) { RunLoad(s, n, over_full); })
          ->Unit(benchmark::kMillisecond)
          ->Iterations(n > 1000 ? 3 : 10);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  zkfiler::UseInMemoryStore();
  RemoveState(Scratch("commands.db"));
  for (int n : kSizes) {
    std::remove(Scratch("layout_" + std::to_string(n) + ".txt").c_str());
  }
  return 0;
}
