// SPDX-License-Identifier: Apache-2.0
// What a map, unmap, snap or revert may take as "already there" or "already
// gone", tried where a shortcut would harm: only what the record provably
// made (its intent, SM_MDT_CELERRA_INTENT, or its mount metadata names it,
// or this call's reply was lost) is taken. Records of one snapshot mapped to
// different hosts (NFS and VMware) or in two calls, a snapshot name two
// file systems or two calls ask for, a lost reply whose query failed too,
// queries that fail after a refusal, a record whose writable view was
// replaced, an export at a clone path that is another view's, a map killed
// after it made its writable checkpoint, a snapshot that is itself
// writable.
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
  // the file server holds what it held, and no record an intent.
  void TearDownTo(const std::vector<std::string>& vBefore,
                  const std::vector<zkref::MemSnapInfo*>& v) {
    std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(v);
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vUnmap)) << m_oSink.Dump();
    for (const zkref::MemSnapInfo* pRecord : vUnmap) {
      EXPECT_EQ(ZKSO::UNMAP_SUCCESS, pRecord->nStatus);
      EXPECT_EQ(0u, pRecord->mMetaData.count(SM_MDT_CELERRA_INTENT));
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

// map a; map b; unmap a: the view b finds is exported exactly as b would
// export it, but it is a's and in use. b is refused and nothing changes;
// a's unmap then takes down only what a holds, and b maps the snapshot on
// its own.
TEST_F(SharedViewTest, ALaterCallIsRefusedALiveViewExportedAlike) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  const std::string sRW = v[0]->sSnapName + "_RW";
  std::vector<zkref::MemSnapInfo*> vA = CarryAll({v[0]});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vA)) << m_oSink.Dump();
  const std::vector<std::string> vMapped = State();
  for (int nCall = 0; nCall < 2; ++nCall) {
    SCOPED_TRACE("map b, call " + std::to_string(nCall + 1));
    ResetJournal();
    std::vector<zkref::MemSnapInfo*> vB = CarryAll({v[1]});
    EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(vB));
    EXPECT_EQ(ZKSO::MAP_FAILED, vB[0]->nStatus);
    EXPECT_EQ(vMapped, State());
    const std::map<std::string, int> mCounts = CommandCounts();
    for (const char* pszCommand :
         {"CreateNFSShare", "DeleteNFSShare", "DeleteChkPt"}) {
      EXPECT_EQ(0u, mCounts.count(pszCommand)) << pszCommand;
    }
    EXPECT_EQ(0u, vB[0]->mMetaData.count(SM_MDT_SNAP_MOUNT));
    EXPECT_EQ(0u, vB[0]->mMetaData.count(SM_MDT_CELERRA_INTENT));
    EXPECT_EQ("", vB[0]->sSnapDevice);
    const std::string& sReason = vB[0]->sJPRText;
    EXPECT_EQ(JPR_MAP_FAILED, vB[0]->nJPRId);
    for (const std::string& sPart :
         {"RW chkpt [" + sRW + "]", "NFS share [/" + sRW + "]",
          std::string("access [10.11.30.5]"),
          std::string("unmap the device that holds it"),
          std::string("map the devices of the snapshot in one call")}) {
      EXPECT_TRUE(Holds(sReason, sPart)) << sPart << "\n" << sReason;
    }
    v[1] = vB[0];
  }
  // a's view survived b: a unmaps it, and then b maps on its own.
  vA = CarryAll(vA);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vA)) << m_oSink.Dump();
  EXPECT_EQ("", ExportAt("/" + sRW));
  std::vector<zkref::MemSnapInfo*> vB = CarryAll({v[1]});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vB)) << m_oSink.Dump();
  EXPECT_TRUE(Holds(ExportAt("/" + sRW), "access=10.11.30.5,"));
  TearDownTo(vBefore, {vA[0], vB[0]});
}

// Records of one call still share the view the call made for the first.
TEST_F(SharedViewTest, RecordsOfOneCallShareOneView) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  ResetJournal();
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
  EXPECT_EQ(1, CommandCounts()["CreateRWChkPt"]);
  EXPECT_EQ(1, CommandCounts()["CreateNFSShare"]);
  EXPECT_EQ(v[0]->mMetaData.at(SM_MDT_SNAP_MOUNT),
            v[1]->mMetaData.at(SM_MDT_SNAP_MOUNT));
  EXPECT_EQ(1u, JobLines(*v[1], 1, "made for another device of this request"));
  TearDownTo(vBefore, v);
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
    // The file server's own refusal: the name was in use before this
    // create, so nothing is looked for.
    EXPECT_TRUE(Holds(v[1]->sJPRText, "already in use")) << v[1]->sJPRText;
    EXPECT_EQ(1u, Checkpoints(kCs1).size());
  }
}

