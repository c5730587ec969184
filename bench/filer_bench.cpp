// SPDX-License-Identifier: Apache-2.0
// Cost of one checkpoint create/delete cycle through the client, against the
// in-memory store and against a state file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "filer/FilerSim.h"
#include "host/ManageCelerra.h"

namespace {

constexpr const char* kLayout =
    "server cs\n login u pw\n mover 2\n fs 101 name=fs mover=2 mount=/fs\n";

std::string StatePath() {
  return "/tmp/filer_bench_" + std::to_string(::getpid()) + ".db";
}

void RemoveState(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::remove((path + suffix).c_str());
  }
}

void CreateDeleteCycle(benchmark::State& state) {
  ManageCelerra client(1);
  client.SetControlHostInfo("cs", "u", "pw");
  int64_t n = 0;
  for (auto _ : state) {
    std::string id;
    const std::string name = "bench_" + std::to_string(n++);
    if (!client.CreateROChkPt("101", CELERRA_STG_UXFS, "", name, id) ||
        !client.DeleteChkPt(id, "", false)) {
      state.SkipWithError(client.GetLastError().sMessage.c_str());
      break;
    }
  }
}

void BM_CycleInMemory(benchmark::State& state) {
  if (!zkfiler::UseInMemoryStore().ok() ||
      !zkfiler::LoadLayoutText(kLayout).ok()) {
    state.SkipWithError("cannot set up the in-memory store");
    return;
  }
  CreateDeleteCycle(state);
}
BENCHMARK(BM_CycleInMemory);

void BM_CycleStateFile(benchmark::State& state) {
  const std::string path = StatePath();
  RemoveState(path);
  if (!zkfiler::CreateStateFile(path).ok() ||
      !zkfiler::LoadLayoutText(kLayout).ok()) {
    state.SkipWithError("cannot set up the state file");
    return;
  }
  CreateDeleteCycle(state);
  zkfiler::UseInMemoryStore();
  RemoveState(path);
}
BENCHMARK(BM_CycleStateFile);

}  // namespace

BENCHMARK_MAIN();
