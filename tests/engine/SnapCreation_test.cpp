// SPDX-License-Identifier: Apache-2.0
// BuildArrayToDeviceMap: grouping per control host and file system, first
// match, what entries and groups keep of their first device, the checkpoint
// name handed to later devices, and the level 5 line per device.
#include "engine/SnapCreation.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"

namespace {

using zktest::NfsSource;

class BuildArrayToDeviceMapTest : public zktest::DeviceTest {
 protected:
  // A device whose members are as a snap preparation leaves them.
  CelerraSnapDevice* Device(const std::string& sHost, const std::string& sFs,
                            const std::string& sName,
                            const std::string& sUser = "nasadmin",
                            const std::string& sExtra = "pool_a") {
    m_dRecords.emplace_back(&m_oDatabase);
    m_dRecords.back().sSourceDevice = NfsSource("/" + sName);
    CelerraSnapDevicePtr pDevice(CelerraSnapDevice::GetInstance(
        &m_dRecords.back(), &m_oOSUtil, SNAP_OP_SNAP));
    EXPECT_TRUE(pDevice);
    CelerraSnapDeviceTestPeer oPeer(pDevice.get());
    oPeer.Credentials() = {sHost, sUser, "pw-" + sUser};
    oPeer.Storage().sPFSId = sFs;
    oPeer.Storage().eStorageType = CELERRA_STG_UXFS;
    oPeer.Storage().sStorageExtra = sExtra;
    oPeer.ChkptName() = sName;
    m_vOwned.push_back(std::move(pDevice));
    return m_vOwned.back().get();
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> v;
    for (const ZkLogLine& oLine : m_oLog.Find("Array control host:")) {
      EXPECT_EQ("BuildArrayToDeviceMap", oLine.sTag);
      EXPECT_EQ(5, oLine.nLevel);
      EXPECT_EQ(kJobId, oLine.nJobId);
      v.push_back(oLine.sText);
    }
    return v;
  }

  std::deque<zkref::MemSnapInfo> m_dRecords;
  std::vector<CelerraSnapDevicePtr> m_vOwned;
};

TEST_F(BuildArrayToDeviceMapTest, GroupsPerControlHostAndFileSystem) {
  CelerraSnapDevice* d0 = Device("cs1", "101", "n0");
  CelerraSnapDevice* d1 = Device("cs1", "102", "n1");
  CelerraSnapDevice* d2 = Device("cs2", "101", "n2");
  // Same control host and file system, other login and extra: joins d0.
  CelerraSnapDevice* d3 = Device("cs1", "101", "n3", "other", "pool_b");
  // Control hosts compare case-sensitively.
  CelerraSnapDevice* d4 = Device("CS1", "101", "n4");

  std::vector<_CelerraArrayToDeviceMap> vMap;
  EXPECT_TRUE(
      BuildArrayToDeviceMap({d0, d1, d2, d3, d4}, &m_oOSUtil, vMap, true));

  ASSERT_EQ(3u, vMap.size());
  EXPECT_EQ("cs1", vMap[0].oArrayCredentials.sHostName);
  EXPECT_EQ("nasadmin", vMap[0].oArrayCredentials.sHostUserName);
  ASSERT_EQ(2u, vMap[0].vStorageToDevices.size());
  EXPECT_EQ((std::vector<CelerraSnapDevice*>{d0, d3}),
            vMap[0].vStorageToDevices[0].vSnapDevices);
  EXPECT_EQ("pool_a",
            vMap[0].vStorageToDevices[0].oStorageResource.sStorageExtra);
  EXPECT_EQ((std::vector<CelerraSnapDevice*>{d1}),
            vMap[0].vStorageToDevices[1].vSnapDevices);
  EXPECT_EQ("cs2", vMap[1].oArrayCredentials.sHostName);
  EXPECT_EQ((std::vector<CelerraSnapDevice*>{d2}),
            vMap[1].vStorageToDevices[0].vSnapDevices);
  EXPECT_EQ("CS1", vMap[2].oArrayCredentials.sHostName);
  // A device joining a group takes the group's checkpoint name.
  EXPECT_EQ("n0", d3->GetChkptName());
  EXPECT_EQ((std::vector<std::string>{
                "Array control host:cs1-false,Storage:101-false [n0]",
                "Array control host:cs1-true,Storage:102-false [n1]",
                "Array control host:cs2-false,Storage:101-false [n2]",
                "Array control host:cs1-true,Storage:101-true [n0]",
                "Array control host:CS1-false,Storage:101-false [n4]"}),
            Lines());
}

TEST_F(BuildArrayToDeviceMapTest, WithoutSameFSGroupsAlsoByCheckpointName) {
  CelerraSnapDevice* d0 = Device("cs1", "101", "n0");
  CelerraSnapDevice* d1 = Device("cs1", "101", "n1");
  CelerraSnapDevice* d2 = Device("cs1", "101", "n0");

  std::vector<_CelerraArrayToDeviceMap> vMap;
  BuildArrayToDeviceMap({d0, d1, d2}, &m_oOSUtil, vMap, false);

  ASSERT_EQ(1u, vMap.size());
  ASSERT_EQ(2u, vMap[0].vStorageToDevices.size());
  EXPECT_EQ((std::vector<CelerraSnapDevice*>{d0, d2}),
            vMap[0].vStorageToDevices[0].vSnapDevices);
  EXPECT_EQ((std::vector<CelerraSnapDevice*>{d1}),
            vMap[0].vStorageToDevices[1].vSnapDevices);
  EXPECT_EQ("n1", d1->GetChkptName());
}

TEST_F(BuildArrayToDeviceMapTest, AppendsToAMapThatHasEntries) {
  CelerraSnapDevice* d0 = Device("cs1", "101", "n0");
  CelerraSnapDevice* d1 = Device("cs1", "101", "n1");
  std::vector<_CelerraArrayToDeviceMap> vMap;
  BuildArrayToDeviceMap({d0}, &m_oOSUtil, vMap, true);
  BuildArrayToDeviceMap({d1}, &m_oOSUtil, vMap, true);
  ASSERT_EQ(1u, vMap.size());
  EXPECT_EQ((std::vector<CelerraSnapDevice*>{d0, d1}),
            vMap[0].vStorageToDevices[0].vSnapDevices);
  EXPECT_EQ("n0", d1->GetChkptName());
}

}  // namespace
