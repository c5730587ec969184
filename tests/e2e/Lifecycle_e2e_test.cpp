// SPDX-License-Identifier: Apache-2.0
// The whole life of snapshots through the loaded plug-in: prepare, snap,
// map, unmap, delete, revert and reconcile, each a separate call on fresh
// records that carry over only what a host stores, checked against the
// simulated file server's state and journal.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/LifecycleFixture.h"
#include "tests/testclock/ZkTestClock.h"
#include "utils/CelerraUtils.h"

namespace zke2e {
namespace {

bool HasJobLine(const zkref::MemSnapInfo& oRecord, int nLevel,
                const std::string& sTag, const std::string& sText) {
  for (const auto& oLine : oRecord.vJobLog) {
    if (oLine.nLevel == nLevel && oLine.sTag == sTag && oLine.sText == sText)
      return true;
  }
  return false;
}

bool HasJobLinePrefix(const zkref::MemSnapInfo& oRecord, int nLevel,
                      const std::string& sTag, const std::string& sPrefix) {
  for (const auto& oLine : oRecord.vJobLog) {
    if (oLine.nLevel == nLevel && oLine.sTag == sTag &&
        oLine.sText.compare(0, sPrefix.size(), sPrefix) == 0)
      return true;
  }
  return false;
}

_CelerraSnapDeviceIdentifier Clone(const zkref::MemSnapInfo& oRecord) {
  _CelerraSnapDeviceIdentifier oId;
  CelerraUtils::ParseDeviceIdentifier(oRecord.sSnapDevice, oId);
  return oId;
}

class LifecycleE2ETest : public LifecycleTest {
 protected:
  const zkfiler::ExportView* FindExport(const std::string& sHost,
                                        const std::string& sPath) {
    m_vExports = Exports(sHost);
    for (const auto& oExport : m_vExports) {
      if (oExport.path == sPath) return &oExport;
    }
    return nullptr;
  }
  std::vector<zkfiler::ExportView> m_vExports;
};

TEST_F(LifecycleE2ETest, PrepareSnapMapUnmapDelete) {
  const std::string T = std::to_string(m_nNow);
  std::vector<zkref::MemSnapInfo*> vRecords = Snapped({
      VMware(NewRecord(NfsExportDevice("/fs1", kNas1), "nfs")),
      WithMountSource(NewRecord(NasDevice("/fs2/dirA", kNas1, false), "nat"),
                      2),
      WithMountSource(VMware(NewRecord(
                          NasDevice("/root_vdm_3/fs3/ds", kNas1, true), "vdm")),
                      1),
      WithMountSource(
          VMware(NewRecord(NasDevice("/fs2/ds1", kNas2, true), "ds")), 5),
  });
  ASSERT_EQ(4u, Checkpoints().size());

  // Map: a writable checkpoint of each snapshot, exported.
  std::vector<zkref::MemSnapInfo*> vMap = CarryAll(vRecords);
  ASSERT_TRUE(zkfiler::ResetJournal().ok());
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vMap)) << m_oSink.Dump();
  // The export path is looked up from the NFS export, from the device's
  // path for mount request source 2, and from the path as the physical
  // mover sees it for any other source.
  std::vector<std::string> vSources;
  for (const auto& oEntry :
       JournalOf("Celerra_GetSnapDeviceNameWithManageCelerra")) {
    vSources.push_back(oEntry.args.substr(0, oEntry.args.find(' ')));
  }
  EXPECT_EQ((std::vector<std::string>{"source=/fs1", "source=/fs2/dirA",
                                      "source=/root_vdm_3/fs3", "source=/fs2"}),
            vSources);
  EXPECT_EQ(
      1u,
      LinesEqualTo("Successfully mapped snaps for [4 of 4] devices.").size());
  EXPECT_EQ(1u,
            LinesEqualTo("Printing status of clones at the end of map").size());
  const std::vector<std::string> vHosts = {kCs1, kCs1, kCs1, kCs2};
  const std::vector<std::string> vNames = {"nfs_" + T, "nat_" + T, "vdm_" + T,
                                           "ds_" + T};
  for (size_t i = 0; i < vMap.size(); ++i) {
    SCOPED_TRACE(vNames[i]);
    const zkref::MemSnapInfo& oRecord = *vMap[i];
    EXPECT_EQ((std::vector<int>{ZKSO::MAP_FAILED, ZKSO::MAP_SUCCESS}),
              oRecord.vStatusHistory);
    const std::string& sMount = oRecord.mMetaData.at(SM_MDT_SNAP_MOUNT);
    EXPECT_EQ(vNames[i] + "_RW|", sMount.substr(0, vNames[i].size() + 4));
    const std::string sRWId = sMount.substr(vNames[i].size() + 4);
    EXPECT_TRUE(HasCheckpoint(vHosts[i], sRWId));
    const _CelerraSnapDeviceIdentifier oClone = Clone(oRecord);
    EXPECT_EQ("nfs", oClone.sType);
    EXPECT_EQ("celerra", oClone.sVendor);
    const std::string sShare = "/" + vNames[i] + "_RW";
    const zkfiler::ExportView* pExport = FindExport(vHosts[i], sShare);
    ASSERT_NE(nullptr, pExport) << sShare;
    EXPECT_EQ(sRWId, pExport->fs_id);
    // The status print names this record's clone and status.
    EXPECT_TRUE(HasJobLine(
        oRecord, 0, kMapTag,
        "pSnapInfo->SnapDevice: [" + oRecord.sSnapDevice + "] status [12]"));
  }
  // NFS export of a VMware datastore: exported to the ESX host and its
  // VMkernel addresses.
  EXPECT_EQ("/nfs_" + T + "_RW", Clone(*vMap[0]).sLunUUID);
  EXPECT_EQ("vmware", Clone(*vMap[0]).sKemType);
  const zkfiler::ExportView* pNfs = FindExport(kCs1, "/nfs_" + T + "_RW");
  ASSERT_NE(nullptr, pNfs);
  EXPECT_EQ(
      (std::vector<std::string>{"10.11.20.9", "10.11.20.1", "10.11.20.2"}),
      pNfs->access_hosts);
  // Native file system, mount request source 2: the bare share path, and
  // the export to this host.
  const _CelerraSnapDeviceIdentifier oNative = Clone(*vMap[1]);
  EXPECT_EQ("/nat_" + T + "_RW", oNative.sLunUUID);
  EXPECT_EQ("/nat_" + T + "_RW", oNative.sExportPath);
  EXPECT_EQ("/nat_" + T + "/dirA", oNative.sPath);
  EXPECT_EQ("native_celerra", oNative.sKemType);
  const zkfiler::ExportView* pNative = FindExport(kCs1, "/nat_" + T + "_RW");
  ASSERT_NE(nullptr, pNative);
  EXPECT_EQ(std::vector<std::string>{"10.11.30.5"}, pNative->access_hosts);
  // Another mount request source: the relative path is appended; a VDM's
  // file system is exported by the mover hosting the VDM.
  const _CelerraSnapDeviceIdentifier oVdm = Clone(*vMap[2]);
  EXPECT_EQ("/vdm_" + T + "_RW/ds", oVdm.sLunUUID);
  EXPECT_EQ("/vdm_" + T + "_RW", oVdm.sExportPath);
  EXPECT_EQ("/vdm_" + T, oVdm.sFSPath);
  EXPECT_EQ("2", FindExport(kCs1, "/vdm_" + T + "_RW")->mover_id);
  EXPECT_EQ("/ds_" + T + "_RW/ds1", Clone(*vMap[3]).sLunUUID);

