// SPDX-License-Identifier: Apache-2.0
// The reference host's catalog: one SQLite file (STATE/catalog.db) holding
// the host's side of the plug-in contract.
//
//   arrays      the array management database: name, vendor name, array id,
//               control host, user, password, engine name; each array also
//               has addresses (IP addresses or further names) it is known by
//   records     one per source device: snap group, source device identifier,
//               snap name, status, snap device, host identifier, bound array,
//               last reason message, mount request source; metadata by type
//   job_log     job log lines of the records, with job id, level and tag
//   config      configuration values by section and key
//   meta        the job counter
//
// The schema version is the file's user_version; a catalog written by a
// newer zksnap is refused, never rewritten.
//
// Every command runs in one transaction: Begin(kWrite) takes the write lock
// at once (BEGIN IMMEDIATE) and waits up to the busy timeout for another
// process to finish; Commit makes everything visible at once. A process
// killed before Commit leaves the file as it was (WAL journal). A Catalog
// whose transaction is still open when it is destroyed rolls it back.
//
// Errors are thrown as HostError with the file named in the message.
// One Catalog belongs to one thread.
#ifndef ZK_REFHOST_CATALOG_H_
#define ZK_REFHOST_CATALOG_H_

#include <csignal>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace zkref {

// Set to 1 when a write transaction of this process commits (the caller may
// reset it); a signal handler reads it to tell whether the interrupted
// command's changes were saved.
extern volatile std::sig_atomic_t g_nCatalogCommitted;

struct ArrayRow {
  std::string sName;  // the name devices give the file server
  std::string sVendor;
  std::string sArrayId;
  std::string sControlHost;
  std::string sUser;
  std::string sPassword;
  std::string sEngine;
  std::vector<std::string> vAddresses;  // other names it is known by
};

struct RecordRow {
  std::string sName;   // the catalog's own name for the record
  std::string sGroup;  // snap group: the snap name the host asks for
  std::string sSourceDevice;
  std::string sSnapName;  // as the plug-in last set it
  int nStatus = -1;       // SNAP_STATUS_UNKNOWN
  std::string sSnapDevice;
  std::string sHostIdentifier;
  std::string sBoundArray;  // array name bound by SetArrayName; "" = none
  int nJPRId = 0;
  std::string sJPRText;
  std::optional<int> oMountSource;  // GetIntValue(7); absent = host fails it
  std::map<int, std::string> mMetaData;
};

struct JobLogRow {
  int64_t nSeq = 0;
  uint64_t nJobId = 0;
  std::string sRecord;
  std::string sOperation;
  int nLevel = 0;
  std::string sTag;
  std::string sText;
  int64_t nTime = 0;  // seconds since 1970
};

struct ConfigRow {
  std::string sSection;  // "" = default section
  std::string sKey;
  std::string sValue;
};

class Catalog {
 public:
  static const int kSchemaVersion = 1;
  static const char kFileName[];  // "catalog.db"

  enum class Txn { kRead, kWrite };

  // Opens STATE/catalog.db. With bCreate the state directory and an empty
  // catalog are made when missing (an existing catalog is kept). Refuses a
  // missing directory or catalog (without bCreate), a damaged file, a newer
  // schema, and a read-only directory or file unless bReading: a reading
  // command opens such a catalog immutable (read transactions only).
  static std::unique_ptr<Catalog> Open(const std::string& sStateDir,
                                       bool bCreate, int nBusyTimeoutMs,
                                       bool bReading = false);
  ~Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  const std::string& Path() const { return m_sPath; }

  // REQUIRES: no transaction open.
  void Begin(Txn eTxn);
  // REQUIRES: a transaction open.
  void Commit();
  void Rollback();

  // ---- Job counter ----
  // The next job id (one above the last); the caller's transaction keeps it.
  uint64_t NextJobId();

  // ---- Arrays ----
  std::vector<ArrayRow> Arrays();
  // By name or by one of its addresses.
  std::optional<ArrayRow> FindArray(const std::string& sNameOrAddress);
  // Refuses a name or address already taken by another array.
  void AddArray(const ArrayRow& oArray);
  void RemoveArray(const std::string& sName);

  // ---- Records ----
  std::vector<RecordRow> Records();  // sorted by name
  std::optional<RecordRow> FindRecord(const std::string& sName);
  void AddRecord(const RecordRow& oRecord);  // refuses a taken name
  // Replaces every field and the metadata of an existing record.
  void UpdateRecord(const RecordRow& oRecord);
  void RemoveRecord(const std::string& sName);  // with its job log

  // ---- Job log ----
  void AppendJobLog(const JobLogRow& oRow);  // nSeq is assigned
  // Every line, or those of one record, oldest first.
  std::vector<JobLogRow> JobLog(const std::string& sRecord = "");

  // ---- Configuration ----
  std::vector<ConfigRow> Config();
  std::optional<std::string> GetConfig(const std::string& sSection,
                                       const std::string& sKey);
  void SetConfig(const std::string& sSection, const std::string& sKey,
                 const std::string& sValue);
  bool UnsetConfig(const std::string& sSection, const std::string& sKey);

 private:
  Catalog(sqlite3* pDb, std::string sPath);
  void Exec(const char* pszSql);
  void CreateSchema();
  [[noreturn]] void Fail(const std::string& sWhat, int nRc) const;

  sqlite3* m_pDb;
  std::string m_sPath;
  bool m_bInTxn = false;
  bool m_bWriteTxn = false;
};

}  // namespace zkref

#endif  // ZK_REFHOST_CATALOG_H_
