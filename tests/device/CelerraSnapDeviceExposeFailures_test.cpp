// SPDX-License-Identifier: Apache-2.0
// Map and unmap when the file server refuses a step or the map never got
// far: what is left on the file server, what the record says, and which
// commands an unmap still sends.
#include <algorithm>
#include <string>
#include <vector>

#include "SnapshotServerTestSupport.h"

namespace {

using zktest::kNASUnExposeTag;
using zktest::kNfsExposeTag;
using zktest::kNfsUnExposeTag;
using zktest::SnapshotRecord;
using Lines = std::vector<std::string>;

class ExposeFailureTest : public zktest::SnapshotServerTest {
 protected:
  // Map of the record with sCommand refused; the faults are cleared and the
  // journal emptied afterwards.
  std::string MapWithRefused(const std::string& sCommand) {
    ArmFault(sCommand);
    std::string sStep = Map();
    EXPECT_TRUE(zkfiler::ClearFaults().ok());
    ResetJournal();
    return sStep;
  }
};

TEST_F(ExposeFailureTest, MapRefusalLeavesRecordNamingWhatTheServerHolds) {
  const struct {
    const char* pszRefused;
    const char* pszStep;
    Lines vCommands;
    bool bWritableMade;
  } aCases[] = {
      // Each refusal is followed by one query: is it there all the same?
      {"CreateRWChkPt",
       "CreateRWChkPt",
       {"CreateRWChkPt", "GetChkPointsInfo"},
       false},
      {"Celerra_GetSnapDeviceNameWithManageCelerra",
       "ExposeChkPt",
       {"CreateRWChkPt", "Celerra_GetSnapDeviceNameWithManageCelerra"},
       true},
      // A refused export is not looked for: a refusal says it was not
      // made (only a lost reply is followed by a lookup).
      {"CreateNFSShare",
       "ExposeChkPt",
       {"CreateRWChkPt", "Celerra_GetSnapDeviceNameWithManageCelerra",
        "CreateNFSShare"},
       true},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszRefused);
    ExpectPasswordNeverShown();
    InstallServer();
    UseSnapshot(zktest::NfsSnapshot());
    ArmFault(oCase.pszRefused);
    EXPECT_EQ(Map(), oCase.pszStep);
    EXPECT_EQ(Commands(), oCase.vCommands);
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::MAP_FAILED);
    EXPECT_TRUE(m_oRecord.sSnapDevice.empty());
    EXPECT_EQ(Exports().size(), 1u);  // nothing new exported
    const std::string sRWId = CheckpointNamed("SNAP_RW").id;
    EXPECT_EQ(!sRWId.empty(), oCase.bWritableMade);
    if (oCase.bWritableMade) {
      EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_MOUNT], "SNAP_RW|" + sRWId);
    } else {
      EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT), 0u);
      EXPECT_FALSE(m_oRecord.JobLogContains("Setting Metadata"));
    }
    const std::string sLookupLine =
        "Unable to get the share path for RW checkpoint[" + sRWId + "]";
    if (std::string(oCase.pszRefused) ==
        "Celerra_GetSnapDeviceNameWithManageCelerra") {
      EXPECT_TRUE(JobLogged(sLookupLine, 1, kNfsExposeTag));
    } else {
      EXPECT_TRUE(JobLines(sLookupLine).empty());
    }
    EXPECT_TRUE(JobLines("Successfully created NFS share.").empty());
  }
}