  // Unmap: exports and writable checkpoints go, the mount metadata too.
  std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(vMap);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vUnmap)) << m_oSink.Dump();
  EXPECT_EQ(
      1u,
      LinesEqualTo("Successfully unmapped snaps for [4 of 4] devices.").size());
  EXPECT_TRUE(Exports(kCs1).size() == 1u && Exports(kCs2).size() == 1u)
      << "only the production exports remain";
  EXPECT_EQ(4u, Checkpoints().size());
  for (zkref::MemSnapInfo* pRecord : vUnmap) {
    EXPECT_EQ(ZKSO::UNMAP_SUCCESS, pRecord->nStatus);
    EXPECT_EQ(0u, pRecord->mMetaData.count(SM_MDT_SNAP_MOUNT));
    EXPECT_EQ(1u, pRecord->mMetaData.count(SM_MDT_SNAP_UUID));
  }

  // Delete: the snapshots' checkpoints go.
  std::vector<zkref::MemSnapInfo*> vDelete = CarryAll(vUnmap);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Delete(vDelete)) << m_oSink.Dump();
  EXPECT_TRUE(Checkpoints().empty());
  for (zkref::MemSnapInfo* pRecord : vDelete) {
    EXPECT_EQ((std::vector<int>{ZKSO::DELETE_FAILED, ZKSO::DELETE_SUCCESS}),
              pRecord->vStatusHistory);
    EXPECT_TRUE(HasJobLine(*pRecord, 1, kDeleteTag,
                           "Deleting chkpt:[" + pRecord->sSnapName + "]"));
  }
  EXPECT_EQ(
      1u,
      LinesEqualTo("Successfully deleted snaps for [4 of 4] devices.").size());
}

