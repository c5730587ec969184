// SPDX-License-Identifier: Apache-2.0
#include "tests/nfsserve/ServedFiler.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "nfsserve/FilerServe.h"

namespace zknfs {

int GaneshaNaming(const std::string& needle) {
  int count = 0;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return 0;
  while (dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::ifstream in(std::string("/proc/") + e->d_name + "/cmdline");
    const std::string cmd((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
    if (cmd.find("ganesha.nfsd") != std::string::npos &&
        cmd.find(needle) != std::string::npos) {
      ++count;
    }
  }
  ::closedir(proc);
  return count;
}

std::string ServedFiler::Start(const std::string& sZkfiler,
                               const std::string& sDb) {
  if (m_nPid > 0) return "already started";
  m_nPort = zkfiler::FreeLoopbackPort();
  if (m_nPort <= 0) return "no free loopback port";
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  m_nPid = ::fork();
  if (m_nPid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    const std::string port = std::to_string(m_nPort);
    ::execl(sZkfiler.c_str(), sZkfiler.c_str(), "--db", sDb.c_str(), "serve",
            "--port", port.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  m_nOut = fds[0];
  // Its first line says it serves (or why it does not).
  std::string out;
  pollfd p{m_nOut, POLLIN, 0};
  while (out.find("serving") == std::string::npos && ::poll(&p, 1, 20000) > 0) {
    char buf[512];
    const ssize_t n = ::read(m_nOut, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  if (out.find("serving") != std::string::npos) return "";
  Stop();
  return out.empty() ? "zkfiler serve said nothing" : out;
}

bool ServedFiler::Stop() {
  if (m_nPid <= 0) return true;
  ::kill(m_nPid, SIGTERM);
  int raw = 0;
  ::waitpid(m_nPid, &raw, 0);
  ::close(m_nOut);
  m_nPid = -1;
  m_nOut = -1;
  return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

}  // namespace zknfs
