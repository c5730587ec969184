// SPDX-License-Identifier: Apache-2.0
// The catalog and the host objects built on it, in-process: schema and
// version, transactions between two connections, lookups, round trips,
// and the write-back of what the plug-in did to the records.
#include "refhost/Catalog.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include "refhost/CatalogHost.h"
#include "refhost/KeyValueText.h"
#include "refhost/ZksnapError.h"
#include "refhost/ZksnapOutput.h"

namespace zkref {
namespace {

const char kPassword[] = "Cat-Pw%4471";

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char aTemplate[] = "/tmp/zk-catalog-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(aTemplate));
    m_sDir = aTemplate;
  }
  void TearDown() override { std::filesystem::remove_all(m_sDir); }
  std::unique_ptr<Catalog> Open(bool bCreate = false, int nBusyMs = 0) {
    return Catalog::Open(m_sDir + "/state", bCreate, nBusyMs);
  }
  static ArrayRow Array(const std::string& sName) {
    ArrayRow a;
    a.sName = sName;
    a.sVendor = "Dell EMC VNX / Celerra";
    a.sArrayId = "APM1";
    a.sControlHost = "cs." + sName;
    a.sUser = "nasadmin";
    a.sPassword = kPassword;
    a.sEngine = "celerra";
    a.vAddresses = {"10.0.0.1", "alias." + sName};
    return a;
  }
  std::string m_sDir;
};

// What Open says for a state directory in each condition.
int ExitOf(const std::function<void()>& fn, std::string* psMessage) {
  try {
    fn();
  } catch (const HostError& e) {
    *psMessage = e.what();
    return e.ExitCode();
  }
  return 0;
}

TEST_F(CatalogTest, CreateReopenAndRefuseWhatIsNotOurs) {
  std::string sWhy;
  EXPECT_EQ(kExitError, ExitOf([&] { Open(false); }, &sWhy));
  EXPECT_NE(std::string::npos, sWhy.find("no state directory")) << sWhy;
  Open(true);
  EXPECT_NO_THROW(Open(false));
  EXPECT_NO_THROW(Open(true));  // an existing catalog is kept

  const std::string sPath = m_sDir + "/state/catalog.db";
  sqlite3* pDb = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(sPath.c_str(), &pDb));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(pDb, "PRAGMA user_version = 2", nullptr,
                                    nullptr, nullptr));
  sqlite3_close(pDb);
  EXPECT_EQ(kExitError, ExitOf([&] { Open(false); }, &sWhy));
  EXPECT_NE(std::string::npos,
            sWhy.find("has schema version 2, newer than this zksnap reads"))
      << sWhy;
  // Never rewritten, not even by init.
  EXPECT_EQ(kExitError, ExitOf([&] { Open(true); }, &sWhy));

  // Another program's SQLite file.
  std::filesystem::remove(sPath);
  ASSERT_EQ(SQLITE_OK, sqlite3_open(sPath.c_str(), &pDb));
  ASSERT_EQ(SQLITE_OK,
            sqlite3_exec(pDb, "CREATE TABLE t(x)", nullptr, nullptr, nullptr));
  sqlite3_close(pDb);
  EXPECT_EQ(kExitError, ExitOf([&] { Open(true); }, &sWhy));
  EXPECT_NE(std::string::npos, sWhy.find("is not a zksnap catalog")) << sWhy;
}

TEST_F(CatalogTest, SecondWriterIsBusyAndAnUncommittedWriteVanishes) {
  std::unique_ptr<Catalog> a = Open(true);
  std::unique_ptr<Catalog> b = Open(false, 0);
  a->Begin(Catalog::Txn::kWrite);
  a->SetConfig("", "k", "from a");
  std::string sWhy;
  EXPECT_EQ(kExitBusy, ExitOf([&] { b->Begin(Catalog::Txn::kWrite); }, &sWhy));
  EXPECT_NE(std::string::npos, sWhy.find("is busy")) << sWhy;
  // A reader still sees the last committed state.
  b->Begin(Catalog::Txn::kRead);
  EXPECT_FALSE(b->GetConfig("", "k"));
  b->Rollback();
  a.reset();  // destroyed with its transaction open: rolled back
  b->Begin(Catalog::Txn::kWrite);
  EXPECT_FALSE(b->GetConfig("", "k"));
  b->SetConfig("", "k", "from b");
  b->Commit();
  std::unique_ptr<Catalog> c = Open();
  EXPECT_EQ("from b", c->GetConfig("", "k").value_or(""));
}

