// SPDX-License-Identifier: Apache-2.0
// Fuzzes the readers of the metadata texts a device keeps in its host record
// (SM_MDT_FS_INFO, SM_MDT_SNAP_UUID, SM_MDT_SNAP_MOUNT, and the intent,
// SM_MDT_CELERRA_INTENT), for the NFS and native kinds and the common file
// system form:
//   - each reader on the whole input: no crash, no undefined behaviour;
//   - a file system text that reads is written back, and the written text
//     reads again and writes the same text;
//   - a snap UUID text that reads is stored by its writer and reads back
//     the same name;
//   - a mount text that reads names a non-empty checkpoint and id that the
//     text starts with;
//   - members set from the input's 0x01-separated pieces (each kind's file
//     system members) are stored by UpdateFSMetaData, which refuses exactly
//     the values holding "|"; what it stores reads back, into a new device
//     of the kind, as the same members whenever the required ones are set;
//   - the intent's text reads or is refused, and any bytes survive it;
//   - the input split at NUL bytes into the three stored texts drives
//     PreOperation of snap, delete and unmap as a later call would: the
//     failure status is on the record when it fails, and PostOperation
//     stores what unmap changes when it succeeds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzNoResolver.h"
#include "FuzzSupport.h"
#include "device/CelerraSnapDevice.h"
#include "device/CelerraSnapDeviceNAS.h"
#include "device/CelerraSnapDeviceNfs.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"

// Reads the members the readers fill. The device classes befriend a class of
// this name for inspection; this target defines its own.
class CelerraSnapDeviceTestPeer {
 public:
  explicit CelerraSnapDeviceTestPeer(CelerraSnapDevice* pDevice)
      : m_pDevice(pDevice) {}
  const std::string& ChkptId() const { return m_pDevice->m_sChkptId; }
  const std::string& BaselineChkptId() const {
    return m_pDevice->m_sBaselineChkptId;
  }
  const std::string& RWChkptName() const { return m_pDevice->m_sRWChkptName; }
  const std::string& RWChkptId() const { return m_pDevice->m_sRWChkptId; }
  _CelerraStorageResource& StorageResource() {
    return m_pDevice->m_oStorageResource;
  }
  std::string& ArrayIdentifier() { return m_pDevice->m_sArrayIdentifier; }

  // The file system members of the kind, in stored order; NAS members are
  // followed by the on-VDM flag and the mover's mount path.
  std::vector<std::string*> KindMembers() {
    if (auto* p = dynamic_cast<CelerraSnapDeviceNfs*>(m_pDevice)) {
      return {&p->m_sTargetHostName, &p->m_sMoverId, &p->m_sShareName};
    }
    if (auto* p = dynamic_cast<CelerraSnapDeviceNAS*>(m_pDevice)) {
      return {&p->m_sTargetHostName, &p->m_sPath, &p->m_sFSName, &p->m_sVdmId,
              &p->m_sMountPath};
    }
    return {};
  }
  bool* NASIsVdm() {
    auto* p = dynamic_cast<CelerraSnapDeviceNAS*>(m_pDevice);
    return p == nullptr ? nullptr : &p->m_bIsVdm;
  }
  const std::string* NASMoverMountPath() {
    auto* p = dynamic_cast<CelerraSnapDeviceNAS*>(m_pDevice);
    return p == nullptr ? nullptr : &p->m_sMoverMountPath;
  }

 private:
  CelerraSnapDevice* m_pDevice;  // borrowed
};

namespace {

const size_t npos = std::string::npos;
const char kArrayName[] = "cs";

// The array management database every record is bound to.
const zkref::ArrayDatabase& Database() {
  static const zkref::ArrayDatabase* pDatabase = [] {
    auto* p = new zkref::ArrayDatabase();
    zkref::ArrayEntry oEntry;
    oEntry.sName = kArrayName;
    oEntry.sArrayInfo = zkref::ArrayDatabase::FormArrayInfo(
        "array-1", "Dell EMC VNX / Celerra", "cs1", "nasadmin", "pw-fuzz");
    p->Add(oEntry);
    return p;
  }();
  return *pDatabase;
}

std::string SourceIdentifier(const char* pszType) {
  _CelerraSnapDeviceIdentifier o;
  o.sType = pszType;
  o.sLunUUID = "/fs1/a";
  o.sTargetHostName = "filer1";
  o.sPath = "/fs1/a";
  o.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(o);
}

// One host record as a later call finds it, and the device made from it.
struct Fixture {
  Fixture(const char* pszType, _SnapOperationType eOperation)
      : oRecord(&Database()), oOSUtil(77) {
    oRecord.sSourceDevice = SourceIdentifier(pszType);
    oRecord.sSnapName = "snap_1";
    oRecord.sBoundArray = kArrayName;
    oRecord.nStatus = ZKSO::SNAP_SUCCESS;
    pDevice.reset(
        CelerraSnapDevice::GetInstance(&oRecord, &oOSUtil, eOperation));
    FUZZ_CHECK(pDevice != nullptr);
  }

