// SPDX-License-Identifier: Apache-2.0
// Records that share a checkpoint, and operations repeated after a failure:
// every record reaches success, in one call or in several, and the file
// server ends holding exactly what it held before.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/LifecycleFixture.h"
#include "tests/testclock/ZkTestClock.h"
#include "utils/CelerraUtils.h"

namespace zke2e {
namespace {

// Lines of the record's job log at nLevel and tag sTag that hold sText.
size_t JobLinesHolding(const zkref::MemSnapInfo& oRecord, int nLevel,
                       const std::string& sTag, const std::string& sText) {
  return std::count_if(oRecord.vJobLog.begin(), oRecord.vJobLog.end(),
                       [&](const zkref::MemSnapInfo::JobLogLine& oLine) {
                         return oLine.nLevel == nLevel && oLine.sTag == sTag &&
                                oLine.sText.find(sText) != std::string::npos;
                       });
}

// What the file server holds, in a form that compares whole.
struct ServerState {
  std::vector<std::string> vCheckpoints;
  std::vector<std::string> vExports;
  bool operator==(const ServerState& o) const {
    return vCheckpoints == o.vCheckpoints && vExports == o.vExports;
  }
};

class ConvergenceTest : public LifecycleTest {
 protected:
  ServerState State() {
    ServerState oState;
    for (const auto& c : Checkpoints()) {
      oState.vCheckpoints.push_back(c.control_host + " " + c.id + " " + c.name +
                                    " " + c.baseline_id);
    }
    for (const auto& e : Exports()) {
      std::string sHosts;
      for (const std::string& h : e.access_hosts) sHosts += h + ",";
      oState.vExports.push_back(e.control_host + " " + e.path + " " + sHosts);
    }
    return oState;
  }
  // Three records on file system fs1 of the first file server: two NFS
  // records of its export and one reached natively below it.
  std::vector<zkref::MemSnapInfo*> ThreeOnOneFileSystem() {
    return {NewRecord(NfsExportDevice("/fs1", kNas1, false), "home"),
            NewRecord(NfsExportDevice("/fs1", kNas1, false), "home"),
            WithMountSource(
                NewRecord(NasDevice("/fs1/users", kNas1, false), "home"), 2)};
  }
  static void ExpectAll(const std::vector<zkref::MemSnapInfo*>& v,
                        int nStatus) {
    for (const zkref::MemSnapInfo* pRecord : v) {
      EXPECT_EQ(nStatus, pRecord->nStatus) << pRecord->sSourceDevice;
    }
  }
  void ResetJournal() { ASSERT_TRUE(zkfiler::ResetJournal().ok()); }
};

TEST_F(ConvergenceTest, RecordsOfOneCheckpointMapUnmapAndDeleteTogether) {
  const ServerState oBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped(ThreeOnOneFileSystem());
  ASSERT_EQ(ChkptId(*v[0]), ChkptId(*v[2]));
  const std::string sRW = v[0]->sSnapName + "_RW";

  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
  ExpectAll(v, ZKSO::MAP_SUCCESS);
  // One writable checkpoint and one export serve the three records.
  EXPECT_EQ(1, CommandCounts()["CreateRWChkPt"]);
  EXPECT_EQ(0, CommandCounts()["GetChkPointsInfo"]);
  for (const zkref::MemSnapInfo* pRecord : v) {
    EXPECT_EQ(v[0]->mMetaData.at(SM_MDT_SNAP_MOUNT),
              pRecord->mMetaData.at(SM_MDT_SNAP_MOUNT));
    EXPECT_EQ(0u, pRecord->mMetaData.at(SM_MDT_SNAP_MOUNT).find(sRW + "|"));
    EXPECT_NE(std::string::npos, pRecord->sSnapDevice.find("/" + sRW));
  }
  EXPECT_EQ(1u, JobLinesHolding(*v[1], 1, "CelerraSnapDeviceNfs::CreateRWChkPt",
                                "made for another device of this request"));

  // One record unmapped, then the rest.
  std::vector<zkref::MemSnapInfo*> vOne = CarryAll({v[0]});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vOne)) << m_oSink.Dump();
  std::vector<zkref::MemSnapInfo*> vRest = CarryAll({v[1], v[2]});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vRest)) << m_oSink.Dump();
  ExpectAll(vOne, ZKSO::UNMAP_SUCCESS);
  ExpectAll(vRest, ZKSO::UNMAP_SUCCESS);
  for (const zkref::MemSnapInfo* pRecord : {vOne[0], vRest[0], vRest[1]}) {
    EXPECT_EQ(0u, pRecord->mMetaData.count(SM_MDT_SNAP_MOUNT));
  }

  // Deleted in one call: one command for the shared checkpoint.
  std::vector<zkref::MemSnapInfo*> vDelete =
      CarryAll({vOne[0], vRest[0], vRest[1]});
  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(vDelete)) << m_oSink.Dump();
  ExpectAll(vDelete, ZKSO::DELETE_SUCCESS);
  EXPECT_EQ(1, CommandCounts()["DeleteChkPt"]);
  EXPECT_EQ(1u, CommandCounts().size());
  EXPECT_EQ(1u, JobLinesHolding(*vDelete[2], 1, kDeleteTag,
                                "was deleted for another device of this "
                                "request"));
  EXPECT_TRUE(oBefore == State());
}