TEST_F(CatalogTest, ArraysByNameAndAddress) {
  std::unique_ptr<Catalog> c = Open(true);
  c->Begin(Catalog::Txn::kWrite);
  c->AddArray(Array("nas1"));
  std::string sWhy;
  ArrayRow oClash = Array("nas2");  // shares 10.0.0.1 with nas1
  EXPECT_EQ(kExitError, ExitOf([&] { c->AddArray(oClash); }, &sWhy));
  EXPECT_NE(std::string::npos,
            sWhy.find("\"10.0.0.1\" already names array nas1"))
      << sWhy;
  c->Commit();
  for (const char* psz : {"nas1", "10.0.0.1", "alias.nas1"}) {
    std::optional<ArrayRow> o = c->FindArray(psz);
    ASSERT_TRUE(o) << psz;
    EXPECT_EQ("nas1", o->sName);
    EXPECT_EQ(kPassword, o->sPassword);
    EXPECT_EQ((std::vector<std::string>{"10.0.0.1", "alias.nas1"}),
              o->vAddresses);
  }
  EXPECT_FALSE(c->FindArray("nas2"));
  EXPECT_FALSE(c->FindArray(""));
  c->Begin(Catalog::Txn::kWrite);
  c->RemoveArray("nas1");
  c->Commit();
  EXPECT_FALSE(c->FindArray("10.0.0.1"));  // addresses go with the array
}

TEST_F(CatalogTest, RecordRoundTripAndRemovalTakesItsLog) {
  std::unique_ptr<Catalog> c = Open(true);
  RecordRow r;
  r.sName = "d1";
  r.sGroup = "nightly";
  r.sSourceDevice = "{type:nfs,lunuuid:\\/fs1,vendor:celerra}";
  r.sSnapName = "nightly_1";
  r.nStatus = 5;
  r.sSnapDevice = "{type:nfs}";
  r.sHostIdentifier = "{esxname:esx1}";
  r.sBoundArray = "nas1";
  r.nJPRId = 60505;
  r.sJPRText = "it failed";
  r.mMetaData = {{6, "c|7|"}, {16, "a|b|"}};
  c->Begin(Catalog::Txn::kWrite);
  c->AddRecord(r);
  c->AppendJobLog({0, 3, "d1", "snap", 1, "Tag", "line", 42});
  c->Commit();
  std::optional<RecordRow> o = c->FindRecord("d1");
  ASSERT_TRUE(o);
  EXPECT_EQ(r.sSourceDevice, o->sSourceDevice);
  EXPECT_EQ(r.mMetaData, o->mMetaData);
  EXPECT_EQ(60505, o->nJPRId);
  EXPECT_FALSE(o->oMountSource);
  EXPECT_EQ(1u, c->JobLog("d1").size());
  // Removing a metadata entry removes its row.
  r.mMetaData.erase(16);
  r.oMountSource = 2;
  c->Begin(Catalog::Txn::kWrite);
  c->UpdateRecord(r);
  c->Commit();
  o = c->FindRecord("d1");
  EXPECT_EQ(r.mMetaData, o->mMetaData);
  EXPECT_EQ(2, o->oMountSource.value_or(-1));
  c->Begin(Catalog::Txn::kWrite);
  c->RemoveRecord("d1");
  c->Commit();
  EXPECT_TRUE(c->JobLog().empty());
}

