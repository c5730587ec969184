// SPDX-License-Identifier: Apache-2.0
// Fuzzes the readers of device identifiers:
//   - the key/value codec: key lookup, identifier parsing, unescaping, the
//     tokenisers and the LUN serial derivation on any text, and the
//     write-then-read round trip of identifiers whose values hold no ",",
//     "{" or "}";
//   - the control host module's own reader (ParseDeviceIdentifier,
//     GetIdentifierFromUUID, DetermineControlHost, zkso_isSupported): it
//     reads each pair preceded by "," exactly as the codec does, and an
//     identifier written by the codec for a VMware NFS datastore is
//     supported with its host, path and volume;
//   - the UNC path split of UNC devices: server, share and the rest put
//     back together give the path from "UNC-NT_" on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "device/CelerraSnapDevice.h"
#include "device/CelerraSnapDeviceUNC.h"
#include "engine/ControlHost.h"
#include "host/ZKSnapPlugin.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"
#include "utils/CelerraUtils.h"

// Reads the members of a UNC device. The device classes befriend a class of
// this name for inspection; this target defines its own.
class CelerraSnapDeviceTestPeer {
 public:
  explicit CelerraSnapDeviceTestPeer(CelerraSnapDeviceUNC* pDevice)
      : m_pDevice(pDevice) {}
  const std::string& ArrayIdentifier() const {
    return m_pDevice->m_sArrayIdentifier;
  }
  const std::string& ServerName() const { return m_pDevice->m_sServerName; }
  const std::string& ShareName() const { return m_pDevice->m_sShareName; }
  const std::string& SharePath() const { return m_pDevice->m_sSharePath; }

 private:
  CelerraSnapDeviceUNC* m_pDevice;  // borrowed
};

namespace {

const size_t npos = std::string::npos;

void CheckLookups(const std::string& sText) {
  static const char* const apKeys[] = {"lunuuid", "type",   "kemtype",
                                       "path",    "vendor", ""};
  const bool bTrue = true;
  const bool bFalse = false;
  for (const char* pszKey : apKeys) {
    std::string sValue = "\x01untouched";
    const size_t nPos =
        CelerraUtils::GetJsonValue(sText, pszKey, sValue, bFalse, bTrue);
    if (nPos == npos) {
      FUZZ_CHECK(sValue == "\x01untouched");
    } else {
      FUZZ_CHECK(nPos <= sText.size());
      FUZZ_CHECK(sText.compare(nPos, sValue.size(), sValue) == 0);
    }
    std::string sDeformatted;
    CelerraUtils::GetJsonValue(sText, pszKey, sDeformatted, bTrue, bFalse);
  }
}

void CheckTokenisers(const std::string& sText) {
  size_t nPos = 0;
  size_t nTokens = 0;
  while (nPos != npos) {
    CelerraUtils::GetNextSeparatedValue(sText, nPos, '|');
    FUZZ_CHECK(++nTokens <= sText.size() + 1);
  }
  std::vector<std::string> v;
  FUZZ_CHECK(CelerraUtils::VectorizeString(sText, v, ','));
  std::string sJoined;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i > 0) sJoined += ',';
    sJoined += v[i];
  }
  FUZZ_CHECK(sJoined == sText);
}

void CheckEscaping(const std::string& sText) {
  const std::string sPlain = CelerraUtils::deformatString(sText, false);
  FUZZ_CHECK(sPlain == CelerraUtils::deformatString(sText, true));
  FUZZ_CHECK(sPlain.size() <= sText.size());
  FUZZ_CHECK(CelerraUtils::deformatString(CelerraUtils::formatString(sText),
                                          false) == sText);
}

// Value of ",key:" as the codec reads it when no "{key:" pair precedes the
// text's first ",key:" (then both readers look at the same pair); empty when
// absent. False when the two readers may look at different pairs.
bool CommaPairAsCodecReads(const std::string& sText, const std::string& sKey,
                           std::string& sValue) {
  const size_t nBrace = sText.find("{" + sKey + ":");
  const size_t nComma = sText.find("," + sKey + ":");
  sValue.clear();
  if (nComma == npos) return true;
  if (nBrace != npos) return false;
  const bool bDeformat = true;
  const bool bLogValue = false;
  CelerraUtils::GetJsonValue(sText, sKey, sValue, bDeformat, bLogValue);
  return true;
}

bool HasVMwareAndCelerra(const std::string& sText) {
  return cse_findi(sText, "vmware") != npos &&
         cse_findi(sText, "celerra") != npos;
}

