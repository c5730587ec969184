// SPDX-License-Identifier: Apache-2.0
// 'config set' checks a value as the plug-in reads it: the number through
// the host's GetConfigInt (blanks before it skipped, nothing after it), the
// host lists split on ',' with every entry naming a host as it stands, and
// never a wildcard the file server would export to every client.
#include <fstream>
#include <string>

#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

struct Value {
  const char* pszKey;
  const char* pszValue;
  const char* pszRefusal;  // nullptr: accepted and stored as given
};

void PrintTo(const Value& o, std::ostream* os) {
  *os << o.pszKey << "='" << o.pszValue << "'";
}

class ConfigValueTest : public ZksnapTest,
                        public ::testing::WithParamInterface<Value> {};

TEST_P(ConfigValueTest, IsCheckedAsThePlugInReadsIt) {
  const Value& v = GetParam();
  ASSERT_EQ(0, Z({"init"}).nExit);
  const std::string sBefore = Dump();
  const RunResult r = Z({"config", "set", v.pszKey, v.pszValue});
  if (v.pszRefusal == nullptr) {
    EXPECT_EQ(0, r.nExit) << r.sErr;
    EXPECT_EQ(std::string(v.pszValue) + "\n",
              Z({"config", "get", v.pszKey}).sOut);
  } else {
    EXPECT_EQ(2, r.nExit) << r.sOut << r.sErr;
    EXPECT_TRUE(Has(r.sErr, v.pszRefusal)) << r.sErr;
    EXPECT_EQ(sBefore, Dump());
  }
}

const char kSecs[] = "nClearCelerraArrayMapSecs";
const char kRoot[] = "sCelerraCommaSeparatedRootHosts";
const char kAccess[] = "sCelerraCommaSeparatedAccessHosts";

INSTANTIATE_TEST_SUITE_P(
    Values, ConfigValueTest,
    ::testing::Values(
        Value{kSecs, "5", nullptr}, Value{kSecs, " 5", nullptr},
        Value{kSecs, "0", nullptr}, Value{kSecs, "2147483647", nullptr},
        Value{kSecs, "5 ", "takes a whole number of seconds"},
        Value{kSecs, " ", "takes a whole number of seconds"},
        Value{kSecs, "5s", "takes a whole number of seconds"},
        Value{kSecs, "2147483648", "is out of range: \"2147483648\""},
        Value{kSecs, "99999999999999999999", "is out of range"},
        Value{kSecs, "-1", "is out of range: \"-1\""},
        Value{kRoot, "h1,10.0.0.2", nullptr}, Value{kRoot, "h1", nullptr},
        Value{kRoot, " , ", "entry 1 (\" \") names no host"},
        Value{kRoot, "h1,,h2", "entry 2 (\"\") names no host"},
        Value{kAccess, "h1,", "entry 2 (\"\") names no host"},
        Value{kAccess, "h1, h2", "entry 2 (\" h2\") has blanks around"},
        Value{kAccess, "h1\t,h2", "entry 1 (\"h1\\x09\") has blanks"},
        // Every form the NFS server reads as "any client", or as no single
        // host, is refused: the clone would be exported to every host.
        Value{kRoot, "0", "entry 1 (\"0\") is read as the address 0.0.0.0"},
        Value{kRoot, "h1,0.0.0.0",
              "entry 2 (\"0.0.0.0\") is an address of "
              "0.0.0.0/8"},
        Value{kRoot, "0x0", "read as the address 0.0.0.0"},
        Value{kAccess, "127.1", "read as the address 127.0.0.1"},
        Value{kAccess, "*", "no wildcard"},
        Value{kAccess, "h?.zs.test", "no wildcard"},
        Value{kAccess, "@trusted", "no wildcard, netgroup"},
        Value{kAccess, "10.0.0.0/8", "no wildcard, netgroup or network"},
        Value{kAccess, "h1;}", "holds a character other than"},
        Value{kAccess, "1.2.3.4.5", "neither a host name nor"},
        Value{"sCelerraCommaSeparatedRWHosts", "h\xc3\xa9",
              "holds a character other than"}));

TEST_F(ZksnapTest, HostListEntryResolvingToTheWildcardIsRefused) {
  ASSERT_EQ(0, Z({"init"}).nExit);
  std::ofstream(m_sTmp + "/hosts", std::ios::app)
      << "0.0.0.0 anyhost.zs.test\n";
  const std::string sBefore = Dump();
  const RunResult r =
      Z({"config", "set", kRoot, "zkhost.zs.test,anyhost.zs.test"});
  EXPECT_EQ(2, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sErr,
                  "entry 2 (\"anyhost.zs.test\") resolves to "
                  "0.0.0.0, which is an address of 0.0.0.0/8"))
      << r.sErr;
  EXPECT_EQ(sBefore, Dump());
}

}  // namespace
}  // namespace zktest
