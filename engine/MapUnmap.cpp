// SPDX-License-Identifier: Apache-2.0
// Map and unmap: the writable view of a snapshot (its writable checkpoint
// and the export of it) and the snap clone device, made and removed again.
// The words are those of device/CelerraMountWork.h.
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "device/ZkSystemClock.h"
#include "engine/OperationDrivers.h"
#include "engine/OperationFrame.h"
#include "host/EvDebug.h"

namespace {

// Length of the buffer the status print reads each snap device into.
const uint16_t kSnapDeviceBufferLength = 4096;

// Map: the snapshot whose writable view records of one call share, by
// control host, the snapshot's checkpoint id and the writable checkpoint's
// name (the view is not made yet when the key is taken).
struct SnapshotViewKey {
  std::string sHost;
  std::string sChkptId;
  std::string sRWChkptName;
  bool operator<(const SnapshotViewKey& o) const {
    return std::tie(sHost, sChkptId, sRWChkptName) <
           std::tie(o.sHost, o.sChkptId, o.sRWChkptName);
  }
};

SnapshotViewKey ViewKeyOf(CelerraSnapDevice& oDevice) {
  return SnapshotViewKey{HostOf(oDevice), oDevice.GetChkptId(),
                         oDevice.GetRWChkptName()};
}

// Unmap: a writable view removed in this call, by control host and its
// writable checkpoint's id and name (as the record's mount metadata names
// them).
struct RemovedViewKey {
  std::string sHost;
  std::string sRWChkptId;
  std::string sRWChkptName;
  bool operator<(const RemovedViewKey& o) const {
    return std::tie(sHost, sRWChkptId, sRWChkptName) <
           std::tie(o.sHost, o.sRWChkptId, o.sRWChkptName);
  }
};

// The record's mount metadata as stored; empty when it has none or cannot
// be read.
std::string MountText(ZKSO::SnapInfo& oRecord) {
  std::string sText;
  CelerraSnapDevice::ReadMountText(oRecord, &sText);
  return sText;
}

// A writable view made or taken over in this call, as the next record of
// its snapshot may use it.
struct KnownView {
  std::string sRWChkptId;
  _CelerraViewExport oExport;
};

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
    // Nothing is made for an export that could name no host.
    if (!oDevice.CheckMountHosts(m_sClientName)) {
      oRecord.Log(2, m_oFrame.Tag(), "%s", "Error: Failed to expose RW chkpt!");
      oDevice.SettleStopCause(m_oClient);
      return false;
    }
    const SnapshotViewKey oKey = ViewKeyOf(oDevice);
    auto it = m_mViews.find(oKey);
    if (it != m_mViews.end()) {
      oDevice.SetKnownView(it->second.sRWChkptId, it->second.oExport);
    }
    try {
      if (!oDevice.CreateRWChkPt(m_oClient)) {
        oRecord.Log(2, m_oFrame.Tag(), "%s",
                    "Error: Failed to create RW chkpt!");
        oDevice.SettleStopCause(m_oClient);
        return false;
      }
      if (!oDevice.ExposeChkPt(m_oClient, m_sClientName)) {
        oRecord.Log(2, m_oFrame.Tag(), "%s",
                    "Error: Failed to expose RW chkpt!");
        oDevice.SettleStopCause(m_oClient);
        oDevice.UndoMap(m_oClient, m_oFrame.Tag());
        return false;
      }
      oDevice.setSnapDevice();
    } catch (...) {
      try {
        oDevice.SettleStopCause(m_oClient);
        oDevice.UndoMap(m_oClient, m_oFrame.Tag());
      } catch (...) {
      }
      throw;
    }
    if (oDevice.GetBaselineChkptId().empty() &&
        !oDevice.GetRWChkptId().empty()) {
      m_mViews[oKey] =
          KnownView{oDevice.GetRWChkptId(), oDevice.MountWork().oExport};
    }
    return true;
  }

  void ReportStop(ZKSO::SnapInfo* pRecord) override {
    m_oFrame.Log().error(
        "ZKSnapEngineCelerra(616): -Error-: Failed to mount Chkpt:[%s]",
        m_sChkptName.c_str());
    m_oFrame.ReportError(m_oFrame.StopCause(m_oClient), pRecord, JPR_MAP_FAILED,
                         "Map stopped on this device before any file server "
                         "command failed; see its job log");
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
  // Writable view of each snapshot mapped in this call: the snapshot's
  // other records of this call share it when they would export it alike.
  std::map<SnapshotViewKey, KnownView> m_mViews;
};

