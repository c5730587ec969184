#include "filer/FilerSim.h"

#include <stdexcept>

#include "filer/FilerDb.h"
#include "filer/FilerInstall.h"
#include "filer/FilerRuntime.h"
#include "filer/FilerStore.h"
#include "filer/LayoutFile.h"

namespace zkfiler {
namespace {

Status Select(const std::function<std::unique_ptr<FilerDb>()>& open,
              bool create) {
  try {
    std::unique_ptr<FilerDb> db = open();
    InTransaction(*db, [&] { FilerStore(db.get()).EnsureSchema(create); });
    SelectStore(std::move(db));
    return Status::OK();
  } catch (const std::exception& e) {
    return Status::Error(e.what());
  }
}

Status InstallAll(const std::vector<ServerLayout>& layouts,
                  const std::string& origin) {
  return WithStore([&](FilerStore& store) {
    for (const ServerLayout& layout : layouts) {
      try {
        InstallLayout(store, layout);
      } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(origin + ": " + e.what());
      }
    }
  });
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
  return Select([&] { return FilerDb::OpenFile(path, false); }, false);
}

Status CreateStateFile(const std::string& path) {
  return Select([&] { return FilerDb::OpenFile(path, true); }, true);
}

std::string CurrentStoreName() { return SelectedStoreName(); }

Status Reset() {
  return WithStore([](FilerStore& store) { store.Clear(); });
}

// --- File servers ----------------------------------------------------------

Status Install(const ServerLayout& layout) {
  return WithStore(
      [&](FilerStore& store) { InstallLayout(store, layout); });
}

Status LoadLayoutText(const std::string& text, const std::string& origin) {
  std::vector<ServerLayout> layouts;
  Status s = ParseLayout(text, origin, &layouts);
  return s.ok() ? InstallAll(layouts, origin) : s;
}

Status LoadLayoutFile(const std::string& path) {
  std::vector<ServerLayout> layouts;
  Status s = ReadLayoutFile(path, &layouts);
  return s.ok() ? InstallAll(layouts, path) : s;
}

Status ListServers(std::vector<ServerLayout>* out) {
  out->clear();
  return WithStore([&](FilerStore& store) {
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
      for (const CheckpointView& c : store.Checkpoints(host, "")) {
        std::string baseline;
        for (const CheckpointView& b : store.Checkpoints(host, c.fs_id)) {
          if (b.id == c.baseline_id) baseline = b.name;
        }
        l.checkpoints.push_back({c.name, c.fs_id, c.id, baseline});
      }
      out->push_back(std::move(l));
    }
  });
}

// --- Faults, latency, journal ---------------------------------------------

const std::vector<std::string>& KnownCommands() {
  static const std::vector<std::string>* commands =
      new std::vector<std::string>{
          "CreateROChkPt",     "CreateRWChkPt",
          "DeleteChkPt",       "RestorePFSFromChkPt",
          "GetChkPointsInfo",  "GetPFSInfo",
          "GetCifsShareInfo",  "GetNFSInfo",
          "GetCifsServers",    "GetMountPointInfo",
          "GetMoverForVdm",    "CreateNFSShare",
          "DeleteNFSShare",    "Celerra_GetSnapDeviceNameWithManageCelerra"};
  return *commands;
}

Status ArmFault(const FaultSpec& fault) {
  bool known = false;
  for (const std::string& name : KnownCommands()) {
    known = known || name == fault.command;
  }
  if (!known) return Status::Error("unknown command '" + fault.command + "'");
  if (fault.mode != FaultMode::kAlways && fault.n < 1) {
    return Status::Error("the call number of a fault starts at 1");
  }
  return WithStore([&](FilerStore& store) { store.InsertFault(fault); });
}

Status ClearFaults() {
  return WithStore([](FilerStore& store) { store.ClearFaults(); });
}

Status ListFaults(std::vector<FaultSpec>* out) {
  out->clear();
  return WithStore([&](FilerStore& store) {
    for (const FaultRow& row : store.Faults()) out->push_back(row.spec);
  });
}

Status SetLatency(std::chrono::milliseconds latency) {
  if (latency.count() < 0) return Status::Error("negative latency");
  return WithStore(
      [&](FilerStore& store) { store.SetLatencyMs(latency.count()); });
}

Status Journal(std::vector<JournalEntry>* out) {
  out->clear();
  return WithStore([&](FilerStore& store) { *out = store.Journal(); });
}

Status ResetJournal() {
  return WithStore([](FilerStore& store) { store.ClearJournal(); });
}

// --- Inspection ------------------------------------------------------------

Status ListCheckpoints(const std::string& control_host,
                       std::vector<CheckpointView>* out) {
  out->clear();
  return WithStore(
      [&](FilerStore& store) { *out = store.Checkpoints(control_host, ""); });
}

Status ListExports(const std::string& control_host,
                   std::vector<ExportView>* out) {
  out->clear();
  return WithStore(
      [&](FilerStore& store) { *out = store.Exports(control_host); });
}

Status GetFileSystem(const std::string& control_host, const std::string& fs_id,
                     FileSystemDef* out) {
  return WithStore([&](FilerStore& store) {
    for (const FileSystemDef& fs : store.FileSystems(control_host)) {
      if (fs.id == fs_id) {
        *out = fs;
        return;
      }
    }
    throw std::invalid_argument("no file system '" + fs_id +
                                "' on control host '" + control_host + "'");
  });
}

Status WriteToFileSystem(const std::string& control_host,
                         const std::string& fs_id) {
  return WithStore([&](FilerStore& store) {
    for (const FileSystemDef& fs : store.FileSystems(control_host)) {
      if (fs.id == fs_id) {
        store.UpdateFileSystemContent(control_host, fs_id, fs.generation + 1,
                                      fs.restores);
        return;
      }
    }
    throw std::invalid_argument("no file system '" + fs_id +
                                "' on control host '" + control_host + "'");
  });
}

}  // namespace zkfiler
