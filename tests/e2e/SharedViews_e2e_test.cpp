// SPDX-License-Identifier: Apache-2.0
// What a map, unmap, snap or revert may take as "already there" or "already
// gone", tried where a shortcut would harm: records of one snapshot mapped
// to different hosts (NFS and VMware), a snapshot name two file systems ask
// for, queries that fail after a refusal, a record whose writable view was
// replaced, a map killed after it made its writable checkpoint.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/LifecycleFixture.h"
#include "tests/testclock/ZkTestClock.h"

namespace zke2e {
namespace {

const char kExposeTag[] = "CelerraSnapDeviceNfs::ExposeChkPt";
const char kNfsUnExposeTag[] = "CelerraSnapDeviceNfs::UnExposeChkPt";

bool Holds(const std::string& sText, const std::string& sPart) {
  return sText.find(sPart) != std::string::npos;
}

// Lines of the record's job log at nLevel that hold sText.
size_t JobLines(const zkref::MemSnapInfo& oRecord, int nLevel,
                const std::string& sText) {
  return std::count_if(oRecord.vJobLog.begin(), oRecord.vJobLog.end(),
                       [&](const zkref::MemSnapInfo::JobLogLine& oLine) {
                         return oLine.nLevel == nLevel &&
                                Holds(oLine.sText, sText);
                       });
}

class SharedViewTest : public LifecycleTest {
 protected:
  // Checkpoints and exports (with all three host lists) of every server.
  std::vector<std::string> State() {
    std::vector<std::string> v;
    for (const auto& c : Checkpoints()) {
      v.push_back("checkpoint " + c.control_host + " " + c.id + " " + c.name +
                  " baseline=" + c.baseline_id);
    }
    for (const auto& e : Exports()) v.push_back(Describe(e));
    return v;
  }
  static std::string Describe(const zkfiler::ExportView& e) {
    auto fnJoin = [](std::vector<std::string> vHosts) {
      std::sort(vHosts.begin(), vHosts.end());
      std::string s;
      for (const std::string& h : vHosts) s += h + ",";
      return s;
    };
    return "export " + e.control_host + " " + e.path + " mover=" + e.mover_id +
           " access=" + fnJoin(e.access_hosts) + " rw=" + fnJoin(e.rw_hosts) +
           " root=" + fnJoin(e.root_hosts);
  }
  // The export at sPath, described; empty when there is none.
  std::string ExportAt(const std::string& sPath) {
    for (const auto& e : Exports()) {
      if (e.path == sPath) return Describe(e);
    }
    return "";
  }
  void ResetJournal() { ASSERT_TRUE(zkfiler::ResetJournal().ok()); }
  zkref::MemSnapInfo* NfsRecord(const std::string& sGroup = "home") {
    return NewRecord(NfsExportDevice("/fs1", kNas1, false), sGroup);
  }
  zkref::MemSnapInfo* VMwareRecord(const std::string& sGroup = "home") {
    return VMware(NewRecord(NfsExportDevice("/fs1", kNas1, true), sGroup));
  }
  // Takes everything down (every record unmapped, then deleted) and checks
  // the file server holds what it held.
  void TearDownTo(const std::vector<std::string>& vBefore,
                  const std::vector<zkref::MemSnapInfo*>& v) {
    std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(v);
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vUnmap)) << m_oSink.Dump();
    for (const zkref::MemSnapInfo* pRecord : vUnmap) {
      EXPECT_EQ(ZKSO::UNMAP_SUCCESS, pRecord->nStatus);
    }
    std::vector<zkref::MemSnapInfo*> vDelete = CarryAll(vUnmap);
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(vDelete)) << m_oSink.Dump();
    EXPECT_EQ(vBefore, State());
  }
};

