// SPDX-License-Identifier: Apache-2.0
// The one rule for served text as the control station applies it: a
// layout whose export paths or hosts would reach the NFS server's
// configuration unsafely is refused by zkfiler load (naming the line), and
// so are such arguments of CreateNFSShare. (What serve itself writes:
// tests/nfsserve.)
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/filer/FilerTestUtil.h"
#include "tests/nfsserve/HostileValues.h"

namespace zkfiler_test {
namespace {

class ServeRuleLoadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(zkfiler::UseInMemoryStore().ok()); }
};

// The reproduction of a configuration injection: a path ending in '\'
// runs ganesha's string on into the next export's path, whose text then
// closes the block and includes a file. Refused at load, naming the line.
TEST_F(ServeRuleLoadTest, LayoutWithAnInjectingExportPathIsRefused) {
  char tmpl[] = "/tmp/zk_inject_XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(tmpl));
  const std::string file = std::string(tmpl) + "/layout.txt";
  std::ofstream(file) << "server cs\n"
                         "  login u p\n"
                         "  mover 2\n"
                         "  fs 1 name=a mover=2 mount=/a\n"
                         "  fs 2 name=b mover=2 mount=/b\n"
                         "  export /a\\ mover=2\n"
                         "  export \"/b/x;}%include/srv/evil.conf#\" mover=2\n";
  const zkfiler::Status s = zkfiler::LoadLayoutFile(file);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(std::string::npos, s.message().find(file + ":6: ")) << s.message();
  EXPECT_NE(std::string::npos, s.message().find("export path")) << s.message();
  std::ofstream(file, std::ios::trunc)
      << "server cs\n  login u p\n  mover 2\n  fs 2 name=b mover=2 "
         "mount=/b\n  export \"/b/x;}%include/srv/evil.conf#\" mover=2\n";
  const zkfiler::Status s2 = zkfiler::LoadLayoutFile(file);
  EXPECT_NE(std::string::npos, s2.message().find(file + ":5: "))
      << s2.message();
  std::vector<zkfiler::ServerLayout> servers;
  ASSERT_TRUE(zkfiler::ListServers(&servers).ok());
  EXPECT_TRUE(servers.empty());
  ::unlink(file.c_str());
  ::rmdir(tmpl);
}

TEST_F(ServeRuleLoadTest, HostileExportPathsAndHostsAreRefusedWithTheirLine) {
  const std::string head =
      "server a\n login u p\n mover 2\n fs 1 name=f1 mover=2 mount=/f1\n";
  std::vector<std::pair<std::string, std::string>> tails;
  for (const std::string& h : Hostile()) {
    if (h.find_first_of("\n\"") != std::string::npos) continue;  // no line
    if (!PlainAsAPath(h)) {
      tails.push_back({" export \"/f1/" + h + "\" mover=2\n", "export path"});
    }
    tails.push_back({" export /f1 mover=2 rw=\"" + h + "\"\n", "export host"});
  }
  for (const char* host : {"0", "0.0.0.0", "127.1", "*", "@ng"}) {
    for (const char* list : {"access", "rw", "root"}) {
      tails.push_back(
          {std::string(" export /f1 mover=2 ") + list + "=h1," + host + "\n",
           "export host"});
    }
  }
  for (const auto& [tail, what] : tails) {
    const zkfiler::Status s = zkfiler::LoadLayoutText(head + tail, "lay");
    EXPECT_FALSE(s.ok()) << tail;
    EXPECT_EQ(0u, s.message().rfind("lay:5: ", 0)) << tail << s.message();
    EXPECT_NE(std::string::npos, s.message().find(what)) << s.message();
  }
  // What the plug-in and the examples export still loads.
  EXPECT_TRUE(zkfiler::LoadLayoutText(
                  head + " export /f1/dir.A_b-1 mover=2 access=h1,10.0.0.1 "
                         "rw=esx-1.zk.test root=127.0.0.2\n",
                  "lay")
                  .ok());
}

class ServeRuleCommandTest : public FilerTest {};

TEST_F(ServeRuleCommandTest, CreateNfsShareRefusesHostilePathsAndHosts) {
  HostsFile hosts(kHosts);
  std::vector<std::string> ok{"goodhost"}, none;
  for (const std::string& h : Hostile()) {
    if (PlainAsAPath(h)) continue;
    EXPECT_FALSE(client_.CreateNFSShare("/fs1/" + h, "2", false, ok, ok, ok));
    const CelerraError e = client_.GetLastError();
    EXPECT_EQ(e.sMessageCode, "13691322371") << h << ": " << e.sMessage;
    EXPECT_EQ(e.sFacility, "NFS");
  }
  std::vector<std::string> bad = Hostile();
  for (const char* h : {"0", "0.0.0.0", "0x0", "127.1", "anyhost", "zeronet"})
    bad.push_back(h);
  for (const std::string& h : bad) {
    std::vector<std::string> list{"goodhost", h};
    // Each list: access, read-write, root.
    for (int which = 0; which < 3; ++which) {
      const bool done = client_.CreateNFSShare(
          "/fs1/dir", "2", false, which == 0 ? list : ok,
          which == 1 ? list : ok, which == 2 ? list : none);
      EXPECT_FALSE(done) << h;
      const std::string code = client_.GetLastError().sMessageCode;
      // A blank, comma or colon is refused as a malformed argument first.
      EXPECT_TRUE(code == "13691322372" || code == "13690535937")
          << h << ": " << code;
    }
  }
  std::vector<zkfiler::ExportView> exports;
  ASSERT_TRUE(zkfiler::ListExports("cs1", &exports).ok());
  EXPECT_EQ(exports.size(), 2u);  // those of the layout only
  EXPECT_TRUE(client_.CreateNFSShare("/fs1/dir", "2", false, ok, ok, none));
}

}  // namespace
}  // namespace zkfiler_test
