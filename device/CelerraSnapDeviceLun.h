// SPDX-License-Identifier: Apache-2.0
// CelerraSnapDeviceLun: a LUN (VMware datastore on a block device) of a
// Celerra/VNX. Only the array name and serial number are read from it; it
// stores no file system metadata and refuses every checkpoint operation, so
// its preparation always fails. Ownership and threads: as CelerraSnapDevice.
#ifndef ZK_DEVICE_CELERRASNAPDEVICELUN_H_
#define ZK_DEVICE_CELERRASNAPDEVICELUN_H_

#include <string>

#include "device/CelerraSnapDevice.h"

class CelerraSnapDeviceLun : public CelerraSnapDevice {
 public:
  CelerraSnapDeviceLun() = default;
  ~CelerraSnapDeviceLun() override = default;

  using CelerraSnapDevice::ParseFSMetaData;

  std::string GetFSMetaData() override { return std::string(); }
  bool ParseFSMetaData(std::string, unsigned long&) override { return false; }
  bool DetermineFromDevice() override;
  bool PopulateDetails(ManageCelerra&) override { return false; }
  bool FormSnapDevice(const std::string&) override { return false; }
  bool CreateRWChkPt(ManageCelerra&) override { return false; }
  bool ExposeChkPt(ManageCelerra&, const std::string&) override {
    return false;
  }
  bool UnExposeChkPt(ManageCelerra&) override { return false; }

 protected:
  std::string m_sLunSerial;

 private:
  friend class CelerraSnapDeviceTestPeer;
};

#endif  // ZK_DEVICE_CELERRASNAPDEVICELUN_H_
