// SPDX-License-Identifier: Apache-2.0
// Files of the simulated file server as users and tests see them: put, get,
// list and remove files in the data of a file system or checkpoint, and the
// exports with the directory each one serves.
//
// A file system or checkpoint is named by name or id, on the control host
// given (or on the only one holding that name when none is given). Paths
// are absolute inside it ("/a/b.txt"); a path with an empty, "." or ".."
// component, or one that passes a symbolic link, is refused, so no path
// leaves the file system. Files are written whole (a temporary file renamed
// into place) with mode 0644, directories made on the way with 0755.
// Writing needs a file system or a writable checkpoint.
//
// Every function runs under the store's lock in one transaction (a write
// transaction for changes, so it never interleaves with a checkpoint being
// copied, also in another process) and needs a state file: the in-memory
// store keeps no files.
#ifndef ZK_FILER_FILERFILES_H_
#define ZK_FILER_FILERFILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "filer/FilerSim.h"

namespace zkfiler {

struct DataEntry {
  std::string name;
  bool is_dir = false;
  bool is_link = false;
  int64_t size = 0;
};

Status PutData(const std::string& host, const std::string& fs,
               const std::string& path, const std::string& content);
Status GetData(const std::string& host, const std::string& fs,
               const std::string& path, std::string* content);
// Entries of a directory sorted by name (or the one file `path` names).
Status ListData(const std::string& host, const std::string& fs,
                const std::string& path, std::vector<DataEntry>* out);
// Removes a file, or a directory with everything in it; not "/" itself.
Status RemoveData(const std::string& host, const std::string& fs,
                  const std::string& path);

// An NFS export and the directory holding its files.
struct ServedExport {
  std::string control_host;
  std::string mover_id;
  std::string path;  // the export path, also the path clients ask for
  std::string dir;   // data directory of what lies at `path`
  std::vector<std::string> access_hosts;
  std::vector<std::string> rw_hosts;
  std::vector<std::string> root_hosts;
};
// Every export of every file server of the state file, in order.
Status ServedExports(std::vector<ServedExport>* out);
// The data directory of the state file; empty for the in-memory store.
std::string DataRoot();

}  // namespace zkfiler

#endif  // ZK_FILER_FILERFILES_H_
