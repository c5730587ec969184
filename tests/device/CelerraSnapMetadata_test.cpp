// SPDX-License-Identifier: Apache-2.0
// The stored metadata texts: file system (base, NFS, NAS), snap UUID and
// mount, written and parsed back; the record's intent.
#include <algorithm>
#include <climits>
#include <string>

#include "DeviceTestSupport.h"

namespace {

using zktest::DeviceTest;
using zktest::Identifier;
using zktest::NfsSource;

class MetadataTest : public DeviceTest {
 protected:
  CelerraSnapDevicePtr Make(_CelerraSourceDeviceType eKind) {
    const char* pszType = eKind == CELERRA_DEVICE_NAS   ? "native_celerra"
                          : eKind == CELERRA_DEVICE_UNC ? "unc"
                                                        : "nfs";
    m_oRecord.sSourceDevice = Identifier(pszType, "/fs1/a", "filer1", "/fs1/a");
    return CelerraSnapDevicePtr(CelerraSnapDevice::InitializeDeviceObj(
        eKind, &m_oOSUtil, &m_oRecord, m_oRecord.sSourceDevice,
        SNAP_OP_PREPARE));
  }
  bool ParseErrorLogged(const char* pszTag, const std::string& sText) {
    auto vLines =
        LinesOf(pszTag, "Unable to parse filesystem information from FSInfo:[" +
                            sText + "]");
    return vLines.size() == 1 && vLines[0].nLevel == -1;
  }
};

// ---- File system metadata, base format ----

TEST_F(MetadataTest, BaseFormatWritesAndParsesThreeFields) {
  CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NFS);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  oPeer.Storage() = {"fs1", static_cast<eCelerraStgType>(3), "x"};
  EXPECT_EQ(pDevice->CelerraSnapDevice::GetFSMetaData(), "fs1|3|x|");

  const struct {
    std::string sText;
    bool bOk;
    std::string sPFSId;
    int nType;
    std::string sExtra;
  } aCases[] = {
      {"fs1|3|x|", true, "fs1", 3, "x"},
      {"fs1|3|x", true, "fs1", 3, "x"},
      {"fs1|raw|x|", true, "fs1", 0, "x"},  // not a number: 0, no error
      {"fs1| -7|x|", true, "fs1", -7, "x"},
      {"fs1|+12ab|x|", true, "fs1", 12, "x"},
      {"fs1|99999999999999999999|x|", true, "fs1", INT_MAX, "x"},
      {"fs1|-99999999999999999999|x|", true, "fs1", INT_MIN, "x"},
      {"fs1|3||", false, "fs1", 3, ""},
      {"|3|x|", false, "", 3, "x"},
      {"", false, "", 0, ""},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sText);
    m_oLog.Clear();
    unsigned long nPosition = 0;
    EXPECT_EQ(
        pDevice->CelerraSnapDevice::ParseFSMetaData(oCase.sText, nPosition),
        oCase.bOk);
    EXPECT_EQ(oPeer.Storage().sPFSId, oCase.sPFSId);
    EXPECT_EQ(static_cast<int>(oPeer.Storage().eStorageType), oCase.nType);
    EXPECT_EQ(oPeer.Storage().sStorageExtra, oCase.sExtra);
    EXPECT_EQ(
        ParseErrorLogged("CelerraSnapDevice::ParseFSMetaData", oCase.sText),
        !oCase.bOk);
  }
}

// ---- NFS ----

TEST_F(MetadataTest, NfsFormatWritesSixFields) {
  CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NFS);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  oPeer.NfsTargetHostName() = "filer1";
  oPeer.Storage() = {"fs1", static_cast<eCelerraStgType>(1), "pool9"};
  oPeer.NfsMoverId() = "server_2";
  oPeer.NfsShareName() = "/fs1/a";
  EXPECT_EQ(pDevice->GetFSMetaData(), "filer1|fs1|1|pool9|server_2|/fs1/a|");
}

