// SPDX-License-Identifier: Apache-2.0
// CelerraSnapDeviceNfs: an NFS export of a Celerra/VNX file system. Carried
// through every operation: its file system is found by shortening the export
// path until the file server knows the export, and stored as SM_MDT_FS_INFO
// (target host|PFS id|storage type|storage extra|mover id|export path|).
// Ownership and threads: as CelerraSnapDevice.
#ifndef ZK_DEVICE_CELERRASNAPDEVICENFS_H_
#define ZK_DEVICE_CELERRASNAPDEVICENFS_H_

#include <string>

#include "device/CelerraSnapDevice.h"

class CelerraSnapDeviceNfs : public CelerraSnapDevice {
 public:
  CelerraSnapDeviceNfs() = default;
  ~CelerraSnapDeviceNfs() override = default;

  using CelerraSnapDevice::ParseFSMetaData;

  std::string GetFSMetaData() override;
  bool ParseFSMetaData(std::string sText, unsigned long& nPosition) override;
  bool DetermineFromDevice() override;
  bool PopulateDetails(ManageCelerra& oClient) override;
  bool FormSnapDevice(const std::string& sSharePath) override;
  bool CreateRWChkPt(ManageCelerra& oClient) override;
  bool ExposeChkPt(ManageCelerra& oClient,
                   const std::string& sMountHost) override;
  bool UnExposeChkPt(ManageCelerra& oClient) override;

  // The stored file system fields, in order.
  FieldList FSMetaDataFields() const;

 protected:
  std::string m_sTargetHostName;  // file server host of the identifier
  std::string m_sShareName;       // NFS export path
  std::string m_sMoverId;         // data mover serving the export

 private:
  friend class CelerraSnapDeviceTestPeer;
};

#endif  // ZK_DEVICE_CELERRASNAPDEVICENFS_H_
