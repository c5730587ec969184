// SPDX-License-Identifier: Apache-2.0
// Runs zksnap as a subprocess in a temporary directory, as a person or a
// script would, and inspects what it leaves behind.
//
// ZksnapTest owns a temporary directory with a state directory, a hosts file
// naming the test file server and ESX host, and a layout of the file server
// whose login uses kPassword. Every run's output is kept; TearDown checks
// that no output, catalog job log line or reason message holds kPassword,
// and that zksnap never had to mask one.
//
// The environment variables the fixture sets are restored in TearDown.
#ifndef ZK_TESTS_ZKSNAP_ZKSNAPTESTSUPPORT_H_
#define ZK_TESTS_ZKSNAP_ZKSNAPTESTSUPPORT_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace zktest {

extern const char kPassword[];
extern const char kControlHost[];
extern const char kFiler[];     // name the devices give the file server
extern const char kVdmFiler[];  // name of the VDM's CIFS server address
extern const char kEsx[];

struct RunResult {
  int nExit = -1;  // exit status, or 128 + signal
  std::string sOut;
  std::string sErr;
};

// The whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::string& sPath);
// True when sText holds sNeedle.
bool Has(const std::string& sText, const std::string& sNeedle);
// Number of lines of sText.
int LineCount(const std::string& sText);
// Runs SQL on a database file; the rows as "a|b" lines, or "error: ...".
std::string Sql(const std::string& sDbPath, const std::string& sSql);

class ZksnapTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // zksnap --state STATE ARGS... ; sStdin is its standard input. vEnv adds
  // "KEY=VALUE" settings for this run only.
  RunResult Z(const std::vector<std::string>& vArgs,
              const std::string& sStdin = "",
              const std::vector<std::string>& vEnv = {});
  // The same without --state (the arguments say everything).
  RunResult Raw(const std::vector<std::string>& vArgs,
                const std::string& sStdin = "",
                const std::vector<std::string>& vEnv = {});
  // A zksnap started in the background; its output goes to files.
  struct Spawned {
    pid_t nPid = -1;
    std::string sBase;  // sBase + ".out", ".err", ".in"
  };
  // Full argument list (add --state yourself); sStdin as standard input.
  Spawned Spawn(const std::vector<std::string>& vArgs,
                const std::vector<std::string>& vEnv = {},
                const std::string& sStdin = "");
  // Waits for it and collects its output.
  RunResult Wait(const Spawned& oRun);

  // init, the test file server, and its array with kPassword.
  void InitWithFileServer();
  // Adds the three devices of the lifecycle to snap group "g1": nfs1 (NFS
  // export /fs_nfs), nas1 (file system on VDM 1), vm1 (VMware datastore on
  // /fs_ds with ESX host kEsx).
  void AddDevices();
  // "status" of one record, as JSON text.
  std::string StatusJson(const std::string& sRecord);
  // The state of the catalog as text: every table but the times.
  std::string Dump(const std::string& sStateDir = "");
  // PRAGMA integrity_check of a catalog.
  std::string IntegrityCheck(const std::string& sStateDir = "");
  // A consistent copy of the catalog into sDir (made when missing).
  void CopyCatalog(const std::string& sDir);
  // Switches this process's simulated file server to the state file.
  void UseFilerStore();

  std::string m_sTmp;
  std::string m_sState;
  std::string m_sFilerDb;

 private:
  void Remember(const RunResult& r);
  std::vector<std::string> m_vOutputs;
  int m_nSpawned = 0;
};

}  // namespace zktest

#endif  // ZK_TESTS_ZKSNAP_ZKSNAPTESTSUPPORT_H_
