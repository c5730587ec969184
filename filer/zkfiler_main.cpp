// zkfiler: the simulated file server's command. Loads layouts into a state
// file, shows the state, arms and clears faults, sets the latency and reads
// the command journal. Exits 0 on success, 1 with a message on stderr
// otherwise.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "filer/FilerSim.h"

namespace {

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ",";
    text += item;
  }
  return text.empty() ? "-" : text;
}

const char* ModeName(zkfiler::FaultMode mode) {
  switch (mode) {
    case zkfiler::FaultMode::kAlways:
      return "always";
    case zkfiler::FaultMode::kNth:
      return "nth";
    case zkfiler::FaultMode::kFrom:
      return "from";
  }
  return "?";
}

zkfiler::Status Show() {
  std::vector<zkfiler::ServerLayout> servers;
  zkfiler::Status s = zkfiler::ListServers(&servers);
  if (!s.ok()) return s;
  for (const zkfiler::ServerLayout& l : servers) {
    std::printf("server %s user=%s ro_per_fs=%d rw_per_baseline=%d "
                "rw_per_fs=%d max_name_len=%d\n",
                l.control_host.c_str(), l.user.c_str(), l.limits.ro_per_fs,
                l.limits.rw_per_baseline, l.limits.rw_per_fs,
                l.limits.max_name_len);
    for (const auto& m : l.movers) {
      std::printf("  mover %s name=%s interfaces=%s\n", m.id.c_str(),
                  m.name.c_str(), Join(m.interfaces).c_str());
    }
    for (const auto& v : l.vdms) {
      std::printf("  vdm %s name=%s mover=%s\n", v.id.c_str(), v.name.c_str(),
                  v.mover_id.empty() ? "-" : v.mover_id.c_str());
    }
    for (const auto& c : l.cifs_servers) {
      std::printf("  cifs-server %s %s=%s interfaces=%s\n", c.name.c_str(),
                  c.on_vdm ? "vdm" : "mover", c.mover_id.c_str(),
                  c.interfaces.c_str());
    }
    for (const auto& c : l.cifs_shares) {
      std::printf("  share %s fs=%s %s=%s path=%s\n", c.name.c_str(),
                  c.fs_id.c_str(), c.on_vdm ? "vdm" : "mover",
                  c.mover_id.c_str(), c.path.c_str());
    }
    for (const auto& f : l.file_systems) {
      std::printf("  fs %s name=%s %s=%s mount=%s type=%d extra=%s "
                  "savvol=%s generation=%lld restores=%lld\n",
                  f.id.c_str(), f.name.c_str(), f.on_vdm ? "vdm" : "mover",
                  f.mover_id.c_str(), f.mount_path.c_str(),
                  static_cast<int>(f.storage_type), f.storage_extra.c_str(),
                  f.save_volume.c_str(), static_cast<long long>(f.generation),
                  static_cast<long long>(f.restores));
    }
    for (const auto& e : l.exports) {
      std::printf("  export %s mover=%s access=%s rw=%s root=%s\n",
                  e.path.c_str(), e.mover_id.c_str(),
                  Join(e.access_hosts).c_str(), Join(e.rw_hosts).c_str(),
                  Join(e.root_hosts).c_str());
    }
    for (const auto& c : l.checkpoints) {
      std::printf("  checkpoint %s id=%s fs=%s %s%s\n", c.name.c_str(),
                  c.id.c_str(), c.fs_id.c_str(),
                  c.baseline_name.empty() ? "read-only" : "writable baseline=",
                  c.baseline_name.c_str());
    }
  }
  std::vector<zkfiler::FaultSpec> faults;
  s = zkfiler::ListFaults(&faults);
  for (const auto& f : faults) {
    std::printf("fault %s %s n=%lld host=%s code=%s\n", f.command.c_str(),
                ModeName(f.mode), static_cast<long long>(f.n),
                f.control_host.empty() ? "*" : f.control_host.c_str(),
                f.error.sMessageCode.empty() ? "-"
                                             : f.error.sMessageCode.c_str());
  }
  return s;
}

