#include "filer/FilerStore.h"

namespace zkfiler {
namespace {

constexpr const char* kFormat = "zkfiler-state-1";

constexpr const char* kSchema = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE server(host TEXT PRIMARY KEY, user TEXT, password TEXT,
  ro_per_fs INTEGER, rw_per_baseline INTEGER, rw_per_fs INTEGER,
  max_name_len INTEGER, next_id INTEGER);
CREATE TABLE mover(host TEXT, id TEXT, name TEXT, interfaces TEXT,
  PRIMARY KEY(host, id));
CREATE TABLE vdm(host TEXT, id TEXT, name TEXT, mover TEXT,
  PRIMARY KEY(host, id));
CREATE TABLE cifs_server(host TEXT, name TEXT, mover TEXT, on_vdm INTEGER,
  interfaces TEXT, PRIMARY KEY(host, name));
CREATE TABLE cifs_share(host TEXT, name TEXT, fs TEXT, mover TEXT,
  on_vdm INTEGER, path TEXT, PRIMARY KEY(host, name));
CREATE TABLE fs(host TEXT, id TEXT, name TEXT, stg_type INTEGER,
  stg_extra TEXT, savvol TEXT, mount TEXT, mover TEXT, on_vdm INTEGER,
  generation INTEGER, restores INTEGER, PRIMARY KEY(host, id));
CREATE TABLE nfs_export(host TEXT, mover TEXT, path TEXT, fs TEXT,
  access TEXT, rw TEXT, root TEXT, PRIMARY KEY(host, mover, path));
CREATE TABLE ckpt(seq INTEGER PRIMARY KEY AUTOINCREMENT, host TEXT, id TEXT,
  name TEXT, fs TEXT, baseline TEXT, writable INTEGER, generation INTEGER,
  UNIQUE(host, id), UNIQUE(host, name));
CREATE TABLE fault(id INTEGER PRIMARY KEY AUTOINCREMENT, command TEXT,
  host TEXT, mode INTEGER, n INTEGER, seen INTEGER, status INTEGER,
  component TEXT, facility TEXT, message TEXT, code TEXT, severity TEXT,
  description TEXT, action TEXT, diagnostics TEXT);
CREATE TABLE setting(key TEXT PRIMARY KEY, value INTEGER);
CREATE TABLE journal(seq INTEGER PRIMARY KEY AUTOINCREMENT, pid INTEGER,
  job INTEGER, host TEXT, user TEXT, command TEXT, args TEXT, ok INTEGER,
  code TEXT);
)sql";

const char* const kTables[] = {"server", "mover",     "vdm",  "cifs_server",
                               "cifs_share", "fs",    "nfs_export", "ckpt",
                               "fault",  "setting",   "journal"};
const char* const kServerTables[] = {"server",     "mover",      "vdm",
                                     "cifs_server", "cifs_share", "fs",
                                     "nfs_export",  "ckpt"};

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
  Statement probe = db_->Prepare(
      "SELECT count(*) FROM sqlite_master WHERE type='table'");
  probe.Step();
  const int64_t tables = probe.Int(0);
  if (tables == 0 && create) {
    db_->Exec(kSchema);
    db_->Prepare("INSERT INTO meta(key, value) VALUES('format', ?)")
        .Bind(std::string(kFormat))
        .Run();
    return;
  }
  bool known = false;
  if (tables > 0) {
    Statement format = db_->Prepare(
        "SELECT value FROM meta WHERE key='format' AND "
        "EXISTS(SELECT 1 FROM sqlite_master WHERE name='meta')");
    known = format.Step() && format.Text(0) == kFormat;
  }
  if (!known) {
    throw StoreError("file server state '" + db_->name() +
                     "': not a zkfiler state file (create it with "
                     "'zkfiler load')");
  }
}

void FilerStore::Clear() {
  for (const char* table : kTables) {
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
      "SELECT host, user, password, ro_per_fs, rw_per_baseline, rw_per_fs, "
      "max_name_len, next_id FROM server WHERE host=?");
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
  db_->Prepare("INSERT INTO server VALUES(?,?,?,?,?,?,?,?)")
      .Bind(row.host)
      .Bind(row.user)
      .Bind(row.password)
      .Bind(int64_t{row.limits.ro_per_fs})
      .Bind(int64_t{row.limits.rw_per_baseline})
      .Bind(int64_t{row.limits.rw_per_fs})
      .Bind(int64_t{row.limits.max_name_len})
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
  db_->Prepare("UPDATE server SET next_id=? WHERE host=?")
      .Bind(next_id)
      .Bind(host)
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
  Statement q = db_->Prepare(
      "SELECT id, name, stg_type, stg_extra, savvol, mount, mover, on_vdm, "
      "generation, restores FROM fs WHERE host=? ORDER BY rowid");
  q.Bind(host);
  while (q.Step()) {
    FileSystemDef fs;
    fs.id = q.Text(0);
    fs.name = q.Text(1);
    fs.storage_type = static_cast<eCelerraStgType>(q.Int(2));
    fs.storage_extra = q.Text(3);
    fs.save_volume = q.Text(4);
    fs.mount_path = q.Text(5);
    fs.mover_id = q.Text(6);
    fs.on_vdm = q.Int(7) != 0;
    fs.generation = q.Int(8);
    fs.restores = q.Int(9);
    rows.push_back(std::move(fs));
  }
  return rows;
}

