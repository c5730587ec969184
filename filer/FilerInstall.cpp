// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerInstall.h"

#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "filer/FilerErrors.h"
#include "filer/FilerModel.h"
#include "filer/FilerText.h"
#include "nfsserve/ServeRules.h"

namespace zkfiler {
namespace {

// The first id handed out to new checkpoints when the layout has none above.
constexpr int64_t kFirstCheckpointId = 100;
constexpr size_t kMaxWord = 255;
constexpr size_t kMaxText = 1024;
constexpr int kMaxLimit = 1000000;

class Checker {
 public:
  Checker(const ServerLayout& layout, const LayoutSource* source)
      : layout_(layout), source_(source) {}

  // Line of entry `i` of one of the source's vectors; 0 without a source.
  int Line(const std::vector<int> LayoutSource::*lines, size_t i) const {
    if (source_ == nullptr) return 0;
    const std::vector<int>& v = source_->*lines;
    return i < v.size() ? v[i] : 0;
  }
  int ServerLine() const { return source_ == nullptr ? 0 : source_->server; }
  int LoginLine() const { return source_ == nullptr ? 0 : source_->login; }

  // "file:line: item: what", or "layout of control host 'h': item: what".
  [[noreturn]] void Fail(int line, const std::string& item,
                         const std::string& what) const {
    std::string where;
    if (source_ != nullptr && line > 0) {
      where = source_->origin + ":" + std::to_string(line) + ": ";
    } else {
      where = "layout of control host " + Shown(layout_.control_host) + ": ";
    }
    throw std::invalid_argument(where + (item.empty() ? "" : item + ": ") +
                                what);
  }

  // Ids, names and similar: non-empty, printable, no blank, "," or "|".
  // A `secret` value (one of a login line, where a misplaced quote can put
  // the password into the user) is never shown.
  void Word(int line, const std::string& item, const std::string& value,
            const std::string& what, bool secret = false) const {
    const std::string named = secret ? what : what + " " + Shown(value);
    if (value.empty()) Fail(line, item, "empty " + what);
    if (value.size() > kMaxWord) {
      Fail(line, item,
           named + " is longer than " + std::to_string(kMaxWord) +
               " characters");
    }
    for (char ch : value) {
      const unsigned char u = static_cast<unsigned char>(ch);
      if (u <= ' ' || u == 0x7f || ch == ',' || ch == '|') {
        Fail(line, item,
             named +
                 " holds an invalid character (blank, control "
                 "character, ',' or '|')");
      }
    }
  }

  // Free text (interfaces of a CIFS server, share path, storage details):
  // printable, may be empty.
  void Text(int line, const std::string& item, const std::string& value,
            const std::string& what) const {
    if (value.size() > kMaxText) {
      Fail(
          line, item,
          what + " is longer than " + std::to_string(kMaxText) + " characters");
    }
    for (char ch : value) {
      const unsigned char u = static_cast<unsigned char>(ch);
      if (u < ' ' || u == 0x7f) {
        Fail(line, item,
             what + " " + Shown(value) + " holds a control character");
      }
    }
  }

  // Absolute paths like /fs1 or /fs1/dir, as the NFS server's
  // configuration takes them (ServeRules.h): no trailing "/", no empty,
  // "." or ".." component, only letters, digits, '.', '_' and '-'.
  void Path(int line, const std::string& item, const std::string& path,
            const std::string& what) const {
    Word(line, item, path, what);
    const std::string why = ServedTextProblem(ServedText::kExportPath, path);
    if (!why.empty()) {
      Fail(line, item,
           what + " " + Shown(path) +
               " is not an absolute path like /fs1: " + "it " + why);
    }
  }

  // Records `key` as declared at `line`; a second declaration fails.
  void Declare(std::map<std::string, int>* seen, const std::string& key,
               int line, const std::string& item,
               const std::string& what) const {
    auto inserted = seen->emplace(key, line);
    if (!inserted.second) {
      Fail(line, item,
           "duplicate " + what + " " + Shown(key) +
               Also(inserted.first->second));
    }
  }