// The control host module's reader on any text.
void CheckControlHost(const std::string& sText) {
  static FuzzOSUtil oOSUtil;
  std::string sId = "stale", sTargetId = "stale", sHost = "stale",
              sType = "stale";
  const bool bParsed =
      ParseDeviceIdentifier(77, sText, sId, sTargetId, sHost, sType);
  if (sText.empty()) {
    FUZZ_CHECK(!bParsed);
  } else {
    std::string sLunUUID, sCodecTarget, sCodecHost, sCodecType;
    const bool bSame =
        CommaPairAsCodecReads(sText, "lunuuid", sLunUUID) &&
        CommaPairAsCodecReads(sText, "targetidentifier", sCodecTarget) &&
        CommaPairAsCodecReads(sText, "targethostname", sCodecHost) &&
        CommaPairAsCodecReads(sText, "type", sCodecType);
    if (bSame) {
      FUZZ_CHECK(sType == sCodecType);
      FUZZ_CHECK(sHost == sCodecHost);
      if (sCodecType == "fc") {
        std::string sExpected;
        for (char c : sCodecTarget) {
          if (c != ':') sExpected += c;
        }
        cse_toupper(sExpected);
        FUZZ_CHECK(sTargetId == sExpected);
      } else {
        FUZZ_CHECK(sTargetId == sCodecTarget);
      }
      std::string sSerial;
      if (sCodecType == "nfs") {
        FUZZ_CHECK(bParsed && sId == sLunUUID);
      } else if (CelerraUtils::DeriveSerialFromUUID(sLunUUID, sSerial)) {
        FUZZ_CHECK(bParsed && sId == sSerial);
      } else {
        FUZZ_CHECK(!bParsed && sId.empty());
      }
    }
  }

  std::string sServer = "stale", sPath = "stale", sVolume = "stale";
  const bool bFound =
      DetermineControlHost(sText, &oOSUtil, sServer, sPath, sVolume);
  if (bFound) {
    FUZZ_CHECK(HasVMwareAndCelerra(sText) && bParsed && sType == "nfs");
    FUZZ_CHECK(!sServer.empty() && sServer == sHost);
    FUZZ_CHECK(!sPath.empty() && sPath == sId && sVolume == sId);
  } else if (!sServer.empty() || !sPath.empty() || !sVolume.empty()) {
    // A failure keeps what was set before it: only an "nfs" device sets
    // the outputs, from what the reader found.
    FUZZ_CHECK(bParsed && sType == "nfs");
    FUZZ_CHECK(sServer == sHost && sPath == sId && sVolume == sId);
  }
  const ZKSO::ResultCode eResult = zkso_isSupported(
      sText.c_str(), ZKSO::SNAP_TYPE_SNAPSHOT, &oOSUtil, nullptr, 0);
  // The C string ends at the first NUL.
  if (sText.find('\0') == npos) {
    FUZZ_CHECK(eResult ==
               (bFound ? ZKSO::RESULT_SUCCESS : ZKSO::RESULT_PARTIAL_SUCCESS));
  }
}

// An identifier written by the codec, read by the control host module.
void CheckWrittenForControlHost(const _CelerraSnapDeviceIdentifier& oIn,
                                const std::string& sWritten) {
  static FuzzOSUtil oOSUtil;
  std::string sId, sTargetId, sHost, sType;
  ParseDeviceIdentifier(77, sWritten, sId, sTargetId, sHost, sType);
  // Only a pair after "," is read: "type" is first when there is no kemtype.
  FUZZ_CHECK(sType == (oIn.sKemType.empty() ? "" : oIn.sType));
  FUZZ_CHECK(sHost == oIn.sTargetHostName);

  _CelerraSnapDeviceIdentifier oNfs = oIn;
  oNfs.sKemType = "vmware";
  oNfs.sType = "nfs";
  oNfs.sVendor = "celerra";
  if (oNfs.sLunUUID.empty() || oNfs.sTargetHostName.empty()) return;
  const std::string sNfs = CelerraUtils::FormDeviceIdentifider(oNfs);
  std::string sServer, sPath, sVolume;
  FUZZ_CHECK(DetermineControlHost(sNfs, &oOSUtil, sServer, sPath, sVolume));
  FUZZ_CHECK(sServer == oNfs.sTargetHostName);
  FUZZ_CHECK(sPath == oNfs.sLunUUID && sVolume == oNfs.sLunUUID);
}

