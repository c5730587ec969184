// The tables of the simulated file server in SQLite: file servers and their
// movers, VDMs, CIFS servers and shares, file systems, NFS exports and
// checkpoints, plus armed faults, settings and the command journal.
//
// FilerStore borrows a FilerDb and only reads and writes rows; the rules of
// the file server live in FilerModel. Callers run every use inside one
// transaction of the FilerDb. Not thread-safe. Every failure throws
// StoreError.
#ifndef ZK_FILER_FILERSTORE_H_
#define ZK_FILER_FILERSTORE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "filer/FilerDb.h"
#include "filer/FilerTypes.h"

namespace zkfiler {

// Login and limits of one file server.
struct ServerRow {
  std::string host;
  std::string user;
  std::string password;
  Limits limits;
  int64_t next_id = 1;  // next checkpoint id to hand out
};

struct FaultRow {
  int64_t id = 0;
  FaultSpec spec;
  int64_t seen = 0;  // calls of the command since the fault was armed
};

class FilerStore {
 public:
  explicit FilerStore(FilerDb* db) : db_(db) {}

  // Creates the tables of a new store (when `create`) or checks that the
  // store is a state file of this simulator.
  void EnsureSchema(bool create);
  // Deletes every row of every table.
  void Clear();

  std::vector<std::string> ServerHosts();
  bool FindServer(const std::string& host, ServerRow* out);
  void InsertServer(const ServerRow& row);
  void RemoveServer(const std::string& host);
  void SetNextId(const std::string& host, int64_t next_id);

  std::vector<MoverDef> Movers(const std::string& host);
  std::vector<VdmDef> Vdms(const std::string& host);
  std::vector<CifsServerDef> CifsServers(const std::string& host);
  std::vector<CifsShareDef> CifsShares(const std::string& host);
  std::vector<FileSystemDef> FileSystems(const std::string& host);
  std::vector<ExportView> Exports(const std::string& host);
  // Oldest first; an empty host or fs_id matches every one.
  std::vector<CheckpointView> Checkpoints(const std::string& host,
                                          const std::string& fs_id);

  void Insert(const std::string& host, const MoverDef& row);
  void Insert(const std::string& host, const VdmDef& row);
  void Insert(const std::string& host, const CifsServerDef& row);
  void Insert(const std::string& host, const CifsShareDef& row);
  void Insert(const std::string& host, const FileSystemDef& row);
  // Inserts or replaces the export of (host, mover_id, path).
  void PutExport(const ExportView& row);
  void DeleteExport(const std::string& host, const std::string& mover_id,
                    const std::string& path);
  void InsertCheckpoint(const CheckpointView& row);
  void DeleteCheckpoint(const std::string& host, const std::string& id);
  void UpdateFileSystemContent(const std::string& host, const std::string& id,
                               int64_t generation, int64_t restores);

  std::vector<FaultRow> Faults();
  void InsertFault(const FaultSpec& spec);
  void SetFaultSeen(int64_t id, int64_t seen);
  void ClearFaults();

  int64_t LatencyMs();
  void SetLatencyMs(int64_t ms);

  void AppendJournal(const JournalEntry& entry);
  std::vector<JournalEntry> Journal();
  void ClearJournal();

 private:
  FilerDb* db_;  // borrowed
};

// Lists are stored as text joined with ","; entries never hold one.
std::string JoinList(const std::vector<std::string>& items);
std::vector<std::string> SplitList(const std::string& text);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERSTORE_H_