  // `id` must name something of `ids` declared on a line above `line`.
  void Known(const std::map<std::string, int>& ids, const std::string& id,
             int line, const std::string& item, const std::string& what) const {
    auto it = ids.find(id);
    if (it == ids.end()) Fail(line, item, "unknown " + what + " " + Shown(id));
    if (line > 0 && it->second > line) {
      Fail(line, item,
           what + " " + Shown(id) + " is declared below, at line " +
               std::to_string(it->second) + "; declare it above");
    }
  }

 private:
  std::string Also(int line) const {
    return source_ != nullptr && line > 0
               ? " (also at line " + std::to_string(line) + ")"
               : "";
  }

  const ServerLayout& layout_;
  const LayoutSource* source_;  // borrowed; may be null
};

int64_t NumericId(const std::string& id) {
  if (id.empty() || id.size() > 15) return -1;
  for (char ch : id) {
    if (ch < '0' || ch > '9') return -1;
  }
  return std::stoll(id);
}

std::string Item(const char* kind, const std::string& name) {
  return std::string(kind) + " " + Shown(name);
}

struct CheckpointInfo {
  std::string id;
  std::string fs_id;
  bool writable = false;
  int64_t generation = 0;
};

// Where the file systems and checkpoints of the layout appear on each
// physical mover, for resolving export paths without the store.
class MountMap {
 public:
  struct Mounted {
    std::string id;
    int line = 0;  // where the file system or checkpoint is declared
  };
  void AddFs(const std::string& mover, const std::string& path,
             const std::string& id, int line) {
    if (!mover.empty()) {
      fs_.emplace(std::make_pair(mover, path), Mounted{id, line});
    }
  }
  void AddCheckpoint(const std::string& mover, const std::string& name,
                     const std::string& id, int line) {
    if (!mover.empty()) {
      ckpt_.emplace(std::make_pair(mover, "/" + name), Mounted{id, line});
    }
  }
  // As model::ResolvePath: the longest mount point holding the path; an
  // empty id when none does.
  Mounted Resolve(const std::string& mover, const std::string& path) const {
    std::string prefix = path;
    for (;;) {
      auto fs = fs_.find({mover, prefix});
      if (fs != fs_.end()) return fs->second;
      const size_t slash = prefix.rfind('/');
      if (slash == 0 || slash == std::string::npos) {
        auto ck = ckpt_.find({mover, prefix});
        return ck == ckpt_.end() ? Mounted() : ck->second;
      }
      prefix.resize(slash);
    }
  }

