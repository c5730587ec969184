// SPDX-License-Identifier: Apache-2.0
// Layout files and the C++ builder: what loads, what is refused and how.
#include <algorithm>
#include <set>

#include "filer/LayoutFile.h"
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(zkfiler::UseInMemoryStore().ok()); }
};

TEST_F(LayoutTest, ExampleFileLoads) {
  zkfiler::Status s = zkfiler::LoadLayoutFile(EXAMPLE_LAYOUT);
  ASSERT_TRUE(s.ok()) << s.ToString();
  std::vector<zkfiler::ServerLayout> servers;
  ASSERT_TRUE(zkfiler::ListServers(&servers).ok());
  ASSERT_EQ(servers.size(), 2u);
  const zkfiler::ServerLayout& cs1 = servers[0];
  EXPECT_EQ(cs1.control_host, "cs1.example.com");
  EXPECT_TRUE(cs1.password.empty());
  EXPECT_EQ(cs1.file_systems.size(), 3u);
  EXPECT_EQ(cs1.exports.size(), 3u);
  ASSERT_EQ(cs1.checkpoints.size(), 2u);
  EXPECT_EQ(cs1.checkpoints[1].baseline_name, "nightly_1");
  EXPECT_EQ(servers[1].limits.ro_per_fs, 2);

  // The quoted password logs in; the writable checkpoint has an export path.
  ManageCelerra client(1);
  client.SetControlHostInfo("cs1.example.com", "nasadmin", "demo secret");
  std::string path;
  ASSERT_TRUE(Celerra_GetSnapDeviceNameWithManageCelerra(
      client, "/fs_vmware", "101", "", "nightly_1_rw", path));
  EXPECT_EQ(path, "/nightly_1_rw");
  std::vector<CelerraCifsServer_t> cifs;
  ASSERT_TRUE(client.GetCifsServers(cifs, ""));
  EXPECT_EQ(cifs[0].sInterfaces, "10.10.0.21 (cge0)");
}

TEST_F(LayoutTest, NewCheckpointIdsFollowTheLayoutsIds) {
  ASSERT_TRUE(zkfiler::LoadLayoutText(R"(
server cs
  login u p
  mover 2
  fs 500 name=fs mover=2 mount=/fs
  checkpoint old fs=500 id=700
)")
                  .ok());
  ManageCelerra client(1);
  client.SetControlHostInfo("cs", "u", "p");
  std::string id;
  ASSERT_TRUE(client.CreateROChkPt("500", CELERRA_STG_UXFS, "", "new", id));
  EXPECT_EQ(id, "701");
}

TEST_F(LayoutTest, SyntaxErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* expect;
  } cases[] = {
      {"mover 2\n", "x:1: 'mover' before the first 'server' line"},
      {"server a\n login u p\n disk 3\n", "x:3: unknown keyword 'disk'"},
      {"server a\n login u p\n mover\n", "x:3: 'mover' needs a name or id"},
      {"server a\n login u p\n mover 2 speed=9\n", "x:3: unknown key 'speed'"},
      {"server a\n login u p\n mover 2 name=a name=b\n",
       "x:3: key 'name' given twice"},
      {"server a\n login u p\n fs 1 name=f mount=/f\n",
       "x:3: 'fs' needs exactly one of mover= or vdm="},
      {"server a\n login u p\n fs 1 mover=2 mount=/f\n",
       "x:3: 'fs' needs name="},
      {"server a\n login u p\n limits ro_per_fs=-1\n",
       "x:3: ro_per_fs must be a number"},
      {"server a\n login u p\n limits speed=1\n", "x:3: unknown limit 'speed'"},
      {"server a\n login u \"p\n", "x:2: unterminated quote"},
      {"server a\n mover 2\n", "x:1: server 'a' has no 'login' line"},
      {"server\n", "x:1: 'server' takes one control host"},
  };
  for (const Case& c : cases) {
    std::vector<zkfiler::ServerLayout> out;
    zkfiler::Status s = zkfiler::ParseLayout(c.text, "x", &out);
    EXPECT_FALSE(s.ok()) << c.text;
    EXPECT_NE(s.message().find(c.expect), std::string::npos)
        << s.message() << " / wanted: " << c.expect;
    EXPECT_TRUE(out.empty());
  }
}

