// SPDX-License-Identifier: Apache-2.0
// Fuzzes the readers of VMware mount host identifiers:
//   - CelerraUtils::PrintVMWareHostIdentifier: one line holding the text
//     with exactly the password values masked: from each "password" key
//     (right after "{" or ",") up to the last "}" of the text, or to its end;
//     nothing else changes;
//   - CelerraSnapDevice::ParseHostIdentifier: a text without a "password"
//     pair reads exactly as the codec reads it (keys and values that merely
//     contain the letters, such as esxname:esx-password:1, included);
//   - for both: no password value, as the codec delimits it (up to the next
//     "," or "}"), appears in any log line, neither as written nor
//     unescaped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "device/CelerraSnapDevice.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"
#include "utils/CelerraUtils.h"

// Sets the host identifier of a device and reads what ParseHostIdentifier
// made of it. The device classes befriend a class of this name for
// inspection; this target defines its own.
class CelerraSnapDeviceTestPeer {
 public:
  explicit CelerraSnapDeviceTestPeer(CelerraSnapDevice* pDevice)
      : m_pDevice(pDevice) {}
  std::string& HostIdentifier() { return m_pDevice->m_sHostIdentifier; }
  const std::string& VCName() const { return m_pDevice->m_sVCName; }
  const std::string& ESXName() const { return m_pDevice->m_sESXName; }
  const std::vector<std::string>& VMKernelIPs() const {
    return m_pDevice->m_vVMKernelIPs;
  }

 private:
  CelerraSnapDevice* m_pDevice;  // borrowed
};

namespace {

const size_t npos = std::string::npos;
const char kKey[] = "password:";
const size_t kKeyLen = sizeof(kKey) - 1;

const char kFixedTexts[] =
    "VmWare Host Identifier [].\x01Mounting to VMKernel IPs:\x01"
    "VCName:[EMPTY], ESXName:[EMPTY], sizeof VMKernel IPs:[0123456789]\x01"
    "Initialized CelerraSnapDevice object for device type [2] vmware [yes]";

size_t NextPairKey(const std::string& sText, size_t nFrom) {
  return FuzzFindPairKey(sText, kKey, nFrom);
}

void CheckMask(const std::string& sText, const std::string& sLogged) {
  FUZZ_CHECK(sLogged.size() == sText.size());
  std::vector<bool> vMasked(sText.size(), false);
  for (size_t nKey = NextPairKey(sText, 0); nKey != npos;) {
    const size_t nStart = nKey + kKeyLen;
    const size_t nBrace = sText.rfind('}');
    const size_t nEnd =
        nBrace == npos || nBrace < nStart ? sText.size() : nBrace;
    for (size_t i = nStart; i < nEnd; ++i) vMasked[i] = true;
    nKey = NextPairKey(sText, nEnd);
  }
  for (size_t i = 0; i < sText.size(); ++i) {
    FUZZ_CHECK(sLogged[i] == (vMasked[i] ? '*' : sText[i]));
  }
}

void CheckPasswordsNotLogged(const std::string& sText,
                             const std::vector<ZkLogLine>& vLines) {
  std::vector<std::string> vSeen;
  for (const ZkLogLine& oLine : vLines) vSeen.push_back(oLine.sText);
  FuzzCheckPasswordsNotSeen(sText, FuzzHostIdPasswordSpans(sText), kFixedTexts,
                            vSeen);
}

std::string CodecValue(const std::string& sText, const char* pszKey) {
  std::string sValue;
  const bool bDeformat = true;
  const bool bLogValue = false;
  CelerraUtils::GetJsonValue(sText, pszKey, sValue, bDeformat, bLogValue);
  return sValue;
}

void CheckParse(const std::string& sText, ZkCaptureLogSink& oSink) {
  static zkref::MemOSUtil oOSUtil(77);
  zkref::MemSnapInfo oRecord;
  const std::string sSource =
      "{kemtype:vmware,type:nfs,lunuuid:\\/fs1,targethostname:f,vendor:"
      "celerra}";
  oRecord.sSourceDevice = sSource;
  CelerraSnapDevicePtr pDevice(CelerraSnapDevice::InitializeDeviceObj(
      CELERRA_DEVICE_NFS, &oOSUtil, &oRecord, sSource, SNAP_OP_MAP));
  FUZZ_CHECK(pDevice != nullptr);
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  oPeer.HostIdentifier() = sText;
  oSink.Clear();
  pDevice->ParseHostIdentifier();
  CheckPasswordsNotLogged(sText, oSink.Lines());

  if (NextPairKey(sText, 0) != npos) return;
  FUZZ_CHECK(oPeer.VCName() == CodecValue(sText, "vcname"));
  FUZZ_CHECK(oPeer.ESXName() == CodecValue(sText, "esxname"));
  // Each address is followed by "|"; empty ones are skipped.
  const std::string sVMKernel = CodecValue(sText, "vmkernel");
  std::vector<std::string> vExpected;
  size_t nStart = 0;
  for (size_t nBar = sVMKernel.find('|'); nBar != npos;
       nBar = sVMKernel.find('|', nStart)) {
    if (nBar > nStart)
      vExpected.push_back(sVMKernel.substr(nStart, nBar - nStart));
    nStart = nBar + 1;
  }
  FUZZ_CHECK(oPeer.VMKernelIPs() == vExpected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static ZkCaptureLogSink* pSink = new ZkCaptureLogSink();
  pSink->Clear();
  // The host hands the identifier over as a C string.
  const std::string sText = FuzzCString(pData, nSize);
  FUZZ_CHECK(CelerraUtils::PrintVMWareHostIdentifier(sText));
  const std::vector<ZkLogLine> vLines = pSink->Lines();
  FUZZ_CHECK(vLines.size() == 1);

  const std::string sHead = "VmWare Host Identifier [";
  const std::string sTail = "].";
  const std::string& sLine = vLines[0].sText;
  FUZZ_CHECK(sLine.size() == sHead.size() + sText.size() + sTail.size());
  FUZZ_CHECK(sLine.compare(0, sHead.size(), sHead) == 0);
  FUZZ_CHECK(sLine.compare(sLine.size() - sTail.size(), npos, sTail) == 0);
  CheckMask(sText, sLine.substr(sHead.size(), sText.size()));
  CheckPasswordsNotLogged(sText, vLines);

  CheckParse(sText, *pSink);
  pSink->Clear();
  return 0;
}