// Records of one checkpoint mapped one per call: the first call's record
// holds the snapshot's one writable view, and the others are refused it
// while it is in use. Mapping the holder again changes nothing; unmapping
// every record removes the view once.
TEST_F(ConvergenceTest,
       RecordsOfOneCheckpointMappedInSeveralCallsShareNothing) {
  const ServerState oBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped(ThreeOnOneFileSystem());
  std::vector<zkref::MemSnapInfo*> vMapped(3);
  for (int i : {2, 0, 1}) {
    vMapped[i] = CarryAll({v[i]})[0];
    const ServerState oBeforeMap = State();
    EXPECT_EQ(i == 2 ? ZKSO::RESULT_SUCCESS : ZKSO::RESULT_FAILURE,
              Map({vMapped[i]}))
        << m_oSink.Dump();
    if (i == 2) {
      EXPECT_EQ(ZKSO::MAP_SUCCESS, vMapped[i]->nStatus);
    } else {
      EXPECT_EQ(ZKSO::MAP_FAILED, vMapped[i]->nStatus);
      EXPECT_NE(std::string::npos, vMapped[i]->sJPRText.find("is in the way"));
      EXPECT_TRUE(oBeforeMap == State());
    }
  }
  size_t nWritable = 0;
  for (const auto& c : Checkpoints(kCs1)) nWritable += c.writable ? 1 : 0;
  EXPECT_EQ(1u, nWritable);

  // Mapping the mapped record again changes nothing.
  std::vector<zkref::MemSnapInfo*> vAgain = CarryAll({vMapped[2]});
  const ServerState oMapped = State();
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Map(vAgain));
  EXPECT_TRUE(oMapped == State());

  std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(vMapped);
  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vUnmap)) << m_oSink.Dump();
  ExpectAll(vUnmap, ZKSO::UNMAP_SUCCESS);
  EXPECT_EQ(1, CommandCounts()["DeleteNFSShare"]);
  EXPECT_EQ(1, CommandCounts()["DeleteChkPt"]);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(CarryAll(vUnmap)));
  EXPECT_TRUE(oBefore == State());
}

TEST_F(ConvergenceTest, MapWithoutAnAccessHostMakesNothingAndSaysWhy) {
  zktest::FixHostName("nowhere.zk.test");  // does not resolve
  const ServerState oBefore = State();
  std::vector<zkref::MemSnapInfo*> v =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1, false), "home"),
               NewRecord(NfsExportDevice("/fs1", kNas2, false), "home")});
  const ServerState oSnapped = State();
  ResetJournal();

  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(v));
  EXPECT_EQ(ZKSO::MAP_FAILED, v[0]->nStatus);
  EXPECT_TRUE(v[1]->vStatusHistory.empty());
  EXPECT_TRUE(CommandCounts().empty());
  EXPECT_TRUE(oSnapped == State());
  EXPECT_EQ(JPR_MAP_FAILED, v[0]->nJPRId);
  EXPECT_NE(std::string::npos,
            v[0]->sJPRText.find("No host to give access to the NFS share"));
  EXPECT_NE(std::string::npos, v[0]->sJPRText.find("nowhere.zk.test"));
  EXPECT_EQ(std::string::npos, v[0]->sJPRText.find("Component:"));

  // With an access host configured, the same records unmap and map.
  m_oOSUtil.SetConfig("sCelerraCommaSeparatedAccessHosts", "10.11.30.5");
  std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(v);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vUnmap)) << m_oSink.Dump();
  std::vector<zkref::MemSnapInfo*> vMap = CarryAll(vUnmap);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Map(vMap)) << m_oSink.Dump();
  ExpectAll(vMap, ZKSO::MAP_SUCCESS);
  std::vector<zkref::MemSnapInfo*> vEnd = CarryAll(vMap);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vEnd));
  vEnd = CarryAll(vEnd);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(vEnd));
  EXPECT_TRUE(oBefore == State());
}