TEST_F(MetadataTest, NfsFormatParses) {
  const struct {
    std::string sText;
    bool bOk;
    std::string sHost, sPFSId, sExtra, sMover, sShare;
  } aCases[] = {
      {"filer1|fs1|1|x|server_2|/fs1/a|", true, "filer1", "fs1", "x",
       "server_2", "/fs1/a"},
      // The target host is not required; the array identifier follows it.
      {"|fs1|1|x|server_2|/fs1|", true, "", "fs1", "x", "server_2", "/fs1"},
      {"filer1|fs1|1|x||/fs1|", false, "filer1", "fs1", "x", "", "/fs1"},
      {"filer1|fs1|1|x|server_2||", false, "filer1", "fs1", "x", "server_2",
       ""},
      {"filer1||1|x|server_2|/fs1|", false, "filer1", "", "x", "server_2",
       "/fs1"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sText);
    m_oLog.Clear();
    CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NFS);
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    oPeer.ArrayIdentifier() = "before";
    EXPECT_EQ(pDevice->ParseFSMetaData(oCase.sText), oCase.bOk);
    EXPECT_EQ(oPeer.NfsTargetHostName(), oCase.sHost);
    EXPECT_EQ(oPeer.ArrayIdentifier(), oCase.sHost);
    EXPECT_EQ(oPeer.Storage().sPFSId, oCase.sPFSId);
    EXPECT_EQ(oPeer.Storage().sStorageExtra, oCase.sExtra);
    EXPECT_EQ(oPeer.NfsMoverId(), oCase.sMover);
    EXPECT_EQ(oPeer.NfsShareName(), oCase.sShare);
    EXPECT_EQ(
        ParseErrorLogged("CelerraSnapDeviceNfs::ParseFSMetaData", oCase.sText),
        !oCase.bOk);
  }
}

// ---- NAS ----

TEST_F(MetadataTest, NasFormatWritesBaseThenSixFields) {
  CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NAS);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  oPeer.Storage() = {"fs1", static_cast<eCelerraStgType>(2), "x"};
  oPeer.NASTargetHostName() = "filer1";
  oPeer.NASPath() = "/fs1/ds1";
  oPeer.NASFSName() = "fsname";
  oPeer.NASVdmId() = "2";
  oPeer.NASMountPath() = "/fs1";
  oPeer.NASIsVdm() = true;
  EXPECT_EQ(pDevice->GetFSMetaData(),
            "fs1|2|x|filer1|/fs1/ds1|fsname|2|true|/fs1|");
  oPeer.NASIsVdm() = false;
  EXPECT_EQ(pDevice->GetFSMetaData(),
            "fs1|2|x|filer1|/fs1/ds1|fsname|2|false|/fs1|");
}

TEST_F(MetadataTest, NasFormatParses) {
  const struct {
    std::string sText;
    bool bOk;
    bool bIsVdm;
    std::string sMoverMountPath;
  } aCases[] = {
      {"fs1|1|x|filer1|/fs1/ds1|fsname|2|true|/fs1|", true, true,
       "/root_vdm_2/fs1"},
      {"fs1|1|x|filer1|/fs1/ds1|fsname|server_2|false|/fs1|", true, false,
       "/fs1"},
      // File system name and mount path may be empty.
      {"fs1|1|x|filer1|/fs1/ds1||server_2|false||", true, false, ""},
      {"fs1|1|x|filer1|/fs1/ds1|fsname|2|TRUE|/fs1|", false, false, "/fs1"},
      {"fs1|1|x|filer1|/fs1/ds1|fsname|2||/fs1|", false, false, "/fs1"},
      {"fs1|1|x||/fs1/ds1|fsname|2|true|/fs1|", false, true, "/root_vdm_2/fs1"},
      {"fs1|1|x|filer1||fsname|2|true|/fs1|", false, true, "/root_vdm_2/fs1"},
      {"fs1|1|x|filer1|/fs1/ds1|fsname||false|/fs1|", false, false, "/fs1"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sText);
    m_oLog.Clear();
    CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NAS);
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    EXPECT_EQ(pDevice->ParseFSMetaData(oCase.sText), oCase.bOk);
    EXPECT_EQ(oPeer.NASIsVdm(), oCase.bIsVdm);
    EXPECT_EQ(oPeer.NASMoverMountPath(), oCase.sMoverMountPath);
    EXPECT_EQ(
        ParseErrorLogged("CelerraSnapDeviceNAS::ParseFSMetaData", oCase.sText),
        !oCase.bOk);
  }
}

