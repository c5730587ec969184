#include "filer/FilerModel.h"

#include <algorithm>

#include "filer/FilerErrors.h"

namespace zkfiler {
namespace model {
namespace {

constexpr size_t kShownMax = 64;

// A name or path as it appears in a message: quoted, cut when very long.
std::string Q(const std::string& text) {
  if (text.size() <= kShownMax) return "'" + text + "'";
  return "'" + text.substr(0, kShownMax) + "...'";
}

void RequireId(const std::string& value, const char* what) {
  if (value.empty()) {
    throw Refusal(Cause::kBadArgument, std::string("Empty ") + what);
  }
}

void RequirePath(const std::string& path) {
  if (path.empty() || path[0] != '/') {
    throw Refusal(Cause::kBadArgument,
                  "Path " + Q(path) + " does not start with '/'");
  }
}

template <typename Row, typename Pred>
const Row* Find(const std::vector<Row>& rows, Pred pred) {
  auto it = std::find_if(rows.begin(), rows.end(), pred);
  return it == rows.end() ? nullptr : &*it;
}

FileSystemDef RequireFs(FilerStore& store, const std::string& host,
                        const std::string& fs_id) {
  RequireId(fs_id, "file system id");
  const std::vector<FileSystemDef> all = store.FileSystems(host);
  const FileSystemDef* fs =
      Find(all, [&](const FileSystemDef& f) { return f.id == fs_id; });
  if (fs == nullptr) {
    throw Refusal(Cause::kNoFileSystem,
                  "File system id " + Q(fs_id) + " not found");
  }
  return *fs;
}

void CheckStorage(const FileSystemDef& fs, eCelerraStgType type,
                  const std::string& extra) {
  if (type != fs.storage_type || extra != fs.storage_extra) {
    throw Refusal(Cause::kStorageMismatch,
                  "Storage type " + std::to_string(type) + " and details " +
                      Q(extra) + " do not match file system " + Q(fs.id));
  }
}

void CheckNameFree(FilerStore& store, const ServerRow& server,
                   const std::string& name) {
  CheckCheckpointName(name, server.limits);
  for (const CheckpointView& c : store.Checkpoints(server.host, "")) {
    if (c.name == name) {
      throw Refusal(Cause::kNameInUse, "Name " + Q(name) + " already in use");
    }
  }
  for (const FileSystemDef& f : store.FileSystems(server.host)) {
    if (f.name == name) {
      throw Refusal(Cause::kNameInUse, "Name " + Q(name) + " already in use");
    }
  }
}

// Hands out the next free id; ids of file systems and checkpoints share one
// space.
std::string AllocateId(FilerStore& store, const ServerRow& server) {
  const std::vector<FileSystemDef> fss = store.FileSystems(server.host);
  const std::vector<CheckpointView> cks = store.Checkpoints(server.host, "");
  int64_t next = server.next_id;
  for (;;) {
    const std::string id = std::to_string(next++);
    const bool taken =
        Find(fss, [&](const FileSystemDef& f) { return f.id == id; }) ||
        Find(cks, [&](const CheckpointView& c) { return c.id == id; });
    if (!taken) {
      store.SetNextId(server.host, next);
      return id;
    }
  }
}

CheckpointView RequireCheckpoint(FilerStore& store, const std::string& host,
                                 const std::string& id) {
  RequireId(id, "checkpoint id");
  const std::vector<CheckpointView> all = store.Checkpoints(host, "");
  const CheckpointView* c =
      Find(all, [&](const CheckpointView& v) { return v.id == id; });
  if (c == nullptr) {
    throw Refusal(Cause::kNoCheckpoint, "Checkpoint id " + Q(id) +
                                            " not found");
  }
  return *c;
}

// Refuses the deletion of `ckpt` while something depends on it; `going` is
// a writable checkpoint deleted in the same command.
void CheckDeletable(FilerStore& store, const std::string& host,
                    const CheckpointView& ckpt, const std::string& going) {
  for (const CheckpointView& c : store.Checkpoints(host, ckpt.fs_id)) {
    if (c.writable && c.baseline_id == ckpt.id && c.id != going) {
      throw Refusal(Cause::kHasWritable,
                    "Checkpoint " + Q(ckpt.name) +
                        " still has writable checkpoint " + Q(c.name));
    }
  }
  for (const ExportView& e : store.Exports(host)) {
    if (e.fs_id == ckpt.id) {
      throw Refusal(Cause::kHasExport, "Checkpoint " + Q(ckpt.name) +
                                           " is exported at " + Q(e.path) +
                                           " on mover " + Q(e.mover_id));
    }
  }
}

void CheckHosts(const std::vector<std::string>& hosts) {
  for (const std::string& h : hosts) {
    for (char ch : h) {
      const unsigned char u = static_cast<unsigned char>(ch);
      if (u <= ' ' || u == 0x7f || ch == ',' || ch == ':') {
        throw Refusal(Cause::kBadArgument,
                      "Host entry " + Q(h) + " holds an invalid character");
      }
    }
  }
}

std::vector<std::string> NonEmpty(const std::vector<std::string>& hosts) {
  std::vector<std::string> out;
  for (const std::string& h : hosts) {
    if (!h.empty()) out.push_back(h);
  }
  return out;
}

bool Within(const std::string& path, const std::string& mount) {
  return path == mount || (path.size() > mount.size() &&
                           path.compare(0, mount.size(), mount) == 0 &&
                           path[mount.size()] == '/');
}

}  // namespace

void CheckCheckpointName(const std::string& name, const Limits& limits) {
  if (name.empty()) {
    throw Refusal(Cause::kNameInvalid, "Empty checkpoint name");
  }
  if (name.size() > static_cast<size_t>(limits.max_name_len)) {
    throw Refusal(Cause::kNameTooLong,
                  "Checkpoint name of " + std::to_string(name.size()) +
                      " characters is longer than " +
                      std::to_string(limits.max_name_len));
  }
  bool digits_only = true;
  for (char ch : name) {
    const bool digit = ch >= '0' && ch <= '9';
    const bool alpha = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    if (!digit && !alpha && ch != '.' && ch != '_' && ch != '-') {
      throw Refusal(Cause::kNameInvalid,
                    "Checkpoint name " + Q(name) + " holds an invalid "
                    "character");
    }
    digits_only = digits_only && digit;
  }
  if (digits_only) {
    throw Refusal(Cause::kNameNumeric,
                  "Checkpoint name " + Q(name) + " is all digits");
  }
}

std::string ResolvePath(FilerStore& store, const std::string& host,
                        const std::string& mover_id, const std::string& path) {
  const std::vector<VdmDef> vdms = store.Vdms(host);
  const std::vector<FileSystemDef> fss = store.FileSystems(host);
  auto physical = [&](const FileSystemDef& fs) -> std::string {
    if (!fs.on_vdm) return fs.mover_id;
    const VdmDef* vdm =
        Find(vdms, [&](const VdmDef& v) { return v.id == fs.mover_id; });
    return vdm == nullptr ? std::string() : vdm->mover_id;
  };
  std::string best_id;
  size_t best_len = 0;
  auto consider = [&](const std::string& id, const std::string& mount) {
    if (Within(path, mount) && mount.size() > best_len) {
      best_id = id;
      best_len = mount.size();
    }
  };
  for (const FileSystemDef& fs : fss) {
    if (physical(fs) != mover_id || mover_id.empty()) continue;
    consider(fs.id, fs.on_vdm ? "/root_vdm_" + fs.mover_id + fs.mount_path
                              : fs.mount_path);
  }
  for (const CheckpointView& c : store.Checkpoints(host, "")) {
    const FileSystemDef* fs =
        Find(fss, [&](const FileSystemDef& f) { return f.id == c.fs_id; });
    if (fs != nullptr && !mover_id.empty() && physical(*fs) == mover_id) {
      consider(c.id, "/" + c.name);
    }
  }
  return best_id;
}

std::string CreateReadOnly(FilerStore& store, const ServerRow& server,
                           const std::string& fs_id, eCelerraStgType type,
                           const std::string& extra, const std::string& name) {
  const FileSystemDef fs = RequireFs(store, server.host, fs_id);
  CheckStorage(fs, type, extra);
  CheckNameFree(store, server, name);
  int count = 0;
  for (const CheckpointView& c : store.Checkpoints(server.host, fs_id)) {
    if (!c.writable) ++count;
  }
  if (count >= server.limits.ro_per_fs) {
    throw Refusal(Cause::kRoLimit,
                  "File system " + Q(fs.name) + " already has " +
                      std::to_string(count) + " checkpoints");
  }
  CheckpointView ckpt;
  ckpt.control_host = server.host;
  ckpt.id = AllocateId(store, server);
  ckpt.name = name;
  ckpt.fs_id = fs_id;
  ckpt.generation = fs.generation;
  store.InsertCheckpoint(ckpt);
  return ckpt.id;
}

std::string CreateWritable(FilerStore& store, const ServerRow& server,
                           const std::string& fs_id, eCelerraStgType type,
                           const std::string& extra, const std::string& name,
                           const std::string& baseline_id) {
  const FileSystemDef fs = RequireFs(store, server.host, fs_id);
  CheckStorage(fs, type, extra);
  const CheckpointView base =
      RequireCheckpoint(store, server.host, baseline_id);
  if (base.writable || base.fs_id != fs_id) {
    throw Refusal(Cause::kNotReadOnlyOfFs,
                  "Checkpoint " + Q(base.name) +
                      " is not a read-only checkpoint of file system " +
                      Q(fs.name));
  }
  CheckNameFree(store, server, name);
  int of_base = 0, of_fs = 0;
  for (const CheckpointView& c : store.Checkpoints(server.host, fs_id)) {
    if (!c.writable) continue;
    ++of_fs;
    if (c.baseline_id == baseline_id) ++of_base;
  }
  if (of_base >= server.limits.rw_per_baseline) {
    throw Refusal(Cause::kRwBaselineLimit,
                  "Checkpoint " + Q(base.name) + " already has " +
                      std::to_string(of_base) + " writable checkpoints");
  }
  if (of_fs >= server.limits.rw_per_fs) {
    throw Refusal(Cause::kRwFsLimit,
                  "File system " + Q(fs.name) + " already has " +
                      std::to_string(of_fs) + " writable checkpoints");
  }
  CheckpointView ckpt;
  ckpt.control_host = server.host;
  ckpt.id = AllocateId(store, server);
  ckpt.name = name;
  ckpt.fs_id = fs_id;
  ckpt.baseline_id = baseline_id;
  ckpt.writable = true;
  ckpt.generation = base.generation;
  store.InsertCheckpoint(ckpt);
  return ckpt.id;
}

void DeleteCheckpoint(FilerStore& store, const ServerRow& server,
                      const std::string& id, const std::string& baseline_id,
                      bool with_baseline) {
  const CheckpointView ckpt = RequireCheckpoint(store, server.host, id);
  if (!with_baseline) {
    CheckDeletable(store, server.host, ckpt, "");
    store.DeleteCheckpoint(server.host, id);
    return;
  }
  RequireId(baseline_id, "baseline checkpoint id");
  if (!ckpt.writable || ckpt.baseline_id != baseline_id) {
    throw Refusal(Cause::kBaselineMismatch,
                  "Checkpoint " + Q(ckpt.name) +
                      " is not a writable checkpoint of baseline id " +
                      Q(baseline_id));
  }
  const CheckpointView base =
      RequireCheckpoint(store, server.host, baseline_id);
  CheckDeletable(store, server.host, ckpt, "");
  CheckDeletable(store, server.host, base, ckpt.id);
  store.DeleteCheckpoint(server.host, ckpt.id);
  store.DeleteCheckpoint(server.host, base.id);
}

void Restore(FilerStore& store, const ServerRow& server,
             const std::string& name, const std::string& id,
             const std::string& fs_id) {
  FileSystemDef fs = RequireFs(store, server.host, fs_id);
  const CheckpointView ckpt = RequireCheckpoint(store, server.host, id);
  if (ckpt.name != name || ckpt.fs_id != fs_id) {
    throw Refusal(Cause::kRestoreMismatch,
                  "Checkpoint " + Q(name) + " with id " + Q(id) +
                      " is not a checkpoint of file system " + Q(fs.name));
  }
  if (ckpt.writable) {
    throw Refusal(Cause::kRestoreWritable,
                  "Checkpoint " + Q(name) + " is a writable checkpoint");
  }
  store.UpdateFileSystemContent(server.host, fs_id, ckpt.generation,
                                fs.restores + 1);
}

std::list<CelerraChkPtInfo> Checkpoints(FilerStore& store,
                                        const ServerRow& server,
                                        const std::string& fs_id) {
  if (!fs_id.empty()) RequireFs(store, server.host, fs_id);
  std::list<CelerraChkPtInfo> out;
  for (const CheckpointView& c : store.Checkpoints(server.host, fs_id)) {
    out.push_back({c.id, c.baseline_id, c.fs_id, c.name});
  }
  return out;
}

FileSystemDef FileSystem(FilerStore& store, const ServerRow& server,
                         const std::string& fs_id) {
  return RequireFs(store, server.host, fs_id);
}

ShareInfo CifsShare(FilerStore& store, const ServerRow& server,
                    const std::string& name) {
  RequireId(name, "share name");
  const std::vector<CifsShareDef> shares = store.CifsShares(server.host);
  const CifsShareDef* share =
      Find(shares, [&](const CifsShareDef& s) { return s.name == name; });
  if (share == nullptr) {
    throw Refusal(Cause::kNoShare, "CIFS share " + Q(name) + " not found");
  }
  ShareInfo info{share->fs_id, share->on_vdm, share->mover_id, share->path,
                 {}};
  for (const CifsServerDef& s : store.CifsServers(server.host)) {
    if (s.mover_id == share->mover_id && s.on_vdm == share->on_vdm) {
      info.cifs_servers.push_back(s.name);
    }
  }
  return info;
}

ExportView NfsExport(FilerStore& store, const ServerRow& server,
                     const std::string& path) {
  RequirePath(path);
  const std::vector<ExportView> all = store.Exports(server.host);
  const ExportView* e =
      Find(all, [&](const ExportView& v) { return v.path == path; });
  if (e == nullptr) {
    throw Refusal(Cause::kNoExport, "No NFS export of " + Q(path));
  }
  return *e;
}

std::vector<CelerraCifsServer_t> CifsServers(FilerStore& store,
                                             const ServerRow& server) {
  std::vector<CelerraCifsServer_t> out;
  for (const CifsServerDef& s : store.CifsServers(server.host)) {
    out.push_back({s.mover_id, s.name, s.interfaces, s.on_vdm ? "true" : "false"});
  }
  return out;
}

CelerraMountPointsInfo_t MountPoint(FilerStore& store, const ServerRow& server,
                                    const std::string& mover_id,
                                    const std::string& path, bool on_vdm) {
  RequireId(mover_id, on_vdm ? "VDM id" : "data mover id");
  RequirePath(path);
  const std::vector<VdmDef> vdms = store.Vdms(server.host);
  const std::vector<MoverDef> movers = store.Movers(server.host);
  if (on_vdm && !Find(vdms, [&](const VdmDef& v) { return v.id == mover_id; })) {
    throw Refusal(Cause::kNoVdm, "VDM id " + Q(mover_id) + " not found");
  }
  if (!on_vdm &&
      !Find(movers, [&](const MoverDef& m) { return m.id == mover_id; })) {
    throw Refusal(Cause::kNoMover, "Data mover id " + Q(mover_id) +
                                       " not found");
  }
  for (const FileSystemDef& fs : store.FileSystems(server.host)) {
    bool hit = fs.on_vdm == on_vdm && fs.mover_id == mover_id &&
               fs.mount_path == path;
    if (!on_vdm && fs.on_vdm) {
      const VdmDef* vdm =
          Find(vdms, [&](const VdmDef& v) { return v.id == fs.mover_id; });
      hit = vdm != nullptr && vdm->mover_id == mover_id &&
            path == "/root_vdm_" + fs.mover_id + fs.mount_path;
    }
    if (hit) {
      CelerraMountPointsInfo_t info;
      info.sMoverId = mover_id;
      info.sPFSId = fs.id;
      info.sMountPath = path;
      info.sOptions = "rw";
      return info;
    }
  }
  throw Refusal(Cause::kNoMountPoint, Q(path) + " is not a mount point on " +
                                          (on_vdm ? "VDM " : "data mover ") +
                                          Q(mover_id));
}

std::string MoverForVdm(FilerStore& store, const ServerRow& server,
                        const std::string& vdm_id) {
  RequireId(vdm_id, "VDM id");
  const std::vector<VdmDef> vdms = store.Vdms(server.host);
  const VdmDef* vdm =
      Find(vdms, [&](const VdmDef& v) { return v.id == vdm_id; });
  if (vdm == nullptr) {
    throw Refusal(Cause::kNoVdm, "VDM id " + Q(vdm_id) + " not found");
  }
  return vdm->mover_id;
}

void CreateExport(FilerStore& store, const ServerRow& server,
                  const std::string& path, const std::string& mover_id,
                  const std::vector<std::string>& access,
                  const std::vector<std::string>& rw,
                  const std::vector<std::string>& root) {
  RequirePath(path);
  RequireId(mover_id, "data mover id");
  const std::vector<MoverDef> movers = store.Movers(server.host);
  if (!Find(movers, [&](const MoverDef& m) { return m.id == mover_id; })) {
    throw Refusal(Cause::kNoMover, "Data mover id " + Q(mover_id) +
                                       " not found");
  }
  CheckHosts(access);
  CheckHosts(rw);
  CheckHosts(root);
  const std::string id = ResolvePath(store, server.host, mover_id, path);
  if (id.empty()) {
    throw Refusal(Cause::kNotMounted, Q(path) + " is not mounted on data "
                                      "mover " + Q(mover_id));
  }
  store.PutExport({server.host, path, mover_id, id, NonEmpty(access),
                   NonEmpty(rw), NonEmpty(root)});
}

void DeleteExport(FilerStore& store, const ServerRow& server,
                  const std::string& path, const std::string& mover_id) {
  RequirePath(path);
  RequireId(mover_id, "data mover id");
  for (const ExportView& e : store.Exports(server.host)) {
    if (e.path == path && e.mover_id == mover_id) {
      store.DeleteExport(server.host, mover_id, path);
      return;
    }
  }
  throw Refusal(Cause::kNoExport, "No NFS export of " + Q(path) +
                                      " on data mover " + Q(mover_id));
}

std::string WritableExportPath(FilerStore& store, const ServerRow& server,
                               const std::string& fs_id,
                               const std::string& id,
                               const std::string& name) {
  RequireFs(store, server.host, fs_id);
  if (id.empty() && name.empty()) {
    throw Refusal(Cause::kBadArgument, "Empty checkpoint id and name");
  }
  for (const CheckpointView& c : store.Checkpoints(server.host, fs_id)) {
    if (id.empty() ? c.name != name : c.id != id) continue;
    if (!c.writable) {
      throw Refusal(Cause::kNotWritable,
                    "Checkpoint " + Q(c.name) + " is not writable");
    }
    return "/" + c.name;
  }
  throw Refusal(Cause::kNoCheckpoint,
                "No checkpoint " + Q(id.empty() ? name : id) +
                    " of file system " + Q(fs_id));
}

}  // namespace model
}  // namespace zkfiler
