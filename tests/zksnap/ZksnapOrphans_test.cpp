// SPDX-License-Identifier: Apache-2.0
// 'zksnap orphans': checkpoints and checkpoint exports that someone made on
// the file server behind the catalog's back are listed; what the records
// name is not.
#include <sqlite3.h>

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

}  // namespace
}  // namespace zktest
