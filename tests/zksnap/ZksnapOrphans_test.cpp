// SPDX-License-Identifier: Apache-2.0
// 'zksnap orphans': checkpoints and checkpoint exports that someone made on
// the file server behind the catalog's back are listed; what the records
// name is not. 'orphans --remove' removes only those, through the plug-in's
// unmap and delete, and keeps everything else, saying why.
#include <poll.h>
#include <pty.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "host/ManageCelerra.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

TEST_F(ZksnapTest, OrphansFindsACheckpointMadeBehindTheCatalogsBack) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  ASSERT_EQ(0, Z({"snap", "nfs1"}).nExit);
  RunResult r = Z({"orphans"});
  EXPECT_EQ(0, r.nExit);
  EXPECT_TRUE(Has(r.sOut, "no orphans")) << r.sOut;

  // Someone else, with the same login, makes a checkpoint and exports it.
  UseFilerStore();
  ManageCelerra oClient(77);
  oClient.SetControlHostInfo(kControlHost, "nasadmin", kPassword);
  std::string sId;
  ASSERT_TRUE(oClient.CreateROChkPt("101", CELERRA_STG_UXFS, "pool_a",
                                    "by_hand_1", sId));
  std::vector<std::string> vHosts = {"10.60.0.77"};
  ASSERT_TRUE(
      oClient.CreateNFSShare("/by_hand_1", "2", false, vHosts, vHosts, vHosts));

  r = Z({"--json", "orphans"});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "\"name\": \"by_hand_1\"")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"id\": \"" + sId + "\"")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"path\": \"/by_hand_1\"")) << r.sOut;
  // The record's own checkpoint and the production exports are not orphans.
  EXPECT_FALSE(Has(r.sOut, "g1_nfs1_1700000000")) << r.sOut;
  EXPECT_FALSE(Has(r.sOut, "\"path\": \"/fs_nfs\"")) << r.sOut;
  r = Z({"orphans"});
  EXPECT_TRUE(Has(r.sOut, "Checkpoints no record names")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "by_hand_1")) << r.sOut;

  // Once mapped, the record's writable checkpoint and export are named too.
  ASSERT_EQ(0, Z({"map", "nfs1"}).nExit);
  r = Z({"--json", "orphans"});
  EXPECT_FALSE(Has(r.sOut, "g1_nfs1_1700000000")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "by_hand_1")) << r.sOut;
}

// A second file server whose abandoned checkpoint has the id the record's
// checkpoint has on the first: ids are matched per control host.
TEST_F(ZksnapTest, OrphansMatchesCheckpointsPerControlHost) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  ASSERT_EQ(0, Z({"snap", "nfs1"}).nExit);
  UseFilerStore();
  std::vector<zkfiler::CheckpointView> v;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
  ASSERT_EQ(1u, v.size());
  ASSERT_TRUE(zkfiler::LoadLayoutText("server cs2.zs.test\n"
                                      "  login nasadmin \"other\"\n"
                                      "  mover 2 name=server_2\n"
                                      "  fs 201 name=fs_two mover=2 "
                                      "mount=/fs_two extra=pool_c\n"
                                      "  checkpoint abandoned fs=201 id=" +
                                      v[0].id + "\n")
                  .ok());

  RunResult r = Z({"--json", "orphans"});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "\"name\": \"abandoned\"")) << r.sOut;
  EXPECT_FALSE(Has(r.sOut, v[0].name)) << r.sOut;
}

