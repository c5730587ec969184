// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerStore.h"

#include "filer/FilerStoreRows.h"

namespace zkfiler {

const std::string& FilerStore::Name() const { return db_->name(); }
namespace {

using rows::kCkptColumns;
using rows::kExportColumns;
using rows::kFsColumns;
using rows::ReadCkpt;
using rows::ReadExport;
using rows::ReadFs;

constexpr const char* kFormat = "zkfiler-state-4";
const char* const kOldFormats[] = {"zkfiler-state-1", "zkfiler-state-2",
                                   "zkfiler-state-3"};

// fault.lost: the fault loses the reply instead of refusing; journal.lost:
// the command took effect and such a fault lost its reply. A fault whose
// command is "*" counts every command.
// fs.phys_mover/phys_path: where the file system appears on a physical
// mover, fixed when the server is installed (VDMs never move afterwards).
// id_counter outlives the server rows so checkpoint ids are never reused.
// ckpt_fs_count/ckpt_base_count: how many checkpoints each file system has
// (read-only and writable apart) and how many writable ones each baseline
// has, kept by the triggers on ckpt, so the limits of a new checkpoint are
// checked in constant time however many checkpoints a file system holds.
constexpr const char* kSchema = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE server(host TEXT PRIMARY KEY, user TEXT, password TEXT,
  ro_per_fs INTEGER, rw_per_baseline INTEGER, rw_per_fs INTEGER,
  max_name_len INTEGER);
CREATE TABLE id_counter(host TEXT PRIMARY KEY, next_id INTEGER);
CREATE TABLE mover(host TEXT, id TEXT, name TEXT, interfaces TEXT,
  PRIMARY KEY(host, id));
CREATE TABLE vdm(host TEXT, id TEXT, name TEXT, mover TEXT,
  PRIMARY KEY(host, id));
CREATE TABLE cifs_server(host TEXT, name TEXT, mover TEXT, on_vdm INTEGER,
  interfaces TEXT, PRIMARY KEY(host, name));
CREATE INDEX cifs_server_on ON cifs_server(host, mover, on_vdm);
CREATE TABLE cifs_share(host TEXT, name TEXT, fs TEXT, mover TEXT,
  on_vdm INTEGER, path TEXT, PRIMARY KEY(host, name));
CREATE TABLE fs(host TEXT, id TEXT, name TEXT, stg_type INTEGER,
  stg_extra TEXT, savvol TEXT, mount TEXT, mover TEXT, on_vdm INTEGER,
  generation INTEGER, restores INTEGER, phys_mover TEXT, phys_path TEXT,
  PRIMARY KEY(host, id));
CREATE INDEX fs_name ON fs(host, name);
CREATE INDEX fs_phys ON fs(host, phys_mover, phys_path);
CREATE INDEX fs_mount ON fs(host, mover, on_vdm, mount);
CREATE TABLE nfs_export(host TEXT, mover TEXT, path TEXT, fs TEXT,
  access TEXT, rw TEXT, root TEXT, PRIMARY KEY(host, mover, path));
CREATE INDEX nfs_export_path ON nfs_export(host, path);
CREATE INDEX nfs_export_fs ON nfs_export(host, fs);
CREATE TABLE ckpt(seq INTEGER PRIMARY KEY AUTOINCREMENT, host TEXT, id TEXT,
  name TEXT, fs TEXT, baseline TEXT, writable INTEGER, generation INTEGER,
  UNIQUE(host, id), UNIQUE(host, name));
CREATE INDEX ckpt_fs ON ckpt(host, fs, writable);
CREATE INDEX ckpt_baseline ON ckpt(host, baseline);
CREATE TABLE ckpt_fs_count(host TEXT, fs TEXT, writable INTEGER, n INTEGER,
  PRIMARY KEY(host, fs, writable));
CREATE TABLE ckpt_base_count(host TEXT, baseline TEXT, n INTEGER,
  PRIMARY KEY(host, baseline));
CREATE TRIGGER ckpt_added AFTER INSERT ON ckpt BEGIN
  INSERT INTO ckpt_fs_count(host, fs, writable, n)
    VALUES(NEW.host, NEW.fs, NEW.writable, 1)
    ON CONFLICT(host, fs, writable) DO UPDATE SET n = n + 1;
  INSERT INTO ckpt_base_count(host, baseline, n)
    SELECT NEW.host, NEW.baseline, 1 WHERE NEW.writable = 1
    ON CONFLICT(host, baseline) DO UPDATE SET n = n + 1;
END;
CREATE TRIGGER ckpt_removed AFTER DELETE ON ckpt BEGIN
  UPDATE ckpt_fs_count SET n = n - 1
    WHERE host = OLD.host AND fs = OLD.fs AND writable = OLD.writable;
  UPDATE ckpt_base_count SET n = n - 1
    WHERE OLD.writable = 1 AND host = OLD.host AND baseline = OLD.baseline;
END;
CREATE TABLE fault(id INTEGER PRIMARY KEY AUTOINCREMENT, command TEXT,
  host TEXT, mode INTEGER, n INTEGER, seen INTEGER, status INTEGER,
  component TEXT, facility TEXT, message TEXT, code TEXT, severity TEXT,
  description TEXT, action TEXT, diagnostics TEXT, lost INTEGER);
CREATE INDEX fault_command ON fault(command);
CREATE TABLE setting(key TEXT PRIMARY KEY, value INTEGER);
CREATE TABLE journal(seq INTEGER PRIMARY KEY AUTOINCREMENT, pid INTEGER,
  job INTEGER, host TEXT, user TEXT, command TEXT, args TEXT, ok INTEGER,
  code TEXT, lost INTEGER);
)sql";

const char* const kClearedTables[] = {
    "server", "mover",      "vdm",    "cifs_server",   "cifs_share",
    "fs",     "nfs_export", "ckpt",   "ckpt_fs_count", "ckpt_base_count",
    "fault",  "setting",    "journal"};
const char* const kServerTables[] = {
    "server", "mover",      "vdm",  "cifs_server",   "cifs_share",
    "fs",     "nfs_export", "ckpt", "ckpt_fs_count", "ckpt_base_count"};

std::string PhysicalPath(const FileSystemDef& fs) {
  return fs.on_vdm ? "/root_vdm_" + fs.mover_id + fs.mount_path : fs.mount_path;
}

}  // namespace

