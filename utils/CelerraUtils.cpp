// SPDX-License-Identifier: Apache-2.0
// The instance side of CelerraUtils (array information, name resolution,
// NFS export host lists, LUN serial numbers) and the small static and free
// helpers around it.
#include "utils/CelerraUtils.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/EvDebug.h"
#include "host/ZkHostLib.h"

namespace {

const char kHostPasswordKey[] = "hostPassword:";
const char kPasswordPairKey[] = ",hostPassword:";
const char kEngineNamePair[] = ",engineName:";

// First pszKey at or after nFrom that starts a pair, i.e. stands right after
// "{" or ",", as the codec reads keys; npos when there is none. A key or value
// that merely contains the letters (oldhostPassword:, esx-password:) does not
// count.
size_t FindPairKey(const std::string& sText, const char* pszKey, size_t nFrom) {
  for (size_t n = sText.find(pszKey, nFrom); n != std::string::npos;
       n = sText.find(pszKey, n + 1)) {
    if (n > 0 && (sText[n - 1] == '{' || sText[n - 1] == ',')) return n;
  }
  return std::string::npos;
}

// End of a password value that starts after a key found at nKey: the next
// ",engineName:" pair, else the next "}", else npos.
size_t PasswordEnd(const std::string& sText, size_t nKey) {
  size_t nEnd = sText.find(kEngineNamePair, nKey + 1);
  if (nEnd == std::string::npos) nEnd = sText.find('}', nKey + 1);
  return nEnd;
}

}  // namespace

