// SPDX-License-Identifier: Apache-2.0
// Binding a record to its file server's entry in the host's array
// management database, and reading the credentials of that entry. The
// password is never logged here.
#include <string>

#include "device/CelerraSnapDevice.h"
#include "host/EvDebug.h"

namespace {

const char kSetArrayInfoTag[] = "CelerraSnapDevice::SetArrayInfo";
const char kGetArrayCredsTag[] = "CelerraSnapDevice::GetArrayCredsFromDB";
const char kVendorName[] = "Dell EMC VNX / Celerra";
const char kVendorNameOld[] = "EMC VNX / Celerra";

}  // namespace

bool CelerraSnapDevice::SetArrayInfo() {
  if (m_pSnapInfo == nullptr) return false;
  if (m_pSnapInfo->SetArrayName(m_sArrayIdentifier.c_str()) == 0) {
    EvDebug().DebugJob(
        kSetArrayInfoTag, JobId(),
        "Successfully got the array credentials using the passed in array "
        "name [%s]",
        m_sArrayIdentifier.c_str());
    return true;
  }
  EvDebug().DebugLvl(kSetArrayInfoTag, -1, JobId(),
                     "Unable to get the array credentials using the passed in "
                     "array name [%s], try getting its alternate names/IPs",
                     m_sArrayIdentifier.c_str());
  SetJPR(0, "");

  std::string sAddress;
  if (m_pOSUtil != nullptr) {
    CelerraUtils oUtils(m_pOSUtil, m_bIsVMware);
    oUtils.GetIPAddressForHost(sAddress, m_sArrayIdentifier);
  }
  if (m_pSnapInfo->SetArrayName(sAddress.c_str()) == 0) return true;
  EvDebug().DebugJob(kSetArrayInfoTag, JobId(),
                     "Error:Unable to set the login credentials for filer [%s]",
                     m_sArrayIdentifier.c_str());
  return false;
}

bool CelerraSnapDevice::GetArrayCredsFromDB() {
  if (m_pOSUtil == nullptr || m_pSnapInfo == nullptr) {
    EvDebug().DebugLvl(kGetArrayCredsTag, -1, JobId(), "%s",
                       "osutil and snapinfo objects are not initialised");
    return false;
  }
  std::string sArrayInfo;
  if (!GetSnapData(CELERRA_SNAPINFO_ARRAY_INFO, sArrayInfo) ||
      sArrayInfo.empty()) {
    m_pSnapInfo->Log(2, kGetArrayCredsTag, "%s",
                     "Error:Unable to get the login credentials.");
    return false;
  }

  std::string sVendor;
  // Read from the copy without the password: key-like text inside it must
  // never be taken for the vendor and logged.
  size_t nFound = CelerraUtils::GetJsonValue(
      CelerraUtils::MaskArrayInfoPassword(sArrayInfo), "vendorName", sVendor,
      true, false);
  if (nFound == std::string::npos) sVendor.clear();
  if (nFound == std::string::npos ||
      (sVendor != kVendorName && sVendor != kVendorNameOld)) {
    m_pSnapInfo->Log(
        2, kGetArrayCredsTag,
        "Vendor Name [%s]. Expected [%s] or [%s]. Please correct the array "
        "entry",
        sVendor.c_str(), kVendorName, kVendorNameOld);
    return false;
  }

  CelerraUtils oUtils(m_pOSUtil, m_bIsVMware);
  if (!oUtils.ParseArrayInfo(sArrayInfo.c_str(), m_sArrayIdentifier,
                             m_oArrayCredentials)) {
    m_pSnapInfo->Log(2, kGetArrayCredsTag, "%s",
                     "Error:Unable to Parse credentials.");
    return false;
  }
  return true;
}
