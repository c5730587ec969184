// Map and unmap: the writable checkpoint of a snapshot, its NFS export and
// the snap clone device, made and removed again.
#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "device/ZkSystemClock.h"
#include "engine/OperationDrivers.h"
#include "engine/OperationFrame.h"
#include "host/EvDebug.h"

namespace {

// Length of the buffer the status print reads each snap device into.
const uint16_t kSnapDeviceBufferLength = 4096;

class MapOperation : public RecordOperation {
 public:
  explicit MapOperation(OperationFrame& oFrame) : m_oFrame(oFrame) {}

  bool Setup() override {
    m_oClient = ManageCelerra(m_oFrame.JobId());
    m_sClientName = ZkLocalHostName();
    if (m_sClientName.empty()) {
      m_oFrame.Log().DebugLvl(m_oFrame.Tag(), -1, m_oFrame.JobId(), "%s",
                              "Unable to determine client name");
      return false;
    }
    return true;
  }

  bool Operate(CelerraSnapDevice& oDevice, ZKSO::SnapInfo& oRecord) override {
    m_sChkptName = oDevice.GetChkptName();
    GiveCredentials(oDevice, m_oClient);
    if (!oDevice.CreateRWChkPt(m_oClient)) {
      oRecord.Log(2, m_oFrame.Tag(), "%s", "Error: Failed to create RW chkpt!");
      return false;
    }
    if (!oDevice.ExposeChkPt(m_oClient, m_sClientName)) {
      oRecord.Log(2, m_oFrame.Tag(), "%s", "Error: Failed to expose RW chkpt!");
      return false;
    }
    oDevice.setSnapDevice();
    return true;
  }

  void ReportStop(ZKSO::SnapInfo* pRecord) override {
    m_oFrame.Log().error(
        "ZKSnapEngineCelerra(616): -Error-: Failed to mount Chkpt:[%s]",
        m_sChkptName.c_str());
    m_oFrame.ReportArrayError(m_oClient, pRecord, JPR_MAP_FAILED);
  }

  // Every record's snap device and status, processed or not.
  void AfterLoop() override {
    EvDebug().DebugJob(0, m_oFrame.Tag(), m_oFrame.JobId(), "%s",
                       "Printing status of clones at the end of map");
    // One spare byte keeps the text terminated whatever the host writes.
    std::unique_ptr<char[]> pBuffer(
        new (std::nothrow) char[kSnapDeviceBufferLength + 1]);
    if (!pBuffer) return;
    for (int i = 0; i < m_oFrame.Count(); ++i) {
      ZKSO::SnapInfo* pRecord = m_oFrame.RecordAt(i);
      if (pRecord == nullptr) continue;
      std::fill(pBuffer.get(), pBuffer.get() + kSnapDeviceBufferLength + 1,
                '\0');
      uint16_t nLength = kSnapDeviceBufferLength;
      pRecord->GetSnapDevice(pBuffer.get(), &nLength);
      pBuffer[kSnapDeviceBufferLength] = '\0';
      pRecord->Log(0, m_oFrame.Tag(), "pSnapInfo->SnapDevice: [%s] status [%d]",
                   pBuffer.get(), static_cast<int>(pRecord->GetStatus()));
    }
  }

 private:
  OperationFrame& m_oFrame;
  ManageCelerra m_oClient;
  std::string m_sClientName;
  std::string m_sChkptName;  // of the record last read; for the stop line
};

class UnmapOperation : public RecordOperation {
 public:
  explicit UnmapOperation(OperationFrame& oFrame) : m_oFrame(oFrame) {}

  bool Setup() override {
    m_oClient = ManageCelerra(m_oFrame.JobId());
    return true;
  }

  bool Operate(CelerraSnapDevice& oDevice, ZKSO::SnapInfo& oRecord) override {
    m_sChkptName = oDevice.GetChkptName();
    GiveCredentials(oDevice, m_oClient);
    if (!oDevice.UnExposeChkPt(m_oClient)) {
      oRecord.Log(2, m_oFrame.Tag(), "%s",
                  "Error: Failed to Unexpose & delete RW chkpt!");
      return false;
    }
    return true;
  }

  void ReportStop(ZKSO::SnapInfo* pRecord) override {
    m_oFrame.Log().error(
        "ZKSnapEngineCelerra(744): -Error-: Unable to delete share:[%s]",
        m_sChkptName.c_str());
    m_oFrame.ReportArrayError(m_oClient, pRecord, JPR_UNMAP_FAILED);
  }

 private:
  OperationFrame& m_oFrame;
  ManageCelerra m_oClient;
  std::string m_sChkptName;
};

}  // namespace

void GiveCredentials(CelerraSnapDevice& oDevice, ManageCelerra& oClient) {
  _CelerraArrayCredentials oCredentials;
  oDevice.GetArrayCredentials(oCredentials);
  oClient.SetControlHostInfo(oCredentials.sHostName, oCredentials.sHostUserName,
                             oCredentials.sHostPassword);
}

ZKSO::ResultCode RunMap(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                        ZKSO::ZKOSUtil* pOSUtil) {
  OperationFrame oFrame(kMapPolicy, ppSnapInfo, nCount, pOSUtil);
  MapOperation oMap(oFrame);
  return oFrame.Run(oMap);
}

ZKSO::ResultCode RunUnmap(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                          ZKSO::ZKOSUtil* pOSUtil) {
  OperationFrame oFrame(kUnmapPolicy, ppSnapInfo, nCount, pOSUtil);
  UnmapOperation oUnmap(oFrame);
  return oFrame.Run(oUnmap);
}
