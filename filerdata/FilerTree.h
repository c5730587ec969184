// SPDX-License-Identifier: Apache-2.0
// Trees of files of the simulated file server's data plane, walked by
// descriptor: openat from a directory's descriptor, one name at a time,
// never following a symbolic link, so a tree of any depth (far beyond
// PATH_MAX) is copied and removed, and nothing outside it is reached
// through a link placed in it.
//
// Plain functions; any thread (each call uses its own descriptors).
#ifndef ZK_FILERDATA_FILERTREE_H_
#define ZK_FILERDATA_FILERTREE_H_

#include <sys/stat.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zkfiler {
namespace data {

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

// Throws DataError "file server data: WHAT 'PATH': <errno text>".
[[noreturn]] void ThrowDataError(const std::string& what,
                                 const std::string& path, int err);
// The names in the directory `dir` but "." and ".."; `shown` names it in
// errors. Throws DataError.
std::vector<std::string> NamesIn(int dir, const std::string& shown);
// Opens the directory `path` for reading, not through a link at its end;
// -1 with errno on failure.
int OpenDir(const std::string& path);
// Gives the file or directory `fd` (made by the caller, private) the
// owner, group, mode and times of `st`, in that order (see CopyTree).
// Throws DataError when the mode cannot be set.
void ApplyAttributes(int fd, const struct stat& st, const std::string& shown);
// "/a/b" for "/a/b/c"; "/" for "/c".
std::string ParentDir(const std::string& path);

}  // namespace data
}  // namespace zkfiler

#endif  // ZK_FILERDATA_FILERTREE_H_