// A malformed login line is refused, naming file and line, without any
// piece of the line: a misplaced quote can put the password in the user.
TEST_F(LayoutTest, LoginErrorsNeverRepeatThePassword) {
  const std::string pw = "Secret-77";
  const std::string long_user = "\"" + pw + std::string(300, 'u') + "\"";
  const struct {
    std::string text;
    const char* expect;
  } cases[] = {
      {"server a\n login u " + pw + " extra\n",
       "x:2: 'login' takes a user and a password"},
      {"server a\n login u " + pw + " timeout=5\n",
       "x:2: 'login' takes a user and a password"},
      {"server a\n login " + pw + "\n", "x:2: 'login' takes a user and a"},
      {"server a\n login \"u " + pw + "\"\n", "x:2: 'login' takes a user"},
      {"server a\n login u \"" + pw + "\n", "x:2: unterminated quote"},
      {"server a\n login u " + pw + std::string(1, '\0') + "\n",
       "x:2: holds a NUL byte"},
      {"server a\n login u p\n login u " + pw + "\n",
       "x:3: second 'login' line for server 'a' (the first is at line 2)"},
      {"server a\n login u " + pw + "\nserver a\n login u " + pw + "\n",
       "x:3: second 'server' block for control host 'a'"},
      {"server a\n mover 2\n login u\" \"" + pw + " extra\n",
       "x:3: server 'a': login user holds an invalid character"},
      {"server a\n login \"u," + pw + "\" p\n",
       "x:2: server 'a': login user holds an invalid character"},
      {"server a\n login " + long_user + " p\n",
       "x:2: server 'a': login user is longer than 255 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    zkfiler::Status s = zkfiler::LoadLayoutText(c.text, "x");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.expect), std::string::npos)
        << s.message() << " / wanted: " << c.expect;
    EXPECT_EQ(s.message().find(pw), std::string::npos) << s.message();
    std::vector<zkfiler::ServerLayout> servers;
    ASSERT_TRUE(zkfiler::ListServers(&servers).ok());
    EXPECT_TRUE(servers.empty());
  }
}

TEST_F(LayoutTest, InconsistentLayoutsAreRefusedWhole) {
  const std::string head =
      "server a\n login u p\n mover 2\n vdm 5 mover=2\n"
      " fs 1 name=f1 mover=2 mount=/f1\n";
  struct Case {
    std::string tail;
    const char* expect;
  } cases[] = {
      {" vdm 6 mover=9\n", "unknown mover of VDM '9'"},
      {" mover 2\n", "duplicate mover id '2'"},
      {" fs 1 name=f2 mover=2 mount=/f2\n", "duplicate id '1'"},
      {" fs 2 name=f1 mover=2 mount=/f2\n", "duplicate name 'f1'"},
      {" fs 2 name=f2 mover=2 mount=f2\n", "is not an absolute path"},
      {" fs 2 name=f2 mover=2 mount=/f2/\n", "is not an absolute path"},
      {" fs 2 name=f2 vdm=2 mount=/f2\n", "unknown VDM of file system '2'"},
      {" fs 2 name=f|2 mover=2 mount=/f2\n", "holds an invalid character"},
      {" fs 2 name=f2 mover=2 mount=/f1\n", "duplicate mount point"},
      {" share s fs=9 mover=2\n", "unknown file system of share '9'"},
      {" cifs-server c vdm=9\n", "unknown VDM of CIFS server '9'"},
      {" export /f9 mover=2\n", "export path '/f9' is not mounted"},
      {" export /f1 mover=5\n", "unknown mover of export '5'"},
      {" checkpoint 123 fs=1\n", "is all digits"},
      {" checkpoint f1 fs=1\n", "duplicate name 'f1'"},
      {" checkpoint c fs=1 baseline=none\n", "baseline 'none'"},
      {" checkpoint c fs=1\n checkpoint d fs=1 id=1\n", "duplicate id '1'"},
  };
  for (const Case& c : cases) {
    zkfiler::Status s = zkfiler::LoadLayoutText(head + c.tail, "lay");
    EXPECT_FALSE(s.ok()) << c.tail;
    EXPECT_NE(s.message().find(c.expect), std::string::npos)
        << s.message() << " / wanted: " << c.expect;
    std::vector<zkfiler::ServerLayout> servers;
    ASSERT_TRUE(zkfiler::ListServers(&servers).ok());
    EXPECT_TRUE(servers.empty()) << c.tail;
  }
}

TEST_F(LayoutTest, ReloadReplacesOnlyThatControlHost) {
  ASSERT_TRUE(zkfiler::LoadLayoutText(kLayout).ok());
  ManageCelerra client(1);
  client.SetControlHostInfo("cs1", "admin", kPassword);
  std::string id;
  ASSERT_TRUE(client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "c", id));
  ASSERT_TRUE(
      zkfiler::LoadLayoutText("server cs2\n login admin new\n mover 1\n").ok());
  std::vector<zkfiler::CheckpointView> all;
  ASSERT_TRUE(zkfiler::ListCheckpoints("", &all).ok());
  EXPECT_EQ(all.size(), 1u);
  ManageCelerra c2(1);
  c2.SetControlHostInfo("cs2", "admin", "new");
  std::string mover;
  EXPECT_FALSE(c2.GetMoverForVdm("5", mover));
  EXPECT_EQ(c2.GetLastError().sMessageCode, "13691060226");
}

