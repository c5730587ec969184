// SPDX-License-Identifier: Apache-2.0
// Fuzzes whole operations: one host record made of fuzzed texts (source
// device identifier, host identifier, stored metadata, snap name) and a
// fuzzed array information entry goes through a fuzzed sequence of exported
// functions against the in-memory simulated file server, carried from call
// to call the way a host keeps records. After every call:
//   - no record ends at a success status that the file server's state
//     contradicts: a prepared record names an existing file system, a
//     snapped or reverted one an existing checkpoint, a mapped one an
//     existing writable checkpoint and export, an unmapped one neither its
//     export nor its mount metadata, a deleted one no longer its checkpoint,
//     a reconciled one that is "not found" really is not there;
//   - the call's result agrees with the record's status;
//   - neither the file server's password nor the host identifier's appears
//     in any log line, job log line or reason message.
//
// Input: NUL-separated fields
//   0 operations, one letter each: p prepare, s snap, m map, u unmap,
//     d delete, r revert, c reconcile, x unprepare, i isSupported,
//     k isMapped (other bytes are skipped; at most 8 calls)
//   1 source device identifier
//   2 host identifier
//   3 array information of the file server's entry ("" = the valid one)
//   4, 5, 6 stored SM_MDT_FS_INFO, SM_MDT_SNAP_UUID, SM_MDT_SNAP_MOUNT
//     ("" = none)
//   7 snap name ("" = "nightly")
//   8 flags: byte 0 the record's array binding (bit 0 bound to the entry,
//     bit 1 to an entry of an unknown control host) and byte 1 the mount
//     request source
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "FuzzNoResolver.h"
#include "FuzzSupport.h"
#include "device/CelerraSnapDevice.h"
#include "filer/FilerSim.h"
#include "host/ZKSnapPlugin.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"
#include "tests/testclock/ZkTestClock.h"
#include "utils/CelerraUtils.h"

