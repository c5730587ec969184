// SPDX-License-Identifier: Apache-2.0
// `zkfiler serve`: serves every NFS export of the simulated file server over
// real NFS. Runs nfs-ganesha (VFS backend, NFSv4 only, bound to 127.0.0.1)
// in the foreground with a configuration, log, pid file and recovery
// directory of its own in a run directory beside the state file, and keeps
// its exports in step with what its ExportSource gives (ExportSource.h):
// exports made or removed while it runs (CreateNFSShare, DeleteNFSShare, a
// load) are applied by rewriting the configuration and sending the server
// SIGHUP. Sees nothing of the control station: the exports come as plain
// values.
//
// Each export is served from the data directory of what lies at its path,
// at its own path (a client asks for "/fs_home"). Its host lists become the
// client rules: a host in the access, read-write or root list may mount it,
// read-write only when in the read-write list, root squashed unless in the
// root list; an export with no host lists is open to every host (read-write,
// root squashed). Host names are resolved through the ZK_HOSTS_FILE hosts
// file first, then the system resolver (IPv4). Everything written into the
// configuration passes the rule of ServeRules.h first, and what serve
// reports (serving, each export, reloaded) is what the server's own log
// confirmed.
#ifndef ZK_NFSSERVE_FILERSERVE_H_
#define ZK_NFSSERVE_FILERSERVE_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "nfsserve/ExportSource.h"

namespace zkfiler {

struct ServeOptions {
  int port = 2049;
};

// Export ids of the server's configuration, kept across reloads: an export
// keeps its id while its key (control host, mover, path, directory and the
// identity of that directory) stays, so a reload changes only what changed,
// and a directory replaced under an export (a revert, a new writable copy
// at the same path) is a new export to the server, which then serves the
// new directory rather than the old one it holds open. Ids are 1 to 65535;
// an id given up rests for one configuration before it is handed out again,
// since the server refuses an id whose path changed.
class ExportIds {
 public:
  // The id of `key` in the configuration being built; -1 when none is left.
  int Assign(const std::string& key);
  // Ends a configuration: keys not assigned in it are forgotten.
  void EndBuild();

 private:
  std::map<std::string, int> live_, building_;
  std::set<int> resting_;  // given up by the last configuration
  std::set<int> taken_;    // live, resting and assigned in this build
  int cursor_ = 1;         // no free id below it in this build
};

// One EXPORT block of a written configuration.
struct ConfiguredExport {
  std::string shown;  // "export PATH of mover M on HOST", for messages
  int id = 0;
  std::string path;                   // Pseudo
  std::string dir;                    // Path
  int first_line = 0, last_line = 0;  // of the block in the configuration
};

struct GaneshaSettings {
  int port = 2049;
  std::string plugins_dir;
  std::string recovery_dir;
};

// The ganesha configuration for `exports`. `identity` gives each data
// directory's identity (device and inode) for its export's id; a directory
// missing from it counts as one without. Every export path, directory and
// host address is checked with ServedTextProblem first: an export that
// fails it, one whose path another export already takes, or one with a
// host entry that is refused or resolves to a refused address, is left
// out, with a line in `warnings` saying which and why (a host that does
// not resolve is left out of its list, also with a warning). `written`
// receives the exports written. Empty when a setting itself fails the rule
// (`warnings` says why).
std::string GaneshaConfig(const GaneshaSettings& settings,
                          const std::vector<ServedExport>& exports,
                          const std::map<std::string, std::string>& identity,
                          ExportIds* ids, std::vector<std::string>* warnings,
                          std::vector<ConfiguredExport>* written);

// What the server's log says about the configuration it read last, from
// the log text written since it was (re)started or sent SIGHUP.
struct LogVerdict {
  bool done = false;      // the log says it finished reading it
  bool accepted = false;  // ... and took it (a reload may be refused whole)
  std::string refusal;    // why it refused it, from the log
  std::set<int> taken;    // ids of the exports it serves from it
  std::map<int, std::string> failed;  // ids it could not serve, and why
};
// `reload`: the text follows a SIGHUP; else a start. `exports` is what was
// written (for matching the log's paths and configuration lines).
LogVerdict ReadServerLog(const std::string& text, bool reload,
                         const std::vector<ConfiguredExport>& exports);

// Opens `dir`, which must lie below the data directory `root`, one
// component at a time from `root` without following symbolic links,
// making missing directories on the way (owner, group and permissions of
// the directory they are made in). "" and the directory's identity
// ("DEV:INODE") in `*identity`; else why not.
std::string OpenExportDir(const std::string& root, const std::string& dir,
                          std::string* identity);

// A port on 127.0.0.1 that nothing listens on now (for `serve --port`);
// -1 when none can be found.
int FreeLoopbackPort();

// Empty when `serve` can run here; else why not (not root, nfs-ganesha
// missing), in words for the user.
std::string ServeCannotRun();

// Runs the server for the exports of `source` until SIGINT or SIGTERM;
// returns the exit status (0, or 1 with a message on stderr: not root,
// ganesha missing, no data directory (no state file), the server failed to
// start or died).
int Serve(const ServeOptions& options, ExportSource& source);

}  // namespace zkfiler

#endif  // ZK_NFSSERVE_FILERSERVE_H_