// An NFS record maps the snapshot; a VMware record of the same snapshot
// needs the one writable view exported to other hosts: refused, nothing
// changed. Once the first is unmapped, the second maps it to its own hosts.
TEST_F(SharedViewTest, AViewExportedToOtherHostsIsNotTakenOverInALaterCall) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), VMwareRecord()});
  ASSERT_EQ(ChkptId(*v[0]), ChkptId(*v[1]));
  const std::string sPath = "/" + v[0]->sSnapName + "_RW";

  std::vector<zkref::MemSnapInfo*> vN = CarryAll({v[0]});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vN)) << m_oSink.Dump();
  const std::string sNExport = ExportAt(sPath);
  ASSERT_TRUE(Holds(sNExport, "access=10.11.30.5,")) << sNExport;
  const std::vector<std::string> vMapped = State();

  ResetJournal();
  std::vector<zkref::MemSnapInfo*> vV = CarryAll({v[1]});
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(vV));
  EXPECT_EQ(ZKSO::MAP_FAILED, vV[0]->nStatus);
  EXPECT_EQ(JPR_MAP_FAILED, vV[0]->nJPRId);
  const std::string& sReason = vV[0]->sJPRText;
  EXPECT_TRUE(Holds(sReason, v[0]->sSnapName + "_RW")) << sReason;
  EXPECT_TRUE(Holds(sReason, "access [10.11.30.5]")) << sReason;
  EXPECT_TRUE(Holds(sReason, "10.11.20.9, 10.11.20.1, 10.11.20.2")) << sReason;
  EXPECT_TRUE(Holds(sReason, "one writable view (RW checkpoint) per snapshot"))
      << sReason;
  EXPECT_EQ(1u, JobLines(*vV[0], 2, "Error: Failed to expose RW chkpt!"));
  // Nothing changed: the first record's export keeps its hosts.
  EXPECT_EQ(vMapped, State());
  const std::map<std::string, int> mCounts = CommandCounts();
  for (const char* pszCommand :
       {"CreateNFSShare", "DeleteNFSShare", "DeleteChkPt"}) {
    EXPECT_EQ(0u, mCounts.count(pszCommand)) << pszCommand;
  }
  EXPECT_EQ(0u, vV[0]->mMetaData.count(SM_MDT_SNAP_MOUNT));
  EXPECT_EQ("", vV[0]->sSnapDevice);

  // After the first is unmapped, the second maps the snapshot to the ESX
  // host and its VMkernel addresses only.
  vN = CarryAll(vN);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vN)) << m_oSink.Dump();
  vV = CarryAll(vV);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vV)) << m_oSink.Dump();
  EXPECT_TRUE(
      Holds(ExportAt(sPath), "access=10.11.20.1,10.11.20.2,10.11.20.9, "))
      << ExportAt(sPath);
  TearDownTo(vBefore, {vN[0], vV[0]});
}

TEST_F(SharedViewTest, RecordsOfOneCallNeedingOtherHostsDoNotShareAUnion) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), VMwareRecord()});
  const std::string sPath = "/" + v[0]->sSnapName + "_RW";
  ResetJournal();

  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Map(v));
  EXPECT_EQ(ZKSO::MAP_SUCCESS, v[0]->nStatus);
  EXPECT_EQ(ZKSO::MAP_FAILED, v[1]->nStatus);
  EXPECT_TRUE(Holds(v[1]->sJPRText, "is in the way")) << v[1]->sJPRText;
  EXPECT_EQ(1u, JobLines(*v[1], 1, "made for another device of this request"));
  EXPECT_TRUE(Holds(ExportAt(sPath), "access=10.11.30.5, ")) << ExportAt(sPath);
  EXPECT_EQ(1, CommandCounts()["CreateNFSShare"]);
  EXPECT_EQ(0u, v[1]->mMetaData.count(SM_MDT_SNAP_MOUNT));
  // Unmapping both removes the view once; the second held none of it.
  TearDownTo(vBefore, v);
}

