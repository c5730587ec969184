// SPDX-License-Identifier: Apache-2.0
// The snap name zksnap asks for is formed from the group and the record
// without ambiguity: no two records, prepared in the same second, ever ask
// for the same checkpoint name.
#include <set>
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

struct Pair {
  // group and record of two records, on two file systems
  const char *pszGroup1, *pszRecord1, *pszGroup2, *pszRecord2;
};

void PrintTo(const Pair& o, std::ostream* os) {
  *os << o.pszGroup1 << "/" << o.pszRecord1 << " " << o.pszGroup2 << "/"
      << o.pszRecord2;
}

class SnapNameTest : public ZksnapTest,
                     public ::testing::WithParamInterface<Pair> {};

// The test clock fixes the time: both are prepared in the same second.
TEST_P(SnapNameTest, RecordsNeverAskForTheSameCheckpointName) {
  const Pair& p = GetParam();
  InitWithFileServer();
  ASSERT_EQ(0, Z({"device", "add", p.pszRecord1, "--snap-name", p.pszGroup1,
                  "--nfs", "/fs_nfs", "--filer", kFiler})
                   .nExit);
  ASSERT_EQ(0, Z({"device", "add", p.pszRecord2, "--snap-name", p.pszGroup2,
                  "--nfs", "/fs_ds", "--filer", kFiler})
                   .nExit);
  RunResult r = Z({"prepare", "--all"});
  ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
  r = Z({"snap", "--all"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  UseFilerStore();
  std::vector<zkfiler::CheckpointView> v;
  ASSERT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
  std::set<std::string> oNames;
  for (const auto& k : v) oNames.insert(k.name);
  EXPECT_EQ(2u, oNames.size()) << r.sOut;
}

INSTANTIATE_TEST_SUITE_P(Names, SnapNameTest,
                         ::testing::Values(Pair{"a_b", "c", "a", "b_c"},
                                           Pair{"n-1", "r_s", "n", "1_r-s"},
                                           Pair{"a_", "c", "a", "_c"},
                                           Pair{"x", "y-u", "x", "y_"}));

}  // namespace
}  // namespace zktest