TEST_F(MetadataTest, NasFormatRoundTrips) {
  CelerraSnapDevicePtr pWriter = Make(CELERRA_DEVICE_NAS);
  CelerraSnapDeviceTestPeer oWriter(pWriter.get());
  oWriter.Storage() = {"fs7", static_cast<eCelerraStgType>(1), "x"};
  oWriter.NASTargetHostName() = "filer1";
  oWriter.NASPath() = "/root_vdm_3/fs1/ds1";
  oWriter.NASFSName() = "fs_seven";
  oWriter.NASVdmId() = "3";
  oWriter.NASIsVdm() = true;
  oWriter.NASMountPath() = "/fs1";

  CelerraSnapDevicePtr pReader = Make(CELERRA_DEVICE_NAS);
  CelerraSnapDeviceTestPeer oReader(pReader.get());
  ASSERT_TRUE(pReader->ParseFSMetaData(pWriter->GetFSMetaData()));
  EXPECT_EQ(oReader.Storage().sPFSId, "fs7");
  EXPECT_EQ(oReader.Storage().eStorageType, 1);
  EXPECT_EQ(oReader.ArrayIdentifier(), "filer1");
  EXPECT_EQ(oReader.NASPath(), "/root_vdm_3/fs1/ds1");
  EXPECT_EQ(oReader.NASFSName(), "fs_seven");
  EXPECT_EQ(oReader.NASVdmId(), "3");
  EXPECT_EQ(oReader.NASMountPath(), "/fs1");
  EXPECT_EQ(oReader.NASMoverMountPath(), "/root_vdm_3/fs1");
  EXPECT_EQ(pReader->GetFSMetaData(), pWriter->GetFSMetaData());
}

TEST_F(MetadataTest, LunAndUncHaveNoFileSystemText) {
  for (auto eKind : {CELERRA_DEVICE_LUN, CELERRA_DEVICE_UNC}) {
    CelerraSnapDevicePtr pDevice = Make(eKind);
    EXPECT_EQ(pDevice->GetFSMetaData(), "");
    EXPECT_FALSE(pDevice->ParseFSMetaData("fs1|3|x|"));
  }
}

// ---- Snap UUID and mount ----

TEST_F(MetadataTest, SnapUUIDParses) {
  const struct {
    std::string sText;
    bool bOk;
    std::string sName, sId, sBaseline;
  } aCases[] = {
      {"ckpt_1|101|", true, "ckpt_1", "101", ""},
      {"ckpt_1|101", true, "ckpt_1", "101", ""},
      {"ckpt_1|101|55", true, "ckpt_1", "101", "55"},
      {"ckpt_1|101|55|", true, "ckpt_1", "101", "55"},
      {"ckpt_1||", false, "ckpt_1", "", ""},
      {"|101|", false, "", "101", ""},
      {"", false, "", "", ""},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sText);
    m_oLog.Clear();
    CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NFS);
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    EXPECT_EQ(pDevice->ParseSnapUUID(oCase.sText), oCase.bOk);
    EXPECT_EQ(oPeer.ChkptName(), oCase.sName);
    EXPECT_EQ(oPeer.ChkptId(), oCase.sId);
    EXPECT_EQ(oPeer.BaselineChkptId(), oCase.sBaseline);
    auto vError = LinesOf(
        "CelerraSnapDevice::ParseSnapUUID",
        "Unable to parse ChkPtName,  ChkPtId from:[" + oCase.sText + "]");
    auto vDone = LinesOf(
        "CelerraSnapDevice::ParseSnapUUID",
        "CheckpointName:[" + oCase.sName + "], chkptid [" + oCase.sId + "]");
    EXPECT_EQ(vError.size(), oCase.bOk ? 0u : 1u);
    EXPECT_EQ(vDone.size(), oCase.bOk ? 1u : 0u);
  }
}