// What the plug-in does to the host objects is what the catalog keeps.
TEST_F(CatalogTest, HostObjectsWriteBackWhatThePluginDid) {
  std::unique_ptr<Catalog> c = Open(true);
  c->Begin(Catalog::Txn::kWrite);
  c->AddArray(Array("nas1"));
  RecordRow r;
  r.sName = "d1";
  r.sGroup = "g";
  r.sSnapName = "g";
  r.oMountSource = 2;
  c->AddRecord(r);
  c->SetConfig("", "sCelerraCommaSeparatedRWHosts", "h1,h2");
  c->Commit();

  c->Begin(Catalog::Txn::kWrite);
  {
    CatalogHost oHost(c.get());
    EXPECT_EQ(1u, oHost.JobId());
    MemSnapInfo* p = oHost.Add(*c->FindRecord("d1"));
    // As the plug-in would: bind by address, read the array information
    // with the getter convention, read configuration and mount source.
    EXPECT_EQ(0, p->SetArrayName("10.0.0.1"));
    char aSmall[8] = {0};
    uint16_t nLength = sizeof(aSmall);
    ASSERT_EQ(2, p->GetArrayInfo(aSmall, &nLength));
    std::string sInfo(nLength, '\0');
    ASSERT_EQ(0, p->GetArrayInfo(&sInfo[0], &nLength));
    EXPECT_NE(std::string::npos, sInfo.find(",engineName:celerra}"));
    char aConfig[1024] = {0};
    oHost.OSUtil()->GetConfigString(nullptr, "sCelerraCommaSeparatedRWHosts",
                                    aConfig, sizeof(aConfig));
    EXPECT_STREQ("h1,h2", aConfig);
    int nSource = 0;
    EXPECT_EQ(0, p->GetIntValue(ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE, &nSource));
    EXPECT_EQ(2, nSource);
    EXPECT_EQ(1u, oHost.OSUtil()->GetJobId());
    p->SetStatus(ZKSO::SNAP_SUCCESS);
    p->SetSnapName("g_17");
    p->SetMetaData(SM_MDT_SNAP_UUID, "g_17|101|");
    p->LogMessage(1, "made g_17");
    p->Log(2, "Tag", "login %s refused", kPassword);  // a leaking plug-in
    p->SetJPR(60505, (std::string("bad ") + kPassword).c_str());
    oHost.WriteBack("snap");
    EXPECT_EQ(2, oHost.Withheld());
  }
  c->Commit();
  std::optional<RecordRow> o = c->FindRecord("d1");
  EXPECT_EQ(ZKSO::SNAP_SUCCESS, o->nStatus);
  EXPECT_EQ("g_17", o->sSnapName);
  EXPECT_EQ("g", o->sGroup);
  EXPECT_EQ("nas1", o->sBoundArray);
  EXPECT_EQ("g_17|101|", o->mMetaData.at(SM_MDT_SNAP_UUID));
  EXPECT_EQ(LeakCheck::kWithheld, o->sJPRText);
  const std::vector<JobLogRow> v = c->JobLog("d1");
  ASSERT_EQ(3u, v.size());
  EXPECT_EQ("made g_17", v[0].sText);
  EXPECT_EQ(1u, v[0].nJobId);
  EXPECT_EQ("snap", v[0].sOperation);
  EXPECT_EQ(LeakCheck::kWithheld, v[1].sText);
  EXPECT_EQ("Tag", v[1].sTag);
  // The reason is kept in the job log too: the next job starts without it.
  EXPECT_EQ("reason", v[2].sTag);
  EXPECT_EQ("60505: " + std::string(LeakCheck::kWithheld), v[2].sText);

  // The next command gets the next job id.
  c->Begin(Catalog::Txn::kWrite);
  CatalogHost oNext(c.get());
  EXPECT_EQ(2u, oNext.JobId());
  EXPECT_EQ(0, oNext.Add(*c->FindRecord("d1"))->nJPRId);
  c->Rollback();
}

// ---- key/value texts and output -------------------------------------------

struct KvCase {
  const char* pszText;
  bool bOk;
  const char* pszFirstKey;
  const char* pszFirstValue;
};

TEST(KeyValueTextTest, ParseTable) {
  const KvCase kCases[] = {
      {"{type:nfs,lunuuid:\\/fs1,vendor:celerra}", true, "type", "nfs"},
      {"{lunuuid:a\\tb}", true, "lunuuid", "a\tb"},
      {"{k:}", true, "k", ""},
      {"type:nfs", false, "", ""},
      {"{}", false, "", ""},
      {"{nocolon}", false, "", ""},
      {"{Type:nfs}", false, "", ""},
      {"{:v}", false, "", ""},
      {"{a:1,,b:2}", false, "", ""},
  };
  for (const KvCase& k : kCases) {
    KeyValuePairs v;
    std::string sError;
    EXPECT_EQ(k.bOk, ParseKeyValueText(k.pszText, &v, &sError)) << k.pszText;
    if (k.bOk) {
      ASSERT_FALSE(v.empty());
      EXPECT_EQ(k.pszFirstKey, v[0].first);
      EXPECT_EQ(k.pszFirstValue, v[0].second);
    } else {
      EXPECT_FALSE(sError.empty()) << k.pszText;
    }
  }
}

