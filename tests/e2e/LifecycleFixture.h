// SPDX-License-Identifier: Apache-2.0
// The world of the snapshot lifecycle tests: two file servers (control hosts
// kCs1 and kCs2) with NFS exports, file systems reached natively, through a
// VDM and as VMware datastores, CIFS servers on a mover and on a VDM; their
// array management entries; a hosts file naming every file server and the
// mounting hosts; and a clock of its own per test, so that the plug-in's
// process-wide CIFS server cache never carries a list from one test into
// the next when they share a process.
//
// Records are carried from one operation to the next the way a host keeps
// them: Carry() makes a fresh record holding only what a host stores
// (status, metadata, snap name, source and snap device, host identifier,
// mount request source, the array the record is bound to).
#ifndef ZK_TESTS_E2E_LIFECYCLEFIXTURE_H_
#define ZK_TESTS_E2E_LIFECYCLEFIXTURE_H_

#include <map>
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/e2e/E2EFixture.h"

namespace zke2e {

extern const char kCs1[];      // control host of file server one
extern const char kCs2[];      // control host of file server two
extern const char kNas1[];     // file server one as devices name it
extern const char kNas1Vdm[];  // file server one's VDM CIFS server address name
extern const char kNas2[];     // file server two
extern const char kEsxName[];  // the ESX host of VMware host identifiers
extern const char kClientHost[];  // the local host name the plug-in sees

// Tags of the operation functions' log and job log lines.
extern const char kSnapTag[];
extern const char kMapTag[];
extern const char kUnmapTag[];
extern const char kDeleteTag[];
extern const char kRevertTag[];
extern const char kReconcileTag[];

// Device identifiers.
std::string NfsExportDevice(const std::string& sExportPath,
                            const std::string& sFiler, bool bVMware = true);
std::string NasDevice(const std::string& sPath, const std::string& sFiler,
                      bool bVMware);
// A VMware mount host identifier with ESX name, VMkernel addresses and the
// distinctive password.
std::string HostIdentifier();
// The two file servers as at the start of each test.
zkfiler::ServerLayout FileServerOne();
zkfiler::ServerLayout FileServerTwo();

class LifecycleTest : public E2ETest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new in-memory store holding the two file servers as at the start (a
  // suite may put them somewhere else).
  virtual void InstallFileServers();

  using Operation = PluginUnderTest::OperationFn;
  ZKSO::ResultCode Run(Operation fn,
                       const std::vector<zkref::MemSnapInfo*>& vRecords);
  // A fresh record with what the host keeps of oRecord.
  zkref::MemSnapInfo* Carry(const zkref::MemSnapInfo& oRecord);
  std::vector<zkref::MemSnapInfo*> CarryAll(
      const std::vector<zkref::MemSnapInfo*>& vRecords);

  ZKSO::ResultCode Prepare(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_prepareDevices, v);
  }
  ZKSO::ResultCode Snap(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_snapDevices, v);
  }
  ZKSO::ResultCode Map(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_mapSnaps, v);
  }
  ZKSO::ResultCode Unmap(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_unmapSnaps, v);
  }
  ZKSO::ResultCode Delete(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_deleteSnaps, v);
  }
  ZKSO::ResultCode Revert(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_revertSnaps, v);
  }
  ZKSO::ResultCode Reconcile(const std::vector<zkref::MemSnapInfo*>& v) {
    return Run(m_pPlugin->zkso_reconcileSnaps, v);
  }

  // Prepares and snaps the records (both must succeed); fresh copies of the
  // snapped records.
  std::vector<zkref::MemSnapInfo*> Snapped(
      const std::vector<zkref::MemSnapInfo*>& v) {
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Prepare(v)) << m_oSink.Dump();
    std::vector<zkref::MemSnapInfo*> vSnap = CarryAll(v);
    EXPECT_EQ(ZKSO::RESULT_SUCCESS, Snap(vSnap)) << m_oSink.Dump();
    return CarryAll(vSnap);
  }
  // A VMware device record with its mount host identifier.
  zkref::MemSnapInfo* VMware(zkref::MemSnapInfo* pRecord) {
    pRecord->sHostIdentifier = HostIdentifier();
    return pRecord;
  }
  zkref::MemSnapInfo* WithMountSource(zkref::MemSnapInfo* pRecord, int n) {
    pRecord->mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = n;
    return pRecord;
  }
  bool HasCheckpoint(const std::string& sHost, const std::string& sId) {
    for (const auto& oChkpt : Checkpoints(sHost)) {
      if (oChkpt.id == sId) return true;
    }
    return false;
  }
  // Id of the checkpoint in the record's snap UUID.
  static std::string ChkptId(const zkref::MemSnapInfo& oRecord) {
    const std::string& s = oRecord.mMetaData.at(SM_MDT_SNAP_UUID);
    const size_t nFirst = s.find('|');
    return s.substr(nFirst + 1, s.find('|', nFirst + 1) - nFirst - 1);
  }

  // Commands of the journal since the last ResetJournal, per command name.
  std::map<std::string, int> CommandCounts(const std::string& sHost = "");
  std::vector<zkfiler::JournalEntry> JournalOf(const std::string& sCommand);
  std::vector<zkfiler::CheckpointView> Checkpoints(
      const std::string& sHost = "");
  std::vector<zkfiler::ExportView> Exports(const std::string& sHost = "");
  void ArmFault(const std::string& sCommand, zkfiler::FaultMode eMode,
                int64_t n = 1, const std::string& sHost = "",
                const std::string& sMessageCode = "");

  // The test's clock (seconds) and the snap name formed from sSnapName.
  long m_nNow = 0;
  std::string SnapNameAt(const std::string& sSnapName) const {
    return sSnapName + "_" + std::to_string(m_nNow);
  }
  // Moves the plug-in's clock.
  void SetNow(long nNow);
};

}  // namespace zke2e

#endif  // ZK_TESTS_E2E_LIFECYCLEFIXTURE_H_
