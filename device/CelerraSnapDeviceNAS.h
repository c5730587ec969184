// SPDX-License-Identifier: Apache-2.0
// CelerraSnapDeviceNAS: a file system of a Celerra/VNX reached natively or
// through a VMware datastore ("native_celerra"). Stored as SM_MDT_FS_INFO in
// the base format followed by target host|path|file system name|VDM id|
// on VDM ("true"/"false")|mount path|. Ownership and threads: as
// CelerraSnapDevice.
#ifndef ZK_DEVICE_CELERRASNAPDEVICENAS_H_
#define ZK_DEVICE_CELERRASNAPDEVICENAS_H_

#include <string>
#include <vector>

#include "device/CelerraSnapDevice.h"

class CelerraSnapDeviceNAS : public CelerraSnapDevice {
 public:
  CelerraSnapDeviceNAS() = default;
  ~CelerraSnapDeviceNAS() override = default;

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

  // The stored file system fields, in order (base fields first).
  FieldList FSMetaDataFields() const;
  // The part of the path below the file system's mount point, as the snap
  // clone identifier carries it ("" at the mount point). A path on a VDM
  // may name the mount point as the VDM sees it (/fs3/ds2 for
  // /root_vdm_3/fs3).
  std::string RelativePath() const;

 private:
  // PopulateDetails without its failure report: CIFS servers (cached), the
  // mover, the mount point, the file system, the rewritten source.
  bool PopulateFromFileServer(ManageCelerra& oClient);
  // The mover or VDM whose CIFS server lists one of the file server's
  // addresses.
  bool FindMover(const std::vector<CelerraCifsServer_t>& vServers,
                 std::string& sMoverId, bool& bOnVdm);

 protected:
  std::string m_sTargetHostName;
  std::string m_sPath;            // path of the identifier
  std::string m_sMountPath;       // mount point on its mover or VDM
  std::string m_sMoverMountPath;  // mount path as the physical mover sees it
  std::string m_sFSName;
  std::string m_sVdmId;  // VDM or data mover id
  bool m_bIsVdm = false;
  _CelerraSourceDeviceType m_eExposeType = CELERRA_DEVICE_NFS;
  bool m_bGUIMount = false;

  friend class CelerraSnapDeviceTestPeer;
};

#endif  // ZK_DEVICE_CELERRASNAPDEVICENAS_H_
