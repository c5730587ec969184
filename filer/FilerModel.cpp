// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerModel.h"

#include "filer/FilerErrors.h"
#include "nfsserve/ServeRules.h"

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

// A path to export: besides the leading "/", no "." or ".." component may
// make it look as if it lay below a mount point it escapes.
void RequireExportPath(const std::string& path) {
  RequirePath(path);
  if (HasDotComponent(path)) {
    throw Refusal(Cause::kBadArgument,
                  "Path " + Q(path) + " holds a '.' or '..' component");
  }
}

FileSystemDef RequireFs(FilerStore& store, const std::string& host,
                        const std::string& fs_id) {
  RequireId(fs_id, "file system id");
  FileSystemDef fs;
  if (!store.FindFileSystem(host, fs_id, &fs)) {
    throw Refusal(Cause::kNoFileSystem,
                  "File system id " + Q(fs_id) + " not found");
  }
  return fs;
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
  CheckpointView taken;
  if (store.FindCheckpointNamed(server.host, name, &taken) ||
      store.FileSystemNamed(server.host, name)) {
    throw Refusal(Cause::kNameInUse, "Name " + Q(name) + " already in use");
  }
}

// Hands out the next free id; ids of file systems and checkpoints share one
// space, and the numbering of a control host never goes back.
std::string AllocateId(FilerStore& store, const ServerRow& server) {
  int64_t next = server.next_id;
  for (;;) {
    const std::string id = std::to_string(next++);
    FileSystemDef fs;
    CheckpointView ckpt;
    const bool taken = store.FindFileSystem(server.host, id, &fs) ||
                       store.FindCheckpoint(server.host, id, &ckpt);
    if (!taken) {
      store.SetNextId(server.host, next);
      return id;
    }
  }
}

CheckpointView RequireCheckpoint(FilerStore& store, const std::string& host,
                                 const std::string& id) {
  RequireId(id, "checkpoint id");
  CheckpointView c;
  if (!store.FindCheckpoint(host, id, &c)) {
    throw Refusal(Cause::kNoCheckpoint,
                  "Checkpoint id " + Q(id) + " not found");
  }
  return c;
}

// Refuses the deletion of `ckpt` while something depends on it; `going` is
// a writable checkpoint deleted in the same command.
void CheckDeletable(FilerStore& store, const std::string& host,
                    const CheckpointView& ckpt, const std::string& going) {
  CheckpointView c;
  if (store.FindWritableOf(host, ckpt.id, going, &c)) {
    throw Refusal(Cause::kHasWritable, "Checkpoint " + Q(ckpt.name) +
                                           " still has writable checkpoint " +
                                           Q(c.name));
  }
  ExportView e;
  if (store.FindExportOf(host, ckpt.id, &e)) {
    throw Refusal(Cause::kHasExport, "Checkpoint " + Q(ckpt.name) +
                                         " is exported at " + Q(e.path) +
                                         " on mover " + Q(e.mover_id));
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
    const std::string why = h.empty() ? "" : ExportHostProblem(h);
    if (!why.empty()) {
      throw Refusal(Cause::kExportHostInvalid,
                    "Host entry " + Q(h) + " " + why);
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

}  // namespace

bool HasDotComponent(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "." || part == "..") return true;
    start = end + 1;
  }
  return false;
}

