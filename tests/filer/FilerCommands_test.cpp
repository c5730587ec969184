// SPDX-License-Identifier: Apache-2.0
// Lookup and export commands of the client, login, and the last error.
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

using CommandTest = FilerTest;

TEST_F(CommandTest, PfsInfoOfMoverAndVdmFileSystems) {
  struct Case {
    std::string fs;
    eCelerraStgType type;
    std::string extra, savvol, name, vdm;
    bool on_vdm;
  } cases[] = {
      {"101", CELERRA_STG_UXFS, "pool1", "sv101", "fs1", "2", false},
      {"102", CELERRA_STG_MGFS, "pool2", "sv102", "fs2", "5", true},
  };
  for (Case& c : cases) {
    eCelerraStgType type = CELERRA_STG_UNSET;
    std::string extra, savvol, name, vdm;
    bool on_vdm = !c.on_vdm;
    ASSERT_TRUE(
        client_.GetPFSInfo(c.fs, type, extra, savvol, name, vdm, on_vdm));
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(extra, c.extra);
    EXPECT_EQ(savvol, c.savvol);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(vdm, c.vdm);
    EXPECT_EQ(on_vdm, c.on_vdm);
  }
  std::string id = "999";
  eCelerraStgType type;
  EXPECT_FALSE(
      client_.GetPFSInfo(id, type, ManageCelerra::sDummyVar,
                         ManageCelerra::sDummyVar, ManageCelerra::sDummyVar,
                         ManageCelerra::sDummyVar, ManageCelerra::bDummyVar));
  EXPECT_EQ(LastCode(), "13690535940");
}

TEST_F(CommandTest, CifsShareInfo) {
  std::string fs, mover, path;
  bool on_vdm = true;
  std::vector<std::string> servers;
  ASSERT_TRUE(
      client_.GetCifsShareInfo("share1", fs, on_vdm, mover, path, servers));
  EXPECT_EQ(fs, "101");
  EXPECT_EQ(mover, "2");
  EXPECT_FALSE(on_vdm);
  EXPECT_EQ(path, "\\dir");
  EXPECT_EQ(servers, std::vector<std::string>{"NAS2"});
  ASSERT_TRUE(
      client_.GetCifsShareInfo("share5", fs, on_vdm, mover, path, servers));
  EXPECT_EQ(fs, "102");
  EXPECT_EQ(mover, "5");
  EXPECT_TRUE(on_vdm);
  EXPECT_EQ(servers, std::vector<std::string>{"VNAS5"});
  EXPECT_FALSE(
      client_.GetCifsShareInfo("nosuch", fs, on_vdm, mover, path, servers));
  EXPECT_EQ(LastCode(), "13691453441");
}

TEST_F(CommandTest, NfsInfoMatchesExportPathExactly) {
  // The plug-in shortens /fs1/a/b itself: only /fs1 may answer.
  struct Case {
    std::string path;
    bool ok;
  } cases[] = {{"/fs1/a/b", false}, {"/fs1/a", false}, {"/fs1", true},
               {"/fs", false},      {"/", false},      {"fs1", false}};
  for (const Case& c : cases) {
    std::string fs, mover;
    bool on_vdm = true;
    std::vector<std::string> access, rw, root;
    EXPECT_EQ(client_.GetNFSInfo(c.path, fs, on_vdm, mover, access, rw, root),
              c.ok)
        << c.path;
    if (c.ok) {
      EXPECT_EQ(fs, "101");
      EXPECT_EQ(mover, "2");
      EXPECT_FALSE(on_vdm);
      EXPECT_EQ(access, std::vector<std::string>{"h1"});
      EXPECT_EQ(rw, std::vector<std::string>{"h2"});
      EXPECT_EQ(root, std::vector<std::string>{"h3"});
    } else {
      EXPECT_FALSE(LastCode().empty());
    }
  }
  std::string fs, mover;
  bool on_vdm = false;
  std::vector<std::string> a, b, c;
  ASSERT_TRUE(
      client_.GetNFSInfo("/root_vdm_5/fs2", fs, on_vdm, mover, a, b, c));
  EXPECT_EQ(fs, "102");
  EXPECT_EQ(mover, "2");
  EXPECT_TRUE(on_vdm);
}

TEST_F(CommandTest, CifsServersReplaceTheVector) {
  std::vector<CelerraCifsServer_t> servers(3);
  ASSERT_TRUE(client_.GetCifsServers(servers, ""));
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0].sName, "NAS2");
  EXPECT_EQ(servers[0].sMoverId, "2");
  EXPECT_EQ(servers[0].sInterfaces, "10.0.0.2");
  EXPECT_EQ(servers[0].sIsVdm, "false");
  EXPECT_EQ(servers[1].sMoverId, "5");
  EXPECT_EQ(servers[1].sIsVdm, "true");
}

