// SPDX-License-Identifier: Apache-2.0
// Test support for the suites of snapshot checkpoints: a file server with a
// file system on a data mover, one on a loaded VDM and one on a VDM that no
// mover hosts, each with a snapshot checkpoint; records of snapshots of NFS and
// NAS devices on them; and the map and unmap steps run as the entry points run
// them.
//
// Not thread-safe: one fixture per test.
#ifndef ZK_TESTS_DEVICE_SNAPSHOTSERVERTESTSUPPORT_H_
#define ZK_TESTS_DEVICE_SNAPSHOTSERVERTESTSUPPORT_H_

#include <string>
#include <vector>

#include "FilerDeviceTestSupport.h"
#include "ScopedHostsFile.h"

namespace zktest {

inline const char* const kClientHost = "client1.zk.invalid";  // 10.20.0.5
inline const char* const kClientIP = "10.20.0.5";
inline const char* const kEsxHost = "esx1.zk.invalid";  // 10.30.0.7
inline const char* const kEsxIP = "10.30.0.7";
inline const char* const kNoHost = "nohost.zk.invalid";  // does not resolve

// Stored file system texts of the devices on the file server below.
inline const char* const kNfsFSInfo = "filer1|101|1|pool_101|2|/fs1|";
inline const char* const kNASFSInfo =
    "101|1|pool_101|filer1|/fs1/ds1|fs1|2|false|/fs1|";
inline const char* const kVdmFSInfo =
    "102|1|pool_102|filer1|/root_vdm_3/fs2/ds2|fs2|3|true|/fs2|";
inline const char* const kLostVdmFSInfo =
    "103|1|pool_103|filer1|/root_vdm_4/fs3/ds3|fs3|4|true|/fs3|";

// Tags of the job log lines.
inline const char* const kNfsExposeTag = "CelerraSnapDeviceNfs::ExposeChkPt";
inline const char* const kNfsUnExposeTag =
    "CelerraSnapDeviceNfs::UnExposeChkPt";
inline const char* const kNASExposeTag = "CelerraSnapDeviceNAS::ExposeChkPt";
inline const char* const kNASUnExposeTag =
    "CelerraSnapDeviceNAS::UnExposeChkPt";

// A snapshot of one device: its record's source, stored file system text,
// snap name and snap UUID.
struct SnapshotRecord {
  std::string sSource;
  std::string sFSInfo;
  std::string sSnapName;
  std::string sSnapUUID;
};

inline SnapshotRecord NfsSnapshot(const std::string& sKemType = "") {
  return {NfsSource("/fs1", "filer1", sKemType), kNfsFSInfo, "SNAP",
          "SNAP|150|"};
}
inline SnapshotRecord NASSnapshot(const std::string& sKemType = "") {
  return {Identifier("native_celerra", "", "filer1", "/fs1/ds1", sKemType),
          kNASFSInfo, "SNAP", "SNAP|150|"};
}
inline SnapshotRecord VdmSnapshot(const std::string& sKemType = "") {
  return {Identifier("native_celerra", "", "filer1", "/root_vdm_3/fs2/ds2",
                     sKemType),
          kVdmFSInfo, "VSNAP", "VSNAP|160|"};
}
inline SnapshotRecord LostVdmSnapshot() {
  return {Identifier("native_celerra", "", "filer1", "/root_vdm_4/fs3/ds3"),
          kLostVdmFSInfo, "USNAP", "USNAP|170|"};
}
// BSNAP (181) is itself a writable checkpoint of BSNAP_baseline (180).
inline SnapshotRecord WritableSnapshot(const SnapshotRecord& oOf) {
  SnapshotRecord oRecord = oOf;
  oRecord.sSnapName = "BSNAP";
  oRecord.sSnapUUID = "BSNAP|181|180|";
  return oRecord;
}

// A VMware host identifier with the distinctive password.
inline std::string HostIdentifier(const std::string& sEsxName,
                                  const std::string& sVMKernel) {
  std::string sText = "{vcname:vc1,";
  if (!sEsxName.empty()) sText += "esxname:" + sEsxName + ",";
  return sText + "vmkernel:" + sVMKernel + ",password:" + kPassword + "}";
}

class SnapshotServerTest : public FilerDeviceTest {
 protected:
  SnapshotServerTest()
      : m_oHosts(std::string(kClientIP) + " " + kClientHost + "\n" + kEsxIP +
                 " " + kEsxHost + "\n") {}

