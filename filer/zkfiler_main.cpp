// SPDX-License-Identifier: Apache-2.0
// zkfiler: the simulated file server's command. Loads layouts into a state
// file, shows the state, arms and clears faults, sets the latency and reads
// the command journal. Each command is one transaction on the state file:
// it succeeds whole or leaves the file as it was.
//
// Exit status: 0 success; 1 a refused operation or bad input (the state
// file or layout cannot be used, an unknown command or control host); 2 a
// usage error (the command line itself is wrong, a number out of range
// included). Messages go to stderr.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filer/FilerFiles.h"
#include "filer/FilerSim.h"
#include "filer/FilerText.h"
#include "filer/StateText.h"
#include "nfsserve/FilerServe.h"
#include "zk_version.h"

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

constexpr const char* kExitHelp =
    "Exit status: 0 success, 1 refused operation or bad input (state file, "
    "layout, unknown command or control host), 2 usage error (command "
    "line, numbers out of range).";

// A usage error found after CLI11 has read the command line.
struct UsageError {
  std::string message;
};

// A whole decimal number within [min, max]; `what` names the option.
int64_t ParseNumber(const std::string& text, const std::string& what,
                    int64_t min, int64_t max) {
  bool digits = !text.empty() && text.size() <= 18;
  int64_t value = 0;
  for (char ch : text) {
    digits = digits && ch >= '0' && ch <= '9';
    if (digits) value = value * 10 + (ch - '0');
  }
  if (!digits || value < min || value > max) {
    std::string shown = text.size() > 24 ? text.substr(0, 24) + "..." : text;
    throw UsageError{what + " must be a whole number from " +
                     std::to_string(min) + " to " + std::to_string(max) +
                     ", not '" + shown + "'"};
  }
  return value;
}

zkfiler::Status Show() {
  std::string text;
  zkfiler::Status s = zkfiler::DescribeState(&text);
  if (s.ok()) std::fputs(text.c_str(), stdout);
  return s;
}

zkfiler::Status PrintJournal() {
  std::vector<zkfiler::JournalEntry> entries;
  zkfiler::Status s = zkfiler::Journal(&entries);
  for (const auto& e : entries) {
    std::printf("%s\n", zkfiler::JournalLine(e).c_str());
  }
  return s;
}

// "UID:GID", two whole numbers (numeric owners, as the NFS server uses).
bool ParseOwner(const std::string& text, zkfiler::PutOptions* options) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  int64_t ids[2];
  const std::string parts[2] = {text.substr(0, colon), text.substr(colon + 1)};
  for (int i = 0; i < 2; ++i) {
    // 4294967295 is no one's: chown reads it as "leave as it is".
    ids[i] = ParseNumber(parts[i], "--owner", 0, 4294967294LL);
  }
  options->uid = ids[0];
  options->gid = ids[1];
  return true;
}

