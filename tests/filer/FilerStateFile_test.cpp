// SPDX-License-Identifier: Apache-2.0
// State files shared by processes: loads racing to create one, clients
// running while a load replaces the state, read-only files and folders,
// and names that are not plain paths.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/filer/FilerProcessUtil.h"
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

constexpr const char* kStatePassword = "State-Pw-5517";

// A file server with `n` file systems, each exported.
std::string Layout(const std::string& host, int n) {
  std::string text = "server " + host + "\n  login admin \"" + kStatePassword +
                     "\"\n  mover 2\n";
  for (int i = 0; i < n; ++i) {
    const std::string id = std::to_string(1000 + i);
    text += "  fs " + id + " name=fs" + id + " mover=2 mount=/fs" + id +
            " extra=pool\n";
    text += "  export /fs" + id + " mover=2 access=h" + id + "\n";
  }
  return text + "  checkpoint base fs=1000\n";
}

class StateFileTest : public ScratchTest {
 protected:
  std::string Bin() { return ZKFILER_BIN; }
  std::string Path(const std::string& name) { return dir_ + "/" + name; }
  std::string ReadTrimmed(const std::string& path) {
    std::string text = ReadBytes(path);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
};

TEST_F(StateFileTest, TwoLoadsRacingOnANewStateFileBothSucceed) {
  WriteFile(Path("a.txt"), Layout("csa", 200));
  WriteFile(Path("b.txt"), Layout("csb", 200));
  for (int round = 0; round < 6; ++round) {
    const std::string db = Path("race" + std::to_string(round) + ".db");
    const std::string tag = std::to_string(round);
    auto load = [&](const char* which) {
      const std::string out = Path(std::string("out_") + which + tag);
      return "(" + Bin() + " --db " + Quote(db) + " load " +
             Quote(Path(std::string(which) + ".txt")) + " > " + Quote(out) +
             " 2>&1; echo $? > " + Quote(out + ".rc") + ")";
    };
    ASSERT_EQ(Shell(load("a") + " & " + load("b") + " & wait").status, 0);
    for (const char* which : {"a", "b"}) {
      const std::string out = Path(std::string("out_") + which + tag);
      EXPECT_EQ(ReadTrimmed(out + ".rc"), "0") << ReadBytes(out);
      EXPECT_EQ(ReadBytes(out), "") << "round " << round;
    }
    Outcome show = Shell(Bin() + " --db " + Quote(db) + " show");
    ASSERT_EQ(show.status, 0) << show.output;
    EXPECT_NE(show.output.find("server csa "), std::string::npos);
    EXPECT_NE(show.output.find("server csb "), std::string::npos);
  }
  // No half-made state file is left behind.
  for (const std::string& name : Entries(dir_)) {
    EXPECT_EQ(name.find("zkfiler-new"), std::string::npos) << name;
    EXPECT_EQ(name.find("-journal"), std::string::npos) << name;
  }
}

// A client polling all along sees the control host before or after each
// reload, never gone, and never finds the state file locked.
TEST_F(StateFileTest, ClientRunsThroughLoadReset) {
  WriteFile(Path("big.txt"), Layout("cs1", 2000));
  ASSERT_EQ(Zkfiler("load " + Quote(Path("big.txt"))).status, 0);
  const std::string loads =
      "while [ ! -e " + Quote(Path("stop")) + " ]; do " + Bin() + " --db " +
      Quote(db_) + " load --reset " + Quote(Path("big.txt")) + " >> " +
      Quote(Path("loads.out")) + " 2>&1 || echo load-failed >> " +
      Quote(Path("loads.out")) + "; echo x >> " + Quote(Path("count")) +
      "; done";
  const std::string client = "ZK_FILER_DB=" + Quote(db_) +
                             " ZK_TEST_PASSWORD=" + Quote(kStatePassword) +
                             " " + FILER_CLIENT_BIN +
                             " cs1 admin poll 300 1000";
  Outcome run =
      Shell("(" + loads + ") & " + "sleep 0.2; " + client + "; rc=$?; touch " +
            Quote(Path("stop")) + "; wait; exit $rc");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "polled 300\n");
  EXPECT_EQ(ReadBytes(Path("loads.out")), "");
  // The loads did run alongside the client.
  EXPECT_GE(ReadBytes(Path("count")).size(), 2u);
}