std::string JoinList(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += ",";
    text += items[i];
  }
  return text;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

void FilerStore::EnsureSchema(bool create) {
  Statement probe =
      db_->Prepare("SELECT count(*) FROM sqlite_master WHERE type='table'");
  probe.Step();
  const int64_t tables = probe.Int(0);
  if (tables == 0 && create) {
    db_->Exec(kSchema);
    db_->Prepare("INSERT INTO meta(key, value) VALUES('format', ?)")
        .Bind(std::string(kFormat))
        .Run();
    return;
  }
  std::string format;
  if (tables > 0) {
    Statement has_meta = db_->Prepare(
        "SELECT 1 FROM sqlite_master WHERE type='table' AND name='meta'");
    if (has_meta.Step()) {
      try {
        Statement q = db_->Prepare("SELECT value FROM meta WHERE key='format'");
        if (q.Step()) format = q.Text(0);
      } catch (const StoreError&) {
        // Another program's table of that name.
      }
    }
  }
  if (format == kFormat) return;
  for (const char* old : kOldFormats) {
    if (format != old) continue;
    throw StoreError("file server state '" + db_->name() +
                     "': made by an older zkfiler; remove it and load the "
                     "layout again");
  }
  throw StoreError("file server state '" + db_->name() +
                   "': not a zkfiler state file (create it with "
                   "'zkfiler load')");
}

void FilerStore::Clear() {
  for (const char* table : kClearedTables) {
    db_->Exec(std::string("DELETE FROM ") + table);
  }
}

std::vector<std::string> FilerStore::ServerHosts() {
  std::vector<std::string> hosts;
  Statement q = db_->Prepare("SELECT host FROM server ORDER BY host");
  while (q.Step()) hosts.push_back(q.Text(0));
  return hosts;
}

bool FilerStore::FindServer(const std::string& host, ServerRow* out) {
  Statement q = db_->Prepare(
      "SELECT s.host, s.user, s.password, s.ro_per_fs, s.rw_per_baseline, "
      "s.rw_per_fs, s.max_name_len, coalesce(c.next_id, 1) FROM server s "
      "LEFT JOIN id_counter c ON c.host=s.host WHERE s.host=?");
  q.Bind(host);
  if (!q.Step()) return false;
  out->host = q.Text(0);
  out->user = q.Text(1);
  out->password = q.Text(2);
  out->limits.ro_per_fs = static_cast<int>(q.Int(3));
  out->limits.rw_per_baseline = static_cast<int>(q.Int(4));
  out->limits.rw_per_fs = static_cast<int>(q.Int(5));
  out->limits.max_name_len = static_cast<int>(q.Int(6));
  out->next_id = q.Int(7);
  return true;
}