namespace {

const size_t npos = std::string::npos;
const char kControlHost[] = "cs1.zk.test";
const char kFilerName[] = "nas1.zk.test";
const char kUnknownFiler[] = "nas9.zk.test";  // control host not installed
const char kPassword[] = "Fz-Pw#7731-secret";
const char kHostIdPassword[] = "Esx-Pw#9182-secret";
const char kVendor[] = "Dell EMC VNX / Celerra";

// Process-wide settings: names the plug-in resolves, the local host name,
// and a CIFS server cache that never outlives one input.
void SetUpProcess() {
  char aPath[] = "/tmp/zk-ops-fuzz-hosts-XXXXXX";
  const int nFd = mkstemp(aPath);
  FUZZ_CHECK(nFd >= 0);
  const std::string sHosts =
      "10.11.12.13 nas1.zk.test\n10.11.12.14 nas1-vdm.zk.test\n"
      "10.11.20.9 esx1.zk.test\n10.11.30.5 backup1.zk.test\n";
  FUZZ_CHECK(write(nFd, sHosts.data(), sHosts.size()) ==
             static_cast<ssize_t>(sHosts.size()));
  close(nFd);
  static std::string sHostsFile = aPath;
  std::atexit([] { unlink(sHostsFile.c_str()); });
  setenv("ZK_HOSTS_FILE", aPath, 1);
  zktest::FixHostName("backup1.zk.test");
  FUZZ_CHECK(zkfiler::UseInMemoryStore().ok());
}

zkfiler::ServerLayout FileServer() {
  zkfiler::ServerLayout oLayout(kControlHost, "nasadmin", kPassword);
  oLayout.Mover("2", {"10.11.12.13"})
      .Vdm("3", "2")
      .FileSystem("101", "fs1", "2", "/fs1")
      .FileSystem("102", "fs2", "2", "/fs2")
      .FileSystem("103", "fs3", "3", "/fs3", true)
      .Export("/fs1", "2", {"10.11.12.99"})
      .CifsServer("cifs1", "2", "10.11.12.13")
      .CifsServer("cifsvdm", "3", "10.11.12.14", true)
      .CifsShare("share1", "102", "2");
  for (auto& oFs : oLayout.file_systems) oFs.storage_extra = "pool_gold";
  // A snapshot and a writable checkpoint of it, with ids stored texts can
  // name.
  oLayout.checkpoints.push_back({"snap_1", "101", "501", ""});
  oLayout.checkpoints.push_back({"snap_1_rw", "101", "502", "snap_1"});
  return oLayout;
}

// What a host keeps of a record between calls.
struct Kept {
  std::string sSourceDevice, sSnapName, sSnapDevice, sHostIdentifier;
  std::string sBoundArray;
  std::map<int, std::string> mMetaData;
  std::map<int, int> mIntValues;
  int nStatus = ZKSO::SNAP_STATUS_UNKNOWN;
};

void Restore(const Kept& o, zkref::MemSnapInfo& oRecord) {
  oRecord.sSourceDevice = o.sSourceDevice;
  oRecord.sSnapName = o.sSnapName;
  oRecord.sSnapDevice = o.sSnapDevice;
  oRecord.sHostIdentifier = o.sHostIdentifier;
  oRecord.sBoundArray = o.sBoundArray;
  oRecord.mMetaData = o.mMetaData;
  oRecord.mIntValues = o.mIntValues;
  oRecord.nStatus = o.nStatus;
}

Kept Keep(const zkref::MemSnapInfo& oRecord) {
  return {oRecord.sSourceDevice,   oRecord.sSnapName,   oRecord.sSnapDevice,
          oRecord.sHostIdentifier, oRecord.sBoundArray, oRecord.mMetaData,
          oRecord.mIntValues,      oRecord.nStatus};
}

std::vector<std::string> Fields(const std::string& sText) {
  std::vector<std::string> v;
  size_t nPos = 0;
  for (;;) {
    std::string s = CelerraUtils::GetNextSeparatedValue(sText, nPos, '|');
    if (nPos == npos && s.empty()) break;
    v.push_back(s);
    if (nPos == npos) break;
  }
  return v;
}

std::string MetaData(const Kept& o, int nType) {
  auto it = o.mMetaData.find(nType);
  return it == o.mMetaData.end() ? std::string() : it->second;
}

// The control host the record's array entry names, as the plug-in reads it.
std::string ControlHostOf(const zkref::ArrayDatabase& oDatabase,
                          const std::string& sBoundArray) {
  const zkref::ArrayEntry* pEntry = oDatabase.Find(sBoundArray);
  if (pEntry == nullptr) return std::string();
  static FuzzOSUtil oOSUtil;
  CelerraUtils oUtils(&oOSUtil, false);
  std::string sArrayId;
  _CelerraArrayCredentials oCreds;
  oUtils.ParseArrayInfo(pEntry->sArrayInfo.c_str(), sArrayId, oCreds);
  return oCreds.sHostName;
}

// True when the file server holds a checkpoint of that name, whatever its id.
bool CheckpointNamed(const std::string& sHost, const std::string& sName) {
  std::vector<zkfiler::CheckpointView> v;
  FUZZ_CHECK(zkfiler::ListCheckpoints(sHost, &v).ok());
  for (const auto& o : v) {
    if (o.control_host == sHost && o.name == sName) return true;
  }
  return false;
}

bool CheckpointExists(const std::string& sHost, const std::string& sId,
                      const std::string& sName = "",
                      zkfiler::CheckpointView* pFound = nullptr) {
  std::vector<zkfiler::CheckpointView> v;
  FUZZ_CHECK(zkfiler::ListCheckpoints(sHost, &v).ok());
  for (const auto& o : v) {
    if (o.control_host == sHost && o.id == sId &&
        (sName.empty() || o.name == sName)) {
      if (pFound != nullptr) *pFound = o;
      return true;
    }
  }
  return false;
}

bool ExportExists(const std::string& sHost, const std::string& sPath) {
  std::vector<zkfiler::ExportView> v;
  FUZZ_CHECK(zkfiler::ListExports(sHost, &v).ok());
  for (const auto& o : v) {
    if (o.control_host == sHost && o.path == sPath) return true;
  }
  return false;
}

int64_t Restores(const std::string& sHost, const std::string& sFsId) {
  zkfiler::FileSystemDef oFs;
  if (!zkfiler::GetFileSystem(sHost, sFsId, &oFs).ok()) return -1;
  return oFs.restores;
}

std::string CloneExportPath(const std::string& sSnapDevice) {
  _CelerraSnapDeviceIdentifier o;
  CelerraUtils::ParseDeviceIdentifier(sSnapDevice, o);
  return o.sExportPath.empty() ? o.sLunUUID : o.sExportPath;
}

int SuccessStatus(char cOp) {
  switch (cOp) {
    case 'p':
      return ZKSO::READY_FOR_SNAP;
    case 's':
      return ZKSO::SNAP_SUCCESS;
    case 'm':
      return ZKSO::MAP_SUCCESS;
    case 'u':
      return ZKSO::UNMAP_SUCCESS;
    case 'd':
      return ZKSO::DELETE_SUCCESS;
    case 'r':
      return ZKSO::REVERT_SUCCESS;
  }
  return -100;
}

// Every operation export has this type.
using Operation = ZKSO::Fn::zkso_snapDevices;

Operation OperationOf(char cOp) {
  switch (cOp) {
    case 'p':
      return zkso_prepareDevices;
    case 's':
      return zkso_snapDevices;
    case 'm':
      return zkso_mapSnaps;
    case 'u':
      return zkso_unmapSnaps;
    case 'd':
      return zkso_deleteSnaps;
    case 'r':
      return zkso_revertSnaps;
    case 'c':
      return zkso_reconcileSnaps;
    case 'x':
      return zkso_unprepareDevices;
    case 'k':
      return zkso_isMapped;
  }
  return nullptr;
}

// The checks of one call. oBefore: the record as the host handed it over.
void CheckCall(char cOp, ZKSO::ResultCode eResult, const Kept& oBefore,
               const zkref::MemSnapInfo& oRecord, const std::string& sHost,
               int64_t nRestoresBefore) {
  const Kept oAfter = Keep(oRecord);
  const int nStatus = oAfter.nStatus;
  const int nSuccess = SuccessStatus(cOp);
  const bool bWrote = !oRecord.vStatusHistory.empty();

  if (cOp == 'x' || cOp == 'k') {
    FUZZ_CHECK(eResult == ZKSO::RESULT_SUCCESS);
    return;
  }
  if (cOp != 'c') {
    // One record: success means its success status, failure the opposite.
    if (eResult == ZKSO::RESULT_SUCCESS) FUZZ_CHECK(nStatus == nSuccess);
    if (nStatus == nSuccess && bWrote) {
      FUZZ_CHECK(eResult == ZKSO::RESULT_SUCCESS);
    }
    FUZZ_CHECK(eResult != ZKSO::RESULT_PARTIAL_SUCCESS);
  }
  // Only a status this call wrote is its claim (reconcile writes only
  // SNAP_NOT_FOUND).
  if (!bWrote) return;

  // Later calls name the snapshot by the host's snap name (which prepare
  // and snap set to the checkpoint name) and the stored checkpoint id.
  const std::vector<std::string> vUUID =
      Fields(MetaData(oAfter, SM_MDT_SNAP_UUID));
  const std::string& sName = oAfter.sSnapName;
  switch (nStatus) {
    case ZKSO::READY_FOR_SNAP: {
      if (cOp != 'p') break;
      // UNC shares are prepared without file system metadata.
      _CelerraSnapDeviceIdentifier oId;
      CelerraUtils::ParseDeviceIdentifier(oAfter.sSourceDevice, oId);
      if (CelerraUtils::StringToDeviceType(oId.sType) == CELERRA_DEVICE_UNC) {
        break;
      }
      zkref::MemSnapInfo oCopy;
      Restore(oAfter, oCopy);
      zkref::MemOSUtil oOSUtil(78);
      CelerraSnapDevicePtr pDevice(
          CelerraSnapDevice::GetInstance(&oCopy, &oOSUtil, SNAP_OP_DELETE));
      FUZZ_CHECK(pDevice != nullptr);
      FUZZ_CHECK(pDevice->ParseFSMetaData(MetaData(oAfter, SM_MDT_FS_INFO)));
      zkfiler::FileSystemDef oFs;
      FUZZ_CHECK(zkfiler::GetFileSystem(
                     sHost, pDevice->GetStorageResource().sPFSId, &oFs)
                     .ok());
      break;
    }
    case ZKSO::SNAP_SUCCESS:
      if (cOp != 's') break;
      FUZZ_CHECK(vUUID.size() >= 2);
      FUZZ_CHECK(CheckpointExists(sHost, vUUID[1], sName));
      break;
    case ZKSO::REVERT_SUCCESS: {
      if (cOp != 'r') break;
      FUZZ_CHECK(vUUID.size() >= 2);
      zkfiler::CheckpointView oChkpt;
      FUZZ_CHECK(CheckpointExists(sHost, vUUID[1], sName, &oChkpt));
      FUZZ_CHECK(Restores(sHost, oChkpt.fs_id) > nRestoresBefore);
      break;
    }
    case ZKSO::MAP_SUCCESS: {
      if (cOp != 'm') break;
      const std::vector<std::string> vMount =
          Fields(MetaData(oAfter, SM_MDT_SNAP_MOUNT));
      if (vUUID.size() >= 3 && !vUUID[2].empty()) {
        // A snapshot with a baseline is writable already and is mounted as
        // it is, found by its name (the stored id is not asked for). It
        // writes no mount metadata, so whatever the record held stays.
        FUZZ_CHECK(CheckpointNamed(sHost, sName));
      } else {
        FUZZ_CHECK(vMount.size() == 2);
        FUZZ_CHECK(CheckpointExists(sHost, vMount[1], vMount[0]));
      }
      FUZZ_CHECK(!oAfter.sSnapDevice.empty());
      FUZZ_CHECK(ExportExists(sHost, CloneExportPath(oAfter.sSnapDevice)));
      break;
    }
    case ZKSO::UNMAP_SUCCESS: {
      if (cOp != 'u') break;
      // A snapshot with a baseline was mounted as it is: its unmap neither
      // reads nor removes mount metadata (none is written for it).
      const std::vector<std::string> vUUIDBefore =
          Fields(MetaData(oBefore, SM_MDT_SNAP_UUID));
      if (vUUIDBefore.size() < 3 || vUUIDBefore[2].empty()) {
        FUZZ_CHECK(oAfter.mMetaData.count(SM_MDT_SNAP_MOUNT) == 0);
      }
      if (oBefore.nStatus == ZKSO::MAP_SUCCESS) {
        FUZZ_CHECK(!ExportExists(sHost, CloneExportPath(oBefore.sSnapDevice)));
      }
      break;
    }
    case ZKSO::DELETE_SUCCESS:
      if (cOp != 'd') break;
      // A record whose preparation failed is simply marked deleted.
      if (oBefore.nStatus == ZKSO::READY_FOR_SNAP_FAILED) break;
      FUZZ_CHECK(vUUID.size() >= 2);
      FUZZ_CHECK(!CheckpointExists(sHost, vUUID[1], sName));
      break;
    case ZKSO::SNAP_NOT_FOUND: {
      if (cOp != 'c') break;
      // Reconcile finds a snapshot only by its id, name and baseline id
      // together.
      FUZZ_CHECK(vUUID.size() >= 2);
      zkfiler::CheckpointView oChkpt;
      const std::string sBaseline = vUUID.size() >= 3 ? vUUID[2] : "";
      FUZZ_CHECK(!CheckpointExists(sHost, vUUID[1], sName, &oChkpt) ||
                 oChkpt.baseline_id != sBaseline);
      break;
    }
    default:
      break;
  }
}

// A key/value text as its values read once decoded: a backslash stands for
// the character after it. A value the host gave may spell a secret only
// that way, and the plug-in logs values decoded.
std::string Unescaped(const std::string& sText) {
  std::string sOut;
  for (size_t i = 0; i < sText.size(); ++i) {
    if (sText[i] == '\\' && i + 1 < sText.size()) ++i;
    sOut.push_back(sText[i]);
  }
  return sOut;
}

// sPlain: the texts a secret may be logged with (the fields that carry no
// password, and the others around their passwords).
void CheckSecrets(const ZkCaptureLogSink& oSink,
                  const zkref::MemSnapInfo& oRecord,
                  const std::string& sPlain) {
  for (const char* pszSecret : {kPassword, kHostIdPassword}) {
    if (sPlain.find(pszSecret) != npos) continue;
    for (const ZkLogLine& o : oSink.Lines()) {
      FUZZ_CHECK_MSG(o.sText.find(pszSecret) == npos, o.ToString());
    }
    for (const auto& o : oRecord.vJobLog) {
      FUZZ_CHECK_MSG(o.sText.find(pszSecret) == npos, o.sText);
    }
    for (const auto& o : oRecord.vJPRHistory) {
      FUZZ_CHECK_MSG(o.second.find(pszSecret) == npos, o.second);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static ZkCaptureLogSink* pSink = new ZkCaptureLogSink();
  static const bool bReady = (SetUpProcess(), true);
  static long nNow = 1800000000;
  FUZZ_CHECK(bReady);

  const std::vector<std::string> v =
      FuzzFields(FuzzText(pData, nSize), '\0', 9);
  std::string sOps;
  for (char c : v[0]) {
    if (OperationOf(c) != nullptr || c == 'i') sOps += c;
    if (sOps.size() == 8) break;
  }
  if (sOps.empty()) return 0;

  // A fresh world, and a clock that has moved past the CIFS server cache.
  FUZZ_CHECK(zkfiler::Reset().ok());
  FUZZ_CHECK(zkfiler::Install(FileServer()).ok());
  nNow += 10;
  zktest::FixNow(nNow);

  zkref::ArrayDatabase oDatabase;
  oDatabase.Add({kFilerName,
                 {"10.11.12.13"},
                 v[3].empty() ? zkref::ArrayDatabase::FormArrayInfo(
                                    kFilerName, kVendor, kControlHost,
                                    "nasadmin", kPassword)
                              : v[3]});
  oDatabase.Add(
      {kUnknownFiler,
       {},
       zkref::ArrayDatabase::FormArrayInfo(
           kUnknownFiler, kVendor, "cs9.zk.test", "nasadmin", kPassword)});
  zkref::MemOSUtil oOSUtil(77);
  oOSUtil.SetConfig("nClearCelerraArrayMapSecs", "1");

  Kept oKept;
  oKept.sSourceDevice = v[1];
  oKept.sHostIdentifier = v[2];
  const int aTypes[] = {SM_MDT_FS_INFO, SM_MDT_SNAP_UUID, SM_MDT_SNAP_MOUNT};
  for (size_t i = 0; i < 3; ++i) {
    if (!v[4 + i].empty()) oKept.mMetaData[aTypes[i]] = v[4 + i];
  }
  oKept.sSnapName = v[7].empty() ? "nightly" : v[7];
  const unsigned char nBinding = v[8].empty() ? 0 : v[8][0];
  if (nBinding & 1) oKept.sBoundArray = kFilerName;
  if (nBinding & 2) oKept.sBoundArray = kUnknownFiler;
  if (v[8].size() > 1) {
    oKept.mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = v[8][1] % 4;
  }
  if (!oKept.mMetaData.empty()) oKept.nStatus = ZKSO::SNAP_SUCCESS;

  // Where a secret may be logged legitimately: the fields that carry no
  // password, and the two secret-carrying texts around their passwords.
  std::string sPlain = v[1] + '\x01' + Unescaped(v[1]);
  for (size_t i = 4; i < 8; ++i) sPlain += '\x01' + v[i];
  const std::string sHostIdPlain =
      FuzzOutside(v[2], FuzzHostIdPasswordSpans(v[2]));
  const std::string sArrayPlain =
      FuzzOutside(v[3], FuzzArrayInfoPasswordSpans(v[3]));
  sPlain += '\x01' + sHostIdPlain + '\x01' + Unescaped(sHostIdPlain);
  sPlain += '\x01' + sArrayPlain + '\x01' + Unescaped(sArrayPlain);

  for (char cOp : sOps) {
    pSink->Clear();
    if (cOp == 'i') {
      zkso_isSupported(oKept.sSourceDevice.c_str(), ZKSO::SNAP_TYPE_SNAPSHOT,
                       &oOSUtil, nullptr, 0);
      continue;
    }
    zkref::MemSnapInfo oRecord(&oDatabase);
    Restore(oKept, oRecord);
    const std::string sHostBefore = ControlHostOf(oDatabase, oKept.sBoundArray);
    // Restores of the file system the stored snapshot belongs to.
    int64_t nRestoresBefore = -1;
    const std::vector<std::string> vUUID =
        Fields(MetaData(oKept, SM_MDT_SNAP_UUID));
    zkfiler::CheckpointView oChkpt;
    if (vUUID.size() >= 2 &&
        CheckpointExists(sHostBefore, vUUID[1], oKept.sSnapName, &oChkpt)) {
      nRestoresBefore = Restores(sHostBefore, oChkpt.fs_id);
    }

    ZKSO::SnapInfo* apRecords[] = {&oRecord};
    const ZKSO::ResultCode eResult = OperationOf(cOp)(apRecords, 1, &oOSUtil);

    const std::string sHost = ControlHostOf(oDatabase, oRecord.sBoundArray);
    if (getenv("ZK_FUZZ_DUMP") != nullptr) {
      std::fprintf(stderr, "== %c -> result %d status %d\n%s", cOp,
                   static_cast<int>(eResult), oRecord.nStatus,
                   pSink->Dump().c_str());
      for (const auto& o : oRecord.vJobLog) {
        std::fprintf(stderr, "job %d %s\n", o.nLevel, o.sText.c_str());
      }
      for (const auto& o : oRecord.mMetaData) {
        std::fprintf(stderr, "meta %d [%s]\n", o.first, o.second.c_str());
      }
    }
    CheckCall(cOp, eResult, oKept, oRecord, sHost, nRestoresBefore);
    CheckSecrets(*pSink, oRecord, sPlain);
    oKept = Keep(oRecord);
  }
  pSink->Clear();
  return 0;
}