  zkref::MemSnapInfo oRecord;
  zkref::MemOSUtil oOSUtil;
  CelerraSnapDevicePtr pDevice;
};

const char* const kKinds[] = {"nfs", "native_celerra"};

// Parses sText with the kind's reader (bBase: the common form) from
// position 0; the position never moves past the text.
bool ParseFS(CelerraSnapDevice* pDevice, bool bBase, const std::string& sText) {
  unsigned long nPosition = 0;
  const bool bOk =
      bBase ? pDevice->CelerraSnapDevice::ParseFSMetaData(sText, nPosition)
            : pDevice->ParseFSMetaData(sText, nPosition);
  FUZZ_CHECK(nPosition == npos || nPosition <= sText.size());
  return bOk;
}

std::string WriteFS(CelerraSnapDevice* pDevice, bool bBase) {
  return bBase ? pDevice->CelerraSnapDevice::GetFSMetaData()
               : pDevice->GetFSMetaData();
}

void CheckFSRoundTrip(const char* pszKind, bool bBase,
                      const std::string& sText) {
  Fixture oFirst(pszKind, SNAP_OP_SNAP);
  if (!ParseFS(oFirst.pDevice.get(), bBase, sText)) return;
  const std::string sWritten = WriteFS(oFirst.pDevice.get(), bBase);
  Fixture oSecond(pszKind, SNAP_OP_SNAP);
  FUZZ_CHECK(ParseFS(oSecond.pDevice.get(), bBase, sWritten));
  FUZZ_CHECK(WriteFS(oSecond.pDevice.get(), bBase) == sWritten);
}

// Members from pieces of sText (no NUL: the host keeps C strings), written
// by the kind's writer and read back by a new device of the kind.
void CheckFSWriter(const char* pszKind, const std::string& sText) {
  const std::vector<std::string> v = FuzzFields(sText, '\x01', 9);
  Fixture oFirst(pszKind, SNAP_OP_PREPARE);
  CelerraSnapDeviceTestPeer oPeer(oFirst.pDevice.get());
  _CelerraStorageResource& oResource = oPeer.StorageResource();
  oResource.sPFSId = v[0];
  // Any 32-bit value: the writer prints it in decimal.
  uint32_t nType = 0;
  for (size_t i = 0; i < v[1].size() && i < 4; ++i) {
    nType = (nType << 8) | static_cast<unsigned char>(v[1][i]);
  }
  oResource.eStorageType = static_cast<eCelerraStgType>(nType);
  oResource.sStorageExtra = v[2];
  std::vector<std::string*> vMembers = oPeer.KindMembers();
  for (size_t i = 0; i < vMembers.size(); ++i) *vMembers[i] = v[3 + i];
  const bool bIsVdm = !v[8].empty() && (v[8][0] & 1) != 0;
  if (oPeer.NASIsVdm() != nullptr) *oPeer.NASIsVdm() = bIsVdm;

  bool bSeparator = false;
  for (size_t i = 0; i < 3 + vMembers.size(); ++i) {
    if (i != 1 && v[i].find('|') != npos) bSeparator = true;
  }
  const bool bStored = oFirst.pDevice->UpdateFSMetaData();
  FUZZ_CHECK(bStored == !bSeparator);
  if (!bStored) {
    FUZZ_CHECK(oFirst.oRecord.mMetaData.count(SM_MDT_FS_INFO) == 0);
    return;
  }
  const std::string sStored = oFirst.oRecord.mMetaData[SM_MDT_FS_INFO];
  FUZZ_CHECK(sStored == oFirst.pDevice->GetFSMetaData());

  // The members a reader requires.
  bool bRequired = !v[0].empty() && !v[2].empty();
  if (std::string(pszKind) == "nfs") {
    bRequired = bRequired && !v[4].empty() && !v[5].empty();
  } else {
    bRequired = bRequired && !v[3].empty() && !v[4].empty() && !v[6].empty();
  }
  Fixture oSecond(pszKind, SNAP_OP_DELETE);
  CelerraSnapDeviceTestPeer oRead(oSecond.pDevice.get());
  const bool bRead = oSecond.pDevice->ParseFSMetaData(sStored);
  FUZZ_CHECK(bRead == bRequired);
  if (!bRead) return;
  const _CelerraStorageResource& oBack = oRead.StorageResource();
  FUZZ_CHECK(oBack.sPFSId == oResource.sPFSId);
  FUZZ_CHECK(oBack.eStorageType == oResource.eStorageType);
  FUZZ_CHECK(oBack.sStorageExtra == oResource.sStorageExtra);
  std::vector<std::string*> vBack = oRead.KindMembers();
  FUZZ_CHECK(vBack.size() == vMembers.size());
  for (size_t i = 0; i < vBack.size(); ++i) {
    FUZZ_CHECK(*vBack[i] == *vMembers[i]);
  }
  // The file server is named by the stored target host name.
  FUZZ_CHECK(oRead.ArrayIdentifier() == v[3]);
  if (oRead.NASIsVdm() != nullptr) {
    FUZZ_CHECK(*oRead.NASIsVdm() == bIsVdm);
    FUZZ_CHECK(*oRead.NASMoverMountPath() ==
               (bIsVdm ? "/root_vdm_" + v[6] + v[7] : v[7]));
  }
}

// sText: as the host hands it over (no NUL).
void CheckSnapUUID(const std::string& sText) {
  Fixture oFirst("nfs", SNAP_OP_DELETE);
  CelerraSnapDevice* pDevice = oFirst.pDevice.get();
  CelerraSnapDeviceTestPeer oPeer(pDevice);
  if (!pDevice->ParseSnapUUID(sText)) {
    FUZZ_CHECK(pDevice->GetChkptName().empty() || oPeer.ChkptId().empty());
    return;
  }
  const std::string sName = pDevice->GetChkptName();
  const std::string sId = oPeer.ChkptId();
  FUZZ_CHECK(!sName.empty() && !sId.empty());
  FUZZ_CHECK(
      sText.compare(0, sName.size() + 1 + sId.size(), sName + "|" + sId) == 0);
  FUZZ_CHECK(oPeer.BaselineChkptId().find('|') == npos);

  FUZZ_CHECK(pDevice->UpdateSnapUUIDMetaData());
  const std::string sStored = oFirst.oRecord.mMetaData[SM_MDT_SNAP_UUID];
  Fixture oSecond("nfs", SNAP_OP_DELETE);
  FUZZ_CHECK(oSecond.pDevice->ParseSnapUUID(sStored));
  FUZZ_CHECK(oSecond.pDevice->GetChkptName() == sName);
  FUZZ_CHECK(CelerraSnapDeviceTestPeer(oSecond.pDevice.get()).ChkptId() == sId);
  FUZZ_CHECK(oSecond.pDevice->UpdateSnapUUIDMetaData());
  FUZZ_CHECK(oSecond.oRecord.mMetaData[SM_MDT_SNAP_UUID] == sStored);
}

void CheckMountInfo(const std::string& sText) {
  Fixture oFixture("nfs", SNAP_OP_UNMAP);
  CelerraSnapDeviceTestPeer oPeer(oFixture.pDevice.get());
  if (!oFixture.pDevice->ParseMountInfo(sText)) return;
  const std::string& sName = oPeer.RWChkptName();
  const std::string& sId = oPeer.RWChkptId();
  FUZZ_CHECK(!sName.empty() && !sId.empty());
  FUZZ_CHECK(sName.find('|') == npos && sId.find('|') == npos);
  const std::string sPrefix = sName + "|" + sId;
  FUZZ_CHECK(sText.compare(0, sPrefix.size(), sPrefix) == 0);
  FUZZ_CHECK(sText.size() == sPrefix.size() || sText[sPrefix.size()] == '|');
}

// The stored texts of one record: the input's NUL-separated pieces.
std::vector<std::string> StoredTexts(const std::string& sText) {
  std::vector<std::string> v(3);
  size_t nPiece = 0;
  for (char c : sText) {
    if (c == '\0') {
      if (++nPiece == v.size()) break;
      continue;
    }
    v[nPiece] += c;
  }
  return v;
}

void CheckOperation(const char* pszKind, _SnapOperationType eOperation,
                    int nFailedStatus, int nSuccessStatus,
                    const std::vector<std::string>& vStored) {
  Fixture o(pszKind, eOperation);
  const int aTypes[] = {SM_MDT_FS_INFO, SM_MDT_SNAP_UUID, SM_MDT_SNAP_MOUNT};
  for (size_t i = 0; i < vStored.size(); ++i) {
    if (!vStored[i].empty()) o.oRecord.mMetaData[aTypes[i]] = vStored[i];
  }
  CelerraSnapDevice* pDevice = o.pDevice.get();
  if (!pDevice->PreOperation()) {
    FUZZ_CHECK(o.oRecord.nStatus == nFailedStatus);
    return;
  }
  // What was read writes back as a text that reads again.
  const std::string sFS = pDevice->GetFSMetaData();
  Fixture oAgain(pszKind, SNAP_OP_SNAP);
  FUZZ_CHECK(oAgain.pDevice->ParseFSMetaData(sFS));

  CelerraSnapDeviceTestPeer oPeer(pDevice);
  const std::string sBaseline = oPeer.BaselineChkptId();
  const std::string sName = pDevice->GetChkptName();
  if (eOperation == SNAP_OP_SNAP) pDevice->SetChkptID("42");
  FUZZ_CHECK(
      pDevice->PostOperation(static_cast<ZKSO::SnapStatus>(nSuccessStatus)));
  FUZZ_CHECK(o.oRecord.nStatus == nSuccessStatus);
  if (eOperation == SNAP_OP_SNAP) {
    FUZZ_CHECK(o.oRecord.mMetaData[SM_MDT_SNAP_UUID] == "snap_1|42|");
  }
  if (eOperation == SNAP_OP_UNMAP) {
    if (!sBaseline.empty()) {
      // The mounted snapshot was the writable checkpoint; its baseline is
      // the snapshot from now on.
      FUZZ_CHECK(o.oRecord.mMetaData[SM_MDT_SNAP_UUID] ==
                 sName + "|" + sBaseline + "|");
    } else {
      FUZZ_CHECK(o.oRecord.mMetaData.count(SM_MDT_SNAP_MOUNT) == 0);
    }
  }
}

// The record's intent (SM_MDT_CELERRA_INTENT): any text either reads or is
// refused with a reason and an empty intent; what reads is written again as
// a text that reads back to the same intent; and the input's 0x01-separated
// pieces, as names, paths and hosts of any bytes, survive a write and a
// read unchanged.
void CheckIntent(const std::string& sText) {
  _CelerraIntent oRead;
  std::string sWhy;
  if (!ParseIntent(sText, &oRead, &sWhy)) {
    FUZZ_CHECK(oRead.Empty() && !sWhy.empty());
  } else {
    const std::string sWritten = FormatIntent(oRead);
    _CelerraIntent oAgain;
    FUZZ_CHECK(ParseIntent(sWritten, &oAgain, &sWhy));
    FUZZ_CHECK(FormatIntent(oAgain) == sWritten);
  }
  std::vector<std::string> vPieces(1);
  for (char c : sText) {
    if (c == '\x01') {
      vPieces.emplace_back();
    } else {
      vPieces.back() += c;
    }
  }
  vPieces.resize(4);
  _CelerraIntent oMade;
  oMade.bRWChkpt = true;
  oMade.sRWName = vPieces[0];
  oMade.sRWPFSId = vPieces[1];
  oMade.sRWBaselineId = vPieces[2];
  oMade.bExport = true;
  oMade.oExport.sSharePath = vPieces[1];
  oMade.oExport.sMoverId = vPieces[0];
  if (!vPieces[3].empty()) oMade.oExport.oHosts.vAccessHosts = {vPieces[3]};
  _CelerraIntent oBack;
  FUZZ_CHECK(ParseIntent(FormatIntent(oMade), &oBack, &sWhy));
  FUZZ_CHECK(
      oBack.sRWName == oMade.sRWName && oBack.sRWPFSId == oMade.sRWPFSId &&
      oBack.sRWBaselineId == oMade.sRWBaselineId &&
      oBack.oExport.sSharePath == oMade.oExport.sSharePath &&
      oBack.oExport.sMoverId == oMade.oExport.sMoverId &&
      oBack.oExport.oHosts.vAccessHosts == oMade.oExport.oHosts.vAccessHosts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  // Captures (and so formats) every line, and keeps them off stderr.
  static ZkCaptureLogSink* pSink = new ZkCaptureLogSink();
  const std::string sText = FuzzText(pData, nSize);
  const std::string sHostText = FuzzCString(pData, nSize);

  for (const char* pszKind : kKinds) {
    CheckFSRoundTrip(pszKind, false, sText);
  }
  CheckFSRoundTrip("nfs", true, sText);
  for (const char* pszKind : kKinds) {
    CheckFSWriter(pszKind, sHostText);
  }
  CheckSnapUUID(sHostText);
  CheckMountInfo(sText);
  CheckIntent(sText);

  const std::vector<std::string> vStored = StoredTexts(sText);
  for (const char* pszKind : kKinds) {
    CheckOperation(pszKind, SNAP_OP_SNAP, ZKSO::SNAP_STATUS_UNKNOWN,
                   ZKSO::SNAP_SUCCESS, vStored);
    CheckOperation(pszKind, SNAP_OP_DELETE, ZKSO::DELETE_FAILED,
                   ZKSO::DELETE_SUCCESS, vStored);
    CheckOperation(pszKind, SNAP_OP_UNMAP, ZKSO::UNMAP_FAILED,
                   ZKSO::UNMAP_SUCCESS, vStored);
  }
  pSink->Clear();
  return 0;
}
