// SPDX-License-Identifier: Apache-2.0
#include "nfsserve/FilerServe.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "filerdata/FilerTree.h"
#include "nfsserve/ServeRules.h"

namespace zkfiler {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char kGanesha[] = "/usr/bin/ganesha.nfsd";
constexpr int kMaxExportId = 65535;
// How long the server may take to start, and to read a new configuration.
constexpr double kStartMs = 20000;
constexpr double kReloadMs = 10000;

volatile sig_atomic_t g_stop = 0;

void OnStop(int) { g_stop = 1; }

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

std::string FindPluginsDir() {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/ganesha",
                          "/usr/lib/aarch64-linux-gnu/ganesha",
                          "/usr/lib/ganesha", "/usr/lib64/ganesha"}) {
    if (::access((std::string(dir) + "/libfsalvfs.so").c_str(), R_OK) == 0) {
      return dir;
    }
  }
  return "";
}

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool Answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a = Loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// Why the server could not listen on 127.0.0.1:port now; "" when it can.
// Bound as the server binds it (address reuse on): only a listener, or a
// socket bound there without reuse, is in the way.
std::string PortBusy(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::strerror(errno);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = Loopback(port);
  std::string why;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(fd, 1) != 0) {
    why = std::strerror(errno);
  }
  ::close(fd);
  return why;
}

// Inodes of the sockets process `pid` holds.
std::set<std::string> SocketsOf(pid_t pid) {
  std::set<std::string> out;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = ::opendir(fds.c_str());
  if (d == nullptr) return out;
  while (dirent* e = ::readdir(d)) {
    char target[128];
    const ssize_t n =
        ::readlinkat(::dirfd(d), e->d_name, target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string link(target, static_cast<size_t>(n));
    if (link.rfind("socket:[", 0) == 0 && link.back() == ']') {
      out.insert(link.substr(8, link.size() - 9));
    }
  }
  ::closedir(d);
  return out;
}

// True when the socket listening on 127.0.0.1:port (also as
// ::ffff:127.0.0.1) is one of process `pid`: the server that answers there
// is the one serve started, not another program.
bool ListensThere(pid_t pid, int port) {
  const std::set<std::string> mine = SocketsOf(pid);
  char want4[32], want6[64];
  std::snprintf(want4, sizeof want4, "0100007F:%04X", port);
  std::snprintf(want6, sizeof want6, "0000000000000000FFFF00000100007F:%04X",
                port);
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // heading
    while (std::getline(in, line)) {
      std::istringstream f(line);
      std::string sl, local, remote, state, queues, timer, retr, uid, tmo,
          inode;
      if (!(f >> sl >> local >> remote >> state >> queues >> timer >> retr >>
            uid >> tmo >> inode)) {
        continue;
      }
      if (state == "0A" && (local == want4 || local == want6) &&
          mine.count(inode) != 0) {
        return true;
      }
    }
  }
  return false;
}

bool WriteWhole(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::string Tail(const std::string& path, size_t lines) {
  std::ifstream in(path);
  std::vector<std::string> all;
  std::string line;
  while (std::getline(in, line)) all.push_back(line);
  std::string out;
  for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size();
       ++i) {
    out += "  " + all[i] + "\n";
  }
  return out;
}

