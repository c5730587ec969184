// SPDX-License-Identifier: Apache-2.0
// The tables of the simulated file server in SQLite: file servers and their
// movers, VDMs, CIFS servers and shares, file systems, NFS exports and
// checkpoints, plus the checkpoint numbering of each control host, armed
// faults, settings and the command journal.
//
// Every lookup a client command makes goes through an index, so its cost
// does not grow with the number of file systems, exports or checkpoints;
// only the listing functions read whole tables.
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
  FaultRule rule;  // rule.seen: calls it counted since it was armed
};

class FilerStore {
 public:
  explicit FilerStore(FilerDb* db) : db_(db) {}

  // The state file's name (":memory:" for the in-memory store).
  const std::string& Name() const;

  // Creates the tables of a new store (when `create` and the store is
  // empty) or checks that the store is a state file of this simulator.
  // Only reads an existing store.
  void EnsureSchema(bool create);
  // Deletes file servers, faults, settings and the journal. The checkpoint
  // numbering of each control host goes on, so no id is handed out twice.
  void Clear();

  std::vector<std::string> ServerHosts();
  bool FindServer(const std::string& host, ServerRow* out);
  // Inserts the server; its numbering goes on from the larger of
  // row.next_id and where it stood.
  void InsertServer(const ServerRow& row);
  // Removes the server and everything on it (not its numbering).
  void RemoveServer(const std::string& host);
  void SetNextId(const std::string& host, int64_t next_id);

  // Whole tables of one server, in insertion order.
  std::vector<MoverDef> Movers(const std::string& host);
  std::vector<VdmDef> Vdms(const std::string& host);
  std::vector<CifsServerDef> CifsServers(const std::string& host);
  std::vector<CifsShareDef> CifsShares(const std::string& host);
  std::vector<FileSystemDef> FileSystems(const std::string& host);
  // Every server's when `host` is empty.
  std::vector<ExportView> Exports(const std::string& host);
  // Oldest first; an empty host or fs_id matches every one.
  std::vector<CheckpointView> Checkpoints(const std::string& host,
                                          const std::string& fs_id);

  // Indexed lookups; false when there is no such row.
  bool FindMover(const std::string& host, const std::string& id);
  bool FindVdm(const std::string& host, const std::string& id, VdmDef* out);
  bool FindFileSystem(const std::string& host, const std::string& id,
                      FileSystemDef* out);
  // The file system mounted at `path` as physical mover `mover` sees it
  // (mount path, or "/root_vdm_" + VDM id + mount path for one on a VDM
  // that mover hosts).
  bool FindMountedAt(const std::string& host, const std::string& mover,
                     const std::string& path, FileSystemDef* out);
  // The file system mounted at `mount` on mover or VDM `mover_id`.
  bool FindMountOn(const std::string& host, const std::string& mover_id,
                   bool on_vdm, const std::string& mount, FileSystemDef* out);
  // Physical mover of a file system: its mover, the mover hosting its VDM,
  // or empty when its VDM is not loaded.
  std::string PhysicalMover(const std::string& host, const std::string& fs_id);
  bool FileSystemNamed(const std::string& host, const std::string& name);
  bool FindCheckpoint(const std::string& host, const std::string& id,
                      CheckpointView* out);
  bool FindCheckpointNamed(const std::string& host, const std::string& name,
                           CheckpointView* out);
  int64_t CountCheckpoints(const std::string& host, const std::string& fs_id,
                           bool writable);
  int64_t CountWritableOf(const std::string& host,
                          const std::string& baseline_id);
  // A writable checkpoint of `baseline_id` other than `except`.
  bool FindWritableOf(const std::string& host, const std::string& baseline_id,
                      const std::string& except, CheckpointView* out);
  // An export of the file system or checkpoint `id`.
  bool FindExportOf(const std::string& host, const std::string& id,
                    ExportView* out);
  // The first export of `path` on any mover.
  bool FindExportAt(const std::string& host, const std::string& path,
                    ExportView* out);
  bool FindExport(const std::string& host, const std::string& mover_id,
                  const std::string& path);
  bool FindShare(const std::string& host, const std::string& name,
                 CifsShareDef* out);
  // Names of the CIFS servers on a mover or VDM.
  std::vector<std::string> CifsServersOn(const std::string& host,
                                         const std::string& mover_id,
                                         bool on_vdm);

  void Insert(const std::string& host, const MoverDef& row);
  void Insert(const std::string& host, const VdmDef& row);
  void Insert(const std::string& host, const CifsServerDef& row);
  void Insert(const std::string& host, const CifsShareDef& row);
  // `physical_mover` as PhysicalMover() would answer.
  void Insert(const std::string& host, const FileSystemDef& row,
              const std::string& physical_mover);
  // Inserts or replaces the export of (host, mover_id, path).
  void PutExport(const ExportView& row);
  void DeleteExport(const std::string& host, const std::string& mover_id,
                    const std::string& path);
  void InsertCheckpoint(const CheckpointView& row);
  void DeleteCheckpoint(const std::string& host, const std::string& id);
  void UpdateFileSystemContent(const std::string& host, const std::string& id,
                               int64_t generation, int64_t restores);

  std::vector<FaultRow> Faults();
  // Faults armed for one command or for any command, oldest first.
  std::vector<FaultRow> FaultsFor(const std::string& command);
  void InsertFault(const FaultRule& rule);
  void SetFaultSeen(int64_t id, int64_t seen);
  void ClearFaults();

  int64_t LatencyMs();
  void SetLatencyMs(int64_t ms);

  void AppendJournal(const JournalEntry& entry);
  std::vector<JournalEntry> Journal();
  void ClearJournal();

 private:
  std::vector<FaultRow> ReadFaults(Statement& q);
  FilerDb* db_;  // borrowed
};

// Lists are stored as text joined with ","; entries never hold one.
std::string JoinList(const std::vector<std::string>& items);
std::vector<std::string> SplitList(const std::string& text);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERSTORE_H_