TEST(KeyValueTextTest, FormRoundTripsAndRefusesWhatCannotBeRead) {
  std::string sText, sError;
  ASSERT_TRUE(FormKeyValueText(
      {{"kemtype", ""}, {"lunuuid", "/a \"b\"\\c\n"}, {"vendor", "celerra"}},
      &sText, &sError));
  EXPECT_EQ("{lunuuid:\\/a \\\"b\\\"\\\\c\\n,vendor:celerra}", sText);
  KeyValuePairs v;
  ASSERT_TRUE(ParseKeyValueText(sText, &v, &sError));
  EXPECT_EQ("/a \"b\"\\c\n", ValueOf(v, "lunuuid"));
  EXPECT_FALSE(FormKeyValueText({{"path", "/a,b"}}, &sText, &sError));
  EXPECT_FALSE(FormKeyValueText({{"path", "/a}"}}, &sText, &sError));
}

TEST(KeyValueTextTest, HostIdentifierPasswordIsMaskedToTheBrace) {
  EXPECT_EQ("{esxname:e,password:*****}",
            MaskHostIdentifier("{esxname:e,password:s3,cr}"));
  EXPECT_EQ("{esxname:e}", MaskHostIdentifier("{esxname:e}"));
  EXPECT_EQ("{password:**", MaskHostIdentifier("{password:ab"));
}

TEST(OutputTest, TableAlignsAndJsonEscapes) {
  Table t({"A", "LONG HEADER"});
  t.AddRow({"wide cell", ""});
  EXPECT_EQ("A          LONG HEADER\nwide cell  -\n", t.Render());
  Json o = Json::Object();
  o.Set("s", "q\"\\\n\x01").Set("n", Json::Int(-3)).Set("a", Json::Array());
  EXPECT_EQ(
      "{\n  \"s\": \"q\\\"\\\\\\n\\u0001\",\n  \"n\": -3,\n  \"a\": []\n}",
      o.Dump());
  EXPECT_EQ("SNAP_NOT_FOUND", StatusName(24));
  EXPECT_EQ("STATUS_99", StatusName(99));
  EXPECT_EQ("RESULT_PARTIAL_SUCCESS", ResultName(2));
}

// A plug-in text is withheld whole when it holds a password that can be
// told apart from ordinary text; it is never rewritten.
struct LeakCase {
  const char* pszSecret;
  const char* pszPublic;  // a text shown anyway
  const char* pszText;
  bool bHolds;
};

TEST(LeakCheckTest, WithholdsOnlyTextsThatHoldAPassword) {
  const LeakCase aCases[] = {
      {"Cat-Pw%4471", "", "login Cat-Pw%4471 refused", true},
      {"Cat-Pw%4471", "", "login refused", false},
      {"Cat-Pw%4471", "", "Cat-Pw%447", false},
      // Too short to tell apart from job numbers and ids.
      {"1", "", "job 1, checkpoint 101", false},
      {"1234567", "", "checkpoint g_1234567", false},
      // Equal to (or part of) the user name, which is shown anyway.
      {"nasadmin1", "nasadmin1", "user nasadmin1", false},
      {"cs1.example", "cs1.example.com", "host cs1.example.com", false},
  };
  for (const LeakCase& c : aCases) {
    LeakCheck o;
    o.AddSecret(c.pszSecret);
    o.AddPublic(c.pszPublic);
    EXPECT_EQ(c.bHolds, o.Holds(c.pszText)) << c.pszText;
    EXPECT_EQ(c.bHolds ? std::string(LeakCheck::kWithheld) : c.pszText,
              o.Screen(c.pszText));
    EXPECT_EQ(c.bHolds ? 1 : 0, o.Withheld());
  }
}

// JSON strings are valid UTF-8 whatever bytes a text holds.
struct Utf8Case {
  const char* pszText;
  bool bUtf8;
  const char* pszJson;
};

TEST(JsonTest, StringsAreValidUtf8) {
  const Utf8Case aCases[] = {
      {"caf\xc3\xa9", true, "\"caf\xc3\xa9\""},
      {"\xf0\x9f\x98\x80", true, "\"\xf0\x9f\x98\x80\""},
      {"a\xff"
       "b",
       false, "\"a\\ufffdb\""},
      {"\xc3", false, "\"\\ufffd\""},
      {"\xe2\x82", false, "\"\\ufffd\\ufffd\""},
      {"\xc0\xaf", false, "\"\\ufffd\\ufffd\""},             // overlong "/"
      {"\xed\xa0\x80", false, "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
  };
  for (const Utf8Case& c : aCases) {
    EXPECT_EQ(c.bUtf8, IsUtf8(c.pszText)) << c.pszJson;
    EXPECT_EQ(c.pszJson, Json::Str(c.pszText).Dump());
  }
}

}  // namespace
}  // namespace zkref
