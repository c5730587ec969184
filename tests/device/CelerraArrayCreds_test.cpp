// SPDX-License-Identifier: Apache-2.0
// Binding a record to its array entry and reading the entry's credentials.
#include <string>

#include "DeviceTestSupport.h"
#include "ScopedHostsFile.h"

namespace {

using zktest::DeviceTest;
using zktest::kPassword;
using zktest::NfsSource;

class ArrayCredsTest : public DeviceTest {
 protected:
  void SetUp() override {
    m_oRecord.sSourceDevice = NfsSource("/fs1", "filer1");
    m_pDevice = MakeDevice(SNAP_OP_PREPARE);
    ASSERT_TRUE(m_pDevice);
    m_pPeer.reset(new CelerraSnapDeviceTestPeer(m_pDevice.get()));
  }
  // The record bound to an entry whose array information is sArrayInfo.
  void BindTo(const std::string& sArrayInfo) {
    zkref::ArrayEntry oEntry;
    oEntry.sName = "filer1";
    oEntry.sArrayInfo = sArrayInfo;
    m_oDatabase.Add(oEntry);
    m_oRecord.sBoundArray = "filer1";
  }
  std::vector<std::string> ArrayNameCalls() const {
    std::vector<std::string> vCalls;
    for (const std::string& sCall : m_oRecord.Calls()) {
      if (sCall.rfind("SetArrayName", 0) == 0) vCalls.push_back(sCall);
    }
    return vCalls;
  }

  CelerraSnapDevicePtr m_pDevice;
  std::unique_ptr<CelerraSnapDeviceTestPeer> m_pPeer;
};

TEST_F(ArrayCredsTest, AcceptsExactlyTheTwoVendorNames) {
  const struct {
    const char* pszVendor;
    bool bAccepted;
  } aCases[] = {
      {"Dell EMC VNX / Celerra", true},
      {"EMC VNX / Celerra", true},
      {"EMC VNX / CELERRA", false},
      {"dell emc vnx / celerra", false},
      {"EMC VNX/Celerra", false},
      {"Dell EMC VNX / Celerra ", false},
      {"NetApp", false},
      {"", false},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszVendor);
    m_oDatabase.Clear();
    m_oRecord.vJobLog.clear();
    BindTo(zkref::ArrayDatabase::FormArrayInfo("array-1", oCase.pszVendor,
                                               "cs1", "nasadmin", kPassword));
    m_pPeer->ArrayIdentifier() = "filer1";
    m_pPeer->Credentials() = _CelerraArrayCredentials();

    EXPECT_EQ(m_pDevice->GetArrayCredsFromDB(), oCase.bAccepted);
    if (oCase.bAccepted) {
      EXPECT_EQ(m_pPeer->ArrayIdentifier(), "array-1");
      EXPECT_EQ(m_pPeer->Credentials().sHostName, "cs1");
      EXPECT_EQ(m_pPeer->Credentials().sHostUserName, "nasadmin");
      EXPECT_EQ(m_pPeer->Credentials().sHostPassword, kPassword);
      EXPECT_TRUE(m_oRecord.vJobLog.empty());
    } else {
      // Nothing taken from a rejected entry.
      EXPECT_EQ(m_pPeer->ArrayIdentifier(), "filer1");
      EXPECT_EQ(m_pPeer->Credentials().sHostName, "");
      ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
      EXPECT_EQ(m_oRecord.vJobLog[0].nLevel, 2);
      EXPECT_EQ(m_oRecord.vJobLog[0].sTag,
                "CelerraSnapDevice::GetArrayCredsFromDB");
      EXPECT_EQ(m_oRecord.vJobLog[0].sText,
                std::string("Vendor Name [") + oCase.pszVendor +
                    "]. Expected [Dell EMC VNX / Celerra] or [EMC VNX / "
                    "Celerra]. Please correct the array entry");
    }
  }
}

TEST_F(ArrayCredsTest, EntryWithoutVendorIsRejected) {
  BindTo(std::string("{arrayId:array-1,hostName:cs1,hostUserName:nasadmin,"
                     "hostPassword:") +
         kPassword + ",engineName:celerra}");
  EXPECT_FALSE(m_pDevice->GetArrayCredsFromDB());
  ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
  EXPECT_EQ(m_oRecord.vJobLog[0].sText,
            "Vendor Name []. Expected [Dell EMC VNX / Celerra] or [EMC VNX / "
            "Celerra]. Please correct the array entry");
}

// A password holding "{vendorName:" used to be read as the vendor and shown
// in the job log.
TEST_F(ArrayCredsTest, VendorHiddenInPasswordIsNeverReadNorLogged) {
  BindTo(
      "{arrayId:array-1,hostName:cs1,hostUserName:nasadmin,"
      "hostPassword:p{vendorName:Secr3tTail,engineName:celerra}");
  EXPECT_FALSE(m_pDevice->GetArrayCredsFromDB());
  ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
  EXPECT_EQ(m_oRecord.vJobLog[0].sText,
            "Vendor Name []. Expected [Dell EMC VNX / Celerra] or [EMC VNX / "
            "Celerra]. Please correct the array entry");
}