// The UNC split of a UNC device whose source identifier is sText.
void CheckUNC(const std::string& sText) {
  static FuzzOSUtil oOSUtil;
  if (sText.empty()) return;
  zkref::MemSnapInfo oRecord;
  oRecord.sSourceDevice = sText;
  CelerraSnapDevicePtr pDevice(CelerraSnapDevice::InitializeDeviceObj(
      CELERRA_DEVICE_UNC, &oOSUtil, &oRecord, sText, SNAP_OP_PREPARE));
  FUZZ_CHECK(pDevice != nullptr);
  auto* pUNC = static_cast<CelerraSnapDeviceUNC*>(pDevice.get());
  const bool bOk = pUNC->DetermineFromDevice();

  _CelerraSnapDeviceIdentifier oId;
  CelerraUtils::ParseDeviceIdentifier(sText, oId);
  const std::string& sPath = oId.sLunUUID;
  const std::string sPrefix = "UNC-NT_";
  const size_t nPrefix = sPath.find(sPrefix);
  CelerraSnapDeviceTestPeer oPeer(pUNC);
  if (nPrefix == npos) {
    FUZZ_CHECK(!bOk && oPeer.ArrayIdentifier().empty());
    return;
  }
  const std::string& sServer = oPeer.ServerName();
  FUZZ_CHECK(oPeer.ArrayIdentifier() == sServer);
  FUZZ_CHECK(sServer.find('\\') == npos);
  const size_t nServerEnd = nPrefix + sPrefix.size() + sServer.size();
  FUZZ_CHECK(sPath.compare(nPrefix, nServerEnd - nPrefix, sPrefix + sServer) ==
             0);
  if (!bOk) {
    FUZZ_CHECK(oPeer.ShareName().empty());
    return;
  }
  const std::string& sShare = oPeer.ShareName();
  const std::string& sRest = oPeer.SharePath();
  FUZZ_CHECK(!sShare.empty() && sShare.find('\\') == npos);
  FUZZ_CHECK(sRest.empty() || sRest[0] == '\\');
  FUZZ_CHECK(sPath.substr(nPrefix) ==
             sPrefix + sServer + "\\" + sShare + sRest);
}

// Fields separated by 0x01 in the input, in the record's declaration order.
void CheckRoundTrip(const std::string& sText) {
  std::vector<std::string> v(11);
  size_t nField = 0;
  for (char c : sText) {
    if (c == '\x01') {
      if (++nField == v.size()) break;
      continue;
    }
    if (c == ',' || c == '{' || c == '}') continue;
    v[nField] += c;
  }
  _CelerraSnapDeviceIdentifier oIn;
  std::string* apIn[] = {&oIn.sLunUUID,   &oIn.sTargetIdentifier,
                         &oIn.sType,      &oIn.sTargetHostName,
                         &oIn.sFiler,     &oIn.sVolume,
                         &oIn.sPath,      &oIn.sKemType,
                         &oIn.sVendor,    &oIn.sFSPath,
                         &oIn.sExportPath};
  for (size_t i = 0; i < v.size(); ++i) *apIn[i] = v[i];
  if (oIn.sVendor.empty()) oIn.sVendor = "celerra";
  if (oIn.sType.empty()) oIn.sType = "nfs";

  const std::string sId = CelerraUtils::FormDeviceIdentifider(oIn);
  FUZZ_CHECK(!sId.empty());
  CheckWrittenForControlHost(oIn, sId);
  _CelerraSnapDeviceIdentifier oOut;
  CelerraUtils::ParseDeviceIdentifier(sId, oOut);
  const std::string* apOut[] = {&oOut.sLunUUID,   &oOut.sTargetIdentifier,
                                &oOut.sType,      &oOut.sTargetHostName,
                                &oOut.sFiler,     &oOut.sVolume,
                                &oOut.sPath,      &oOut.sKemType,
                                &oOut.sVendor,    &oOut.sFSPath,
                                &oOut.sExportPath};
  for (size_t i = 0; i < v.size(); ++i) FUZZ_CHECK(*apIn[i] == *apOut[i]);
}

void CheckSerial(const std::string& sText) {
  static FuzzOSUtil oOSUtil;
  std::string sSerial = "\x01untouched";
  if (CelerraUtils::DeriveSerialFromUUID(sText, sSerial)) {
    FUZZ_CHECK(sSerial.size() <= 12);
    FUZZ_CHECK(sSerial.find('\0') == npos);
  } else {
    FUZZ_CHECK(sText.size() < 42 && sSerial == "\x01untouched");
  }
  CelerraUtils oUtils(&oOSUtil, true);
  std::string sArray;
  oUtils.GetScsiInfoForDevice(sText, sArray, sSerial);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  // Captures (and so formats) every line, and keeps them off stderr.
  static ZkCaptureLogSink* pSink = new ZkCaptureLogSink();
  const std::string sText = FuzzText(pData, nSize);
  CheckLookups(sText);
  _CelerraSnapDeviceIdentifier o;
  CelerraUtils::ParseDeviceIdentifier(sText, o);
  CheckTokenisers(sText);
  CheckEscaping(sText);
  CheckRoundTrip(sText);
  CheckSerial(sText);
  CheckControlHost(sText);
  CheckUNC(sText);
  pSink->Clear();
  return 0;
}