void FilerStore::InsertServer(const ServerRow& row) {
  db_->Prepare("INSERT INTO server VALUES(?,?,?,?,?,?,?)")
      .Bind(row.host)
      .Bind(row.user)
      .Bind(row.password)
      .Bind(int64_t{row.limits.ro_per_fs})
      .Bind(int64_t{row.limits.rw_per_baseline})
      .Bind(int64_t{row.limits.rw_per_fs})
      .Bind(int64_t{row.limits.max_name_len})
      .Run();
  db_->Prepare(
         "INSERT INTO id_counter VALUES(?, ?) ON CONFLICT(host) DO UPDATE "
         "SET next_id=max(next_id, excluded.next_id)")
      .Bind(row.host)
      .Bind(row.next_id)
      .Run();
}

void FilerStore::RemoveServer(const std::string& host) {
  for (const char* table : kServerTables) {
    db_->Prepare(std::string("DELETE FROM ") + table + " WHERE host=?")
        .Bind(host)
        .Run();
  }
}

void FilerStore::SetNextId(const std::string& host, int64_t next_id) {
  db_->Prepare(
         "INSERT INTO id_counter VALUES(?, ?) ON CONFLICT(host) DO UPDATE "
         "SET next_id=excluded.next_id")
      .Bind(host)
      .Bind(next_id)
      .Run();
}

std::vector<MoverDef> FilerStore::Movers(const std::string& host) {
  std::vector<MoverDef> rows;
  Statement q = db_->Prepare(
      "SELECT id, name, interfaces FROM mover WHERE host=? ORDER BY rowid");
  q.Bind(host);
  while (q.Step()) rows.push_back({q.Text(0), q.Text(1), SplitList(q.Text(2))});
  return rows;
}

std::vector<VdmDef> FilerStore::Vdms(const std::string& host) {
  std::vector<VdmDef> rows;
  Statement q = db_->Prepare(
      "SELECT id, name, mover FROM vdm WHERE host=? ORDER BY rowid");
  q.Bind(host);
  while (q.Step()) rows.push_back({q.Text(0), q.Text(1), q.Text(2)});
  return rows;
}

std::vector<CifsServerDef> FilerStore::CifsServers(const std::string& host) {
  std::vector<CifsServerDef> rows;
  Statement q = db_->Prepare(
      "SELECT name, mover, on_vdm, interfaces FROM cifs_server WHERE host=? "
      "ORDER BY rowid");
  q.Bind(host);
  while (q.Step()) {
    rows.push_back({q.Text(0), q.Text(1), q.Int(2) != 0, q.Text(3)});
  }
  return rows;
}

std::vector<CifsShareDef> FilerStore::CifsShares(const std::string& host) {
  std::vector<CifsShareDef> rows;
  Statement q = db_->Prepare(
      "SELECT name, fs, mover, on_vdm, path FROM cifs_share WHERE host=? "
      "ORDER BY rowid");
  q.Bind(host);
  while (q.Step()) {
    rows.push_back({q.Text(0), q.Text(1), q.Text(2), q.Int(3) != 0, q.Text(4)});
  }
  return rows;
}

std::vector<FileSystemDef> FilerStore::FileSystems(const std::string& host) {
  std::vector<FileSystemDef> rows;
  Statement q = db_->Prepare(std::string("SELECT ") + kFsColumns +
                             " FROM fs WHERE host=? ORDER BY rowid");
  q.Bind(host);
  while (q.Step()) rows.push_back(ReadFs(q));
  return rows;
}

std::vector<ExportView> FilerStore::Exports(const std::string& host) {
  std::vector<ExportView> rows;
  if (host.empty()) {
    Statement q = db_->Prepare(std::string("SELECT ") + kExportColumns +
                               " FROM nfs_export ORDER BY host, rowid");
    while (q.Step()) rows.push_back(ReadExport(q));
  } else {
    Statement q = db_->Prepare(std::string("SELECT ") + kExportColumns +
                               " FROM nfs_export WHERE host=? ORDER BY rowid");
    q.Bind(host);
    while (q.Step()) rows.push_back(ReadExport(q));
  }
  return rows;
}