TEST_F(MetadataTest, MountInfoParses) {
  CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NFS);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  ASSERT_TRUE(pDevice->ParseMountInfo("rw|7"));
  EXPECT_EQ(oPeer.RWChkptName(), "rw");
  EXPECT_EQ(oPeer.RWChkptId(), "7");

  m_oLog.Clear();
  EXPECT_FALSE(pDevice->ParseMountInfo("rw|"));
  EXPECT_EQ(oPeer.RWChkptId(), "");
  EXPECT_TRUE(m_oLog.Contains(
      "CelerraSnapDevice::ParseMountInfo Unable to parse ChkPtName,  ChkPtId "
      "rw|]"));

  // An empty text empties both and logs nothing.
  oPeer.RWChkptName() = "old";
  m_oLog.Clear();
  EXPECT_FALSE(pDevice->ParseMountInfo(""));
  EXPECT_EQ(oPeer.RWChkptName(), "");
  EXPECT_TRUE(m_oLog.Lines().empty());
}

// ---- Writers ----

TEST_F(MetadataTest, UpdateFSMetaDataStoresTheKindsText) {
  CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NFS);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  oPeer.NfsTargetHostName() = "filer1";
  oPeer.Storage() = {"fs1", static_cast<eCelerraStgType>(1), "x"};
  oPeer.NfsMoverId() = "server_2";
  oPeer.NfsShareName() = "/fs1/a";
  ASSERT_TRUE(pDevice->UpdateFSMetaData());
  EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_FS_INFO],
            "filer1|fs1|1|x|server_2|/fs1/a|");
  ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
  EXPECT_EQ(m_oRecord.vJobLog[0].nLevel, 1);
  EXPECT_EQ(m_oRecord.vJobLog[0].sTag, "");  // LogMessage
  EXPECT_EQ(m_oRecord.vJobLog[0].sText,
            "CelerraSnapDevice::UpdateMetaData: Setting Metadata "
            "[filer1|fs1|1|x|server_2|/fs1/a|] for metadata "
            "type[SM_MDT_FS_INFO] for device [" +
                m_oRecord.sSourceDevice + "]");

  // A UNC device stores the empty text.
  CelerraSnapDevicePtr pUnc = Make(CELERRA_DEVICE_UNC);
  ASSERT_TRUE(pUnc->UpdateFSMetaData());
  EXPECT_EQ(m_oRecord.mMetaData.at(SM_MDT_FS_INFO), "");
}

TEST_F(MetadataTest, FieldHoldingSeparatorIsNotStored) {
  const struct {
    _CelerraSourceDeviceType eKind;
    const char* pszField;
  } aCases[] = {
      {CELERRA_DEVICE_NFS, "target host name"},
      {CELERRA_DEVICE_NFS, "PFS id"},
      {CELERRA_DEVICE_NFS, "storage extra"},
      {CELERRA_DEVICE_NFS, "data mover id"},
      {CELERRA_DEVICE_NFS, "NFS export path"},
      {CELERRA_DEVICE_NAS, "PFS id"},
      {CELERRA_DEVICE_NAS, "storage extra"},
      {CELERRA_DEVICE_NAS, "target host name"},
      {CELERRA_DEVICE_NAS, "path"},
      {CELERRA_DEVICE_NAS, "file system name"},
      {CELERRA_DEVICE_NAS, "VDM id"},
      {CELERRA_DEVICE_NAS, "mount path"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszField);
    m_oRecord.mMetaData.clear();
    m_oRecord.vJobLog.clear();
    CelerraSnapDevicePtr pDevice = Make(oCase.eKind);
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    oPeer.Storage() = {"fs1", static_cast<eCelerraStgType>(1), "x"};
    const std::string sBad = "a|b";
    std::string sField = oCase.pszField;
    if (oCase.eKind == CELERRA_DEVICE_NFS) {
      oPeer.NfsTargetHostName() = sField == "target host name" ? sBad : "f";
      oPeer.NfsMoverId() = sField == "data mover id" ? sBad : "server_2";
      oPeer.NfsShareName() = sField == "NFS export path" ? sBad : "/fs1";
    } else {
      oPeer.NASTargetHostName() = sField == "target host name" ? sBad : "f";
      oPeer.NASPath() = sField == "path" ? sBad : "/fs1";
      oPeer.NASFSName() = sField == "file system name" ? sBad : "fs";
      oPeer.NASVdmId() = sField == "VDM id" ? sBad : "2";
      oPeer.NASMountPath() = sField == "mount path" ? sBad : "/fs1";
    }
    if (sField == "PFS id") oPeer.Storage().sPFSId = sBad;
    if (sField == "storage extra") oPeer.Storage().sStorageExtra = sBad;

    EXPECT_FALSE(pDevice->UpdateFSMetaData());
    EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_FS_INFO), 0u);
    ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
    EXPECT_EQ(m_oRecord.vJobLog[0].nLevel, 2);
    EXPECT_EQ(m_oRecord.vJobLog[0].sText,
              "Unable to store metadata type[SM_MDT_FS_INFO] for device [" +
                  m_oRecord.sSourceDevice + "]: the " + sField +
                  " [a|b] holds the separator \"|\"");
  }
}

