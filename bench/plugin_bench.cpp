// SPDX-License-Identifier: Apache-2.0
// What the plug-in costs per record, how that cost grows with the number
// of records, and how many commands it sends: each operation of the
// lifecycle called through dlopen over N = 1, 64, 1024, 8192 and 32767
// in-memory host records, with all records on one file system and with
// every record on its own, against the in-memory simulated file server
// without latency, once with the log at the default threshold (0) and once
// at the most verbose (5), into a sink that drops every line.
//
// Benchmark names: SCENARIO/LAYOUT/N/logLEVEL, the scenarios of
// PluginWorld.h: "lifecycle" measures prepare, snap, map, unmap, revert
// and delete of NFS datastores one after the other in one world;
// "prepare_nas" the prepare of file systems reached natively; "reconcile"
// the reconcile against a file server holding 1024 checkpoints. The time of
// an iteration is the wall-clock time of its measured calls (manual time).
// The counters, named OPERATION.COUNTER, all per record and averaged over
// iterations:
//   cpu_us       thread CPU time of the whole call
//   own_us       of it, outside the client library: the plug-in's share
//                (with the host's in-memory records and the log sink)
//   client_us    of it, inside the client library and simulated server
//   wall_us      wall-clock time of the whole call
//   peak_B       heap peak during the call above its start (operator new
//                of the whole process; SQLite's own memory not included)
//   kept_B       heap still held after the call above its start
//   faults       minor page faults of the thread during the call: first
//                touches of memory the process had not used before
//   cmds, min_cmds     file server commands sent, and the fewest the
//                      contract allows
//   cmd.NAME, min.NAME the same per command kind (GetSnapDeviceName stands
//                      for Celerra_GetSnapDeviceNameWithManageCelerra)
//   log_lines    lines that passed the threshold
// and per call: excess_cmds (commands above the minimum; 0 when the
// plug-in sends the fewest).
//
// Each iteration builds a fresh world (not timed) and measures its calls
// (reconcile, which changes nothing, measures its one world again). A call
// whose records do not all succeed stops the case with an error instead of
// figures.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/ClientTimer.h"
#include "bench/DiscardLogSink.h"
#include "bench/PluginWorld.h"
#include "filer/FilerSim.h"
#include "host/ManageCelerra.h"

namespace {

using zkbench::Layout;
using zkbench::Operation;
using zkbench::Scenario;

const int kRecordCounts[] = {1, 64, 1024, 8192, 32767};
const int kLogLevels[] = {0, 5};
const Scenario kScenarios[] = {Scenario::kLifecycle, Scenario::kPrepareNas,
                               Scenario::kReconcile};
const Layout kLayouts[] = {Layout::kOneFs, Layout::kFsPerRecord};

std::string CounterName(const std::string& sCommand) {
  return sCommand == "Celerra_GetSnapDeviceNameWithManageCelerra"
             ? "GetSnapDeviceName"
             : sCommand;
}

// Sums over the iterations of one case, for one operation.
struct Sums {
  double dCpu = 0, dOwn = 0, dClient = 0, dWall = 0;
  double dPeak = 0, dKept = 0, dLogLines = 0, dFaults = 0;
  double dCommands = 0, dMinimum = 0, dExcess = 0;
  std::map<std::string, double> mCommands, mMinimum;

  void Add(const zkbench::CallFigures& oFigures,
           const std::map<std::string, int64_t>& mMinimumCommands,
           int64_t nLogLines, double dRecords) {
    dCpu += oFigures.nCpuNanos * 1e-3 / dRecords;
    dClient += oFigures.nClientCpuNanos * 1e-3 / dRecords;
    dOwn += (oFigures.nCpuNanos - oFigures.nClientCpuNanos) * 1e-3 / dRecords;
    dWall += oFigures.nWallNanos * 1e-3 / dRecords;
    dPeak += oFigures.nPeakHeapBytes / dRecords;
    dKept += oFigures.nKeptHeapBytes / dRecords;
    dFaults += oFigures.nPageFaults / dRecords;
    dLogLines += nLogLines / dRecords;
    int64_t nSent = 0, nMinimum = 0;
    for (const auto& oEntry : oFigures.mCommands) {
      mCommands[CounterName(oEntry.first)] += oEntry.second / dRecords;
      nSent += oEntry.second;
    }
    for (const auto& oEntry : mMinimumCommands) {
      mMinimum[CounterName(oEntry.first)] += oEntry.second / dRecords;
      mCommands[CounterName(oEntry.first)] += 0;
      nMinimum += oEntry.second;
    }
    dCommands += nSent / dRecords;
    dMinimum += nMinimum / dRecords;
    dExcess += static_cast<double>(nSent - nMinimum);
  }

