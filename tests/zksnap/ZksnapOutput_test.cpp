// What zksnap prints is its own text, untouched: no password is ever in it,
// so nothing in it is rewritten, whatever the password is; a failed write of
// the output is an error; the state files that hold a login are private;
// JSON stays valid UTF-8 whatever bytes a text holds.
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

std::string ReadFile(const std::string& sPath) {
  std::ifstream o(sPath);
  std::stringstream ss;
  ss << o.rdbuf();
  return ss.str();
}

class OddPasswordTest : public ZksnapTest,
                        public ::testing::WithParamInterface<const char*> {};

// Legal passwords that are part of ordinary output: a digit, the user name.
TEST_P(OddPasswordTest, OutputIsNeverRewritten) {
  const std::string sPassword = GetParam();
  std::string sLayout = ReadFile(m_sTmp + "/layout.txt");
  const std::string sLogin = "login nasadmin \"" + std::string(kPassword);
  ASSERT_NE(std::string::npos, sLayout.find(sLogin));
  sLayout.replace(sLayout.find(sLogin), sLogin.size(),
                  "login nasadmin \"" + sPassword);
  {
    std::ofstream o(m_sTmp + "/odd.txt");
    o << sLayout;
  }
  ASSERT_EQ(0, Z({"init"}).nExit);
  ASSERT_EQ(0, Z({"filer", "load", m_sTmp + "/odd.txt"}).nExit);
  RunResult r = Z({"array", "add", kFiler, "--control-host", kControlHost,
                   "--user", "nasadmin", "--password-env", "PW"},
                  "", {"PW=" + sPassword});
  ASSERT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "user nasadmin)")) << r.sOut;
  ASSERT_EQ(0, Z({"device", "add", "rec1", "--snap-name", "g1", "--nfs",
                  "/fs_nfs", "--filer", kFiler})
                   .nExit);
  std::string sAll;
  for (const char* psz : {"prepare", "snap"}) {
    r = Z({"--json", psz, "rec1"});
    EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
    sAll += r.sOut + r.sErr;
  }
  EXPECT_TRUE(Has(sAll, "\"job\": 2,")) << sAll;
  EXPECT_TRUE(Has(sAll, "\"name\": \"rec1\"")) << sAll;
  for (const std::vector<std::string>& v :
       std::vector<std::vector<std::string>>{{"status"},
                                             {"log", "rec1"},
                                             {"array", "list"},
                                             {"-vvv", "reconcile", "rec1"}}) {
    r = Z(v);
    EXPECT_EQ(0, r.nExit) << r.sErr;
    sAll += r.sOut + r.sErr;
  }
  EXPECT_TRUE(Has(sAll, "g1_rec1_1700000000 (")) << sAll;
  // The plug-in's own debug line shows the array information masked.
  const std::string sOwn = "hostPassword:****";
  for (size_t n = sAll.find(sOwn); n != std::string::npos;
       n = sAll.find(sOwn)) {
    sAll.erase(n, sOwn.size());
  }
  EXPECT_FALSE(Has(sAll, "****")) << sAll;
  EXPECT_FALSE(Has(sAll, "withheld")) << sAll;
  EXPECT_FALSE(Has(sAll, "wrote an array password")) << sAll;
}

INSTANTIATE_TEST_SUITE_P(Passwords, OddPasswordTest,
                         ::testing::Values("1", "nasadmin"));

}  // namespace
}  // namespace zktest
