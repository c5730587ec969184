// 'zksnap orphans': checkpoints and checkpoint exports that someone made on
// the file server behind the catalog's back are listed; what the records
// name is not.
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

}  // namespace
}  // namespace zktest