  void SetUp() override { InstallServer(); }

  static void AddCheckpoint(zkfiler::ServerLayout& oLayout,
                            const std::string& sName, const std::string& sFS,
                            const std::string& sId,
                            const std::string& sBaseline = "") {
    oLayout.Checkpoint(sName, sFS, sBaseline);
    oLayout.checkpoints.back().id = sId;
  }

  void InstallServer() {
    zkfiler::ServerLayout oLayout;
    oLayout.Mover("2", {"10.1.1.2"})
        .Vdm("3", "2")
        .Vdm("4", "")
        .FileSystem("101", "fs1", "2", "/fs1")
        .FileSystem("102", "fs2", "3", "/fs2", true)
        .FileSystem("103", "fs3", "4", "/fs3", true)
        .Export("/fs1", "2", {"10.0.0.9"});
    for (auto& oFS : oLayout.file_systems) oFS.storage_extra = "pool_" + oFS.id;
    AddCheckpoint(oLayout, "SNAP", "101", "150");
    AddCheckpoint(oLayout, "VSNAP", "102", "160");
    AddCheckpoint(oLayout, "USNAP", "103", "170");
    AddCheckpoint(oLayout, "BSNAP_baseline", "101", "180");
    AddCheckpoint(oLayout, "BSNAP", "101", "181", "BSNAP_baseline");
    Install(oLayout);
  }

  // A record that prepare and snap have been through, on a new server.
  void UseSnapshot(const SnapshotRecord& oSnapshot,
                   const std::string& sHostIdentifier = "") {
    ExpectPasswordNeverShown();  // in the record about to be replaced
    m_oRecord = zkref::MemSnapInfo(&m_oDatabase);
    m_oRecord.sSourceDevice = oSnapshot.sSource;
    m_oRecord.sBoundArray = "filer1";
    m_oRecord.sSnapName = oSnapshot.sSnapName;
    m_oRecord.sHostIdentifier = sHostIdentifier;
    m_oRecord.mMetaData[SM_MDT_FS_INFO] = oSnapshot.sFSInfo;
    m_oRecord.mMetaData[SM_MDT_SNAP_UUID] = oSnapshot.sSnapUUID;
    m_oRecord.nStatus = ZKSO::SNAP_SUCCESS;
  }

  // Runs map as the entry point does; the step that failed, "" when the
  // record was mapped.
  std::string Map(const std::string& sMountHost = kClientHost) {
    CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_MAP);
    if (!pDevice || !pDevice->PreOperation()) return "PreOperation";
    ManageCelerra oClient = ClientFor(*pDevice);
    if (!pDevice->CreateRWChkPt(oClient)) return "CreateRWChkPt";
    if (!pDevice->ExposeChkPt(oClient, sMountHost)) return "ExposeChkPt";
    pDevice->setSnapDevice();
    if (!pDevice->PostOperation(ZKSO::MAP_SUCCESS)) return "PostOperation";
    return "";
  }
  // Runs unmap as the entry point does; the step that failed, "" when the
  // record was unmapped.
  std::string Unmap() {
    CelerraSnapDevicePtr pDevice = MakeDevice(SNAP_OP_UNMAP);
    if (!pDevice || !pDevice->PreOperation()) return "PreOperation";
    ManageCelerra oClient = ClientFor(*pDevice);
    if (!pDevice->UnExposeChkPt(oClient)) return "UnExposeChkPt";
    if (!pDevice->PostOperation(ZKSO::UNMAP_SUCCESS)) return "PostOperation";
    return "";
  }

  // The journal entry of the first command named sCommand ("" when none).
  static std::string JournalOf(const std::string& sCommand) {
    for (const std::string& sLine : Journal()) {
      if (sLine.compare(0, sCommand.size() + 1, sCommand + " ") == 0) {
        return sLine;
      }
    }
    return "";
  }

  // The export of sPath; an empty view when there is none.
  static zkfiler::ExportView ExportOf(const std::string& sPath) {
    for (const auto& oExport : Exports()) {
      if (oExport.path == sPath) return oExport;
    }
    return zkfiler::ExportView();
  }

  ScopedHostsFile m_oHosts;
};

}  // namespace zktest

#endif  // ZK_TESTS_DEVICE_SNAPSHOTSERVERTESTSUPPORT_H_
