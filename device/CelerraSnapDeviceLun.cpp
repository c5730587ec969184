// SPDX-License-Identifier: Apache-2.0
#include "device/CelerraSnapDeviceLun.h"

#include <string>

#include "host/EvDebug.h"

namespace {
const char kDetermineTag[] = "CelerraSnapDeviceLun::DetermineFromDevice";
}  // namespace

bool CelerraSnapDeviceLun::DetermineFromDevice() {
  EvDebug().DebugLvl(kDetermineTag, 0, JobId(), "%s", "Device belongs to Lun.");
  std::string sError;
  if (m_pOSUtil != nullptr) {
    CelerraUtils oUtils(m_pOSUtil, m_bIsVMware);
    if (oUtils.GetScsiInfoForDevice(m_sSnapSourceDevice, m_sArrayIdentifier,
                                    m_sLunSerial)) {
      return true;
    }
    sError = oUtils.GetError();
  }
  std::string sText = "Failed to get Scsi details for device:[" +
                      m_sSnapSourceDevice + "]. Error:[" + sError + "]";
  EvDebug().DebugLvl(kDetermineTag, -1, JobId(), "%s", sText.c_str());
  SetJPR(JPR_LUN_DEVICE_FAILED, sText);
  return false;
}
