// SPDX-License-Identifier: Apache-2.0
// The simulated file server's own C++ API: which store backs the file servers
// of this process, how file servers are created, fault injection, latency,
// the command journal and inspection helpers for tests.
//
// The state lives in one store per process, shared by every ManageCelerra
// client of the process:
//   - an in-memory store (UseInMemoryStore), private to the process;
//   - a SQLite state file (UseStateFile/CreateStateFile), shared by every
//     process that opens it. Armed faults, the latency and the journal live
//     in the store too, so with a state file they act across processes.
// When no store was chosen, the first command opens the state file named by
// ZK_FILER_DB.
//
// Every function is thread-safe: each runs as one transaction on the store.
// A function that fails returns a non-ok Status whose text names the cause
// (and the state file when the store itself fails). No text ever holds a
// password.
#ifndef ZK_FILER_FILERSIM_H_
#define ZK_FILER_FILERSIM_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "filer/FilerTypes.h"

namespace zkfiler {

class Status {
 public:
  Status() = default;
  static Status OK() { return Status(); }
  static Status Error(std::string message) {
    return Status(std::move(message));
  }
  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }
  std::string ToString() const { return ok() ? "OK" : message_; }

 private:
  explicit Status(std::string message)
      : failed_(true), message_(std::move(message)) {}
  bool failed_ = false;
  std::string message_;
};

// --- Store selection -------------------------------------------------------

// Switches this process to a new, empty in-memory store.
Status UseInMemoryStore();
// State files are named by plain paths; ":memory:" and "file:" URIs are
// refused. Opening one never writes to it, and a state file that cannot be
// written serves every function that only reads.

// Switches this process to an existing state file. A missing, empty,
// corrupt or foreign file (another program's SQLite database included) is
// refused, unchanged, with its name in the text.
Status UseStateFile(const std::string& path);
// Creates the state file when missing (an existing one keeps its content)
// and switches this process to it. A new file appears whole: never half
// made, even with other processes creating it at the same time.
Status CreateStateFile(const std::string& path);
// Loads the layout file `layout_path` into the state file `db_path` in one
// transaction, emptying the state first (as Reset does) when `reset` is
// set. All or nothing: a failed load leaves an existing state file as it
// was and creates no new one. Afterwards this process uses `db_path`.
Status LoadStateFile(const std::string& db_path, const std::string& layout_path,
                     bool reset);
// Name of the current store: the state file path or ":memory:"; empty when
// none is open yet.
std::string CurrentStoreName();
// Empties the current store: file servers, faults, latency and journal. The
// checkpoint numbering of each control host goes on, so a checkpoint id is
// never handed out twice by one store.
Status Reset();
// The whole state as 'zkfiler show' prints it, read in one transaction.
Status DescribeState(std::string* out);

// --- File servers ----------------------------------------------------------

// Checks the layout (every reference resolves, names, paths and numbers are
// sound, preset checkpoints keep within the limits) and installs it,
// replacing any file server of the same control host. Checkpoint numbering
// of that control host goes on from where it stood.
Status Install(const ServerLayout& layout);
// Parses a layout file (docs/filer-layout.md) and installs every file server
// in it, all or nothing.
Status LoadLayoutFile(const std::string& path);
Status LoadLayoutText(const std::string& text,
                      const std::string& origin = "<layout>");
// Every installed file server, sorted by control host.
Status ListServers(std::vector<ServerLayout>* out);  // passwords left empty

// --- Faults, latency, journal ---------------------------------------------

// Names a fault can be armed for: the ManageCelerra commands and
// "Celerra_GetSnapDeviceNameWithManageCelerra". A fault can also be armed
// for kAnyCommand ("*", FilerTypes.h), which counts every command.
const std::vector<std::string>& KnownCommands();
// Largest call number of an --nth/--from fault, and largest latency.
constexpr int64_t kMaxFaultCall = 1000000000;
constexpr std::chrono::milliseconds kMaxLatency{60000};
// Refuses an unknown command (neither of KnownCommands() nor kAnyCommand),
// a call number outside 1..kMaxFaultCall and a control host that has no
// file server in the store. FaultRule::lost_reply arms a lost reply.
Status ArmFault(const FaultRule& fault);
Status ClearFaults();
Status ListFaults(std::vector<FaultRule>* out);
// Added to every command, after it completes; zero turns it off. At most
// kMaxLatency.
Status SetLatency(std::chrono::milliseconds latency);
Status GetLatency(std::chrono::milliseconds* out);
Status Journal(std::vector<JournalEntry>* out);
Status ResetJournal();

// Makes this process's clients answer GetChkPointsInfo without saying which
// file system each checkpoint belongs to (sPFSId left empty), as a client
// library that does not fill it would. For tests; off by default.
void SetChkptListsWithoutFs(bool without_fs);
bool ChkptListsWithoutFs();
// Makes this process's clients find a writable checkpoint's export path
// (Celerra_GetSnapDeviceNameWithManageCelerra) from its name alone, as a
// client library that ignores the id would: a stale id is then not
// refused. For tests; off by default.
void SetSnapDeviceNamesByNameOnly(bool by_name_only);
bool SnapDeviceNamesByNameOnly();

// --- Inspection ------------------------------------------------------------

// Checkpoints of one control host (every control host when empty), oldest
// first.
Status ListCheckpoints(const std::string& control_host,
                       std::vector<CheckpointView>* out);
Status ListExports(const std::string& control_host,
                   std::vector<ExportView>* out);
Status GetFileSystem(const std::string& control_host, const std::string& fs_id,
                     FileSystemDef* out);
// Simulates writes to a file system: its content generation moves on by one.
Status WriteToFileSystem(const std::string& control_host,
                         const std::string& fs_id);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERSIM_H_
