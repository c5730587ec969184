// SPDX-License-Identifier: Apache-2.0
#include "filer/StateText.h"

#include <map>

#include "filer/FilerText.h"

namespace zkfiler {
namespace {

std::string Word(const std::string& text) {
  return text.empty() ? "-" : EscapeField(text);
}

std::string List(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ",";
    text += EscapeField(item);
  }
  return text.empty() ? "-" : text;
}

// Free text as a layout would write it: bare when it is one plain word,
// otherwise in double quotes with '"', '\' and control characters escaped.
std::string Free(const std::string& text) {
  bool plain = !text.empty();
  for (char ch : text) {
    const unsigned char u = static_cast<unsigned char>(ch);
    plain =
        plain && u > ' ' && u != 0x7f && ch != '"' && ch != '\\' && ch != '#';
  }
  if (plain) return text;
  std::string out = "\"";
  for (char ch : text) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (u < ' ' || u == 0x7f) {
      out += EscapeField(std::string(1, ch));
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

const char* ModeName(FaultMode mode) {
  switch (mode) {
    case FaultMode::kAlways:
      return "always";
    case FaultMode::kNth:
      return "nth";
    case FaultMode::kFrom:
      return "from";
  }
  return "?";
}

void DescribeServer(FilerStore& store, const std::string& host,
                    std::string* out) {
  ServerRow row;
  if (!store.FindServer(host, &row)) return;
  const Limits& l = row.limits;
  *out += "server " + Word(host) + " user=" + Word(row.user) +
          " ro_per_fs=" + std::to_string(l.ro_per_fs) +
          " rw_per_baseline=" + std::to_string(l.rw_per_baseline) +
          " rw_per_fs=" + std::to_string(l.rw_per_fs) +
          " max_name_len=" + std::to_string(l.max_name_len) +
          " next_id=" + std::to_string(row.next_id) + "\n";
  for (const MoverDef& m : store.Movers(host)) {
    *out += "  mover " + Word(m.id) + " name=" + Word(m.name) +
            " interfaces=" + List(m.interfaces) + "\n";
  }
  for (const VdmDef& v : store.Vdms(host)) {
    *out += "  vdm " + Word(v.id) + " name=" + Word(v.name) +
            " mover=" + Word(v.mover_id) + "\n";
  }
  for (const CifsServerDef& c : store.CifsServers(host)) {
    *out += "  cifs-server " + Word(c.name) + (c.on_vdm ? " vdm=" : " mover=") +
            Word(c.mover_id) + " interfaces=" + Free(c.interfaces) + "\n";
  }
  for (const CifsShareDef& c : store.CifsShares(host)) {
    *out += "  share " + Word(c.name) + " fs=" + Word(c.fs_id) +
            (c.on_vdm ? " vdm=" : " mover=") + Word(c.mover_id) +
            " path=" + Free(c.path) + "\n";
  }
  for (const FileSystemDef& f : store.FileSystems(host)) {
    *out += "  fs " + Word(f.id) + " name=" + Word(f.name) +
            (f.on_vdm ? " vdm=" : " mover=") + Word(f.mover_id) +
            " mount=" + Word(f.mount_path) +
            " type=" + std::to_string(static_cast<int>(f.storage_type)) +
            " extra=" + Free(f.storage_extra) +
            " savvol=" + Word(f.save_volume) +
            " generation=" + std::to_string(f.generation) +
            " restores=" + std::to_string(f.restores) + "\n";
  }
  for (const ExportView& e : store.Exports(host)) {
    *out += "  export " + Word(e.path) + " mover=" + Word(e.mover_id) +
            " access=" + List(e.access_hosts) + " rw=" + List(e.rw_hosts) +
            " root=" + List(e.root_hosts) + "\n";
  }
  const std::vector<CheckpointView> ckpts = store.Checkpoints(host, "");
  std::map<std::string, std::string> names;  // id -> name
  for (const CheckpointView& c : ckpts) names[c.id] = c.name;
  for (const CheckpointView& c : ckpts) {
    *out += "  checkpoint " + Word(c.name) + " id=" + Word(c.id) +
            " fs=" + Word(c.fs_id);
    *out += c.writable ? " writable baseline=" + Word(names[c.baseline_id])
                       : std::string(" read-only");
    *out += "\n";
  }
}

}  // namespace

std::string DescribeStore(FilerStore& store) {
  std::string out;
  for (const std::string& host : store.ServerHosts()) {
    DescribeServer(store, host, &out);
  }
  for (const FaultRow& row : store.Faults()) {
    const FaultRule& f = row.rule;
    out += "fault " + Word(f.command) + " " + ModeName(f.mode) +
           " n=" + std::to_string(f.n) + " seen=" + std::to_string(f.seen) +
           " host=" + (f.control_host.empty() ? "*" : Word(f.control_host)) +
           " code=" + Word(f.error.sMessageCode) +
           (f.lost_reply ? " lost-reply" : "") + "\n";
  }
  out += "latency " + std::to_string(store.LatencyMs()) + " ms\n";
  return out;
}

std::string JournalLine(const JournalEntry& e) {
  std::string line = std::to_string(e.seq) + " pid=" + std::to_string(e.pid) +
                     " job=" + std::to_string(e.job_id) +
                     " host=" + EscapeField(e.control_host) +
                     " user=" + EscapeField(e.user) + " " +
                     EscapeField(e.command) + " " +
                     (e.ok ? (e.reply_lost ? "ok lost-reply" : "ok")
                           : "refused code=" + EscapeField(e.message_code));
  // The client library writes args as key=value words with escaped values;
  // escaping again only touches what did not come from it.
  std::string args;
  for (char ch : e.args) {
    const unsigned char u = static_cast<unsigned char>(ch);
    args += (u < ' ' || u == 0x7f) ? EscapeField(std::string(1, ch))
                                   : std::string(1, ch);
  }
  return line + " " + args;
}

}  // namespace zkfiler