// The server's log, read on from where the last read ended.
class LogReader {
 public:
  explicit LogReader(std::string path) : path_(std::move(path)) {}
  // Whole lines written since Mark() (or since the start).
  std::string Since() {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(mark_));
    std::string text((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
    const size_t end = text.rfind('\n');
    return end == std::string::npos ? "" : text.substr(0, end + 1);
  }
  // Later reads start at the end of what is there now.
  void Mark() {
    struct stat st;
    mark_ =
        ::stat(path_.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
  }

 private:
  std::string path_;
  size_t mark_ = 0;
};

// The server process, reaped at most once and signalled only until then
// (a pid that was reaped may already name another process).
class ServerChild {
 public:
  explicit ServerChild(pid_t pid) : pid_(pid) {}
  // True once it has ended (reaps it when it has).
  bool Ended() {
    if (!reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
  }
  void Signal(int sig) {
    if (!Ended()) ::kill(pid_, sig);
  }
  // Stops and reaps it; milliseconds it took (0 when it had ended).
  double Stop() {
    const Clock::time_point start = Clock::now();
    if (Ended()) return 0;
    ::kill(pid_, SIGTERM);  // not reaped: still ours, also as a zombie
    for (int i = 0; i < 500; ++i) {
      if (Ended()) return MsSince(start);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    if (::waitpid(pid_, &status_, 0) == pid_) reaped_ = true;
    return MsSince(start);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
  bool reaped_ = false;
  int status_ = 0;
};

// The message of a ganesha log line ("... func :COMPONENT :LEVEL :text").
std::string LogMessage(const std::string& line) {
  size_t pos = line.find("] ");
  for (int i = 0; i < 3 && pos != std::string::npos; ++i) {
    pos = line.find(" :", pos + 1);
  }
  return pos == std::string::npos ? line : line.substr(pos + 2);
}

// "Export N created|updated at pseudo (P) with path (D)": N when P and D are
// those of an export written with id N; else -1.
int ExportCommitted(const std::string& message,
                    const std::vector<ConfiguredExport>& exports) {
  for (const ConfiguredExport& e : exports) {
    const std::string id = "Export " + std::to_string(e.id);
    const std::string tail =
        " at pseudo (" + e.path + ") with path (" + e.dir + ")";
    if (message.rfind(id + " created" + tail, 0) == 0 ||
        message.rfind(id + " updated" + tail, 0) == 0) {
      return e.id;
    }
  }
  return -1;
}

// Id of the export a failure line of the log names (by id, pseudo path or
// configuration line); -1 when it names none.
int ExportFailed(const std::string& message,
                 const std::vector<ConfiguredExport>& exports) {
  for (const ConfiguredExport& e : exports) {
    const std::string id = std::to_string(e.id);
    if (message.find("ExportId=" + id + " ") != std::string::npos ||
        message == "Duplicate export id = " + id ||
        message.rfind("Pseudo path (" + e.path + ") is a duplicate", 0) == 0 ||
        message.rfind("Path for export update " + id + " ", 0) == 0 ||
        message.rfind("Could not create export for (" + e.path + ")", 0) == 0) {
      return e.id;
    }
  }
  // "Config File (FILE:LINE): ..." names a line of the configuration.
  const size_t open = message.find("Config File (");
  const size_t colon = message.find("): ");
  if (open == 0 && colon != std::string::npos) {
    const size_t sep = message.rfind(':', colon);
    const int line =
        std::atoi(message.substr(sep + 1, colon - sep - 1).c_str());
    for (const ConfiguredExport& e : exports) {
      if (line >= e.first_line && line <= e.last_line) return e.id;
    }
  }
  return -1;
}

}  // namespace

int ExportIds::Assign(const std::string& key) {
  auto it = live_.find(key);
  if (it != live_.end()) {
    building_[key] = it->second;
    return it->second;
  }
  while (cursor_ <= kMaxExportId && taken_.count(cursor_) != 0) ++cursor_;
  if (cursor_ > kMaxExportId) return -1;
  taken_.insert(cursor_);
  building_[key] = cursor_;
  return cursor_;
}

void ExportIds::EndBuild() {
  resting_.clear();
  for (const auto& k : live_) {
    if (building_.count(k.first) == 0) resting_.insert(k.second);
  }
  live_ = std::move(building_);
  building_.clear();
  taken_ = resting_;
  for (const auto& k : live_) taken_.insert(k.second);
  cursor_ = 1;
}

std::string GaneshaConfig(const GaneshaSettings& settings,
                          const std::vector<ServedExport>& exports,
                          const std::map<std::string, std::string>& identity,
                          ExportIds* ids, std::vector<std::string>* warnings,
                          std::vector<ConfiguredExport>* written) {
  written->clear();
  for (const auto& [what, dir] :
       {std::make_pair("the NFS server's plug-in directory",
                       settings.plugins_dir),
        std::make_pair("the recovery directory", settings.recovery_dir)}) {
    const std::string why = ServedTextProblem(ServedText::kDirectory, dir);
    if (!why.empty()) {
      warnings->push_back(std::string(what) + " '" + dir + "' " + why);
      ids->EndBuild();
      return "";
    }
  }
  std::string text;
  int line = 0;  // lines written so far
  const auto put = [&](const std::string& lines) {
    text += lines;
    for (char ch : lines) line += ch == '\n';
  };
  put("NFS_CORE_PARAM {\n"
      "  Protocols = 4;\n"
      "  NFS_Port = " +
      std::to_string(settings.port) +
      ";\n"
      "  Bind_Addr = 127.0.0.1;\n"
      "  Enable_NLM = false;\n"
      "  Enable_RQUOTA = false;\n"
      "  Enable_UDP = false;\n"
      "  Plugins_Dir = \"" +
      settings.plugins_dir +
      "\";\n"
      "}\n"
      "NFSv4 {\n"
      "  Graceless = true;\n"
      "  RecoveryBackend = fs;\n"
      "  RecoveryRoot = \"" +
      settings.recovery_dir +
      "\";\n"
      "  Only_Numeric_Owners = true;\n"
      "}\n"
      "NFS_KRB5 { Active_krb5 = false; }\n"
      // Each export it creates or updates is named in its log: how serve
      // knows what it took.
      "LOG { COMPONENTS { CONFIG = INFO; } }\n"
      // A directory's cached entries are checked against its attributes, so
      // files put in or removed show at once.
      "MDCACHE { Use_Getattr_Directory_Invalidation = true; }\n");
  std::set<std::string> pseudo_taken;
  for (const ServedExport& e : exports) {
    const std::string shown = "export " + e.path + " of mover " + e.mover_id +
                              " on " + e.control_host;
    const auto refuse = [&](const std::string& why) {
      warnings->push_back(shown + ": not served: " + why);
    };
    std::string why = ServedTextProblem(ServedText::kExportPath, e.path);
    if (!why.empty()) {
      refuse("its path " + why);
      continue;
    }
    why = ServedTextProblem(ServedText::kDirectory, e.dir);
    if (!why.empty()) {
      refuse("its data directory " + why);
      continue;
    }
    // One client block per (access, squash): a host's rights are the union
    // of the lists naming it.
    std::map<std::string, std::set<std::string>> blocks;
    std::vector<std::string> unresolved;
    for (const auto* list : {&e.access_hosts, &e.rw_hosts, &e.root_hosts}) {
      for (const std::string& h : *list) {
        why = ServedTextProblem(ServedText::kHost, h);
        if (!why.empty()) break;
        const auto in = [&](const std::vector<std::string>& v) {
          for (const std::string& x : v) {
            if (x == h) return true;
          }
          return false;
        };
        const std::string rule =
            std::string(in(e.rw_hosts) ? "RW" : "RO") + "|" +
            (in(e.root_hosts) ? "No_Root_Squash" : "Root_Squash");
        const std::vector<std::string> addrs = ResolveExportHost(h);
        if (addrs.empty()) unresolved.push_back(h);
        for (const std::string& a : addrs) {
          why = ServedTextProblem(ServedText::kAddress, a);
          if (!why.empty()) {
            why = "resolves to " + a + ", which " + why;
            break;
          }
          blocks[rule].insert(a);
        }
        if (!why.empty()) break;
        why.clear();
      }
      if (!why.empty()) {
        why = "a host of its lists " + why;
        break;
      }
    }
    if (!why.empty()) {
      refuse(why);
      continue;
    }
    if (!pseudo_taken.insert(e.path).second) {
      refuse("another export takes " + e.path);
      continue;
    }
    auto ident = identity.find(e.dir);
    const int id = ids->Assign(e.control_host + "\n" + e.mover_id + "\n" +
                               e.path + "\n" + e.dir + "\n" +
                               (ident == identity.end() ? "" : ident->second));
    if (id < 0) {
      refuse("the server takes at most " + std::to_string(kMaxExportId) +
             " exports");
      continue;
    }
    for (const std::string& h : unresolved) {
      warnings->push_back(shown + ": host '" + h +
                          "' does not resolve; left out");
    }
    const bool open =
        e.access_hosts.empty() && e.rw_hosts.empty() && e.root_hosts.empty();
    ConfiguredExport c;
    c.shown = shown;
    c.id = id;
    c.path = e.path;
    c.dir = e.dir;
    c.first_line = line + 1;
    put("EXPORT {\n"
        "  Export_Id = " +
        std::to_string(id) +
        ";\n"
        "  Path = \"" +
        e.dir +
        "\";\n"
        "  Pseudo = \"" +
        e.path +
        "\";\n"
        "  Protocols = 4;\n"
        "  Access_Type = " +
        (open ? "RW" : "None") +
        ";\n"
        "  Squash = Root_Squash;\n"
        "  SecType = sys;\n"
        "  PrivilegedPort = true;\n"
        // What a client reads is what is on disk now: attributes are
        // checked on every request, not trusted for 60 s.
        "  Attr_Expiration_Time = 0;\n"
        "  FSAL { Name = VFS; }\n");
    for (const auto& [rule, addrs] : blocks) {
      std::string list;
      for (const std::string& a : addrs) list += (list.empty() ? "" : ", ") + a;
      const size_t bar = rule.find('|');
      put("  CLIENT { Clients = " + list + "; Access_Type = " +
          rule.substr(0, bar) + "; Squash = " + rule.substr(bar + 1) + "; }\n");
    }
    put("}\n");
    c.last_line = line;
    written->push_back(c);
  }
  ids->EndBuild();
  return text;
}

LogVerdict ReadServerLog(const std::string& text, bool reload,
                         const std::vector<ConfiguredExport>& exports) {
  LogVerdict v;
  std::istringstream in(text);
  std::string line;
  bool begun = !reload;  // a reload's lines follow its SIGHUP line
  std::string errors;
  while (!v.done && std::getline(in, line)) {
    const std::string message = LogMessage(line);
    if (!begun) {
      begun = message.find("Received SIGHUP") != std::string::npos;
      continue;
    }
    const bool bad = line.find(" :CRIT :") != std::string::npos ||
                     line.find(" :MAJ :") != std::string::npos ||
                     line.find(" :FATAL :") != std::string::npos;
    const int committed = ExportCommitted(message, exports);
    if (committed >= 0) {
      v.taken.insert(committed);
    } else if (bad) {
      const int failed = ExportFailed(message, exports);
      if (failed >= 0) {
        v.failed.emplace(failed, message);
      } else if (message.find("Cannot register NFS") == std::string::npos &&
                 line.find(":DBUS :") == std::string::npos &&
                 line.find(":NFS CB :") == std::string::npos) {
        errors += (errors.empty() ? "" : "; ") + message;
      }
    }
    if (reload) {
      if (message.find("Reread exports complete") == 0) {
        v.done = v.accepted = true;
      } else if (message.find("Error while parsing new configuration") == 0 ||
                 message.find("Export config error") == 0) {
        v.done = true;
        v.refusal = errors.empty() ? message : errors;
      }
    } else if (message.find("NFS SERVER INITIALIZED") != std::string::npos) {
      v.done = v.accepted = true;
    } else if (line.find(" :FATAL :") != std::string::npos) {
      v.done = true;
      v.refusal = message;
    }
  }
  for (const auto& f : v.failed) v.taken.erase(f.first);
  return v;
}

std::string OpenExportDir(const std::string& root, const std::string& dir,
                          std::string* identity) {
  if (dir.size() <= root.size() + 1 || dir.compare(0, root.size(), root) != 0 ||
      dir[root.size()] != '/') {
    return "it does not lie in the data directory";
  }
  // Proven before anything is opened or made: a '..' component would walk
  // out of the data directory.
  const std::string dir_why = ServedTextProblem(ServedText::kDirectory, dir);
  if (!dir_why.empty()) return "it " + dir_why;
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return "cannot open the data directory: " +
           std::string(std::strerror(errno));
  std::string why;
  size_t start = root.size() + 1;
  while (why.empty()) {
    const size_t end = std::min(dir.find('/', start), dir.size());
    const std::string part = dir.substr(start, end - start);
    const std::string so_far =
        dir.substr(root.size() + 1, end - root.size() - 1);
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(fd, part.c_str(), flags);
    if (next < 0 && errno == ENOENT) {
      struct stat parent;
      if (::fstat(fd, &parent) == 0 &&
          (::mkdirat(fd, part.c_str(), parent.st_mode & 0777) == 0 ||
           errno == EEXIST)) {
        next = ::openat(fd, part.c_str(), flags);
        if (next >= 0) {
          ::fchown(next, parent.st_uid, parent.st_gid);
          ::fchmod(next, parent.st_mode & 0777);
        }
      }
    }
    if (next < 0) {
      why = errno == ELOOP || errno == ENOTDIR
                ? "'" + so_far + "' is a symbolic link or no directory"
                : "cannot open '" + so_far + "': " + std::strerror(errno);
      break;
    }
    ::close(fd);
    fd = next;
    if (end == dir.size()) break;
    start = end + 1;
  }
  struct stat st;
  if (why.empty() && ::fstat(fd, &st) == 0) {
    *identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  }
  ::close(fd);
  return why;
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(fd);
  return port;
}

std::string ServeCannotRun() {
  if (::geteuid() != 0) {
    return "needs root: nfs-ganesha's VFS backend opens files by handle and "
           "switches credentials per request; run it as root (without root, "
           "'zkfiler data' reads the files)";
  }
  if (::access(kGanesha, X_OK) != 0 || FindPluginsDir().empty()) {
    return "nfs-ganesha is not installed: install the Debian packages "
           "nfs-ganesha and nfs-ganesha-vfs (scripts/install-deps.sh does)";
  }
  return "";
}

int Serve(const ServeOptions& options, ExportSource& source) {
  const auto fail = [](const std::string& message) {
    std::fprintf(stderr, "zkfiler serve: %s\n", message.c_str());
    return 1;
  };
  const std::string why = ServeCannotRun();
  if (!why.empty()) return fail(why);
  std::string no_root;
  const std::string root = source.DataRoot(&no_root);
  if (root.empty()) return fail(no_root);
  const std::string root_why = ServedTextProblem(ServedText::kDirectory, root);
  if (!root_why.empty()) {
    return fail("the state file's data directory '" + root + "' " + root_why +
                ", which the NFS server's configuration does not take; "
                "use a state file in another folder");
  }
  std::vector<ServedExport> exports;
  std::string unread;
  if (!source.Exports(&exports, &unread)) return fail(unread);
  const std::string busy = PortBusy(options.port);
  if (!busy.empty()) {
    return fail("cannot listen on 127.0.0.1:" + std::to_string(options.port) +
                " (" + busy +
                "): another program uses that port; choose another with "
                "--port");
  }

  std::string run_dir = source.RunDirBase() + ".serve-XXXXXX";
  if (::mkdtemp(&run_dir[0]) == nullptr) {
    return fail("cannot make a run directory beside the state file: " +
                std::string(std::strerror(errno)));
  }
  const std::string conf = run_dir + "/ganesha.conf";
  const std::string log = run_dir + "/ganesha.log";
  const std::string pid_file = run_dir + "/ganesha.pid";
  GaneshaSettings settings;
  settings.port = options.port;
  settings.plugins_dir = FindPluginsDir();
  settings.recovery_dir = run_dir + "/recovery";
  ::mkdir(settings.recovery_dir.c_str(), 0700);
  ExportIds ids;
  std::set<std::string> warned;  // each warning is printed once
  const auto say = [&](const std::string& w) {
    if (warned.insert(w).second) {
      std::fprintf(stderr, "zkfiler serve: %s\n", w.c_str());
    }
  };
  const auto make_config = [&](const std::vector<ServedExport>& list,
                               std::vector<ConfiguredExport>* out) {
    std::vector<ServedExport> usable;
    std::map<std::string, std::string> identity;
    for (const ServedExport& e : list) {
      // A sub-directory export whose directory is not there yet is made
      // empty, as the file server would have it; nothing outside the data
      // directory is followed to or made.
      std::string ident;
      const std::string problem = OpenExportDir(root, e.dir, &ident);
      if (!problem.empty()) {
        say("export " + e.path + " of mover " + e.mover_id + " on " +
            e.control_host + ": not served: its directory: " + problem);
        continue;
      }
      identity[e.dir] = ident;
      usable.push_back(e);
    }
    std::vector<std::string> warnings;
    std::string text =
        GaneshaConfig(settings, usable, identity, &ids, &warnings, out);
    for (const std::string& w : warnings) say(w);
    return text;
  };
  // Names each export written that the server did not take, and why.
  const auto report = [&](const LogVerdict& v,
                          const std::vector<ConfiguredExport>& list) {
    for (const ConfiguredExport& e : list) {
      if (v.taken.count(e.id) != 0) continue;
      auto f = v.failed.find(e.id);
      say(e.shown + ": not served: the NFS server refused it: " +
          (f != v.failed.end() ? f->second : "its log does not show it taken"));
    }
  };
  const auto cleanup = [&]() { data::RemoveTree(run_dir); };
  std::vector<ConfiguredExport> written;
  std::string config;
  LogReader reader(log);
  // Has the running server read `text` (SIGHUP) and confirms it from its
  // log; "" then, with its verdict. Else it has been stopped and the run
  // directory removed; why.
  std::unique_ptr<ServerChild> server;
  const auto reload = [&](const std::string& text,
                          const std::vector<ConfiguredExport>& text_written,
                          LogVerdict* verdict) -> std::string {
    if (!WriteWhole(conf, text)) {
      server->Stop();
      cleanup();
      return "cannot write " + conf;
    }
    config = text;
    written = text_written;
    reader.Mark();
    server->Signal(SIGHUP);
    const Clock::time_point sent = Clock::now();
    *verdict = LogVerdict();
    while (!verdict->done && !server->Ended() && MsSince(sent) < kReloadMs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      *verdict = ReadServerLog(reader.Since(), true, written);
    }
    if (verdict->accepted) return "";
    // What it serves is no longer what the state file says (an export
    // that should be gone may still be there): stop rather than go on.
    const std::string tail = Tail(log, 15);
    server->Stop();
    cleanup();
    return std::string("ganesha.nfsd ") +
           (verdict->done
                ? "refused the new configuration (" + verdict->refusal + ")"
                : "did not confirm reading the new configuration") +
           "; stopped, since the exports it serves would no longer be those "
           "of the state file; its log:\n" +
           tail;
  };

  config = make_config(exports, &written);
  if (config.empty()) {
    cleanup();
    return fail("cannot write a safe configuration (see above)");
  }
  if (!WriteWhole(conf, config)) {
    cleanup();
    return fail("cannot write " + conf);
  }

  struct sigaction sa {};
  sa.sa_handler = OnStop;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);

  const Clock::time_point start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    cleanup();
    return fail("cannot start ganesha.nfsd: " +
                std::string(std::strerror(errno)));
  }
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives zkfiler serve
    // What is preloaded into zkfiler (a sanitizer runtime, a test's clock)
    // is not for the NFS server.
    ::unsetenv("LD_PRELOAD");
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execl(kGanesha, kGanesha, "-F", "-f", conf.c_str(), "-L", log.c_str(),
            "-p", pid_file.c_str(), "-N", "NIV_EVENT",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  server.reset(new ServerChild(pid));
  // Started: its log says it read the configuration and is up, the socket
  // listening on the port is its own, and it answers there.
  LogVerdict verdict;
  bool up = false;
  while (!g_stop && MsSince(start) < kStartMs && !server->Ended()) {
    if (!verdict.done) verdict = ReadServerLog(reader.Since(), false, written);
    if (verdict.done && !verdict.accepted) break;
    if (verdict.done && ListensThere(pid, options.port) &&
        Answers(options.port)) {
      up = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!up) {
    server->Stop();
    const std::string tail = Tail(log, 15);
    cleanup();
    if (g_stop) return 0;
    return fail(std::string("ganesha.nfsd did not start serving on "
                            "127.0.0.1:") +
                std::to_string(options.port) +
                (verdict.refusal.empty() ? "" : " (" + verdict.refusal + ")") +
                "; its log:\n" + tail);
  }
  const double answered = MsSince(start);
  report(verdict, written);
  std::printf(
      "zkfiler serve: serving %zu exports over NFSv4 on 127.0.0.1:%d "
      "(answered %.0f ms after start)\n",
      verdict.taken.size(), options.port, answered);
  std::fflush(stdout);

  while (!g_stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (server->Ended()) {
      if (g_stop) break;  // a signal to the whole process group
      std::fprintf(stderr, "zkfiler serve: ganesha.nfsd stopped; its log:\n%s",
                   Tail(log, 15).c_str());
      cleanup();
      return 1;
    }
    std::vector<ServedExport> now;
    if (!source.Exports(&now, &unread)) continue;  // busy: try again
    std::vector<ConfiguredExport> next_written;
    std::string next = make_config(now, &next_written);
    if (next.empty() || next == config) continue;
    // The server takes a path for a new export only once the export that
    // held it is gone (a directory replaced under an export gets a new
    // id): a configuration without those paths first.
    std::set<std::string> moved;
    for (const ConfiguredExport& n : next_written) {
      for (const ConfiguredExport& o : written) {
        if (n.path == o.path && n.id != o.id) moved.insert(n.path);
      }
    }
    if (!moved.empty()) {
      std::vector<ServedExport> interim;
      for (const ServedExport& e : now) {
        if (moved.count(e.path) == 0) interim.push_back(e);
      }
      std::vector<ConfiguredExport> interim_written;
      const std::string text = make_config(interim, &interim_written);
      if (text.empty()) continue;
      const std::string error = reload(text, interim_written, &verdict);
      if (!error.empty()) return fail(error);
      next = make_config(now, &next_written);
      if (next.empty()) continue;
    }
    const std::string error = reload(next, next_written, &verdict);
    if (!error.empty()) return fail(error);
    report(verdict, written);
    std::printf("zkfiler serve: exports changed: now %zu served; reloaded\n",
                verdict.taken.size());
    std::fflush(stdout);
  }
  const double stop_ms = server->Stop();
  cleanup();
  std::printf("zkfiler serve: stopped in %.0f ms\n", stop_ms);
  std::fflush(stdout);
  return 0;
}

}  // namespace zkfiler
