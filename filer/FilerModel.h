// SPDX-License-Identifier: Apache-2.0
// The rules of the simulated file server: what each client command does to
// one file server's state and when it is refused.
//
// Every function works on the rows of one file server (`server`, already
// logged into) through a FilerStore inside the caller's transaction, and
// refuses by throwing Refusal (FilerErrors.h) before it changes anything.
// Not thread-safe on its own; FilerRuntime serialises the calls.
//
// Paths as a data mover sees them: a file system on a mover at its mount
// path; a file system on a VDM at "/root_vdm_" + VDM id + mount path on the
// mover hosting the VDM; a checkpoint at "/" + its name on the mover of its
// file system (the hosting mover for a file system on a VDM).
#ifndef ZK_FILER_FILERMODEL_H_
#define ZK_FILER_FILERMODEL_H_

#include <list>
#include <string>
#include <vector>

#include "filer/FilerStore.h"
#include "host/ManageCelerra.h"

namespace zkfiler {
namespace model {

struct ShareInfo {
  std::string fs_id;
  bool on_vdm = false;
  std::string mover_id;
  std::string path;
  std::vector<std::string> cifs_servers;  // names of the servers serving it
};

// Refuses a checkpoint name the file server would not take (empty, too
// long, characters outside [A-Za-z0-9._-], all digits).
void CheckCheckpointName(const std::string& name, const Limits& limits);

// True when a "/"-separated component of `path` is "." or "..".
bool HasDotComponent(const std::string& path);

// Id of the file system or checkpoint that `path` lies in on physical mover
// `mover_id`; empty when nothing there holds it. Costs one indexed lookup
// per component of `path`.
std::string ResolvePath(FilerStore& store, const std::string& host,
                        const std::string& mover_id, const std::string& path);

std::string CreateReadOnly(FilerStore& store, const ServerRow& server,
                           const std::string& fs_id, eCelerraStgType type,
                           const std::string& extra, const std::string& name);
std::string CreateWritable(FilerStore& store, const ServerRow& server,
                           const std::string& fs_id, eCelerraStgType type,
                           const std::string& extra, const std::string& name,
                           const std::string& baseline_id);
// With `with_baseline`, `id` must be a writable checkpoint of `baseline_id`;
// both go. Without, `baseline_id` is not looked at.
void DeleteCheckpoint(FilerStore& store, const ServerRow& server,
                      const std::string& id, const std::string& baseline_id,
                      bool with_baseline);
void Restore(FilerStore& store, const ServerRow& server,
             const std::string& name, const std::string& id,
             const std::string& fs_id);
// Every checkpoint of `fs_id`, or of the server when it is empty.
std::list<CelerraChkPtInfo> Checkpoints(FilerStore& store,
                                        const ServerRow& server,
                                        const std::string& fs_id);
FileSystemDef FileSystem(FilerStore& store, const ServerRow& server,
                         const std::string& fs_id);
ShareInfo CifsShare(FilerStore& store, const ServerRow& server,
                    const std::string& name);
ExportView NfsExport(FilerStore& store, const ServerRow& server,
                     const std::string& path);
std::vector<CelerraCifsServer_t> CifsServers(FilerStore& store,
                                             const ServerRow& server);
CelerraMountPointsInfo_t MountPoint(FilerStore& store, const ServerRow& server,
                                    const std::string& mover_id,
                                    const std::string& path, bool on_vdm);
// Hosting mover of a VDM; empty when the VDM is not loaded on any.
std::string MoverForVdm(FilerStore& store, const ServerRow& server,
                        const std::string& vdm_id);
void CreateExport(FilerStore& store, const ServerRow& server,
                  const std::string& path, const std::string& mover_id,
                  const std::vector<std::string>& access,
                  const std::vector<std::string>& rw,
                  const std::vector<std::string>& root);
void DeleteExport(FilerStore& store, const ServerRow& server,
                  const std::string& path, const std::string& mover_id);
// Export path ("/" + name) of a writable checkpoint of `fs_id`, found by id,
// or by name when the id is empty.
std::string WritableExportPath(FilerStore& store, const ServerRow& server,
                               const std::string& fs_id, const std::string& id,
                               const std::string& name);

}  // namespace model
}  // namespace zkfiler

#endif  // ZK_FILER_FILERMODEL_H_