TEST_F(LayoutTest, BuilderMakesTheSameServerAsTheText) {
  zkfiler::ServerLayout layout("cs9", "admin", "pw");
  layout.Mover("2", {"10.0.0.2"})
      .Vdm("5", "2")
      .CifsServer("VNAS", "5", "10.0.0.5", true)
      .FileSystem("101", "fs1", "5", "/fs1", true)
      .CifsShare("sh", "101", "5", true)
      .Export("/root_vdm_5/fs1", "2", {"h1"})
      .Checkpoint("base", "101")
      .Checkpoint("base_rw", "101", "base");
  layout.limits.rw_per_baseline = 2;
  zkfiler::Status s = zkfiler::Install(layout);
  ASSERT_TRUE(s.ok()) << s.ToString();
  ManageCelerra client(1);
  client.SetControlHostInfo("cs9", "admin", "pw");
  CelerraMountPointsInfo_t info;
  EXPECT_TRUE(client.GetMountPointInfo(info, "5", "/fs1", true));
  std::list<CelerraChkPtInfo> list;
  ASSERT_TRUE(client.GetChkPointsInfo("101", list));
  ASSERT_EQ(list.size(), 2u);
  std::string base = list.front().sChkptId, id;
  EXPECT_TRUE(client.CreateRWChkPt("101", CELERRA_STG_UXFS, "", "rw2", false,
                                   base, id));
  std::string fs, mover;
  bool on_vdm = false;
  std::vector<std::string> a, r, o;
  ASSERT_TRUE(client.GetNFSInfo("/root_vdm_5/fs1", fs, on_vdm, mover, a, r, o));
  EXPECT_EQ(a, std::vector<std::string>{"h1"});
}

// Errors found after parsing name the line and the item, like syntax
// errors do.
TEST_F(LayoutTest, RuleErrorsNameLineAndItem) {
  const std::string head = "server a\n login u p\n mover 2\n";  // lines 1-3
  struct Case {
    std::string tail;  // from line 4
    const char* expect;
  } cases[] = {
      {" mover 2\n",
       "lay:4: mover '2': duplicate mover id '2' (also at line "
       "3)"},
      {" vdm 5 mover=7\n mover 7\n",
       "lay:4: vdm '5': mover of VDM '7' is declared below, at line 5"},
      {" cifs-server c vdm=5\n vdm 5 mover=2\n",
       "lay:4: cifs-server 'c': VDM of CIFS server '5' is declared below"},
      {" fs 1 name=f mover=2 mount=/f\n fs 2 name=f mover=2 mount=/g\n",
       "lay:5: fs '2': duplicate name 'f' (also at line 4)"},
      {" fs 1 name=f mover=2 mount=/f/./g\n", "lay:4: fs '1': mount path"},
      {" fs 1 name=f mover=2 mount=/f extra=\"a\tb\"\n",
       "lay:4: fs '1': storage details (extra=) 'a\\x09b' holds a control "
       "character"},
      {" export /f mover=2\n fs 1 name=f mover=2 mount=/f\n",
       "lay:4: export '/f': export path '/f' lies in '1', which is declared "
       "below, at line 5"},
      {" export /g mover=2\n",
       "lay:4: export '/g': export path '/g' is not "
       "mounted on mover '2'"},
      {" fs 1 name=f mover=2 mount=/f\n checkpoint c fs=1\n"
       " checkpoint w1 fs=1 baseline=c\n checkpoint w2 fs=1 baseline=c\n",
       "lay:7: checkpoint 'w2': checkpoint 'c' would have more than "
       "rw_per_baseline=1 writable checkpoints"},
      {" fs 1 name=f mover=2 mount=/f\n checkpoint c fs=1\n"
       " checkpoint d fs=c\n",
       "lay:6: checkpoint 'd': unknown file system of checkpoint 'c'"},
      {" mover 3 name=\"x y\"\n",
       "lay:4: mover '3': mover name 'x\\x20y' holds an invalid character"},
  };
  for (const Case& c : cases) {
    zkfiler::Status s = zkfiler::LoadLayoutText(head + c.tail, "lay");
    EXPECT_FALSE(s.ok()) << c.tail;
    EXPECT_NE(s.message().find(c.expect), std::string::npos)
        << s.message() << " / wanted: " << c.expect;
    std::vector<zkfiler::ServerLayout> servers;
    ASSERT_TRUE(zkfiler::ListServers(&servers).ok());
    EXPECT_TRUE(servers.empty()) << c.tail;
  }
}

