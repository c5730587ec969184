// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerServe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
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
#include <set>
#include <sstream>
#include <thread>

#include "filer/FilerData.h"
#include "filer/FilerSim.h"

namespace zkfiler {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char kGanesha[] = "/usr/bin/ganesha.nfsd";

volatile sig_atomic_t g_stop = 0;

void OnStop(int) { g_stop = 1; }

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

bool IsIpv4(const std::string& text) {
  in_addr a;
  return ::inet_pton(AF_INET, text.c_str(), &a) == 1;
}

// Addresses the ZK_HOSTS_FILE hosts file gives `name`.
std::vector<std::string> FromHostsFile(const std::string& name) {
  std::vector<std::string> out;
  const char* file = std::getenv("ZK_HOSTS_FILE");
  if (file == nullptr || *file == '\0') return out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string addr, word;
    if (!(words >> addr) || !IsIpv4(addr)) continue;
    while (words >> word) {
      if (::strcasecmp(word.c_str(), name.c_str()) == 0) {
        out.push_back(addr);
        break;
      }
    }
  }
  return out;
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

bool Answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
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

// Kills and reaps the server; milliseconds it took.
double StopServer(pid_t pid) {
  const Clock::time_point start = Clock::now();
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return MsSince(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return MsSince(start);
}

}  // namespace

std::vector<std::string> ResolveExportHost(const std::string& host) {
  if (IsIpv4(host)) return {host};
  std::vector<std::string> out = FromHostsFile(host);
  if (!out.empty()) return out;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0) return out;
  for (addrinfo* p = res; p != nullptr; p = p->ai_next) {
    char buf[INET_ADDRSTRLEN];
    const auto* sin = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
    if (::inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf) != nullptr) {
      bool seen = false;
      for (const std::string& s : out) seen = seen || s == buf;
      if (!seen) out.push_back(buf);
    }
  }
  ::freeaddrinfo(res);
  return out;
}