TEST_F(ArrayCredsTest, EntryWithoutArrayIdEmptiesTheIdentifier) {
  BindTo(std::string("{vendorName:EMC VNX \\/ Celerra,hostName:cs1,"
                     "hostUserName:nasadmin,hostPassword:") +
         kPassword + ",engineName:celerra}");
  m_pPeer->ArrayIdentifier() = "filer1";
  ASSERT_TRUE(m_pDevice->GetArrayCredsFromDB());
  EXPECT_EQ(m_pPeer->ArrayIdentifier(), "");
  EXPECT_EQ(m_pPeer->Credentials().sHostPassword, kPassword);
}

TEST_F(ArrayCredsTest, MissingArrayInformationOrHostObjectsFail) {
  // Bound to nothing: the host has no array information.
  EXPECT_FALSE(m_pDevice->GetArrayCredsFromDB());
  ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
  EXPECT_EQ(m_oRecord.vJobLog[0].nLevel, 2);
  EXPECT_EQ(m_oRecord.vJobLog[0].sText,
            "Error:Unable to get the login credentials.");

  m_pPeer->OSUtil() = nullptr;
  EXPECT_FALSE(m_pDevice->GetArrayCredsFromDB());
  auto vLines = LinesOf("CelerraSnapDevice::GetArrayCredsFromDB",
                        "osutil and snapinfo objects are not initialised");
  ASSERT_EQ(vLines.size(), 1u);
  EXPECT_EQ(vLines[0].nLevel, -1);
}

TEST_F(ArrayCredsTest, SetArrayInfoBindsByName) {
  AddArray("filer1");
  m_pPeer->ArrayIdentifier() = "filer1";
  ASSERT_TRUE(m_pDevice->SetArrayInfo());
  EXPECT_EQ(ArrayNameCalls(),
            std::vector<std::string>{"SetArrayName(\"filer1\")"});
  EXPECT_EQ(m_oRecord.sBoundArray, "filer1");
  EXPECT_TRUE(m_oRecord.vJPRHistory.empty());
  auto vLines = LinesOf("CelerraSnapDevice::SetArrayInfo",
                        "Successfully got the array credentials using the "
                        "passed in array name [filer1]");
  ASSERT_EQ(vLines.size(), 1u);
  EXPECT_FALSE(vLines[0].bHasLevel);
  EXPECT_EQ(vLines[0].nJobId, kJobId);
}

TEST_F(ArrayCredsTest, SetArrayInfoFallsBackToTheAddress) {
  ScopedHostsFile oHosts("10.9.8.7 filer-by-ip.zk.invalid\n");
  AddArray("registered-name", {"10.9.8.7"});
  m_pPeer->ArrayIdentifier() = "filer-by-ip.zk.invalid";
  ASSERT_TRUE(m_pDevice->SetArrayInfo());
  EXPECT_EQ(ArrayNameCalls(), (std::vector<std::string>{
                                  "SetArrayName(\"filer-by-ip.zk.invalid\")",
                                  "SetArrayName(\"10.9.8.7\")"}));
  EXPECT_EQ(m_oRecord.sBoundArray, "registered-name");
  // The reason message is cleared on the way.
  EXPECT_EQ(m_oRecord.vJPRHistory,
            (std::vector<std::pair<int, std::string>>{{0, "[]"}}));
  EXPECT_EQ(LinesOf("CelerraSnapDevice::SetArrayInfo",
                    "Unable to get the array credentials using the passed in "
                    "array name [filer-by-ip.zk.invalid], try getting its "
                    "alternate names/IPs")
                .size(),
            1u);
}

TEST_F(ArrayCredsTest, SetArrayInfoOfAnUnresolvableUnknownNameFails) {
  ScopedHostsFile oHosts("10.9.8.7 other.zk.invalid\n");
  AddArray("filer1");
  m_pPeer->ArrayIdentifier() = "nohost.zk.invalid";
  EXPECT_FALSE(m_pDevice->SetArrayInfo());
  EXPECT_EQ(ArrayNameCalls(),
            (std::vector<std::string>{"SetArrayName(\"nohost.zk.invalid\")",
                                      "SetArrayName(\"\")"}));
  EXPECT_EQ(m_oRecord.sBoundArray, "");
  auto vLines = LinesOf("CelerraSnapDevice::SetArrayInfo",
                        "Error:Unable to set the login credentials for filer "
                        "[nohost.zk.invalid]");
  ASSERT_EQ(vLines.size(), 1u);
  EXPECT_FALSE(vLines[0].bHasLevel);
}

}  // namespace
