// SPDX-License-Identifier: Apache-2.0
// Preparation of NAS devices (the CIFS server cache, the mover and mount
// point searches) and zkso_snapDevices, through the loaded plug-in against
// the simulated file server. Prepare and snap are separate calls on fresh
// records that carry over only what a host stores.
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/LifecycleFixture.h"
#include "utils/CelerraUtils.h"

namespace zke2e {
namespace {

const char kPrepareTag[] = "ZKSnapCelerra::zkso_prepareDevices";
const char kNasTag[] = "CelerraSnapDeviceNAS::PopulateDetails";

bool HasJobLine(const zkref::MemSnapInfo& oRecord, int nLevel,
                const std::string& sTag, const std::string& sText) {
  for (const auto& oLine : oRecord.vJobLog) {
    if (oLine.nLevel == nLevel && oLine.sTag == sTag && oLine.sText == sText)
      return true;
  }
  return false;
}

// Name and id of a snap UUID text "name|id|".
std::pair<std::string, std::string> SnapUUID(const zkref::MemSnapInfo& oR) {
  auto it = oR.mMetaData.find(SM_MDT_SNAP_UUID);
  if (it == oR.mMetaData.end()) return {};
  const std::string& s = it->second;
  const size_t nFirst = s.find('|');
  const size_t nSecond = s.find('|', nFirst + 1);
  if (nFirst == std::string::npos || nSecond != s.size() - 1) return {};
  return {s.substr(0, nFirst), s.substr(nFirst + 1, nSecond - nFirst - 1)};
}

class SnapE2ETest : public LifecycleTest {
 protected:
  ZKSO::ResultCode Prepare(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_prepareDevices, v);
  }
  ZKSO::ResultCode Snap(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_snapDevices, v);
  }
  // Prepares the records (all must succeed) and returns fresh copies.
  std::vector<zkref::MemSnapInfo*> Prepared(
      const std::vector<zkref::MemSnapInfo*>& v) {
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare(v)) << m_oSink.Dump();
    return CarryAll(v);
  }
  int SinkLinesContaining(const std::string& sNeedle) {
    return static_cast<int>(m_oSink.Find(sNeedle).size());
  }
};

