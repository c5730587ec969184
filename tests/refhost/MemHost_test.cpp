// SPDX-License-Identifier: Apache-2.0
// The in-memory host objects must follow the host's getter convention
// exactly, or every caller test built on them proves nothing.
#include "refhost/MemHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace zkref {
namespace {

TEST(MemSnapInfoTest, GetterConventionAnswersTwoWithNeededSize) {
  MemSnapInfo oInfo;
  oInfo.sSourceDevice = std::string(5000, 'x');
  char aBuffer[4096] = {0};
  uint16_t nLength = sizeof(aBuffer);
  EXPECT_EQ(2, oInfo.GetSourceDevice(aBuffer, &nLength));
  EXPECT_EQ(5001, nLength);
  std::string sBig(nLength, '\0');
  EXPECT_EQ(0, oInfo.GetSourceDevice(&sBig[0], &nLength));
  EXPECT_EQ(oInfo.sSourceDevice, std::string(sBig.c_str()));
}

TEST(MemSnapInfoTest, TextThatExactlyFitsIsReturned) {
  MemSnapInfo oInfo;
  oInfo.sSnapName = "abc";
  char aBuffer[4] = {0};
  uint16_t nLength = 4;
  EXPECT_EQ(0, oInfo.GetSnapName(aBuffer, &nLength));
  EXPECT_STREQ("abc", aBuffer);
  nLength = 3;
  EXPECT_EQ(2, oInfo.GetSnapName(aBuffer, &nLength));
  EXPECT_EQ(4, nLength);
}

TEST(MemSnapInfoTest, SwitchesForceTooSmallThenFailure) {
  MemSnapInfo oInfo;
  oInfo.mMetaData[SM_MDT_FS_INFO] = "fs1|1|x|";
  oInfo.AnswerTooSmall(Getter::kMetaData, 2, 8192);
  char aBuffer[4096] = {0};
  uint16_t nLength = sizeof(aBuffer);
  EXPECT_EQ(2, oInfo.GetMetaData(SM_MDT_FS_INFO, aBuffer, &nLength));
  EXPECT_EQ(8192, nLength);
  EXPECT_EQ(2, oInfo.GetMetaData(SM_MDT_FS_INFO, aBuffer, &nLength));
  nLength = sizeof(aBuffer);
  EXPECT_EQ(0, oInfo.GetMetaData(SM_MDT_FS_INFO, aBuffer, &nLength));
  EXPECT_STREQ("fs1|1|x|", aBuffer);
  EXPECT_EQ(3, oInfo.CallCount(Getter::kMetaData));

  oInfo.FailGetter(Getter::kSnapName, 1);
  nLength = sizeof(aBuffer);
  EXPECT_EQ(1, oInfo.GetSnapName(aBuffer, &nLength));
  EXPECT_EQ(0, oInfo.GetSnapName(aBuffer, &nLength));
}

TEST(MemSnapInfoTest, SetArrayNameBindsByNameOrAliasAndHandsOutInfo) {
  ArrayDatabase oDb;
  oDb.Add({"filer1", {"10.1.2.3"}, "{arrayId:a1}"});
  MemSnapInfo oInfo(&oDb);
  char aBuffer[4096] = {0};
  uint16_t nLength = sizeof(aBuffer);
  EXPECT_EQ(1, oInfo.GetArrayInfo(aBuffer, &nLength));  // not bound yet
  EXPECT_NE(0, oInfo.SetArrayName("unknown"));
  EXPECT_NE(0, oInfo.SetArrayName(""));
  EXPECT_EQ(0, oInfo.SetArrayName("10.1.2.3"));
  EXPECT_EQ(0, oInfo.GetArrayInfo(aBuffer, &nLength));
  EXPECT_STREQ("{arrayId:a1}", aBuffer);
  oInfo.bRefuseArrayNames = true;
  EXPECT_NE(0, oInfo.SetArrayName("filer1"));
}

TEST(MemSnapInfoTest, RecordsCallsStatusHistoryAndMetadataDeletion) {
  MemSnapInfo oInfo;
  oInfo.SetMetaData(SM_MDT_FS_INFO, "x");
  oInfo.SetMetaData(SM_MDT_FS_INFO, nullptr);
  oInfo.SetStatus(ZKSO::SNAP_UNPREPARED);
  oInfo.Log(2, "tag", "value [%s] %d", "v", 7);
  EXPECT_EQ(0u, oInfo.mMetaData.count(SM_MDT_FS_INFO));
  ASSERT_EQ(4u, oInfo.Calls().size());
  EXPECT_EQ("SetMetaData(16,null)", oInfo.Calls()[1]);
  EXPECT_EQ("SetStatus(3)", oInfo.Calls()[2]);
  ASSERT_EQ(1u, oInfo.vJobLog.size());
  EXPECT_EQ("value [v] 7", oInfo.vJobLog[0].sText);
  EXPECT_TRUE(oInfo.JobLogContains("[v]"));
}

TEST(MemOSUtilTest, ConfigStringTruncatesAndIntRequiresANumber) {
  MemOSUtil oUtil(42);
  EXPECT_EQ(42u, oUtil.GetJobId());
  oUtil.SetConfig("sKey", "abcdef");
  oUtil.SetConfig("nNum", "17");
  oUtil.SetConfig("nBad", "17x");
  char aBuffer[4] = "zz";
  EXPECT_EQ(0, oUtil.GetConfigString(nullptr, "sKey", aBuffer, 4));
  EXPECT_STREQ("abc", aBuffer);
  EXPECT_NE(0, oUtil.GetConfigString(nullptr, "missing", aBuffer, 4));
  int n = 5;
  EXPECT_TRUE(oUtil.GetConfigInt(nullptr, "nNum", &n));
  EXPECT_EQ(17, n);
  n = 5;
  EXPECT_FALSE(oUtil.GetConfigInt(nullptr, "nBad", &n));
  EXPECT_FALSE(oUtil.GetConfigInt(nullptr, "missing", &n));
  EXPECT_EQ(5, n);
}

TEST(ArrayDatabaseTest, FormArrayInfoEscapesValues) {
  EXPECT_EQ(
      "{arrayId:a1,vendorName:EMC VNX \\/ Celerra,hostName:cs1,"
      "hostUserName:nasadmin,hostPassword:p\\\\w,engineName:celerra}",
      ArrayDatabase::FormArrayInfo("a1", "EMC VNX / Celerra", "cs1",
                                   "nasadmin", "p\\w"));
}

}  // namespace
}  // namespace zkref
