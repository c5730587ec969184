// SPDX-License-Identifier: Apache-2.0
// `zkfiler serve`: serves every NFS export of the simulated file server over
// real NFS. Runs nfs-ganesha (VFS backend, NFSv4 only, bound to 127.0.0.1)
// in the foreground with a configuration, log, pid file and recovery
// directory of its own in a run directory beside the state file, and keeps
// its exports in step with the state file: exports made or removed while it
// runs (CreateNFSShare, DeleteNFSShare, a load) are applied by rewriting
// the configuration and sending the server SIGHUP.
//
// Each export is served from the data directory of what lies at its path,
// at its own path (a client asks for "/fs_home"). Its host lists become the
// client rules: a host in the access, read-write or root list may mount it,
// read-write only when in the read-write list, root squashed unless in the
// root list; an export with no host lists is open to every host (read-write,
// root squashed). Host names are resolved through the ZK_HOSTS_FILE hosts
// file first, then the system resolver (IPv4).
#ifndef ZK_FILER_FILERSERVE_H_
#define ZK_FILER_FILERSERVE_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "filer/FilerFiles.h"

namespace zkfiler {

struct ServeOptions {
  int port = 2049;
};

// Resolves a host named in an export list to IPv4 addresses (itself when it
// is one); empty when it cannot be resolved.
std::vector<std::string> ResolveExportHost(const std::string& host);

// The ganesha configuration for `exports`. `ids` keeps each export's id
// (by control host, mover and path) across calls, so a reload changes only
// what changed. Exports that cannot be served (a path another export
// already takes, a directory name ganesha cannot read) are left out, each
// with a line in `warnings`.
std::string GaneshaConfig(int port, const std::string& plugins_dir,
                          const std::string& recovery_dir,
                          const std::vector<ServedExport>& exports,
                          std::map<std::string, int>* ids,
                          std::vector<std::string>* warnings);

// A port on 127.0.0.1 that nothing listens on now (for `serve --port`);
// -1 when none can be found.
int FreeLoopbackPort();

// Empty when `serve` can run here; else why not (not root, nfs-ganesha
// missing), in words for the user.
std::string ServeCannotRun();

// Runs the server until SIGINT or SIGTERM; returns the exit status (0, or
// 1 with a message on stderr: not root, ganesha missing, no state file, the
// server failed to start or died).
int Serve(const ServeOptions& options);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERSERVE_H_