zkfiler::Status PrintJournal() {
  std::vector<zkfiler::JournalEntry> entries;
  zkfiler::Status s = zkfiler::Journal(&entries);
  for (const auto& e : entries) {
    std::printf("%lld pid=%lld job=%llu host=%s user=%s %s %s%s%s %s\n",
                static_cast<long long>(e.seq), static_cast<long long>(e.pid),
                static_cast<unsigned long long>(e.job_id),
                e.control_host.c_str(), e.user.c_str(), e.command.c_str(),
                e.ok ? "ok" : "refused", e.ok ? "" : " code=",
                e.message_code.c_str(), e.args.c_str());
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zkfiler: the simulated Celerra/VNX file server's state file"};
  app.require_subcommand(1);
  const char* env_db = std::getenv("ZK_FILER_DB");
  std::string db = env_db == nullptr ? "" : env_db;
  app.add_option("--db", db, "State file (default: $ZK_FILER_DB)");

  std::string layout;
  bool reset = false;
  CLI::App* load = app.add_subcommand(
      "load", "Create the state file if missing and install the file servers "
              "of a layout file (replacing those of the same control host)");
  load->add_option("LAYOUT", layout, "Layout file")->required();
  load->add_flag("--reset", reset, "Empty the state file first");

  CLI::App* show =
      app.add_subcommand("show", "Show file servers, faults and checkpoints");

  zkfiler::FaultSpec fault;
  int64_t nth = 0, from = 0;
  CLI::App* fail =
      app.add_subcommand("fail", "Make a command fail (every call by default)");
  fail->add_option("COMMAND", fault.command, "Command name, e.g. CreateROChkPt")
      ->required();
  CLI::Option* nth_opt =
      fail->add_option("--nth", nth, "Fail only the Nth call from now on");
  CLI::Option* from_opt =
      fail->add_option("--from", from, "Fail the Nth call and every later one");
  nth_opt->excludes(from_opt);
  fail->add_option("--code", fault.error.sMessageCode, "Message code");
  fail->add_option("--message", fault.error.sMessage, "Message text");
  fail->add_option("--host", fault.control_host,
                   "Only for this control host");

  CLI::App* clear = app.add_subcommand("clear-faults", "Disarm every fault");

  bool journal_reset = false;
  CLI::App* journal =
      app.add_subcommand("journal", "Print the commands received");
  journal->add_flag("--reset", journal_reset, "Empty the journal instead");

  int64_t latency_ms = 0;
  CLI::App* latency = app.add_subcommand(
      "latency", "Add a fixed latency to every command (0 turns it off)");
  latency->add_option("MS", latency_ms, "Milliseconds")->required();

  CLI11_PARSE(app, argc, argv);

  if (db.empty()) {
    std::fprintf(stderr, "zkfiler: no state file: use --db or ZK_FILER_DB\n");
    return 1;
  }
  zkfiler::Status s = load->parsed() ? zkfiler::CreateStateFile(db)
                                     : zkfiler::UseStateFile(db);
  if (s.ok() && load->parsed()) {
    if (reset) s = zkfiler::Reset();
    if (s.ok()) s = zkfiler::LoadLayoutFile(layout);
  } else if (s.ok() && show->parsed()) {
    s = Show();
  } else if (s.ok() && fail->parsed()) {
    if (nth_opt->count() > 0) {
      fault.mode = zkfiler::FaultMode::kNth;
      fault.n = nth;
    } else if (from_opt->count() > 0) {
      fault.mode = zkfiler::FaultMode::kFrom;
      fault.n = from;
    }
    s = zkfiler::ArmFault(fault);
  } else if (s.ok() && clear->parsed()) {
    s = zkfiler::ClearFaults();
  } else if (s.ok() && journal->parsed()) {
    s = journal_reset ? zkfiler::ResetJournal() : PrintJournal();
  } else if (s.ok() && latency->parsed()) {
    s = zkfiler::SetLatency(std::chrono::milliseconds(latency_ms));
  }
  if (!s.ok()) {
    std::fprintf(stderr, "zkfiler: %s\n", s.message().c_str());
    return 1;
  }
  return 0;
}