TEST_F(SnapE2ETest, OneCheckpointPerControlHostAndFileSystem) {
  zkref::MemSnapInfo* pNfs = NewRecord(NfsExportDevice("/fs1", kNas1), "a");
  zkref::MemSnapInfo* pNative =
      NewRecord(NasDevice("/fs1/dirA", kNas1, false), "b");
  zkref::MemSnapInfo* pDatastore =
      NewRecord(NasDevice("/fs2/ds1", kNas1, true), "c");
  zkref::MemSnapInfo* pVdmPath =
      NewRecord(NasDevice("/root_vdm_3/fs3/ds", kNas1, true), "d");
  zkref::MemSnapInfo* pVdmServer =
      NewRecord(NasDevice("/fs3/ds2", kNas1Vdm, true), "e");
  zkref::MemSnapInfo* pOtherHost =
      NewRecord(NfsExportDevice("/fs1", kNas2), "f");
  const std::vector<zkref::MemSnapInfo*> vRecords = {
      pNfs, pNative, pDatastore, pVdmPath, pVdmServer, pOtherHost};

  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Prepare(vRecords)) << m_oSink.Dump();
  // Four NAS devices on one control host: the CIFS servers are asked once.
  EXPECT_EQ(1, CommandCounts(kCs1)["GetCifsServers"]);
  EXPECT_EQ(0, CommandCounts(kCs2)["GetCifsServers"]);

  const std::string T = std::to_string(m_nNow);
  EXPECT_EQ("101|1|pool_gold|nas1.zk.test|/fs1/dirA|fs1|2|false|/fs1|",
            pNative->mMetaData[SM_MDT_FS_INFO]);
  EXPECT_EQ("102|1|pool_gold|nas1.zk.test|/fs2/ds1|fs2|2|false|/fs2|",
            pDatastore->mMetaData[SM_MDT_FS_INFO]);
  EXPECT_EQ("103|1|pool_gold|nas1.zk.test|/root_vdm_3/fs3/ds|fs3|3|true|/fs3|",
            pVdmPath->mMetaData[SM_MDT_FS_INFO]);
  EXPECT_EQ("103|1|pool_gold|nas1-vdm.zk.test|/fs3/ds2|fs3|3|true|/fs3|",
            pVdmServer->mMetaData[SM_MDT_FS_INFO]);
  // The source identifier now names the path as the physical mover sees it.
  for (auto [pRecord, sFSPath] :
       std::vector<std::pair<zkref::MemSnapInfo*, std::string>>{
           {pNative, "/fs1"},
           {pDatastore, "/fs2"},
           {pVdmPath, "/root_vdm_3/fs3"},
           {pVdmServer, "/root_vdm_3/fs3"}}) {
    _CelerraSnapDeviceIdentifier oId;
    CelerraUtils::ParseDeviceIdentifier(pRecord->sSourceDevice, oId);
    EXPECT_EQ(sFSPath, oId.sFSPath) << pRecord->sSourceDevice;
  }
  EXPECT_EQ("b_" + T, pNative->sSnapName);

  ASSERT_TRUE(zkfiler::ResetJournal().ok());
  std::vector<zkref::MemSnapInfo*> vSnap = CarryAll(vRecords);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Snap(vSnap)) << m_oSink.Dump();

  const std::vector<zkfiler::JournalEntry> vCreates =
      JournalOf("CreateROChkPt");
  ASSERT_EQ(4u, vCreates.size());
  EXPECT_EQ(kCs1, vCreates[0].control_host);
  EXPECT_EQ("fs=101 name=a_" + T, vCreates[0].args);
  EXPECT_EQ("fs=102 name=c_" + T, vCreates[1].args);
  EXPECT_EQ("fs=103 name=d_" + T, vCreates[2].args);
  EXPECT_EQ(kCs2, vCreates[3].control_host);
  EXPECT_EQ("fs=101 name=f_" + T, vCreates[3].args);

  // Records of one group carry one checkpoint; the group's name is taken by
  // every device of it.
  EXPECT_EQ(SnapUUID(*vSnap[0]), SnapUUID(*vSnap[1]));
  EXPECT_EQ(SnapUUID(*vSnap[3]), SnapUUID(*vSnap[4]));
  EXPECT_EQ("a_" + T, vSnap[1]->sSnapName);
  EXPECT_EQ("d_" + T, vSnap[4]->sSnapName);
  std::set<std::pair<std::string, std::string>> sServer;
  for (const auto& oChkpt : Checkpoints()) {
    sServer.insert({oChkpt.control_host + "/" + oChkpt.name, oChkpt.id});
  }
  for (size_t i = 0; i < vSnap.size(); ++i) {
    const zkref::MemSnapInfo& oRecord = *vSnap[i];
    EXPECT_EQ((std::vector<int>{ZKSO::SNAP_STATUS_UNKNOWN, ZKSO::SNAP_SUCCESS}),
              oRecord.vStatusHistory)
        << i;
    const auto oUUID = SnapUUID(oRecord);
    EXPECT_EQ(oUUID.first, oRecord.sSnapName);
    const std::string sHost = i == 5 ? kCs2 : kCs1;
    EXPECT_EQ(1u, sServer.count({sHost + "/" + oUUID.first, oUUID.second}))
        << "record " << i << " names a checkpoint the server lacks";
    EXPECT_TRUE(HasJobLine(
        oRecord, 1, kSnapTag,
        "Successfully snapped src device [" + oRecord.sSourceDevice + "]"));
  }
  EXPECT_EQ(4u, sServer.size());
  EXPECT_EQ(1u, LinesEqualTo("Request to create snaps for [6] devices").size());
  EXPECT_EQ(
      1u,
      LinesEqualTo("Successfully created snaps for [6 of 6] devices.").size());
  // One grouping line per device at level 5.
  EXPECT_EQ(6u, m_oSink.Find("Array control host:").size());
  EXPECT_EQ(1u, LinesEqualTo("Array control host:cs1.zk.test-true,"
                             "Storage:101-true [a_" +
                             T + "]")
                    .size());
  EXPECT_EQ(1u, LinesEqualTo("Array control host:cs2.zk.test-false,"
                             "Storage:101-false [f_" +
                             T + "]")
                    .size());
}