// When the map never stored mount metadata there is no writable checkpoint
// id: the unmap succeeds without asking the file server to delete "".
// Without mount metadata the unmap looks only for a writable checkpoint the
// record's intent names; the refused map left none, so nothing is sent.
TEST_F(ExposeFailureTest, UnmapWithoutWritableCheckpointIdSendsNoDelete) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    const char* pszSkipLine;
    int nSkipLevel;
    const char* pszSkipTag;
    const char* pszTag;
  } aCases[] = {
      {"NFS export", zktest::NfsSnapshot(),
       "Looks like mount was not successful. Marking as unmap is successful", 2,
       kNfsUnExposeTag, kNfsUnExposeTag},
      {"NAS file system", zktest::NASSnapshot(),
       "Checkpoint not exposed. No need to unexpose", 1, "", kNASUnExposeTag},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(oCase.pszName);
    ExpectPasswordNeverShown();
    InstallServer();
    UseSnapshot(oCase.oSnapshot);
    m_oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
    ASSERT_EQ(MapWithRefused("CreateRWChkPt"), "CreateRWChkPt");
    const size_t nCheckpoints = Checkpoints().size();

    EXPECT_EQ(Unmap(), "");
    EXPECT_EQ(Commands(), std::vector<std::string>{});
    EXPECT_TRUE(
        JobLogged(oCase.pszSkipLine, oCase.nSkipLevel, oCase.pszSkipTag));
    EXPECT_TRUE(JobLogged("No RW checkpoint to delete for chkpt:[SNAP]", 1,
                          oCase.pszTag));
    EXPECT_EQ(Checkpoints().size(), nCheckpoints);
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
  }
}

// A NAS record with mount metadata and no clone device (its map failed at
// the export, which a lost reply may have made all the same): the unmap
// looks for the export of its writable checkpoint as the NFS kind does,
// finds none, and deletes the checkpoint.
TEST_F(ExposeFailureTest, NasUnmapOfUnexposedCheckpointStillDeletesIt) {
  UseSnapshot(zktest::NASSnapshot());
  m_oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
  ASSERT_EQ(MapWithRefused("CreateNFSShare"), "ExposeChkPt");
  const std::string sRWId = CheckpointNamed("SNAP_RW").id;
  ASSERT_FALSE(sRWId.empty());
  ASSERT_TRUE(m_oRecord.sSnapDevice.empty());

  EXPECT_EQ(Unmap(), "");
  EXPECT_EQ(
      Journal(),
      (Lines{"Celerra_GetSnapDeviceNameWithManageCelerra source=/fs1/ds1 "
             "fs=101 id=" +
                 sRWId + " name=SNAP_RW",
             "GetNFSInfo path=/SNAP_RW",
             "DeleteChkPt id=" + sRWId + " baseline= with_baseline=false"}));
  EXPECT_TRUE(JobLogged("NFS share [/SNAP_RW] is no longer on the file server",
                        1, kNfsUnExposeTag));
  EXPECT_TRUE(CheckpointNamed("SNAP_RW").id.empty());
  EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT), 0u);
  EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
}