// While an operation holds the catalog, a checkpoint it is making is on the
// file server before its record names it: orphans says the operation is in
// progress and calls nothing an orphan.
TEST_F(ZksnapTest, OrphansDoesNotJudgeWhileAnOperationRuns) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  // The running snap: it holds the catalog's write lock and its checkpoint
  // is already on the file server.
  sqlite3* pDb = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((m_sState + "/catalog.db").c_str(), &pDb));
  ASSERT_EQ(SQLITE_OK,
            sqlite3_exec(pDb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  UseFilerStore();
  ManageCelerra oClient(77);
  oClient.SetControlHostInfo(kControlHost, "nasadmin", kPassword);
  std::string sId;
  ASSERT_TRUE(oClient.CreateROChkPt("101", CELERRA_STG_UXFS, "pool_a",
                                    "g1_nfs1_1700000000", sId));

  RunResult r = Z({"--wait", "0", "orphans"});
  EXPECT_EQ(5, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "an operation is in progress")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "too new to judge")) << r.sOut;
  EXPECT_FALSE(Has(r.sOut, "Checkpoints no record names")) << r.sOut;
  r = Z({"--wait", "0", "--json", "orphans"});
  EXPECT_EQ(5, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "\"operation_in_progress\": true")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "\"checkpoints\": []")) << r.sOut;
  sqlite3_exec(pDb, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(pDb);
}

// The checkpoints and exports of the file server, one per line.
std::string FilerState() {
  std::vector<zkfiler::CheckpointView> vC;
  std::vector<zkfiler::ExportView> vE;
  EXPECT_TRUE(zkfiler::ListCheckpoints("", &vC).ok());
  EXPECT_TRUE(zkfiler::ListExports("", &vE).ok());
  std::string s;
  for (const auto& k : vC) {
    s += "checkpoint " + k.control_host + " " + k.id + " " + k.name + " " +
         k.baseline_id + "\n";
  }
  for (const auto& e : vE) {
    s += "export " + e.control_host + " " + e.mover_id + " " + e.path + " " +
         e.fs_id + "\n";
  }
  return s;
}

class OrphansRemoveTest : public ZksnapTest {
 protected:
  // nfs1 prepared and snapped (its checkpoint kNamed on file system 101),
  // and a checkpoint made by hand on the same file system.
  void SetUpRecordAndByHand() {
    InitWithFileServer();
    AddDevices();
    ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
    ASSERT_EQ(0, Z({"snap", "nfs1"}).nExit);
    UseFilerStore();
    ManageCelerra oClient(77);
    oClient.SetControlHostInfo(kControlHost, "nasadmin", kPassword);
    ASSERT_TRUE(oClient.CreateROChkPt("101", CELERRA_STG_UXFS, "pool_a",
                                      "by_hand_1", m_sById));
  }
  static constexpr const char* kNamed = "g1_nfs1_1700000000";
  std::string m_sById;
};

// Runs zksnap on a terminal of its own (a pseudo-terminal) and answers
// sAnswer once it asks; all it wrote to the terminal goes to *psScreen.
int RunOnTerminal(const std::vector<std::string>& vArgs,
                  const std::string& sAnswer, std::string* psScreen) {
  int nMaster = -1;
  const pid_t nPid = forkpty(&nMaster, nullptr, nullptr, nullptr);
  if (nPid == 0) {
    std::vector<std::string> vAll = {ZKSNAP_PATH};
    vAll.insert(vAll.end(), vArgs.begin(), vArgs.end());
    std::vector<char*> vArgv;
    for (std::string& s : vAll) vArgv.push_back(&s[0]);
    vArgv.push_back(nullptr);
    execv(vArgv[0], vArgv.data());
    _exit(127);
  }
  if (nPid < 0) return -1;
  bool bAnswered = false;
  for (int nWaited = 0; nWaited < 30000;) {
    pollfd oPoll = {nMaster, POLLIN, 0};
    if (poll(&oPoll, 1, 100) <= 0) {
      nWaited += 100;
      continue;
    }
    char aBuffer[4096];
    const ssize_t n = read(nMaster, aBuffer, sizeof(aBuffer));
    if (n <= 0) break;  // zksnap has ended
    psScreen->append(aBuffer, static_cast<size_t>(n));
    if (!bAnswered && Has(*psScreen, "[y/N] ")) {
      const std::string sLine = sAnswer + "\n";
      EXPECT_EQ(static_cast<ssize_t>(sLine.size()),
                write(nMaster, sLine.data(), sLine.size()));
      bAnswered = true;
    }
  }
  close(nMaster);
  EXPECT_FALSE(Has(*psScreen, kPassword)) << *psScreen;
  int nStatus = 0;
  waitpid(nPid, &nStatus, 0);
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
}