TEST_F(SnapE2ETest, RefusedCheckpointLeavesLaterGroupsUntried) {
  std::vector<zkref::MemSnapInfo*> vSnap =
      Prepared({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
                NewRecord(NasDevice("/fs2/ds1", kNas1, true), "c"),
                NewRecord(NasDevice("/fs2/ds2", kNas1, true), "c2"),
                NewRecord(NfsExportDevice("/fs1", kNas2), "f")});
  ArmFault("CreateROChkPt", zkfiler::FaultMode::kNth, 2);
  ASSERT_TRUE(zkfiler::ResetJournal().ok());

  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Snap(vSnap));

  EXPECT_EQ(ZKSO::SNAP_SUCCESS, vSnap[0]->nStatus);
  for (int i : {1, 2, 3}) {
    EXPECT_EQ(ZKSO::SNAP_STATUS_UNKNOWN, vSnap[i]->nStatus) << i;
    EXPECT_EQ(0u, vSnap[i]->mMetaData.count(SM_MDT_SNAP_UUID)) << i;
  }
  // The report goes to the first record of the group that failed.
  EXPECT_EQ(JPR_SNAP_FAILED, vSnap[1]->nJPRId);
  EXPECT_EQ(0u, vSnap[1]->sJPRText.find("Component:"));
  EXPECT_TRUE(HasJobLine(*vSnap[1], 2, kSnapTag,
                         "Unable to snap src device src device [" +
                             vSnap[1]->sSourceDevice + "]"));
  EXPECT_EQ(0, vSnap[3]->nJPRId);
  EXPECT_EQ(2u, JournalOf("CreateROChkPt").size());
  EXPECT_EQ(0, CommandCounts(kCs2)["CreateROChkPt"]);
  EXPECT_EQ(1u, Checkpoints().size());
  EXPECT_EQ(
      1u,
      LinesEqualTo("Successfully created snaps for [1 of 4] devices.").size());
  EXPECT_EQ(1u, m_oSink.Find("Status [").size());
}

TEST_F(SnapE2ETest, StopDuringPreparationCreatesNoCheckpoint) {
  std::vector<zkref::MemSnapInfo*> vSnap =
      Prepared({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
                NewRecord(NasDevice("/fs2/ds1", kNas1, true), "c"),
                NewRecord(NfsExportDevice("/fs1", kNas2), "f")});
  vSnap[1]->mMetaData.erase(SM_MDT_FS_INFO);
  ASSERT_TRUE(zkfiler::ResetJournal().ok());

  EXPECT_EQ(ZKSO::RESULT_FAILURE, Snap(vSnap));

  EXPECT_TRUE(JournalOf("CreateROChkPt").empty());
  EXPECT_TRUE(Checkpoints().empty());
  EXPECT_EQ(ZKSO::SNAP_STATUS_UNKNOWN, vSnap[0]->nStatus);
  EXPECT_EQ(ZKSO::SNAP_STATUS_UNKNOWN, vSnap[1]->nStatus);
  EXPECT_EQ(ZKSO::READY_FOR_SNAP, vSnap[2]->nStatus);
  EXPECT_TRUE(vSnap[2]->vStatusHistory.empty());
  EXPECT_EQ(JPR_SNAP_FAILED, vSnap[1]->nJPRId);
  EXPECT_EQ(1u, LinesEqualTo("Failed to do PreOperation").size());
  const auto vFailure = LinesEqualTo("Failed to create any snap");
  ASSERT_EQ(1u, vFailure.size());
  EXPECT_EQ(-1, vFailure[0].nLevel);
  EXPECT_EQ(kSnapTag, vFailure[0].sTag);
}

TEST_F(SnapE2ETest, CheckpointLimitPostsArrayCodeMessage) {
  std::vector<zkref::MemSnapInfo*> vSnap =
      Prepared({NewRecord(NfsExportDevice("/fs1", kNas2), "f")});
  // File server two already holds as many checkpoints of fs1 as it allows.
  std::vector<zkfiler::ServerLayout> vServers;
  ASSERT_TRUE(zkfiler::ListServers(&vServers).ok());
  zkfiler::ServerLayout oTwo = vServers[1];
  ASSERT_EQ(kCs2, oTwo.control_host);
  oTwo.password = kPassword;
  oTwo.limits.ro_per_fs = 1;
  oTwo.Checkpoint("older", "101");
  ASSERT_TRUE(zkfiler::Install(oTwo).ok());

  EXPECT_EQ(ZKSO::RESULT_FAILURE, Snap(vSnap));
  EXPECT_EQ(JPR_SNAP_FAILED_ARRAY_CODE, vSnap[0]->nJPRId);
  EXPECT_NE(std::string::npos,
            vSnap[0]->sJPRText.find("MessageCode:13690535984Severity:"));
  EXPECT_EQ(ZKSO::SNAP_STATUS_UNKNOWN, vSnap[0]->nStatus);
}