std::string CelerraUtils::MaskArrayInfoPassword(const std::string& sText) {
  const size_t nKeyLen = sizeof(kHostPasswordKey) - 1;
  std::string sMasked;
  size_t nCopied = 0;
  size_t nKey = FindPairKey(sText, kHostPasswordKey, 0);
  while (nKey != std::string::npos) {
    const size_t nStart = nKey + nKeyLen;
    const size_t nEnd = PasswordEnd(sText, nKey);
    sMasked.append(sText, nCopied, nStart - nCopied);
    sMasked += "****";
    if (nEnd == std::string::npos) return sMasked;
    nCopied = nEnd;
    nKey = FindPairKey(sText, kHostPasswordKey, nEnd);
  }
  sMasked.append(sText, nCopied, std::string::npos);
  return sMasked;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

CelerraUtils::CelerraUtils(ZKSO::ZKOSUtil* pOSUtil, const bool& bIsVMware)
    : m_pOSUtil(pOSUtil),
      m_bIsVMware(bIsVMware),
      m_nJobId(static_cast<int64_t>(pOSUtil->GetJobId())) {}

bool CelerraUtils::ParseArrayInfo(const char* pszArrayInfo,
                                  std::string& sArrayId,
                                  _CelerraArrayCredentials& oCredentials) {
  const std::string sText = pszArrayInfo != nullptr ? pszArrayInfo : "";
  oCredentials.sHostName.clear();
  oCredentials.sHostUserName.clear();
  oCredentials.sHostPassword.clear();
  sArrayId.clear();

  // The text holds a password: never let the lookups log it, and read the
  // other keys from a copy without it, so that key-like text inside the
  // password ("...{hostName:...") is never taken for a value and logged.
  const std::string sMasked = MaskArrayInfoPassword(sText);
  const bool bDeformat = true;
  const bool bLogValue = false;
  GetJsonValue(sMasked, "arrayId", sArrayId, bDeformat, bLogValue);
  GetJsonValue(sMasked, "hostName", oCredentials.sHostName, bDeformat,
               bLogValue);
  GetJsonValue(sMasked, "hostUserName", oCredentials.sHostUserName, bDeformat,
               bLogValue);

  // The password ends at ",engineName:" (or "}"), not at ",": it may hold
  // commas.
  const size_t nKey = sText.find(kPasswordPairKey);
  if (nKey != std::string::npos) {
    const size_t nStart = nKey + sizeof(kPasswordPairKey) - 1;
    const size_t nEnd = PasswordEnd(sText, nKey);
    if (nEnd != std::string::npos) {
      oCredentials.sHostPassword =
          deformatString(sText.substr(nStart, nEnd - nStart), false);
    }
  }

  EvDebug oLog(nullptr);
  oLog.DebugLvl("CelerraUtils::ParseArrayInfo", -1,
                static_cast<ZKUint64>(m_nJobId), "Array Info: [%s]",
                sMasked.c_str());
  return true;
}

bool CelerraUtils::GetIPAddressForHost(std::string& sAddress,
                                       const std::string& sHostName) {
  static const char kTag[] =
      "bool CelerraUtils::GetIPAddressForHost(std::string&, const string&)";
  const ZKUint64 nJobId = static_cast<ZKUint64>(m_nJobId);
  EvDebug oLog(nullptr);
  oLog.setJobId(nJobId);
  if (sHostName.empty()) {
    oLog.error(
        "CelerraUtils(201): -Error-: Invalid argument. Empty hostname!.");
    return false;
  }

  ZkHostEntBuffer oBuffer;
  std::memset(&oBuffer, 0, sizeof(oBuffer));
  struct hostent* pEntry = _ZK_gethostbyname_(sHostName.c_str(), &oBuffer, 0);
  if (pEntry == nullptr) {
    const std::string sMessage =
        "Unable to get IP address list for host:[" + sHostName +
        "] the host is not resolvable from this machine, please check DNS "
        "settings and make sure that host [" +
        sHostName + "] is resolvable from this machine";
    oLog.Debug(kTag, "%s", sMessage.c_str());
    return false;
  }
  if (pEntry->h_addr_list == nullptr || pEntry->h_addr_list[0] == nullptr ||
      pEntry->h_addrtype != AF_INET ||
      pEntry->h_length != static_cast<int>(sizeof(in_addr))) {
    const std::string sMessage =
        "Unable to get IP address for array:[" + sHostName + "].";
    oLog.Debug(kTag, "%s", sMessage.c_str());
    return false;
  }

  in_addr oAddr;
  std::memcpy(&oAddr, pEntry->h_addr_list[0], sizeof(oAddr));
  char aText[INET_ADDRSTRLEN] = {0};
  if (inet_ntop(AF_INET, &oAddr, aText, sizeof(aText)) == nullptr) {
    const std::string sMessage =
        "Unable to get IP address for array:[" + sHostName + "].";
    oLog.Debug(kTag, "%s", sMessage.c_str());
    return false;
  }
  sAddress = aText;
  oLog.DebugJob(3, kTag, nJobId, "Using the first Address [%s]:for host [%s].",
                sAddress.c_str(), sHostName.c_str());
  return true;
}

bool CelerraUtils::GetMountHostIPsForNFSShare(
    std::vector<std::string>& vAccessHosts, std::vector<std::string>& vRWHosts,
    std::vector<std::string>& vRootHosts,
    const std::vector<std::string>& vFurtherHosts,
    const std::string& sMountHost) {
  vAccessHosts.clear();
  vRWHosts.clear();
  vRootHosts.clear();

  char aValue[1024];
  auto ReadConfig = [&](const char* pszKey) {
    aValue[0] = '\0';
    m_pOSUtil->GetConfigString(nullptr, pszKey, aValue, sizeof(aValue));
    aValue[sizeof(aValue) - 1] = '\0';  // whatever the host wrote
    return std::string(aValue);
  };
  const std::string sRoot = ReadConfig("sCelerraCommaSeparatedRootHosts");
  const std::string sRW = ReadConfig("sCelerraCommaSeparatedRWHosts");
  const std::string sAccess = ReadConfig("sCelerraCommaSeparatedAccessHosts");
  if (!sRoot.empty()) VectorizeString(sRoot, vRootHosts, ',');
  if (!sRW.empty()) VectorizeString(sRW, vRWHosts, ',');
  if (!sAccess.empty()) VectorizeString(sAccess, vAccessHosts, ',');

  std::string sAddress;
  if (!GetIPAddressForHost(sAddress, sMountHost)) {
    EvDebug oLog(nullptr);
    oLog.DebugLvl("CelerraUtils::GetMountHostIPsForNFSShare", -1,
                  static_cast<ZKUint64>(m_nJobId),
                  "Unable to get IP address for host:[%s], continuing",
                  sMountHost.c_str());
  } else {
    vAccessHosts.push_back(sAddress);
    vRootHosts.push_back(sAddress);
    vRWHosts.push_back(sAddress);
  }

  for (const std::string& sHost : vFurtherHosts) {
    vAccessHosts.push_back(sHost);
    vRootHosts.push_back(sHost);
    vRWHosts.push_back(sHost);
  }
  return true;
}

bool CelerraUtils::GetScsiInfoForDevice(const std::string& sIdentifier,
                                        std::string& sArrayName,
                                        std::string& sSerial) {
  if (!m_bIsVMware) {
    m_sError = "Non-Vmware is not supported for Celerra snap backup";
    EvDebug oLog(nullptr);
    oLog.DebugLvl("CelerraUtils::GetScsiInfoForDevice", -1,
                  static_cast<ZKUint64>(m_nJobId), "%s", m_sError.c_str());
    return false;
  }
  return GetArrayInfoForDeviceVMware(sIdentifier, sArrayName, sSerial);
}

bool CelerraUtils::GetArrayInfoForDeviceVMware(const std::string& sIdentifier,
                                               std::string& sArrayName,
                                               std::string& sSerial) {
  static const char kTag[] = "CelerraUtils::GetArrayInfoForDeviceVMware";
  const ZKUint64 nJobId = static_cast<ZKUint64>(m_nJobId);
  EvDebug oLog(nullptr);
  if (sIdentifier.empty()) {
    oLog.DebugJob(kTag, nJobId, "Device name is empty");
    return false;
  }

  _CelerraSnapDeviceIdentifier oId;
  ParseDeviceIdentifier(sIdentifier, oId);
  if (oId.sKemType != "vmware" || oId.sVendor != "celerra") {
    oLog.DebugLvl(kTag, -1, nJobId,
                  "Invalid params for Celerra lun: Kemtype [%s], vendor [%s]",
                  oId.sKemType.c_str(), oId.sVendor.c_str());
    return false;
  }
  if (oId.sTargetHostName.empty()) {
    oLog.DebugLvl(kTag, -1, nJobId,
                  "Invalid params for Celerra lun: targethostname is empty");
    return false;
  }
  sSerial = oId.sLunUUID;
  sArrayName = oId.sTargetHostName;

  std::string sDerived;
  bool bDerived = false;
  try {
    bDerived = DeriveSerialFromUUID(oId.sLunUUID, sDerived);
  } catch (const std::bad_alloc&) {
    oLog.DebugLvl(kTag, -1, nJobId,
                  "Error:Unable to allocate memory for conversion");
    return false;
  }
  if (!bDerived) {
    oLog.DebugLvl(kTag, -1, nJobId, "Unable to parse lun wwn from lunuuid [%s]",
                  oId.sLunUUID.c_str());
    return false;
  }
  oLog.DebugJob(kTag, nJobId, "Serial # corresponding to UUID [%s] is [%s]\n",
                oId.sLunUUID.c_str(), sDerived.c_str());
  sSerial = sDerived;

  oLog.DebugLvl(kTag, 0, nJobId,
                "Found array identifier[%s], serial # [%s] for device[%s].",
                sArrayName.c_str(), sSerial.c_str(), sIdentifier.c_str());
  return !sArrayName.empty() && !sSerial.empty();
}

// A pair that is not two hexadecimal digits reads as byte 0 and so ends the
// serial number there, like a real zero byte.
bool CelerraUtils::DeriveSerialFromUUID(const std::string& sLunUUID,
                                        std::string& sSerial) {
  const size_t kFirst = 18;
  const size_t kBytes = 12;
  if (sLunUUID.size() < kFirst + 2 * kBytes) return false;
  std::string sResult;
  for (size_t k = 0; k < kBytes; ++k) {
    const int nHigh = HexDigit(sLunUUID[kFirst + 2 * k]);
    const int nLow = HexDigit(sLunUUID[kFirst + 2 * k + 1]);
    if (nHigh < 0 || nLow < 0) break;
    const int nByte = nHigh * 16 + nLow;
    if (nByte == 0) break;
    sResult += static_cast<char>(nByte);
  }
  sSerial = sResult;
  return true;
}

namespace {

const char kHostIdPasswordKey[] = "password:";

// End of the password value starting at nStart: the last "}" of the text
// (a password may itself hold "}"), or the end of the text.
size_t HostIdPasswordEnd(const std::string& sText, size_t nStart) {
  const size_t nBrace = sText.rfind('}');
  return nBrace == std::string::npos || nBrace < nStart ? sText.size() : nBrace;
}

}  // namespace

std::string CelerraUtils::MaskHostIdentifierPassword(const std::string& sText) {
  const size_t nKeyLen = sizeof(kHostIdPasswordKey) - 1;
  std::string sCopy = sText;
  size_t nKey = FindPairKey(sCopy, kHostIdPasswordKey, 0);
  while (nKey != std::string::npos) {
    const size_t nStart = nKey + nKeyLen;
    const size_t nEnd = HostIdPasswordEnd(sCopy, nStart);
    for (size_t i = nStart; i < nEnd; ++i) sCopy[i] = '*';
    nKey = FindPairKey(sCopy, kHostIdPasswordKey, nEnd);
  }
  return sCopy;
}

std::string CelerraUtils::StripHostIdentifierPassword(
    const std::string& sText) {
  static const char* const kReadKeys[] = {
      ",vcname:", ",esxname:", ",vmkernel:"};
  const size_t nKeyLen = sizeof(kHostIdPasswordKey) - 1;
  std::string sCopy = sText;
  size_t nKey = FindPairKey(sCopy, kHostIdPasswordKey, 0);
  while (nKey != std::string::npos) {
    const size_t nStart = nKey + nKeyLen;
    size_t nEnd = HostIdPasswordEnd(sCopy, nStart);
    for (const char* pszKey : kReadKeys) {
      const size_t n = sCopy.find(pszKey, nStart);
      if (n != std::string::npos && n < nEnd) nEnd = n;
    }
    sCopy.erase(nStart, nEnd - nStart);
    nKey = FindPairKey(sCopy, kHostIdPasswordKey, nStart);
  }
  return sCopy;
}

// Every "password:" value is masked, not only the first, and up to the last
// "}", so that a password holding "}" is never shown in part.
bool CelerraUtils::PrintVMWareHostIdentifier(
    const std::string& sHostIdentifier) {
  const std::string sCopy = MaskHostIdentifierPassword(sHostIdentifier);
  EvDebug oLog(nullptr);
  oLog.Debug("CelerraUtils::PrintVMWareHostIdentifier",
             "VmWare Host Identifier [%s].", sCopy.c_str());
  return true;
}

_CelerraSourceDeviceType CelerraUtils::StringToDeviceType(
    const std::string& sType) {
  if (sType == "native_celerra") return CELERRA_DEVICE_NAS;
  if (sType == "nfs") return CELERRA_DEVICE_NFS;
  if (sType == "unc") return CELERRA_DEVICE_UNC;
  return CELERRA_DEVICE_LUN;  // "fc" and anything else
}

void cse_toupper(std::string& s) {
  for (char& c : s) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
}

size_t cse_findi(std::string sText, std::string sPattern) {
  cse_toupper(sText);
  cse_toupper(sPattern);
  return sText.find(sPattern);
}
