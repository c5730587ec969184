// Revert, delete and reconcile of a snapshot's checkpoint.
// Not part of this build yet: every operation refuses with a debug line.
#include <list>

#include "device/CelerraSnapDevice.h"
#include "host/EvDebug.h"

namespace {
const char kNotAvailable[] = "not available in this build";
}  // namespace

bool CelerraSnapDevice::RevertFSFromChkPt(ManageCelerra&) {
  EvDebug().DebugLvl("CelerraSnapDevice::RevertFSFromChkPt", -1, JobId(), "%s",
                     kNotAvailable);
  return false;
}

bool CelerraSnapDevice::DeleteChkPt(ManageCelerra&) {
  EvDebug().DebugLvl("CelerraSnapDevice::DeleteChkPt", -1, JobId(), "%s",
                     kNotAvailable);
  return false;
}

bool CelerraSnapDevice::ReconcileChkPt(ManageCelerra&,
                                       std::list<CelerraChkPtInfo>&,
                                       bool& bFound) {
  bFound = false;
  EvDebug().DebugLvl("CelerraSnapDevice::ReconcileChkPt", -1, JobId(), "%s",
                     kNotAvailable);
  return false;
}