TEST_F(SnapE2ETest, CifsServerCacheExpiresWholeAfterTheConfiguredTime) {
  auto PrepareOn = [&](const std::string& sFiler, const std::string& sPath) {
    zkref::MemSnapInfo* pRecord = NewRecord(NasDevice(sPath, sFiler, true));
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare({pRecord})) << m_oSink.Dump();
  };
  auto Fetches = [&](const char* pszHost) {
    return CommandCounts(pszHost)["GetCifsServers"];
  };
  const long T = m_nNow;
  m_oOSUtil.SetConfig("nClearCelerraArrayMapSecs", "100");
  PrepareOn(kNas1, "/fs2/ds1");  // cs1 fetched at T
  SetNow(T + 50);
  PrepareOn(kNas2, "/fs2/ds1");  // cs2 fetched at T+50: the stamp moves
  SetNow(T + 120);
  PrepareOn(kNas1, "/fs2/ds1");  // cs1's entry outlives the limit
  EXPECT_EQ(1, Fetches(kCs1));
  EXPECT_EQ(1, Fetches(kCs2));
  EXPECT_EQ(
      3u, LinesEqualTo("Duration to clear the cache map: [100] secs ").size());

  const size_t nCleansBefore =
      m_oSink.Find("Cleaning the array map cache for all the arrays").size();
  SetNow(T + 151);  // 101 s after the newest fetch: every entry goes
  PrepareOn(kNas2, "/fs2/ds1");
  PrepareOn(kNas1, "/fs2/ds1");
  EXPECT_EQ(2, Fetches(kCs1));
  EXPECT_EQ(2, Fetches(kCs2));
  EXPECT_EQ(
      nCleansBefore + 1,
      m_oSink.Find("Cleaning the array map cache for all the arrays").size());

  // 0: a list is kept only within the second it was fetched in.
  m_oOSUtil.SetConfig("nClearCelerraArrayMapSecs", "0");
  PrepareOn(kNas1, "/fs2/ds1");
  EXPECT_EQ(2, Fetches(kCs1));
  SetNow(T + 152);
  PrepareOn(kNas1, "/fs2/ds1");
  EXPECT_EQ(3, Fetches(kCs1));

  // Negative: every call fetches anew.
  m_oOSUtil.SetConfig("nClearCelerraArrayMapSecs", "-1");
  PrepareOn(kNas1, "/fs2/ds1");
  PrepareOn(kNas1, "/fs2/ds1");
  EXPECT_EQ(5, Fetches(kCs1));

  // Without the setting, a day.
  m_oOSUtil.ClearConfig();
  SetNow(T + 152 + 86400);
  PrepareOn(kNas1, "/fs2/ds1");
  EXPECT_EQ(5, Fetches(kCs1));
  SetNow(T + 152 + 86401);
  PrepareOn(kNas1, "/fs2/ds1");
  EXPECT_EQ(6, Fetches(kCs1));
}

TEST_F(SnapE2ETest, ArrayIdThatIsNoHostNameFallsBackToTheDevicesFileServer) {
  m_oDatabase.Clear();
  m_oDatabase.Add(
      {kNas1,
       {},
       zkref::ArrayDatabase::FormArrayInfo("APM00111.invalid", kVendor, kCs1,
                                           "nasadmin", kPassword)});
  zkref::MemSnapInfo* pRecord = NewRecord(NasDevice("/fs2/ds1", kNas1, true));
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare({pRecord})) << m_oSink.Dump();
  EXPECT_EQ("102|1|pool_gold|nas1.zk.test|/fs2/ds1|fs2|2|false|/fs2|",
            pRecord->mMetaData[SM_MDT_FS_INFO]);
}

struct NasFailureCase {
  const char* pszName;
  std::string sPath;
  std::string sFiler;
  const char* pszFault;  // command refused from the first call on; or null
  std::vector<std::string> vErrorLines;  // each must appear
};