TEST_F(ConvergenceTest, DeleteOfACheckpointAlreadyGoneSucceeds) {
  std::vector<zkref::MemSnapInfo*> v =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1, false), "home"),
               NewRecord(NfsExportDevice("/fs1", kNas1, false), "home")});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete({CarryAll({v[0]})[0]}));

  // The sibling, in a call of its own: refused, one query, gone.
  std::vector<zkref::MemSnapInfo*> vSecond = CarryAll({v[1]});
  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(vSecond)) << m_oSink.Dump();
  EXPECT_EQ(ZKSO::DELETE_SUCCESS, vSecond[0]->nStatus);
  EXPECT_EQ(1, CommandCounts()["DeleteChkPt"]);
  EXPECT_EQ(1, CommandCounts()["GetChkPointsInfo"]);
  EXPECT_EQ(1u,
            JobLinesHolding(*vSecond[0], 1, "CelerraSnapDevice::DeleteChkPt",
                            "is no longer on the file server: already "
                            "deleted"));
}

TEST_F(ConvergenceTest, DeleteRefusedWhileTheCheckpointStaysFails) {
  std::vector<zkref::MemSnapInfo*> v =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1, false), "home")});
  ArmFault("DeleteChkPt", zkfiler::FaultMode::kAlways);
  std::vector<zkref::MemSnapInfo*> vDelete = CarryAll(v);
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Delete(vDelete));
  EXPECT_EQ(ZKSO::DELETE_FAILED, vDelete[0]->nStatus);
  EXPECT_TRUE(HasCheckpoint(kCs1, ChkptId(*vDelete[0])));
  EXPECT_EQ(1u, JobLinesHolding(*vDelete[0], 2, kDeleteTag,
                                "Error: Failed to delete FS from chkpt!"));
}

// A host that kept nothing of a snap that succeeded runs it again: the
// checkpoint of that name was there before this create, and nothing the
// records hold names it. The snap is refused with the file server's own
// refusal, sends no listing, and changes nothing; what the first run made
// is an orphan ('zksnap orphans' names it).
TEST_F(ConvergenceTest, SnapRunAgainByAHostThatKeptNothingIsRefused) {
  std::vector<zkref::MemSnapInfo*> v = {
      NewRecord(NfsExportDevice("/fs1", kNas1, false), "home"),
      NewRecord(NfsExportDevice("/fs1", kNas1, false), "home")};
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Prepare(v));
  std::vector<zkref::MemSnapInfo*> vPrepared = CarryAll(v);
  std::vector<zkref::MemSnapInfo*> vFirst = CarryAll(vPrepared);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Snap(vFirst));
  const ServerState oSnapped = State();

  std::vector<zkref::MemSnapInfo*> vSecond = CarryAll(vPrepared);
  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Snap(vSecond)) << m_oSink.Dump();
  EXPECT_TRUE(oSnapped == State());
  EXPECT_EQ((std::map<std::string, int>{{"CreateROChkPt", 1}}),
            CommandCounts());
  for (zkref::MemSnapInfo* pRecord : vSecond) {
    EXPECT_NE(ZKSO::SNAP_SUCCESS, pRecord->nStatus);
    EXPECT_EQ(0u, pRecord->mMetaData.count(SM_MDT_SNAP_UUID));
    EXPECT_EQ(0u, pRecord->mMetaData.count(SM_MDT_CELERRA_INTENT));
  }
  EXPECT_NE(std::string::npos, vSecond[0]->sJPRText.find("already in use"))
      << vSecond[0]->sJPRText;
}

TEST_F(ConvergenceTest, SnapNameHoldingTheSeparatorMakesNoCheckpoint) {
  std::vector<zkref::MemSnapInfo*> v = {
      NewRecord(NfsExportDevice("/fs1", kNas1, false), "home")};
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Prepare(v));
  std::vector<zkref::MemSnapInfo*> vSnap = CarryAll(v);
  vSnap[0]->sSnapName = "home|1";
  const size_t nCheckpoints = Checkpoints().size();
  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Snap(vSnap));
  EXPECT_EQ(ZKSO::SNAP_STATUS_UNKNOWN, vSnap[0]->nStatus);
  EXPECT_TRUE(CommandCounts().empty());
  EXPECT_EQ(nCheckpoints, Checkpoints().size());
  EXPECT_NE(std::string::npos, vSnap[0]->sJPRText.find("separator"));
}

// A prepare whose name cannot be stored stops after its work with
// "Failed to do Postoperation".
TEST_F(ConvergenceTest, PrepareOfANameHoldingTheSeparatorFailsItsCompletion) {
  std::vector<zkref::MemSnapInfo*> v = {
      NewRecord(NfsExportDevice("/fs1", kNas1, false), "home|x")};
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Prepare(v));
  EXPECT_EQ(ZKSO::READY_FOR_SNAP_FAILED, v[0]->nStatus);
  EXPECT_EQ(1u, LinesEqualTo("Failed to do Postoperation").size());
}