// Two calls (two hosts, say) snap records whose checkpoint names agree: the
// second create is refused "in use" and the second record never holds the
// first one's checkpoint, which the first's delete then removes alone.
TEST_F(SharedViewTest, ASnapNeverAdoptsACheckpointAnotherCallMade) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = {NfsRecord("night"), NfsRecord("night")};
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Prepare(v)) << m_oSink.Dump();
  v = CarryAll(v);
  ASSERT_EQ(v[0]->sSnapName, v[1]->sSnapName);
  std::vector<zkref::MemSnapInfo*> vFirst = {v[0]};
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Snap(vFirst)) << m_oSink.Dump();
  const std::vector<std::string> vSnapped = State();
  ResetJournal();
  std::vector<zkref::MemSnapInfo*> vSecond = {v[1]};
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Snap(vSecond));
  EXPECT_NE(ZKSO::SNAP_SUCCESS, vSecond[0]->nStatus);
  EXPECT_EQ(0u, vSecond[0]->mMetaData.count(SM_MDT_SNAP_UUID));
  EXPECT_EQ(0u, vSecond[0]->mMetaData.count(SM_MDT_CELERRA_INTENT));
  EXPECT_EQ(JPR_SNAP_FAILED, vSecond[0]->nJPRId);
  EXPECT_TRUE(Holds(vSecond[0]->sJPRText, "already in use"))
      << vSecond[0]->sJPRText;
  EXPECT_EQ(0, CommandCounts()["GetChkPointsInfo"]);
  EXPECT_EQ(vSnapped, State());
  vFirst = CarryAll(vFirst);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(vFirst)) << m_oSink.Dump();
  EXPECT_EQ(vBefore, State());
}

// A create whose reply is lost, and whose follow-up query fails too: the
// call fails, and only the record's intent tells a later call what it
// made. Repeated, the operation takes exactly that and nothing more;
// taken down instead (unmap, then delete), everything a map made goes. A
// NAS record without a clone device unmaps its export too.
TEST_F(SharedViewTest, ALostReplyWhoseQueryFailedConvergesThroughTheIntent) {
  const struct {
    const char* pszCommand;
    const char* pszQuery;
    bool bNas;
    bool bRepeat;
  } aCases[] = {
      {"CreateROChkPt", "GetChkPointsInfo", false, true},
      {"CreateRWChkPt", "GetChkPointsInfo", false, true},
      {"CreateRWChkPt", "GetChkPointsInfo", true, false},
      {"CreateNFSShare", "GetNFSInfo", false, true},
      {"CreateNFSShare", "GetNFSInfo", false, false},
      {"CreateNFSShare", "GetNFSInfo", true, true},
      {"CreateNFSShare", "GetNFSInfo", true, false},
  };
  for (const auto& oCase : aCases) {
    const bool bSnap = std::string(oCase.pszCommand) == "CreateROChkPt";
    SCOPED_TRACE(std::string(oCase.pszCommand) + (oCase.bNas ? " NAS" : "") +
                 (oCase.bRepeat ? " repeated" : " taken down"));
    InstallFileServers();
    SetNow(m_nNow + 100);
    const std::vector<std::string> vBefore = State();
    zkref::MemSnapInfo* pRecord =
        oCase.bNas
            ? WithMountSource(
                  NewRecord(NasDevice("/fs2/ds1", kNas1, false), "home"), 1)
            : NfsRecord();
    std::vector<zkref::MemSnapInfo*> v = {pRecord};
    if (bSnap) {
      ASSERT_EQ(ZKSO::RESULT_SUCCESS, Prepare(v)) << m_oSink.Dump();
      v = CarryAll(v);
    } else {
      v = Snapped(v);
    }
    zkfiler::FaultRule oLost;
    oLost.command = oCase.pszCommand;
    oLost.mode = zkfiler::FaultMode::kNth;
    oLost.lost_reply = true;
    ASSERT_TRUE(zkfiler::ArmFault(oLost).ok());
    ArmFault(oCase.pszQuery, zkfiler::FaultMode::kAlways);
    EXPECT_EQ(ZKSO::RESULT_FAILURE, bSnap ? Snap(v) : Map(v));
    ASSERT_TRUE(zkfiler::ClearFaults().ok());
    ASSERT_EQ(1u, v[0]->mMetaData.count(SM_MDT_CELERRA_INTENT));
    const std::string sIntent = v[0]->mMetaData.at(SM_MDT_CELERRA_INTENT);
    EXPECT_EQ(0u, sIntent.find("zkintent 1\n")) << sIntent;
    const std::vector<std::string> vLeft = State();
    v = CarryAll(v);
    if (oCase.bRepeat) {
      ResetJournal();
      ASSERT_EQ(ZKSO::RESULT_SUCCESS, bSnap ? Snap(v) : Map(v))
          << m_oSink.Dump();
      // What the lost reply made is taken: nothing is made twice.
      auto fnCheckpoints = [](std::vector<std::string> vState) {
        vState.erase(std::remove_if(vState.begin(), vState.end(),
                                    [](const std::string& sLine) {
                                      return sLine.rfind("checkpoint", 0) != 0;
                                    }),
                     vState.end());
        return vState;
      };
      EXPECT_EQ(fnCheckpoints(vLeft), fnCheckpoints(State()));
      EXPECT_EQ(0u, v[0]->mMetaData.count(SM_MDT_CELERRA_INTENT));
      EXPECT_GE(JobLines(*v[0], 1, "already"), 1u);
      if (bSnap) {
        v = CarryAll(v);
        ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
      }
    }
    TearDownTo(vBefore, v);
  }
}