TEST_F(LifecycleE2ETest, SnapThenRevertRestoresTheFileSystem) {
  std::vector<zkref::MemSnapInfo*> vRecords =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
               NewRecord(NasDevice("/fs2/ds1", kNas2, true), "b")});
  ASSERT_TRUE(zkfiler::WriteToFileSystem(kCs1, "101").ok());

  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Revert(vRecords)) << m_oSink.Dump();

  zkfiler::FileSystemDef oFs;
  ASSERT_TRUE(zkfiler::GetFileSystem(kCs1, "101", &oFs).ok());
  EXPECT_EQ(1, oFs.restores);
  EXPECT_EQ(1, oFs.generation);  // the checkpoint's content is back
  ASSERT_TRUE(zkfiler::GetFileSystem(kCs2, "102", &oFs).ok());
  EXPECT_EQ(1, oFs.restores);
  for (zkref::MemSnapInfo* pRecord : vRecords) {
    EXPECT_EQ((std::vector<int>{ZKSO::REVERT_FAILED, ZKSO::REVERT_SUCCESS}),
              pRecord->vStatusHistory);
  }
  EXPECT_TRUE(HasJobLine(
      *vRecords[0], 1, kRevertTag,
      "Reverting PFS:[101] from chkpt:[" + vRecords[0]->sSnapName + "]"));
  EXPECT_EQ(
      1u,
      LinesEqualTo("Successfully reverted snaps for [2 of 2] devices.").size());
}

TEST_F(LifecycleE2ETest, RevertStopsAtTheFirstRefusal) {
  std::vector<zkref::MemSnapInfo*> vRecords =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
               NewRecord(NasDevice("/fs2/ds1", kNas1, true), "b"),
               NewRecord(NfsExportDevice("/fs1", kNas2), "c")});
  ArmFault("RestorePFSFromChkPt", zkfiler::FaultMode::kAlways);
  ASSERT_TRUE(zkfiler::ResetJournal().ok());

  EXPECT_EQ(ZKSO::RESULT_FAILURE, Revert(vRecords));

  EXPECT_EQ(1u, JournalOf("RestorePFSFromChkPt").size());
  EXPECT_EQ(ZKSO::REVERT_FAILED, vRecords[0]->nStatus);
  EXPECT_EQ(JPR_REVERT_FAILED, vRecords[0]->nJPRId);
  EXPECT_EQ(0u, vRecords[0]->sJPRText.find("[Component:"));
  EXPECT_NE(std::string::npos, vRecords[0]->sJPRText.find(" Diagnostics:"));
  EXPECT_TRUE(HasJobLine(*vRecords[0], 2, kRevertTag,
                         "Error: Failed to revert FS from chkpt!"));
  for (int i : {1, 2}) {
    EXPECT_TRUE(vRecords[i]->vStatusHistory.empty()) << i;
    EXPECT_EQ(ZKSO::SNAP_SUCCESS, vRecords[i]->nStatus);
  }
  EXPECT_EQ(1u, LinesEqualTo("Failed to revert any snap").size());
}

TEST_F(LifecycleE2ETest, ReconcileMarksOnlyTheCheckpointDeletedBehindItsBack) {
  std::vector<zkref::MemSnapInfo*> vRecords =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
               NewRecord(NasDevice("/fs2/ds1", kNas1, true), "b"),
               NewRecord(NfsExportDevice("/fs1", kNas2), "c")});
  // Someone deletes the first snapshot's checkpoint on the file server.
  ManageCelerra oAdmin(1);
  oAdmin.SetControlHostInfo(kCs1, "nasadmin", kPassword);
  ASSERT_TRUE(oAdmin.DeleteChkPt(ChkptId(*vRecords[0]), "", false));
  ASSERT_TRUE(zkfiler::ResetJournal().ok());

  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Reconcile(vRecords)) << m_oSink.Dump();

  EXPECT_EQ(ZKSO::SNAP_NOT_FOUND, vRecords[0]->nStatus);
  EXPECT_TRUE(HasJobLine(*vRecords[0], 1, kReconcileTag,
                         "Warning:Unable find the snap :[" +
                             vRecords[0]->sSnapName +
                             "] on controlhost [cs1.zk.test]. Seems to have "
                             "been deleted "));
  for (int i : {1, 2}) {
    EXPECT_TRUE(vRecords[i]->vStatusHistory.empty()) << i;
    EXPECT_EQ(ZKSO::SNAP_SUCCESS, vRecords[i]->nStatus);
  }
  EXPECT_EQ(3u, JournalOf("GetChkPointsInfo").size());
  EXPECT_EQ(1u,
            LinesEqualTo("Successfully reconcilled snaps for [3 of 3] devices.")
                .size());
}