std::string GaneshaConfig(int port, const std::string& plugins_dir,
                          const std::string& recovery_dir,
                          const std::vector<ServedExport>& exports,
                          std::map<std::string, int>* ids,
                          std::vector<std::string>* warnings) {
  std::ostringstream c;
  c << "NFS_CORE_PARAM {\n"
    << "  Protocols = 4;\n"
    << "  NFS_Port = " << port << ";\n"
    << "  Bind_Addr = 127.0.0.1;\n"
    << "  Enable_NLM = false;\n"
    << "  Enable_RQUOTA = false;\n"
    << "  Enable_UDP = false;\n"
    << "  Plugins_Dir = \"" << plugins_dir << "\";\n"
    << "}\n"
    << "NFSv4 {\n"
    << "  Graceless = true;\n"
    << "  RecoveryBackend = fs;\n"
    << "  RecoveryRoot = \"" << recovery_dir << "\";\n"
    << "  Only_Numeric_Owners = true;\n"
    << "}\n"
    << "NFS_KRB5 { Active_krb5 = false; }\n";
  std::set<std::string> pseudo_taken;
  for (const ServedExport& e : exports) {
    const std::string shown = "export " + e.path + " of mover " + e.mover_id +
                              " on " + e.control_host;
    if (e.dir.find_first_of("\"\\\n") != std::string::npos) {
      warnings->push_back(shown + ": not served (its data directory's name " +
                          "holds a quote, backslash or newline)");
      continue;
    }
    if (!pseudo_taken.insert(e.path).second) {
      warnings->push_back(shown + ": not served (another export takes " +
                          e.path + ")");
      continue;
    }
    const std::string key = e.control_host + "|" + e.mover_id + "|" + e.path;
    auto it = ids->find(key);
    if (it == ids->end()) {
      const int next = static_cast<int>(ids->size()) + 1;
      it = ids->emplace(key, next).first;
    }
    const bool open =
        e.access_hosts.empty() && e.rw_hosts.empty() && e.root_hosts.empty();
    // Attributes are read again on every request: a file the data plane
    // replaced (a put, a revert) is served new at once, never stale.
    c << "EXPORT {\n"
      << "  Export_Id = " << it->second << ";\n"
      << "  Path = \"" << e.dir << "\";\n"
      << "  Pseudo = \"" << e.path << "\";\n"
      << "  Protocols = 4;\n"
      << "  Access_Type = " << (open ? "RW" : "None") << ";\n"
      << "  Squash = Root_Squash;\n"
      << "  SecType = sys;\n"
      << "  Attr_Expiration_Time = 0;\n"
      << "  FSAL { Name = VFS; }\n";
    if (!open) {
      // One client block per (access, squash): a host's rights are the
      // union of the lists naming it.
      std::map<std::string, std::set<std::string>> blocks;
      auto add = [&](const std::vector<std::string>& hosts) {
        for (const std::string& h : hosts) {
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
          if (addrs.empty()) {
            warnings->push_back(shown + ": host '" + h +
                                "' does not resolve; left out");
          }
          for (const std::string& a : addrs) blocks[rule].insert(a);
        }
      };
      add(e.access_hosts);
      add(e.rw_hosts);
      add(e.root_hosts);
      for (const auto& [rule, addrs] : blocks) {
        std::string list;
        for (const std::string& a : addrs)
          list += (list.empty() ? "" : ", ") + a;
        const size_t bar = rule.find('|');
        c << "  CLIENT { Clients = " << list
          << "; Access_Type = " << rule.substr(0, bar)
          << "; Squash = " << rule.substr(bar + 1) << "; }\n";
      }
    }
    c << "}\n";
  }
  return c.str();
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

int Serve(const ServeOptions& options) {
  const auto fail = [](const std::string& message) {
    std::fprintf(stderr, "zkfiler serve: %s\n", message.c_str());
    return 1;
  };
  const std::string why = ServeCannotRun();
  if (!why.empty()) return fail(why);
  const char* ganesha = kGanesha;
  const std::string plugins = FindPluginsDir();
  const std::string root = DataRoot();
  if (root.empty()) return fail("needs a state file (--db or ZK_FILER_DB)");
  std::vector<ServedExport> exports;
  Status s = ServedExports(&exports);
  if (!s.ok()) return fail(s.message());

  std::string run_dir = root.substr(0, root.size() - 5) + ".serve-XXXXXX";
  if (::mkdtemp(&run_dir[0]) == nullptr) {
    return fail("cannot make a run directory beside the state file: " +
                std::string(std::strerror(errno)));
  }
  const std::string conf = run_dir + "/ganesha.conf";
  const std::string log = run_dir + "/ganesha.log";
  const std::string pid_file = run_dir + "/ganesha.pid";
  const std::string recov = run_dir + "/recovery";
  ::mkdir(recov.c_str(), 0700);
  std::map<std::string, int> ids;
  std::set<std::string> warned;  // each warning is printed once
  const auto make_config = [&](const std::vector<ServedExport>& list) {
    std::vector<std::string> warnings;
    for (const ServedExport& e : list) {
      // A sub-directory export of a file system whose directory is not
      // there yet: made empty, as the file server would have it.
      std::string sofar;
      for (size_t pos = 1; pos != std::string::npos;) {
        pos = e.dir.find('/', pos + 1);
        sofar = e.dir.substr(0, pos);
        ::mkdir(sofar.c_str(), 0755);
      }
    }
    std::string text =
        GaneshaConfig(options.port, plugins, recov, list, &ids, &warnings);
    for (const std::string& w : warnings) {
      if (warned.insert(w).second) {
        std::fprintf(stderr, "zkfiler serve: %s\n", w.c_str());
      }
    }
    return text;
  };
  std::string config = make_config(exports);
  if (!WriteWhole(conf, config)) {
    data::RemoveTree(run_dir);
    return fail("cannot write " + conf);
  }

  struct sigaction sa {};
  sa.sa_handler = OnStop;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);

  const Clock::time_point start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    data::RemoveTree(run_dir);
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
    ::execl(ganesha, ganesha, "-F", "-f", conf.c_str(), "-L", log.c_str(), "-p",
            pid_file.c_str(), "-N", "NIV_EVENT", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool up = false;
  while (!g_stop && MsSince(start) < 10000) {
    if (Answers(options.port)) {
      up = true;
      break;
    }
    if (::waitpid(pid, nullptr, WNOHANG) == pid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!up) {
    StopServer(pid);
    const std::string tail = Tail(log, 15);
    data::RemoveTree(run_dir);
    if (g_stop) return 0;
    return fail("ganesha.nfsd did not answer on 127.0.0.1:" +
                std::to_string(options.port) + " (port in use?); its log:\n" +
                tail);
  }
  std::printf(
      "zkfiler serve: serving %zu exports over NFSv4 on 127.0.0.1:%d "
      "(answered %.0f ms after start)\n",
      exports.size(), options.port, MsSince(start));
  std::fflush(stdout);

  int status = 0;
  while (!g_stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (::waitpid(pid, nullptr, WNOHANG) == pid) {
      if (g_stop) break;  // a signal to the whole process group
      std::fprintf(stderr, "zkfiler serve: ganesha.nfsd stopped; its log:\n%s",
                   Tail(log, 15).c_str());
      data::RemoveTree(run_dir);
      return 1;
    }
    std::vector<ServedExport> now;
    if (!ServedExports(&now).ok()) continue;  // busy: try again
    std::string next = make_config(now);
    if (next == config) continue;
    if (!WriteWhole(conf, next)) {
      std::fprintf(stderr, "zkfiler serve: cannot write %s\n", conf.c_str());
      continue;
    }
    config = next;
    ::kill(pid, SIGHUP);
    std::printf("zkfiler serve: exports changed: now %zu; reloaded\n",
                now.size());
    std::fflush(stdout);
  }
  const double stop_ms = StopServer(pid);  // reaped already: no wait
  data::RemoveTree(run_dir);
  std::printf("zkfiler serve: stopped in %.0f ms\n", stop_ms);
  std::fflush(stdout);
  return status;
}

}  // namespace zkfiler
