// SPDX-License-Identifier: Apache-2.0
// The data plane of the simulated file server: the files each file system
// and checkpoint holds, kept in directories beside the state file.
//
//   <state file>.data/<control host>/fs/<file system id>/
//   <state file>.data/<control host>/ckpt/<checkpoint id>/
//
// Names are escaped (every byte outside [A-Za-z0-9._-], and a leading '.',
// becomes %XX), so no control host or id can leave its directory, and names
// starting with '.' are free for temporary directories (".tmp-PID-N").
// The in-memory store keeps no data: its root is empty and every function
// here does nothing for it.
//
// The data directory and the directories of control hosts, fs/ and ckpt/
// are made with mode 0700: only the state file's owner (and root, which
// the NFS server runs as) reaches anything below them. The files and
// directories of a file system keep their own owners and modes.
//
// Trees are copied and removed by descriptor (FilerTree.h), at any depth.
//
// A client command changes the data through one DataChanges, made by the
// caller's command frame around the command's body: copies are built
// under a temporary name beside their place and renamed into it, and are
// undone unless the command's transaction commits; removals happen after the
// commit. A process killed half-way leaves either nothing or a directory no
// row of the state names; Tidy() removes those at the next start.
//
// Sees nothing of the control station: what exists (control hosts, file
// systems, checkpoints) is given by the caller, as ids.
//
// Thread-compatible: callers hold their own lock (the runtime's, and the
// state file's write lock for anything that changes data).
#ifndef ZK_FILERDATA_FILERDATA_H_
#define ZK_FILERDATA_FILERDATA_H_

#include <functional>
#include <string>
#include <vector>

#include "filerdata/FilerTree.h"

namespace zkfiler {
namespace data {

// Directory holding the data of the state file `store_name`; empty for the
// in-memory store (":memory:") or no store.
std::string RootFor(const std::string& store_name);
std::string Escape(const std::string& name);
std::string HostDir(const std::string& root, const std::string& host);
std::string FsDir(const std::string& root, const std::string& host,
                  const std::string& fs_id);
std::string CheckpointDir(const std::string& root, const std::string& host,
                          const std::string& ckpt_id);

// The data changes of one client command.
class DataChanges {
 public:
  explicit DataChanges(std::string root) : root_(std::move(root)) {}
  ~DataChanges();  // undoes what was not committed
  DataChanges(const DataChanges&) = delete;
  DataChanges& operator=(const DataChanges&) = delete;

  const std::string& root() const { return root_; }
  // Makes `dst` a copy of `src`. Before the commit.
  void CreateCopy(const std::string& src, const std::string& dst);
  // Makes the contents of `dst` (and its owner, mode and times) exactly
  // those of `src`. `dst` stays the same directory (inode), so an NFS
  // server that serves it by handle serves the new contents at once: the
  // old entries are moved out into an aside directory and the copy's moved
  // in, one rename each; undo moves them back. Before the commit.
  void ReplaceWithCopy(const std::string& dst, const std::string& src);
  // Removes `dir` once the command has committed.
  void RemoveAfterCommit(const std::string& dir);

  // The command committed: finish (remove what goes). Never throws.
  void Committed() noexcept;
  // The command failed: undo every change, newest first. Never throws.
  void Undo() noexcept;

 private:
  std::string TempName(const std::string& beside);
  std::string root_;
  std::vector<std::function<void()>> undo_;
  std::vector<std::function<void()>> finish_;
  bool done_ = false;
};

// The DataChanges of the command running on this thread; null outside a
// command or for a store that keeps no data.
DataChanges* Active();
// Makes `changes` the active one for the lifetime of the scope.
class ActiveScope {
 public:
  explicit ActiveScope(DataChanges* changes);
  ~ActiveScope();
  ActiveScope(const ActiveScope&) = delete;
  ActiveScope& operator=(const ActiveScope&) = delete;

 private:
  DataChanges* previous_;
};

// What the state holds on one control host: the ids of its file systems
// and checkpoints, whose directories stay.
struct HostData {
  std::string host;
  std::vector<std::string> fs_ids;
  std::vector<std::string> ckpt_ids;
};

// Removes what `held` does not name (directories of control hosts, file
// systems and checkpoints that are gone) and temporary directories left by
// killed processes; with `make_dirs`, makes the directory of every file
// system and checkpoint that has none. `held` is everything the state
// holds (read inside the caller's write transaction).
void Tidy(const std::vector<HostData>& held, const std::string& root,
          bool make_dirs);

}  // namespace data
}  // namespace zkfiler

#endif  // ZK_FILERDATA_FILERDATA_H_
