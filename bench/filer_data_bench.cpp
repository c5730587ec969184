// SPDX-License-Identifier: Apache-2.0
// What the simulated file server's data costs: a read-only checkpoint (a
// copy of the file system's files), a writable one (a copy of its
// baseline) and a restore (a copy swapped into place) of file systems of
// 1, 100 and 10,000 files (10,000 files of 100 KiB, about 1 GiB), and of
// one 1 GiB file. Counters: bytes copied per operation, and how many of
// them were shared by a clone or copied in the kernel. The state file and
// its data live in a folder under $TMPDIR (or /tmp): its file system decides
// whether clones are possible.
//
// BM_Lifecycle runs the file server's side of a snapshot's life with the
// exports served over NFS by `zkfiler serve` (as root; skipped otherwise):
// the commands the plug-in sends to snap (CreateROChkPt), map
// (CreateRWChkPt and CreateNFSShare) and revert (RestorePFSFromChkPt), the
// time until the new export is served, every file of the clone read over
// NFSv4 (NfsReader, libnfs) and from its directory on disk, and after the
// revert the time until a new client of the production export reads the
// restored bytes (and how many reads before saw old bytes or failed).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "filer/FilerFiles.h"
#include "filer/FilerSim.h"
#include "filerdata/FilerData.h"
#include "host/ManageCelerra.h"
#include "refhost/NfsReader.h"
#include "tests/nfsserve/ServedFiler.h"

