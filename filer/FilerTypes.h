// SPDX-License-Identifier: Apache-2.0
// Value types of the simulated file server: the description of a file server
// (what a layout file or the C++ builder creates), the views that inspection
// helpers return, armed faults and journal entries.
//
// All types are plain values owned by whoever holds them; none of them refers
// to the store. Any thread may use its own copies.
#ifndef ZK_FILER_FILERTYPES_H_
#define ZK_FILER_FILERTYPES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/ManageCelerra.h"

namespace zkfiler {

// Per file server limits. The defaults are those of the real file servers.
struct Limits {
  int ro_per_fs = 96;       // read-only checkpoints of one file system
  int rw_per_baseline = 1;  // writable checkpoints of one read-only one
  int rw_per_fs = 16;       // writable checkpoints of one file system
  int max_name_len = 240;   // checkpoint name length
};

struct MoverDef {
  std::string id;                       // e.g. "2"
  std::string name;                     // e.g. "server_2"
  std::vector<std::string> interfaces;  // IP addresses
};

// A virtual data mover; its file systems appear on the hosting mover under
// "/root_vdm_" + id + mount path. An empty mover_id means not loaded.
struct VdmDef {
  std::string id;
  std::string name;
  std::string mover_id;
};

struct CifsServerDef {
  std::string name;
  std::string mover_id;  // data mover id, or VDM id when on_vdm
  bool on_vdm = false;
  std::string interfaces;  // free text holding the server's IP addresses
};

struct CifsShareDef {
  std::string name;
  std::string fs_id;
  std::string mover_id;  // data mover id, or VDM id when on_vdm
  bool on_vdm = false;
  std::string path;  // path of the share inside the file system
};

struct FileSystemDef {
  std::string id;
  std::string name;
  eCelerraStgType storage_type = CELERRA_STG_UXFS;
  std::string storage_extra;
  std::string save_volume;
  std::string mount_path;  // mount point, e.g. "/fs1"
  std::string mover_id;    // data mover id, or VDM id when on_vdm
  bool on_vdm = false;
  int64_t generation = 1;  // content generation; restores replace it
  int64_t restores = 0;    // number of restores so far
  // Only when installed: a directory whose contents become the file
  // system's files ("" keeps the files it has, or none).
  std::string data_seed;
};

// An NFS export on a physical data mover.
struct ExportDef {
  std::string path;
  std::string mover_id;
  std::vector<std::string> access_hosts;
  std::vector<std::string> rw_hosts;
  std::vector<std::string> root_hosts;
};

// A checkpoint present from the start. Writable when baseline_name names a
// read-only checkpoint of the same file system (declared before it). An empty
// id lets the file server number it.
struct CheckpointDef {
  std::string name;
  std::string fs_id;
  std::string id;
  std::string baseline_name;
};

// One file server, reached through its control host. Install() (FilerSim.h)
// replaces any file server of the same control host.
struct ServerLayout {
  ServerLayout() = default;
  ServerLayout(std::string host, std::string user_name, std::string pass)
      : control_host(std::move(host)),
        user(std::move(user_name)),
        password(std::move(pass)) {}

  // Chainable helpers for the common cases; the vectors can also be filled
  // directly.
  ServerLayout& Mover(const std::string& id,
                      std::vector<std::string> interfaces = {});
  ServerLayout& Vdm(const std::string& id, const std::string& mover_id);
  ServerLayout& FileSystem(const std::string& id, const std::string& name,
                           const std::string& mover_id,
                           const std::string& mount_path, bool on_vdm = false);
  ServerLayout& CifsServer(const std::string& name, const std::string& mover_id,
                           const std::string& interfaces, bool on_vdm = false);
  ServerLayout& CifsShare(const std::string& name, const std::string& fs_id,
                          const std::string& mover_id, bool on_vdm = false);
  ServerLayout& Export(const std::string& path, const std::string& mover_id,
                       std::vector<std::string> hosts = {});
  ServerLayout& Checkpoint(const std::string& name, const std::string& fs_id,
                           const std::string& baseline_name = "");

  std::string control_host;
  std::string user;
  std::string password;
  Limits limits;
  std::vector<MoverDef> movers;
  std::vector<VdmDef> vdms;
  std::vector<CifsServerDef> cifs_servers;
  std::vector<CifsShareDef> cifs_shares;
  std::vector<FileSystemDef> file_systems;
  std::vector<ExportDef> exports;
  std::vector<CheckpointDef> checkpoints;
};

struct CheckpointView {
  std::string control_host;
  std::string id;
  std::string name;
  std::string fs_id;
  std::string baseline_id;  // empty for a read-only checkpoint
  bool writable = false;
  int64_t generation = 0;  // content generation it holds
};

struct ExportView {
  std::string control_host;
  std::string path;
  std::string mover_id;
  std::string fs_id;  // file system or checkpoint id behind the path
  std::vector<std::string> access_hosts;
  std::vector<std::string> rw_hosts;
  std::vector<std::string> root_hosts;
};

enum class FaultMode {
  kAlways,  // every call
  kNth,     // only the nth call after arming
  kFrom,    // the nth call after arming and every later one
};

// The command name of a fault that counts and fails every command,
// whatever its name: with kFrom N, the Nth command after arming and every
// later one fail, as if the host had stopped there.
constexpr const char* kAnyCommand = "*";

// Makes a command fail with `error`. Empty fields of `error` take the texts
// of an injected fault (message code 13958643799); a zero status takes its
// status.
//
// With `lost_reply` the command is not refused: it runs and commits exactly
// as it would without the fault, but the client is told it failed, as when
// the control station's reply times out; empty fields of `error` then take
// the texts of a lost reply (message code 13958643715). A command refused
// on its own still answers with its own refusal.
struct FaultRule {
  std::string command;       // a name of KnownCommands() or kAnyCommand
  std::string control_host;  // empty: any control host
  FaultMode mode = FaultMode::kAlways;
  int64_t n = 1;
  CelerraError error;
  int64_t seen = 0;         // calls counted so far (ListFaults fills it)
  bool lost_reply = false;  // the command takes effect; its reply is lost
};

// One command as the file server received it. Never holds the password.
struct JournalEntry {
  int64_t seq = 0;
  int64_t pid = 0;
  uint64_t job_id = 0;
  std::string control_host;
  std::string user;
  std::string command;
  std::string args;  // "key=value" pairs separated by blanks
  bool ok = false;
  std::string message_code;  // of the refusal; empty on success
  // The command took effect (ok) but an armed fault lost its reply: the
  // client was told it failed.
  bool reply_lost = false;
};

}  // namespace zkfiler

#endif  // ZK_FILER_FILERTYPES_H_
