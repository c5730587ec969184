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
// Everything is walked by descriptor (openat, never following a symbolic
// link), so trees of any depth are copied and removed.
//
// A client command changes the data through one DataChanges, made by the
// command frame (FilerRuntime) around the command's body: copies are built
// under a temporary name beside their place and renamed into it, and are
// undone unless the command's transaction commits; removals happen after the
// commit. A process killed half-way leaves either nothing or a directory no
// row of the state names; Tidy() removes those at the next start.
//
// Thread-compatible: callers hold the runtime's lock (and the state file's
// write lock for anything that changes data).
#ifndef ZK_FILER_FILERDATA_H_
#define ZK_FILER_FILERDATA_H_

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zkfiler {

class FilerStore;

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

// A file descriptor closed at the end of its scope (-1: none).
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&&) = delete;
};

// A file operation of the data plane failed: the text names the path, the
// number is the errno (ENOSPC when the disk is full).
class DataError : public std::runtime_error {
 public:
  DataError(const std::string& what, int err)
      : std::runtime_error(what), err_(err) {}
  int error() const { return err_; }

 private:
  int err_;
};

// What copies cost since the process started (for benchmarks and docs).
struct CopyCounters {
  int64_t files = 0;
  int64_t bytes = 0;            // bytes of regular files copied
  int64_t cloned_bytes = 0;     // of those, shared by a clone (FICLONE)
  int64_t offloaded_bytes = 0;  // copied in the kernel (copy_file_range)
};
CopyCounters Counters();

// Copies the tree `src` (a missing `src` copies as empty) to `dst`, which
// must not exist, as `cp -a` does: regular files (cloned when the file
// system can, else copied in the kernel, else read and written),
// directories and symbolic links (as links), with their owners, groups,
// modes and times. A file is made private (0600) and filled, then given
// its owner, then its mode: where the owner cannot be kept (not root), the
// copy stays the caller's and loses its setuid and setgid bits, so a copy
// never grants more than its source did. Devices, pipes and sockets are
// not copied. Throws DataError naming the path on failure; `dst` may then
// be half made.
void CopyTree(const std::string& src, const std::string& dst);
// Removes a tree; a missing one is fine. Never throws.
void RemoveTree(const std::string& path) noexcept;
// Removes `name` in the directory `dir` and everything below it, by
// descriptor at any depth, never following a link. False when something
// stays (it was moved meanwhile, or could not be removed). Never throws.
bool RemoveAt(int dir, const std::string& name) noexcept;
// Makes the directory `path` and its missing parents: the parents with
// mode 0700, `path` itself with `mode`. Throws DataError.
void MakeDirs(const std::string& path, unsigned mode = 0700);

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

// Removes what no row of the store names (directories of control hosts,
// file systems and checkpoints that are gone) and temporary directories
// left by killed processes; with `make_dirs`, makes the directory of every
// file system and checkpoint that has none. Inside a write transaction.
void Tidy(FilerStore& store, const std::string& root, bool make_dirs);

}  // namespace data
}  // namespace zkfiler

#endif  // ZK_FILER_FILERDATA_H_