TEST_F(CommandTest, MountPointOnlyForExactMountPoints) {
  struct Case {
    std::string mover, path;
    bool on_vdm;
    std::string fs;  // empty: refused
    const char* code;
  } cases[] = {
      {"2", "/fs1", false, "101", ""},
      {"2", "/root_vdm_5/fs2", false, "102", ""},
      {"5", "/fs2", true, "102", ""},
      {"2", "/fs1/a", false, "", "13691060230"},
      {"3", "/fs1", false, "", "13691060230"},
      {"5", "/fs1", true, "", "13691060230"},
      {"2", "/fs2", false, "", "13691060230"},
      {"6", "/fs2", true, "", "13691060230"},
      {"9", "/fs1", false, "", "13691060225"},
      {"99", "/fs2", true, "", "13691060226"},
      {"", "/fs1", false, "", "13690535937"},
      {"2", "fs1", false, "", "13690535937"},
  };
  for (const Case& c : cases) {
    CelerraMountPointsInfo_t info;
    const bool ok = client_.GetMountPointInfo(info, c.mover, c.path, c.on_vdm);
    EXPECT_EQ(ok, !c.fs.empty()) << c.mover << " " << c.path;
    if (ok) {
      EXPECT_EQ(info.sPFSId, c.fs);
      EXPECT_EQ(info.sMountPath, c.path);
      EXPECT_EQ(info.sMoverId, c.mover);
    } else {
      EXPECT_EQ(LastCode(), c.code) << c.mover << " " << c.path;
      EXPECT_TRUE(info.sPFSId.empty());
    }
  }
}

TEST_F(CommandTest, MoverForVdm) {
  std::string mover = "junk";
  EXPECT_TRUE(client_.GetMoverForVdm("5", mover));
  EXPECT_EQ(mover, "2");
  mover = "junk";
  EXPECT_TRUE(client_.GetMoverForVdm("6", mover));  // not loaded
  EXPECT_EQ(mover, "");
  mover = "junk";
  EXPECT_FALSE(client_.GetMoverForVdm("99", mover));
  EXPECT_EQ(mover, "");
  EXPECT_EQ(LastCode(), "13691060226");
  mover = "junk";
  ManageCelerra stranger(1);
  stranger.SetControlHostInfo("nowhere", "admin", kPassword);
  EXPECT_FALSE(stranger.GetMoverForVdm("5", mover));
  EXPECT_EQ(mover, "");
}

TEST_F(CommandTest, ExportCheckpointOnTheMoverItIsMountedOn) {
  const std::string on_mover = CreateRW("m_RW", CreateRO("m"));
  const std::string on_vdm = CreateRW("v_RW", CreateRO("v", "102"), "102");
  ASSERT_FALSE(on_mover.empty());
  ASSERT_FALSE(on_vdm.empty());
  std::vector<std::string> access{"10.1.1.1"}, rw{"10.1.1.1", ""}, root;
  EXPECT_TRUE(client_.CreateNFSShare("/m_RW", "2", false, access, rw, root));
  // A file system on VDM 5 has its checkpoints on mover 2, which hosts it.
  EXPECT_TRUE(client_.CreateNFSShare("/v_RW", "2", false, access, rw, root));
  EXPECT_FALSE(client_.CreateNFSShare("/m_RW", "3", false, access, rw, root));
  EXPECT_EQ(LastCode(), "13691322369");
  // Not on the VDM id either: exports live on physical movers.
  EXPECT_FALSE(client_.CreateNFSShare("/v_RW", "5", false, access, rw, root));
  EXPECT_EQ(LastCode(), "13691060225");

  std::vector<zkfiler::ExportView> exports;
  ASSERT_TRUE(zkfiler::ListExports("cs1", &exports).ok());
  ASSERT_EQ(exports.size(), 4u);
  EXPECT_EQ(exports[2].path, "/m_RW");
  EXPECT_EQ(exports[2].fs_id, on_mover);
  EXPECT_EQ(exports[2].rw_hosts, std::vector<std::string>{"10.1.1.1"});
  EXPECT_EQ(exports[3].fs_id, on_vdm);
}