class UnmapOperation : public RecordOperation {
 public:
  explicit UnmapOperation(OperationFrame& oFrame) : m_oFrame(oFrame) {}

  bool Setup() override {
    m_oClient = ManageCelerra(m_oFrame.JobId());
    return true;
  }

  // Records that share a writable view are walked one after the other,
  // from the first of them on: the first removes it for all, so that a
  // stop never leaves a record saying mapped whose export is gone.
  void Order(std::vector<int>& vOrder) override {
    // Each record joins the group of the first record with its mount
    // metadata; groups keep the place of their first record.
    std::vector<std::vector<int>> vGroups;
    std::unordered_map<std::string, size_t> mGroupOf;
    for (int i : vOrder) {
      ZKSO::SnapInfo* pRecord = m_oFrame.RecordAt(i);
      const std::string sKey =
          pRecord != nullptr ? MountText(*pRecord) : std::string();
      auto it = sKey.empty() ? mGroupOf.end() : mGroupOf.find(sKey);
      if (it == mGroupOf.end()) {
        if (!sKey.empty()) mGroupOf.emplace(sKey, vGroups.size());
        vGroups.push_back({i});
      } else {
        vGroups[it->second].push_back(i);
      }
    }
    vOrder.clear();
    for (const std::vector<int>& vGroup : vGroups) {
      vOrder.insert(vOrder.end(), vGroup.begin(), vGroup.end());
    }
  }

  bool Operate(CelerraSnapDevice& oDevice, ZKSO::SnapInfo& oRecord) override {
    m_sChkptName = oDevice.GetChkptName();
    GiveCredentials(oDevice, m_oClient);
    // A writable view shared by records of one snapshot goes once.
    const bool bShared =
        oDevice.GetBaselineChkptId().empty() && !oDevice.GetRWChkptId().empty();
    const RemovedViewKey oKey{HostOf(oDevice), oDevice.GetRWChkptId(),
                              oDevice.GetRWChkptName()};
    if (bShared && m_sRemoved.count(oKey) != 0) {
      oRecord.Log(1, m_oFrame.Tag(),
                  "RW chkpt [%s] id [%s] and its NFS share were removed for "
                  "another device of this request",
                  oDevice.GetRWChkptName().c_str(),
                  oDevice.GetRWChkptId().c_str());
      return true;
    }
    if (!oDevice.UnExposeChkPt(m_oClient)) {
      oRecord.Log(2, m_oFrame.Tag(), "%s",
                  "Error: Failed to Unexpose & delete RW chkpt!");
      oDevice.SettleStopCause(m_oClient);
      return false;
    }
    if (bShared) m_sRemoved.insert(oKey);
    return true;
  }

  void ReportStop(ZKSO::SnapInfo* pRecord) override {
    m_oFrame.Log().error(
        "ZKSnapEngineCelerra(744): -Error-: Unable to delete share:[%s]",
        m_sChkptName.c_str());
    m_oFrame.ReportError(m_oFrame.StopCause(m_oClient), pRecord,
                         JPR_UNMAP_FAILED,
                         "Unmap stopped on this device before any file "
                         "server command failed; see its job log");
  }

 private:
  OperationFrame& m_oFrame;
  ManageCelerra m_oClient;
  std::string m_sChkptName;
  // Writable views removed in this call.
  std::set<RemovedViewKey> m_sRemoved;
};

}  // namespace

std::string HostOf(CelerraSnapDevice& oDevice) {
  _CelerraArrayCredentials oCredentials;
  oDevice.GetArrayCredentials(oCredentials);
  return oCredentials.sHostName;
}

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