// On a terminal it shows what it will remove and asks: anything but yes
// removes nothing.
TEST_F(OrphansRemoveTest, AsksOnATerminal) {
  SetUpRecordAndByHand();
  const std::vector<std::string> vArgs = {"--state", m_sState, "orphans",
                                          "--remove"};
  for (const char* pszAnswer : {"", "n", "yess"}) {
    SCOPED_TRACE(std::string("answer \"") + pszAnswer + "\"");
    const std::string sFilerBefore = FilerState();
    std::string sScreen;
    EXPECT_EQ(1, RunOnTerminal(vArgs, pszAnswer, &sScreen)) << sScreen;
    EXPECT_TRUE(Has(sScreen, "checkpoint by_hand_1 (" + m_sById + ")"))
        << sScreen;
    EXPECT_TRUE(Has(sScreen, "Remove these 1 from the file server? [y/N]"))
        << sScreen;
    EXPECT_TRUE(Has(sScreen, "not confirmed: nothing was removed")) << sScreen;
    EXPECT_EQ(sFilerBefore, FilerState());
  }
  std::string sScreen;
  EXPECT_EQ(0, RunOnTerminal(vArgs, "y", &sScreen)) << sScreen;
  EXPECT_TRUE(Has(sScreen, "Removed")) << sScreen;
  const std::string sFiler = FilerState();
  EXPECT_FALSE(Has(sFiler, "by_hand_1")) << sFiler;
  EXPECT_TRUE(Has(sFiler, kNamed)) << sFiler;
}

