// SPDX-License-Identifier: Apache-2.0
// What the README has a new administrator type works as it says.
#include <unistd.h>

#include <string>

#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

std::string BesideZksnap(const std::string& sName) {
  const std::string sPath = ZKSNAP_PATH;
  return sPath.substr(0, sPath.rfind('/') + 1) + sName;
}

// The one PATH entry the README sets finds zkfiler too.
TEST_F(ZksnapTest, ZkfilerIsBesideZksnap) {
  EXPECT_EQ(0, access(BesideZksnap("zkfiler").c_str(), X_OK));
}

TEST_F(ZksnapTest, VersionNamesZksnapAndThePlugin) {
  const RunResult r = Raw({"--version"});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "zksnap " ZK_PROJECT_VERSION "\n")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "libzksnap_celerra.so " ZK_PROJECT_VERSION "\n"))
      << r.sOut;
}

}  // namespace
}  // namespace zktest
