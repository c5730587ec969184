// SPDX-License-Identifier: Apache-2.0
// What reaches the NFS server's configuration: the one rule for export
// paths, data directories and hosts (zkfiler load and CreateNFSShare apply
// it too: tests/filer/FilerServeRules_test.cpp), the configuration serve
// writes read back block by block with a strict reader, hostile values in
// every field that reaches it, export ids, what serve reads from the
// server's log, and export directories opened without following links.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "filerdata/FilerData.h"
#include "nfsserve/FilerServe.h"
#include "nfsserve/ServeRules.h"
#include "tests/nfsserve/GaneshaConfigReader.h"
#include "tests/nfsserve/HostileValues.h"

namespace zkfiler_test {
namespace {

using zkfiler::ServedText;

TEST(ServedTextTest, OneRuleForPathsDirectoriesAndHosts) {
  struct Case {
    ServedText kind;
    std::string value;
    bool ok;
  } cases[] = {
      // The plug-in's own export paths: clones, NAS sub-paths, VDM paths.
      {ServedText::kExportPath, "/nfs_1700000000_RW", true},
      {ServedText::kExportPath, "/fs_vmware", true},
      {ServedText::kExportPath, "/fs2/dirA", true},
      {ServedText::kExportPath, "/root_vdm_1/fs_finance/ds", true},
      {ServedText::kExportPath, "/snap.2024-01_x", true},
      {ServedText::kExportPath, "/0", true},
      {ServedText::kExportPath, "/0.0.0.0", true},
      {ServedText::kExportPath, "/", false},
      {ServedText::kExportPath, "fs1", false},
      {ServedText::kExportPath, "/fs1/", false},
      {ServedText::kExportPath, "/fs1//a", false},
      {ServedText::kExportPath, "/fs1/../etc", false},
      {ServedText::kExportPath, "/fs1/.", false},
      {ServedText::kExportPath, "/a%b", false},
      {ServedText::kExportPath, "/" + std::string(255, 'a'), true},
      {ServedText::kExportPath, "/" + std::string(256, 'a'), false},
      {ServedText::kExportPath, "", false},
      {ServedText::kDirectory, "/var/zk/st.data/cs1.example.com/fs/101", true},
      {ServedText::kDirectory, "/var/zk/st.data/a%22b/ckpt/7", true},
      {ServedText::kDirectory, "/var/zk/my state/x", false},
      {ServedText::kHost, "10.20.0.5", true},
      {ServedText::kHost, "backup01", true},
      {ServedText::kHost, "esx-1.zk.test", true},
      {ServedText::kHost, "host_2", true},
      {ServedText::kHost, "0", false},
      {ServedText::kHost, "0.0.0.0", false},
      {ServedText::kHost, "0.255.1.1", false},
      {ServedText::kHost, "0x0", false},
      {ServedText::kHost, "127.1", false},
      {ServedText::kHost, "010.0.0.1", false},
      {ServedText::kHost, "1.2.3.4.5", false},
      {ServedText::kHost, "-", true},
      {ServedText::kHost, "a..b", false},
      {ServedText::kHost, ".a", false},
      {ServedText::kAddress, "127.0.0.2", true},
      {ServedText::kAddress, "0.0.0.0", false},
      {ServedText::kAddress, "backup01", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.ok, zkfiler::ServedTextProblem(c.kind, c.value).empty())
        << static_cast<int>(c.kind) << " '" << c.value
        << "': " << zkfiler::ServedTextProblem(c.kind, c.value);
  }
  // A path of 1024 characters is taken, one more is not.
  std::string path;
  while (path.size() < 1024) path += "/" + std::string(99, 'p');
  path.resize(1024);
  EXPECT_EQ("", zkfiler::ServedTextProblem(ServedText::kExportPath, path));
  EXPECT_NE("",
            zkfiler::ServedTextProblem(ServedText::kExportPath, path + "p"));
  for (const std::string& h : Hostile()) {
    for (ServedText kind : {ServedText::kHost, ServedText::kAddress}) {
      EXPECT_NE("", zkfiler::ServedTextProblem(kind, h)) << h;
    }
    if (PlainAsAPath(h)) continue;
    EXPECT_NE("",
              zkfiler::ServedTextProblem(ServedText::kExportPath, "/fs1/" + h))
        << h;
  }
}

TEST(ServedTextTest, HostsResolvingToTheWildcardAreRefused) {
  HostsFile hosts(kHosts);
  EXPECT_EQ("", zkfiler::ExportHostProblem("goodhost"));
  EXPECT_EQ("", zkfiler::ExportHostProblem("not-there.invalid"));
  EXPECT_NE(std::string::npos,
            zkfiler::ExportHostProblem("anyhost").find("resolves to 0.0.0.0"));
  EXPECT_NE("", zkfiler::ExportHostProblem("zeronet"));
  EXPECT_NE("", zkfiler::ExportHostProblem("0"));
}

// The configuration serve writes for a set of exports, read back.
struct Written {
  std::string text;
  std::vector<std::string> warnings;
  std::vector<zknfs::ReadExport> exports;
  std::string error;
};

Written Write(const std::vector<zkfiler::ServedExport>& exports,
              zkfiler::ExportIds* ids = nullptr,
              const std::map<std::string, std::string>& identity = {}) {
  zkfiler::ExportIds own;
  zkfiler::GaneshaSettings settings;
  settings.port = 20490;
  settings.plugins_dir = "/usr/lib/x86_64-linux-gnu/ganesha";
  settings.recovery_dir = "/var/zk/st.serve-Ab12Cd/recovery";
  std::vector<zkfiler::ConfiguredExport> written;
  Written w;
  w.text = zkfiler::GaneshaConfig(settings, exports, identity,
                                  ids == nullptr ? &own : ids, &w.warnings,
                                  &written);
  const std::vector<zknfs::ConfigBlock> blocks =
      zknfs::ReadGaneshaConfig(w.text, &w.error);
  if (w.error.empty()) w.exports = zknfs::ReadExports(blocks, &w.error);
  return w;
}

zkfiler::ServedExport Export(const std::string& path, const std::string& dir,
                             std::vector<std::string> access = {},
                             std::vector<std::string> rw = {},
                             std::vector<std::string> root = {}) {
  zkfiler::ServedExport e;
  e.control_host = "cs1";
  e.mover_id = "2";
  e.path = path;
  e.dir = dir;
  e.access_hosts = std::move(access);
  e.rw_hosts = std::move(rw);
  e.root_hosts = std::move(root);
  return e;
}

zknfs::ReadExport Expected(const std::string& id, const std::string& pseudo,
                           const std::string& path,
                           std::map<std::string, std::set<std::string>> c) {
  zknfs::ReadExport e;
  e.id = id;
  e.pseudo = pseudo;
  e.path = path;
  e.access_type = c.empty() ? "RW" : "None";
  e.squash = "Root_Squash";
  e.clients = std::move(c);
  e.privileged_port = true;
  e.attr_expiration = "0";  // served as it is on disk now
  return e;
}

TEST(GaneshaConfigTest, EachExportBlockSaysExactlyWhatWasMeant) {
  HostsFile hosts(kHosts);
  const Written w = Write({
      Export("/fs_open", "/var/zk/st.data/cs1/fs/101"),
      Export("/fs2/dirA", "/var/zk/st.data/cs1/fs/102/dirA",
             {"127.0.0.6", "127.0.0.7", "goodhost"}, {"127.0.0.7"},
             {"127.0.0.7", "goodhost"}),
      Export("/snap_1_RW", "/var/zk/st.data/a%22b/ckpt/7", {"127.0.0.2"},
             {"127.0.0.2"}, {"127.0.0.2"}),
      Export("/fs_gone", "/var/zk/st.data/cs1/fs/103", {"not-there.invalid"}),
  });
  ASSERT_EQ("", w.error) << w.text;
  // Lists that name only hosts that do not resolve: no client at all.
  zknfs::ReadExport gone =
      Expected("4", "/fs_gone", "/var/zk/st.data/cs1/fs/103", {});
  gone.access_type = "None";
  const std::vector<zknfs::ReadExport> want = {
      Expected("1", "/fs_open", "/var/zk/st.data/cs1/fs/101", {}),
      Expected("2", "/fs2/dirA", "/var/zk/st.data/cs1/fs/102/dirA",
               {{"RO|Root_Squash", {"127.0.0.6"}},
                {"RO|No_Root_Squash", {"127.0.0.8"}},
                {"RW|No_Root_Squash", {"127.0.0.7"}}}),
      Expected("3", "/snap_1_RW", "/var/zk/st.data/a%22b/ckpt/7",
               {{"RW|No_Root_Squash", {"127.0.0.2"}}}),
      gone,
  };
  ASSERT_EQ(want.size(), w.exports.size()) << w.text;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_TRUE(want[i] == w.exports[i]) << "export " << i << "\n" << w.text;
  }
  ASSERT_EQ(1u, w.warnings.size());
  EXPECT_NE(std::string::npos, w.warnings[0].find("'not-there.invalid' does "
                                                  "not resolve"));
}

// Every field that reaches the configuration, with every hostile value:
// the export holding it is left out with a warning naming it, or (a value
// that is harmless there) written exactly; the configuration always reads
// back whole, and the well-behaved export beside it is intact.
TEST(GaneshaConfigTest, HostileValuesInEveryFieldNeverReachTheConfiguration) {
  HostsFile hosts(kHosts);
  const zkfiler::ServedExport good = Export(
      "/fs_ok", "/var/zk/st.data/cs1/fs/1", {"127.0.0.5"}, {"127.0.0.5"});
  const zknfs::ReadExport good_read =
      Expected("1", "/fs_ok", "/var/zk/st.data/cs1/fs/1",
               {{"RW|Root_Squash", {"127.0.0.5"}}});
  std::vector<std::string> values = Hostile();
  values.insert(values.end(), {"0", "0.0.0.0", "anyhost", "zeronet"});
  enum Field { kPath, kDir, kAccess, kRw, kRoot, kControlHost };
  for (const std::string& v : values) {
    for (Field f : {kPath, kDir, kAccess, kRw, kRoot, kControlHost}) {
      zkfiler::ServedExport e =
          Export("/fs_x", "/var/zk/st.data/cs1/fs/2", {"127.0.0.9"});
      // Only these are harmless where they stand: paths of plain
      // components.
      const bool plain = v == "0" || v == "0.0.0.0" || v == "anyhost" ||
                         v == "zeronet" || v == "10.0.0.0/0";
      bool served = false;
      switch (f) {
        case kPath:
          e.path = "/fs_x/" + v;
          served = plain;
          break;
        case kDir:
          e.dir = "/var/zk/st.data/cs1/fs/2/" + v;
          served = plain || v == "%dir";
          break;
        case kAccess:
          e.access_hosts.push_back(v);
          break;
        case kRw:
          e.rw_hosts.push_back(v);
          break;
        case kRoot:
          e.root_hosts.push_back(v);
          break;
        case kControlHost:
          // Names reach it only escaped, as part of the data directory.
          e.control_host = v;
          e.dir = zkfiler::data::FsDir("/var/zk/st.data", v, "2");
          served = zkfiler::data::Escape(v).size() <= 255;  // one component
          break;
      }
      SCOPED_TRACE("field " + std::to_string(f) + " value '" + v + "'");
      const Written w = Write({good, e});
      ASSERT_EQ("", w.error) << w.text;
      ASSERT_FALSE(w.exports.empty());
      EXPECT_TRUE(good_read == w.exports[0]) << w.text;
      if (served) {
        ASSERT_EQ(2u, w.exports.size()) << w.text;
        EXPECT_TRUE(
            Expected("2", e.path, e.dir, {{"RO|Root_Squash", {"127.0.0.9"}}}) ==
            w.exports[1])
            << w.text;
        EXPECT_TRUE(w.warnings.empty());
      } else {
        EXPECT_EQ(1u, w.exports.size()) << w.text;
        ASSERT_EQ(1u, w.warnings.size());
        EXPECT_NE(std::string::npos,
                  w.warnings[0].find("of mover 2 on " + e.control_host +
                                     ": not served: "))
            << w.warnings[0];
      }
    }
  }
  // The server's own directories are checked too: nothing is written.
  zkfiler::ExportIds ids;
  zkfiler::GaneshaSettings settings;
  settings.plugins_dir = "/usr/lib/ganesha";
  for (const std::string& v : Hostile()) {
    if (v == "%dir" || v == "10.0.0.0/0") continue;  // plain components
    settings.recovery_dir = "/var/zk/" + v;
    std::vector<std::string> warnings;
    std::vector<zkfiler::ConfiguredExport> written;
    EXPECT_EQ("", zkfiler::GaneshaConfig(settings, {good}, {}, &ids, &warnings,
                                         &written))
        << v;
    EXPECT_EQ(1u, warnings.size());
  }
}

TEST(GaneshaConfigTest, ExportIdsFollowTheDirectoryAndRestBeforeReuse) {
  zkfiler::ExportIds ids;
  const zkfiler::ServedExport a = Export("/a", "/d/a");
  const zkfiler::ServedExport b = Export("/b", "/d/b");
  Written w = Write({a, b}, &ids, {{"/d/a", "1:10"}, {"/d/b", "1:11"}});
  ASSERT_EQ(2u, w.exports.size());
  EXPECT_EQ("1", w.exports[0].id);
  EXPECT_EQ("2", w.exports[1].id);
  // The same: the same ids, the same text.
  const std::string before = w.text;
  w = Write({a, b}, &ids, {{"/d/a", "1:10"}, {"/d/b", "1:11"}});
  EXPECT_EQ(before, w.text);
  // /a's directory replaced (a revert, a new clone at the same path): a
  // new export to the server; 1 is not reused while the server still has
  // it.
  w = Write({a, b}, &ids, {{"/d/a", "1:12"}, {"/d/b", "1:11"}});
  EXPECT_EQ("3", w.exports[0].id);
  EXPECT_EQ("2", w.exports[1].id);
  const zkfiler::ServedExport c = Export("/c", "/d/c");
  w = Write({a, b, c}, &ids, {{"/d/a", "1:12"}, {"/d/b", "1:11"}});
  EXPECT_EQ("4", w.exports[2].id) << "1 rests one configuration";
  w = Write({a, b, c, Export("/e", "/d/e")}, &ids,
            {{"/d/a", "1:12"}, {"/d/b", "1:11"}});
  EXPECT_EQ("1", w.exports[3].id) << "then it is free again";
}

// Lines of ganesha 4.3's log, as written with the configuration serve
// writes (shortened to what matters).
std::string L(const std::string& thread, const std::string& rest) {
  return "11/12/2026 12:44:07 : epoch 6b1bf017 : vm : ganesha.nfsd-13970[" +
         thread + "] " + rest + "\n";
}

TEST(ServerLogTest, StartReloadAndEachExportAreReadFromTheLog) {
  std::vector<zkfiler::ConfiguredExport> exports(3);
  const char* paths[] = {"/ex1", "/ex2", "/ex3"};
  for (int i = 0; i < 3; ++i) {
    exports[i].id = i + 1;
    exports[i].path = paths[i];
    exports[i].dir = std::string("/d") + paths[i];
    exports[i].first_line = 20 + 10 * i;
    exports[i].last_line = 29 + 10 * i;
  }
  const std::string created1 =
      L("main",
        "export_commit_common :CONFIG :INFO :Export 1 created at pseudo (/ex1) "
        "with path (/d/ex1) and tag ((null)) perms (options=03202002)");
  const std::string created3 =
      L("main",
        "export_commit_common :CONFIG :INFO :Export 3 created at pseudo (/ex3) "
        "with path (/d/ex3) and tag ((null)) perms (options=03202002)");
  const std::string eloop =
      L("main",
        "init_export_root :EXPORT :CRIT :Lookup failed on path, ExportId=3 "
        "Path=/d/ex3 FSAL_ERROR=(Undefined server error,40)");
  const std::string no_dir =
      L("main",
        "fsal_cfg_commit :CONFIG :CRIT :Could not create export for (/ex2) to "
        "(/d/ex2)");
  const std::string up =
      L("main",
        "nfs_start :NFS STARTUP :EVENT :             NFS SERVER "
        "INITIALIZED");
  // Up to its start: not done yet.
  zkfiler::LogVerdict v =
      zkfiler::ReadServerLog(created1 + created3 + no_dir, false, exports);
  EXPECT_FALSE(v.done);
  v = zkfiler::ReadServerLog(created1 + created3 + no_dir + eloop + up, false,
                             exports);
  EXPECT_TRUE(v.done);
  EXPECT_TRUE(v.accepted);
  EXPECT_EQ(std::set<int>{1}, v.taken);
  ASSERT_EQ(2u, v.failed.size());
  EXPECT_NE(std::string::npos, v.failed[3].find("Lookup failed on path"));
  EXPECT_NE(std::string::npos, v.failed[2].find("Could not create export"));
  // A start that fails.
  v = zkfiler::ReadServerLog(
      L("main", "main :MAIN :FATAL :fcntl(3) failed, Ganesha already started"),
      false, exports);
  EXPECT_TRUE(v.done);
  EXPECT_FALSE(v.accepted);
  EXPECT_NE(std::string::npos, v.refusal.find("already started"));

  // A reload: only what follows its SIGHUP counts.
  const std::string hup =
      L("sigmgr",
        "sigmgr_thread :MAIN :EVENT :SIGHUP_HANDLER: Received SIGHUP.... "
        "initiating export list reload");
  const std::string updated =
      L("sigmgr",
        "export_commit_common :CONFIG :INFO :Export 1 updated at pseudo (/ex1) "
        "with path (/d/ex1) and tag ((null)) perms (options=03202002)");
  const std::string complete =
      L("sigmgr", "reread_exports :CONFIG :EVENT :Reread exports complete");
  const std::string bad_client =
      L("sigmgr",
        "config_errs_to_log :CONFIG :CRIT :Config File (/r/ganesha.conf:35): "
        "Client (x) not found because Name or service not known");
  v = zkfiler::ReadServerLog(created3 + hup + updated, true, exports);
  EXPECT_FALSE(v.done);
  EXPECT_TRUE(v.taken.count(3) == 0) << "a line before the SIGHUP";
  v = zkfiler::ReadServerLog(hup + updated + bad_client + complete, true,
                             exports);
  EXPECT_TRUE(v.done);
  EXPECT_TRUE(v.accepted);
  EXPECT_EQ(std::set<int>{1}, v.taken);
  EXPECT_NE(std::string::npos, v.failed[2].find("Client (x) not found"));
  // A reload it refused whole: not accepted, and why.
  v = zkfiler::ReadServerLog(
      hup +
          L("sigmgr",
            "ganesha_yyerror :CONFIG :CRIT :Config file (/r/ganesha.conf:28) "
            "error: syntax error") +
          L("sigmgr",
            "reread_config :CONFIG :CRIT :Error while parsing new "
            "configuration file /r/ganesha.conf"),
      true, exports);
  EXPECT_TRUE(v.done);
  EXPECT_FALSE(v.accepted);
  EXPECT_NE(std::string::npos, v.refusal.find("syntax error"));
  // A new id for a path the server still holds under the old one.
  v = zkfiler::ReadServerLog(
      hup +
          L("sigmgr",
            "export_commit_common :CONFIG :CRIT :Pseudo path (/ex3) is a "
            "duplicate") +
          complete,
      true, exports);
  EXPECT_TRUE(v.accepted);
  EXPECT_NE(std::string::npos, v.failed[3].find("is a duplicate"));
  // A line for an export with another path is not this export's.
  v = zkfiler::ReadServerLog(
      hup +
          L("sigmgr",
            "export_commit_common :CONFIG :INFO :Export 1 updated at pseudo "
            "(/ex1) with path (/d/other) and tag ((null))") +
          complete,
      true, exports);
  EXPECT_TRUE(v.taken.empty());
}

class ExportDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zk_exportdir_XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(tmpl));
    top_ = tmpl;
    root_ = top_ + "/st.data";
    ASSERT_EQ(0, ::mkdir(root_.c_str(), 0700));
    ASSERT_EQ(0, ::mkdir((root_ + "/fs").c_str(), 0750));
    ASSERT_EQ(0, ::mkdir((top_ + "/outside").c_str(), 0755));
  }
  void TearDown() override { zkfiler::data::RemoveTree(top_); }
  std::string top_, root_;
};