// Records mapped to the same hosts still share the one view, in one call
// and across calls, with no command for the one that joins.
TEST_F(SharedViewTest, RecordsMappedAlikeShareTheViewAcrossCalls) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  std::vector<zkref::MemSnapInfo*> vA = CarryAll({v[0]});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vA)) << m_oSink.Dump();
  const std::vector<std::string> vMapped = State();
  ResetJournal();
  std::vector<zkref::MemSnapInfo*> vB = CarryAll({v[1]});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Map(vB)) << m_oSink.Dump();
  EXPECT_EQ(vMapped, State());
  EXPECT_EQ(0, CommandCounts()["CreateNFSShare"]);
  EXPECT_EQ(vA[0]->mMetaData.at(SM_MDT_SNAP_MOUNT),
            vB[0]->mMetaData.at(SM_MDT_SNAP_MOUNT));
  EXPECT_EQ(1u, JobLines(*vB[0], 1, "already exports it to these hosts"));
  TearDownTo(vBefore, {vA[0], vB[0]});
}

// Records of one snapshot whose exports would sit on two data movers (the
// second cannot learn the mover hosting its VDM, and so names the VDM): the
// second is refused, and the view stays as the first made it.
TEST_F(SharedViewTest, AViewIsNotSharedAcrossDataMovers) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped(
      {WithMountSource(NewRecord(NasDevice("/fs3/ds2", kNas1Vdm, false), "vdm"),
                       2),
       WithMountSource(NewRecord(NasDevice("/fs3/ds2", kNas1Vdm, false), "vdm"),
                       2)});
  ArmFault("GetMoverForVdm", zkfiler::FaultMode::kNth, 2);
  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Map(v));
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  EXPECT_EQ(ZKSO::MAP_SUCCESS, v[0]->nStatus);
  EXPECT_EQ(ZKSO::MAP_FAILED, v[1]->nStatus);
  EXPECT_TRUE(Holds(v[1]->sJPRText, "on data mover [2]")) << v[1]->sJPRText;
  EXPECT_TRUE(Holds(v[1]->sJPRText, "on data mover [3]")) << v[1]->sJPRText;
  EXPECT_EQ(1, CommandCounts()["CreateNFSShare"]);
  EXPECT_TRUE(Holds(ExportAt("/" + v[0]->sSnapName + "_RW"), "mover=2 "));
  TearDownTo(vBefore, v);
}

// Two file systems whose groups ask for one checkpoint name: the second
// never ends holding the first one's checkpoint, whether the client says
// which file system a checkpoint belongs to or not.
TEST_F(SharedViewTest, ASnapNeverAdoptsAnotherFileSystemsCheckpoint) {
  for (bool bClientSaysFs : {true, false}) {
    SCOPED_TRACE(bClientSaysFs ? "client names the file system"
                               : "client leaves it empty");
    InstallFileServers();
    SetNow(m_nNow + 100);
    std::vector<zkref::MemSnapInfo*> v = {
        NewRecord(NfsExportDevice("/fs1", kNas1, false), "night"),
        NewRecord(NasDevice("/fs2/ds1", kNas1, false), "night")};
    ASSERT_EQ(ZKSO::RESULT_SUCCESS, Prepare(v)) << m_oSink.Dump();
    v = CarryAll(v);
    ASSERT_EQ(v[0]->sSnapName, v[1]->sSnapName);

    // Only the snap sees the switch: no assertion can leave it on.
    zkfiler::SetChkptListsWithoutFs(!bClientSaysFs);
    const ZKSO::ResultCode eSnap = Snap(v);
    zkfiler::SetChkptListsWithoutFs(false);
    EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, eSnap);
    EXPECT_EQ(ZKSO::SNAP_SUCCESS, v[0]->nStatus);
    EXPECT_NE(ZKSO::SNAP_SUCCESS, v[1]->nStatus);
    EXPECT_EQ(0u, v[1]->mMetaData.count(SM_MDT_SNAP_UUID));
    EXPECT_EQ(JPR_SNAP_FAILED, v[1]->nJPRId);
    if (bClientSaysFs) {
      EXPECT_TRUE(Holds(v[1]->sJPRText, "is in use on control host"))
          << v[1]->sJPRText;
      EXPECT_TRUE(Holds(v[1]->sJPRText, "of file system [101]"))
          << v[1]->sJPRText;
    } else {
      // The file server's own refusal.
      EXPECT_TRUE(Holds(v[1]->sJPRText, "Component:")) << v[1]->sJPRText;
    }
    EXPECT_EQ(1u, Checkpoints(kCs1).size());
  }
}