TEST_F(MetadataTest, UpdateSnapUUIDMetaDataStoresNameAndId) {
  CelerraSnapDevicePtr pDevice = Make(CELERRA_DEVICE_NFS);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  oPeer.ChkptName() = "ckpt_1";
  pDevice->SetChkptID("101");
  ASSERT_TRUE(pDevice->UpdateSnapUUIDMetaData());
  EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_UUID], "ckpt_1|101|");
  ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
  EXPECT_EQ(m_oRecord.vJobLog[0].sText,
            "Setting Metadata [ckpt_1|101|] for "
            "device [" +
                m_oRecord.sSourceDevice + "]");

  // Parsed back by a later call.
  CelerraSnapDevicePtr pReader = Make(CELERRA_DEVICE_NFS);
  ASSERT_TRUE(pReader->ParseSnapUUID(m_oRecord.mMetaData[SM_MDT_SNAP_UUID]));
  EXPECT_EQ(CelerraSnapDeviceTestPeer(pReader.get()).ChkptId(), "101");

  for (const char* pszField : {"checkpoint name", "checkpoint id"}) {
    SCOPED_TRACE(pszField);
    m_oRecord.mMetaData.clear();
    m_oRecord.vJobLog.clear();
    bool bName = std::string(pszField) == "checkpoint name";
    oPeer.ChkptName() = bName ? "a|b" : "ckpt_1";
    oPeer.ChkptId() = bName ? "101" : "a|b";
    EXPECT_FALSE(pDevice->UpdateSnapUUIDMetaData());
    EXPECT_TRUE(m_oRecord.mMetaData.empty());
    ASSERT_EQ(m_oRecord.vJobLog.size(), 1u);
    EXPECT_EQ(m_oRecord.vJobLog[0].nLevel, 2);
    EXPECT_EQ(m_oRecord.vJobLog[0].sText,
              "Unable to store metadata type[SM_MDT_SNAP_UUID] for device [" +
                  m_oRecord.sSourceDevice + "]: the " + pszField +
                  " [a|b] holds the separator \"|\"");
  }
}

}  // namespace

// ---- The record's intent (SM_MDT_CELERRA_INTENT) ----

