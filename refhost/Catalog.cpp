// SPDX-License-Identifier: Apache-2.0
#include "refhost/Catalog.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

#include "refhost/ZksnapError.h"

namespace zkref {

const char Catalog::kFileName[] = "catalog.db";
volatile std::sig_atomic_t g_nCatalogCommitted = 0;

namespace {

const char kSchema[] = R"sql(
CREATE TABLE meta(
  key TEXT PRIMARY KEY,
  value TEXT NOT NULL);
INSERT INTO meta(key, value) VALUES ('job_counter', '0');
CREATE TABLE arrays(
  name TEXT PRIMARY KEY,
  vendor TEXT NOT NULL,
  array_id TEXT NOT NULL,
  control_host TEXT NOT NULL,
  user_name TEXT NOT NULL,
  password TEXT NOT NULL,
  engine TEXT NOT NULL);
CREATE TABLE array_addresses(
  address TEXT PRIMARY KEY,
  array_name TEXT NOT NULL REFERENCES arrays(name) ON DELETE CASCADE);
CREATE TABLE records(
  name TEXT PRIMARY KEY,
  snap_group TEXT NOT NULL,
  source_device TEXT NOT NULL,
  snap_name TEXT NOT NULL,
  status INTEGER NOT NULL,
  snap_device TEXT NOT NULL,
  host_identifier TEXT NOT NULL,
  bound_array TEXT NOT NULL,
  jpr_id INTEGER NOT NULL,
  jpr_text TEXT NOT NULL,
  mount_source INTEGER);
CREATE TABLE metadata(
  record TEXT NOT NULL REFERENCES records(name) ON DELETE CASCADE,
  type INTEGER NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY(record, type));
CREATE TABLE job_log(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  job_id INTEGER NOT NULL,
  record TEXT NOT NULL REFERENCES records(name) ON DELETE CASCADE,
  operation TEXT NOT NULL,
  level INTEGER NOT NULL,
  tag TEXT NOT NULL,
  text TEXT NOT NULL,
  at INTEGER NOT NULL);
CREATE TABLE config(
  section TEXT NOT NULL,
  key TEXT NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY(section, key));
)sql";

// A prepared statement; finalized on every path.
class Stmt {
 public:
  Stmt(sqlite3* pDb, const char* pszSql, const std::string& sPath)
      : m_pDb(pDb), m_sPath(sPath) {
    int rc = sqlite3_prepare_v2(pDb, pszSql, -1, &m_pStmt, nullptr);
    if (rc != SQLITE_OK) Throw(rc);
  }
  ~Stmt() { sqlite3_finalize(m_pStmt); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Bind(int i, const std::string& s) {
    Check(sqlite3_bind_text(m_pStmt, i, s.data(), static_cast<int>(s.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  Stmt& Bind(int i, int64_t n) {
    Check(sqlite3_bind_int64(m_pStmt, i, n));
    return *this;
  }
  Stmt& BindNull(int i) {
    Check(sqlite3_bind_null(m_pStmt, i));
    return *this;
  }
  // True while a row is there.
  bool Step() {
    int rc = sqlite3_step(m_pStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Throw(rc);
  }
  void Run() {
    while (Step()) {
    }
  }
  std::string Text(int i) const {
    const unsigned char* p = sqlite3_column_text(m_pStmt, i);
    int n = sqlite3_column_bytes(m_pStmt, i);
    return p == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char*>(p),
                                      static_cast<size_t>(n));
  }
  int64_t Int(int i) const { return sqlite3_column_int64(m_pStmt, i); }
  bool IsNull(int i) const {
    return sqlite3_column_type(m_pStmt, i) == SQLITE_NULL;
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Throw(rc);
  }
  [[noreturn]] void Throw(int rc) {
    const int nPrimary = rc & 0xff;
    std::string sMessage = "catalog " + m_sPath + ": " + sqlite3_errmsg(m_pDb);
    if (nPrimary == SQLITE_CORRUPT || nPrimary == SQLITE_NOTADB) {
      sMessage = "catalog " + m_sPath + " is damaged: " + sqlite3_errmsg(m_pDb);
    } else if (nPrimary == SQLITE_BUSY || nPrimary == SQLITE_LOCKED) {
      throw HostError("catalog " + m_sPath +
                          " is busy: another zksnap is using it; try again",
                      kExitBusy);
    } else if (nPrimary == SQLITE_READONLY) {
      sMessage = "catalog " + m_sPath + " is read-only";
    }
    throw HostError(sMessage);
  }

  sqlite3* m_pDb;
  sqlite3_stmt* m_pStmt = nullptr;
  const std::string& m_sPath;
};

// True when nobody may write the file or directory: its mode has no write
// bit, or this process is refused write access. (Root passes access(); the
// mode bits still say the owner meant it read-only.)
bool IsReadOnly(const std::string& sPath, const struct stat& oStat) {
  if ((oStat.st_mode & 0222) == 0) return true;
  return access(sPath.c_str(), W_OK) != 0 &&
         (errno == EACCES || errno == EROFS);
}

void MakeDirectories(const std::string& sDir) {
  std::string sSoFar;
  size_t nPos = 0;
  while (nPos != std::string::npos) {
    nPos = sDir.find('/', nPos + 1);
    sSoFar = sDir.substr(0, nPos);
    if (sSoFar.empty()) continue;
    if (mkdir(sSoFar.c_str(), 0700) != 0 && errno != EEXIST) {
      throw HostError("cannot create state directory " + sDir + ": " +
                      std::strerror(errno));
    }
  }
}

}  // namespace

std::unique_ptr<Catalog> Catalog::Open(const std::string& sStateDir,
                                       bool bCreate, int nBusyTimeoutMs,
                                       bool bReading) {
  if (sStateDir.empty()) throw HostError("the state directory is empty");
  struct stat oStat;
  if (stat(sStateDir.c_str(), &oStat) != 0) {
    if (errno != ENOENT || !bCreate) {
      if (errno == ENOENT) {
        throw HostError("no state directory " + sStateDir +
                        " (run 'zksnap init' first, or give --state)");
      }
      throw HostError("cannot use state directory " + sStateDir + ": " +
                      std::strerror(errno));
    }
    MakeDirectories(sStateDir);
    if (stat(sStateDir.c_str(), &oStat) != 0) {
      throw HostError("cannot use state directory " + sStateDir + ": " +
                      std::strerror(errno));
    }
  }
  if (!S_ISDIR(oStat.st_mode)) {
    throw HostError("state directory " + sStateDir + " is not a directory");
  }
  // A reading command works on a read-only state directory (or catalog):
  // it opens the file immutable, so SQLite writes nothing beside it.
  bool bImmutable = false;
  if (IsReadOnly(sStateDir, oStat)) {
    if (!bReading) {
      throw HostError("state directory " + sStateDir + " is read-only");
    }
    bImmutable = true;
  }
  const std::string sPath = sStateDir + "/" + kFileName;
  const bool bExists = stat(sPath.c_str(), &oStat) == 0;
  if (!bExists && !bCreate) {
    throw HostError("no catalog in " + sStateDir +
                    " (run 'zksnap init' first, or give --state)");
  }
  if (bExists && !S_ISREG(oStat.st_mode)) {
    throw HostError("catalog " + sPath + " is not a regular file");
  }
  if (bExists && IsReadOnly(sPath, oStat)) {
    if (!bReading) throw HostError("catalog " + sPath + " is read-only");
    bImmutable = true;
  }

  sqlite3* pDb = nullptr;
  int nFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX |
               (bCreate ? SQLITE_OPEN_CREATE : 0);
  std::string sOpen = sPath;
  if (bImmutable) {
    nFlags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
    sOpen = "file:";
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : sPath) {
      if (c == '%' || c == '?' || c == '#' || c < 0x20 || c >= 0x7f) {
        sOpen += '%';
        sOpen += kHex[c >> 4];
        sOpen += kHex[c & 0xf];
      } else {
        sOpen += static_cast<char>(c);
      }
    }
    sOpen += "?immutable=1";
  }
  const mode_t nOldMask = umask(077);  // the file holds passwords
  int rc = sqlite3_open_v2(sOpen.c_str(), &pDb, nFlags, nullptr);
  umask(nOldMask);
  if (rc != SQLITE_OK) {
    std::string sWhy = pDb != nullptr ? sqlite3_errmsg(pDb) : "out of memory";
    sqlite3_close(pDb);
    throw HostError("cannot open catalog " + sPath + ": " + sWhy);
  }
  std::unique_ptr<Catalog> pCatalog(new Catalog(pDb, sPath));
  sqlite3_busy_timeout(pDb, nBusyTimeoutMs < 0 ? 0 : nBusyTimeoutMs);
  sqlite3_extended_result_codes(pDb, 1);

  int64_t nVersion = 0;
  int64_t nTables = 0;
  {
    Stmt oVersion(pDb, "PRAGMA user_version", pCatalog->m_sPath);
    if (oVersion.Step()) nVersion = oVersion.Int(0);
    Stmt oTables(pDb, "SELECT count(*) FROM sqlite_master", pCatalog->m_sPath);
    if (oTables.Step()) nTables = oTables.Int(0);
  }
  if (nVersion > kSchemaVersion) {
    throw HostError("catalog " + sPath + " has schema version " +
                    std::to_string(nVersion) +
                    ", newer than this zksnap reads (" +
                    std::to_string(kSchemaVersion) + "); use a newer zksnap");
  }
  if (nVersion == 0) {
    if (nTables != 0) {
      throw HostError("catalog " + sPath + " is not a zksnap catalog");
    }
    if (!bCreate) {
      throw HostError("catalog " + sPath +
                      " is empty (run 'zksnap init' first)");
    }
    pCatalog->CreateSchema();
  }
  if (!bImmutable) pCatalog->Exec("PRAGMA foreign_keys = ON");
  return pCatalog;
}

Catalog::Catalog(sqlite3* pDb, std::string sPath)
    : m_pDb(pDb), m_sPath(std::move(sPath)) {}

Catalog::~Catalog() {
  if (m_bInTxn) sqlite3_exec(m_pDb, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(m_pDb);
}

void Catalog::Fail(const std::string& sWhat, int nRc) const {
  const int nPrimary = nRc & 0xff;
  if (nPrimary == SQLITE_BUSY || nPrimary == SQLITE_LOCKED) {
    throw HostError("catalog " + m_sPath +
                        " is busy: another zksnap is using it; try again",
                    kExitBusy);
  }
  if (nPrimary == SQLITE_CORRUPT || nPrimary == SQLITE_NOTADB) {
    throw HostError("catalog " + m_sPath +
                    " is damaged: " + sqlite3_errmsg(m_pDb));
  }
  if (nPrimary == SQLITE_READONLY) {
    throw HostError("catalog " + m_sPath + " is read-only");
  }
  throw HostError("catalog " + m_sPath + ": " + sWhat + ": " +
                  sqlite3_errmsg(m_pDb));
}

void Catalog::Exec(const char* pszSql) {
  int rc = sqlite3_exec(m_pDb, pszSql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(pszSql, rc);
}

void Catalog::CreateSchema() {
  // WAL: readers never wait for a writer; a killed writer leaves nothing
  // behind but uncommitted frames, which are ignored.
  Exec("PRAGMA journal_mode = WAL");
  Begin(Txn::kWrite);
  // Two 'zksnap init' at once: the second finds the schema made.
  int64_t nVersion = 0;
  {
    Stmt oVersion(m_pDb, "PRAGMA user_version", m_sPath);
    if (oVersion.Step()) nVersion = oVersion.Int(0);
  }
  if (nVersion == 0) {
    Exec(kSchema);
    Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
  }
  Commit();
}

void Catalog::Begin(Txn eTxn) {
  Exec(eTxn == Txn::kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
  m_bInTxn = true;
  m_bWriteTxn = eTxn == Txn::kWrite;
}

void Catalog::Commit() {
  Exec("COMMIT");
  m_bInTxn = false;
  if (m_bWriteTxn) g_nCatalogCommitted = 1;
}

void Catalog::Rollback() {
  if (!m_bInTxn) return;
  m_bInTxn = false;
  Exec("ROLLBACK");
}

uint64_t Catalog::NextJobId() {
  Stmt oGet(m_pDb, "SELECT value FROM meta WHERE key = 'job_counter'", m_sPath);
  uint64_t nLast = 0;
  if (oGet.Step()) nLast = std::stoull(oGet.Text(0));
  const uint64_t nNext = nLast + 1;
  Stmt oSet(m_pDb, "UPDATE meta SET value = ?1 WHERE key = 'job_counter'",
            m_sPath);
  oSet.Bind(1, std::to_string(nNext)).Run();
  return nNext;
}

// ---- Arrays ---------------------------------------------------------------

namespace {

ArrayRow ReadArray(sqlite3* pDb, Stmt& o, const std::string& sPath) {
  ArrayRow r;
  r.sName = o.Text(0);
  r.sVendor = o.Text(1);
  r.sArrayId = o.Text(2);
  r.sControlHost = o.Text(3);
  r.sUser = o.Text(4);
  r.sPassword = o.Text(5);
  r.sEngine = o.Text(6);
  Stmt oAddr(pDb,
             "SELECT address FROM array_addresses WHERE array_name = ?1 "
             "ORDER BY rowid",
             sPath);
  oAddr.Bind(1, r.sName);
  while (oAddr.Step()) r.vAddresses.push_back(oAddr.Text(0));
  return r;
}

const char kArrayColumns[] =
    "SELECT name, vendor, array_id, control_host, user_name, password, "
    "engine FROM arrays ";

}  // namespace

std::vector<ArrayRow> Catalog::Arrays() {
  std::vector<ArrayRow> v;
  Stmt o(m_pDb, (std::string(kArrayColumns) + "ORDER BY name").c_str(),
         m_sPath);
  while (o.Step()) v.push_back(ReadArray(m_pDb, o, m_sPath));
  return v;
}

std::optional<ArrayRow> Catalog::FindArray(const std::string& sNameOrAddress) {
  Stmt o(m_pDb,
         (std::string(kArrayColumns) +
          "WHERE name = ?1 OR name = (SELECT array_name FROM array_addresses "
          "WHERE address = ?1)")
             .c_str(),
         m_sPath);
  o.Bind(1, sNameOrAddress);
  if (!o.Step()) return std::nullopt;
  return ReadArray(m_pDb, o, m_sPath);
}

void Catalog::AddArray(const ArrayRow& a) {
  std::vector<std::string> vNames = a.vAddresses;
  vNames.insert(vNames.begin(), a.sName);
  for (const std::string& sName : vNames) {
    std::optional<ArrayRow> oTaken = FindArray(sName);
    if (oTaken) {
      throw HostError("\"" + sName + "\" already names array " + oTaken->sName);
    }
  }
  Stmt o(m_pDb,
         "INSERT INTO arrays(name, vendor, array_id, control_host, user_name, "
         "password, engine) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
         m_sPath);
  o.Bind(1, a.sName)
      .Bind(2, a.sVendor)
      .Bind(3, a.sArrayId)
      .Bind(4, a.sControlHost)
      .Bind(5, a.sUser)
      .Bind(6, a.sPassword)
      .Bind(7, a.sEngine)
      .Run();
  for (size_t i = 0; i < a.vAddresses.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (a.vAddresses[j] == a.vAddresses[i]) {
        throw HostError("address " + a.vAddresses[i] + " given twice");
      }
    }
    Stmt oAddr(m_pDb,
               "INSERT INTO array_addresses(address, array_name) "
               "VALUES (?1, ?2)",
               m_sPath);
    oAddr.Bind(1, a.vAddresses[i]).Bind(2, a.sName).Run();
  }
}

void Catalog::RemoveArray(const std::string& sName) {
  Stmt o(m_pDb, "DELETE FROM arrays WHERE name = ?1", m_sPath);
  o.Bind(1, sName).Run();
  if (sqlite3_changes(m_pDb) == 0) {
    throw HostError("no array named " + sName);
  }
}

// ---- Records --------------------------------------------------------------

namespace {

const char kRecordColumns[] =
    "SELECT name, snap_group, source_device, snap_name, status, snap_device, "
    "host_identifier, bound_array, jpr_id, jpr_text, mount_source "
    "FROM records ";

RecordRow ReadRecord(sqlite3* pDb, Stmt& o, const std::string& sPath) {
  RecordRow r;
  r.sName = o.Text(0);
  r.sGroup = o.Text(1);
  r.sSourceDevice = o.Text(2);
  r.sSnapName = o.Text(3);
  r.nStatus = static_cast<int>(o.Int(4));
  r.sSnapDevice = o.Text(5);
  r.sHostIdentifier = o.Text(6);
  r.sBoundArray = o.Text(7);
  r.nJPRId = static_cast<int>(o.Int(8));
  r.sJPRText = o.Text(9);
  if (!o.IsNull(10)) r.oMountSource = static_cast<int>(o.Int(10));
  Stmt oMeta(pDb,
             "SELECT type, value FROM metadata WHERE record = ?1 ORDER BY type",
             sPath);
  oMeta.Bind(1, r.sName);
  while (oMeta.Step()) {
    r.mMetaData[static_cast<int>(oMeta.Int(0))] = oMeta.Text(1);
  }
  return r;
}

}  // namespace

std::vector<RecordRow> Catalog::Records() {
  std::vector<RecordRow> v;
  Stmt o(m_pDb, (std::string(kRecordColumns) + "ORDER BY name").c_str(),
         m_sPath);
  while (o.Step()) v.push_back(ReadRecord(m_pDb, o, m_sPath));
  return v;
}

std::optional<RecordRow> Catalog::FindRecord(const std::string& sName) {
  Stmt o(m_pDb, (std::string(kRecordColumns) + "WHERE name = ?1").c_str(),
         m_sPath);
  o.Bind(1, sName);
  if (!o.Step()) return std::nullopt;
  return ReadRecord(m_pDb, o, m_sPath);
}

void Catalog::AddRecord(const RecordRow& r) {
  if (FindRecord(r.sName)) {
    throw HostError("a record named " + r.sName + " already exists");
  }
  Stmt o(m_pDb,
         "INSERT INTO records(name, snap_group, source_device, snap_name, "
         "status, snap_device, host_identifier, bound_array, jpr_id, "
         "jpr_text, mount_source) VALUES (?1, '', '', '', 0, '', '', '', 0, "
         "'', NULL)",
         m_sPath);
  o.Bind(1, r.sName).Run();
  UpdateRecord(r);
}

void Catalog::UpdateRecord(const RecordRow& r) {
  Stmt o(m_pDb,
         "UPDATE records SET snap_group = ?2, source_device = ?3, "
         "snap_name = ?4, status = ?5, snap_device = ?6, host_identifier = ?7, "
         "bound_array = ?8, jpr_id = ?9, jpr_text = ?10, mount_source = ?11 "
         "WHERE name = ?1",
         m_sPath);
  o.Bind(1, r.sName)
      .Bind(2, r.sGroup)
      .Bind(3, r.sSourceDevice)
      .Bind(4, r.sSnapName)
      .Bind(5, r.nStatus)
      .Bind(6, r.sSnapDevice)
      .Bind(7, r.sHostIdentifier)
      .Bind(8, r.sBoundArray)
      .Bind(9, r.nJPRId)
      .Bind(10, r.sJPRText);
  if (r.oMountSource) {
    o.Bind(11, *r.oMountSource);
  } else {
    o.BindNull(11);
  }
  o.Run();
  if (sqlite3_changes(m_pDb) == 0)
    throw HostError("no record named " + r.sName);
  Stmt oClear(m_pDb, "DELETE FROM metadata WHERE record = ?1", m_sPath);
  oClear.Bind(1, r.sName).Run();
  for (const auto& oMeta : r.mMetaData) {
    Stmt oAdd(m_pDb,
              "INSERT INTO metadata(record, type, value) VALUES (?1, ?2, ?3)",
              m_sPath);
    oAdd.Bind(1, r.sName).Bind(2, oMeta.first).Bind(3, oMeta.second).Run();
  }
}

void Catalog::RemoveRecord(const std::string& sName) {
  Stmt o(m_pDb, "DELETE FROM records WHERE name = ?1", m_sPath);
  o.Bind(1, sName).Run();
  if (sqlite3_changes(m_pDb) == 0) throw HostError("no record named " + sName);
}

// ---- Job log --------------------------------------------------------------

void Catalog::AppendJobLog(const JobLogRow& r) {
  Stmt o(m_pDb,
         "INSERT INTO job_log(job_id, record, operation, level, tag, text, at) "
         "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
         m_sPath);
  o.Bind(1, static_cast<int64_t>(r.nJobId))
      .Bind(2, r.sRecord)
      .Bind(3, r.sOperation)
      .Bind(4, r.nLevel)
      .Bind(5, r.sTag)
      .Bind(6, r.sText)
      .Bind(7, r.nTime)
      .Run();
}

std::vector<JobLogRow> Catalog::JobLog(const std::string& sRecord) {
  std::vector<JobLogRow> v;
  Stmt o(m_pDb,
         "SELECT seq, job_id, record, operation, level, tag, text, at "
         "FROM job_log WHERE ?1 = '' OR record = ?1 ORDER BY seq",
         m_sPath);
  o.Bind(1, sRecord);
  while (o.Step()) {
    JobLogRow r;
    r.nSeq = o.Int(0);
    r.nJobId = static_cast<uint64_t>(o.Int(1));
    r.sRecord = o.Text(2);
    r.sOperation = o.Text(3);
    r.nLevel = static_cast<int>(o.Int(4));
    r.sTag = o.Text(5);
    r.sText = o.Text(6);
    r.nTime = o.Int(7);
    v.push_back(std::move(r));
  }
  return v;
}

// ---- Configuration --------------------------------------------------------

std::vector<ConfigRow> Catalog::Config() {
  std::vector<ConfigRow> v;
  Stmt o(m_pDb, "SELECT section, key, value FROM config ORDER BY section, key",
         m_sPath);
  while (o.Step()) v.push_back({o.Text(0), o.Text(1), o.Text(2)});
  return v;
}

std::optional<std::string> Catalog::GetConfig(const std::string& sSection,
                                              const std::string& sKey) {
  Stmt o(m_pDb, "SELECT value FROM config WHERE section = ?1 AND key = ?2",
         m_sPath);
  o.Bind(1, sSection).Bind(2, sKey);
  if (!o.Step()) return std::nullopt;
  return o.Text(0);
}

void Catalog::SetConfig(const std::string& sSection, const std::string& sKey,
                        const std::string& sValue) {
  Stmt o(m_pDb,
         "INSERT INTO config(section, key, value) VALUES (?1, ?2, ?3) "
         "ON CONFLICT(section, key) DO UPDATE SET value = excluded.value",
         m_sPath);
  o.Bind(1, sSection).Bind(2, sKey).Bind(3, sValue).Run();
}

bool Catalog::UnsetConfig(const std::string& sSection,
                          const std::string& sKey) {
  Stmt o(m_pDb, "DELETE FROM config WHERE section = ?1 AND key = ?2", m_sPath);
  o.Bind(1, sSection).Bind(2, sKey).Run();
  return sqlite3_changes(m_pDb) != 0;
}

}  // namespace zkref