 private:
  std::map<std::pair<std::string, std::string>, Mounted> fs_, ckpt_;
};

}  // namespace

void InstallLayout(FilerStore& store, const ServerLayout& l,
                   const LayoutSource* source) {
  Checker c(l, source);
  const std::string server_item = Item("server", l.control_host);
  c.Word(c.ServerLine(), "", l.control_host, "control host");
  c.Word(c.LoginLine(), server_item, l.user, "login user", /*secret=*/true);
  const Limits& lim = l.limits;
  for (int value :
       {lim.ro_per_fs, lim.rw_per_baseline, lim.rw_per_fs, lim.max_name_len}) {
    if (value < 0 || value > kMaxLimit) {
      c.Fail(c.ServerLine(), server_item,
             "limits must be numbers from 0 to " + std::to_string(kMaxLimit));
    }
  }
  if (lim.max_name_len < 1) {
    c.Fail(c.ServerLine(), server_item, "max_name_len must be at least 1");
  }
  const std::string& host = l.control_host;
  store.RemoveServer(host);

  std::map<std::string, int> movers, vdms, servers, shares, ids, names, mounts;
  std::map<std::string, std::string> vdm_mover, fs_mover;
  std::map<std::string, int64_t> fs_generation;
  MountMap mount_map;

  for (size_t i = 0; i < l.movers.size(); ++i) {
    const MoverDef& m = l.movers[i];
    const int line = c.Line(&LayoutSource::movers, i);
    const std::string item = Item("mover", m.id);
    c.Word(line, "", m.id, "mover id");
    c.Declare(&movers, m.id, line, item, "mover id");
    c.Word(line, item, m.name, "mover name");
    for (const std::string& ip : m.interfaces) {
      c.Word(line, item, ip, "interface");
    }
    store.Insert(host, m);
  }
  for (size_t i = 0; i < l.vdms.size(); ++i) {
    const VdmDef& v = l.vdms[i];
    const int line = c.Line(&LayoutSource::vdms, i);
    const std::string item = Item("vdm", v.id);
    c.Word(line, "", v.id, "VDM id");
    c.Declare(&vdms, v.id, line, item, "VDM id");
    c.Word(line, item, v.name, "VDM name");
    if (!v.mover_id.empty())
      c.Known(movers, v.mover_id, line, item, "mover of VDM");
    vdm_mover[v.id] = v.mover_id;
    store.Insert(host, v);
  }
  for (size_t i = 0; i < l.cifs_servers.size(); ++i) {
    const CifsServerDef& s = l.cifs_servers[i];
    const int line = c.Line(&LayoutSource::cifs_servers, i);
    const std::string item = Item("cifs-server", s.name);
    c.Word(line, "", s.name, "CIFS server name");
    c.Declare(&servers, s.name, line, item, "CIFS server");
    c.Known(s.on_vdm ? vdms : movers, s.mover_id, line, item,
            s.on_vdm ? "VDM of CIFS server" : "mover of CIFS server");
    c.Text(line, item, s.interfaces, "interfaces");
    store.Insert(host, s);
  }
  for (size_t i = 0; i < l.file_systems.size(); ++i) {
    const FileSystemDef& f = l.file_systems[i];
    const int line = c.Line(&LayoutSource::file_systems, i);
    const std::string item = Item("fs", f.id);
    c.Word(line, "", f.id, "file system id");
    c.Word(line, item, f.name, "file system name");
    c.Declare(&ids, f.id, line, item, "id");
    c.Declare(&names, f.name, line, item, "name");
    c.Path(line, item, f.mount_path, "mount path");
    c.Known(f.on_vdm ? vdms : movers, f.mover_id, line, item,
            f.on_vdm ? "VDM of file system" : "mover of file system");
    c.Declare(&mounts,
              (f.on_vdm ? "vdm " : "mover ") + f.mover_id + " " + f.mount_path,
              line, item, "mount point");
    if (!f.save_volume.empty()) {
      c.Word(line, item, f.save_volume, "save volume");
    }
    c.Text(line, item, f.storage_extra, "storage details (extra=)");
    if (f.storage_type < 0) c.Fail(line, item, "negative storage type");
    if (f.generation < 0 || f.restores < 0) {
      c.Fail(line, item, "negative generation");
    }
    const std::string physical = f.on_vdm ? vdm_mover[f.mover_id] : f.mover_id;
    fs_mover[f.id] = physical;
    fs_generation[f.id] = f.generation;
    mount_map.AddFs(
        physical,
        f.on_vdm ? "/root_vdm_" + f.mover_id + f.mount_path : f.mount_path,
        f.id, line);
    store.Insert(host, f, physical);
  }
  for (size_t i = 0; i < l.cifs_shares.size(); ++i) {
    const CifsShareDef& s = l.cifs_shares[i];
    const int line = c.Line(&LayoutSource::cifs_shares, i);
    const std::string item = Item("share", s.name);
    c.Word(line, "", s.name, "share name");
    c.Declare(&shares, s.name, line, item, "share");
    c.Known(ids, s.fs_id, line, item, "file system of share");
    c.Known(s.on_vdm ? vdms : movers, s.mover_id, line, item,
            s.on_vdm ? "VDM of share" : "mover of share");
    c.Text(line, item, s.path, "share path");
    store.Insert(host, s);
  }

  std::map<std::string, CheckpointInfo> by_name;
  std::map<std::string, int> ro_count, rw_count, rw_of_baseline;
  int64_t next_id = kFirstCheckpointId;
  for (const auto& id : ids) {
    next_id = std::max(next_id, NumericId(id.first) + 1);
  }
  for (const CheckpointDef& k : l.checkpoints) {
    if (!k.id.empty()) next_id = std::max(next_id, NumericId(k.id) + 1);
  }
  std::map<std::string, int> fs_ids = ids;  // checkpoints may not name these
  for (size_t i = 0; i < l.checkpoints.size(); ++i) {
    const CheckpointDef& k = l.checkpoints[i];
    const int line = c.Line(&LayoutSource::checkpoints, i);
    const std::string item = Item("checkpoint", k.name);
    try {
      model::CheckCheckpointName(k.name, lim);
    } catch (const Refusal& e) {
      c.Fail(line, item, e.error().sMessage);
    }
    c.Declare(&names, k.name, line, item, "name");
    c.Known(fs_ids, k.fs_id, line, item, "file system of checkpoint");
    CheckpointView v;
    v.control_host = host;
    v.name = k.name;
    v.fs_id = k.fs_id;
    v.id = k.id;
    v.generation = fs_generation[k.fs_id];
    if (!k.baseline_name.empty()) {
      auto base = by_name.find(k.baseline_name);
      if (base == by_name.end() || base->second.writable ||
          base->second.fs_id != k.fs_id) {
        c.Fail(line, item,
               "baseline " + Shown(k.baseline_name) + " of checkpoint " +
                   Shown(k.name) +
                   " is not an earlier read-only checkpoint of its file "
                   "system");
      }
      v.baseline_id = base->second.id;
      v.generation = base->second.generation;
      v.writable = true;
      if (++rw_of_baseline[v.baseline_id] > lim.rw_per_baseline) {
        c.Fail(
            line, item,
            "checkpoint " + Shown(k.baseline_name) + " would have more " +
                "than rw_per_baseline=" + std::to_string(lim.rw_per_baseline) +
                " writable checkpoints");
      }
      if (++rw_count[k.fs_id] > lim.rw_per_fs) {
        c.Fail(line, item,
               "file system " + Shown(k.fs_id) + " would have more than " +
                   "rw_per_fs=" + std::to_string(lim.rw_per_fs) +
                   " writable checkpoints");
      }
    } else if (++ro_count[k.fs_id] > lim.ro_per_fs) {
      c.Fail(line, item,
             "file system " + Shown(k.fs_id) + " would have more than " +
                 "ro_per_fs=" + std::to_string(lim.ro_per_fs) +
                 " read-only checkpoints");
    }
    if (v.id.empty()) {
      while (ids.count(std::to_string(next_id)) != 0) ++next_id;
      v.id = std::to_string(next_id++);
    }
    c.Word(line, item, v.id, "checkpoint id");
    c.Declare(&ids, v.id, line, item, "id");
    by_name[k.name] = {v.id, v.fs_id, v.writable, v.generation};
    mount_map.AddCheckpoint(fs_mover[k.fs_id], k.name, v.id, line);
    store.InsertCheckpoint(v);
  }
  std::map<std::string, int> exports;
  for (size_t i = 0; i < l.exports.size(); ++i) {
    const ExportDef& e = l.exports[i];
    const int line = c.Line(&LayoutSource::exports, i);
    const std::string item = Item("export", e.path);
    c.Path(line, "", e.path, "export path");
    c.Declare(&exports, e.mover_id + ":" + e.path, line, item, "export");
    c.Known(movers, e.mover_id, line, item, "mover of export");
    for (const auto* list : {&e.access_hosts, &e.rw_hosts, &e.root_hosts}) {
      for (const std::string& h : *list) {
        c.Word(line, item, h, "export host");
        const std::string why = ServedTextProblem(ServedText::kHost, h);
        if (!why.empty()) {
          c.Fail(line, item, "export host " + Shown(h) + " " + why);
        }
      }
    }
    const MountMap::Mounted mounted = mount_map.Resolve(e.mover_id, e.path);
    const std::string& id = mounted.id;
    if (id.empty()) {
      c.Fail(line, item,
             "export path " + Shown(e.path) + " is not mounted on mover " +
                 Shown(e.mover_id));
    }
    if (line > 0 && mounted.line > line) {
      c.Fail(line, item,
             "export path " + Shown(e.path) + " lies in " + Shown(id) +
                 ", which is declared below, at line " +
                 std::to_string(mounted.line) + "; declare it above");
    }
    store.PutExport({host, e.path, e.mover_id, id, e.access_hosts, e.rw_hosts,
                     e.root_hosts});
  }
  ServerRow row;
  row.host = host;
  row.user = l.user;
  row.password = l.password;
  row.limits = lim;
  row.next_id = next_id;
  store.InsertServer(row);
}

}  // namespace zkfiler
