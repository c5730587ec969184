// SPDX-License-Identifier: Apache-2.0
// Files of the simulated file server as users and tests see them: put, get,
// list and remove files in the data of a file system or checkpoint, and the
// exports with the directory each one serves (what `zkfiler serve` serves).
//
// A file system or checkpoint is named by name or id, on the control host
// given (or on the only one holding that name when none is given). Paths
// are absolute inside it ("/a/b.txt"); a path with an empty, "." or ".."
// component, or one that passes a symbolic link, is refused, so no path
// leaves the file system. Files are written whole (a temporary file renamed
// into place), by default owned by the caller with mode 0644; directories
// made on the way get the same owner and mode 0755. Writing needs a file
// system or a writable checkpoint.
//
// Every function runs under the store's lock in one transaction (a write
// transaction for changes, so it never interleaves with a checkpoint being
// copied, also in another process) and needs a state file: the in-memory
// store keeps no files.
#ifndef ZK_FILER_FILERFILES_H_
#define ZK_FILER_FILERFILES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "nfsserve/ExportSource.h"

namespace zkfiler {

struct DataEntry {
  std::string name;
  bool is_dir = false;
  bool is_link = false;
  int64_t size = 0;
};

// Owner and mode of a file PutData writes.
struct PutOptions {
  int64_t uid = -1;  // -1: the caller's (effective) user and group
  int64_t gid = -1;
  uint32_t mode = 0644;  // permission bits only (0 to 0777)
};
// Reads the next bytes of a content into `buf`: their number, 0 at the
// end, -1 on error with errno set.
using DataSource = std::function<int64_t(char* buf, size_t size)>;
// Takes the next bytes of a file read; false stops the read.
using DataSink = std::function<bool(const char* data, size_t size)>;

Status PutData(const std::string& host, const std::string& fs,
               const std::string& path, const std::string& content,
               const PutOptions& options = PutOptions());
// Writes the content `source` gives, in bounded memory.
Status PutDataFrom(const std::string& host, const std::string& fs,
                   const std::string& path, const DataSource& source,
                   const PutOptions& options = PutOptions());
Status GetData(const std::string& host, const std::string& fs,
               const std::string& path, std::string* content);
// Gives the file's bytes to `sink` piece by piece, in bounded memory. A
// sink that returns false ends the read with an error.
Status GetDataTo(const std::string& host, const std::string& fs,
                 const std::string& path, const DataSink& sink);
// Entries of a directory sorted by name (or the one file `path` names).
Status ListData(const std::string& host, const std::string& fs,
                const std::string& path, std::vector<DataEntry>* out);
// Removes a file, or a directory with everything in it; not "/" itself.
Status RemoveData(const std::string& host, const std::string& fs,
                  const std::string& path);

// The data directory of the state file; empty for the in-memory store.
std::string DataRoot();

// The exports of the state file in use, for the NFS serving: every export
// of every file server, in order, with the data directory of what lies at
// its path; the run directory goes beside the state file.
class StateFileExports : public ExportSource {
 public:
  std::string DataRoot(std::string* why) override;
  std::string RunDirBase() override;
  bool Exports(std::vector<ServedExport>* out, std::string* why) override;
};

}  // namespace zkfiler

#endif  // ZK_FILER_FILERFILES_H_