void CheckCheckpointName(const std::string& name, const Limits& limits) {
  if (name.empty()) {
    throw Refusal(Cause::kNameInvalid, "Empty checkpoint name");
  }
  if (name.size() > static_cast<size_t>(limits.max_name_len)) {
    throw Refusal(Cause::kNameTooLong, "Checkpoint name of " +
                                           std::to_string(name.size()) +
                                           " characters is longer than " +
                                           std::to_string(limits.max_name_len));
  }
  bool digits_only = true;
  for (char ch : name) {
    const bool digit = ch >= '0' && ch <= '9';
    const bool alpha = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    if (!digit && !alpha && ch != '.' && ch != '_' && ch != '-') {
      throw Refusal(Cause::kNameInvalid, "Checkpoint name " + Q(name) +
                                             " holds an invalid "
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
  if (mover_id.empty() || path.empty() || path[0] != '/') return "";
  // The longest mount point holding the path wins: try the path itself,
  // then each parent, so the cost follows the path's depth only.
  std::string prefix = path;
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  for (;;) {
    FileSystemDef fs;
    if (store.FindMountedAt(host, mover_id, prefix, &fs)) return fs.id;
    const size_t slash = prefix.rfind('/');
    if (slash == 0) {
      // A checkpoint is mounted at "/" + its name on its file system's
      // mover.
      CheckpointView c;
      if (prefix.size() > 1 &&
          store.FindCheckpointNamed(host, prefix.substr(1), &c) &&
          store.PhysicalMover(host, c.fs_id) == mover_id) {
        return c.id;
      }
      return "";
    }
    prefix.resize(slash);
  }
}

std::string CreateReadOnly(FilerStore& store, const ServerRow& server,
                           const std::string& fs_id, eCelerraStgType type,
                           const std::string& extra, const std::string& name) {
  const FileSystemDef fs = RequireFs(store, server.host, fs_id);
  CheckStorage(fs, type, extra);
  CheckNameFree(store, server, name);
  const int64_t count = store.CountCheckpoints(server.host, fs_id, false);
  if (count >= server.limits.ro_per_fs) {
    throw Refusal(Cause::kRoLimit, "File system " + Q(fs.name) +
                                       " already has " + std::to_string(count) +
                                       " checkpoints");
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
  const int64_t of_base = store.CountWritableOf(server.host, baseline_id);
  const int64_t of_fs = store.CountCheckpoints(server.host, fs_id, true);
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
  CifsShareDef share;
  if (!store.FindShare(server.host, name, &share)) {
    throw Refusal(Cause::kNoShare, "CIFS share " + Q(name) + " not found");
  }
  ShareInfo info{share.fs_id, share.on_vdm, share.mover_id, share.path, {}};
  info.cifs_servers =
      store.CifsServersOn(server.host, share.mover_id, share.on_vdm);
  return info;
}

ExportView NfsExport(FilerStore& store, const ServerRow& server,
                     const std::string& path) {
  RequirePath(path);
  ExportView e;
  if (!store.FindExportAt(server.host, path, &e)) {
    throw Refusal(Cause::kNoExport, "No NFS export of " + Q(path));
  }
  return e;
}

std::vector<CelerraCifsServer_t> CifsServers(FilerStore& store,
                                             const ServerRow& server) {
  std::vector<CelerraCifsServer_t> out;
  for (const CifsServerDef& s : store.CifsServers(server.host)) {
    out.push_back(
        {s.mover_id, s.name, s.interfaces, s.on_vdm ? "true" : "false"});
  }
  return out;
}

CelerraMountPointsInfo_t MountPoint(FilerStore& store, const ServerRow& server,
                                    const std::string& mover_id,
                                    const std::string& path, bool on_vdm) {
  RequireId(mover_id, on_vdm ? "VDM id" : "data mover id");
  RequirePath(path);
  VdmDef vdm;
  if (on_vdm && !store.FindVdm(server.host, mover_id, &vdm)) {
    throw Refusal(Cause::kNoVdm, "VDM id " + Q(mover_id) + " not found");
  }
  if (!on_vdm && !store.FindMover(server.host, mover_id)) {
    throw Refusal(Cause::kNoMover,
                  "Data mover id " + Q(mover_id) + " not found");
  }
  // On a VDM: its own mount paths. On a mover: what it mounts itself and,
  // under "/root_vdm_" + id, what the VDMs it hosts mount.
  FileSystemDef fs;
  const bool hit =
      on_vdm ? store.FindMountOn(server.host, mover_id, true, path, &fs)
             : store.FindMountedAt(server.host, mover_id, path, &fs);
  if (hit) {
    CelerraMountPointsInfo_t info;
    info.sMoverId = mover_id;
    info.sPFSId = fs.id;
    info.sMountPath = path;
    info.sOptions = "rw";
    return info;
  }
  throw Refusal(Cause::kNoMountPoint, Q(path) + " is not a mount point on " +
                                          (on_vdm ? "VDM " : "data mover ") +
                                          Q(mover_id));
}

std::string MoverForVdm(FilerStore& store, const ServerRow& server,
                        const std::string& vdm_id) {
  RequireId(vdm_id, "VDM id");
  VdmDef vdm;
  if (!store.FindVdm(server.host, vdm_id, &vdm)) {
    throw Refusal(Cause::kNoVdm, "VDM id " + Q(vdm_id) + " not found");
  }
  return vdm.mover_id;
}

void CreateExport(FilerStore& store, const ServerRow& server,
                  const std::string& path, const std::string& mover_id,
                  const std::vector<std::string>& access,
                  const std::vector<std::string>& rw,
                  const std::vector<std::string>& root) {
  RequireExportPath(path);
  const std::string why = ServedTextProblem(ServedText::kExportPath, path);
  if (!why.empty()) {
    throw Refusal(Cause::kExportPathInvalid, "Path " + Q(path) + " " + why);
  }
  RequireId(mover_id, "data mover id");
  if (!store.FindMover(server.host, mover_id)) {
    throw Refusal(Cause::kNoMover,
                  "Data mover id " + Q(mover_id) + " not found");
  }
  CheckHosts(access);
  CheckHosts(rw);
  CheckHosts(root);
  const std::string id = ResolvePath(store, server.host, mover_id, path);
  if (id.empty()) {
    throw Refusal(Cause::kNotMounted, Q(path) +
                                          " is not mounted on data "
                                          "mover " +
                                          Q(mover_id));
  }
  store.PutExport({server.host, path, mover_id, id, NonEmpty(access),
                   NonEmpty(rw), NonEmpty(root)});
}

void DeleteExport(FilerStore& store, const ServerRow& server,
                  const std::string& path, const std::string& mover_id) {
  RequirePath(path);
  RequireId(mover_id, "data mover id");
  if (store.FindExport(server.host, mover_id, path)) {
    store.DeleteExport(server.host, mover_id, path);
    return;
  }
  throw Refusal(Cause::kNoExport, "No NFS export of " + Q(path) +
                                      " on data mover " + Q(mover_id));
}

std::string WritableExportPath(FilerStore& store, const ServerRow& server,
                               const std::string& fs_id, const std::string& id,
                               const std::string& name) {
  RequireFs(store, server.host, fs_id);
  if (id.empty() && name.empty()) {
    throw Refusal(Cause::kBadArgument, "Empty checkpoint id and name");
  }
  CheckpointView c;
  const bool found = id.empty()
                         ? store.FindCheckpointNamed(server.host, name, &c)
                         : store.FindCheckpoint(server.host, id, &c);
  if (found && c.fs_id == fs_id) {
    if (!c.writable) {
      throw Refusal(Cause::kNotWritable,
                    "Checkpoint " + Q(c.name) + " is not writable");
    }
    return "/" + c.name;
  }
  throw Refusal(Cause::kNoCheckpoint, "No checkpoint " +
                                          Q(id.empty() ? name : id) +
                                          " of file system " + Q(fs_id));
}

}  // namespace model
}  // namespace zkfiler
