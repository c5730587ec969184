// SPDX-License-Identifier: Apache-2.0
// The plug-in's outside surface as a host sees it after dlopen: exactly the
// eleven functions, and the ones that need no device object.
#include <stdio.h>

#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "host/ZKSnapPlugin.h"
#include "tests/e2e/E2EFixture.h"

namespace zke2e {
namespace {

TEST(PluginSymbolsTest, ExportsExactlyTheElevenFunctions) {
  const std::string sCommand =
      std::string("nm -D --defined-only '") + PluginUnderTest::Path() + "'";
  FILE* pPipe = popen(sCommand.c_str(), "r");
  ASSERT_NE(nullptr, pPipe);
  std::string sOutput;
  char aBuffer[512];
  size_t n;
  while ((n = fread(aBuffer, 1, sizeof(aBuffer), pPipe)) > 0) {
    sOutput.append(aBuffer, n);
  }
  ASSERT_EQ(0, pclose(pPipe)) << sOutput;

  // Lines are "address type name"; every defined dynamic symbol counts.
  std::set<std::string> sNames;
  std::istringstream oLines(sOutput);
  std::string sLine;
  while (std::getline(oLines, sLine)) {
    const size_t nLast = sLine.find_last_of(' ');
    if (nLast == std::string::npos) continue;
    sNames.insert(sLine.substr(nLast + 1));
  }
  const std::set<std::string> sExpected(std::begin(ZKSO::kExportNames),
                                        std::end(ZKSO::kExportNames));
  ASSERT_EQ(11u, sExpected.size());
  EXPECT_EQ(sExpected, sNames) << sOutput;
}

using ExportsE2ETest = E2ETest;

TEST_F(ExportsE2ETest, VersionIsOneZeroZero) {
  uint16_t nMajor = 9, nMinor = 9, nRevision = 9;
  m_pPlugin->zkso_version(&nMajor, &nMinor, &nRevision);
  EXPECT_EQ(1, nMajor);
  EXPECT_EQ(0, nMinor);
  EXPECT_EQ(0, nRevision);
}

TEST_F(ExportsE2ETest, IsMappedTouchesNothing) {
  zkref::MemSnapInfo* pRecord = NewRecord(NfsDevice(kExportPath));
  ZKSO::SnapInfo* apRecords[] = {pRecord};
  EXPECT_EQ(ZKSO::RESULT_SUCCESS,
            m_pPlugin->zkso_isMapped(apRecords, 1, &m_oOSUtil));
  EXPECT_EQ(ZKSO::RESULT_SUCCESS,
            m_pPlugin->zkso_isMapped(apRecords, 0, &m_oOSUtil));
  EXPECT_EQ(ZKSO::RESULT_SUCCESS,
            m_pPlugin->zkso_isMapped(nullptr, 3, nullptr));
  EXPECT_TRUE(pRecord->Calls().empty());
  EXPECT_TRUE(m_oSink.Lines().empty()) << m_oSink.Dump();
}

TEST_F(ExportsE2ETest, UnprepareDeletesFileSystemMetadataBeforeStatus) {
  ZKSO::SnapInfo* apRecords[2];
  for (int i = 0; i < 2; ++i) {
    zkref::MemSnapInfo* pRecord = NewRecord(NfsDevice(kExportPath));
    pRecord->mMetaData[SM_MDT_FS_INFO] = "nas1|101|1|x|2|/fs1|";
    pRecord->mMetaData[SM_MDT_SNAP_UUID] = "snap|7|";
    pRecord->nStatus = ZKSO::READY_FOR_SNAP;
    apRecords[i] = pRecord;
  }
  EXPECT_EQ(ZKSO::RESULT_SUCCESS,
            m_pPlugin->zkso_unprepareDevices(apRecords, 2, &m_oOSUtil));
  for (zkref::MemSnapInfo& oRecord : m_dRecords) {
    EXPECT_EQ(
        (std::vector<std::string>{"SetMetaData(16,null)", "SetStatus(3)"}),
        oRecord.Calls());
    EXPECT_EQ(0u, oRecord.mMetaData.count(SM_MDT_FS_INFO));
    EXPECT_EQ(1u, oRecord.mMetaData.count(SM_MDT_SNAP_UUID));
    EXPECT_EQ(ZKSO::SNAP_UNPREPARED, oRecord.nStatus);
  }
  EXPECT_TRUE(m_oSink.Lines().empty()) << m_oSink.Dump();
}

TEST_F(ExportsE2ETest, UnprepareOfNothingSucceeds) {
  zkref::MemSnapInfo* pRecord = NewRecord(NfsDevice(kExportPath));
  ZKSO::SnapInfo* apRecords[] = {pRecord, nullptr};
  EXPECT_EQ(ZKSO::RESULT_SUCCESS,
            m_pPlugin->zkso_unprepareDevices(apRecords, 0, &m_oOSUtil));
  EXPECT_TRUE(pRecord->Calls().empty());
  EXPECT_EQ(ZKSO::RESULT_SUCCESS,
            m_pPlugin->zkso_unprepareDevices(nullptr, 4, nullptr));
  // A null entry is passed over; the record before it is still done.
  EXPECT_EQ(ZKSO::RESULT_SUCCESS,
            m_pPlugin->zkso_unprepareDevices(apRecords, 2, nullptr));
  EXPECT_EQ(ZKSO::SNAP_UNPREPARED, pRecord->nStatus);
}

struct SupportCase {
  const char* pszName;
  std::string sIdentifier;
  ZKSO::ResultCode eExpected;
};

TEST_F(ExportsE2ETest, IsSupportedAnswersForWrittenAndHandWrittenIdentifiers) {
  const std::vector<SupportCase> vCases = {
      {"NfsFromCodec", NfsDevice(kExportPath), ZKSO::RESULT_SUCCESS},
      {"HandWrittenNfs",
       "{kemtype:vmware,type:nfs,lunuuid:\\/fs1,targethostname:nas1,"
       "vendor:celerra}",
       ZKSO::RESULT_SUCCESS},
      {"TypeRightAfterBrace",
       "{type:nfs,kemtype:vmware,lunuuid:\\/fs1,targethostname:nas1,"
       "vendor:celerra}",
       ZKSO::RESULT_PARTIAL_SUCCESS},
      {"NotVMware", UncDevice(kCifsServer, kShareName),
       ZKSO::RESULT_PARTIAL_SUCCESS},
      {"FcNamesNoFiler",
       "{kemtype:vmware,type:fc,lunuuid:600601603ea01b2c0041504d3030313233343"
       "53637,targetidentifier:50:06:01,vendor:celerra}",
       ZKSO::RESULT_PARTIAL_SUCCESS},
      {"Empty", "", ZKSO::RESULT_PARTIAL_SUCCESS},
  };
  char aBuffer[8] = "keep";
  for (const SupportCase& c : vCases) {
    SCOPED_TRACE(c.pszName);
    EXPECT_EQ(c.eExpected, m_pPlugin->zkso_isSupported(
                               c.sIdentifier.c_str(), ZKSO::SNAP_TYPE_SNAPSHOT,
                               &m_oOSUtil, aBuffer, sizeof(aBuffer)));
    EXPECT_EQ(ZKSO::RESULT_FAILURE,
              m_pPlugin->zkso_isSupported(c.sIdentifier.c_str(),
                                          ZKSO::SNAP_TYPE_CLONE, &m_oOSUtil,
                                          aBuffer, sizeof(aBuffer)));
  }
  EXPECT_STREQ("keep", aBuffer);
  EXPECT_EQ(ZKSO::RESULT_FAILURE,
            m_pPlugin->zkso_isSupported(NfsDevice(kExportPath).c_str(),
                                        ZKSO::SNAP_TYPE_SNAPSHOT, nullptr,
                                        nullptr, 0));
}

}  // namespace
}  // namespace zke2e
