// SPDX-License-Identifier: Apache-2.0
// `zkfiler serve` for tests: the simulated file server's exports served over
// NFSv4 on a free loopback port, started and stopped by the test. A test
// skips with zkfiler::ServeCannotRun() when the server cannot run here.
#ifndef ZK_TESTS_NFS_SERVEDFILER_H_
#define ZK_TESTS_NFS_SERVEDFILER_H_

#include <sys/types.h>

#include <string>

namespace zknfs {

// Running ganesha.nfsd processes whose command line holds `needle`.
int GaneshaNaming(const std::string& needle);

class ServedFiler {
 public:
  ServedFiler() = default;
  ~ServedFiler() { Stop(); }
  ServedFiler(const ServedFiler&) = delete;
  ServedFiler& operator=(const ServedFiler&) = delete;

  // Starts `ZKFILER --db DB serve --port P` on a free port and waits for it
  // to say it serves; "" then, else what it printed.
  std::string Start(const std::string& sZkfiler, const std::string& sDb);
  int Port() const { return m_nPort; }
  // Stops it (SIGTERM) and waits; true when it ended with status 0 (also
  // when it was not running).
  bool Stop();

 private:
  pid_t m_nPid = -1;
  int m_nOut = -1;
  int m_nPort = 0;
};

}  // namespace zknfs

#endif  // ZK_TESTS_NFS_SERVEDFILER_H_