// What it may not take is refused with the reason, and nothing changes:
// neither the file server nor the catalog. NAMEs that are not all
// removable remove nothing.
TEST_F(OrphansRemoveTest, RefusesWhatItMayNotTakeAndChangesNothing) {
  SetUpRecordAndByHand();
  const std::string sCatalog = m_sState + "/catalog.db";
  struct Case {
    const char* pszName;
    bool bIntent;  // nfs1 holds an intent
    bool bLocked;  // an operation holds the catalog
    std::vector<std::string> vArgs;
    int nExit;
    std::string sSays;
    // nfs1's snap metadata for the case, when not its own.
    const char* pszSnapUuid = nullptr;
  };
  const Case aCases[] = {
      {"named by a record",
       false,
       false,
       {"orphans", "--remove", "--yes", kNamed},
       1,
       "record nfs1 names it as its checkpoint (snap metadata)"},
      {"an intent on its file system",
       true,
       false,
       {"orphans", "--remove", "--yes", "by_hand_1"},
       1,
       "record nfs1 holds the intent of an unfinished plug-in call (metadata "
       "type 147) on file system 101"},
      {"an intent, without NAMEs",
       true,
       false,
       {"orphans", "--remove", "--yes"},
       0,
       "record nfs1 holds the intent"},
      {"named by a record by name, under another id",
       false,
       false,
       {"orphans", "--remove", "--yes", "by_hand_1"},
       1,
       "record nfs1 names it as its checkpoint (snap metadata)",
       "by_hand_1|999999|"},
      {"named by a record by id, under another name",
       false,
       false,
       {"orphans", "--remove", "--yes", "by_hand_1"},
       1,
       "record nfs1 names it as its checkpoint (snap metadata)",
       "renamed_1|ID|"},
      {"unknown name",
       false,
       false,
       {"orphans", "--remove", "--yes", "no_such_1"},
       1,
       "not found: no checkpoint of that name"},
      {"a file system",
       false,
       false,
       {"orphans", "--remove", "--yes", "fs_nfs"},
       1,
       "not a checkpoint object: file system fs_nfs (101)"},
      {"a production export",
       false,
       false,
       {"orphans", "--remove", "--yes", "/fs_nfs"},
       1,
       "not a checkpoint object: export /fs_nfs (mover 2) exports file system "
       "101"},
      {"one refused NAME among removable ones",
       false,
       false,
       {"orphans", "--remove", "--yes", "by_hand_1", "no_such_1"},
       1,
       "nothing was removed"},
      {"no terminal and no --yes",
       false,
       false,
       {"orphans", "--remove", "by_hand_1"},
       2,
       "no terminal to confirm the removal of 1 orphan(s): nothing was "
       "removed; give --yes"},
      {"--yes without --remove",
       false,
       false,
       {"orphans", "--yes"},
       2,
       "--remove"},
      {"an operation in progress",
       false,
       true,
       {"--wait", "0", "orphans", "--remove", "--yes", "by_hand_1"},
       5,
       "an operation is in progress (another zksnap holds the catalog)"},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.pszName);
    if (c.bIntent) {
      ASSERT_EQ("", Sql(sCatalog,
                        "INSERT INTO metadata(record, type, value) VALUES "
                        "('nfs1', 147, 'whatever the plug-in writes')"));
    }
    std::string sUuidBefore;
    if (c.pszSnapUuid != nullptr) {
      sUuidBefore = Sql(sCatalog,
                        "SELECT value FROM metadata WHERE record = 'nfs1' AND "
                        "type = 6");
      if (!sUuidBefore.empty()) sUuidBefore.pop_back();  // the row's "\n"
      std::string sUuid = c.pszSnapUuid;
      const size_t nAt = sUuid.find("ID");
      if (nAt != std::string::npos) sUuid.replace(nAt, 2, m_sById);
      ASSERT_EQ("", Sql(sCatalog, "UPDATE metadata SET value = '" + sUuid +
                                      "' WHERE record = 'nfs1' AND type = 6"));
    }
    const std::string sCatalogBefore = Dump();
    const std::string sFilerBefore = FilerState();
    sqlite3* pDb = nullptr;
    if (c.bLocked) {
      ASSERT_EQ(SQLITE_OK, sqlite3_open(sCatalog.c_str(), &pDb));
      ASSERT_EQ(SQLITE_OK, sqlite3_exec(pDb, "BEGIN IMMEDIATE", nullptr,
                                        nullptr, nullptr));
    }
    const RunResult r = Z(c.vArgs);
    if (pDb != nullptr) {
      sqlite3_exec(pDb, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(pDb);
    }
    EXPECT_EQ(c.nExit, r.nExit) << r.sOut << r.sErr;
    EXPECT_TRUE(Has(r.sOut + r.sErr, c.sSays)) << r.sOut << r.sErr;
    EXPECT_EQ(sCatalogBefore, Dump());
    EXPECT_EQ(sFilerBefore, FilerState());
    if (c.bIntent) {
      ASSERT_EQ("", Sql(sCatalog, "DELETE FROM metadata WHERE type = 147"));
    }
    if (c.pszSnapUuid != nullptr) {
      ASSERT_EQ("",
                Sql(sCatalog, "UPDATE metadata SET value = '" + sUuidBefore +
                                  "' WHERE record = 'nfs1' AND type = 6"));
    }
  }
  // The listing agrees: an intent holds what it may own back.
  ASSERT_EQ("", Sql(sCatalog,
                    "INSERT INTO metadata(record, type, value) VALUES "
                    "('nfs1', 147, 'x')"));
  RunResult r = Z({"orphans"});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "no orphans")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "Not orphans while a record's intent may own them"))
      << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "checkpoint by_hand_1 (" + m_sById + ")")) << r.sOut;
}

