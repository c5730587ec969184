// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerRuntime.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "filer/FilerErrors.h"
#include "filerdata/FilerData.h"

namespace zkfiler {
namespace {

struct Runtime {
  std::mutex mu;
  std::unique_ptr<FilerDb> db;  // guarded by mu
};

Runtime& TheRuntime() {
  static Runtime* runtime = new Runtime();  // lives until exit
  return *runtime;
}

// Everything the store holds, as the data plane names it.
std::vector<data::HostData> HeldData(FilerStore& store) {
  std::vector<data::HostData> held;
  for (const std::string& host : store.ServerHosts()) {
    data::HostData h;
    h.host = host;
    for (const FileSystemDef& fs : store.FileSystems(host)) {
      h.fs_ids.push_back(fs.id);
    }
    for (const CheckpointView& c : store.Checkpoints(host, "")) {
      h.ckpt_ids.push_back(c.id);
    }
    held.push_back(std::move(h));
  }
  return held;
}

// Removes data left by killed processes. Best effort: a state file that
// cannot be written (or is busy) keeps them until a later start.
void TidyDataOf(FilerDb& db, bool make_dirs = false) {
  const std::string root = data::RootFor(db.name());
  if (root.empty()) return;
  try {
    InTransaction(db, [&] {
      FilerStore store(&db);
      data::Tidy(HeldData(store), root, make_dirs);
    });
  } catch (...) {
  }
}

bool IsNoSpace(int err) { return err == ENOSPC || err == EDQUOT; }

// REQUIRES: runtime.mu held.
FilerDb& OpenLocked(Runtime& runtime) {
  if (runtime.db == nullptr) {
    const char* path = std::getenv("ZK_FILER_DB");
    if (path == nullptr || *path == '\0') {
      throw StoreError(
          "file server state: no state file: set ZK_FILER_DB to a state file "
          "made with 'zkfiler load'");
    }
    std::unique_ptr<FilerDb> db = FilerDb::OpenFile(path);
    InTransaction(
        *db, [&] { FilerStore(db.get()).EnsureSchema(false); },
        /*read_only=*/true);
    TidyDataOf(*db);
    runtime.db = std::move(db);
  }
  return *runtime.db;
}

// What the first fault that fired on a call makes of it.
struct Fired {
  CelerraError error;
  bool lost_reply = false;
};

// Counts the call against every fault armed for it (for its name or for any
// command); the first one that fires decides.
std::optional<Fired> FireFault(FilerStore& store, const std::string& command,
                               const std::string& host) {
  std::optional<Fired> result;
  for (const FaultRow& row : store.FaultsFor(command)) {
    const FaultRule& rule = row.rule;
    if (!rule.control_host.empty() && rule.control_host != host) continue;
    const int64_t seen = row.rule.seen + 1;
    store.SetFaultSeen(row.id, seen);
    const bool fire = rule.mode == FaultMode::kAlways ||
                      (rule.mode == FaultMode::kNth && seen == rule.n) ||
                      (rule.mode == FaultMode::kFrom && seen >= rule.n);
    if (!fire || result) continue;
    result = Fired{rule.lost_reply ? CompleteLostReplyError(rule.error, command)
                                   : CompleteInjectedError(rule.error, command),
                   rule.lost_reply};
  }
  return result;
}

void CheckLogin(const ServerRow* server, const ManageCelerra& client) {
  if (server == nullptr) {
    throw Refusal(Cause::kUnreachable,
                  "Unable to connect to control station '" +
                      client.GetControlHost() + "'");
  }
  if (client.GetUserName() != server->user ||
      client.GetPassword() != server->password) {
    throw Refusal(Cause::kAuthFailed, "Login of user '" + client.GetUserName() +
                                          "' refused by control station '" +
                                          server->host + "'");
  }
}

}  // namespace

void SelectStore(std::unique_ptr<FilerDb> db) {
  Runtime& runtime = TheRuntime();
  std::lock_guard<std::mutex> lock(runtime.mu);
  runtime.db = std::move(db);
}

std::string SelectedStoreName() {
  Runtime& runtime = TheRuntime();
  std::lock_guard<std::mutex> lock(runtime.mu);
  return runtime.db == nullptr ? std::string() : runtime.db->name();
}

void TidyData(bool make_dirs) {
  Runtime& runtime = TheRuntime();
  std::lock_guard<std::mutex> lock(runtime.mu);
  if (runtime.db != nullptr) TidyDataOf(*runtime.db, make_dirs);
}

Status WithStore(const std::function<void(FilerStore&)>& fn, bool read_only) {
  Runtime& runtime = TheRuntime();
  try {
    std::lock_guard<std::mutex> lock(runtime.mu);
    FilerDb& db = OpenLocked(runtime);
    FilerStore store(&db);
    InTransaction(
        db, [&] { fn(store); }, read_only);
    return Status::OK();
  } catch (const Refusal& e) {
    return Status::Error(e.error().sMessage);
  } catch (const std::exception& e) {
    return Status::Error(e.what());
  } catch (...) {
    return Status::Error("file server state: unexpected failure");
  }
}

bool RunCommand(
    ManageCelerra& client, const std::string& command, const std::string& args,
    const std::function<void(FilerStore&, const ServerRow&)>& body) {
  Runtime& runtime = TheRuntime();
  const std::string& host = client.GetControlHost();
  bool ok = false;
  bool reply_lost = false;  // ok, but the client is told it failed
  CelerraError error;
  int64_t latency_ms = 0;
  try {
    std::lock_guard<std::mutex> lock(runtime.mu);
    FilerDb& db = OpenLocked(runtime);
    FilerStore store(&db);
    // Data changes of the body are undone unless its transaction commits.
    data::DataChanges changes(data::RootFor(db.name()));
    data::ActiveScope active(changes.root().empty() ? nullptr : &changes);
    InTransaction(db, [&] {
      latency_ms = store.LatencyMs();
      std::optional<Fired> fault;
      try {
        fault = FireFault(store, command, host);
        if (fault && !fault->lost_reply) throw Refusal(fault->error);
        ServerRow server;
        const bool known = !host.empty() && store.FindServer(host, &server);
        CheckLogin(known ? &server : nullptr, client);
        db.Exec("SAVEPOINT command");
        try {
          try {
            body(store, server);
          } catch (const data::DataError& e) {
            // The files of the command could not be made (its data changes
            // are undone below): a refusal of the command, not a state file
            // that cannot be used.
            throw Refusal(
                IsNoSpace(e.error()) ? Cause::kNoSpace : Cause::kDataFailed,
                e.what());
          }
        } catch (const Refusal&) {
          db.Exec("ROLLBACK TO command");
          db.Exec("RELEASE command");
          throw;
        }
        db.Exec("RELEASE command");
        ok = true;
      } catch (const Refusal& refusal) {
        error = refusal.error();
      }
      // A lost reply keeps what the command did; only its answer is lost.
      reply_lost = ok && fault && fault->lost_reply;
      if (reply_lost) error = fault->error;
      JournalEntry entry;
      entry.pid = static_cast<int64_t>(::getpid());
      entry.job_id = client.GetJobId();
      entry.control_host = host;
      entry.user = client.GetUserName();
      entry.command = command;
      entry.args = args;
      entry.ok = ok;
      entry.reply_lost = reply_lost;
      if (!ok) entry.message_code = error.sMessageCode;
      store.AppendJournal(entry);
    });
    if (ok) {
      changes.Committed();
    } else {
      changes.Undo();
    }
  } catch (const StoreError& e) {
    ok = false;
    reply_lost = false;
    error = MakeError(Cause::kStateFile, e.what());
  } catch (const std::exception& e) {
    ok = false;
    reply_lost = false;
    error = MakeError(Cause::kStateFile,
                      std::string("file server state: ") + e.what());
  } catch (...) {
    ok = false;
    reply_lost = false;
    error = MakeError(Cause::kStateFile, "file server state: unknown failure");
  }
  if (latency_ms > 0) {
    std::this_thread::sleep_for(
        std::min(std::chrono::milliseconds(latency_ms), kMaxLatency));
  }
  if (ok && !reply_lost) return true;
  if (error.sDiagnostics.empty()) {
    error.sDiagnostics =
        "command=" + command + " control_station=" + host + " " + args;
  }
  client.SetLastError(error);
  return false;
}

}  // namespace zkfiler