TEST_F(LifecycleE2ETest, ReconcileWithoutAListChangesNothing) {
  std::vector<zkref::MemSnapInfo*> vRecords =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
               NewRecord(NfsExportDevice("/fs1", kNas2), "c")});
  zkref::MemSnapInfo* pNeverPrepared = NewRecord(NfsExportDevice("/x", kNas1));
  pNeverPrepared->nStatus = ZKSO::READY_FOR_SNAP_FAILED;
  ArmFault("GetChkPointsInfo", zkfiler::FaultMode::kAlways);

  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS,
            Reconcile({vRecords[0], pNeverPrepared, vRecords[1]}));
  for (zkref::MemSnapInfo* pRecord : vRecords) {
    EXPECT_TRUE(pRecord->vStatusHistory.empty());
  }
  EXPECT_TRUE(pNeverPrepared->vStatusHistory.empty());
  EXPECT_TRUE(HasJobLine(*pNeverPrepared, 1, kReconcileTag,
                         "READY_FOR_SNAP_FAILED. Hence snap is not at all "
                         "created. Skipping the snap for reconciliation"));
  EXPECT_EQ(2u, LinesEqualTo("ZKSnapEngineCelerra(996): -Error-: Unable to "
                             "get the list of all chkpts,Continuing with the "
                             "next snap")
                    .size());
  EXPECT_EQ(2u, m_oSink.Find("Status [").size());

  // The same with only snapshots: nothing counts.
  EXPECT_EQ(ZKSO::RESULT_FAILURE, Reconcile(vRecords));
  EXPECT_EQ(1u, LinesEqualTo("Failed to reconcile any snap").size());
}

TEST_F(LifecycleE2ETest, MapStopsAtTheRecordThatCannotBeExposed) {
  std::vector<zkref::MemSnapInfo*> vRecords = Snapped(
      {NewRecord(NfsExportDevice("/fs1", kNas1, false), "a"),
       NewRecord(NfsExportDevice("/fs1", kNas2, false), "b"),
       WithMountSource(NewRecord(NasDevice("/fs2/d", kNas1, false), "c"), 2)});
  ArmFault("CreateNFSShare", zkfiler::FaultMode::kNth, 2);

  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS, Map(vRecords));

  EXPECT_EQ(ZKSO::MAP_SUCCESS, vRecords[0]->nStatus);
  EXPECT_EQ(ZKSO::MAP_FAILED, vRecords[1]->nStatus);
  EXPECT_EQ(JPR_MAP_FAILED, vRecords[1]->nJPRId);
  EXPECT_EQ(0u, vRecords[1]->sJPRText.find("Component:"));
  EXPECT_TRUE(HasJobLine(*vRecords[1], 2, kMapTag,
                         "Error: Failed to expose RW chkpt!"));
  EXPECT_EQ(1u, LinesEqualTo("ZKSnapEngineCelerra(616): -Error-: Failed to "
                             "mount Chkpt:[" +
                             vRecords[1]->sSnapName + "]")
                    .size());
  EXPECT_TRUE(vRecords[2]->vStatusHistory.empty());
  // The status print still lists every record.
  for (zkref::MemSnapInfo* pRecord : vRecords) {
    EXPECT_TRUE(HasJobLine(*pRecord, 0, kMapTag,
                           "pSnapInfo->SnapDevice: [" + pRecord->sSnapDevice +
                               "] status [" + std::to_string(pRecord->nStatus) +
                               "]"));
  }
  EXPECT_TRUE(vRecords[2]->sSnapDevice.empty());
  // The failed record's map took back what it made: its writable
  // checkpoint and mount metadata, each with a line saying so.
  EXPECT_EQ(0u, vRecords[1]->mMetaData.count(SM_MDT_SNAP_MOUNT));
  EXPECT_EQ(4u, Checkpoints().size());
  const std::string sRW = vRecords[1]->sSnapName + "_RW";
  EXPECT_TRUE(HasJobLinePrefix(*vRecords[1], 2, kMapTag,
                               "Deleted RW chkpt [" + sRW + "] id ["));
  EXPECT_TRUE(HasJobLinePrefix(*vRecords[1], 2, kMapTag,
                               "Removed SM_MDT_SNAP_MOUNT [" + sRW + "|"));
  // Unmap has nothing left to remove for it, and the same map then goes
  // through.
  std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(vRecords);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap({vUnmap[0], vUnmap[1]}));
  EXPECT_EQ(3u, Checkpoints().size());
  std::vector<zkref::MemSnapInfo*> vAgain = CarryAll(vRecords);
  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Map(vAgain));
  for (zkref::MemSnapInfo* pRecord : vAgain) {
    EXPECT_EQ(ZKSO::MAP_SUCCESS, pRecord->nStatus);
  }
}