namespace {

constexpr const char* kLayout = R"(
server cs1
  login admin pw
  mover 2
  fs 101 name=fs1 mover=2 mount=/fs1 extra=pool
  export /fs1 mover=2
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

using Clock = std::chrono::steady_clock;
double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Reads every file below `path` of a mounted export; bytes read, -1 on
// error.
int64_t ReadAllNfs(zkref::NfsReader* r, const std::string& path) {
  std::vector<zkref::NfsReader::Entry> entries;
  if (!r->List(path, &entries).empty()) return -1;
  int64_t bytes = 0;
  for (const zkref::NfsReader::Entry& e : entries) {
    const std::string p = (path == "/" ? "" : path) + "/" + e.sName;
    int64_t n = 0;
    if (e.sType == "dir") {
      n = ReadAllNfs(r, p);
    } else if (!r->Read(p, [&n](const char*, size_t k) {
                   n += static_cast<int64_t>(k);
                   return true;
                 }).empty()) {
      n = -1;
    }
    if (n < 0) return -1;
    bytes += n;
  }
  return bytes;
}

// The same from the directory on disk.
int64_t ReadAllDisk(const std::string& dir) {
  std::vector<zkfiler::DataEntry> unused;
  int64_t bytes = 0;
  std::vector<char> buf(1 << 20);
  const std::function<bool(const std::string&)> walk =
      [&](const std::string& d) {
        DIR* h = ::opendir(d.c_str());
        if (h == nullptr) return false;
        std::vector<std::string> names;
        while (dirent* e = ::readdir(h)) {
          const std::string name = e->d_name;
          if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(h);
        for (const std::string& name : names) {
          const std::string p = d + "/" + name;
          struct stat st;
          if (::lstat(p.c_str(), &st) != 0) return false;
          if (S_ISDIR(st.st_mode)) {
            if (!walk(p)) return false;
            continue;
          }
          const int fd = ::open(p.c_str(), O_RDONLY);
          if (fd < 0) return false;
          for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) {
            bytes += n;
          }
          ::close(fd);
        }
        return true;
      };
  return walk(dir) ? bytes : -1;
}

// Reads `path` of `export_path` through a new mount; "<error>" on failure.
std::string ReadOnce(int port, const std::string& export_path,
                     const std::string& path) {
  zkref::NfsReader reader;
  if (!reader.Mount("127.0.0.1", port, export_path, 10000).empty()) {
    return "<error>";
  }
  std::string text;
  const std::string error = reader.Read(path, [&](const char* p, size_t n) {
    text.append(p, n);
    return true;
  });
  return error.empty() ? text : "<error>";
}

// Args: files, bytes per file. One iteration is the whole sequence; each
// step's wall time is a counter (ms), bytes are per step.
void BM_Lifecycle(benchmark::State& state) {
  if (::geteuid() != 0) {
    state.SkipWithError("serving NFS needs root");
    return;
  }
  World w;
  if (!MakeWorld(&w, static_cast<int>(state.range(0)), state.range(1))) {
    state.SkipWithError("cannot make the file system's files");
    DropWorld(&w);
    return;
  }
  zknfs::ServedFiler server;
  Clock::time_point t = Clock::now();
  const std::string why = server.Start(ZKFILER_BIN, w.db);
  const double serve_start_ms = MsSince(t);
  if (!why.empty()) {
    state.SkipWithError(why.c_str());
    DropWorld(&w);
    return;
  }
  double snap = 0, map = 0, served = 0, nfs = 0, disk = 0, revert = 0;
  double restored_seen = 0;
  int64_t old_reads = 0, failed_reads = 0;
  int64_t nfs_bytes = 0, disk_bytes = 0;
  zkfiler::data::CopyCounters c0{}, c1{}, c2{}, c3{};
  int n = 0;
  for (auto _ : state) {
    const std::string name = "c" + std::to_string(++n);
    std::string id, rw_id;
    const std::string at_snap = "at snap " + name;
    state.PauseTiming();
    bool ok = zkfiler::PutData("cs1", "fs1", "/marker", at_snap).ok();
    state.ResumeTiming();
    c0 = zkfiler::data::Counters();
    t = Clock::now();
    ok =
        ok && w.client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool", name, id);
    snap += MsSince(t);
    state.PauseTiming();
    // Production moves on, and a client reads it, so the server has it.
    ok = ok && zkfiler::PutData("cs1", "fs1", "/marker", "changed").ok();
    for (int i = 0; ok && i < 100; ++i) {
      if (ReadOnce(server.Port(), "/fs1", "/marker") == "changed") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    state.ResumeTiming();
    c1 = zkfiler::data::Counters();
    std::string baseline = id;
    std::vector<std::string> none;
    t = Clock::now();
    ok = ok && w.client.CreateRWChkPt("101", CELERRA_STG_UXFS, "pool",
                                      name + "_RW", false, baseline, rw_id);
    ok = ok && w.client.CreateNFSShare("/" + name + "_RW", "2", false, none,
                                       none, none);
    map += MsSince(t);
    c2 = zkfiler::data::Counters();
    if (!ok) {
      state.SkipWithError(w.client.GetLastError().sMessage.c_str());
      break;
    }
    // Until the server serves the new export (it polls the state file).
    t = Clock::now();
    std::unique_ptr<zkref::NfsReader> reader;
    std::string error;
    while (MsSince(t) < 10000) {
      reader = std::make_unique<zkref::NfsReader>();
      error =
          reader->Mount("127.0.0.1", server.Port(), "/" + name + "_RW", 10000);
      if (error.empty()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    served += MsSince(t);
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    t = Clock::now();
    const int64_t read = ReadAllNfs(reader.get(), "/");
    nfs += MsSince(t);
    t = Clock::now();
    const int64_t on_disk = ReadAllDisk(
        zkfiler::data::CheckpointDir(zkfiler::DataRoot(), "cs1", rw_id));
    disk += MsSince(t);
    if (read < 0 || read != on_disk) {
      state.SkipWithError("the clone read over NFS differs from the disk");
      break;
    }
    nfs_bytes += read;
    disk_bytes += on_disk;
    c3 = zkfiler::data::Counters();
    t = Clock::now();
    ok = w.client.RestorePFSFromChkPt(name, id, "101");
    revert += MsSince(t);
    if (!ok) {
      state.SkipWithError(w.client.GetLastError().sMessage.c_str());
      break;
    }
    // Until a new client of the production export reads what was restored.
    t = Clock::now();
    std::string seen;
    while (MsSince(t) < 10000) {
      seen = ReadOnce(server.Port(), "/fs1", "/marker");
      if (seen == at_snap) break;
      ++(seen == "changed" ? old_reads : failed_reads);
    }
    restored_seen += MsSince(t);
    if (seen != at_snap) {
      state.SkipWithError("the restored bytes were not served within 10 s");
      break;
    }
    state.PauseTiming();
    w.client.DeleteNFSShare("/" + name + "_RW", "2");
    w.client.DeleteChkPt(rw_id, id, true);
    state.ResumeTiming();
  }
  const zkfiler::data::CopyCounters c4 = zkfiler::data::Counters();
  t = Clock::now();
  server.Stop();
  const double serve_stop_ms = MsSince(t);
  const double ops = static_cast<double>(state.iterations());
  state.counters["snap_ms"] = snap / ops;
  state.counters["map_ms"] = map / ops;
  state.counters["served_after_ms"] = served / ops;
  state.counters["nfs_read_ms"] = nfs / ops;
  state.counters["disk_read_ms"] = disk / ops;
  state.counters["revert_ms"] = revert / ops;
  state.counters["restored_seen_after_ms"] = restored_seen / ops;
  state.counters["old_reads"] = static_cast<double>(old_reads);
  state.counters["failed_reads"] = static_cast<double>(failed_reads);
  state.counters["snap_bytes_copied"] =
      static_cast<double>(c1.bytes - c0.bytes);
  state.counters["map_bytes_copied"] = static_cast<double>(c2.bytes - c1.bytes);
  state.counters["revert_bytes_copied"] =
      static_cast<double>(c4.bytes - c3.bytes);
  state.counters["nfs_MBps"] = nfs > 0 ? nfs_bytes / 1e3 / nfs : 0;
  state.counters["disk_MBps"] = disk > 0 ? disk_bytes / 1e3 / disk : 0;
  state.counters["serve_start_ms"] = serve_start_ms;
  state.counters["serve_stop_ms"] = serve_stop_ms;
  DropWorld(&w);
}
BENCHMARK(BM_Lifecycle)
    ->Args({1, 4096})
    ->Args({100, 4096})
    ->Args({10000, 100 * 1024})    // about 1 GiB
    ->Args({1, int64_t{1} << 30})  // one 1 GiB file: the streaming rate
    ->ArgNames({"files", "bytes_each"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