TEST_F(CommandTest, ExportRefusals) {
  CreateRO("ck3_base", "101");
  std::vector<std::string> ok{"h"}, comma{"a,b"}, blank{"a b"}, none;
  struct Case {
    std::string path, mover;
    std::vector<std::string>* hosts;
    const char* code;
  } cases[] = {
      {"/nothere", "2", &ok, "13691322369"},
      {"/fs1x", "2", &ok, "13691322369"},
      {"fs1", "2", &ok, "13690535937"},
      {"", "2", &ok, "13690535937"},
      {"/fs1", "", &ok, "13690535937"},
      {"/fs1", "7", &ok, "13691060225"},
      {"/fs1/dir", "2", &comma, "13690535937"},
      {"/fs1/dir", "2", &blank, "13690535937"},
      {"/root_vdm_6/fs3", "2", &none, "13691322369"},
      // Dot components would let a path escape the mount point it names.
      {"/fs1/../etc", "2", &ok, "13690535937"},
      {"/fs1/./dir", "2", &ok, "13690535937"},
      {"/fs1/..", "2", &ok, "13690535937"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(client_.CreateNFSShare(c.path, c.mover, false, *c.hosts,
                                        *c.hosts, *c.hosts))
        << c.path;
    EXPECT_EQ(LastCode(), c.code) << c.path << " " << c.mover;
  }
  // A directory below a mount point can be exported.
  EXPECT_TRUE(client_.CreateNFSShare("/fs1/dir", "2", false, ok, ok, ok));
}

TEST_F(CommandTest, CheckpointOfUnloadedVdmCannotBeExported) {
  std::string id;
  ASSERT_TRUE(client_.CreateROChkPt("103", CELERRA_STG_UXFS, "", "u3", id));
  std::vector<std::string> none;
  for (const char* mover : {"2", "3"}) {
    EXPECT_FALSE(client_.CreateNFSShare("/u3", mover, false, none, none, none));
    EXPECT_EQ(LastCode(), "13691322369");
  }
}

TEST_F(CommandTest, ReExportReplacesHostLists) {
  std::vector<std::string> first{"a"}, second{"b"};
  ASSERT_TRUE(client_.CreateNFSShare("/fs1", "2", false, first, first, first));
  ASSERT_TRUE(
      client_.CreateNFSShare("/fs1", "2", false, second, second, second));
  std::vector<zkfiler::ExportView> exports;
  ASSERT_TRUE(zkfiler::ListExports("cs1", &exports).ok());
  EXPECT_EQ(exports.size(), 2u);
  EXPECT_EQ(exports[0].access_hosts, second);
}

TEST_F(CommandTest, DeleteExport) {
  EXPECT_TRUE(client_.DeleteNFSShare("/fs1", "2"));
  EXPECT_FALSE(client_.DeleteNFSShare("/fs1", "2"));
  EXPECT_EQ(LastCode(), "13691322370");
  EXPECT_FALSE(client_.DeleteNFSShare("/root_vdm_5/fs2", "3"));
  EXPECT_EQ(LastCode(), "13691322370");
  EXPECT_FALSE(client_.DeleteNFSShare("root_vdm_5", "2"));
  EXPECT_EQ(LastCode(), "13690535937");
  std::vector<zkfiler::ExportView> exports;
  ASSERT_TRUE(zkfiler::ListExports("cs1", &exports).ok());
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].path, "/root_vdm_5/fs2");
}

TEST_F(CommandTest, LoginIsCheckedOnEveryCommand) {
  struct Case {
    std::string host, user, password;
    const char* code;
  } cases[] = {
      {"nowhere", "admin", kPassword, "13958643713"},
      {"", "admin", kPassword, "13958643713"},
      {"cs1", "admin", "wrong", "13958643714"},
      {"cs1", "root", kPassword, "13958643714"},
      {"cs1", "admin", "", "13958643714"},
      {"cs2", "admin", kPassword, "13958643714"},
  };
  for (const Case& c : cases) {
    ManageCelerra client(3);
    client.SetControlHostInfo(c.host, c.user, c.password);
    std::list<CelerraChkPtInfo> list;
    EXPECT_FALSE(client.GetChkPointsInfo("", list)) << c.host << c.user;
    const CelerraError e = client.GetLastError();
    EXPECT_EQ(e.sMessageCode, c.code) << c.host << " " << c.user;
    EXPECT_EQ(AllText(e).find(kPassword), std::string::npos);
  }
}

TEST_F(CommandTest, LastErrorSurvivesReadsSuccessesAndCopies) {
  EXPECT_FALSE(CreateRO("12345").size());
  const CelerraError first = client_.GetLastError();
  EXPECT_EQ(first.sMessageCode, "13690535949");
  EXPECT_EQ(client_.GetLastError().sMessage, first.sMessage);
  EXPECT_FALSE(CreateRO("ok_name").empty());
  EXPECT_EQ(client_.GetLastError().sMessageCode, "13690535949");
  ManageCelerra copy;
  copy = client_;
  EXPECT_EQ(copy.GetLastError().sMessageCode, "13690535949");
  ManageCelerra fresh(5);
  EXPECT_EQ(fresh.GetLastError().nStatus, 0);
  EXPECT_TRUE(fresh.GetLastError().sMessageCode.empty());
}

}  // namespace
}  // namespace zkfiler_test