// An octal mode of permission bits, "644" or "0644".
bool ParseMode(const std::string& text, zkfiler::PutOptions* options) {
  if (text.empty() || text.size() > 4) return false;
  uint32_t mode = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '7') return false;
    mode = mode * 8 + static_cast<uint32_t>(ch - '0');
  }
  if (mode > 0777) return false;
  options->mode = mode;
  return true;
}

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "zkfiler: %s\n", message.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "zkfiler: manage the state file of the simulated Celerra/VNX file "
      "server"};
  // Wide enough that no option's name runs into its text.
  app.get_formatter()->column_width(40);
  app.footer(kExitHelp);
  app.require_subcommand(1);
  const char* env_db = std::getenv("ZK_FILER_DB");
  std::string db = env_db == nullptr ? "" : env_db;
  app.add_option("--db", db,
                 "State file, a plain path (default: $ZK_FILER_DB)");
  app.add_flag("--version", "Print zkfiler's version");

  std::string layout;
  bool reset = false;
  CLI::App* load = app.add_subcommand(
      "load",
      "Install the file servers of a layout file (replacing those of the "
      "same control host), creating the state file if missing; all or "
      "nothing");
  load->add_option("LAYOUT", layout, "Layout file")->required();
  load->add_flag("--reset", reset,
                 "Empty the state (file servers, faults, latency, journal) "
                 "in the same transaction first");

  CLI::App* show = app.add_subcommand(
      "show", "Show file servers, checkpoints, faults and the latency");

  zkfiler::FaultRule fault;
  std::string nth, from;
  CLI::App* fail =
      app.add_subcommand("fail", "Make a command fail (every call by default)");
  fail->add_option("COMMAND", fault.command,
                   "Command name, e.g. CreateROChkPt, or '*' for every command")
      ->required();
  CLI::Option* nth_opt =
      fail->add_option("--nth", nth, "Fail only the Nth call from now on")
          ->type_name("N");
  CLI::Option* from_opt =
      fail->add_option("--from", from, "Fail the Nth call and every later one")
          ->type_name("N");
  nth_opt->excludes(from_opt);
  fail->add_option("--code", fault.error.sMessageCode, "Message code");
  fail->add_option("--message", fault.error.sMessage, "Message text");
  fail->add_option("--host", fault.control_host,
                   "Only for this control host (must be loaded)");
  fail->add_flag("--lost-reply", fault.lost_reply,
                 "Let the command take effect but lose its reply: the client "
                 "is told it timed out");

  CLI::App* clear = app.add_subcommand("clear-faults", "Disarm every fault");

  bool journal_reset = false;
  CLI::App* journal =
      app.add_subcommand("journal", "Print the commands received");
  journal->add_flag("--reset", journal_reset, "Empty the journal instead");

  std::string latency_text;
  CLI::App* latency = app.add_subcommand(
      "latency", "Add a fixed latency to every command (0 turns it off)");
  latency->add_option("MS", latency_text, "Milliseconds")
      ->type_name("NUMBER")
      ->required();

  CLI::App* data = app.add_subcommand(
      "data",
      "Files of a file system or checkpoint (FS: its name or id; PATH: "
      "absolute inside it; needs a state file)");
  data->require_subcommand(1);
  std::string data_host, data_fs, data_path, data_text, data_from;
  CLI::App* put = data->add_subcommand(
      "put",
      "Write a file (by default owned by the caller, mode 0644; directories "
      "made on the way get the same owner, mode 0755)");
  CLI::App* get = data->add_subcommand("get", "Print a file");
  CLI::App* ls = data->add_subcommand("ls", "List a directory");
  CLI::App* rm =
      data->add_subcommand("rm", "Remove a file or a directory tree");
  for (CLI::App* sub : {put, get, ls, rm}) {
    sub->add_option("--host", data_host,
                    "Control host (needed when FS names more than one)");
    sub->add_option("FS", data_fs, "File system or checkpoint")->required();
    sub->add_option("PATH", data_path, "Path inside it, e.g. /a/b.txt")
        ->required();
    sub->footer(kExitHelp);
  }
  CLI::Option* text_opt = put->add_option("TEXT", data_text, "Content");
  CLI::Option* from_opt_put =
      put->add_option("--from", data_from, "Take the content from FILE");
  text_opt->excludes(from_opt_put);
  std::string put_owner, put_mode;
  put->add_option("--owner", put_owner,
                  "Owner of the file and of directories made on the way, "
                  "numeric (default: the caller's)")
      ->type_name("UID:GID");
  put->add_option("--mode", put_mode,
                  "Permission bits of the file in octal, 0 to 0777 (default "
                  "0644)")
      ->type_name("OCTAL");

  zkfiler::ServeOptions serve_opts;
  CLI::App* serve = app.add_subcommand(
      "serve",
      "Serve every export over NFSv4 on 127.0.0.1 with nfs-ganesha until "
      "stopped (SIGINT/SIGTERM); needs root");
  serve->add_option("--port", serve_opts.port, "TCP port (default 2049)")
      ->check(CLI::Range(1, 65535));

  for (CLI::App* sub :
       {load, show, fail, clear, journal, latency, data, serve}) {
    sub->footer(kExitHelp);
  }

  // CLI11 would only say that a subcommand is required: --version before
  // the command answers the version, and an unknown command is named.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--db") {
      ++i;
      continue;
    }
    if (arg == "--version") {
      std::printf("zkfiler %s\n", ZK_VERSION);
      return std::fflush(stdout) == 0 ? 0 : kExitRefused;
    }
    if (arg.empty() || arg[0] == '-') continue;
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands({})) {
      known |= sub->get_name() == arg;
    }
    if (!known) {
      return Fail("unknown command \"" + arg + "\" (see zkfiler --help)",
                  kExitUsage);
    }
    break;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : kExitUsage;
  }

  zkfiler::PutOptions put_options;
  try {
    if (nth_opt->count() > 0) {
      fault.mode = zkfiler::FaultMode::kNth;
      fault.n = ParseNumber(nth, "--nth", 1, zkfiler::kMaxFaultCall);
    } else if (from_opt->count() > 0) {
      fault.mode = zkfiler::FaultMode::kFrom;
      fault.n = ParseNumber(from, "--from", 1, zkfiler::kMaxFaultCall);
    }
    if (!put_owner.empty() && !ParseOwner(put_owner, &put_options)) {
      throw UsageError{"--owner must be UID:GID (numbers), not '" + put_owner +
                       "'"};
    }
    if (put->parsed() && !put_mode.empty() &&
        !ParseMode(put_mode, &put_options)) {
      throw UsageError{
          "--mode must be octal permission bits from 0 to 0777 (no setuid, "
          "setgid or sticky bit), not '" +
          put_mode + "'"};
    }
    if (latency->parsed()) {
      ParseNumber(latency_text, "MS", 0, zkfiler::kMaxLatency.count());
    }
  } catch (const UsageError& e) {
    return Fail(e.message, kExitUsage);
  }
  if (db.empty()) {
    return Fail("no state file: use --db FILE or set ZK_FILER_DB", kExitUsage);
  }

  if (serve->parsed()) {
    const std::string why = zkfiler::ServeCannotRun();
    if (!why.empty()) return Fail("serve: " + why, kExitRefused);
  }
  zkfiler::Status s;
  if (load->parsed()) {
    s = zkfiler::LoadStateFile(db, layout, reset);
  } else {
    s = zkfiler::UseStateFile(db);
    if (s.ok() && show->parsed()) {
      s = Show();
    } else if (s.ok() && fail->parsed()) {
      s = zkfiler::ArmFault(fault);
    } else if (s.ok() && clear->parsed()) {
      s = zkfiler::ClearFaults();
    } else if (s.ok() && journal->parsed()) {
      s = journal_reset ? zkfiler::ResetJournal() : PrintJournal();
    } else if (s.ok() && latency->parsed()) {
      s = zkfiler::SetLatency(std::chrono::milliseconds(
          ParseNumber(latency_text, "MS", 0, zkfiler::kMaxLatency.count())));
    }
  }
  if (s.ok() && data->parsed()) {
    if (put->parsed()) {
      if (from_opt_put->count() > 0) {
        // Streamed from the file: memory stays bounded whatever its size.
        const int in = ::open(data_from.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) {
          s = zkfiler::Status::Error("cannot read '" + data_from +
                                     "': " + std::strerror(errno));
        } else {
          s = zkfiler::PutDataFrom(
              data_host, data_fs, data_path,
              [in](char* buf, size_t size) -> int64_t {
                for (;;) {
                  const ssize_t n = ::read(in, buf, size);
                  if (n < 0 && errno == EINTR) continue;
                  return n;
                }
              },
              put_options);
          ::close(in);
        }
      } else if (text_opt->count() == 0) {
        return Fail("data put: give TEXT or --from FILE", kExitUsage);
      } else {
        s = zkfiler::PutData(data_host, data_fs, data_path, data_text,
                             put_options);
      }
    } else if (get->parsed()) {
      s = zkfiler::GetDataTo(
          data_host, data_fs, data_path, [](const char* bytes, size_t size) {
            return std::fwrite(bytes, 1, size, stdout) == size;
          });
      if (s.ok() && std::fflush(stdout) != 0) {
        s = zkfiler::Status::Error("cannot write to the standard output");
      }
    } else if (ls->parsed()) {
      std::vector<zkfiler::DataEntry> entries;
      s = zkfiler::ListData(data_host, data_fs, data_path, &entries);
      for (const zkfiler::DataEntry& e : entries) {
        // Escaped: a name can neither split the line nor turn the text.
        std::printf("%s %12lld %s%s\n",
                    e.is_dir    ? "d"
                    : e.is_link ? "l"
                                : "-",
                    static_cast<long long>(e.size),
                    zkfiler::EscapeControls(e.name).c_str(),
                    e.is_dir ? "/" : "");
      }
    } else if (rm->parsed()) {
      s = zkfiler::RemoveData(data_host, data_fs, data_path);
    }
  }
  if (s.ok() && serve->parsed()) {
    zkfiler::StateFileExports exports;
    return zkfiler::Serve(serve_opts, exports);
  }
  if (!s.ok()) return Fail(s.message(), kExitRefused);
  return 0;
}
