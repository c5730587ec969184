// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerSim.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>

#include "filer/FilerDb.h"
#include "filer/FilerInstall.h"
#include "filer/FilerRuntime.h"
#include "filer/FilerStore.h"
#include "filer/FilerText.h"
#include "filer/LayoutFile.h"
#include "filer/StateText.h"
#include "filerdata/FilerData.h"

namespace zkfiler {
namespace {

Status Select(const std::function<std::unique_ptr<FilerDb>()>& open,
              bool create) {
  try {
    std::unique_ptr<FilerDb> db = open();
    InTransaction(
        *db, [&] { FilerStore(db.get()).EnsureSchema(create); }, !create);
    SelectStore(std::move(db));
    return Status::OK();
  } catch (const std::exception& e) {
    return Status::Error(e.what());
  }
}

// Whether one of the two directories is the other or lies inside it
// (`b` may not exist yet: its nearest existing parent is compared).
bool Nested(const std::string& a, const std::string& b) {
  std::error_code ec;
  const std::filesystem::path pa = std::filesystem::weakly_canonical(a, ec);
  if (ec) return false;
  const std::filesystem::path pb = std::filesystem::weakly_canonical(b, ec);
  if (ec) return false;
  const std::string sa = pa.string() + "/";
  const std::string sb = pb.string() + "/";
  return sa.compare(0, sb.size(), sb) == 0 || sb.compare(0, sa.size(), sa) == 0;
}

// Makes the files of every file system that names a data directory a copy
// of that directory's contents, through `changes` (undone unless the load
// commits). The in-memory store keeps no files: nothing to do. Errors name
// the layout line when the layout came from text.
void SeedData(FilerStore& store, const std::vector<ServerLayout>& layouts,
              const std::vector<LayoutSource>& sources,
              std::optional<data::DataChanges>* changes) {
  const std::string root = data::RootFor(store.Name());
  if (root.empty()) return;
  for (size_t i = 0; i < layouts.size(); ++i) {
    const std::vector<FileSystemDef>& fss = layouts[i].file_systems;
    for (size_t j = 0; j < fss.size(); ++j) {
      const std::string& seed = fss[j].data_seed;
      if (seed.empty()) continue;
      std::string where = "file system " + fss[j].id;
      if (i < sources.size() && j < sources[i].file_systems.size()) {
        where = sources[i].origin + ":" +
                std::to_string(sources[i].file_systems[j]) + ": " + where;
      }
      struct stat st;
      if (::stat(seed.c_str(), &st) != 0) {
        throw std::runtime_error(where + ": data directory '" + seed +
                                 "': " + std::strerror(errno));
      }
      if (!S_ISDIR(st.st_mode)) {
        throw std::runtime_error(where + ": data directory '" + seed +
                                 "' is not a directory");
      }
      // A copy of a tree holding the state's data (or inside it) would
      // copy into itself.
      if (Nested(seed, root)) {
        throw std::runtime_error(where + ": data directory '" + seed +
                                 "' holds or lies in the state file's data "
                                 "directory " +
                                 root);
      }
      if (!*changes) changes->emplace(root);
      try {
        (*changes)->ReplaceWithCopy(
            data::FsDir(root, layouts[i].control_host, fss[j].id), seed);
      } catch (const std::exception& e) {
        throw std::runtime_error(where + ": cannot copy data directory '" +
                                 seed + "': " + e.what());
      }
    }
  }
}

// Installs every server of a parsed layout and seeds its file systems'
// files; errors already name the origin and line. Inside the caller's
// transaction; the caller commits `changes` once that has committed.
void InstallParsed(FilerStore& store, const std::vector<ServerLayout>& layouts,
                   const std::vector<LayoutSource>& sources,
                   std::optional<data::DataChanges>* changes) {
  for (size_t i = 0; i < layouts.size(); ++i) {
    InstallLayout(store, layouts[i],
                  i < sources.size() ? &sources[i] : nullptr);
  }
  SeedData(store, layouts, sources, changes);
}

// The data changes of a load: kept when it committed, else undone.
Status Settle(Status s, std::optional<data::DataChanges>* changes) {
  if (*changes) {
    if (s.ok()) {
      (*changes)->Committed();
    } else {
      (*changes)->Undo();
    }
  }
  return s;
}

// After a load: the data directories of what it installed.
Status WithDataDirs(Status s) {
  if (s.ok()) TidyData(/*make_dirs=*/true);
  return s;
}

Status InstallAll(const std::vector<ServerLayout>& layouts,
                  const std::vector<LayoutSource>& sources) {
  std::optional<data::DataChanges> changes;
  return WithDataDirs(Settle(WithStore([&](FilerStore& store) {
                               InstallParsed(store, layouts, sources, &changes);
                             }),
                             &changes));
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

// --- ServerLayout helpers ---------------------------------------------------

ServerLayout& ServerLayout::Mover(const std::string& id,
                                  std::vector<std::string> interfaces) {
  movers.push_back({id, "server_" + id, std::move(interfaces)});
  return *this;
}

ServerLayout& ServerLayout::Vdm(const std::string& id,
                                const std::string& mover_id) {
  vdms.push_back({id, "vdm_" + id, mover_id});
  return *this;
}

ServerLayout& ServerLayout::FileSystem(const std::string& id,
                                       const std::string& name,
                                       const std::string& mover_id,
                                       const std::string& mount_path,
                                       bool on_vdm) {
  FileSystemDef fs;
  fs.id = id;
  fs.name = name;
  fs.mover_id = mover_id;
  fs.mount_path = mount_path;
  fs.on_vdm = on_vdm;
  fs.save_volume = "vpfs" + id;
  file_systems.push_back(fs);
  return *this;
}

ServerLayout& ServerLayout::CifsServer(const std::string& name,
                                       const std::string& mover_id,
                                       const std::string& interfaces,
                                       bool on_vdm) {
  cifs_servers.push_back({name, mover_id, on_vdm, interfaces});
  return *this;
}

ServerLayout& ServerLayout::CifsShare(const std::string& name,
                                      const std::string& fs_id,
                                      const std::string& mover_id,
                                      bool on_vdm) {
  cifs_shares.push_back({name, fs_id, mover_id, on_vdm, ""});
  return *this;
}

ServerLayout& ServerLayout::Export(const std::string& path,
                                   const std::string& mover_id,
                                   std::vector<std::string> hosts) {
  exports.push_back({path, mover_id, hosts, hosts, hosts});
  return *this;
}

ServerLayout& ServerLayout::Checkpoint(const std::string& name,
                                       const std::string& fs_id,
                                       const std::string& baseline_name) {
  checkpoints.push_back({name, fs_id, "", baseline_name});
  return *this;
}

// --- Store selection -------------------------------------------------------

Status UseInMemoryStore() {
  return Select([] { return FilerDb::OpenMemory(); }, true);
}

Status UseStateFile(const std::string& path) {
  Status s = Select([&] { return FilerDb::OpenFile(path); }, false);
  if (s.ok()) TidyData(/*make_dirs=*/false);
  return s;
}

Status CreateStateFile(const std::string& path) {
  try {
    FilerDb::CreateFile(
        path, [](FilerDb& db) { FilerStore(&db).EnsureSchema(true); });
  } catch (const std::exception& e) {
    return Status::Error(e.what());
  }
  return UseStateFile(path);
}

Status LoadStateFile(const std::string& db_path, const std::string& layout_path,
                     bool reset) {
  std::vector<ServerLayout> layouts;
  std::vector<LayoutSource> sources;
  Status s = ReadLayoutFile(layout_path, &layouts, &sources);
  if (!s.ok()) return s;
  try {
    FilerDb::CheckPath(db_path);
    // A new state file appears only once the load into it has succeeded.
    // Should another process create it meanwhile, load into that one.
    std::optional<data::DataChanges> changes;
    if (!Exists(db_path) && FilerDb::CreateFile(db_path, [&](FilerDb& db) {
          FilerStore store(&db);
          store.EnsureSchema(true);
          InstallParsed(store, layouts, sources, &changes);
        })) {
      Settle(Status::OK(), &changes);
      return WithDataDirs(UseStateFile(db_path));
    }
  } catch (const std::exception& e) {
    return Status::Error(e.what());
  }
  s = UseStateFile(db_path);
  if (!s.ok()) return s;
  std::optional<data::DataChanges> changes;
  return WithDataDirs(Settle(WithStore([&](FilerStore& store) {
                               if (reset) store.Clear();
                               InstallParsed(store, layouts, sources, &changes);
                             }),
                             &changes));
}

std::string CurrentStoreName() { return SelectedStoreName(); }

Status Reset() {
  return WithDataDirs(WithStore([](FilerStore& store) { store.Clear(); }));
}

Status DescribeState(std::string* out) {
  out->clear();
  return WithStore([&](FilerStore& store) { *out = DescribeStore(store); },
                   /*read_only=*/true);
}

// --- File servers ----------------------------------------------------------

Status Install(const ServerLayout& layout) {
  std::optional<data::DataChanges> changes;
  return WithDataDirs(Settle(WithStore([&](FilerStore& store) {
                               InstallParsed(store, {layout}, {}, &changes);
                             }),
                             &changes));
}

Status LoadLayoutText(const std::string& text, const std::string& origin) {
  std::vector<ServerLayout> layouts;
  std::vector<LayoutSource> sources;
  Status s = ParseLayout(text, origin, &layouts, &sources);
  return s.ok() ? InstallAll(layouts, sources) : s;
}

Status LoadLayoutFile(const std::string& path) {
  std::vector<ServerLayout> layouts;
  std::vector<LayoutSource> sources;
  Status s = ReadLayoutFile(path, &layouts, &sources);
  return s.ok() ? InstallAll(layouts, sources) : s;
}

Status ListServers(std::vector<ServerLayout>* out) {
  out->clear();
  return WithStore(
      [&](FilerStore& store) {
        for (const std::string& host : store.ServerHosts()) {
          ServerRow row;
          store.FindServer(host, &row);
          ServerLayout l(host, row.user, "");
          l.limits = row.limits;
          l.movers = store.Movers(host);
          l.vdms = store.Vdms(host);
          l.cifs_servers = store.CifsServers(host);
          l.cifs_shares = store.CifsShares(host);
          l.file_systems = store.FileSystems(host);
          for (const ExportView& e : store.Exports(host)) {
            l.exports.push_back(
                {e.path, e.mover_id, e.access_hosts, e.rw_hosts, e.root_hosts});
          }
          const std::vector<CheckpointView> ckpts = store.Checkpoints(host, "");
          std::map<std::string, std::string> names;  // id -> name
          for (const CheckpointView& c : ckpts) names[c.id] = c.name;
          for (const CheckpointView& c : ckpts) {
            l.checkpoints.push_back({c.name, c.fs_id, c.id,
                                     c.writable ? names[c.baseline_id] : ""});
          }
          out->push_back(std::move(l));
        }
      },
      /*read_only=*/true);
}

// --- Faults, latency, journal ---------------------------------------------

const std::vector<std::string>& KnownCommands() {
  static const std::vector<std::string>* commands =
      new std::vector<std::string>{
          "CreateROChkPt",    "CreateRWChkPt",
          "DeleteChkPt",      "RestorePFSFromChkPt",
          "GetChkPointsInfo", "GetPFSInfo",
          "GetCifsShareInfo", "GetNFSInfo",
          "GetCifsServers",   "GetMountPointInfo",
          "GetMoverForVdm",   "CreateNFSShare",
          "DeleteNFSShare",   "Celerra_GetSnapDeviceNameWithManageCelerra"};
  return *commands;
}

Status ArmFault(const FaultRule& fault) {
  bool known = fault.command == kAnyCommand;
  for (const std::string& name : KnownCommands()) {
    known = known || name == fault.command;
  }
  if (!known) {
    return Status::Error("unknown command " + Shown(fault.command) +
                         " (one of the ManageCelerra commands, "
                         "Celerra_GetSnapDeviceNameWithManageCelerra or '*' "
                         "for any command)");
  }
  if (fault.mode != FaultMode::kAlways &&
      (fault.n < 1 || fault.n > kMaxFaultCall)) {
    return Status::Error("the call number of a fault must be from 1 to " +
                         std::to_string(kMaxFaultCall));
  }
  return WithStore([&](FilerStore& store) {
    ServerRow server;
    if (!fault.control_host.empty() &&
        !store.FindServer(fault.control_host, &server)) {
      throw std::invalid_argument("no file server with control host " +
                                  Shown(fault.control_host));
    }
    store.InsertFault(fault);
  });
}

Status ClearFaults() {
  return WithStore([](FilerStore& store) { store.ClearFaults(); });
}

Status ListFaults(std::vector<FaultRule>* out) {
  out->clear();
  return WithStore(
      [&](FilerStore& store) {
        for (const FaultRow& row : store.Faults()) out->push_back(row.rule);
      },
      /*read_only=*/true);
}

Status SetLatency(std::chrono::milliseconds latency) {
  if (latency.count() < 0 || latency > kMaxLatency) {
    return Status::Error("the latency must be from 0 to " +
                         std::to_string(kMaxLatency.count()) + " ms");
  }
  return WithStore(
      [&](FilerStore& store) { store.SetLatencyMs(latency.count()); });
}

Status GetLatency(std::chrono::milliseconds* out) {
  return WithStore(
      [&](FilerStore& store) {
        *out = std::chrono::milliseconds(store.LatencyMs());
      },
      /*read_only=*/true);
}

Status Journal(std::vector<JournalEntry>* out) {
  out->clear();
  return WithStore([&](FilerStore& store) { *out = store.Journal(); },
                   /*read_only=*/true);
}

Status ResetJournal() {
  return WithStore([](FilerStore& store) { store.ClearJournal(); });
}

namespace {
std::atomic<bool> g_chkpt_lists_without_fs{false};
}  // namespace

void SetChkptListsWithoutFs(bool without_fs) {
  g_chkpt_lists_without_fs = without_fs;
}

bool ChkptListsWithoutFs() { return g_chkpt_lists_without_fs; }

namespace {
std::atomic<bool> g_snap_device_names_by_name_only{false};
}  // namespace

void SetSnapDeviceNamesByNameOnly(bool by_name_only) {
  g_snap_device_names_by_name_only = by_name_only;
}

bool SnapDeviceNamesByNameOnly() { return g_snap_device_names_by_name_only; }

// --- Inspection ------------------------------------------------------------

Status ListCheckpoints(const std::string& control_host,
                       std::vector<CheckpointView>* out) {
  out->clear();
  return WithStore(
      [&](FilerStore& store) { *out = store.Checkpoints(control_host, ""); },
      /*read_only=*/true);
}

Status ListExports(const std::string& control_host,
                   std::vector<ExportView>* out) {
  out->clear();
  return WithStore(
      [&](FilerStore& store) { *out = store.Exports(control_host); },
      /*read_only=*/true);
}

Status GetFileSystem(const std::string& control_host, const std::string& fs_id,
                     FileSystemDef* out) {
  return WithStore(
      [&](FilerStore& store) {
        if (!store.FindFileSystem(control_host, fs_id, out)) {
          throw std::invalid_argument("no file system " + Shown(fs_id) +
                                      " on control host " +
                                      Shown(control_host));
        }
      },
      /*read_only=*/true);
}

Status WriteToFileSystem(const std::string& control_host,
                         const std::string& fs_id) {
  return WithStore([&](FilerStore& store) {
    FileSystemDef fs;
    if (!store.FindFileSystem(control_host, fs_id, &fs)) {
      throw std::invalid_argument("no file system " + Shown(fs_id) +
                                  " on control host " + Shown(control_host));
    }
    store.UpdateFileSystemContent(control_host, fs_id, fs.generation + 1,
                                  fs.restores);
  });
}

}  // namespace zkfiler