TEST_F(LifecycleE2ETest, MapWithoutAHostNameProcessesNoRecord) {
  std::vector<zkref::MemSnapInfo*> vRecords =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
               NewRecord(NfsExportDevice("/fs1", kNas2), "b")});
  zktest::FixHostName("");
  ASSERT_TRUE(zkfiler::ResetJournal().ok());

  EXPECT_EQ(ZKSO::RESULT_FAILURE, Map(vRecords));

  EXPECT_TRUE(CommandCounts().empty());
  EXPECT_EQ(1u, LinesEqualTo("Unable to determine client name").size());
  EXPECT_EQ(1u, LinesEqualTo("Failed to reconcile map any snap").size());
  for (zkref::MemSnapInfo* pRecord : vRecords) {
    EXPECT_TRUE(pRecord->vStatusHistory.empty());
    EXPECT_TRUE(HasJobLine(*pRecord, 0, kMapTag,
                           "pSnapInfo->SnapDevice: [] status [5]"));
  }
}

TEST_F(LifecycleE2ETest, UnmapGoesOnPastARecordWithoutDevice) {
  std::vector<zkref::MemSnapInfo*> vRecords =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
               NewRecord(NfsExportDevice("/fs1", kNas2), "b")});
  for (zkref::MemSnapInfo* pRecord : vRecords) VMware(pRecord);
  ASSERT_EQ(ZKSO::RESULT_SUCCESS, Map(vRecords)) << m_oSink.Dump();
  std::vector<zkref::MemSnapInfo*> vUnmap = CarryAll(vRecords);
  zkref::MemSnapInfo* pNoDevice = NewRecord("");
  zkref::MemSnapInfo* pNoMetadata = NewRecord(NfsExportDevice("/fs1", kNas1));

  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS,
            Unmap({vUnmap[0], pNoDevice, pNoMetadata, vUnmap[1]}));

  EXPECT_EQ(ZKSO::UNMAP_SUCCESS, vUnmap[0]->nStatus);
  EXPECT_EQ(ZKSO::UNMAP_SUCCESS, vUnmap[1]->nStatus);
  EXPECT_EQ(std::vector<int>{ZKSO::UNMAP_FAILED}, pNoDevice->vStatusHistory);
  EXPECT_EQ(std::vector<int>{ZKSO::UNMAP_FAILED}, pNoMetadata->vStatusHistory);
  EXPECT_EQ(1u, LinesEqualTo("Failed to do PreOperation").size());
  EXPECT_EQ(2u, Checkpoints().size());
  EXPECT_EQ(
      1u,
      LinesEqualTo("Successfully unmapped snaps for [2 of 4] devices.").size());
}

// Nothing of the records names a writable checkpoint (no mount metadata, no
// intent): the unmap sends nothing at all. What a killed map may have left
// is no record's, and not this unmap's to look for.
TEST_F(LifecycleE2ETest, UnmapOfANeverMappedSnapshotSendsNothingToDelete) {
  std::vector<zkref::MemSnapInfo*> vRecords =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
               NewRecord(NasDevice("/fs2/ds1", kNas1, false), "b")});
  ASSERT_TRUE(zkfiler::ResetJournal().ok());

  EXPECT_EQ(ZKSO::RESULT_SUCCESS, Unmap(vRecords)) << m_oSink.Dump();

  EXPECT_EQ((std::map<std::string, int>{}), CommandCounts());
  EXPECT_EQ(2u, Checkpoints().size());
  for (zkref::MemSnapInfo* pRecord : vRecords) {
    EXPECT_EQ(ZKSO::UNMAP_SUCCESS, pRecord->nStatus);
  }
}