// A query that fails after a refusal proves nothing: the operation fails
// with the refusal, and nothing is made on its strength.
TEST_F(SharedViewTest, AFailingQueryIsNeverTakenAsProof) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  std::vector<zkref::MemSnapInfo*> vA = CarryAll({v[0]});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vA)) << m_oSink.Dump();
  const std::vector<std::string> vMapped = State();

  // A sibling's map takes over the view, and the export lookup fails.
  ArmFault("GetNFSInfo", zkfiler::FaultMode::kAlways);
  ResetJournal();
  std::vector<zkref::MemSnapInfo*> vB = CarryAll({v[1]});
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(vB));
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  EXPECT_EQ(0, CommandCounts()["CreateNFSShare"]);
  EXPECT_EQ(vMapped, State());
  EXPECT_EQ(0u, vB[0]->mMetaData.count(SM_MDT_SNAP_MOUNT));
  EXPECT_TRUE(Holds(vB[0]->sJPRText, "GetNFSInfo")) << vB[0]->sJPRText;

  // The unmap's export removal is refused, and so is the lookup after it.
  ArmFault("DeleteNFSShare", zkfiler::FaultMode::kAlways, 1, "", "4242");
  ArmFault("GetNFSInfo", zkfiler::FaultMode::kAlways);
  vA = CarryAll(vA);
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Unmap(vA));
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  EXPECT_EQ(ZKSO::UNMAP_FAILED, vA[0]->nStatus);
  EXPECT_TRUE(Holds(vA[0]->sJPRText, "MessageCode:4242")) << vA[0]->sJPRText;
  EXPECT_EQ(0u, JobLines(*vA[0], 1, "is no longer on the file server"));
  EXPECT_EQ(vMapped, State());
  EXPECT_EQ(1u, vA[0]->mMetaData.count(SM_MDT_SNAP_MOUNT));

  // Without the faults both records converge.
  vB = CarryAll(vB);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vB)) << m_oSink.Dump();
  TearDownTo(vBefore, {vA[0], vB[0]});
}

// A map repeated on a record already mapped takes over its own view; when
// it then fails, the record is put back as it was, and unmap still finds
// the view.
TEST_F(SharedViewTest, AFailedRepeatedMapLeavesTheRecordAsItWas) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord()});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
  v = CarryAll(v);
  const std::string sMount = v[0]->mMetaData.at(SM_MDT_SNAP_MOUNT);
  const std::string sClone = v[0]->sSnapDevice;
  const std::vector<std::string> vMapped = State();

  ArmFault("Celerra_GetSnapDeviceNameWithManageCelerra",
           zkfiler::FaultMode::kAlways);
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(v));
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  EXPECT_EQ(ZKSO::MAP_FAILED, v[0]->nStatus);
  EXPECT_EQ(sMount, v[0]->mMetaData.at(SM_MDT_SNAP_MOUNT));
  EXPECT_EQ(sClone, v[0]->sSnapDevice);
  EXPECT_EQ(vMapped, State());
  TearDownTo(vBefore, v);
}

// prepare(a,b); snap; map(a,b); unmap(b); map(b); unmap(a,b): a's view was
// removed with b's unmap and b made a new one; a is unmapped without
// touching b's, and b's goes with b.
TEST_F(SharedViewTest, ARecordWhoseViewWasReplacedUnmapsWithoutTouchingTheNew) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
  v = CarryAll(v);
  std::vector<zkref::MemSnapInfo*> vB = {v[1]};
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vB)) << m_oSink.Dump();
  vB = CarryAll(vB);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vB)) << m_oSink.Dump();
  vB = CarryAll(vB);
  ASSERT_NE(v[0]->mMetaData.at(SM_MDT_SNAP_MOUNT),
            vB[0]->mMetaData.at(SM_MDT_SNAP_MOUNT));

  // a alone first: b's view stays.
  const std::vector<std::string> vMapped = State();
  std::vector<zkref::MemSnapInfo*> vA = {v[0]};
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vA)) << m_oSink.Dump();
  EXPECT_EQ(vMapped, State());
  EXPECT_EQ(1u, JobLines(*vA[0], 1, "made since"));
  // Then both in one call.
  TearDownTo(vBefore, {vA[0], vB[0]});
}