// A writable checkpoint that stays on the file server fails the unmap; the
// record keeps its mount metadata, and the same unmap later finishes.
TEST_F(ConvergenceTest, UnmapThatCannotDeleteTheWritableCheckpointFails) {
  const ServerState oBefore = State();
  std::vector<zkref::MemSnapInfo*> v =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1, false), "home")});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v));
  std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(v);
  ArmFault("DeleteChkPt", zkfiler::FaultMode::kAlways);

  EXPECT_EQ(ZKSO::RESULT_FAILURE, Unmap(vUnmap));
  EXPECT_EQ(ZKSO::UNMAP_FAILED, vUnmap[0]->nStatus);
  EXPECT_EQ(JPR_UNMAP_FAILED, vUnmap[0]->nJPRId);
  EXPECT_EQ(0u, vUnmap[0]->sJPRText.find("Component:"));
  EXPECT_EQ(1u, vUnmap[0]->mMetaData.count(SM_MDT_SNAP_MOUNT));
  EXPECT_EQ(1u,
            JobLinesHolding(*vUnmap[0], 2, kUnmapTag,
                            "Error: Failed to Unexpose & delete RW chkpt!"));
  EXPECT_EQ(1u, LinesEqualTo("Failed to unmap any snap").size());

  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  std::vector<zkref::MemSnapInfo*> vRetry = CarryAll(vUnmap);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vRetry)) << m_oSink.Dump();
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(CarryAll(vRetry)));
  EXPECT_TRUE(oBefore == State());
}

// A map refused at the writable checkpoint says so and makes nothing.
TEST_F(ConvergenceTest, MapRefusedAtTheWritableCheckpointSaysSo) {
  std::vector<zkref::MemSnapInfo*> v =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1, false), "home")});
  const ServerState oSnapped = State();
  ArmFault("CreateRWChkPt", zkfiler::FaultMode::kAlways);
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(v));
  EXPECT_EQ(ZKSO::MAP_FAILED, v[0]->nStatus);
  EXPECT_EQ(1u, JobLinesHolding(*v[0], 2, kMapTag,
                                "Error: Failed to create RW chkpt!"));
  EXPECT_EQ(0u, v[0]->sJPRText.find("Component:"));
  EXPECT_TRUE(oSnapped == State());
}

}  // namespace
}  // namespace zke2e

namespace zke2e {
namespace {

// The file system a VDM serves, reached by the VDM's own name with and
// without the part below its mount point, and through the physical mover's
// path: map and unmap look the export up from the same source path,
// whatever the mount request source, and the clone reaches the directory.
TEST_F(ConvergenceTest, VdmFileSystemMapsAndUnmapsWithEveryMountSource) {
  const struct {
    const char* pszPath;
    const char* pszRelative;
  } aPaths[] = {
      {"/fs3/ds2", "/ds2"}, {"/fs3", ""}, {"/root_vdm_3/fs3/ds2", "/ds2"}};
  for (const auto& oPath : aPaths) {
    for (int nSource : {1, 2, 3}) {
      SCOPED_TRACE(std::string(oPath.pszPath) + " source " +
                   std::to_string(nSource));
      const ServerState oBefore = State();
      std::vector<zkref::MemSnapInfo*> v = Snapped({WithMountSource(
          NewRecord(NasDevice(oPath.pszPath, kNas1Vdm, false), "vdm"),
          nSource)});
      ResetJournal();
      ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
      const std::vector<zkfiler::JournalEntry> vMapLookup =
          JournalOf("Celerra_GetSnapDeviceNameWithManageCelerra");
      ASSERT_EQ(1u, vMapLookup.size());
      const std::string sShare = "/" + v[0]->sSnapName + "_RW";
      const std::string sClone =
          nSource == 2 ? sShare : sShare + oPath.pszRelative;
      _CelerraSnapDeviceIdentifier oClone;
      CelerraUtils::ParseDeviceIdentifier(v[0]->sSnapDevice, oClone);
      EXPECT_EQ(sClone, oClone.sLunUUID) << v[0]->sSnapDevice;

      std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(v);
      ResetJournal();
      EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vUnmap)) << m_oSink.Dump();
      const std::vector<zkfiler::JournalEntry> vUnmapLookup =
          JournalOf("Celerra_GetSnapDeviceNameWithManageCelerra");
      ASSERT_EQ(1u, vUnmapLookup.size());
      EXPECT_EQ(vMapLookup[0].args, vUnmapLookup[0].args);
      EXPECT_EQ(1, CommandCounts()["DeleteNFSShare"]);
      EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(CarryAll(vUnmap)));
      EXPECT_TRUE(oBefore == State());
    }
  }
}

}  // namespace
}  // namespace zke2e