// Runs a zkfiler command line (`zk` is the binary) as a user that cannot
// write the file when this process is root (file modes do not stop root).
// That user may not reach the build tree, so it runs a copy of zkfiler and
// its library from `bin`.
Outcome AsReader(const std::string& bin, const std::string& args) {
  if (::geteuid() == 0) {
    return Shell("LD_LIBRARY_PATH=" + Quote(bin) +
                 " setpriv --reuid=65534 --regid=65534 --clear-groups " +
                 Quote(bin + "/zkfiler") + " " + args);
  }
  return Shell(std::string(ZKFILER_BIN) + " " + args);
}

TEST_F(StateFileTest, ReadOnlyStateFileServesReadsAndRefusesWrites) {
  if (::geteuid() == 0 && Shell("command -v setpriv").status != 0) {
    GTEST_SKIP() << "running as root without setpriv";
  }
  const std::string bin = Path("bin");
  ASSERT_EQ(Shell("mkdir -p " + Quote(bin) + " && cp " + ZKFILER_BIN + " " +
                  FILER_LIB_DIR + "/libzkManageCelerra.so* " + Quote(bin))
                .status,
            0);
  WriteFile(Path("l.txt"), Layout("cs1", 3));
  ASSERT_EQ(Zkfiler("load " + Quote(Path("l.txt"))).status, 0);
  ASSERT_EQ(Zkfiler("latency 0").status, 0);
  const std::string show_before = Zkfiler("show").output;
  ASSERT_EQ(::chmod(db_.c_str(), 0444), 0);
  const struct {
    const char* label;
    mode_t dir_mode;
  } folders[] = {{"writable folder", 0777}, {"read-only folder", 0555}};
  for (const auto& folder : folders) {
    SCOPED_TRACE(folder.label);
    ASSERT_EQ(::chmod(dir_.c_str(), folder.dir_mode), 0);
    const std::string bytes = ReadBytes(db_);
    const std::set<std::string> entries = Entries(dir_);
    const std::string zk = "--db " + Quote(db_) + " ";

    Outcome show = AsReader(bin, zk + "show");
    EXPECT_EQ(show.status, 0) << show.output;
    EXPECT_EQ(show.output, show_before);
    Outcome journal = AsReader(bin, zk + "journal");
    EXPECT_EQ(journal.status, 0) << journal.output;
    Outcome latency = AsReader(bin, zk + "latency 5");
    EXPECT_EQ(latency.status, 1) << latency.output;
    EXPECT_NE(latency.output.find("zkfiler: file server state '" + db_ + "'"),
              std::string::npos)
        << latency.output;
    Outcome load = AsReader(bin, zk + "load --reset " + Quote(Path("l.txt")));
    EXPECT_EQ(load.status, 1) << load.output;

    EXPECT_EQ(ReadBytes(db_), bytes);
    EXPECT_EQ(Entries(dir_), entries);
  }
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
}

TEST_F(StateFileTest, NamesThatAreNotPlainPathsAreRefused) {
  for (const std::string& name :
       {std::string(":memory:"), "file:" + Path("x.db"),
        "file:" + Path("x.db") + "?mode=memory", std::string()}) {
    zkfiler::Status s = zkfiler::CreateStateFile(name);
    EXPECT_FALSE(s.ok()) << name;
    EXPECT_FALSE(zkfiler::UseStateFile(name).ok()) << name;
  }
  EXPECT_NE(
      zkfiler::CreateStateFile(":memory:").message().find("not a file path"),
      std::string::npos);
  EXPECT_TRUE(Entries(dir_).empty());
}

TEST_F(StateFileTest, CreateKeepsAnExistingStateFile) {
  ASSERT_TRUE(zkfiler::CreateStateFile(db_).ok());
  ASSERT_TRUE(zkfiler::LoadLayoutText(Layout("cs1", 1)).ok());
  ASSERT_TRUE(zkfiler::CreateStateFile(db_).ok());
  std::vector<zkfiler::ServerLayout> servers;
  ASSERT_TRUE(zkfiler::ListServers(&servers).ok());
  EXPECT_EQ(servers.size(), 1u);
}

}  // namespace
}  // namespace zkfiler_test