// A refused step of an unmap is followed by one query; what is still there
// fails the unmap, and the record keeps what a retry needs.
TEST_F(ExposeFailureTest, UnmapRefusals) {
  const struct {
    const char* pszName;
    SnapshotRecord oSnapshot;
    const char* pszTag;
    const char* pszRefused;
    const char* pszQuery;
    bool bExportRemoved;
  } aCases[] = {
      // The export removed before is made again: the snapshot stays mapped.
      {"NFS", zktest::NfsSnapshot(), kNfsUnExposeTag, "DeleteChkPt",
       "CreateNFSShare", false},
      {"NAS", zktest::NASSnapshot(), kNASUnExposeTag, "DeleteChkPt",
       "CreateNFSShare", false},
      {"NFS", zktest::NfsSnapshot(), kNfsUnExposeTag, "DeleteNFSShare",
       "GetNFSInfo", false},
      {"NAS", zktest::NASSnapshot(), kNASUnExposeTag, "DeleteNFSShare",
       "GetNFSInfo", false},
      {"NFS", zktest::NfsSnapshot(), kNfsUnExposeTag,
       "Celerra_GetSnapDeviceNameWithManageCelerra", "GetChkPointsInfo", false},
      {"NAS", zktest::NASSnapshot(), kNASUnExposeTag,
       "Celerra_GetSnapDeviceNameWithManageCelerra", "GetChkPointsInfo", false},
  };
  for (const auto& oCase : aCases) {
    SCOPED_TRACE(std::string(oCase.pszName) + " " + oCase.pszRefused);
    ExpectPasswordNeverShown();
    InstallServer();
    UseSnapshot(oCase.oSnapshot);
    m_oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
    ASSERT_EQ(Map(), "");
    const std::string sRWId = CheckpointNamed("SNAP_RW").id;
    ResetJournal();
    ArmFault(oCase.pszRefused);

    EXPECT_EQ(Unmap(), "UnExposeChkPt");
    EXPECT_EQ(ExportOf("/SNAP_RW").path.empty(), oCase.bExportRemoved);
    EXPECT_FALSE(CheckpointNamed("SNAP_RW").id.empty());
    const bool bDeleteRefused = std::string(oCase.pszRefused) == "DeleteChkPt";
    EXPECT_EQ(JobLines("Error:Failed to delete RW checkpoint:[SNAP_RW]").size(),
              bDeleteRefused ? 1u : 0u);
    if (bDeleteRefused) {
      EXPECT_TRUE(JobLogged("Error:Failed to delete RW checkpoint:[SNAP_RW]", 2,
                            oCase.pszTag));
    }
    // Nothing more is sent after the query (and the export made again), and
    // the record keeps what the server holds.
    ASSERT_GE(Commands().size(), 2u);
    EXPECT_EQ(Commands().back(), oCase.pszQuery);
    EXPECT_NE(std::find(Commands().begin(), Commands().end(), oCase.pszRefused),
              Commands().end());
    EXPECT_EQ(m_oRecord.mMetaData[SM_MDT_SNAP_MOUNT], "SNAP_RW|" + sRWId);
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_FAILED);
    EXPECT_EQ(JobLines("Error: Unable to get the share path for RW "
                       "checkpoint[" +
                       sRWId + "]")
                  .size(),
              std::string(oCase.pszRefused) ==
                      "Celerra_GetSnapDeviceNameWithManageCelerra"
                  ? 1u
                  : 0u);

    // Once the file server takes commands again, the same unmap finishes
    // what is left and nothing stays.
    ASSERT_TRUE(zkfiler::ClearFaults().ok());
    EXPECT_EQ(Unmap(), "");
    EXPECT_EQ(m_oRecord.nStatus, ZKSO::UNMAP_SUCCESS);
    EXPECT_TRUE(ExportOf("/SNAP_RW").path.empty());
    EXPECT_TRUE(CheckpointNamed("SNAP_RW").id.empty());
    EXPECT_EQ(m_oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT), 0u);
  }
}

TEST_F(ExposeFailureTest, NasUnmapStopsWhenTheSnapDeviceCannotBeRead) {
  UseSnapshot(zktest::NASSnapshot());
  m_oRecord.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = 2;
  ASSERT_EQ(Map(), "");
  ResetJournal();
  m_oRecord.FailGetter(zkref::Getter::kSnapDevice);
  EXPECT_EQ(Unmap(), "UnExposeChkPt");
  EXPECT_TRUE(Journal().empty());
  EXPECT_TRUE(JobLogged("Error:Failed to get snap device", 2, kNASUnExposeTag));
  EXPECT_FALSE(ExportOf("/SNAP_RW").path.empty());
}

// A device without a host record refuses every exposure step and sends
// nothing to the file server.
TEST_F(ExposeFailureTest, DeviceWithoutRecordRefusesWithoutFileServerCalls) {
  for (const SnapshotRecord& oSnapshot :
       {zktest::NfsSnapshot(), zktest::NASSnapshot()}) {
    SCOPED_TRACE(oSnapshot.sSource);
    UseSnapshot(oSnapshot);
    CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_MAP);
    ASSERT_TRUE(pDevice->PreOperation());
    ManageCelerra oClient = ClientFor(*pDevice);
    ResetJournal();
    m_oLog.Clear();
    CelerraSnapDeviceTestPeer(pDevice.get()).SnapInfo() = nullptr;
    EXPECT_FALSE(pDevice->CreateRWChkPt(oClient));
    EXPECT_FALSE(pDevice->ExposeChkPt(oClient, zktest::kClientHost));
    EXPECT_FALSE(pDevice->UnExposeChkPt(oClient));
    bool bFlag = false;
    std::string sShare;
    EXPECT_FALSE(pDevice->GetGUIMountShareName(bFlag, sShare));
    EXPECT_TRUE(Journal().empty());
    EXPECT_GE(m_oLog.Find("Snap info object is not initialized").size(), 4u);
  }
}

}  // namespace
