// SPDX-License-Identifier: Apache-2.0
#include "engine/ControlHost.h"

#include <cctype>
#include <new>

#include "host/EvDebug.h"
#include "utils/CelerraUtils.h"

namespace {

const char kDetermineControlHostTag[] =
    "bool DetermineControlHost(std::string, ZKSO::ZKOSUtil*, std::string&, "
    "std::string&, std::string&)";
const char kDetermineControlHostVMWareTag[] =
    "bool DetermineControlHostVMWare(std::string, ZKSO::ZKOSUtil*, "
    "std::string&, std::string&, std::string&)";
const char kParseDeviceIdentifierTag[] =
    "bool ParseDeviceIdentifier(ZKUint64, std::string, std::string&, "
    "std::string&, std::string&, std::string&)";
const char kGetIdentifierFromUUIDTag[] =
    "bool GetIdentifierFromUUID(ZKUint64, std::string, std::string, "
    "std::string&)";

// Value of the pair ",key:value" in sText, unescaped. The value ends at the
// next "," or, failing that, at the next "}"; without either the key counts
// as absent and sValue is left alone.
void ReadCommaPair(const std::string& sText, const std::string& sKey,
                   bool bKeepUnescapedSlash, std::string& sValue) {
  const std::string sPattern = "," + sKey + ":";
  const size_t nPos = sText.find(sPattern);
  if (nPos == std::string::npos) return;
  const size_t nStart = nPos + sPattern.size();
  size_t nEnd = sText.find(',', nStart);
  if (nEnd == std::string::npos) nEnd = sText.find('}', nStart);
  if (nEnd == std::string::npos) return;
  sValue = CelerraUtils::deformatString(sText.substr(nStart, nEnd - nStart),
                                        bKeepUnescapedSlash);
}

bool IsType(const std::string& sType, const char* pszA, const char* pszB) {
  return sType == pszA || sType == pszB;
}

}  // namespace

bool DetermineControlHost(std::string sDeviceIdentifier,
                          ZKSO::ZKOSUtil* pOSUtil,
                          std::string& sControlHostServer,
                          std::string& sControlHostPath,
                          std::string& sControlHostVolume) {
  const ZKUint64 nJobId = pOSUtil->GetJobId();
  EvEvent oLog;
  oLog.setJobId(nJobId);
  sControlHostServer.clear();
  sControlHostPath.clear();
  sControlHostVolume.clear();

  if (cse_findi(sDeviceIdentifier, "vmware") == std::string::npos) {
    return false;
  }
  if (cse_findi(sDeviceIdentifier, "celerra") == std::string::npos) {
    oLog.DebugLvl(kDetermineControlHostTag, -1,
                  "Vendor name supplied with device is wrong, expected vendor "
                  "name \"celerra\" got vendor name [%s]",
                  sDeviceIdentifier.c_str());
    return false;
  }
  return DetermineControlHostVMWare(sDeviceIdentifier, pOSUtil,
                                    sControlHostServer, sControlHostPath,
                                    sControlHostVolume);
}

bool DetermineControlHostVMWare(std::string sDeviceIdentifier,
                                ZKSO::ZKOSUtil* pOSUtil,
                                std::string& sControlHostServer,
                                std::string& sControlHostPath,
                                std::string& sControlHostVolume) {
  const ZKUint64 nJobId = pOSUtil->GetJobId();
  EvEvent oLog;
  oLog.setJobId(nJobId);
  sControlHostServer.clear();
  sControlHostPath.clear();
  sControlHostVolume.clear();

  std::string sIdentifier;
  std::string sTargetIdentifier;
  std::string sTargetHostName;
  std::string sType;
  if (!ParseDeviceIdentifier(nJobId, sDeviceIdentifier, sIdentifier,
                             sTargetIdentifier, sTargetHostName, sType)) {
    oLog.error(
        "ZKSnapEngineCelerra(1161): -Error-: Error:Unable to determine the "
        "file server information for device %s",
        sDeviceIdentifier.c_str());
    return false;
  }
  if (IsType(sType, "iscsi", "fc") && sTargetIdentifier.empty()) {
    oLog.error(
        "ZKSnapEngineCelerra(1166): -Error-: Error:Device type is either "
        "iscsi or fc but filer identifier has not been provided, unable to "
        "proceed");
    return false;
  }
  if (IsType(sType, "iscsi", "nfs") && sTargetHostName.empty()) {
    oLog.error(
        "ZKSnapEngineCelerra(1170): -Error-: Error:Device type is either "
        "iscsi or nfs but filer name has not been provided, unable to "
        "proceed");
    return false;
  }
  if (sType == "nfs") {
    sControlHostServer = sTargetHostName;
    sControlHostPath = sIdentifier;
    sControlHostVolume = sIdentifier;
  }
  if (sControlHostServer.empty() || sControlHostPath.empty() ||
      sControlHostVolume.empty()) {
    oLog.DebugLvl(kDetermineControlHostVMWareTag, -1,
                  "Unable to find the filer corresponding to srcDevice:[%s]",
                  sDeviceIdentifier.c_str());
    return false;
  }
  oLog.DebugLvl(kDetermineControlHostVMWareTag, 1,
                "Found CtrlHostServer:[%s], ControlHostPath:[%s], "
                "ControlHostVolume:[%s] corresponding to srcDevice:[%s]",
                sControlHostServer.c_str(), sControlHostPath.c_str(),
                sControlHostVolume.c_str(), sDeviceIdentifier.c_str());
  return true;
}

