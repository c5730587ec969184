// SPDX-License-Identifier: Apache-2.0
#include "tests/e2e/E2EFixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "filer/FilerSim.h"
#include "tests/testclock/ZkTestClock.h"
#include "utils/CelerraUtils.h"

namespace zke2e {

const char kPassword[] = "Pw-Zk#4521-secret";
const char kControlHost[] = "cs1.zk.test";
const char kFilerName[] = "nas1.zk.test";
const char kFilerAddress[] = "10.11.12.13";
const char kAliasFilerName[] = "nas1-alias.zk.test";
const char kCifsServer[] = "cifs1";
const char kExportPath[] = "/fs1";
const char kFsId[] = "101";
const char kStorageExtra[] = "pool_gold";
const char kMoverId[] = "2";
const char kShareName[] = "share1";
const ZKUint64 kJobId = 4521;
const long kNow = 1700000000;
const char kVendor[] = "Dell EMC VNX / Celerra";

std::string NfsDevice(const std::string& sExportPath,
                      const std::string& sFilerName) {
  _CelerraSnapDeviceIdentifier oId;
  oId.sKemType = "vmware";
  oId.sType = "nfs";
  oId.sLunUUID = sExportPath;
  oId.sTargetHostName = sFilerName;
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

std::string UncDevice(const std::string& sServer, const std::string& sShare) {
  _CelerraSnapDeviceIdentifier oId;
  oId.sType = "unc";
  oId.sLunUUID = "UNC-NT_" + sServer + "\\" + sShare;
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

std::string LunDevice() {
  _CelerraSnapDeviceIdentifier oId;
  oId.sType = "fc";
  oId.sLunUUID = "600601603ea01b2c0041504d303031323334353637";
  oId.sTargetIdentifier = "50:06:01:60:3e:a0:1b:2c";
  oId.sTargetHostName = kFilerName;
  oId.sVendor = "celerra";
  return CelerraUtils::FormDeviceIdentifider(oId);
}

void E2ETest::SetUp() {
  std::string sError;
  m_pPlugin = PluginUnderTest::Get(&sError);
  ASSERT_NE(nullptr, m_pPlugin) << PluginUnderTest::Path() << ": " << sError;

  char aTemplate[] = "/tmp/zk-e2e-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(aTemplate));
  m_sTempDir = aTemplate;
  const std::string sHosts = m_sTempDir + "/hosts";
  {
    std::ofstream oHosts(sHosts);
    oHosts << kFilerAddress << " " << kFilerName << " " << kAliasFilerName
           << "\n";
  }
  setenv("ZK_HOSTS_FILE", sHosts.c_str(), 1);
  zktest::FixNow(kNow);

  ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
  zkfiler::ServerLayout oLayout(kControlHost, "nasadmin", kPassword);
  oLayout.Mover(kMoverId, {"10.11.12.20"})
      .FileSystem(kFsId, "fs1", kMoverId, kExportPath)
      .Export(kExportPath, kMoverId)
      .CifsServer(kCifsServer, kMoverId, "10.11.12.21")
      .CifsShare(kShareName, kFsId, kMoverId);
  oLayout.file_systems.back().storage_extra = kStorageExtra;
  const zkfiler::Status oStatus = zkfiler::Install(oLayout);
  ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
}

void E2ETest::TearDown() {
  std::vector<std::string> vTexts;
  for (const ZkLogLine& oLine : m_oSink.Lines()) {
    vTexts.push_back(oLine.sTag + " " + oLine.sText);
  }
  for (const zkref::MemSnapInfo& oRecord : m_dRecords) {
    for (const auto& oLine : oRecord.vJobLog) {
      vTexts.push_back(oLine.sTag + " " + oLine.sText);
    }
    for (const auto& oJPR : oRecord.vJPRHistory) vTexts.push_back(oJPR.second);
  }
  for (const std::string& sText : vTexts) {
    EXPECT_EQ(std::string::npos, sText.find(kPassword)) << sText;
  }
  unsetenv("ZK_HOSTS_FILE");
  zktest::UnfixNow();
  if (!m_sTempDir.empty()) {
    std::remove((m_sTempDir + "/hosts").c_str());
    rmdir(m_sTempDir.c_str());
  }
}

zkref::MemSnapInfo* E2ETest::NewRecord(const std::string& sSourceDevice,
                                       const std::string& sSnapName) {
  m_dRecords.emplace_back(&m_oDatabase);
  zkref::MemSnapInfo* pRecord = &m_dRecords.back();
  pRecord->sSourceDevice = sSourceDevice;
  pRecord->sSnapName = sSnapName;
  return pRecord;
}

void E2ETest::AddFilerEntry(const std::string& sVendor) {
  m_oDatabase.Add(
      {kFilerName,
       {kFilerAddress},
       zkref::ArrayDatabase::FormArrayInfo("APM00111", sVendor, kControlHost,
                                           "nasadmin", kPassword)});
}

std::vector<ZkLogLine> E2ETest::LinesEqualTo(const std::string& sText) const {
  std::vector<ZkLogLine> v;
  for (const ZkLogLine& oLine : m_oSink.Lines()) {
    if (oLine.sText == sText) v.push_back(oLine);
  }
  return v;
}

}  // namespace zke2e
