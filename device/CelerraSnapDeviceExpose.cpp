// Exposure of a checkpoint over NFS (writable checkpoint, export, removal).
// Not part of this build yet: every operation refuses with a debug line.
#include <string>

#include "device/CelerraSnapDevice.h"
#include "device/CelerraSnapDeviceNAS.h"
#include "device/CelerraSnapDeviceNfs.h"
#include "host/EvDebug.h"

namespace {

const char kNotAvailable[] = "not available in this build";

void LogNotAvailable(const char* pszTag, ZKUint64 nJobId) {
  EvDebug().DebugLvl(pszTag, -1, nJobId, "%s", kNotAvailable);
}

}  // namespace

bool CelerraSnapDevice::ExposeChkPtNFS(ManageCelerra&, const std::string&,
                                       const std::string&, const std::string&) {
  LogNotAvailable("CelerraSnapDeviceNfs::ExposeChkPt", JobId());
  return false;
}

bool CelerraSnapDevice::UnExposeChkPtNFS(ManageCelerra&, const std::string&,
                                         const std::string&) {
  LogNotAvailable("CelerraSnapDeviceNfs::UnExposeChkPt", JobId());
  return false;
}

bool CelerraSnapDevice::GetGUIMountShareName(bool&, std::string&) {
  LogNotAvailable("CelerraSnapDevice::GetGUIMountShareName", JobId());
  return false;
}

bool CelerraSnapDeviceNfs::CreateRWChkPt(ManageCelerra&) {
  LogNotAvailable("CelerraSnapDeviceNfs::CreateRWChkPt", JobId());
  return false;
}

bool CelerraSnapDeviceNfs::ExposeChkPt(ManageCelerra&, const std::string&) {
  LogNotAvailable("CelerraSnapDeviceNfs::ExposeChkPt", JobId());
  return false;
}

bool CelerraSnapDeviceNfs::UnExposeChkPt(ManageCelerra&) {
  LogNotAvailable("CelerraSnapDeviceNfs::UnExposeChkPt", JobId());
  return false;
}

bool CelerraSnapDeviceNAS::CreateRWChkPt(ManageCelerra&) {
  LogNotAvailable("CelerraSnapDeviceNAS::CreateRWChkPt", JobId());
  return false;
}

bool CelerraSnapDeviceNAS::ExposeChkPt(ManageCelerra&, const std::string&) {
  LogNotAvailable("CelerraSnapDeviceNAS::ExposeChkPt", JobId());
  return false;
}

bool CelerraSnapDeviceNAS::UnExposeChkPt(ManageCelerra&) {
  LogNotAvailable("CelerraSnapDeviceNAS::UnExposeChkPt", JobId());
  return false;
}