// One record per file system and nothing failing: each operation sends
// exactly the commands the contract needs, an unmap one export lookup more
// (whose export the clone path holds, before it is removed), and no record
// is left holding an intent.
TEST_F(LifecycleE2ETest, EachOperationSendsItsCommandsOnce) {
  using Counts = std::map<std::string, int>;
  std::vector<zkref::MemSnapInfo*> v = {
      NewRecord(NfsExportDevice("/fs1", kNas1, false), "a")};
  const struct {
    Operation fn;
    Counts mCommands;
  } aSteps[] = {
      {m_pPlugin->zkso_prepareDevices, {{"GetNFSInfo", 1}, {"GetPFSInfo", 1}}},
      {m_pPlugin->zkso_snapDevices, {{"CreateROChkPt", 1}}},
      {m_pPlugin->zkso_mapSnaps,
       {{"CreateRWChkPt", 1},
        {"Celerra_GetSnapDeviceNameWithManageCelerra", 1},
        {"CreateNFSShare", 1}}},
      {m_pPlugin->zkso_unmapSnaps,
       {{"Celerra_GetSnapDeviceNameWithManageCelerra", 1},
        {"GetNFSInfo", 1},
        {"DeleteNFSShare", 1},
        {"DeleteChkPt", 1}}},
      {m_pPlugin->zkso_revertSnaps, {{"RestorePFSFromChkPt", 1}}},
      {m_pPlugin->zkso_reconcileSnaps, {{"GetChkPointsInfo", 1}}},
      {m_pPlugin->zkso_deleteSnaps, {{"DeleteChkPt", 1}}},
  };
  for (const auto& oStep : aSteps) {
    ASSERT_TRUE(zkfiler::ResetJournal().ok());
    ASSERT_EQ(ZKSO::RESULT_SUCCESS, Run(oStep.fn, v)) << m_oSink.Dump();
    EXPECT_EQ(oStep.mCommands, CommandCounts());
    EXPECT_EQ(0u, v[0]->mMetaData.count(SM_MDT_CELERRA_INTENT));
    v = CarryAll(v);
  }
}

TEST_F(LifecycleE2ETest, DeleteGoesOnPastARefusalAndSkipsUnpreparedRecords) {
  std::vector<zkref::MemSnapInfo*> vRecords =
      Snapped({NewRecord(NfsExportDevice("/fs1", kNas1), "a"),
               NewRecord(NasDevice("/fs2/ds1", kNas1, true), "b"),
               NewRecord(NfsExportDevice("/fs1", kNas2), "c")});
  zkref::MemSnapInfo* pNeverPrepared = NewRecord(NfsExportDevice("/x", kNas1));
  pNeverPrepared->nStatus = ZKSO::READY_FOR_SNAP_FAILED;
  ArmFault("DeleteChkPt", zkfiler::FaultMode::kNth, 2);
  ASSERT_TRUE(zkfiler::ResetJournal().ok());

  EXPECT_EQ(ZKSO::RESULT_PARTIAL_SUCCESS,
            Delete({vRecords[0], pNeverPrepared, vRecords[1], vRecords[2]}));

  EXPECT_EQ(ZKSO::DELETE_SUCCESS, vRecords[0]->nStatus);
  EXPECT_EQ(ZKSO::DELETE_FAILED, vRecords[1]->nStatus);
  EXPECT_TRUE(HasJobLine(*vRecords[1], 2, kDeleteTag,
                         "Error: Failed to delete FS from chkpt!"));
  EXPECT_EQ(ZKSO::DELETE_SUCCESS, vRecords[2]->nStatus);
  EXPECT_EQ(std::vector<int>{ZKSO::DELETE_SUCCESS},
            pNeverPrepared->vStatusHistory);
  EXPECT_TRUE(HasJobLine(*pNeverPrepared, 1, kDeleteTag,
                         "READY_FOR_SNAP_FAILED. Hence snap is not at all "
                         "created. Marking as deleted."));
  EXPECT_EQ(3u, JournalOf("DeleteChkPt").size());
  ASSERT_EQ(1u, Checkpoints().size());
  EXPECT_EQ(ChkptId(*vRecords[1]), Checkpoints()[0].id);
  EXPECT_EQ(
      1u,
      LinesEqualTo("Successfully deleted snaps for [3 of 4] devices.").size());
}

}  // namespace
}  // namespace zke2e