// An intent that cannot be read is no intent: the operation goes on as
// for a record without one, saying so in the job log.
TEST_F(SharedViewTest, AnUnreadableIntentIsNoIntent) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord()});
  v[0]->mMetaData[SM_MDT_CELERRA_INTENT] =
      std::string("zkintent 1\nrw a%zz\x01\xff|\n", 22);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
  EXPECT_EQ(1u, JobLines(*v[0], 1,
                         "SM_MDT_CELERRA_INTENT of 22 bytes cannot "
                         "be read"));
  EXPECT_EQ(0u, v[0]->mMetaData.count(SM_MDT_CELERRA_INTENT));
  TearDownTo(vBefore, v);
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

  // The unmap's export removal is refused, and so is the lookup after it
  // (the one before it, which finds the export of a's own writable
  // checkpoint, answers).
  ArmFault("DeleteNFSShare", zkfiler::FaultMode::kAlways, 1, "", "4242");
  ArmFault("GetNFSInfo", zkfiler::FaultMode::kFrom, 2);
  vA = CarryAll(vA);
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Unmap(vA));
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  EXPECT_EQ(ZKSO::UNMAP_FAILED, vA[0]->nStatus);
  EXPECT_TRUE(Holds(vA[0]->sJPRText, "MessageCode:4242")) << vA[0]->sJPRText;
  EXPECT_EQ(0u, JobLines(*vA[0], 1, "is no longer on the file server"));
  EXPECT_EQ(vMapped, State());
  EXPECT_EQ(1u, vA[0]->mMetaData.count(SM_MDT_SNAP_MOUNT));

  // Without the faults a unmaps, and then b maps.
  vA = CarryAll(vA);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vA)) << m_oSink.Dump();
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

// The same, with a client that finds a writable checkpoint's export path
// from its name alone (a stale id is not refused): a's unmap then finds
// b's new export at a's clone path. It is of another writable checkpoint:
// a's unmap leaves it and counts a's view as gone.
TEST_F(SharedViewTest, AnUnmapRemovesOnlyTheExportOfItsOwnWritableCheckpoint) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
  v = CarryAll(v);
  std::vector<zkref::MemSnapInfo*> vB = {v[1]};
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vB)) << m_oSink.Dump();
  vB = CarryAll(vB);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vB)) << m_oSink.Dump();
  vB = CarryAll(vB);
  const std::vector<std::string> vMapped = State();
  std::vector<zkref::MemSnapInfo*> vA = {v[0]};
  zkfiler::SetSnapDeviceNamesByNameOnly(true);
  const ZKSO::ResultCode eUnmap = Unmap(vA);
  zkfiler::SetSnapDeviceNamesByNameOnly(false);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, eUnmap) << m_oSink.Dump();
  EXPECT_EQ(vMapped, State());
  EXPECT_EQ(1u, JobLines(*vA[0], 1, "belongs to a newer view"));
  TearDownTo(vBefore, {vA[0], vB[0]});
}

