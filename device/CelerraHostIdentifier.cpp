// SPDX-License-Identifier: Apache-2.0
// The VMware mount host identifier: vCenter, ESX host and VMkernel
// addresses of the host a checkpoint is exposed to.
#include <string>

#include "device/CelerraSnapDevice.h"
#include "host/EvDebug.h"

namespace {
const char kParseHostIdentifierTag[] = "CelerraSnapDevice::ParseHostIdentifier";
}  // namespace

void CelerraSnapDevice::ParseHostIdentifier() {
  m_sVCName.clear();
  m_sESXName.clear();
  m_vVMKernelIPs.clear();
  // The identifier may hold a password: never log the whole text, and read
  // the keys from a copy without it, so that key-like text inside the
  // password is never taken for a value (and logged as one).
  const std::string sText =
      CelerraUtils::StripHostIdentifierPassword(m_sHostIdentifier);
  std::string sVMKernel;
  CelerraUtils::GetJsonValue(sText, "vcname", m_sVCName, true, false);
  CelerraUtils::GetJsonValue(sText, "esxname", m_sESXName, true, false);
  CelerraUtils::GetJsonValue(sText, "vmkernel", sVMKernel, true, false);

  EvDebug().Debug(kParseHostIdentifierTag, "%s", "Mounting to VMKernel IPs:");
  // Each address is followed by "|"; text after the last one is not taken.
  size_t nPosition = 0;
  for (;;) {
    std::string sAddress =
        CelerraUtils::GetNextSeparatedValue(sVMKernel, nPosition, '|');
    if (nPosition == std::string::npos) break;
    if (sAddress.empty()) continue;
    m_vVMKernelIPs.push_back(sAddress);
    EvDebug().Debug(kParseHostIdentifierTag, "[%s]", sAddress.c_str());
  }
  EvDebug().Debug(kParseHostIdentifierTag,
                  "VCName:[%s], ESXName:[%s], sizeof VMKernel IPs:[%llu]",
                  m_sVCName.empty() ? "EMPTY" : m_sVCName.c_str(),
                  m_sESXName.empty() ? "EMPTY" : m_sESXName.c_str(),
                  static_cast<unsigned long long>(m_vVMKernelIPs.size()));
}
