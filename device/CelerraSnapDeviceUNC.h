// SPDX-License-Identifier: Apache-2.0
// CelerraSnapDeviceUNC: a CIFS share named by a UNC path
// ("UNC-NT_server\share\rest"). Its file system is found on the file server,
// but it stores no file system metadata and refuses every exposure, so later
// operations on it fail. Ownership and threads: as CelerraSnapDevice.
#ifndef ZK_DEVICE_CELERRASNAPDEVICEUNC_H_
#define ZK_DEVICE_CELERRASNAPDEVICEUNC_H_

#include <string>
#include <vector>

#include "device/CelerraSnapDevice.h"

class CelerraSnapDeviceUNC : public CelerraSnapDevice {
 public:
  CelerraSnapDeviceUNC() = default;
  ~CelerraSnapDeviceUNC() override = default;

  using CelerraSnapDevice::ParseFSMetaData;

  std::string GetFSMetaData() override { return std::string(); }
  bool ParseFSMetaData(std::string, unsigned long&) override { return false; }
  bool DetermineFromDevice() override;
  bool PopulateDetails(ManageCelerra& oClient) override;
  bool FormSnapDevice(const std::string&) override { return false; }
  bool CreateRWChkPt(ManageCelerra&) override { return false; }
  bool ExposeChkPt(ManageCelerra&, const std::string&) override {
    return false;
  }
  bool UnExposeChkPt(ManageCelerra&) override { return false; }

 protected:
  std::string m_sShareName;   // CIFS share name
  std::string m_sSharePath;   // rest of the UNC path after the share
  std::string m_sServerName;  // server part of the UNC path
  std::vector<std::string> m_vCifsServers;

 private:
  friend class CelerraSnapDeviceTestPeer;
};

#endif  // ZK_DEVICE_CELERRASNAPDEVICEUNC_H_
