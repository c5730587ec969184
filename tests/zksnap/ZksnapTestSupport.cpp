// SPDX-License-Identifier: Apache-2.0
#include "tests/zksnap/ZksnapTestSupport.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "filer/FilerSim.h"
#include "tests/testclock/ZkTestClock.h"

namespace zktest {

const char kPassword[] = "Zs-Pw#9913-sekrit";
const char kControlHost[] = "cs1.zs.test";
const char kFiler[] = "nas1.zs.test";
const char kVdmFiler[] = "vdm1.zs.test";
const char kEsx[] = "esx1.zs.test";

std::string ReadFile(const std::string& sPath) {
  std::ifstream o(sPath);
  std::stringstream ss;
  ss << o.rdbuf();
  return ss.str();
}

namespace {

const char kLayout[] =
    "server cs1.zs.test\n"
    "  login nasadmin \"Zs-Pw#9913-sekrit\"\n"
    "  mover 2 name=server_2 interfaces=10.50.0.21\n"
    "  vdm 1 name=vdm_one mover=2\n"
    "  cifs-server CIFS1 mover=2 interfaces=\"10.50.0.21 (cge0)\"\n"
    "  cifs-server VDMCIFS vdm=1 interfaces=\"10.50.0.25 (cge1)\"\n"
    "  fs 101 name=fs_nfs mover=2 mount=/fs_nfs extra=pool_a savvol=vp101\n"
    "  fs 102 name=fs_ds mover=2 mount=/fs_ds extra=pool_a savvol=vp102\n"
    "  fs 103 name=fs_vdm vdm=1 mount=/fs_vdm extra=pool_b savvol=vp103\n"
    "  export /fs_nfs mover=2\n"
    "  export /fs_ds mover=2 access=10.60.0.5 rw=10.60.0.5 root=10.60.0.5\n";

const char kHosts[] =
    "10.50.0.21 nas1.zs.test\n"
    "10.50.0.25 vdm1.zs.test\n"
    "10.60.0.5 esx1.zs.test\n"
    "10.60.0.9 zkhost.zs.test\n";

}  // namespace

bool Has(const std::string& sText, const std::string& sNeedle) {
  return sText.find(sNeedle) != std::string::npos;
}

int LineCount(const std::string& sText) {
  int n = 0;
  for (char c : sText) n += c == '\n';
  if (!sText.empty() && sText.back() != '\n') ++n;
  return n;
}

void ZksnapTest::SetUp() {
  char aTemplate[] = "/tmp/zk-zksnap-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(aTemplate));
  m_sTmp = aTemplate;
  m_sState = m_sTmp + "/state";
  m_sFilerDb = m_sState + "/filer.db";
  {
    std::ofstream o(m_sTmp + "/hosts");
    o << kHosts;
  }
  {
    std::ofstream o(m_sTmp + "/layout.txt");
    o << kLayout;
  }
  setenv("ZK_HOSTS_FILE", (m_sTmp + "/hosts").c_str(), 1);
  setenv("ZK_TEST_NOW", "1700000000", 1);
  setenv("ZK_TEST_HOSTNAME", "zkhost.zs.test", 1);
  unsetenv("ZK_FILER_DB");
  unsetenv("ZKSNAP_STATE");
  unsetenv("ZK_DEBUG_LEVEL");
}

void ZksnapTest::TearDown() {
  for (const std::string& s : m_vOutputs) {
    EXPECT_FALSE(Has(s, kPassword)) << s;
    EXPECT_FALSE(Has(s, "wrote an array password")) << s;
  }
  // Every text of the catalog that the plug-in wrote.
  const std::string sCatalog = m_sState + "/catalog.db";
  if (std::filesystem::exists(sCatalog)) {
    sqlite3* pDb = nullptr;
    if (sqlite3_open_v2(sCatalog.c_str(), &pDb, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK) {
      for (const char* pszSql :
           {"SELECT tag || ' ' || text FROM job_log",
            "SELECT jpr_text || ' ' || snap_device || ' ' || source_device "
            "FROM records",
            "SELECT value FROM metadata"}) {
        sqlite3_stmt* p = nullptr;
        if (sqlite3_prepare_v2(pDb, pszSql, -1, &p, nullptr) != SQLITE_OK) {
          continue;
        }
        while (sqlite3_step(p) == SQLITE_ROW) {
          const char* psz =
              reinterpret_cast<const char*>(sqlite3_column_text(p, 0));
          const std::string s = psz == nullptr ? "" : psz;
          EXPECT_FALSE(Has(s, kPassword)) << s;
        }
        sqlite3_finalize(p);
      }
    }
    sqlite3_close(pDb);
  }
  unsetenv("ZK_HOSTS_FILE");
  unsetenv("ZK_TEST_NOW");
  unsetenv("ZK_TEST_HOSTNAME");
  unsetenv("ZK_FILER_DB");
  if (!m_sTmp.empty() && !HasFailure()) {
    std::error_code oError;
    std::filesystem::remove_all(m_sTmp, oError);
  }
}

void ZksnapTest::Remember(const RunResult& r) {
  m_vOutputs.push_back(r.sOut);
  m_vOutputs.push_back(r.sErr);
}

ZksnapTest::Spawned ZksnapTest::Spawn(const std::vector<std::string>& vArgs,
                                      const std::vector<std::string>& vEnv,
                                      const std::string& sStdin) {
  Spawned oRun;
  oRun.sBase = m_sTmp + "/run" + std::to_string(++m_nSpawned);
  const std::string sOut = oRun.sBase + ".out";
  const std::string sErr = oRun.sBase + ".err";
  const std::string sIn = oRun.sBase + ".in";
  {
    std::ofstream o(sIn);
    o << sStdin;
  }
  std::vector<std::string> vAll = {ZKSNAP_PATH};
  vAll.insert(vAll.end(), vArgs.begin(), vArgs.end());
  // zksnap's clock and host name come from the test clock library, which
  // reads ZK_TEST_NOW and ZK_TEST_HOSTNAME; the plug-in never does.
  const std::string sPreload = zktest::PreloadFor(ZK_TEST_CLOCK_PRELOAD);
  oRun.nPid = fork();
  if (oRun.nPid == 0) {
    setenv("LD_PRELOAD", sPreload.c_str(), 1);
    for (const std::string& s : vEnv) {
      const size_t n = s.find('=');
      setenv(s.substr(0, n).c_str(), s.substr(n + 1).c_str(), 1);
    }
    int nIn = open(sIn.c_str(), O_RDONLY);
    int nOut = open(sOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int nErr = open(sErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(nIn, 0);
    dup2(nOut, 1);
    dup2(nErr, 2);
    // No controlling terminal: zksnap must never wait at a password prompt.
    setsid();
    std::vector<char*> vArgv;
    for (std::string& s : vAll) vArgv.push_back(&s[0]);
    vArgv.push_back(nullptr);
    execv(vArgv[0], vArgv.data());
    _exit(127);
  }
  return oRun;
}

RunResult ZksnapTest::Wait(const Spawned& oRun) {
  int nStatus = 0;
  RunResult r;
  if (oRun.nPid <= 0 || waitpid(oRun.nPid, &nStatus, 0) != oRun.nPid) {
    return r;
  }
  r.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
  r.sOut = ReadFile(oRun.sBase + ".out");
  r.sErr = ReadFile(oRun.sBase + ".err");
  Remember(r);
  return r;
}

RunResult ZksnapTest::Raw(const std::vector<std::string>& vArgs,
                          const std::string& sStdin,
                          const std::vector<std::string>& vEnv) {
  return Wait(Spawn(vArgs, vEnv, sStdin));
}

RunResult ZksnapTest::Z(const std::vector<std::string>& vArgs,
                        const std::string& sStdin,
                        const std::vector<std::string>& vEnv) {
  std::vector<std::string> vAll = {"--state", m_sState};
  vAll.insert(vAll.end(), vArgs.begin(), vArgs.end());
  return Raw(vAll, sStdin, vEnv);
}

void ZksnapTest::InitWithFileServer() {
  RunResult r = Z({"init"});
  ASSERT_EQ(0, r.nExit) << r.sErr;
  r = Z({"filer", "load", m_sTmp + "/layout.txt"});
  ASSERT_EQ(0, r.nExit) << r.sErr;
  r = Z({"array", "add", kFiler, "--control-host", kControlHost, "--user",
         "nasadmin", "--address", "10.50.0.21,10.50.0.25", "--array-id",
         "APM0001", "--password-env", "ZS_PW"},
        "", {std::string("ZS_PW=") + kPassword});
  ASSERT_EQ(0, r.nExit) << r.sErr;
}

void ZksnapTest::AddDevices() {
  RunResult r = Z({"device", "add", "nfs1", "--snap-name", "g1", "--nfs",
                   "/fs_nfs", "--filer", kFiler});
  ASSERT_EQ(0, r.nExit) << r.sErr;
  r = Z({"device", "add", "nas1", "--snap-name", "g1", "--nas", "/fs_vdm",
         "--filer", kVdmFiler});
  ASSERT_EQ(0, r.nExit) << r.sErr;
  r = Z({"device", "add", "vm1", "--snap-name", "g1", "--nfs", "/fs_ds",
         "--filer", kFiler, "--vmware", "--esx", kEsx, "--vmkernel",
         "10.60.0.5"});
  ASSERT_EQ(0, r.nExit) << r.sErr;
}

std::string ZksnapTest::StatusJson(const std::string& sRecord) {
  RunResult r = Z({"--json", "status", sRecord});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  return r.sOut;
}

namespace {

std::string Query(const std::string& sPath, const char* pszSql) {
  sqlite3* pDb = nullptr;
  std::string sOut;
  if (sqlite3_open_v2(sPath.c_str(), &pDb, SQLITE_OPEN_READWRITE, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(pDb);
    return "cannot open " + sPath;
  }
  sqlite3_busy_timeout(pDb, 30000);
  sqlite3_stmt* p = nullptr;
  if (sqlite3_prepare_v2(pDb, pszSql, -1, &p, nullptr) != SQLITE_OK) {
    sOut = std::string("error: ") + sqlite3_errmsg(pDb);
  } else {
    while (sqlite3_step(p) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(p); ++i) {
        const char* psz =
            reinterpret_cast<const char*>(sqlite3_column_text(p, i));
        sOut += (i ? "|" : "") + std::string(psz == nullptr ? "NULL" : psz);
      }
      sOut += "\n";
    }
  }
  sqlite3_finalize(p);
  sqlite3_close(pDb);
  return sOut;
}

}  // namespace

std::string ZksnapTest::Dump(const std::string& sStateDir) {
  const std::string sPath =
      (sStateDir.empty() ? m_sState : sStateDir) + "/catalog.db";
  std::string s;
  for (const char* pszSql :
       {"SELECT * FROM meta ORDER BY key", "SELECT * FROM arrays ORDER BY name",
        "SELECT * FROM array_addresses ORDER BY address",
        "SELECT * FROM records ORDER BY name",
        "SELECT * FROM metadata ORDER BY record, type",
        "SELECT seq, job_id, record, operation, level, tag, text FROM job_log "
        "ORDER BY seq",
        "SELECT * FROM config ORDER BY section, key"}) {
    s += std::string(pszSql) + "\n" + Query(sPath, pszSql);
  }
  return s;
}

std::string ZksnapTest::IntegrityCheck(const std::string& sStateDir) {
  return Query((sStateDir.empty() ? m_sState : sStateDir) + "/catalog.db",
               "PRAGMA integrity_check");
}

std::string Sql(const std::string& sDbPath, const std::string& sSql) {
  return Query(sDbPath, sSql.c_str());
}

void ZksnapTest::CopyCatalog(const std::string& sDir) {
  std::filesystem::create_directories(sDir);
  const std::string sOut =
      Query(m_sState + "/catalog.db",
            ("VACUUM INTO '" + sDir + "/catalog.db'").c_str());
  ASSERT_EQ("", sOut);
}

void ZksnapTest::UseFilerStore() {
  const zkfiler::Status o = zkfiler::UseStateFile(m_sFilerDb);
  ASSERT_TRUE(o.ok()) << o.ToString();
}

}  // namespace zktest