// An unmap that removed the export and then cannot delete the writable
// checkpoint puts back exactly the export it removed: its data mover and
// hosts, not those the configuration gives now.
TEST_F(SharedViewTest, AnExportPutBackIsTheOneRemoved) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord()});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(v)) << m_oSink.Dump();
  v = CarryAll(v);
  const std::vector<std::string> vMapped = State();
  m_oOSUtil.SetConfig("sCelerraCommaSeparatedAccessHosts", "10.99.0.1");
  m_oOSUtil.SetConfig("sCelerraCommaSeparatedRootHosts", "10.99.0.2");
  ArmFault("DeleteChkPt", zkfiler::FaultMode::kAlways);
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Unmap(v));
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  EXPECT_EQ(ZKSO::UNMAP_FAILED, v[0]->nStatus);
  EXPECT_EQ(1u, JobLines(*v[0], 2, "Restored NFS share"));
  EXPECT_EQ(vMapped, State());
  m_oOSUtil.SetConfig("sCelerraCommaSeparatedAccessHosts", "");
  m_oOSUtil.SetConfig("sCelerraCommaSeparatedRootHosts", "");
  TearDownTo(vBefore, v);
}

// A writable checkpoint with no export that nothing a record stored names
// may be a sibling's map between making and exporting it: a map of another
// record is refused and an unmap of a record without mount metadata leaves
// it, both sending nothing that changes the file server. Only the record
// whose intent names it (its create's reply was lost and the listing
// failed) removes it; what a killed host left is an orphan, removed the
// way 'zksnap orphans --remove' does, with a transient record naming it.
TEST_F(SharedViewTest, AnUnexportedWritableCheckpointGoesOnlyWithItsOwnRecord) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  const std::string sRW = v[0]->sSnapName + "_RW";
  auto fnRWId = [&]() {
    for (const auto& c : Checkpoints(kCs1)) {
      if (c.name == sRW) return c.id;
    }
    return std::string();
  };
  // a's CreateRWChkPt takes effect, its reply and the listing are lost.
  zkfiler::FaultRule oLost;
  oLost.command = "CreateRWChkPt";
  oLost.mode = zkfiler::FaultMode::kNth;
  oLost.lost_reply = true;
  ASSERT_TRUE(zkfiler::ArmFault(oLost).ok());
  ArmFault("GetChkPointsInfo", zkfiler::FaultMode::kAlways);
  std::vector<zkref::MemSnapInfo*> vA = CarryAll({v[0]});
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(vA));
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  ASSERT_NE("", fnRWId());
  ASSERT_EQ("", ExportAt("/" + sRW));
  const std::vector<std::string> vLeft = State();

  // b's map is refused, naming it; b's unmap leaves it.
  ResetJournal();
  std::vector<zkref::MemSnapInfo*> vB = CarryAll({v[1]});
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(vB));
  EXPECT_TRUE(Holds(vB[0]->sJPRText, "RW chkpt [" + sRW + "]"))
      << vB[0]->sJPRText;
  EXPECT_TRUE(Holds(vB[0]->sJPRText, "it has no NFS share")) << vB[0]->sJPRText;
  vB = CarryAll(vB);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vB)) << m_oSink.Dump();
  EXPECT_EQ(vLeft, State());
  for (const char* pszCommand : {"CreateNFSShare", "DeleteChkPt"}) {
    EXPECT_EQ(0, CommandCounts()[pszCommand]) << pszCommand;
  }

  // a's unmap removes it: a's intent names it.
  vA = CarryAll(vA);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vA)) << m_oSink.Dump();
  EXPECT_EQ(1u, JobLines(*vA[0], 1, "which a map left without an NFS share"));
  EXPECT_EQ("", fnRWId());
  EXPECT_EQ(0u, vA[0]->mMetaData.count(SM_MDT_CELERRA_INTENT));

  // A map killed after CreateRWChkPt: the host stored nothing, and a's
  // unmap sends nothing.
  zkfiler::FaultRule oKill;
  oKill.command = zkfiler::kAnyCommand;
  oKill.mode = zkfiler::FaultMode::kFrom;
  oKill.n = 2;
  ASSERT_TRUE(zkfiler::ArmFault(oKill).ok());
  std::vector<zkref::MemSnapInfo*> vKilled = CarryAll(vA);
  Map(vKilled);
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  const std::string sOrphanId = fnRWId();
  ASSERT_NE("", sOrphanId);
  ResetJournal();
  vA = CarryAll(vA);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vA)) << m_oSink.Dump();
  EXPECT_EQ(sOrphanId, fnRWId());
  EXPECT_EQ(0, CommandCounts()["DeleteChkPt"]);
  // The orphan goes with a transient record naming it.
  std::vector<zkref::MemSnapInfo*> vTransient = CarryAll({vA[0]});
  vTransient[0]->mMetaData[SM_MDT_SNAP_MOUNT] = sRW + "|" + sOrphanId;
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vTransient)) << m_oSink.Dump();
  EXPECT_EQ("", fnRWId());
  std::vector<zkref::MemSnapInfo*> vDelete = CarryAll({vA[0], vB[0]});
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Delete(vDelete)) << m_oSink.Dump();
  EXPECT_EQ(vBefore, State());
}

