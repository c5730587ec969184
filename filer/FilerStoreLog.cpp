// SPDX-License-Identifier: Apache-2.0
// FilerStore's rows beside the file servers: armed faults, settings and
// the command journal (the file server rows are in FilerStore.cpp).
#include "filer/FilerStore.h"

namespace zkfiler {
namespace {

constexpr const char* kFaultColumns =
    "id, command, host, mode, n, seen, status, component, facility, "
    "message, code, severity, description, action, diagnostics, lost";

}  // namespace

std::vector<FaultRow> FilerStore::ReadFaults(Statement& q) {
  std::vector<FaultRow> rows;
  while (q.Step()) {
    FaultRow row;
    row.id = q.Int(0);
    row.rule.command = q.Text(1);
    row.rule.control_host = q.Text(2);
    row.rule.mode = static_cast<FaultMode>(q.Int(3));
    row.rule.n = q.Int(4);
    row.rule.seen = q.Int(5);
    CelerraError& e = row.rule.error;
    e.nStatus = static_cast<int32_t>(q.Int(6));
    e.sComponent = q.Text(7);
    e.sFacility = q.Text(8);
    e.sMessage = q.Text(9);
    e.sMessageCode = q.Text(10);
    e.sSeverity = q.Text(11);
    e.sDescription = q.Text(12);
    e.sAction = q.Text(13);
    e.sDiagnostics = q.Text(14);
    row.rule.lost_reply = q.Int(15) != 0;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<FaultRow> FilerStore::Faults() {
  Statement q = db_->Prepare(std::string("SELECT ") + kFaultColumns +
                             " FROM fault ORDER BY id");
  return ReadFaults(q);
}

std::vector<FaultRow> FilerStore::FaultsFor(const std::string& command) {
  Statement q = db_->Prepare(std::string("SELECT ") + kFaultColumns +
                             " FROM fault WHERE command IN (?, ?) ORDER BY id");
  q.Bind(command).Bind(std::string(kAnyCommand));
  return ReadFaults(q);
}

void FilerStore::InsertFault(const FaultRule& rule) {
  const CelerraError& e = rule.error;
  db_->Prepare(
         "INSERT INTO fault(command, host, mode, n, seen, status, component, "
         "facility, message, code, severity, description, action, "
         "diagnostics, lost) VALUES(?,?,?,?,0,?,?,?,?,?,?,?,?,?,?)")
      .Bind(rule.command)
      .Bind(rule.control_host)
      .Bind(static_cast<int64_t>(rule.mode))
      .Bind(rule.n)
      .Bind(int64_t{e.nStatus})
      .Bind(e.sComponent)
      .Bind(e.sFacility)
      .Bind(e.sMessage)
      .Bind(e.sMessageCode)
      .Bind(e.sSeverity)
      .Bind(e.sDescription)
      .Bind(e.sAction)
      .Bind(e.sDiagnostics)
      .Bind(int64_t{rule.lost_reply})
      .Run();
}

void FilerStore::SetFaultSeen(int64_t id, int64_t seen) {
  db_->Prepare("UPDATE fault SET seen=? WHERE id=?").Bind(seen).Bind(id).Run();
}

void FilerStore::ClearFaults() { db_->Exec("DELETE FROM fault"); }

int64_t FilerStore::LatencyMs() {
  Statement q = db_->Prepare("SELECT value FROM setting WHERE key='latency'");
  return q.Step() ? q.Int(0) : 0;
}

void FilerStore::SetLatencyMs(int64_t ms) {
  db_->Prepare("INSERT OR REPLACE INTO setting VALUES('latency', ?)")
      .Bind(ms)
      .Run();
}

void FilerStore::AppendJournal(const JournalEntry& entry) {
  db_->Prepare(
         "INSERT INTO journal(pid, job, host, user, command, args, ok, code, "
         "lost) VALUES(?,?,?,?,?,?,?,?,?)")
      .Bind(entry.pid)
      .Bind(static_cast<int64_t>(entry.job_id))
      .Bind(entry.control_host)
      .Bind(entry.user)
      .Bind(entry.command)
      .Bind(entry.args)
      .Bind(int64_t{entry.ok})
      .Bind(entry.message_code)
      .Bind(int64_t{entry.reply_lost})
      .Run();
}

std::vector<JournalEntry> FilerStore::Journal() {
  std::vector<JournalEntry> rows;
  Statement q = db_->Prepare(
      "SELECT seq, pid, job, host, user, command, args, ok, code, lost "
      "FROM journal ORDER BY seq");
  while (q.Step()) {
    rows.push_back({q.Int(0), q.Int(1), static_cast<uint64_t>(q.Int(2)),
                    q.Text(3), q.Text(4), q.Text(5), q.Text(6), q.Int(7) != 0,
                    q.Text(8), q.Int(9) != 0});
  }
  return rows;
}

void FilerStore::ClearJournal() { db_->Exec("DELETE FROM journal"); }

}  // namespace zkfiler
