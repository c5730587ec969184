// SPDX-License-Identifier: Apache-2.0
// The key/value codec: escaping, identifiers, key lookup, tokenisers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "hostenv/ZkLogSink.h"
#include "utils/CelerraUtils.h"

namespace {

const size_t npos = std::string::npos;
const bool kTrue = true;
const bool kFalse = false;

std::string Bytes(std::initializer_list<int> vBytes) {
  std::string s;
  for (int n : vBytes) s += static_cast<char>(n);
  return s;
}

// ---- Escaping ----

struct EscapeCase {
  std::string sValue;
  std::string sEscaped;
};

TEST(CelerraCodec, FormatStringEscapesExactlyTheListedBytes) {
  const EscapeCase aCases[] = {
      {"", ""},
      {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
      {"\"", "\\\""},
      {"/fs1/ds1", "\\/fs1\\/ds1"},
      {"a\\b", "a\\\\b"},
      {",:{}", ",:{}"},  // structure bytes pass unescaped
      {Bytes({0x01, 0x0B, 0x7F, 0x80, 0xC3, 0xA9, 0xFF}),
       Bytes({0x01, 0x0B, 0x7F, 0x80, 0xC3, 0xA9, 0xFF})},
  };
  for (const EscapeCase& o : aCases) {
    EXPECT_EQ(o.sEscaped, CelerraUtils::formatString(o.sValue)) << o.sValue;
    EXPECT_EQ(o.sValue, CelerraUtils::deformatString(o.sEscaped, false));
    EXPECT_EQ(o.sValue, CelerraUtils::deformatString(o.sEscaped, true));
  }
}

struct DeformatCase {
  std::string sText;
  std::string sValue;
};

TEST(CelerraCodec, DeformatStringOddEscapesAndRawSlashes) {
  const DeformatCase aCases[] = {
      {"abc\\", "abc"},  // lone trailing backslash dropped
      {"\\", ""},
      {"\\\\\\", "\\"},          // escaped backslash, then a lone one
      {"\\q\\x\\{", "qx{"},      // unknown escapes give the letter alone
      {"/fs1/ds1", "/fs1/ds1"},  // raw slashes from other writers survive
      {"a/b\\/c", "a/b/c"},
      {"/", "/"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const DeformatCase& o : aCases) {
    EXPECT_EQ(o.sValue, CelerraUtils::deformatString(o.sText, false))
        << o.sText;
    EXPECT_EQ(o.sValue, CelerraUtils::deformatString(o.sText, true)) << o.sText;
  }
}

// ---- Writing identifiers ----

TEST(CelerraCodec, FormDeviceIdentifierWritesKeysInWriterOrder) {
  _CelerraSnapDeviceIdentifier o;
  o.sVendor = "celerra";
  o.sExportPath = "/e";
  o.sFSPath = "/f";
  o.sPath = "/p";
  o.sVolume = "vol";
  o.sFiler = "filer1";
  o.sTargetHostName = "cs0";
  o.sTargetIdentifier = "ti";
  o.sLunUUID = "/fs1/share";
  o.sType = "nfs";
  o.sKemType = "vmware";
  EXPECT_EQ(
      "{kemtype:vmware,type:nfs,lunuuid:\\/fs1\\/share,targetidentifier:ti,"
      "targethostname:cs0,filer:filer1,volume:vol,path:\\/p,fspath:\\/f,"
      "exportpath:\\/e,vendor:celerra}",
      CelerraUtils::FormDeviceIdentifider(o));
}

TEST(CelerraCodec, FormDeviceIdentifierNeedsVendorAndAnotherField) {
  _CelerraSnapDeviceIdentifier o;
  o.sType = "nfs";
  EXPECT_EQ("", CelerraUtils::FormDeviceIdentifider(o));  // no vendor
  o.clear();
  o.sVendor = "celerra";
  EXPECT_EQ("", CelerraUtils::FormDeviceIdentifider(o));  // vendor only
}

TEST(CelerraCodec, AddJsonElemSkipsEmptyKeyOrValue) {
  std::string s;
  CelerraUtils::addJsonElem(s, "", "v");
  CelerraUtils::addJsonElem(s, "k", "");
  EXPECT_EQ("", s);
  CelerraUtils::addJsonElem(s, "a", "1");
  CelerraUtils::addJsonElem(s, "b", "\t");
  EXPECT_EQ("a:1,b:\\t", s);
}

// ---- Round trip ----

std::vector<std::string> Fields(const _CelerraSnapDeviceIdentifier& o) {
  return {o.sLunUUID, o.sTargetIdentifier, o.sType,      o.sTargetHostName,
          o.sFiler,   o.sVolume,           o.sPath,      o.sKemType,
          o.sVendor,  o.sFSPath,           o.sExportPath};
}

_CelerraSnapDeviceIdentifier FromFields(const std::vector<std::string>& v) {
  _CelerraSnapDeviceIdentifier o;
  std::string* apField[] = {
      &o.sLunUUID, &o.sTargetIdentifier, &o.sType,      &o.sTargetHostName,
      &o.sFiler,   &o.sVolume,           &o.sPath,      &o.sKemType,
      &o.sVendor,  &o.sFSPath,           &o.sExportPath};
  for (size_t i = 0; i < v.size() && i < 11; ++i) *apField[i] = v[i];
  return o;
}

void ExpectRoundTrip(const _CelerraSnapDeviceIdentifier& oIn) {
  const std::string sText = CelerraUtils::FormDeviceIdentifider(oIn);
  ASSERT_FALSE(sText.empty());
  _CelerraSnapDeviceIdentifier oOut;
  oOut.sFiler = "stale";  // parsing clears the record first
  CelerraUtils::ParseDeviceIdentifier(sText, oOut);
  EXPECT_EQ(Fields(oIn), Fields(oOut)) << sText;
}

TEST(CelerraCodec, RoundTripRestoresEveryField) {
  const std::vector<std::vector<std::string>> aCases = {
      // lunuuid, targetid, type, targethost, filer, volume, path, kemtype,
      // vendor, fspath, exportpath
      {"/fs1/share", "", "nfs", "cs0.zk.invalid", "", "", "", "vmware",
       "celerra", "", ""},
      {"\\\\srv\\share", "a:b:c", "unc", "10.0.0.1", "server_2", "fs \"1\"",
       "/root_vdm_1/fs1", "", "celerra", "/fs1/", "/exp\tpath\n"},
      {"60:06:01:60", "", "", "", "", "", "", "", "celerra", "", ""},
      {Bytes({0xC3, 0xA9, '/', 0x80, 0xFF}), "\b\f\r", "x{y:z", "h", "f", "v",
       "\\", "k", "v\\/", "\"/\"", "\\n"},
  };
  for (const auto& v : aCases) ExpectRoundTrip(FromFields(v));
}

TEST(CelerraCodec, RoundTripRandomRecords) {
  std::mt19937 oRandom(20240501);
  std::uniform_int_distribution<int> oByte(1, 255);
  std::uniform_int_distribution<int> oLength(0, 40);
  std::bernoulli_distribution oPresent(0.6);
  for (int nRecord = 0; nRecord < 500; ++nRecord) {
    std::vector<std::string> v(11);
    for (std::string& s : v) {
      if (!oPresent(oRandom)) continue;
      const int n = oLength(oRandom);
      for (int i = 0; i < n; ++i) {
        char c = static_cast<char>(oByte(oRandom));
        // "," and "}" end a value; "{" could spell a key anchor.
        if (c == ',' || c == '}' || c == '{') c = 'x';
        s += c;
      }
    }
    v[8] += "celerra";  // vendor
    v[2] += "t";        // and one more field
    ExpectRoundTrip(FromFields(v));
  }
}

// ---- Key lookup ----

struct LookupCase {
  std::string sSource;
  std::string sKey;
  bool bFound;
  std::string sValue;  // when found
};

TEST(CelerraCodec, GetJsonValueAnchorsWholeKeys) {
  const LookupCase aCases[] = {
      {"{kemtype:vmware,type:nfs,vendor:celerra}", "type", true, "nfs"},
      {"{type:nfs,kemtype:vmware,vendor:celerra}", "type", true, "nfs"},
      {"{kemtype:vmware,vendor:celerra}", "type", false, ""},
      {"{type:nfs,kemtype:vmware}", "kemtype", true, "vmware"},
      {"{fspath:\\/f,exportpath:\\/e,path:\\/p}", "path", true, "/p"},
      {"{path:\\/p,fspath:\\/f,exportpath:\\/e}", "path", true, "/p"},
      {"{exportpath:\\/e,path:\\/p,fspath:\\/f}", "fspath", true, "/f"},
      {"{fspath:\\/f,exportpath:\\/e}", "path", false, ""},
      {"{lunuuid:\\/fs1\\/share,targethostname:cs0,vendor:celerra}", "lunuuid",
       true, "/fs1/share"},
      {"{hostUserName:u,hostName:h}", "hostName", true, "h"},
      {"{a:1,a:2}", "a", true, "1"},          // first occurrence wins
      {"{b:1,a:2,c:{a:3}}", "a", true, "3"},  // the brace anchor goes first
  };
  for (const LookupCase& o : aCases) {
    std::string sValue = "untouched";
    const size_t nPos =
        CelerraUtils::GetJsonValue(o.sSource, o.sKey, sValue, kTrue, kFalse);
    EXPECT_EQ(o.bFound, nPos != npos) << o.sSource << " " << o.sKey;
    EXPECT_EQ(o.bFound ? o.sValue : "untouched", sValue) << o.sSource;
  }
}

TEST(CelerraCodec, GetJsonValueValueEnds) {
  const LookupCase aCases[] = {
      {"{a:1,2}", "a", true, "1"},        // cut at a comma
      {"{a:x}y}", "a", true, "x"},        // cut at a brace when last
      {"{a:x}y,b:2}", "a", true, "x}y"},  // a comma wins over a brace
      {"{a:,b:2}", "a", true, ""},        // empty value
      {"{a:}", "a", true, ""},
      {"{a:1,b:2", "b", false, ""},  // last pair without brace
      {"{a:1", "a", false, ""},
      {"{a:", "a", false, ""},
      {"", "a", false, ""},
      {"{}", "a", false, ""},
      {"a:1,b:2}", "a", false, ""},  // no anchor before the key
      {"{a:\\", "a", false, ""},
      {"{a:\\}", "a", true, ""},  // trailing backslash dropped
  };
  for (const LookupCase& o : aCases) {
    std::string sValue = "untouched";
    const size_t nPos =
        CelerraUtils::GetJsonValue(o.sSource, o.sKey, sValue, kTrue, kFalse);
    EXPECT_EQ(o.bFound, nPos != npos) << o.sSource;
    EXPECT_EQ(o.bFound ? o.sValue : "untouched", sValue) << o.sSource;
    if (o.bFound) {  // the value's start
      EXPECT_EQ(o.sSource.find("{" + o.sKey + ":") + o.sKey.size() + 2, nPos);
    }
  }
}

TEST(CelerraCodec, GetJsonValueRawValueWithoutDeformat) {
  std::string sValue;
  const std::string sSource = "{x:1,lunuuid:\\/a\\tb,y:2}";
  EXPECT_EQ(
      sSource.find("\\/a"),
      CelerraUtils::GetJsonValue(sSource, "lunuuid", sValue, kFalse, kFalse));
  EXPECT_EQ("\\/a\\tb", sValue);
}

TEST(CelerraCodec, GetJsonValueLogsOnlyWhenAsked) {
  ZkCaptureLogSink oSink;
  std::string sValue;
  CelerraUtils::GetJsonValue("{k:v}", "k", sValue, kTrue, kFalse);
  EXPECT_TRUE(oSink.Lines().empty()) << oSink.Dump();

  CelerraUtils::GetJsonValue("{k:v}", "k", sValue, kTrue, kTrue);
  const std::vector<ZkLogLine> vLines = oSink.Lines();
  ASSERT_EQ(2u, vLines.size()) << oSink.Dump();
  EXPECT_EQ("JSON String [{k:v}]. Key = [k]", vLines[0].sText);
  EXPECT_EQ(5, vLines[0].nLevel);
  EXPECT_EQ("Key = [k], Value[v]", vLines[1].sText);
  EXPECT_EQ(3, vLines[1].nLevel);
  EXPECT_EQ("CelerraUtils::GetJsonValue", vLines[1].sTag);
  EXPECT_FALSE(vLines[1].bHasJobId);
}

// ---- Parsing identifiers ----

TEST(CelerraCodec, ParseDeviceIdentifierLunUUIDFirstAfterBrace) {
  _CelerraSnapDeviceIdentifier oIn;
  oIn.sLunUUID = "/fs1/share";
  oIn.sTargetHostName = "cs0";
  oIn.sVendor = "celerra";
  const std::string sText = CelerraUtils::FormDeviceIdentifider(oIn);
  ASSERT_EQ(0u, sText.find("{lunuuid:"));
  _CelerraSnapDeviceIdentifier oOut;
  CelerraUtils::ParseDeviceIdentifier(sText, oOut);
  EXPECT_EQ("/fs1/share", oOut.sLunUUID);
  EXPECT_EQ("cs0", oOut.sTargetHostName);
}

TEST(CelerraCodec, ParseDeviceIdentifierEmptyTextKeepsRecord) {
  ZkCaptureLogSink oSink;
  _CelerraSnapDeviceIdentifier o;
  o.sType = "nfs";
  CelerraUtils::ParseDeviceIdentifier("", o);
  EXPECT_EQ("nfs", o.sType);
  const std::vector<ZkLogLine> vLines = oSink.Lines();
  ASSERT_EQ(1u, vLines.size());
  EXPECT_EQ("Error:Array info is empty unable to get filer login info",
            vLines[0].sText);
  EXPECT_FALSE(vLines[0].bHasLevel);
}

TEST(CelerraCodec, ParseDeviceIdentifierLogsSummaryWithEmptyMarks) {
  ZkCaptureLogSink oSink;
  _CelerraSnapDeviceIdentifier o;
  CelerraUtils::ParseDeviceIdentifier("{type:nfs,lunuuid:\\/x,vendor:celerra}",
                                      o);
  EXPECT_EQ("nfs", o.sType) << "a key right after the brace is read";
  EXPECT_TRUE(
      oSink.Contains("Device ID [{type:nfs,lunuuid:\\/x,vendor:celerra}]"));
  std::vector<ZkLogLine> v = oSink.Find(
      "LunId [/x], TargetIdentifier[EMPTY], Type[nfs], KemType[EMPTY]");
  ASSERT_EQ(1u, v.size()) << oSink.Dump();
  EXPECT_EQ(2, v[0].nLevel);
}

// ---- Tokenisers ----

struct TokenCase {
  std::string sText;
  std::vector<std::string> vTokens;
};

// Every call's token and the position it leaves, until the position is npos.
struct SeparatedCase {
  std::string sText;
  std::vector<std::pair<std::string, size_t>> vCalls;
};

TEST(CelerraCodec, GetNextSeparatedValueTokens) {
  const SeparatedCase aCases[] = {
      {"a|b", {{"a", 2}, {"b", npos}}},
      {"a|b|", {{"a", 2}, {"b", 4}, {"", npos}}},  // no extra token
      {"a||b", {{"a", 2}, {"", 3}, {"b", npos}}},
      {"|a", {{"", 1}, {"a", npos}}},
      {"|", {{"", 1}, {"", npos}}},
      {"", {{"", npos}}},
      {"abc", {{"abc", npos}}},
  };
  for (const SeparatedCase& o : aCases) {
    std::vector<std::pair<std::string, size_t>> vGot;
    size_t nPos = 0;
    while (nPos != npos && vGot.size() <= o.vCalls.size()) {
      std::string s = CelerraUtils::GetNextSeparatedValue(o.sText, nPos, '|');
      vGot.emplace_back(s, nPos);
    }
    EXPECT_EQ(o.vCalls, vGot) << o.sText;
    EXPECT_EQ("", CelerraUtils::GetNextSeparatedValue(o.sText, nPos, '|'));
    EXPECT_EQ(npos, nPos);
  }
}

TEST(CelerraCodec, GetNextSeparatedValueEmptyTextAndPositionPastEnd) {
  size_t nPos = 0;
  EXPECT_EQ("", CelerraUtils::GetNextSeparatedValue("", nPos, '|'));
  EXPECT_EQ(npos, nPos);
  nPos = 7;  // beyond "a|b": ends the list instead of throwing
  EXPECT_EQ("", CelerraUtils::GetNextSeparatedValue("a|b", nPos, '|'));
  EXPECT_EQ(npos, nPos);
}

TEST(CelerraCodec, VectorizeStringKeepsEmptyPiecesAndSpaces) {
  const TokenCase aCases[] = {
      {"a,,b", {"a", "", "b"}},    {"a,", {"a", ""}},
      {",a", {"", "a"}},           {",", {"", ""}},
      {" a , b ", {" a ", " b "}}, {"host1", {"host1"}},
  };
  for (const TokenCase& o : aCases) {
    std::vector<std::string> v = {"stale"};
    EXPECT_TRUE(CelerraUtils::VectorizeString(o.sText, v, ','));
    EXPECT_EQ(o.vTokens, v) << o.sText;
  }
}

TEST(CelerraCodec, VectorizeStringEmptyTextLogsAndClears) {
  ZkCaptureLogSink oSink;
  std::vector<std::string> v = {"stale"};
  EXPECT_TRUE(CelerraUtils::VectorizeString("", v, ','));
  EXPECT_TRUE(v.empty());
  std::vector<ZkLogLine> vLines =
      oSink.Find("Input string is empty, nothing to do.");
  ASSERT_EQ(1u, vLines.size());
  EXPECT_EQ(0, vLines[0].nLevel);
}

// ---- Bad input ----

// Every parser on texts a file server, host or other writer might hand over
// broken: none may crash, and lookups only ever return in-range positions.
void ExpectParsersSurvive(const std::string& sText) {
  static const char* const apKeys[] = {"lunuuid", "type", "path", "a", ""};
  for (const char* pszKey : apKeys) {
    std::string sValue = "untouched";
    const size_t nPos =
        CelerraUtils::GetJsonValue(sText, pszKey, sValue, kFalse, kTrue);
    if (nPos == npos) {
      EXPECT_EQ("untouched", sValue);
    } else {
      ASSERT_LE(nPos, sText.size());
      EXPECT_EQ(0, sText.compare(nPos, sValue.size(), sValue));
    }
  }
  _CelerraSnapDeviceIdentifier o;
  CelerraUtils::ParseDeviceIdentifier(sText, o);
  EXPECT_LE(CelerraUtils::deformatString(sText, false).size(), sText.size());
  size_t nPos = 0;
  size_t nTokens = 0;
  while (nPos != npos) {
    CelerraUtils::GetNextSeparatedValue(sText, nPos, '|');
    ASSERT_LE(++nTokens, sText.size() + 1);
  }
  std::vector<std::string> v;
  CelerraUtils::VectorizeString(sText, v, ',');
  EXPECT_LE(v.size(), sText.size() + 1);
}

TEST(CelerraCodec, ParsersSurviveBrokenText) {
  ZkCaptureLogSink oSink;  // keeps the junk out of stderr
  const std::string aTexts[] = {"",
                                "{",
                                "}",
                                "{}",
                                ",",
                                ":",
                                "\\",
                                "{lunuuid",
                                "{lunuuid:",
                                "{lunuuid:\\",
                                "{type:nfs",
                                "{type:nfs,",
                                ",type:",
                                "|||",
                                "{a:1}{a:2",
                                Bytes({'{', 'a', ':', 0xFF, 0x80, ',', '}'}),
                                std::string(100000, '{'),
                                "{a:" + std::string(100000, 'x') + "}",
                                std::string(50000, '\\'),
                                std::string("{a:\0b}", 6)};
  for (const std::string& s : aTexts) ExpectParsersSurvive(s);
}

TEST(CelerraCodec, ParsersSurviveRandomJunk) {
  ZkCaptureLogSink oSink;  // keeps the junk out of stderr
  std::mt19937 oRandom(7);
  std::uniform_int_distribution<int> oLength(0, 300);
  std::uniform_int_distribution<int> oByte(0, 255);
  const char aStructure[] = "{}:,\\|";
  std::uniform_int_distribution<int> oPick(0, 5);
  for (int n = 0; n < 300; ++n) {
    std::string s;
    const int nLen = oLength(oRandom);
    for (int i = 0; i < nLen; ++i) {
      s += (i % 3 == 0) ? aStructure[oPick(oRandom)]
                        : static_cast<char>(oByte(oRandom));
    }
    ExpectParsersSurvive(s);
  }
}

}  // namespace
