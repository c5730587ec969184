// SPDX-License-Identifier: Apache-2.0
// CelerraUtils instance helpers (array information, name resolution, NFS
// export host lists, LUN serial numbers) and the small static helpers.
#include "utils/CelerraUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "ScopedHostsFile.h"
#include "hostenv/ZkLogSink.h"

namespace {

const ZKUint64 kJobId = 4242;

// A host utility object with an in-memory default configuration section.
// Records every configuration read; a missing key leaves the buffer as the
// caller handed it over.
class FakeOSUtil final : public ZKSO::ZKOSUtil {
 public:
  struct Read {
    bool bNullSection;
    std::string sKey;
    bool bBufferEmpty;
    int nSize;
  };

  int GetConfigString(const char* pszSection, const char* pszKey, char* pBuffer,
                      int nSize) override {
    m_vReads.push_back(
        {pszSection == nullptr, pszKey, pBuffer[0] == '\0', nSize});
    auto it = m_mConfig.find(pszKey);
    if (it == m_mConfig.end()) return 1;
    it->second.copy(pBuffer, static_cast<size_t>(nSize) - 1);
    pBuffer[std::min(it->second.size(), static_cast<size_t>(nSize) - 1)] = '\0';
    return 0;
  }
  bool GetConfigInt(const char*, const char*, int*) override { return false; }
  ZKUint64 GetJobId() override { return kJobId; }

  std::map<std::string, std::string> m_mConfig;
  std::vector<Read> m_vReads;
};

class CelerraUtilsTest : public ::testing::Test {
 protected:
  // Passwords must appear in no line at all.
  void ExpectNotLogged(const std::string& sSecret) {
    if (sSecret.empty()) return;
    for (const ZkLogLine& o : m_oSink.Lines()) {
      EXPECT_EQ(std::string::npos, o.ToString().find(sSecret))
          << "secret [" << sSecret << "] in: " << o.ToString();
    }
  }