  void Report(const std::string& sPrefix, benchmark::State& state) {
    using benchmark::Counter;
    const auto kAvg = Counter::kAvgIterations;
    state.counters[sPrefix + "cpu_us"] = Counter(dCpu, kAvg);
    state.counters[sPrefix + "own_us"] = Counter(dOwn, kAvg);
    state.counters[sPrefix + "client_us"] = Counter(dClient, kAvg);
    state.counters[sPrefix + "wall_us"] = Counter(dWall, kAvg);
    state.counters[sPrefix + "peak_B"] = Counter(dPeak, kAvg);
    state.counters[sPrefix + "kept_B"] = Counter(dKept, kAvg);
    state.counters[sPrefix + "faults"] = Counter(dFaults, kAvg);
    state.counters[sPrefix + "log_lines"] = Counter(dLogLines, kAvg);
    state.counters[sPrefix + "cmds"] = Counter(dCommands, kAvg);
    state.counters[sPrefix + "min_cmds"] = Counter(dMinimum, kAvg);
    state.counters[sPrefix + "excess_cmds"] = Counter(dExcess, kAvg);
    for (const auto& oEntry : mCommands) {
      state.counters[sPrefix + "cmd." + oEntry.first] =
          Counter(oEntry.second, kAvg);
      state.counters[sPrefix + "min." + oEntry.first] =
          Counter(mMinimum[oEntry.first], kAvg);
    }
  }
};

void RunCase(benchmark::State& state, Scenario eScenario, Layout eLayout,
             int nRecords, int nLogLevel) {
  zkbench::DiscardLogSink oSink(nLogLevel, zkbench::BenchPassword());
  const std::vector<Operation> vSteps = zkbench::StepsOf(eScenario);
  std::map<Operation, Sums> mSums;
  std::unique_ptr<zkbench::PluginWorld> pWorld;
  for (auto _ : state) {
    if (!pWorld || !pWorld->Repeatable()) {
      pWorld.reset();  // one world at a time
      pWorld.reset(new zkbench::PluginWorld(eScenario, eLayout, nRecords));
    }
    if (!pWorld->Error().empty()) {
      state.SkipWithError(pWorld->Error().c_str());
      break;
    }
    int64_t nWallNanos = 0;
    for (Operation eOperation : vSteps) {
      const int64_t nLinesBefore = oSink.Lines();
      zkbench::CallFigures oFigures;
      if (!pWorld->Measure(eOperation, &oFigures)) break;
      nWallNanos += oFigures.nWallNanos;
      mSums[eOperation].Add(oFigures, pWorld->MinimumCommands(eOperation),
                            oSink.Lines() - nLinesBefore, nRecords);
    }
    if (!pWorld->Error().empty()) {
      state.SkipWithError(pWorld->Error().c_str());
      break;
    }
    state.SetIterationTime(static_cast<double>(nWallNanos) * 1e-9);
  }
  if (oSink.LinesWithSecret() > 0) {
    state.SkipWithError("a log line held the password");
    return;
  }
  state.counters["records"] = nRecords;
  state.counters["log_level"] = nLogLevel;
  for (auto& oEntry : mSums) {
    oEntry.second.Report(
        std::string(zkbench::OperationName(oEntry.first)) + ".", state);
  }
}

// Enough calls per repetition that a small case is not one timer tick and
// a case of 1024 records is not one short call.
int IterationsFor(int nRecords) {
  const int n = 2048 / nRecords;
  return n < 1 ? 1 : (n > 64 ? 64 : n);
}

// Cost of one reading of the thread CPU clock, which the client timer
// takes twice per command.
std::string ClockReadNanos() {
  const int kReads = 100000;
  const int64_t nStart = zkbench::ThreadCpuNanos();
  for (int i = 0; i < kReads; ++i)
    benchmark::DoNotOptimize(zkbench::ThreadCpuNanos());
  const int64_t nEnd = zkbench::ThreadCpuNanos();
  return std::to_string(static_cast<double>(nEnd - nStart) / kReads);
}

// The forwarding definitions reach the library and count: a command to an
// unknown control host fails, its error reads back through the forwarded
// GetLastError, and the client's time moved on.
bool ClientForwardingWorks() {
  if (!zkfiler::UseInMemoryStore().ok()) return false;
  ManageCelerra oClient(1);
  oClient.SetControlHostInfo("nowhere.bench.test", "nobody", "-");
  const int64_t nBefore = zkbench::ClientCpuNanos();
  std::string sMover;
  const bool bAnswered = oClient.GetMoverForVdm("1", sMover);
  const CelerraError oError = oClient.GetLastError();
  return !bAnswered && !oError.sMessage.empty() &&
         zkbench::ClientCpuNanos() > nBefore;
}

}  // namespace

int main(int argc, char** argv) {
  std::string sMissing;
  if (!zkbench::ClientTimerReady(&sMissing)) {
    std::fprintf(stderr, "plugin_bench: client library lacks %s\n",
                 sMissing.c_str());
    return 1;
  }
  if (!ClientForwardingWorks()) {
    std::fprintf(stderr,
                 "plugin_bench: the client library's commands cannot be "
                 "timed\n");
    return 1;
  }
  std::string sError;
  if (!zkbench::WriteHostsFile(&sError)) {
    std::fprintf(stderr, "plugin_bench: %s\n", sError.c_str());
    return 1;
  }
  for (int nLevel : kLogLevels) {
    for (Scenario eScenario : kScenarios) {
      for (Layout eLayout : kLayouts) {
        for (int nRecords : kRecordCounts) {
          const std::string sName =
              std::string(zkbench::ScenarioName(eScenario)) + "/" +
              zkbench::LayoutName(eLayout) + "/" + std::to_string(nRecords) +
              "/log" + std::to_string(nLevel);
          benchmark::RegisterBenchmark(sName.c_str(),
                                       [=](benchmark::State& s) {
                                         RunCase(s, eScenario, eLayout,
                                                 nRecords, nLevel);
                                       })
              ->Iterations(IterationsFor(nRecords))
              ->UseManualTime()
              ->Unit(benchmark::kMillisecond);
        }
      }
    }
  }
  benchmark::AddCustomContext("thread_cpu_clock_read_ns", ClockReadNanos());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  zkbench::RemoveHostsFile();
  return 0;
}