// A map killed right after CreateRWChkPt: the host stored nothing. An
// unmap removes that writable checkpoint, which nothing can be using; one
// with an export is left to the records that may use it.
TEST_F(SharedViewTest, AWritableCheckpointLeftUnexportedIsRemovedByUnmap) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  std::vector<zkref::MemSnapInfo*> vKilled = CarryAll({v[0]});
  zkfiler::FaultRule oRule;
  oRule.command = zkfiler::kAnyCommand;
  oRule.mode = zkfiler::FaultMode::kFrom;
  oRule.n = 2;  // every command after CreateRWChkPt
  ASSERT_TRUE(zkfiler::ArmFault(oRule).ok());
  Map(vKilled);
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  const std::string sRW = v[0]->sSnapName + "_RW";
  const auto vLeft = Checkpoints(kCs1);
  ASSERT_TRUE(std::any_of(
      vLeft.begin(), vLeft.end(),
      [&](const zkfiler::CheckpointView& c) { return c.name == sRW; }));
  ASSERT_EQ("", ExportAt("/" + sRW));

  // The other record maps: the view has no export yet, so it exports it.
  std::vector<zkref::MemSnapInfo*> vB = CarryAll({v[1]});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vB)) << m_oSink.Dump();
  // Now exported: an unmap of the killed record's copy leaves it alone.
  const std::vector<std::string> vMapped = State();
  std::vector<zkref::MemSnapInfo*> vA = CarryAll({v[0]});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vA)) << m_oSink.Dump();
  EXPECT_EQ(vMapped, State());
  EXPECT_EQ(1u, JobLines(*vA[0], 1, "which another device may use"));
  vB = CarryAll(vB);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vB)) << m_oSink.Dump();

  // Killed again, and nobody exports it: the unmap removes it.
  vKilled = CarryAll({v[0]});
  ASSERT_TRUE(zkfiler::ArmFault(oRule).ok());
  Map(vKilled);
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  vA = CarryAll({v[0]});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vA)) << m_oSink.Dump();
  EXPECT_EQ(1u, JobLines(*vA[0], 1, "which a map left without an NFS share"));
  std::vector<zkref::MemSnapInfo*> vDelete = CarryAll({vA[0], vB[0]});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(vDelete)) << m_oSink.Dump();
  EXPECT_EQ(vBefore, State());
}

// Host lists are read once per record and as the export reads them: an
// entry of blanks names no host.
TEST_F(SharedViewTest, BlankHostEntriesNameNoHost) {
  m_oOSUtil.SetConfig("sCelerraCommaSeparatedAccessHosts", " , ");
  m_oOSUtil.SetConfig("sCelerraCommaSeparatedRWHosts", " , ");
  {
    zktest::FixHostName("nowhere.zk.test");  // does not resolve
    std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord()});
    const std::vector<std::string> vSnapped = State();
    ResetJournal();
    EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(v));
    EXPECT_TRUE(CommandCounts().empty());
    EXPECT_EQ(vSnapped, State());
    EXPECT_TRUE(Holds(v[0]->sJPRText, "No host to give access"));
    zktest::FixHostName(kClientHost);
  }
  InstallFileServers();
  SetNow(m_nNow + 100);
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord()});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
  EXPECT_TRUE(Holds(ExportAt("/" + v[0]->sSnapName + "_RW"),
                    "access=10.11.30.5, rw=10.11.30.5, root=10.11.30.5,"));
  TearDownTo(vBefore, v);
}

// A VMware record without an ESX host: the user sees the map's own
// expose error as well as the reason.
TEST_F(SharedViewTest, VMwareRecordWithoutEsxHostSaysTheExposeFailed) {
  std::vector<zkref::MemSnapInfo*> v =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1, true), "home")});
  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(v));
  EXPECT_TRUE(CommandCounts().empty());
  EXPECT_EQ(1u, JobLines(*v[0], 2, "Host Identifier is empty for VMWare"));
  EXPECT_EQ(1u, JobLines(*v[0], 2, "Error: Failed to expose RW chkpt!"));
}

