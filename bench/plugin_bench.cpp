// What the plug-in costs per record, how that cost grows with the number
// of records, and how many commands it sends: each operation of the
// lifecycle (prepare of NFS datastores and of natively reached file
// systems, snap, map, unmap, delete, revert, reconcile) called through
// dlopen over N = 1, 64, 1024, 8192 and 32767 in-memory host records, with
// all records on one file system and with every record on its own, against
// the in-memory simulated file server without latency, once with the log
// at the default threshold (0) and once at the most verbose (5), into a
// sink that drops every line.
//
// Benchmark names: OPERATION/LAYOUT/N/logLEVEL. The time of an iteration
// is the wall-clock time of the one call (manual time); the counters, all
// per record and averaged over iterations:
//   cpu_us       thread CPU time of the whole call
//   own_us       of it, outside the client library: the plug-in's share
//                (with the host's in-memory records and the log sink)
//   client_us    of it, inside the client library and simulated server
//   wall_us      wall-clock time of the whole call
//   peak_B       heap peak during the call above its start (operator new
//                of the whole process; SQLite's own memory not included)
//   kept_B       heap still held after the call above its start
//   cmds, min_cmds     file server commands sent, and the fewest the
//                      contract allows
//   cmd.NAME, min.NAME the same per command kind (GetSnapDeviceName stands
//                      for Celerra_GetSnapDeviceNameWithManageCelerra)
//   log_lines    lines that passed the threshold
// and per call: excess_cmds (commands above the minimum; 0 when the
// plug-in sends the fewest).
//
// Each iteration builds a fresh world (not timed) and measures one call. A
// call whose records do not all succeed stops the case with an error
// instead of figures.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/ClientTimer.h"
#include "bench/DiscardLogSink.h"
#include "bench/PluginWorld.h"

namespace {

using zkbench::Layout;
using zkbench::Operation;

const int kRecordCounts[] = {1, 64, 1024, 8192, 32767};
const int kLogLevels[] = {0, 5};
const Operation kOperations[] = {Operation::kPrepare, Operation::kPrepareNas,
                                 Operation::kSnap,    Operation::kMap,
                                 Operation::kUnmap,   Operation::kDelete,
                                 Operation::kRevert,  Operation::kReconcile};
const Layout kLayouts[] = {Layout::kOneFs, Layout::kFsPerRecord};

std::string CounterName(const std::string& sCommand) {
  return sCommand == "Celerra_GetSnapDeviceNameWithManageCelerra"
             ? "GetSnapDeviceName"
             : sCommand;
}

// Sums over the iterations of one case.
struct Sums {
  double dCpu = 0, dOwn = 0, dClient = 0, dWall = 0;
  double dPeak = 0, dKept = 0, dLogLines = 0;
  double dCommands = 0, dMinimum = 0, dExcess = 0;
  std::map<std::string, double> mCommands, mMinimum;
};

void RunCase(benchmark::State& state, Operation eOperation, Layout eLayout,
             int nRecords, int nLogLevel) {
  zkbench::DiscardLogSink oSink(nLogLevel, zkbench::BenchPassword());
  Sums oSums;
  const double dRecords = nRecords;
  for (auto _ : state) {
    zkbench::PluginWorld oWorld(eOperation, eLayout, nRecords);
    const int64_t nLinesBefore = oSink.Lines();
    zkbench::CallFigures oFigures;
    if (!oWorld.Error().empty() || !oWorld.Measure(&oFigures)) {
      state.SkipWithError(oWorld.Error().c_str());
      break;
    }
    state.SetIterationTime(static_cast<double>(oFigures.nWallNanos) * 1e-9);
    oSums.dCpu += oFigures.nCpuNanos * 1e-3 / dRecords;
    oSums.dClient += oFigures.nClientCpuNanos * 1e-3 / dRecords;
    oSums.dOwn +=
        (oFigures.nCpuNanos - oFigures.nClientCpuNanos) * 1e-3 / dRecords;
    oSums.dWall += oFigures.nWallNanos * 1e-3 / dRecords;
    oSums.dPeak += oFigures.nPeakHeapBytes / dRecords;
    oSums.dKept += oFigures.nKeptHeapBytes / dRecords;
    oSums.dLogLines += (oSink.Lines() - nLinesBefore) / dRecords;
    int64_t nSent = 0, nMinimum = 0;
    for (const auto& oEntry : oFigures.mCommands) {
      oSums.mCommands[CounterName(oEntry.first)] += oEntry.second / dRecords;
      nSent += oEntry.second;
    }
    for (const auto& oEntry : oWorld.MinimumCommands()) {
      oSums.mMinimum[CounterName(oEntry.first)] += oEntry.second / dRecords;
      oSums.mCommands[CounterName(oEntry.first)] += 0;
      nMinimum += oEntry.second;
    }
    oSums.dCommands += nSent / dRecords;
    oSums.dMinimum += nMinimum / dRecords;
    oSums.dExcess += static_cast<double>(nSent - nMinimum);
  }
  if (oSink.LinesWithSecret() > 0) {
    state.SkipWithError("a log line held the password");
    return;
  }
  using benchmark::Counter;
  const auto kAvg = Counter::kAvgIterations;
  state.counters["records"] = nRecords;
  state.counters["log_level"] = nLogLevel;
  state.counters["cpu_us"] = Counter(oSums.dCpu, kAvg);
  state.counters["own_us"] = Counter(oSums.dOwn, kAvg);
  state.counters["client_us"] = Counter(oSums.dClient, kAvg);
  state.counters["wall_us"] = Counter(oSums.dWall, kAvg);
  state.counters["peak_B"] = Counter(oSums.dPeak, kAvg);
  state.counters["kept_B"] = Counter(oSums.dKept, kAvg);
  state.counters["log_lines"] = Counter(oSums.dLogLines, kAvg);
  state.counters["cmds"] = Counter(oSums.dCommands, kAvg);
  state.counters["min_cmds"] = Counter(oSums.dMinimum, kAvg);
  state.counters["excess_cmds"] = Counter(oSums.dExcess, kAvg);
  for (const auto& oEntry : oSums.mCommands) {
    state.counters["cmd." + oEntry.first] = Counter(oEntry.second, kAvg);
    state.counters["min." + oEntry.first] =
        Counter(oSums.mMinimum[oEntry.first], kAvg);
  }
}

// Enough calls per repetition that a small case is not one timer tick.
int IterationsFor(int nRecords) {
  const int n = 256 / nRecords;
  return n < 1 ? 1 : n;
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

}  // namespace

int main(int argc, char** argv) {
  std::string sMissing;
  if (!zkbench::ClientTimerReady(&sMissing)) {
    std::fprintf(stderr, "plugin_bench: client library lacks %s\n",
                 sMissing.c_str());
    return 1;
  }
  std::string sError;
  if (!zkbench::WriteHostsFile(&sError)) {
    std::fprintf(stderr, "plugin_bench: %s\n", sError.c_str());
    return 1;
  }
  for (int nLevel : kLogLevels) {
    for (Operation eOperation : kOperations) {
      for (Layout eLayout : kLayouts) {
        for (int nRecords : kRecordCounts) {
          const std::string sName =
              std::string(zkbench::OperationName(eOperation)) + "/" +
              zkbench::LayoutName(eLayout) + "/" + std::to_string(nRecords) +
              "/log" + std::to_string(nLevel);
          benchmark::RegisterBenchmark(sName.c_str(),
                                       [=](benchmark::State& s) {
                                         RunCase(s, eOperation, eLayout,
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