TEST_F(SnapE2ETest, NasPreparationFailuresLeaveTheRecordUntouched) {
  {
    std::ofstream oHosts(getenv("ZK_HOSTS_FILE"), std::ios::app);
    oHosts << "10.11.12.77 nas1-other.zk.test\n";
  }
  m_oDatabase.Add(
      {"nas1-other.zk.test",
       {},
       zkref::ArrayDatabase::FormArrayInfo("nas1-other.zk.test", kVendor, kCs1,
                                           "nasadmin", kPassword)});
  m_oDatabase.Add({"ghost.invalid",
                   {},
                   zkref::ArrayDatabase::FormArrayInfo(
                       "ghost.invalid", kVendor, kCs1, "nasadmin", kPassword)});
  const std::string sNoMover =
      "CelerraSnapDevice(1018): -Error-: Unable to find mover from fileserver "
      "for array [";
  const std::string sInvalid =
      "CelerraSnapDevice(1048): -Error-: Invalid mount path [";
  const std::vector<NasFailureCase> vCases = {
      {"refused CIFS server list",
       "/fs2/ds1",
       kNas1,
       "GetCifsServers",
       {"CelerraSnapDevice(976): -Error-: Unable to get Cifsserver info for "
        "FS"}},
      {"name that does not resolve",
       "/fs2/ds1",
       "ghost.invalid",
       nullptr,
       {sNoMover + "ghost.invalid]"}},
      {"address no CIFS server lists",
       "/fs2/ds1",
       "nas1-other.zk.test",
       nullptr,
       {sNoMover + "nas1-other.zk.test]"}},
      {"path that shrinks to nothing",
       "/nosuch/dir",
       kNas1,
       nullptr,
       {"CelerraSnapDevice(1041): -Error-: Unable to get Mnt Point from file "
        "server. Trimming path [/nosuch] and continuing",
        "CelerraSnapDevice(1041): -Error-: Unable to get Mnt Point from file "
        "server. Trimming path [] and continuing",
        sInvalid + "/nosuch/dir]"}},
      {"path without a slash", "fs2", kNas1, nullptr, {sInvalid + "fs2]"}},
      {"VDM number that is no number",
       "/root_vdm_x/fs3/ds",
       kNas1,
       nullptr,
       {sInvalid + "/root_vdm_x/fs3/ds]"}},
      {"VDM path without a file system", "/root_vdm_3", kNas1, nullptr, {}},
      {"VDM prefix without a number is searched as a path",
       "/root_vdm_x",
       kNas1,
       nullptr,
       {"CelerraSnapDevice(1041): -Error-: Unable to get Mnt Point from file "
        "server. Trimming path [] and continuing",
        sInvalid + "/root_vdm_x]"}},
      {"refused mount point lookup",
       "/fs2/ds1",
       kNas1,
       "GetMountPointInfo",
       {sInvalid + "/fs2/ds1]"}},
      {"refused file system lookup",
       "/fs2/ds1",
       kNas1,
       "GetPFSInfo",
       {"CelerraSnapDevice(1054): -Error-: Unable to get PFS info for FS []"}},
  };
  for (const NasFailureCase& oCase : vCases) {
    SCOPED_TRACE(oCase.pszName);
    SetNow(m_nNow + 100000);  // a cached list never hides the case
    ASSERT_TRUE(zkfiler::ClearFaults().ok());
    if (oCase.pszFault != nullptr) {
      ArmFault(oCase.pszFault, zkfiler::FaultMode::kAlways);
    }
    m_oSink.Clear();
    const std::string sSource = NasDevice(oCase.sPath, oCase.sFiler, true);
    zkref::MemSnapInfo* pRecord = NewRecord(sSource);

    EXPECT_EQ(ZKSO::RESULT_FAILURE, Prepare({pRecord}));

    EXPECT_EQ(std::vector<int>{ZKSO::READY_FOR_SNAP_FAILED},
              pRecord->vStatusHistory);
    EXPECT_TRUE(pRecord->mMetaData.empty());
    EXPECT_EQ(sSource, pRecord->sSourceDevice);
    EXPECT_EQ("nightly", pRecord->sSnapName);
    EXPECT_TRUE(
        HasJobLine(*pRecord, 2, kPrepareTag, "Prepare For Device failed"));
    for (const std::string& sLine : oCase.vErrorLines) {
      EXPECT_EQ(1u, LinesEqualTo(sLine).size()) << sLine << m_oSink.Dump();
    }
    EXPECT_EQ(1, SinkLinesContaining(
                     "CelerraSnapDevice(1076): -Error-: Unable to get "
                     "filesystem information for FS "));
    EXPECT_EQ(1u, m_oSink.Find("Status [").size());
  }
}

}  // namespace
}  // namespace zke2e
