// SPDX-License-Identifier: Apache-2.0
// What the NFS serving serves, as its caller gives it: the exports, each
// with the directory holding its files, all below one data directory. The
// serving knows nothing of where they come from (for `zkfiler serve`, the
// simulated file server's state file); it asks again while it runs, to
// follow their changes.
#ifndef ZK_NFSSERVE_EXPORTSOURCE_H_
#define ZK_NFSSERVE_EXPORTSOURCE_H_

#include <string>
#include <vector>

namespace zkfiler {

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

// The exports to serve. Called from the serving thread only.
class ExportSource {
 public:
  virtual ~ExportSource() = default;
  // The directory every export's directory lies in; "" with why not in
  // `*why` (words for the user) when there is none.
  virtual std::string DataRoot(std::string* why) = 0;
  // Where the server's run directory goes: it is made as
  // RunDirBase() + ".serve-XXXXXX".
  virtual std::string RunDirBase() = 0;
  // Every export to serve now, in order; false with why in `*why` when
  // they cannot be read now (busy: the caller may ask again).
  virtual bool Exports(std::vector<ServedExport>* out, std::string* why) = 0;
};

}  // namespace zkfiler

#endif  // ZK_NFSSERVE_EXPORTSOURCE_H_