TEST_F(LayoutTest, BuilderErrorsNameTheControlHostAndItem) {
  zkfiler::ServerLayout layout("cs9", "admin", "pw");
  layout.Mover("2").Vdm("5", "2");
  layout.vdms.back().name = "a,b";
  zkfiler::Status s = zkfiler::Install(layout);
  EXPECT_EQ(s.message(),
            "layout of control host 'cs9': vdm '5': VDM name 'a,b' holds an "
            "invalid character (blank, control character, ',' or '|')");
  layout.vdms.back().name = "vdm_5";
  layout.limits.ro_per_fs = 2000000;
  EXPECT_FALSE(zkfiler::Install(layout).ok());
  layout.limits.ro_per_fs = 1;
  layout.FileSystem("101", "fs1", "2", "/fs1")
      .Checkpoint("a", "101")
      .Checkpoint("b", "101");
  s = zkfiler::Install(layout);
  EXPECT_NE(s.message().find("would have more than ro_per_fs=1"),
            std::string::npos)
      << s.message();
}

// A checkpoint id handed out once is never handed out again by the store,
// even after the layout of its control host is loaded again or the store
// is emptied.
TEST_F(LayoutTest, CheckpointIdsAreNeverReusedAcrossReloads) {
  const std::string text =
      "server cs\n login u p\n mover 2\n fs 101 name=fs mover=2 "
      "mount=/fs\n";
  ASSERT_TRUE(zkfiler::LoadLayoutText(text).ok());
  ManageCelerra client(1);
  client.SetControlHostInfo("cs", "u", "p");
  std::set<std::string> ids;
  for (int round = 0; round < 3; ++round) {
    std::string id;
    ASSERT_TRUE(client.CreateROChkPt("101", CELERRA_STG_UXFS, "",
                                     "c" + std::to_string(round), id));
    EXPECT_TRUE(ids.insert(id).second) << "id " << id << " reused";
    if (round == 0) {
      ASSERT_TRUE(zkfiler::LoadLayoutText(text).ok());
    } else {
      ASSERT_TRUE(zkfiler::Reset().ok());
      ASSERT_TRUE(zkfiler::LoadLayoutText(text).ok());
    }
  }
}

TEST_F(LayoutTest, ExportResolvesToTheDeepestMountPoint) {
  ASSERT_TRUE(zkfiler::LoadLayoutText(R"(
server cs
  login u p
  mover 2
  fs 1 name=outer mover=2 mount=/a
  fs 2 name=inner mover=2 mount=/a/b
  checkpoint ck fs=1
  export /a/b/c mover=2
  export /a/x mover=2
  export /ck/dir mover=2
)")
                  .ok());
  std::vector<zkfiler::ExportView> exports;
  ASSERT_TRUE(zkfiler::ListExports("cs", &exports).ok());
  ASSERT_EQ(exports.size(), 3u);
  EXPECT_EQ(exports[0].fs_id, "2");
  EXPECT_EQ(exports[1].fs_id, "1");
  EXPECT_EQ(exports[2].fs_id, "100");
}

TEST_F(LayoutTest, MissingLayoutFileIsNamed) {
  zkfiler::Status s = zkfiler::LoadLayoutFile("/nonexistent/layout.txt");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("/nonexistent/layout.txt"), std::string::npos);
}

}  // namespace
}  // namespace zkfiler_test