  FakeOSUtil m_oOSUtil;
  ZkCaptureLogSink m_oSink;
};

// ---- Array information ----

struct ArrayInfoCase {
  const char* pszName;
  const char* pszText;  // may be null
  std::string sArrayId, sHost, sUser, sPassword;
  std::string sLogged;  // text of the "Array Info" line
  std::string sSecret;  // must appear in no line
};

TEST_F(CelerraUtilsTest, ParseArrayInfoNeverLogsThePassword) {
  const ArrayInfoCase aCases[] = {
      {"comma and brace in password, engineName ends it",
       "{arrayId:7,hostName:cs0.zk.invalid,hostUserName:nasadmin,"
       "hostPassword:Zq,9{x}Secret,engineName:celerra}",
       "7", "cs0.zk.invalid", "nasadmin", "Zq,9{x}Secret",
       "Array Info: [{arrayId:7,hostName:cs0.zk.invalid,hostUserName:nasadmin,"
       "hostPassword:****,engineName:celerra}]",
       "Zq,9{x}Secret"},
      {"last pair ends at the brace",
       "{arrayId:8,hostName:h,hostUserName:u,hostPassword:Pw,Last77}", "8", "h",
       "u", "Pw,Last77",
       "Array Info: [{arrayId:8,hostName:h,hostUserName:u,hostPassword:****}]",
       "Pw,Last77"},
      {"escaped password is unescaped",
       "{hostName:h,hostPassword:a\\/b\\\\Cq9,engineName:e}", "", "h", "",
       "a/b\\Cq9", "Array Info: [{hostName:h,hostPassword:****,engineName:e}]",
       "a\\/b\\\\Cq9"},
      {"engineName before the password",
       "{engineName:e,hostName:h,hostPassword:Before-Eng1}", "", "h", "",
       "Before-Eng1",
       "Array Info: [{engineName:e,hostName:h,hostPassword:****}]",
       "Before-Eng1"},
      {"no password pair: logged unchanged",
       "{arrayId:7,hostName:h,hostUserName:u}", "7", "h", "u", "",
       "Array Info: [{arrayId:7,hostName:h,hostUserName:u}]", ""},
      {"password without an end: nothing after the key is logged",
       "{arrayId:7,hostName:h,hostPassword:NoEnd-Secret9", "7", "h", "", "",
       "Array Info: [{arrayId:7,hostName:h,hostPassword:****]",
       "NoEnd-Secret9"},
      {"password without an end, user after it",
       "{hostName:h,hostPassword:Tail-Sec,hostUserName:u", "", "h", "", "",
       "Array Info: [{hostName:h,hostPassword:****]", "Tail-Sec"},
      // The value runs to the brace, so what follows is part of it.
      {"password pair right after the brace is not read but still masked",
       "{hostPassword:Brace-Sec1,hostName:h}", "", "", "", "",
       "Array Info: [{hostPassword:****}]", "Brace-Sec1"},
      {"second password pair masked too",
       "{hostName:h,hostPassword:One-Sec1,engineName:e,hostPassword:Two-Sec2}",
       "", "h", "", "One-Sec1",
       "Array Info: [{hostName:h,hostPassword:****,engineName:e,"
       "hostPassword:****}]",
       "Two-Sec2"},
      {"key-like text inside the password is not read as a key",
       "{arrayId:9,hostName:cs1,hostPassword:p{hostName:Secr3tTail,"
       "engineName:e,hostUserName:u}",
       "9", "cs1", "u", "p{hostName:Secr3tTail",
       "Array Info: [{arrayId:9,hostName:cs1,hostPassword:****,engineName:e,"
       "hostUserName:u}]",
       "Secr3tTail"},
      {"user name hidden in the password is not read",
       "{hostName:h,hostPassword:x{hostUserName:Secr3tUser,engineName:e}", "",
       "h", "", "x{hostUserName:Secr3tUser",
       "Array Info: [{hostName:h,hostPassword:****,engineName:e}]",
       "Secr3tUser"},
      // Only a pair's whole key counts: "hostPassword:" right after "{" or
      // ",". Keys and values that merely contain the letters are read as
      // the codec reads them, and the pairs after them are still found.
      {"key ending in hostPassword is an ordinary key",
       "{arrayId:7,oldhostPassword:x,hostName:h,hostUserName:u}", "7", "h", "u",
       "",
       "Array Info: [{arrayId:7,oldhostPassword:x,hostName:h,hostUserName:u}]",
       ""},
      {"value holding hostPassword: is an ordinary value",
       "{arrayId:a-hostPassword:1,hostName:h,hostUserName:u}",
       "a-hostPassword:1", "h", "u", "",
       "Array Info: [{arrayId:a-hostPassword:1,hostName:h,hostUserName:u}]",
       ""},
      {"lookalike key before the real password pair",
       "{arrayId:7,myhostPassword:seen,hostName:h,hostPassword:Anch-Sec1,"
       "engineName:e,hostUserName:u}",
       "7", "h", "u", "Anch-Sec1",
       "Array Info: [{arrayId:7,myhostPassword:seen,hostName:h,"
       "hostPassword:****,engineName:e,hostUserName:u}]",
       "Anch-Sec1"},
      {"lookalike key after the real password pair",
       "{hostName:h,hostPassword:Anch-Sec2,engineName:e,xhostPassword:y,"
       "hostUserName:u}",
       "", "h", "u", "Anch-Sec2",
       "Array Info: [{hostName:h,hostPassword:****,engineName:e,"
       "xhostPassword:y,hostUserName:u}]",
       "Anch-Sec2"},
      {"empty text", "", "", "", "", "", "Array Info: []", ""},
      {"null text", nullptr, "", "", "", "", "Array Info: []", ""},
  };
  for (const ArrayInfoCase& o : aCases) {
    SCOPED_TRACE(o.pszName);
    m_oSink.Clear();
    CelerraUtils oUtils(&m_oOSUtil, false);
    std::string sArrayId = "stale";
    _CelerraArrayCredentials oCreds{"stale", "stale", "stale"};
    EXPECT_TRUE(oUtils.ParseArrayInfo(o.pszText, sArrayId, oCreds));
    EXPECT_EQ(o.sArrayId, sArrayId);
    EXPECT_EQ(o.sHost, oCreds.sHostName);
    EXPECT_EQ(o.sUser, oCreds.sHostUserName);
    EXPECT_EQ(o.sPassword, oCreds.sHostPassword);

    const std::vector<ZkLogLine> vLines = m_oSink.Lines();
    ASSERT_EQ(1u, vLines.size()) << m_oSink.Dump();
    EXPECT_EQ(o.sLogged, vLines[0].sText);
    EXPECT_EQ(-1, vLines[0].nLevel);
    EXPECT_EQ(kJobId, vLines[0].nJobId);
    ExpectNotLogged(o.sSecret);
    ExpectNotLogged(o.sPassword);
  }
}

// ---- Name resolution ----

TEST_F(CelerraUtilsTest, GetIPAddressForHostTakesTheFirstAddress) {
  ScopedHostsFile oHosts(
      "10.11.12.13 filer-test.zk.invalid\n10.11.12.14 filer-test.zk.invalid\n");
  CelerraUtils oUtils(&m_oOSUtil, false);
  std::string sAddress;
  ASSERT_TRUE(oUtils.GetIPAddressForHost(sAddress, "filer-test.zk.invalid"));
  EXPECT_EQ("10.11.12.13", sAddress);
  std::vector<ZkLogLine> v = m_oSink.Find(
      "Using the first Address [10.11.12.13]:for host "
      "[filer-test.zk.invalid].");
  ASSERT_EQ(1u, v.size()) << m_oSink.Dump();
  EXPECT_EQ(3, v[0].nLevel);
  EXPECT_EQ(kJobId, v[0].nJobId);
  EXPECT_EQ(
      "bool CelerraUtils::GetIPAddressForHost(std::string&, const string&)",
      v[0].sTag);
}

TEST_F(CelerraUtilsTest, GetIPAddressForHostFailures) {
  ScopedHostsFile oHosts("10.11.12.13 filer-test.zk.invalid\n");
  CelerraUtils oUtils(&m_oOSUtil, false);
  std::string sAddress = "untouched";
  EXPECT_FALSE(oUtils.GetIPAddressForHost(sAddress, ""));
  std::vector<ZkLogLine> v = m_oSink.Find(
      "CelerraUtils(201): -Error-: Invalid argument. Empty hostname!.");
  ASSERT_EQ(1u, v.size());
  EXPECT_EQ(ZkLogLine::kError, v[0].eStream);

  EXPECT_FALSE(oUtils.GetIPAddressForHost(sAddress, "nohost.zk.invalid"));
  EXPECT_EQ("untouched", sAddress);
  v = m_oSink.Find(
      "Unable to get IP address list for host:[nohost.zk.invalid] the host is "
      "not resolvable from this machine, please check DNS settings and make "
      "sure that host [nohost.zk.invalid] is resolvable from this machine");
  ASSERT_EQ(1u, v.size()) << m_oSink.Dump();
  EXPECT_FALSE(v[0].bHasLevel);
}

// ---- NFS export host lists ----

TEST_F(CelerraUtilsTest, MountHostListsOrder) {
  ScopedHostsFile oHosts("10.11.12.13 esx-1.zk.invalid\n");
  m_oOSUtil.m_mConfig = {
      {"sCelerraCommaSeparatedRootHosts", "r1,r2"},
      {"sCelerraCommaSeparatedAccessHosts", "a1,,a2"},
  };
  CelerraUtils oUtils(&m_oOSUtil, true);
  std::vector<std::string> vAccess = {"stale"}, vRW = {"stale"},
                           vRoot = {"stale"};
  EXPECT_TRUE(oUtils.GetMountHostIPsForNFSShare(
      vAccess, vRW, vRoot, {"vmk1", "vmk2"}, "esx-1.zk.invalid"));
  EXPECT_EQ(
      (std::vector<std::string>{"a1", "", "a2", "10.11.12.13", "vmk1", "vmk2"}),
      vAccess);
  EXPECT_EQ(
      (std::vector<std::string>{"r1", "r2", "10.11.12.13", "vmk1", "vmk2"}),
      vRoot);
  // Not configured: must not inherit the root hosts read just before.
  EXPECT_EQ((std::vector<std::string>{"10.11.12.13", "vmk1", "vmk2"}), vRW);

  ASSERT_EQ(3u, m_oOSUtil.m_vReads.size());
  const char* apKeys[] = {"sCelerraCommaSeparatedRootHosts",
                          "sCelerraCommaSeparatedRWHosts",
                          "sCelerraCommaSeparatedAccessHosts"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(apKeys[i], m_oOSUtil.m_vReads[i].sKey);
    EXPECT_TRUE(m_oOSUtil.m_vReads[i].bNullSection);
    EXPECT_TRUE(m_oOSUtil.m_vReads[i].bBufferEmpty);
    EXPECT_EQ(1024, m_oOSUtil.m_vReads[i].nSize);
  }
}

TEST_F(CelerraUtilsTest, MountHostListsNothingConfiguredUnresolvableHost) {
  ScopedHostsFile oHosts("");
  CelerraUtils oUtils(&m_oOSUtil, true);
  std::vector<std::string> vAccess = {"stale"}, vRW = {"stale"},
                           vRoot = {"stale"};
  EXPECT_TRUE(oUtils.GetMountHostIPsForNFSShare(vAccess, vRW, vRoot, {},
                                                "nohost.zk.invalid"));
  EXPECT_TRUE(vAccess.empty());
  EXPECT_TRUE(vRW.empty());
  EXPECT_TRUE(vRoot.empty());
  std::vector<ZkLogLine> v = m_oSink.Find(
      "Unable to get IP address for host:[nohost.zk.invalid], continuing");
  ASSERT_EQ(1u, v.size()) << m_oSink.Dump();
  EXPECT_EQ(-1, v[0].nLevel);
}

TEST_F(CelerraUtilsTest, MountHostListsLongConfiguredValueIsCutNotOverrun) {
  ScopedHostsFile oHosts("");
  m_oOSUtil.m_mConfig["sCelerraCommaSeparatedRWHosts"] = std::string(3000, 'h');
  CelerraUtils oUtils(&m_oOSUtil, true);
  std::vector<std::string> vAccess, vRW, vRoot;
  oUtils.GetMountHostIPsForNFSShare(vAccess, vRW, vRoot, {}, "");
  ASSERT_EQ(1u, vRW.size());
  EXPECT_EQ(std::string(1023, 'h'), vRW[0]);
}

// ---- LUN serial numbers ----

// 18 characters of prefix, then the serial's bytes as hex pairs.
std::string LunUUID(const std::string& sHexSerial) {
  return "60:06:01:60:aa:bb:" + sHexSerial;
}

std::string VMwareLun(const std::string& sUUID) {
  _CelerraSnapDeviceIdentifier o;
  o.sKemType = "vmware";
  o.sType = "fc";
  o.sLunUUID = sUUID;
  o.sTargetHostName = "cs0.zk.invalid";
  o.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(o);
}

struct SerialCase {
  std::string sUUID;
  bool bOk;
  std::string sSerial;
};

TEST(CelerraUtilsSerial, DeriveSerialFromUUID) {
  const SerialCase aCases[] = {
      {LunUUID("41504d303031323334353641"), true, "APM00123456A"},  // 42
      {LunUUID("41504d303031323334353641") + "ffff", true, "APM00123456A"},
      {LunUUID("41504D303031323334353641"), true, "APM00123456A"},
      {LunUUID("41504d3030313233343536"), false, ""},     // 40
      {LunUUID("41504d30303132333435364"), false, ""},    // 41
      {LunUUID("414200303031323334353641"), true, "AB"},  // zero byte at 2
      {LunUUID("000000000000000000000000"), true, ""},
      {LunUUID("4142zz303031323334353641"), true, "AB"},  // non-hex ends too
      {LunUUID("41424g303031323334353641"), true, "AB"},
      {LunUUID("c3a94142ff30313233343536"), true,
       "\xc3\xa9"
       "AB\xff"
       "0123456"},
      {"", false, ""},
  };
  for (const SerialCase& o : aCases) {
    std::string sSerial = "untouched";
    EXPECT_EQ(o.bOk, CelerraUtils::DeriveSerialFromUUID(o.sUUID, sSerial))
        << o.sUUID;
    EXPECT_EQ(o.bOk ? o.sSerial : "untouched", sSerial) << o.sUUID;
  }
}

TEST_F(CelerraUtilsTest, ArrayInfoForVMwareLun) {
  const std::string sUUID = LunUUID("41504d303031323334353641");
  const std::string sId = VMwareLun(sUUID);
  CelerraUtils oUtils(&m_oOSUtil, true);
  std::string sArray, sSerial;
  ASSERT_TRUE(oUtils.GetScsiInfoForDevice(sId, sArray, sSerial));
  EXPECT_EQ("cs0.zk.invalid", sArray);
  EXPECT_EQ("APM00123456A", sSerial);
  EXPECT_TRUE(m_oSink.Contains("Serial # corresponding to UUID [" + sUUID +
                               "] is [APM00123456A]\n"));
  std::vector<ZkLogLine> v = m_oSink.Find(
      "Found array identifier[cs0.zk.invalid], serial # [APM00123456A] for "
      "device[" +
      sId + "].");
  ASSERT_EQ(1u, v.size()) << m_oSink.Dump();
  EXPECT_EQ(0, v[0].nLevel);
  EXPECT_EQ(kJobId, v[0].nJobId);
}

struct LunFailureCase {
  const char* pszName;
  std::string sIdentifier;
  std::string sLine;
};

TEST_F(CelerraUtilsTest, ArrayInfoForVMwareLunFailures) {
  const std::string sShort = LunUUID("41504d30303132333435364");  // 41
  const LunFailureCase aCases[] = {
      {"41 characters", VMwareLun(sShort),
       "Unable to parse lun wwn from lunuuid [" + sShort + "]"},
      {"first serial byte zero", VMwareLun(LunUUID("004142434445464748494a4b")),
       "Found array identifier[cs0.zk.invalid], serial # [] for device["},
      {"not vmware",
       "{kemtype:hyperv,lunuuid:" + LunUUID("41") +
           ",targethostname:h,vendor:celerra}",
       "Invalid params for Celerra lun: Kemtype [hyperv], vendor [celerra]"},
      {"vendor is case-sensitive",
       "{kemtype:vmware,targethostname:h,vendor:Celerra}",
       "Invalid params for Celerra lun: Kemtype [vmware], vendor [Celerra]"},
      {"no target host", "{kemtype:vmware,lunuuid:x,vendor:celerra}",
       "Invalid params for Celerra lun: targethostname is empty"},
      {"empty identifier", "", "Device name is empty"},
  };
  for (const LunFailureCase& o : aCases) {
    SCOPED_TRACE(o.pszName);
    m_oSink.Clear();
    CelerraUtils oUtils(&m_oOSUtil, true);
    std::string sArray, sSerial;
    EXPECT_FALSE(
        oUtils.GetArrayInfoForDeviceVMware(o.sIdentifier, sArray, sSerial));
    std::vector<ZkLogLine> v = m_oSink.Find(o.sLine);
    ASSERT_EQ(1u, v.size()) << m_oSink.Dump();
    EXPECT_EQ(kJobId, v[0].nJobId);
  }
}

TEST_F(CelerraUtilsTest, ScsiInfoRefusedForNonVMware) {
  CelerraUtils oUtils(&m_oOSUtil, false);
  std::string sArray, sSerial;
  EXPECT_FALSE(oUtils.GetScsiInfoForDevice(
      VMwareLun(LunUUID("41504d303031323334353641")), sArray, sSerial));
  EXPECT_EQ("Non-Vmware is not supported for Celerra snap backup",
            oUtils.GetError());
  std::vector<ZkLogLine> v =
      m_oSink.Find("Non-Vmware is not supported for Celerra snap backup");
  ASSERT_EQ(1u, v.size());
  EXPECT_EQ(-1, v[0].nLevel);
  EXPECT_TRUE(sArray.empty());
}

// ---- VMware host identifier ----

struct MaskCase {
  std::string sText;
  std::string sLogged;
};

TEST_F(CelerraUtilsTest, PrintVMWareHostIdentifierMasksPasswords) {
  const std::string sLong(100000, 'q');
  const MaskCase aCases[] = {
      {"{vcname:vc1,esxname:esx1,password:Pw-123,vmkernel:1.2.3.4}",
       "{vcname:vc1,esxname:esx1,password:" + std::string(23, '*') + "}"},
      {"{vcname:vc1,esxname:esx1}", "{vcname:vc1,esxname:esx1}"},
      {"{password:abc", "{password:***"},
      {"password:", "password:"},
      // Masked up to the last "}": a password may itself hold "}".
      {"{password:a}{password:bcd}x",
       "{password:" + std::string(15, '*') + "}x"},
      {"{esxname:e,password:Pw-123}Pw-123,vmkernel:1|}",
       "{esxname:e,password:" + std::string(25, '*') + "}"},
      {"{esxname:e,password:" + sLong + "}",
       "{esxname:e,password:" + std::string(sLong.size(), '*') + "}"},
      // Only a pair's whole key counts: "password:" right after "{" or ",".
      {"{vcname:vc1,esxname:esx-password:1,vmkernel:1.2.3.4|}",
       "{vcname:vc1,esxname:esx-password:1,vmkernel:1.2.3.4|}"},
      {"{vcname:vc1,oldpassword:x,esxname:e}",
       "{vcname:vc1,oldpassword:x,esxname:e}"},
      {"{esxname:esx-password:1,password:Pw-123}",
       "{esxname:esx-password:1,password:******}"},
      {"{vcname:password:v,password:Pw-123,esxname:e}",
       "{vcname:password:v,password:" + std::string(16, '*') + "}"},
      {"", ""},
  };
  for (const MaskCase& o : aCases) {
    m_oSink.Clear();
    EXPECT_TRUE(CelerraUtils::PrintVMWareHostIdentifier(o.sText));
    const std::vector<ZkLogLine> v = m_oSink.Lines();
    ASSERT_EQ(1u, v.size());
    EXPECT_EQ("VmWare Host Identifier [" + o.sLogged + "].", v[0].sText);
    EXPECT_EQ("CelerraUtils::PrintVMWareHostIdentifier", v[0].sTag);
  }
  ExpectNotLogged("Pw-123");
}

struct StripCase {
  const char* pszName;
  std::string sText;
  std::string sVCName, sESXName, sVMKernel;  // as read from the stripped copy
};

// The copy the host identifier's keys are read from: each password value is
// cut out, and the pairs around it read as the codec reads them.
TEST(CelerraUtilsHostIdentifier, StripPasswordKeepsThePairsAround) {
  const StripCase aCases[] = {
      {"password between the read pairs",
       "{vcname:vc1,password:Pw-123,esxname:esx1,vmkernel:1.2.3.4|}", "vc1",
       "esx1", "1.2.3.4|"},
      {"password first, holding commas",
       "{password:a,b{c,esxname:esx1,vmkernel:1.2.3.4|}", "", "esx1",
       "1.2.3.4|"},
      {"value holding password: is read whole",
       "{vcname:vc1,esxname:esx-password:1,vmkernel:1.2.3.4|}", "vc1",
       "esx-password:1", "1.2.3.4|"},
      {"key ending in password is an ordinary pair",
       "{vcname:vc1,oldpassword:x,esxname:esx1,vmkernel:1.2.3.4|}", "vc1",
       "esx1", "1.2.3.4|"},
      {"lookalike value before the real password pair",
       "{esxname:esx-password:1,password:Pw-123,vmkernel:1.2.3.4|}", "",
       "esx-password:1", "1.2.3.4|"},
      {"password last", "{vcname:vc1,esxname:esx1,password:Pw-123}", "vc1",
       "esx1", ""},
  };
  for (const StripCase& o : aCases) {
    SCOPED_TRACE(o.pszName);
    const std::string sStripped =
        CelerraUtils::StripHostIdentifierPassword(o.sText);
    EXPECT_EQ(std::string::npos, sStripped.find("Pw-123")) << sStripped;
    const bool bDeformat = true;
    const bool bLogValue = false;
    std::string sVC, sESX, sVMKernel;
    CelerraUtils::GetJsonValue(sStripped, "vcname", sVC, bDeformat, bLogValue);
    CelerraUtils::GetJsonValue(sStripped, "esxname", sESX, bDeformat,
                               bLogValue);
    CelerraUtils::GetJsonValue(sStripped, "vmkernel", sVMKernel, bDeformat,
                               bLogValue);
    EXPECT_EQ(o.sVCName, sVC);
    EXPECT_EQ(o.sESXName, sESX);
    EXPECT_EQ(o.sVMKernel, sVMKernel);
  }
}

// ---- Small helpers ----

TEST(CelerraUtilsStatic, StringToDeviceType) {
  const struct {
    const char* pszType;
    _CelerraSourceDeviceType eType;
  } aCases[] = {
      {"native_celerra", CELERRA_DEVICE_NAS},
      {"nfs", CELERRA_DEVICE_NFS},
      {"unc", CELERRA_DEVICE_UNC},
      {"fc", CELERRA_DEVICE_LUN},
      {"NFS", CELERRA_DEVICE_LUN},
      {"iscsi", CELERRA_DEVICE_LUN},
      {"", CELERRA_DEVICE_LUN},
      {"nfs ", CELERRA_DEVICE_LUN},
  };
  for (const auto& o : aCases) {
    EXPECT_EQ(o.eType, CelerraUtils::StringToDeviceType(o.pszType))
        << o.pszType;
  }
}

TEST(CelerraUtilsStatic, CaseInsensitiveFind) {
  const struct {
    std::string sText, sPattern;
    size_t nPos;
  } aCases[] = {
      {"{kemtype:VMware}", "vmware", 9},
      {"xCeLeRrA", "celerra", 1},
      {"abc", "abcd", std::string::npos},
      {"abc", "", 0},
      {"\xe9\xff"
       "ab",
       "AB", 2},  // bytes >= 0x80 are left alone
  };
  for (const auto& o : aCases) {
    EXPECT_EQ(o.nPos, cse_findi(o.sText, o.sPattern)) << o.sText;
  }
  std::string s = "ab-C\xe9z";
  cse_toupper(s);
  EXPECT_EQ("AB-C\xe9Z", s);
}

}  // namespace