bool ParseDeviceIdentifier(ZKUint64 nJobId, std::string sDeviceIdentifier,
                           std::string& sIdentifier,
                           std::string& sTargetIdentifier,
                           std::string& sTargetHostName, std::string& sType) {
  EvEvent oLog;
  oLog.setJobId(nJobId);
  if (sDeviceIdentifier.empty()) {
    oLog.error(
        "ZKSnapEngineCelerra(1219): -Error-: Error:Array info is empty unable "
        "to get filer login info");
    return false;
  }
  sIdentifier.clear();
  sTargetIdentifier.clear();
  sTargetHostName.clear();
  sType.clear();

  std::string sLunUUID;
  ReadCommaPair(sDeviceIdentifier, "lunuuid", true, sLunUUID);
  ReadCommaPair(sDeviceIdentifier, "targetidentifier", false,
                sTargetIdentifier);
  ReadCommaPair(sDeviceIdentifier, "targethostname", false, sTargetHostName);
  ReadCommaPair(sDeviceIdentifier, "type", false, sType);

  if (sType == "fc" && !sTargetIdentifier.empty()) {
    std::string sColonFree;
    sColonFree.reserve(sTargetIdentifier.size());
    for (char c : sTargetIdentifier) {
      if (c == ':') continue;
      sColonFree.push_back(
          static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    sTargetIdentifier = sColonFree;
    oLog.DebugLvl(kParseDeviceIdentifierTag, 3, "FCP CtrlHost Identifier :[%s]",
                  sTargetIdentifier.c_str());
  }

  if (!GetIdentifierFromUUID(nJobId, sLunUUID, sType, sIdentifier)) {
    oLog.error(
        "ZKSnapEngineCelerra(1290): -Error-: Error:Unable to derive the "
        "serial number/nfs share from the LunUUID :[%s]",
        sLunUUID.c_str());
    return false;
  }
  oLog.DebugLvl(kParseDeviceIdentifierTag, 3,
                "Got identifier:[%s], targetidentifier:[%s], type:[%s] , "
                "targethostname[%s]",
                sIdentifier.c_str(), sTargetIdentifier.c_str(), sType.c_str(),
                sTargetHostName.empty() ? "Empty" : sTargetHostName.c_str());
  return true;
}

bool GetIdentifierFromUUID(ZKUint64 nJobId, std::string sLunUUID,
                           std::string sType, std::string& sIdentifier) {
  EvEvent oLog;
  oLog.setJobId(nJobId);
  sIdentifier.clear();
  if (sType == "nfs") {
    sIdentifier = sLunUUID;
    return true;
  }
  std::string sSerial;
  try {
    if (!CelerraUtils::DeriveSerialFromUUID(sLunUUID, sSerial)) return false;
  } catch (const std::bad_alloc&) {
    oLog.error(
        "ZKSnapEngineCelerra(1471): -Error-: Error:Unable to allocate memory "
        "for conversion");
    return false;
  }
  oLog.DebugLvl(kGetIdentifierFromUUIDTag, 3,
                "Serial # corresponding to UUID [%s] is [%s]\n",
                sLunUUID.c_str(), sSerial.c_str());
  sIdentifier = sSerial;
  return true;
}
