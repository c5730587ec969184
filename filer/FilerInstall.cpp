#include "filer/FilerInstall.h"

#include <set>
#include <stdexcept>

#include "filer/FilerErrors.h"
#include "filer/FilerModel.h"

namespace zkfiler {
namespace {

// The first id handed out to new checkpoints when the layout has none above.
constexpr int64_t kFirstCheckpointId = 100;

class Checker {
 public:
  explicit Checker(const ServerLayout& layout) : layout_(layout) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw std::invalid_argument("layout of control host '" +
                                layout_.control_host + "': " + what);
  }

  // Ids, names and similar: non-empty, printable, no blank, "," or "|".
  void Word(const std::string& value, const std::string& what) const {
    if (value.empty()) Fail("empty " + what);
    if (value.size() > 255) Fail(what + " is too long");
    for (char ch : value) {
      const unsigned char u = static_cast<unsigned char>(ch);
      if (u <= ' ' || u == 0x7f || ch == ',' || ch == '|') {
        Fail(what + " '" + value + "' holds an invalid character");
      }
    }
  }

  void MountPath(const std::string& path, const std::string& what) const {
    Word(path, what);
    if (path[0] != '/' || path.size() < 2 || path.back() == '/' ||
        path.find("//") != std::string::npos) {
      Fail(what + " '" + path + "' is not an absolute path like /fs1");
    }
  }

  void Unique(std::set<std::string>* seen, const std::string& value,
              const std::string& what) const {
    if (!seen->insert(value).second) Fail("duplicate " + what + " '" + value + "'");
  }

  void Known(const std::set<std::string>& ids, const std::string& id,
             const std::string& what) const {
    if (ids.count(id) == 0) Fail("unknown " + what + " '" + id + "'");
  }

 private:
  const ServerLayout& layout_;
};

int64_t NumericId(const std::string& id) {
  if (id.empty() || id.size() > 15) return -1;
  for (char ch : id) {
    if (ch < '0' || ch > '9') return -1;
  }
  return std::stoll(id);
}

}  // namespace

void InstallLayout(FilerStore& store, const ServerLayout& l) {
  Checker c(l);
  c.Word(l.control_host, "control host");
  c.Word(l.user, "user");
  if (l.limits.ro_per_fs < 0 || l.limits.rw_per_baseline < 0 ||
      l.limits.rw_per_fs < 0 || l.limits.max_name_len < 1) {
    c.Fail("limits must not be negative");
  }
  const std::string& host = l.control_host;
  store.RemoveServer(host);

  std::set<std::string> movers, vdms, servers, names, ids, shares;
  for (const MoverDef& m : l.movers) {
    c.Word(m.id, "mover id");
    c.Unique(&movers, m.id, "mover id");
    for (const std::string& ip : m.interfaces) c.Word(ip, "interface");
    store.Insert(host, m);
  }
  for (const VdmDef& v : l.vdms) {
    c.Word(v.id, "VDM id");
    c.Unique(&vdms, v.id, "VDM id");
    if (!v.mover_id.empty()) c.Known(movers, v.mover_id, "mover of VDM");
    store.Insert(host, v);
  }
  for (const CifsServerDef& s : l.cifs_servers) {
    c.Word(s.name, "CIFS server name");
    c.Unique(&servers, s.name, "CIFS server");
    c.Known(s.on_vdm ? vdms : movers, s.mover_id,
            s.on_vdm ? "VDM of CIFS server" : "mover of CIFS server");
    store.Insert(host, s);
  }
  std::set<std::string> mounts;
  int64_t next_id = kFirstCheckpointId;
  for (const FileSystemDef& f : l.file_systems) {
    c.Word(f.id, "file system id");
    c.Word(f.name, "file system name");
    c.Unique(&ids, f.id, "id");
    c.Unique(&names, f.name, "name");
    c.MountPath(f.mount_path, "mount path");
    c.Known(f.on_vdm ? vdms : movers, f.mover_id,
            f.on_vdm ? "VDM of file system" : "mover of file system");
    c.Unique(&mounts, (f.on_vdm ? "vdm:" : "mover:") + f.mover_id + ":" +
                          f.mount_path,
             "mount point");
    if (f.generation < 0 || f.restores < 0) c.Fail("negative generation");
    next_id = std::max(next_id, NumericId(f.id) + 1);
    store.Insert(host, f);
  }
  for (const CifsShareDef& s : l.cifs_shares) {
    c.Word(s.name, "share name");
    c.Unique(&shares, s.name, "share");
    c.Known(ids, s.fs_id, "file system of share");
    c.Known(s.on_vdm ? vdms : movers, s.mover_id,
            s.on_vdm ? "VDM of share" : "mover of share");
    store.Insert(host, s);
  }
  for (const CheckpointDef& k : l.checkpoints) {
    try {
      model::CheckCheckpointName(k.name, l.limits);
    } catch (const Refusal& e) {
      c.Fail(e.error().sMessage);
    }
    c.Unique(&names, k.name, "name");
    c.Known(ids, k.fs_id, "file system of checkpoint");
    CheckpointView v;
    v.control_host = host;
    v.name = k.name;
    v.fs_id = k.fs_id;
    v.id = k.id;
    for (const FileSystemDef& f : l.file_systems) {
      if (f.id == k.fs_id) v.generation = f.generation;
    }
    if (!k.baseline_name.empty()) {
      bool found = false;
      for (const CheckpointView& b : store.Checkpoints(host, k.fs_id)) {
        if (b.name == k.baseline_name && !b.writable) {
          v.baseline_id = b.id;
          v.generation = b.generation;
          found = true;
        }
      }
      if (!found) {
        c.Fail("baseline '" + k.baseline_name + "' of checkpoint '" + k.name +
               "' is not an earlier read-only checkpoint of its file system");
      }
      v.writable = true;
    }
    if (v.id.empty()) {
      while (ids.count(std::to_string(next_id)) != 0) ++next_id;
      v.id = std::to_string(next_id++);
    }
    c.Word(v.id, "checkpoint id");
    c.Unique(&ids, v.id, "id");
    next_id = std::max(next_id, NumericId(v.id) + 1);
    store.InsertCheckpoint(v);
  }
  std::set<std::string> exports;
  for (const ExportDef& e : l.exports) {
    c.MountPath(e.path, "export path");
    c.Unique(&exports, e.mover_id + ":" + e.path, "export");
    c.Known(movers, e.mover_id, "mover of export");
    for (const auto* list : {&e.access_hosts, &e.rw_hosts, &e.root_hosts}) {
      for (const std::string& h : *list) c.Word(h, "export host");
    }
    const std::string id = model::ResolvePath(store, host, e.mover_id, e.path);
    if (id.empty()) {
      c.Fail("export path '" + e.path + "' is not mounted on mover '" +
             e.mover_id + "'");
    }
    store.PutExport({host, e.path, e.mover_id, id, e.access_hosts, e.rw_hosts,
                     e.root_hosts});
  }
  ServerRow row;
  row.host = host;
  row.user = l.user;
  row.password = l.password;
  row.limits = l.limits;
  row.next_id = next_id;
  store.InsertServer(row);
}

}  // namespace zkfiler