// A snapshot that is itself writable (it has a baseline) is exported as it
// is: a later call whose record did not export it never takes its export,
// and sends no CreateNFSShare for it.
TEST_F(SharedViewTest, AWritableSnapshotsExportIsNotTakenByALaterCall) {
  const std::vector<std::string> vBefore = State();
  std::vector<zkref::MemSnapInfo*> v = Snapped({NfsRecord(), NfsRecord()});
  // The snapshot becomes writable: name S, a writable checkpoint of the
  // read-only one, which becomes its baseline S_baseline.
  const std::string sBaselineName = v[0]->sSnapName;
  const std::string sBaselineId = ChkptId(*v[0]);
  const std::string sName = "w" + sBaselineName;
  ManageCelerra oClient(7);
  oClient.SetControlHostInfo(kCs1, "nasadmin", kPassword);
  std::string sWritableId;
  std::string sBaseline = sBaselineId;
  // NFS file system metadata: target|fs|type|extra|mover|path|
  std::vector<std::string> vFs;
  {
    std::string sFs = v[0]->mMetaData.at(SM_MDT_FS_INFO);
    for (size_t n = sFs.find('|'); n != std::string::npos; n = sFs.find('|')) {
      vFs.push_back(sFs.substr(0, n));
      sFs.erase(0, n + 1);
    }
  }
  ASSERT_EQ(6u, vFs.size());
  ASSERT_TRUE(oClient.CreateRWChkPt(
      vFs[1], static_cast<eCelerraStgType>(std::stoi(vFs[2])), vFs[3], sName,
      false, sBaseline, sWritableId))
      << oClient.GetLastError().sMessage;
  for (zkref::MemSnapInfo* p : v) {
    p->sSnapName = sName;
    p->mMetaData[SM_MDT_SNAP_UUID] =
        sName + "|" + sWritableId + "|" + sBaselineId;
  }
  std::vector<zkref::MemSnapInfo*> vA = CarryAll({v[0]});
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vA)) << m_oSink.Dump();
  const std::vector<std::string> vMapped = State();
  ResetJournal();
  std::vector<zkref::MemSnapInfo*> vB = CarryAll({v[1]});
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(vB));
  EXPECT_EQ(0, CommandCounts()["CreateNFSShare"]);
  EXPECT_EQ(vMapped, State());
  EXPECT_TRUE(Holds(vB[0]->sJPRText, "is in the way")) << vB[0]->sJPRText;
  // The record that exported it maps again and keeps its own export.
  vA = CarryAll(vA);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vA)) << m_oSink.Dump();
  EXPECT_EQ(vMapped, State());
  vA = CarryAll(vA);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vA)) << m_oSink.Dump();
  EXPECT_EQ("", ExportAt("/" + sName));
  // Unmapped, the snapshot is its read-only baseline again.
  EXPECT_FALSE(HasCheckpoint(kCs1, sWritableId));
  std::vector<zkref::MemSnapInfo*> vDelete = CarryAll({vA[0]});
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