namespace {

_CelerraIntent FullIntent() {
  _CelerraIntent o;
  o.bROChkpt = true;
  o.sROName = "night_1";
  o.sROPFSId = "101";
  o.bRWChkpt = true;
  o.sRWName = "night_1_RW";
  o.sRWPFSId = "101";
  o.sRWBaselineId = "106";
  o.bExport = true;
  o.oExport.sSharePath = "/night_1_RW";
  o.oExport.sMoverId = "2";
  o.oExport.oHosts.vAccessHosts = {"10.0.0.1", "10.0.0.2"};
  o.oExport.oHosts.vRWHosts = {"10.0.0.1"};
  o.oExport.oHosts.vRootHosts = {};
  return o;
}

bool SameIntent(const _CelerraIntent& a, const _CelerraIntent& b) {
  return a.bROChkpt == b.bROChkpt && a.sROName == b.sROName &&
         a.sROPFSId == b.sROPFSId && a.bRWChkpt == b.bRWChkpt &&
         a.sRWName == b.sRWName && a.sRWPFSId == b.sRWPFSId &&
         a.sRWBaselineId == b.sRWBaselineId && a.bExport == b.bExport &&
         a.oExport.sSharePath == b.oExport.sSharePath &&
         a.oExport.sMoverId == b.oExport.sMoverId &&
         a.oExport.oHosts.vAccessHosts == b.oExport.oHosts.vAccessHosts &&
         a.oExport.oHosts.vRWHosts == b.oExport.oHosts.vRWHosts &&
         a.oExport.oHosts.vRootHosts == b.oExport.oHosts.vRootHosts;
}

}  // namespace

// Every byte in a name, path or host survives the text: separators, line
// breaks, the escape character, "~" (the empty field), bytes above 127.
TEST(IntentText, EveryByteRoundTrips) {
  std::string sAll;
  for (int c = 1; c < 256; ++c) sAll += static_cast<char>(c);
  const std::string aValues[] = {"",    "~",    "-",     "%", "%41",
                                 "a b", "a\nb", "a|b,c", sAll};
  for (const std::string& sValue : aValues) {
    SCOPED_TRACE(sValue.size());
    _CelerraIntent o = FullIntent();
    o.sROName = sValue;
    o.sRWBaselineId = sValue;
    o.oExport.sSharePath = sValue;
    if (!sValue.empty()) o.oExport.oHosts.vRootHosts = {sValue, "x"};
    const std::string sText = FormatIntent(o);
    // One line per object: no value can start another.
    EXPECT_EQ(4, std::count(sText.begin(), sText.end(), '\n')) << sText;
    _CelerraIntent oRead;
    std::string sWhy;
    ASSERT_TRUE(ParseIntent(sText, &oRead, &sWhy)) << sWhy << "\n" << sText;
    EXPECT_TRUE(SameIntent(o, oRead)) << sText;
  }
  _CelerraIntent oEmpty;
  EXPECT_EQ("", FormatIntent(oEmpty));
  std::string sWhy;
  _CelerraIntent oRead = FullIntent();
  EXPECT_TRUE(ParseIntent("", &oRead, &sWhy));
  EXPECT_TRUE(oRead.Empty());
}

// A text that is not one reads as no intent, saying why.
TEST(IntentText, MalformedTextsReadAsNoIntent) {
  const std::string sGood = FormatIntent(FullIntent());
  const struct {
    std::string sText;
    const char* pszWhy;
  } aCases[] = {
      {"garbage", "line break"},
      {"zkintent 2\nro a b\n", "zkintent 1"},
      {"zkintent 1\n", "names nothing"},
      {"zkintent 1\nro a\n", "fields"},
      {"zkintent 1\nro a b c\n", "fields"},
      {"zkintent 1\nro a b\nro a b\n", "twice"},
      {"zkintent 1\nro a%4 b\n", "encoded"},
      {"zkintent 1\nro a%ZZ b\n", "encoded"},
      {"zkintent 1\nro a|b c\n", "encoded"},
      {"zkintent 1\nro  b\n", "encoded"},
      {"zkintent 1\nexport /p 2 a,,b ~ ~\n", "host list"},
      {"zkintent 1\nexport /p 2 a,~ ~ ~\n", "host list"},
      {"zkintent 1\nmkfs a b\n", "unknown line"},
      {sGood.substr(0, sGood.size() - 1), "line break"},
      {sGood + "\n", "unknown line"},
      {std::string("zkintent 1\nro a\0b c\n", 20), "encoded"},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.sText);
    _CelerraIntent oRead = FullIntent();
    std::string sWhy;
    EXPECT_FALSE(ParseIntent(oCase.sText, &oRead, &sWhy));
    EXPECT_TRUE(oRead.Empty());
    EXPECT_NE(std::string::npos, sWhy.find(oCase.pszWhy)) << sWhy;
  }
}
