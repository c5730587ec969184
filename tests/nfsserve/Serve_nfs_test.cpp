// SPDX-License-Identifier: Apache-2.0
// `zkfiler serve` with the real server: it refuses a port another program
// uses before starting ganesha, never follows a link in a file system's
// files to make an export's directory, never serves an export whose host
// resolves to "any client", names every export it does not serve, counts
// only what the server took, waits on and signals only a server it has not
// reaped, and asks clients for privileged source ports.
//
// Needs root and nfs-ganesha; skips with a message otherwise.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filer/FilerSim.h"
#include "filerdata/FilerData.h"
#include "host/ManageCelerra.h"
#include "nfsserve/FilerServe.h"
#include "tests/nfsserve/GaneshaConfigReader.h"
#include "tests/nfsserve/ServedFiler.h"
#include "tests/testclock/ZkTestClock.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct Child {
  pid_t pid = -1;
  std::string out;  // file with its stdout and stderr
};

// Starts argv with extra environment; output to `out`. `own_group` puts it
// in a process group of its own; `as_nobody` drops to uid/gid 65534 first.
Child Start(const std::vector<std::string>& argv,
            const std::vector<std::string>& env, const std::string& out,
            bool own_group = false, bool as_nobody = false) {
  Child c;
  c.out = out;
  c.pid = ::fork();
  if (c.pid == 0) {
    if (own_group) ::setpgid(0, 0);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    if (as_nobody && (::setgroups(0, nullptr) != 0 ||
                      ::setresgid(65534, 65534, 65534) != 0 ||
                      ::setresuid(65534, 65534, 65534) != 0)) {
      ::_exit(126);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
      args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return c;
}

int WaitExit(const Child& c) {
  int raw = 0;
  if (::waitpid(c.pid, &raw, 0) != c.pid) return -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

struct Ran {
  int status = -1;
  std::string out;
};

Ran RunCommand(const std::vector<std::string>& argv,
               const std::vector<std::string>& env, const std::string& out,
               bool as_nobody = false) {
  const Child c = Start(argv, env, out, false, as_nobody);
  Ran r;
  r.status = WaitExit(c);
  r.out = ReadFile(out);
  return r;
}

class ServeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string skip = zkfiler::ServeCannotRun();
    if (!skip.empty()) GTEST_SKIP() << skip;
    char tmpl[] = "/tmp/zk_serve_XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(tmpl));
    dir_ = tmpl;
    ::chmod(dir_.c_str(), 0755);  // the unprivileged client runs from here
    db_ = dir_ + "/f.db";
    hosts_ = dir_ + "/hosts";
    std::ofstream(hosts_) << "127.0.0.2 backup01\n";
  }

  void TearDown() override {
    if (dir_.empty()) return;
    if (server_.pid > 0) {
      ::kill(server_.pid, SIGTERM);
      WaitExit(server_);
    }
    EXPECT_EQ(0, zknfs::GaneshaNaming(dir_)) << "a server was left running";
    zkfiler::data::RemoveTree(dir_);
  }

  std::vector<std::string> Env() const {
    return {"ZK_HOSTS_FILE=" + hosts_, "ZK_FILER_DB=" + db_};
  }

  // Loads file servers cs1 (fs1, fs2 on mover 2, /fs1 exported to every
  // host) with the extra lines.
  void Load(const std::string& extra) {
    std::ofstream(dir_ + "/layout.txt", std::ios::trunc)
        << "server cs1\n  login u p\n  mover 2\n"
           "  fs 101 name=fs1 mover=2 mount=/fs1\n"
           "  fs 102 name=fs2 mover=2 mount=/fs2\n"
           "  export /fs1 mover=2\n"
        << extra;
    const Ran r = RunCommand({ZKFILER_BIN, "load", dir_ + "/layout.txt"}, Env(),
                             dir_ + "/load.out");
    ASSERT_EQ(0, r.status) << r.out;
  }

  void Put(const std::string& fs, const std::string& path,
           const std::string& text) {
    const Ran r = RunCommand({ZKFILER_BIN, "data", "put", fs, path, text},
                             Env(), dir_ + "/put.out");
    ASSERT_EQ(0, r.status) << r.out;
  }

  // Starts serve and waits until it says it serves (or ends); its output.
  std::string Serve(const std::vector<std::string>& env = {},
                    bool own_group = false) {
    port_ = zkfiler::FreeLoopbackPort();
    std::vector<std::string> all = Env();
    all.insert(all.end(), env.begin(), env.end());
    server_ = Start({ZKFILER_BIN, "serve", "--port", std::to_string(port_)},
                    all, dir_ + "/serve.out", own_group);
    return AwaitOutput("zkfiler serve: serving");
  }

  // Polls serve's output until it holds `text` (or serve ended, or 20 s).
  std::string AwaitOutput(const std::string& text) {
    for (int i = 0; i < 2000; ++i) {
      const std::string out = ReadFile(server_.out);
      if (Has(out, text)) return out;
      int raw;
      if (::waitpid(server_.pid, &raw, WNOHANG) == server_.pid) {
        server_.pid = -1;
        return ReadFile(server_.out);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ReadFile(server_.out);
  }

  // The NFS client as host `addr` (on 127.0.0.0/8), root or nobody.
  Ran Probe(const std::string& addr, const std::string& exp,
            const std::string& op, const std::string& path,
            bool as_nobody = false) {
    return RunCommand({ZK_NFS_PROBE, std::to_string(port_), exp, op, path},
                      {std::string("LD_PRELOAD=") + ZK_NFS_SHIM,
                       "ZK_NFS_SOURCE_ADDR=" + addr},
                      dir_ + "/probe.out", as_nobody);
  }

  // Serve's run directory beside the state file.
  std::string RunDir() const {
    DIR* d = ::opendir(dir_.c_str());
    std::string found;
    while (dirent* e = d == nullptr ? nullptr : ::readdir(d)) {
      if (std::string(e->d_name).rfind("f.db.serve-", 0) == 0) {
        found = dir_ + "/" + e->d_name;
      }
    }
    if (d != nullptr) ::closedir(d);
    return found;
  }

  std::string FsDir(const std::string& id) const {
    return zkfiler::data::FsDir(db_ + ".data", "cs1", id);
  }

  std::string dir_, db_, hosts_;
  Child server_;
  int port_ = 0;
};

TEST_F(ServeTest, PortInUseIsRefusedBeforeTheServerStarts) {
  Load("");
  const int port = zkfiler::FreeLoopbackPort();
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, ::listen(fd, 4));
  const Ran r =
      RunCommand({ZKFILER_BIN, "serve", "--port", std::to_string(port)}, Env(),
                 dir_ + "/busy.out");
  ::close(fd);
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_TRUE(Has(r.out, "cannot listen on 127.0.0.1:" + std::to_string(port) +
                             " (Address already in use)"))
      << r.out;
  EXPECT_FALSE(Has(r.out, "serving")) << r.out;
  // No server was started: its log would be in the run directory.
  EXPECT_TRUE(ReadFile(dir_ + "/busy.out").find("ganesha.nfsd") ==
              std::string::npos);
}

TEST_F(ServeTest, LinksInAFileSystemAreNeverFollowedAndEveryExportIsCounted) {
  ASSERT_EQ(0, ::mkdir((dir_ + "/outside").c_str(), 0755));
  Load("");
  // A link a client (or the owner) put in fs1's files, then exports below
  // and at it.
  ASSERT_EQ(0, ::symlink((dir_ + "/outside").c_str(),
                         (FsDir("101") + "/link").c_str()));
  Load(
      "  export /fs1/link/sub mover=2\n  export /fs1/link mover=2\n"
      "  export /fs2 mover=2\n");
  Put("fs2", "/f.txt", "fs2 data");
  const std::string out = Serve();
  ASSERT_TRUE(Has(out, "serving 2 exports")) << out;
  for (const char* exp : {"/fs1/link/sub", "/fs1/link"}) {
    EXPECT_TRUE(Has(out, std::string("export ") + exp +
                             " of mover 2 on cs1: not served: its directory: "
                             "'cs1/fs/101/link' is a symbolic link"))
        << out;
    EXPECT_NE(0, Probe("127.0.0.1", exp, "ls", "/").status) << exp;
  }
  struct stat st;
  EXPECT_NE(0, ::lstat((dir_ + "/outside/sub").c_str(), &st))
      << "made outside the data directory";
  // The configuration it wrote reads back as exactly the two exports.
  std::string error;
  const std::vector<zknfs::ReadExport> exports = zknfs::ReadExports(
      zknfs::ReadGaneshaConfig(ReadFile(RunDir() + "/ganesha.conf"), &error),
      &error);
  EXPECT_EQ("", error);
  ASSERT_EQ(2u, exports.size());
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(i == 0 ? "/fs1" : "/fs2", exports[i].pseudo);
    EXPECT_EQ(FsDir(i == 0 ? "101" : "102"), exports[i].path);
    EXPECT_EQ("RW", exports[i].access_type);
    EXPECT_TRUE(exports[i].clients.empty());
    EXPECT_TRUE(exports[i].privileged_port);
    EXPECT_EQ("0", exports[i].attr_expiration);
  }
  const Ran read = Probe("127.0.0.1", "/fs2", "cat", "/f.txt");
  EXPECT_EQ(0, read.status) << read.out;
  EXPECT_EQ("fs2 data", read.out);
  // An export added while it runs: the reload is confirmed and counted.
  Load(
      "  export /fs1/link/sub mover=2\n  export /fs1/link mover=2\n"
      "  export /fs2 mover=2\n  export /fs1/new mover=2\n");
  const std::string after = AwaitOutput("reloaded");
  EXPECT_TRUE(Has(after,
                  "zkfiler serve: exports changed: now 3 served; "
                  "reloaded"))
      << after;
  EXPECT_EQ(0, Probe("127.0.0.1", "/fs1/new", "ls", "/").status);
}

TEST_F(ServeTest, AHostResolvingToAnyClientLeavesItsExportUnserved) {
  Load("  export /fs2 mover=2 access=backup01\n");
  Put("fs2", "/secret.txt", "for backup01 only");
  // Since the export was made, the name has come to mean every client.
  std::ofstream(hosts_, std::ios::trunc) << "0.0.0.0 backup01\n";
  const std::string out = Serve();
  ASSERT_TRUE(Has(out, "serving 1 exports")) << out;
  EXPECT_TRUE(Has(out,
                  "export /fs2 of mover 2 on cs1: not served: a host of "
                  "its lists resolves to 0.0.0.0"))
      << out;
  for (const char* addr : {"127.0.0.9", "127.0.0.2"}) {
    const Ran r = Probe(addr, "/fs2", "cat", "/secret.txt");
    EXPECT_NE(0, r.status) << addr;
    EXPECT_FALSE(Has(r.out, "for backup01 only")) << addr;
  }
}

// A signal to serve's whole process group (Ctrl-C, `timeout`) reaches the
// server too: serve then waits on and signals it only until it has reaped
// it, since after that its pid may name another process.
TEST_F(ServeTest, ASignalToTheProcessGroupNeverTouchesAReapedServer) {
  Load("");
  const std::string trace = dir_ + "/proc.trace";
  const std::string out =
      Serve({"LD_PRELOAD=" + zktest::PreloadFor(ZK_PROC_TRACE_SHIM),
             "ZK_PROC_TRACE=" + trace},
            /*own_group=*/true);
  ASSERT_TRUE(Has(out, "serving")) << out;
  ASSERT_EQ(0, ::kill(-server_.pid, SIGTERM));
  EXPECT_EQ(0, WaitExit(server_)) << ReadFile(server_.out);
  server_.pid = -1;
  EXPECT_TRUE(Has(ReadFile(dir_ + "/serve.out"), "zkfiler serve: stopped"));
  // The trace: no wait for, or signal to, a pid after it was reaped.
  std::istringstream lines(ReadFile(trace));
  std::string line;
  std::set<int> reaped;
  int waits = 0;
  while (std::getline(lines, line)) {
    int pid = 0, sig = 0, got = 0;
    if (std::sscanf(line.c_str(), "kill %d %d", &pid, &sig) == 2) {
      EXPECT_EQ(0u, reaped.count(pid))
          << "signal " << sig << " to reaped " << pid << "\n"
          << ReadFile(trace);
    } else if (std::sscanf(line.c_str(), "wait %d -> %d", &pid, &got) == 2) {
      ++waits;
      EXPECT_EQ(0u, reaped.count(pid)) << "waited on reaped " << pid << "\n"
                                       << ReadFile(trace);
      if (got > 0) reaped.insert(got);
    }
  }
  EXPECT_GT(waits, 0) << "nothing traced";
  EXPECT_EQ(1u, reaped.size()) << ReadFile(trace);
}

// Clients must use a privileged source port: a local user without root
// cannot mount even an export open to every host; root (libnfs binds a
// reserved port then) can.
TEST_F(ServeTest, ClientsOnUnprivilegedPortsAreRefused) {
  Load("");
  Put("fs1", "/open.txt", "open to every host");
  const std::string out = Serve();
  ASSERT_TRUE(Has(out, "serving 1 exports")) << out;
  const Ran root = Probe("127.0.0.9", "/fs1", "cat", "/open.txt");
  EXPECT_EQ(0, root.status) << root.out;
  EXPECT_EQ("open to every host", root.out);
  const Ran user = Probe("127.0.0.9", "/fs1", "cat", "/open.txt",
                         /*as_nobody=*/true);
  EXPECT_EQ(2, user.status) << user.out;  // the mount is refused
  EXPECT_FALSE(Has(user.out, "open to every host"));
}

// What is on disk is what clients read: a file put while the export is
// served shows at once to a new mount, and after a revert, which replaces
// what the file system's directory holds (the directory itself stays), the
// export stays served and gives the checkpoint's bytes to the next read,
// with no reload of the server.
TEST_F(ServeTest, FilesPutAndARevertAreServedAsOnDisk) {
  Load("");
  Put("fs1", "/doc.txt", "at the snap");
  const std::string out = Serve();
  ASSERT_TRUE(Has(out, "serving 1 exports")) << out;
  EXPECT_EQ("at the snap", Probe("127.0.0.9", "/fs1", "cat", "/doc.txt").out);
  ASSERT_TRUE(zkfiler::UseStateFile(db_).ok());
  ManageCelerra client(1);
  client.SetControlHostInfo("cs1", "u", "p");
  std::string id;
  ASSERT_TRUE(client.CreateROChkPt("101", CELERRA_STG_UXFS, "", "snap1", id));
  Put("fs1", "/doc.txt", "changed");
  Put("fs1", "/new.txt", "made after");
  EXPECT_EQ("changed", Probe("127.0.0.9", "/fs1", "cat", "/doc.txt").out);
  EXPECT_EQ("made after", Probe("127.0.0.9", "/fs1", "cat", "/new.txt").out);

  ASSERT_TRUE(client.RestorePFSFromChkPt("snap1", id, "101"));
  EXPECT_EQ("at the snap", Probe("127.0.0.9", "/fs1", "cat", "/doc.txt").out);
  EXPECT_NE(0, Probe("127.0.0.9", "/fs1", "cat", "/new.txt").status);
  EXPECT_FALSE(Has(ReadFile(server_.out), "reloaded"))
      << ReadFile(server_.out);
  zkfiler::UseInMemoryStore();
}

}  // namespace
