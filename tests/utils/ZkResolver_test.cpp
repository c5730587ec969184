// SPDX-License-Identifier: Apache-2.0
// Name resolution of libzkhost through a ZK_HOSTS_FILE hosts file.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScopedHostsFile.h"
#include "host/ZkHostLib.h"

namespace {

std::vector<std::string> AllByName(const char* pszName, int32_t* pCode) {
  std::vector<CWbIPAddr> vAddrs;
  CWbError oError = CWbIPAddr::GetAllByName(pszName, vAddrs, 0);
  *pCode = oError.GetCode();
  std::vector<std::string> vText;
  for (const CWbIPAddr& o : vAddrs) {
    CWbString s;
    EXPECT_FALSE(o.GetAddressString(s).IsError());
    vText.push_back(s.c_str());
  }
  return vText;
}

std::vector<std::string> HostEntAddrs(const char* pszName) {
  ZkHostEntBuffer oBuffer;
  struct hostent* p = _ZK_gethostbyname_(pszName, &oBuffer, 0);
  std::vector<std::string> vText;
  if (p == nullptr) return vText;
  EXPECT_EQ(AF_INET, p->h_addrtype);
  EXPECT_EQ(4, p->h_length);
  for (char** pp = p->h_addr_list; *pp != nullptr; ++pp) {
    char aText[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, *pp, aText, sizeof(aText));
    vText.push_back(aText);
  }
  return vText;
}

const char kHosts[] =
    "# test hosts\n"
    "10.0.0.1   filer-a.zk.invalid cs0   # primary\n"
    "fe80::1    filer-a.zk.invalid\n"  // IPv6 lines are skipped
    "10.0.0.9   other.zk.invalid\n"
    "10.0.0.2\tFILER-A.zk.invalid\r\n"  // any case, tabs, CRLF
    "not-an-ip  filer-a.zk.invalid\n"
    "10.0.0.3   alias1 filer-a.zk.invalid\n";

TEST(ZkResolver, HostsFileLinesInFileOrder) {
  ScopedHostsFile oHosts(kHosts);
  const std::vector<std::string> vWant = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
  int32_t nCode = -99;
  EXPECT_EQ(vWant, AllByName("filer-a.zk.invalid", &nCode));
  EXPECT_EQ(0, nCode);
  EXPECT_EQ(vWant, HostEntAddrs("filer-a.zk.invalid"));
  EXPECT_EQ(std::vector<std::string>{"10.0.0.1"}, HostEntAddrs("cs0"));
}

TEST(ZkResolver, UnknownAndEmptyNames) {
  ScopedHostsFile oHosts(kHosts);
  int32_t nCode = 0;
  EXPECT_TRUE(AllByName("nohost.zk.invalid", &nCode).empty());
  EXPECT_EQ(CWbIPAddr::WB_E_NOT_RESOLVED, nCode);
  EXPECT_TRUE(AllByName("", &nCode).empty());
  EXPECT_EQ(CWbIPAddr::WB_E_INVALID_ARG, nCode);
  EXPECT_TRUE(AllByName(nullptr, &nCode).empty());
  ZkHostEntBuffer oBuffer;
  EXPECT_EQ(nullptr, _ZK_gethostbyname_("nohost.zk.invalid", &oBuffer, 0));
  EXPECT_EQ(nullptr, _ZK_gethostbyname_("", &oBuffer, 0));
  EXPECT_EQ(nullptr, _ZK_gethostbyname_("filer-a.zk.invalid", nullptr, 0));
}

TEST(ZkResolver, ManyAddressesFitTheEntryBuffer) {
  std::string sHosts;
  for (int i = 1; i <= 40; ++i) {
    sHosts += "10.1.0." + std::to_string(i) + " big.zk.invalid\n";
  }
  ScopedHostsFile oHosts(sHosts);
  std::vector<std::string> v = HostEntAddrs("big.zk.invalid");
  ASSERT_EQ(32u, v.size());
  EXPECT_EQ("10.1.0.1", v.front());
  EXPECT_EQ("10.1.0.32", v.back());
  int32_t nCode = -99;
  EXPECT_EQ(40u, AllByName("big.zk.invalid", &nCode).size());
}

TEST(ZkResolver, LongNameIsCutInTheEntry) {
  const std::string sName(300, 'n');
  ScopedHostsFile oHosts("10.2.0.1 " + sName + "\n");
  ZkHostEntBuffer oBuffer;
  struct hostent* p = _ZK_gethostbyname_(sName.c_str(), &oBuffer, 0);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(std::string(255, 'n'), p->h_name);
}

TEST(ZkResolver, AddressLiteralResolvesWithoutHostsEntry) {
  ScopedHostsFile oHosts("");
  EXPECT_EQ(std::vector<std::string>{"192.0.2.7"}, HostEntAddrs("192.0.2.7"));
}

}  // namespace
