#include "device/CelerraSnapDeviceNAS.h"

#include <string>

#include "host/EvDebug.h"

namespace {

const char kDetermineTag[] = "CelerraSnapDeviceNAS::DetermineFromDevice";
const char kPopulateTag[] = "CelerraSnapDeviceNAS::PopulateDetails";

}  // namespace

bool CelerraSnapDeviceNAS::DetermineFromDevice() {
  EvDebug().DebugLvl(kDetermineTag, 0, JobId(), "%s", "Device belongs to NAS.");
  _CelerraSnapDeviceIdentifier oIdentifier;
  CelerraUtils::ParseDeviceIdentifier(m_sSnapSourceDevice, oIdentifier);
  if (oIdentifier.sTargetHostName.empty() || oIdentifier.sPath.empty()) {
    EvDebug().DebugLvl(kDetermineTag, -1, JobId(), "%s",
                       "targethostname or path info is empty");
    return false;
  }
  m_sTargetHostName = oIdentifier.sTargetHostName;
  m_sArrayIdentifier = m_sTargetHostName;
  m_sPath = oIdentifier.sPath;
  return true;
}

// The data mover search, the mount point search and the CIFS server cache
// are not part of this build yet.
bool CelerraSnapDeviceNAS::PopulateDetails(ManageCelerra& /*oClient*/) {
  EvDebug().DebugLvl(kPopulateTag, -1, JobId(), "%s",
                     "not available in this build");
  return false;
}

bool CelerraSnapDeviceNAS::FormSnapDevice(const std::string& sSharePath) {
  // Exposure is always NFS (m_eExposeType 2).
  m_oSnapDeviceIdentifier.sType = "nfs";
  std::string sRelative = m_sPath.size() > m_sMoverMountPath.size()
                              ? m_sPath.substr(m_sMoverMountPath.size())
                              : std::string();
  m_oSnapDeviceIdentifier.sPath = "/" + m_sChkptName + sRelative;
  m_oSnapDeviceIdentifier.sLunUUID =
      m_bGUIMount ? sSharePath + sRelative : sSharePath;
  m_oSnapDeviceIdentifier.sExportPath = sSharePath;
  m_oSnapDeviceIdentifier.sFSPath = "/" + m_sChkptName;
  m_oSnapDeviceIdentifier.sVendor = "celerra";
  m_oSnapDeviceIdentifier.sTargetHostName = m_sTargetHostName;
  m_oSnapDeviceIdentifier.sKemType = m_bIsVMware ? "vmware" : "native_celerra";
  return true;
}
