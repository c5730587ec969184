// SPDX-License-Identifier: Apache-2.0
// Control host determination and the support check: which identifiers name
// a file server, and the exact lines that explain a refusal.
#include "engine/ControlHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/ZKSnapPlugin.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"
#include "utils/CelerraUtils.h"

namespace {

constexpr ZKUint64 kJobId = 4521;

// A LUN UUID whose characters 18..41 hex-encode sSerial (up to 12 bytes;
// shorter serials are padded with zero bytes).
std::string LunUUIDFor(const std::string& sSerial) {
  static const char kHex[] = "0123456789abcdef";
  std::string sUUID = "600601603ea01b2c00";  // 18 characters before the serial
  for (size_t k = 0; k < 12; ++k) {
    const unsigned char c =
        k < sSerial.size() ? static_cast<unsigned char>(sSerial[k]) : 0;
    sUUID += kHex[c >> 4];
    sUUID += kHex[c & 15];
  }
  return sUUID;
}

std::string Identifier(const std::string& sKemType, const std::string& sType,
                       const std::string& sLunUUID,
                       const std::string& sTargetIdentifier,
                       const std::string& sTargetHostName,
                       const std::string& sVendor) {
  _CelerraSnapDeviceIdentifier oId;
  oId.sKemType = sKemType;
  oId.sType = sType;
  oId.sLunUUID = sLunUUID;
  oId.sTargetIdentifier = sTargetIdentifier;
  oId.sTargetHostName = sTargetHostName;
  oId.sVendor = sVendor;
  return CelerraUtils::FormDeviceIdentifider(oId);
}

// Counts the calls the plug-in makes on the utility object.
class CountingOSUtil : public zkref::MemOSUtil {
 public:
  explicit CountingOSUtil(ZKUint64 nJobId) : MemOSUtil(nJobId) {}
  ZKUint64 GetJobId() override {
    ++nCalls;
    return MemOSUtil::GetJobId();
  }
  int GetConfigString(const char* pszSection, const char* pszKey, char* pBuffer,
                      int nSize) override {
    ++nCalls;
    return MemOSUtil::GetConfigString(pszSection, pszKey, pBuffer, nSize);
  }
  bool GetConfigInt(const char* pszSection, const char* pszKey,
                    int* pValue) override {
    ++nCalls;
    return MemOSUtil::GetConfigInt(pszSection, pszKey, pValue);
  }
  int nCalls = 0;
};

bool HasLine(const ZkCaptureLogSink& oSink, const std::string& sText) {
  for (const ZkLogLine& oLine : oSink.Lines()) {
    if (oLine.sText == sText) return true;
  }
  return false;
}

std::vector<std::string> ErrorLines(const ZkCaptureLogSink& oSink) {
  std::vector<std::string> v;
  for (const ZkLogLine& oLine : oSink.Lines()) {
    if (oLine.eStream == ZkLogLine::kError) v.push_back(oLine.sText);
  }
  return v;
}

const std::string kShare = "/fs1/share";
const std::string kNfsId =
    Identifier("vmware", "nfs", kShare, "", "fileserver1", "celerra");
const std::string kApmSerial = "APM001234567";
const std::string kFcTarget = "50:06:01:60:3e:a0:1b:2c";

struct DetermineCase {
  const char* pszName;
  std::string sIdentifier;
  bool bResult;
  std::string sServer;  // expected outputs (all empty on failure)
  std::string sPath;
  std::vector<std::string> vErrorLines;   // the error stream, in order
  std::vector<std::string> vPresent;      // lines that must be written
  std::vector<std::string> vAbsent = {};  // texts no line may hold
};

std::string E1161(const std::string& sId) {
  return "ZKSnapEngineCelerra(1161): -Error-: Error:Unable to determine the "
         "file server information for device " +
         sId;
}
std::string E1290(const std::string& sUUID) {
  return "ZKSnapEngineCelerra(1290): -Error-: Error:Unable to derive the "
         "serial number/nfs share from the LunUUID :[" +
         sUUID + "]";
}
const std::string E1166 =
    "ZKSnapEngineCelerra(1166): -Error-: Error:Device type is either iscsi or "
    "fc but filer identifier has not been provided, unable to proceed";
const std::string E1170 =
    "ZKSnapEngineCelerra(1170): -Error-: Error:Device type is either iscsi or "
    "nfs but filer name has not been provided, unable to proceed";
std::string NoFiler(const std::string& sId) {
  return "Unable to find the filer corresponding to srcDevice:[" + sId + "]";
}

std::vector<DetermineCase> DetermineCases() {
  std::vector<DetermineCase> v;
  v.push_back({"NfsFromCodec",
               kNfsId,
               true,
               "fileserver1",
               kShare,
               {},
               {"Got identifier:[/fs1/share], targetidentifier:[], type:[nfs] "
                ", targethostname[fileserver1]",
                "Found CtrlHostServer:[fileserver1], ControlHostPath:[/fs1/"
                "share], ControlHostVolume:[/fs1/share] corresponding to "
                "srcDevice:[" +
                    kNfsId + "]"}});
  // The words may stand anywhere, in any case, not only as key values.
  const std::string sAnywhere =
      "{kemtype:esx,type:nfs,lunuuid:\\/VMWARE\\/share,"
      "targethostname:fs9,vendor:CeLeRrA-like}";
  v.push_back({"WordsAnywhereInAnyCase",
               sAnywhere,
               true,
               "fs9",
               "/VMWARE/share",
               {},
               {}});
  const std::string sTypeFirst =
      "{type:nfs,kemtype:vmware,lunuuid:\\/fs1\\/share,"
      "targethostname:fileserver1,vendor:celerra}";
  v.push_back({"TypeRightAfterBraceIsNotRead",
               sTypeFirst,
               false,
               "",
               "",
               {E1290(kShare), E1161(sTypeFirst)},
               {},
               {"Got identifier:[", "Found CtrlHostServer"}});
  const std::string sNfsNoHost =
      Identifier("vmware", "nfs", kShare, "", "", "celerra");
  v.push_back(
      {"NfsWithoutTargetHostName", sNfsNoHost, false, "", "", {E1170}, {}});
  const std::string sFcNoTarget = Identifier(
      "vmware", "fc", LunUUIDFor(kApmSerial), "", "fileserver1", "celerra");
  v.push_back(
      {"FcWithoutTargetIdentifier", sFcNoTarget, false, "", "", {E1166}, {}});
  const std::string sFc = Identifier("vmware", "fc", LunUUIDFor(kApmSerial),
                                     kFcTarget, "fileserver1", "celerra");
  v.push_back({"FcIsReadButNamesNoFiler",
               sFc,
               false,
               "",
               "",
               {},
               {"FCP CtrlHost Identifier :[500601603EA01B2C]",
                "Serial # corresponding to UUID [" + LunUUIDFor(kApmSerial) +
                    "] is [APM001234567]\n",
                NoFiler(sFc)}});
  const std::string sShortUUID = LunUUIDFor(kApmSerial).substr(0, 41);
  const std::string sFcShort = Identifier("vmware", "fc", sShortUUID, kFcTarget,
                                          "fileserver1", "celerra");
  v.push_back({"FcWithShortLunUUID",
               sFcShort,
               false,
               "",
               "",
               {E1290(sShortUUID), E1161(sFcShort)},
               {}});
  const std::string sIscsiNoTarget =
      Identifier("vmware", "iscsi", LunUUIDFor(kApmSerial), "", "", "celerra");
  v.push_back({"IscsiWithoutTargetIdentifierFailsOnIt",
               sIscsiNoTarget,
               false,
               "",
               "",
               {E1166},
               {}});
  const std::string sIscsi =
      Identifier("vmware", "iscsi", LunUUIDFor(kApmSerial),
                 "iqn.1992-05.com.emc:apm", "fileserver1", "celerra");
  v.push_back(
      {"IscsiNamesNoFiler", sIscsi, false, "", "", {}, {NoFiler(sIscsi)}});
  const std::string sWrongVendor =
      Identifier("vmware", "nfs", kShare, "", "fileserver1", "netapp");
  v.push_back({"WrongVendor",
               sWrongVendor,
               false,
               "",
               "",
               {},
               {"Vendor name supplied with device is wrong, expected vendor "
                "name \"celerra\" got vendor name [" +
                sWrongVendor + "]"}});
  // A pair right after "{" is not read: here the host name.
  const std::string sHostFirst =
      "{targethostname:fileserver1,kemtype:vmware,type:nfs,"
      "lunuuid:\\/fs1\\/share,vendor:celerra}";
  v.push_back({"HostNameRightAfterBraceIsNotRead",
               sHostFirst,
               false,
               "",
               "",
               {E1170},
               {}});
  // Values read the same wherever their pair stands: a last host name pair
  // keeps its ":" part.
  const std::string sHostLast =
      "{kemtype:vmware,type:nfs,lunuuid:\\/fs1\\/share,vendor:celerra,"
      "targethostname:fileserver1:8443}";
  v.push_back({"LastHostNamePairIsReadAsIs",
               sHostLast,
               true,
               "fileserver1:8443",
               kShare,
               {},
               {}});
  return v;
}

class ControlHostTest : public ::testing::Test {
 protected:
  zkref::MemOSUtil m_oOSUtil{kJobId};
  ZkCaptureLogSink m_oSink;
};

TEST_F(ControlHostTest, DetermineControlHostTable) {
  for (const DetermineCase& c : DetermineCases()) {
    SCOPED_TRACE(c.pszName);
    m_oSink.Clear();
    std::string sServer = "stale", sPath = "stale", sVolume = "stale";
    EXPECT_EQ(c.bResult, DetermineControlHost(c.sIdentifier, &m_oOSUtil,
                                              sServer, sPath, sVolume));
    EXPECT_EQ(c.sServer, sServer);
    EXPECT_EQ(c.sPath, sPath);
    EXPECT_EQ(c.sPath, sVolume);
    EXPECT_EQ(c.vErrorLines, ErrorLines(m_oSink)) << m_oSink.Dump();
    for (const std::string& sText : c.vPresent) {
      EXPECT_TRUE(HasLine(m_oSink, sText)) << sText << "\n" << m_oSink.Dump();
    }
    for (const std::string& sText : c.vAbsent) {
      EXPECT_FALSE(m_oSink.Contains(sText)) << sText << "\n" << m_oSink.Dump();
    }
    for (const ZkLogLine& oLine : m_oSink.Lines()) {
      EXPECT_TRUE(oLine.bHasJobId) << oLine.ToString();
      EXPECT_EQ(kJobId, oLine.nJobId) << oLine.ToString();
    }
  }
}

TEST_F(ControlHostTest, NothingOfVMwareOrEmptyIsRefusedWithoutALine) {
  for (const std::string& sId :
       {std::string(),
        Identifier("", "nfs", kShare, "", "fileserver1", "celerra")}) {
    m_oSink.Clear();
    std::string sServer, sPath, sVolume;
    EXPECT_FALSE(
        DetermineControlHost(sId, &m_oOSUtil, sServer, sPath, sVolume));
    EXPECT_TRUE(m_oSink.Lines().empty()) << m_oSink.Dump();
  }
}

struct ParseCase {
  const char* pszName;
  std::string sText;
  bool bResult;
  std::string sIdentifier, sTargetIdentifier, sTargetHostName, sType;
};

TEST_F(ControlHostTest, ParseDeviceIdentifierTable) {
  // 40 bytes: 80 characters once the colons are gone.
  std::string sLongTarget, sLongUpper;
  for (int k = 0; k < 40; ++k) {
    sLongTarget += k == 0 ? "" : ":";
    sLongTarget += "b" + std::to_string(k % 10);
    sLongUpper += "B" + std::to_string(k % 10);
  }
  const std::vector<ParseCase> vCases = {
      {"Nfs", kNfsId, true, kShare, "", "fileserver1", "nfs"},
      {"FcTargetColonFreeUpperCase",
       Identifier("vmware", "fc", LunUUIDFor(kApmSerial), kFcTarget, "",
                  "celerra"),
       true, kApmSerial, "500601603EA01B2C", "", "fc"},
      {"FcTargetOfAnyLength",
       Identifier("vmware", "fc", LunUUIDFor("AB"), sLongTarget, "", "celerra"),
       true, "AB", sLongUpper, "", "fc"},
      // Not "fc": the target identifier is kept as read, also as last pair.
      {"LastTargetIdentifierPairIsNotUpperCased",
       "{kemtype:vmware,type:iscsi,lunuuid:" + LunUUIDFor("AB") +
           ",vendor:celerra,targetidentifier:iqn.1992-05.com.emc:apm}",
       true, "AB", "iqn.1992-05.com.emc:apm", "", "iscsi"},
      {"EscapedValuesAreUnescaped",
       "{kemtype:vmware,type:nfs,lunuuid:\\/a\\\\b,targethostname:f\\/s,"
       "vendor:celerra}",
       true, "/a\\b", "", "f/s", "nfs"},
      // Without "," or "}" after it a value reads as absent.
      {"UnterminatedLastValueIsAbsent",
       "{kemtype:vmware,type:nfs,lunuuid:\\/x,targethostname:fs1", true, "/x",
       "", "", "nfs"},
      {"ZeroSerialByteEndsSerial",
       Identifier("vmware", "fc", LunUUIDFor(std::string("AB\0CD", 5)), "", "",
                  "celerra"),
       true, "AB", "", "", "fc"},
  };
  for (const ParseCase& c : vCases) {
    SCOPED_TRACE(c.pszName);
    std::string sId = "stale", sTarget = "stale", sHost = "stale",
                sType = "stale";
    EXPECT_EQ(c.bResult, ParseDeviceIdentifier(kJobId, c.sText, sId, sTarget,
                                               sHost, sType));
    EXPECT_EQ(c.sIdentifier, sId);
    EXPECT_EQ(c.sTargetIdentifier, sTarget);
    EXPECT_EQ(c.sTargetHostName, sHost);
    EXPECT_EQ(c.sType, sType);
  }
}

TEST_F(ControlHostTest, ParseDeviceIdentifierOfEmptyTextLogs1219) {
  std::string sId, sTarget, sHost, sType;
  EXPECT_FALSE(ParseDeviceIdentifier(kJobId, "", sId, sTarget, sHost, sType));
  EXPECT_EQ(std::vector<std::string>{"ZKSnapEngineCelerra(1219): -Error-: "
                                     "Error:Array info is empty unable to get "
                                     "filer login info"},
            ErrorLines(m_oSink));
}

TEST_F(ControlHostTest, GetIdentifierFromUUIDNeedsFortyTwoCharacters) {
  std::string sId = "stale";
  EXPECT_TRUE(GetIdentifierFromUUID(kJobId, "", "nfs", sId));
  EXPECT_EQ("", sId);
  EXPECT_TRUE(GetIdentifierFromUUID(kJobId, LunUUIDFor(kApmSerial), "fc", sId));
  EXPECT_EQ(kApmSerial, sId);
  sId = "stale";
  EXPECT_FALSE(GetIdentifierFromUUID(
      kJobId, LunUUIDFor(kApmSerial).substr(0, 41), "fc", sId));
  EXPECT_EQ("", sId);
}

TEST(IsSupportedTest, OnlySnapshotTypeIsAskedAndNoHostCallOtherwise) {
  CountingOSUtil oOSUtil(kJobId);
  ZkCaptureLogSink oSink;
  for (ZKSO::SNAP_TYPE eType : {ZKSO::SNAP_TYPE_NONE, ZKSO::SNAP_TYPE_CLONE,
                                static_cast<ZKSO::SNAP_TYPE>(7)}) {
    char aBuffer[16] = "untouched";
    EXPECT_EQ(ZKSO::RESULT_FAILURE,
              zkso_isSupported(kNfsId.c_str(), eType, &oOSUtil, aBuffer,
                               sizeof(aBuffer)));
    EXPECT_STREQ("untouched", aBuffer);
  }
  EXPECT_EQ(0, oOSUtil.nCalls);
  EXPECT_TRUE(oSink.Lines().empty()) << oSink.Dump();
}

TEST(IsSupportedTest, AnswersFromTheControlHostDecision) {
  zkref::MemOSUtil oOSUtil(kJobId);
  ZkCaptureLogSink oSink;
  char aBuffer[16] = "untouched";
  EXPECT_EQ(ZKSO::RESULT_SUCCESS,
            zkso_isSupported(kNfsId.c_str(), ZKSO::SNAP_TYPE_SNAPSHOT, &oOSUtil,
                             aBuffer, sizeof(aBuffer)));
  EXPECT_STREQ("untouched", aBuffer);
  for (const DetermineCase& c : DetermineCases()) {
    SCOPED_TRACE(c.pszName);
    EXPECT_EQ(c.bResult ? ZKSO::RESULT_SUCCESS : ZKSO::RESULT_PARTIAL_SUCCESS,
              zkso_isSupported(c.sIdentifier.c_str(), ZKSO::SNAP_TYPE_SNAPSHOT,
                               &oOSUtil, aBuffer, sizeof(aBuffer)));
  }
  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS,
            zkso_isSupported("", ZKSO::SNAP_TYPE_SNAPSHOT, &oOSUtil, aBuffer,
                             sizeof(aBuffer)));
}

// No host object, no text: answered, never a crash.
TEST(IsSupportedTest, NullArgumentsAreAnsweredWithoutCrash) {
  zkref::MemOSUtil oOSUtil(kJobId);
  EXPECT_EQ(ZKSO::RESULT_FAILURE,
            zkso_isSupported(kNfsId.c_str(), ZKSO::SNAP_TYPE_SNAPSHOT, nullptr,
                             nullptr, 0));
  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS,
            zkso_isSupported(nullptr, ZKSO::SNAP_TYPE_SNAPSHOT, &oOSUtil,
                             nullptr, 0));
}

}  // namespace