std::vector<CheckpointView> FilerStore::Checkpoints(const std::string& host,
                                                    const std::string& fs_id) {
  std::vector<CheckpointView> rows;
  std::string sql = std::string("SELECT ") + kCkptColumns + " FROM ckpt";
  if (!host.empty() && !fs_id.empty()) {
    sql += " WHERE host=? AND fs=?";
  } else if (!host.empty()) {
    sql += " WHERE host=?";
  } else if (!fs_id.empty()) {
    sql += " WHERE fs=?";
  }
  Statement q = db_->Prepare(sql + " ORDER BY seq");
  if (!host.empty()) q.Bind(host);
  if (!fs_id.empty()) q.Bind(fs_id);
  while (q.Step()) rows.push_back(ReadCkpt(q));
  return rows;
}

void FilerStore::Insert(const std::string& host, const MoverDef& row) {
  db_->Prepare("INSERT INTO mover VALUES(?,?,?,?)")
      .Bind(host)
      .Bind(row.id)
      .Bind(row.name)
      .Bind(JoinList(row.interfaces))
      .Run();
}

void FilerStore::Insert(const std::string& host, const VdmDef& row) {
  db_->Prepare("INSERT INTO vdm VALUES(?,?,?,?)")
      .Bind(host)
      .Bind(row.id)
      .Bind(row.name)
      .Bind(row.mover_id)
      .Run();
}

void FilerStore::Insert(const std::string& host, const CifsServerDef& row) {
  db_->Prepare("INSERT INTO cifs_server VALUES(?,?,?,?,?)")
      .Bind(host)
      .Bind(row.name)
      .Bind(row.mover_id)
      .Bind(int64_t{row.on_vdm})
      .Bind(row.interfaces)
      .Run();
}

void FilerStore::Insert(const std::string& host, const CifsShareDef& row) {
  db_->Prepare("INSERT INTO cifs_share VALUES(?,?,?,?,?,?)")
      .Bind(host)
      .Bind(row.name)
      .Bind(row.fs_id)
      .Bind(row.mover_id)
      .Bind(int64_t{row.on_vdm})
      .Bind(row.path)
      .Run();
}

void FilerStore::Insert(const std::string& host, const FileSystemDef& row,
                        const std::string& physical_mover) {
  db_->Prepare("INSERT INTO fs VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)")
      .Bind(host)
      .Bind(row.id)
      .Bind(row.name)
      .Bind(int64_t{row.storage_type})
      .Bind(row.storage_extra)
      .Bind(row.save_volume)
      .Bind(row.mount_path)
      .Bind(row.mover_id)
      .Bind(int64_t{row.on_vdm})
      .Bind(row.generation)
      .Bind(row.restores)
      .Bind(physical_mover)
      .Bind(PhysicalPath(row))
      .Run();
}

void FilerStore::PutExport(const ExportView& row) {
  db_->Prepare(
         "INSERT INTO nfs_export VALUES(?,?,?,?,?,?,?) "
         "ON CONFLICT(host, mover, path) DO UPDATE SET fs=excluded.fs, "
         "access=excluded.access, rw=excluded.rw, root=excluded.root")
      .Bind(row.control_host)
      .Bind(row.mover_id)
      .Bind(row.path)
      .Bind(row.fs_id)
      .Bind(JoinList(row.access_hosts))
      .Bind(JoinList(row.rw_hosts))
      .Bind(JoinList(row.root_hosts))
      .Run();
}

void FilerStore::DeleteExport(const std::string& host,
                              const std::string& mover_id,
                              const std::string& path) {
  db_->Prepare("DELETE FROM nfs_export WHERE host=? AND mover=? AND path=?")
      .Bind(host)
      .Bind(mover_id)
      .Bind(path)
      .Run();
}

void FilerStore::InsertCheckpoint(const CheckpointView& row) {
  db_->Prepare(
         "INSERT INTO ckpt(host, id, name, fs, baseline, writable, "
         "generation) VALUES(?,?,?,?,?,?,?)")
      .Bind(row.control_host)
      .Bind(row.id)
      .Bind(row.name)
      .Bind(row.fs_id)
      .Bind(row.baseline_id)
      .Bind(int64_t{row.writable})
      .Bind(row.generation)
      .Run();
}

void FilerStore::DeleteCheckpoint(const std::string& host,
                                  const std::string& id) {
  db_->Prepare("DELETE FROM ckpt WHERE host=? AND id=?")
      .Bind(host)
      .Bind(id)
      .Run();
}

void FilerStore::UpdateFileSystemContent(const std::string& host,
                                         const std::string& id,
                                         int64_t generation, int64_t restores) {
  db_->Prepare("UPDATE fs SET generation=?, restores=? WHERE host=? AND id=?")
      .Bind(generation)
      .Bind(restores)
      .Bind(host)
      .Bind(id)
      .Run();
}

}  // namespace zkfiler