TEST_F(ExportDirTest, MadeByDescriptorWithoutFollowingLinks) {
  ASSERT_EQ(
      0, ::symlink((top_ + "/outside").c_str(), (root_ + "/fs/link").c_str()));
  std::string identity;
  for (const char* dir : {"/fs/link", "/fs/link/sub", "/fs/link/a/b"}) {
    identity.clear();
    const std::string why =
        zkfiler::OpenExportDir(root_, root_ + dir, &identity);
    EXPECT_NE(std::string::npos, why.find("'fs/link' is a symbolic link"))
        << dir << ": " << why;
    EXPECT_EQ("", identity);
  }
  struct stat st;
  EXPECT_NE(0, ::lstat((top_ + "/outside/sub").c_str(), &st));
  EXPECT_NE(0, ::lstat((top_ + "/outside/a").c_str(), &st));
  // Outside the data directory altogether: refused.
  EXPECT_NE("", zkfiler::OpenExportDir(root_, top_ + "/outside", &identity));
  EXPECT_NE("", zkfiler::OpenExportDir(root_, root_ + "x/fs", &identity));
  // A '..' component never walks out of it, nor makes anything there.
  for (const char* dir :
       {"/fs/../../outside/made", "/../outside/made", "/fs/./a"}) {
    EXPECT_NE("", zkfiler::OpenExportDir(root_, root_ + dir, &identity)) << dir;
  }
  EXPECT_NE(0, ::lstat((top_ + "/outside/made").c_str(), &st));
  // Missing directories are made with the owner and mode of their parent.
  EXPECT_EQ("", zkfiler::OpenExportDir(root_, root_ + "/fs/a/b", &identity));
  ASSERT_EQ(0, ::lstat((root_ + "/fs/a/b").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(0750u, st.st_mode & 07777);
  EXPECT_EQ(std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino),
            identity);
  // A file in the way is no directory.
  std::ofstream(root_ + "/fs/file") << "x";
  EXPECT_NE("", zkfiler::OpenExportDir(root_, root_ + "/fs/file", &identity));
}

}  // namespace
}  // namespace zkfiler_test