// A writable checkpoint goes with its export, before its baseline: naming
// the baseline or the export alone is refused; a removal the file server
// refuses stops there (exit 4) with its reason; the record's own checkpoint
// is never touched.
TEST_F(OrphansRemoveTest, TakesExportThenWritableThenReadOnly) {
  SetUpRecordAndByHand();
  ManageCelerra oClient(78);
  oClient.SetControlHostInfo(kControlHost, "nasadmin", kPassword);
  std::string sRwId;
  ASSERT_TRUE(oClient.CreateRWChkPt("101", CELERRA_STG_UXFS, "pool_a",
                                    "by_hand_1_rw", false, m_sById, sRwId));
  std::vector<std::string> vHosts = {"10.60.0.77"};
  ASSERT_TRUE(oClient.CreateNFSShare("/by_hand_1_rw", "2", false, vHosts,
                                     vHosts, vHosts));
  const std::string sRecordBefore = StatusJson("nfs1");

  RunResult r = Z({"orphans", "--remove", "--yes", "by_hand_1"});
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "writable checkpoint by_hand_1_rw (" + sRwId +
                              ") is made from it and stays: name it too"))
      << r.sOut;
  r = Z({"orphans", "--remove", "--yes", "/by_hand_1_rw"});
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut,
                  "the plug-in's unmap removes it only together with writable "
                  "checkpoint by_hand_1_rw (" +
                      sRwId + "): name that to remove both"))
      << r.sOut;

  // The second DeleteChkPt (the read-only checkpoint's) is refused.
  ASSERT_TRUE(zkfiler::ResetJournal().ok());
  zkfiler::FaultRule oFault;
  oFault.command = "DeleteChkPt";
  oFault.mode = zkfiler::FaultMode::kNth;
  oFault.n = 2;
  // The file server's text carries a terminal control sequence, which
  // reaches the terminal only escaped.
  oFault.error.sMessage = "checkpoint is busy\x1b[2J";
  ASSERT_TRUE(zkfiler::ArmFault(oFault).ok());
  r = Z({"orphans", "--remove", "--yes"});
  EXPECT_FALSE(Has(r.sOut, "\x1b")) << r.sOut;
  EXPECT_FALSE(Has(r.sErr, "\x1b")) << r.sErr;
  EXPECT_EQ(4, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut,
                  "export /by_hand_1_rw (mover 2) and writable "
                  "checkpoint by_hand_1_rw (" +
                      sRwId + ") of checkpoint by_hand_1"))
      << r.sOut;
  EXPECT_TRUE(Has(r.sOut,
                  "Not removed: the file server refused\ncheckpoint "
                  "by_hand_1 (" +
                      m_sById + ") on " + kControlHost + ": "))
      << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "checkpoint is busy")) << r.sOut;
  EXPECT_TRUE(Has(r.sErr, "refused the removal")) << r.sErr;
  // In that order, through the plug-in.
  std::vector<zkfiler::JournalEntry> vJournal;
  ASSERT_TRUE(zkfiler::Journal(&vJournal).ok());
  std::vector<std::string> vRemovals;
  for (const auto& e : vJournal) {
    if (e.command == "DeleteNFSShare" || e.command == "DeleteChkPt") {
      vRemovals.push_back(e.command + " " + e.args + (e.ok ? "" : " refused"));
    }
  }
  ASSERT_EQ(3u, vRemovals.size()) << ::testing::PrintToString(vRemovals);
  EXPECT_TRUE(Has(vRemovals[0], "DeleteNFSShare path=/by_hand_1_rw"))
      << vRemovals[0];
  EXPECT_TRUE(Has(vRemovals[1], "DeleteChkPt id=" + sRwId + " "))
      << vRemovals[1];
  EXPECT_TRUE(Has(vRemovals[2], "DeleteChkPt id=" + m_sById + " ") &&
              Has(vRemovals[2], "refused"))
      << vRemovals[2];
  std::string sFiler = FilerState();
  EXPECT_FALSE(Has(sFiler, "by_hand_1_rw")) << sFiler;
  EXPECT_TRUE(Has(sFiler, " by_hand_1 ")) << sFiler;

  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  r = Z({"orphans", "--remove", "--yes"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "checkpoint by_hand_1 (" + m_sById + ")")) << r.sOut;
  sFiler = FilerState();
  EXPECT_FALSE(Has(sFiler, "by_hand_1")) << sFiler;
  EXPECT_TRUE(Has(sFiler, kNamed)) << sFiler;
  EXPECT_EQ(sRecordBefore, StatusJson("nfs1"));
  r = Z({"orphans"});
  EXPECT_TRUE(Has(r.sOut, "no orphans")) << r.sOut;
  r = Z({"orphans", "--remove", "--yes"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "nothing to remove")) << r.sOut;
}

}  // namespace
}  // namespace zktest