// Records of one snapshot restore their file system once per call.
TEST_F(SharedViewTest, RevertOfRecordsSharingACheckpointRestoresOnce) {
  std::vector<zkref::MemSnapInfo*> v =
      Snapped({NfsRecord(), NfsRecord(), NfsRecord()});
  ResetJournal();
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Revert(v)) << m_oSink.Dump();
  EXPECT_EQ(1, CommandCounts()["RestorePFSFromChkPt"]);
  for (const zkref::MemSnapInfo* pRecord : v) {
    EXPECT_EQ(ZKSO::REVERT_SUCCESS, pRecord->nStatus);
  }
  EXPECT_EQ(1u, JobLines(*v[2], 1, "for another device of this request"));
}

// A NAS record unmaps through the export path its map used, whatever the
// host's mount request source says at unmap time, wherever the clone
// settles it: there is a part below the mount point (then the clone's
// identifier differs from its export path exactly when the map used the
// mover's mount path), or the two paths are one. Only a VDM's file system
// named at its mount point as the VDM sees it (/fs3) leaves the clone
// silent: the host's mount request source at unmap time then decides.
TEST_F(SharedViewTest, NasUnmapLooksUpTheExportAsItsMapDid) {
  const struct {
    const char* pszPath;
    const char* pszFiler;
    int nMapSource;
    int nUnmapSource;
    bool bSettled;
  } aCases[] = {
      {"/fs2/ds1", kNas1, 2, 1, true},
      {"/fs2/ds1", kNas1, 1, 2, true},
      {"/fs2", kNas1, 2, 1, true},
      {"/fs2", kNas1, 1, 2, true},
      {"/fs3/ds2", kNas1Vdm, 2, 1, true},
      {"/fs3/ds2", kNas1Vdm, 1, 2, true},
      {"/root_vdm_3/fs3/ds2", kNas1Vdm, 2, 1, true},
      {"/root_vdm_3/fs3/ds2", kNas1Vdm, 1, 2, true},
      {"/fs3", kNas1Vdm, 2, 1, false},
      {"/fs3", kNas1Vdm, 1, 2, false},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(std::string(oCase.pszPath) + " map source " +
                 std::to_string(oCase.nMapSource) + " unmap source " +
                 std::to_string(oCase.nUnmapSource));
    InstallFileServers();
    SetNow(m_nNow + 100);
    const std::vector<std::string> vBefore = State();
    std::vector<zkref::MemSnapInfo*> v = Snapped({WithMountSource(
        NewRecord(NasDevice(oCase.pszPath, oCase.pszFiler, false), "home"),
        oCase.nMapSource)});
    ResetJournal();
    ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
    const std::vector<zkfiler::JournalEntry> vMapLookup =
        JournalOf("Celerra_GetSnapDeviceNameWithManageCelerra");
    ASSERT_EQ(1u, vMapLookup.size());
    v = CarryAll(v);
    WithMountSource(v[0], oCase.nUnmapSource);
    ResetJournal();
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(v)) << m_oSink.Dump();
    const std::vector<zkfiler::JournalEntry> vUnmapLookup =
        JournalOf("Celerra_GetSnapDeviceNameWithManageCelerra");
    ASSERT_EQ(1u, vUnmapLookup.size());
    if (oCase.bSettled) {
      EXPECT_EQ(vMapLookup[0].args, vUnmapLookup[0].args);
    } else {
      const std::string sSource =
          oCase.nUnmapSource == 2 ? "source=/fs3 " : "source=/root_vdm_3/fs3 ";
      EXPECT_EQ(0u, vUnmapLookup[0].args.find(sSource)) << vUnmapLookup[0].args;
    }
    v = CarryAll(v);
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(v));
    EXPECT_EQ(vBefore, State());
  }
}

}  // namespace
}  // namespace zke2e