std::vector<ExportView> FilerStore::Exports(const std::string& host) {
  std::vector<ExportView> rows;
  Statement q = db_->Prepare(
      "SELECT host, path, mover, fs, access, rw, root FROM nfs_export "
      "WHERE host=? OR ?='' ORDER BY host, rowid");
  q.Bind(host).Bind(host);
  while (q.Step()) {
    rows.push_back({q.Text(0), q.Text(1), q.Text(2), q.Text(3),
                    SplitList(q.Text(4)), SplitList(q.Text(5)),
                    SplitList(q.Text(6))});
  }
  return rows;
}

std::vector<CheckpointView> FilerStore::Checkpoints(const std::string& host,
                                                    const std::string& fs_id) {
  std::vector<CheckpointView> rows;
  Statement q = db_->Prepare(
      "SELECT host, id, name, fs, baseline, writable, generation FROM ckpt "
      "WHERE (host=? OR ?='') AND (fs=? OR ?='') ORDER BY seq");
  q.Bind(host).Bind(host).Bind(fs_id).Bind(fs_id);
  while (q.Step()) {
    rows.push_back({q.Text(0), q.Text(1), q.Text(2), q.Text(3), q.Text(4),
                    q.Int(5) != 0, q.Int(6)});
  }
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

void FilerStore::Insert(const std::string& host, const FileSystemDef& row) {
  db_->Prepare("INSERT INTO fs VALUES(?,?,?,?,?,?,?,?,?,?,?)")
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
                                         int64_t generation,
                                         int64_t restores) {
  db_->Prepare("UPDATE fs SET generation=?, restores=? WHERE host=? AND id=?")
      .Bind(generation)
      .Bind(restores)
      .Bind(host)
      .Bind(id)
      .Run();
}

std::vector<FaultRow> FilerStore::Faults() {
  std::vector<FaultRow> rows;
  Statement q = db_->Prepare(
      "SELECT id, command, host, mode, n, seen, status, component, facility, "
      "message, code, severity, description, action, diagnostics FROM fault "
      "ORDER BY id");
  while (q.Step()) {
    FaultRow row;
    row.id = q.Int(0);
    row.spec.command = q.Text(1);
    row.spec.control_host = q.Text(2);
    row.spec.mode = static_cast<FaultMode>(q.Int(3));
    row.spec.n = q.Int(4);
    row.seen = q.Int(5);
    CelerraError& e = row.spec.error;
    e.nStatus = static_cast<int32_t>(q.Int(6));
    e.sComponent = q.Text(7);
    e.sFacility = q.Text(8);
    e.sMessage = q.Text(9);
    e.sMessageCode = q.Text(10);
    e.sSeverity = q.Text(11);
    e.sDescription = q.Text(12);
    e.sAction = q.Text(13);
    e.sDiagnostics = q.Text(14);
    rows.push_back(std::move(row));
  }
  return rows;
}

void FilerStore::InsertFault(const FaultSpec& spec) {
  const CelerraError& e = spec.error;
  db_->Prepare(
         "INSERT INTO fault(command, host, mode, n, seen, status, component, "
         "facility, message, code, severity, description, action, "
         "diagnostics) VALUES(?,?,?,?,0,?,?,?,?,?,?,?,?,?)")
      .Bind(spec.command)
      .Bind(spec.control_host)
      .Bind(static_cast<int64_t>(spec.mode))
      .Bind(spec.n)
      .Bind(int64_t{e.nStatus})
      .Bind(e.sComponent)
      .Bind(e.sFacility)
      .Bind(e.sMessage)
      .Bind(e.sMessageCode)
      .Bind(e.sSeverity)
      .Bind(e.sDescription)
      .Bind(e.sAction)
      .Bind(e.sDiagnostics)
      .Run();
}

void FilerStore::SetFaultSeen(int64_t id, int64_t seen) {
  db_->Prepare("UPDATE fault SET seen=? WHERE id=?").Bind(seen).Bind(id).Run();
}

void FilerStore::ClearFaults() { db_->Exec("DELETE FROM fault"); }

int64_t FilerStore::LatencyMs() {
  Statement q = db_->Prepare("SELECT value FROM setting WHERE key='latency'");
  return q.Step() ? q.Int(0) : 0;
}

void FilerStore::SetLatencyMs(int64_t ms) {
  db_->Prepare("INSERT OR REPLACE INTO setting VALUES('latency', ?)")
      .Bind(ms)
      .Run();
}

void FilerStore::AppendJournal(const JournalEntry& entry) {
  db_->Prepare(
         "INSERT INTO journal(pid, job, host, user, command, args, ok, code) "
         "VALUES(?,?,?,?,?,?,?,?)")
      .Bind(entry.pid)
      .Bind(static_cast<int64_t>(entry.job_id))
      .Bind(entry.control_host)
      .Bind(entry.user)
      .Bind(entry.command)
      .Bind(entry.args)
      .Bind(int64_t{entry.ok})
      .Bind(entry.message_code)
      .Run();
}

std::vector<JournalEntry> FilerStore::Journal() {
  std::vector<JournalEntry> rows;
  Statement q = db_->Prepare(
      "SELECT seq, pid, job, host, user, command, args, ok, code FROM journal "
      "ORDER BY seq");
  while (q.Step()) {
    rows.push_back({q.Int(0), q.Int(1), static_cast<uint64_t>(q.Int(2)),
                    q.Text(3), q.Text(4), q.Text(5), q.Text(6), q.Int(7) != 0,
                    q.Text(8)});
  }
  return rows;
}

void FilerStore::ClearJournal() { db_->Exec("DELETE FROM journal"); }

}  // namespace zkfiler
