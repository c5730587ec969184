// SPDX-License-Identifier: Apache-2.0
#include "engine/SnapCreation.h"

#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "device/CelerraStatusLog.h"
#include "engine/OperationFrame.h"
#include "host/EvDebug.h"
#include "host/ManageCelerra.h"

namespace {

const char kBuildTag[] = "BuildArrayToDeviceMap";
const char kCheckpointLimitCode[] = "13690535984";

// Where the stop handler reports: the record and the source device it names.
struct StopReport {
  ZKSO::SnapInfo* pRecord = nullptr;  // borrowed; null when there is none
  std::string sSourceDevice;
  // The refusal that stopped the call, when a query after it may have
  // replaced the client's last error; else the plug-in's own reason.
  bool bKept = false;
  CelerraError oError;
  std::string sOwnReason;
};

// After a failed CreateROChkPt that may have run all the same (its reply
// lost, or a create of an earlier call whose record names it): one listing
// of every checkpoint of the file server. A read-only checkpoint of that
// name on the group's own file system is adopted (*psId). One of that name
// that is not (another file system's, a writable one) is a collision,
// returned in *pCollision. The client must say which file system each
// checkpoint belongs to; when it does not, nothing is adopted. False when
// nothing is adopted.
bool FindMadeChkpt(ManageCelerra& oClient, const std::string& sPFSId,
                   const std::string& sName, std::string* psId,
                   CelerraChkPtInfo* pCollision, bool* pbAnswered) {
  std::list<CelerraChkPtInfo> lChkpts;
  *pbAnswered = oClient.GetChkPointsInfo("", lChkpts);
  if (!*pbAnswered) return false;
  for (const CelerraChkPtInfo& oChkpt : lChkpts) {
    if (oChkpt.sChkptName != sName || oChkpt.sChkptId.empty()) continue;
    if (oChkpt.sPFSId.empty()) return false;
    if (oChkpt.sPFSId == sPFSId && oChkpt.sBaselineChkptId.empty()) {
      *psId = oChkpt.sChkptId;
      return true;
    }
    *pCollision = oChkpt;
    return false;
  }
  return false;
}

ManageCelerra ClientFor(const _CelerraArrayCredentials& oCredentials,
                        ZKUint64 nJobId) {
  ManageCelerra oClient(nJobId);
  oClient.SetControlHostInfo(oCredentials.sHostName, oCredentials.sHostUserName,
                             oCredentials.sHostPassword);
  return oClient;
}

}  // namespace

bool BuildArrayToDeviceMap(const std::vector<CelerraSnapDevice*>& vDevices,
                           ZKSO::ZKOSUtil* pOSUtil,
                           std::vector<_CelerraArrayToDeviceMap>& vArrayMap,
                           const bool& bSameFS) {
  const ZKUint64 nJobId = pOSUtil != nullptr ? pOSUtil->GetJobId() : 0;
  // Entry index by control host; group index by (entry, file system id and,
  // without bSameFS, the group's checkpoint name). Entries already in the
  // map are indexed first, so the first match is still the one found.
  using GroupKey = std::pair<std::string, std::string>;
  std::unordered_map<std::string, size_t> mEntries;
  std::vector<std::map<GroupKey, size_t>> vGroups;
  auto KeyOf = [&](const std::string& sPFSId, CelerraSnapDevice* pDevice) {
    return GroupKey(sPFSId, bSameFS ? std::string() : pDevice->GetChkptName());
  };
  for (size_t e = 0; e < vArrayMap.size(); ++e) {
    mEntries.emplace(vArrayMap[e].oArrayCredentials.sHostName, e);
    vGroups.emplace_back();
    const auto& vEntryGroups = vArrayMap[e].vStorageToDevices;
    for (size_t g = 0; g < vEntryGroups.size(); ++g) {
      if (vEntryGroups[g].vSnapDevices.empty()) continue;
      vGroups[e].emplace(KeyOf(vEntryGroups[g].oStorageResource.sPFSId,
                               vEntryGroups[g].vSnapDevices.front()),
                         g);
    }
  }

  EvDebug oLog;
  for (CelerraSnapDevice* pDevice : vDevices) {
    if (pDevice == nullptr) continue;
    const _CelerraStorageResource oResource = pDevice->GetStorageResource();
    _CelerraArrayCredentials oCredentials;
    pDevice->GetArrayCredentials(oCredentials);

    bool bArrayFound = false;
    bool bGroupFound = false;
    auto itEntry = mEntries.find(oCredentials.sHostName);
    if (itEntry == mEntries.end()) {
      _CelerraArrayToDeviceMap oEntry;
      oEntry.oArrayCredentials = oCredentials;
      _CelerraStorageToDevice oGroup;
      oGroup.oStorageResource = oResource;
      oGroup.vSnapDevices.push_back(pDevice);
      oEntry.vStorageToDevices.push_back(oGroup);
      vArrayMap.push_back(oEntry);
      vGroups.emplace_back();
      mEntries.emplace(oCredentials.sHostName, vArrayMap.size() - 1);
      vGroups.back().emplace(KeyOf(oResource.sPFSId, pDevice), 0);
    } else {
      bArrayFound = true;
      const size_t e = itEntry->second;
      auto& vEntryGroups = vArrayMap[e].vStorageToDevices;
      const GroupKey oKey = KeyOf(oResource.sPFSId, pDevice);
      auto itGroup = vGroups[e].find(oKey);
      if (itGroup != vGroups[e].end()) {
        bGroupFound = true;
        _CelerraStorageToDevice& oGroup = vEntryGroups[itGroup->second];
        oGroup.vSnapDevices.push_back(pDevice);
        if (bSameFS) {
          pDevice->SetChkptName(oGroup.vSnapDevices.front()->GetChkptName());
        }
      } else {
        _CelerraStorageToDevice oGroup;
        oGroup.oStorageResource = oResource;
        oGroup.vSnapDevices.push_back(pDevice);
        vEntryGroups.push_back(oGroup);
        vGroups[e].emplace(oKey, vEntryGroups.size() - 1);
      }
    }
    oLog.DebugLvl(
        kBuildTag, 5, nJobId, "Array control host:%s-%s,Storage:%s-%s [%s]",
        oCredentials.sHostName.c_str(), bArrayFound ? "true" : "false",
        oResource.sPFSId.c_str(), bGroupFound ? "true" : "false",
        pDevice->GetChkptName().c_str());
  }
  return true;
}

ZKSO::ResultCode RunSnapCreation(ZKSO::SnapInfo** ppSnapInfo, int16_t nCount,
                                 ZKSO::ZKOSUtil* pOSUtil) {
  OperationFrame oFrame(kSnapPolicy, ppSnapInfo, nCount, pOSUtil);
  oFrame.Begin();

  // The request's devices in record order, and the record of each.
  std::vector<CelerraSnapDevicePtr> vOwned;
  std::vector<CelerraSnapDevice*> vDevices;
  std::unordered_map<const CelerraSnapDevice*, ZKSO::SnapInfo*> mRecordOf;
  ManageCelerra oErrorClient;  // the client whose last error a stop reports
  StopReport oReport;

  try {
    vOwned.reserve(oFrame.Count());
    vDevices.reserve(oFrame.Count());
    mRecordOf.reserve(oFrame.Count());
    // Preparation phase: a stop here creates no checkpoint at all.
    for (int i = 0; i < oFrame.Count(); ++i) {
      ZKSO::SnapInfo* pRecord = oFrame.RecordAt(i);
      oReport.pRecord = pRecord;
      if (pRecord == nullptr) {
        oFrame.Log().DebugLvl(oFrame.Tag(), -1, oFrame.JobId(),
                              "Snap info record [%d] is missing", i);
        throw i;
      }
      CelerraSnapDevicePtr pDevice(
          CelerraSnapDevice::GetInstance(pRecord, pOSUtil, SNAP_OP_SNAP));
      if (!pDevice) {
        pRecord->SetStatus(ZKSO::SNAP_FAILED);
        throw i;
      }
      CelerraSnapDevice* pRaw = pDevice.get();
      mRecordOf.emplace(pRaw, pRecord);
      vOwned.push_back(std::move(pDevice));
      vDevices.push_back(pRaw);
      oReport.sSourceDevice = pRaw->GetSnapSourceDevice();
      if (!pRaw->PreOperation()) {
        oFrame.Log().DebugLvl(oFrame.Tag(), -1, oFrame.JobId(),
                              "Failed to do PreOperation");
        throw i;
      }
    }

    std::vector<_CelerraArrayToDeviceMap> vArrayMap;
    BuildArrayToDeviceMap(vDevices, pOSUtil, vArrayMap, true);

    // Creation phase: one checkpoint per group, then the group's devices.
    for (const _CelerraArrayToDeviceMap& oEntry : vArrayMap) {
      // A failure is reported on the record of the group in hand: the
      // request's last record may belong to a group never tried, and the
      // record last completed has succeeded.
      CelerraSnapDevice* pEntryFirst =
          oEntry.vStorageToDevices.front().vSnapDevices.front();
      oReport.pRecord = mRecordOf.at(pEntryFirst);
      oReport.sSourceDevice = pEntryFirst->GetSnapSourceDevice();
      oErrorClient = ClientFor(oEntry.oArrayCredentials, oFrame.JobId());
      for (const _CelerraStorageToDevice& oGroup : oEntry.vStorageToDevices) {
        CelerraSnapDevice* pFirst = oGroup.vSnapDevices.front();
        oReport.pRecord = mRecordOf.at(pFirst);
        oReport.sSourceDevice = pFirst->GetSnapSourceDevice();
        const _CelerraStorageResource& oResource = oGroup.oStorageResource;
        const std::string sName = pFirst->GetChkptName();
        // Stored as "name|id|": a name or id holding "|" could never be
        // read back, so no checkpoint is made for it.
        if (sName.find('|') != std::string::npos) {
          oReport.sOwnReason = "Checkpoint name [" + sName +
                               "] holds the separator \"|\": no checkpoint "
                               "is created for it";
          throw 0;
        }
        std::string sChkptId;
        bool bAdopted = false;
        // Each record names the checkpoint before it is made: a reply that
        // never comes leaves the records saying what may be there.
        for (CelerraSnapDevice* pDevice : oGroup.vSnapDevices) {
          pDevice->IntendROChkpt(sName);
        }
        if (!oErrorClient.CreateROChkPt(
                oResource.sPFSId, oResource.eStorageType,
                oResource.sStorageExtra, sName, sChkptId)) {
          oReport.oError = oErrorClient.GetLastError();
          oReport.bKept = true;
          // A refusal says the checkpoint was there before this create: it
          // is taken only when a record of the group names it from an
          // earlier call. A lost reply leaves it unknown.
          const bool bUnknown =
              oReport.oError.sMessageCode == kCelerraReplyLostCode;
          // A record that already holds it (a snap of it succeeded) names
          // it by its id.
          bool bNamed = false;
          std::string sHeldId;
          for (CelerraSnapDevice* pDevice : oGroup.vSnapDevices) {
            bNamed = bNamed || pDevice->PriorIntentNamesROChkpt(sName);
            if (sHeldId.empty()) sHeldId = pDevice->HeldROChkptId(sName);
          }
          CelerraChkPtInfo oCollision;
          bool bAnswered = false;
          if (!(bUnknown || bNamed || !sHeldId.empty()) ||
              !FindMadeChkpt(oErrorClient, oResource.sPFSId, sName, &sChkptId,
                             &oCollision, &bAnswered) ||
              (!bUnknown && !bNamed && sChkptId != sHeldId)) {
            // Only an outcome still unknown stays in the records' intent.
            if (!bUnknown || bAnswered) {
              for (CelerraSnapDevice* pDevice : oGroup.vSnapDevices) {
                pDevice->DropROChkptIntent();
              }
            }
            if (!oCollision.sChkptId.empty()) {
              oReport.sOwnReason =
                  "Checkpoint name [" + sName +
                  "] is in use on control host [" +
                  oEntry.oArrayCredentials.sHostName + "] by checkpoint id [" +
                  oCollision.sChkptId + "] of file system [" +
                  oCollision.sPFSId + "], not of file system [" +
                  oResource.sPFSId +
                  "] that this snap is for: no checkpoint is created";
            }
            throw 0;
          }
          oReport.bKept = false;
          bAdopted = true;
          oErrorClient = ClientFor(oEntry.oArrayCredentials, oFrame.JobId());
        }
        if (sChkptId.find('|') != std::string::npos) {
          if (!bAdopted) oErrorClient.DeleteChkPt(sChkptId, "", false);
          oReport.sOwnReason = "Checkpoint id [" + sChkptId +
                               "] of checkpoint [" + sName +
                               "] holds the separator \"|\": it cannot be "
                               "recorded";
          throw 0;
        }
        for (CelerraSnapDevice* pDevice : oGroup.vSnapDevices) {
          ZKSO::SnapInfo* pRecord = mRecordOf.at(pDevice);
          oReport.pRecord = pRecord;
          oReport.sSourceDevice = pDevice->GetSnapSourceDevice();
          if (bAdopted) {
            pRecord->Log(1, oFrame.Tag(),
                         "Chkpt [%s] id [%s] is already on the file server: "
                         "using it for this snap",
                         sName.c_str(), sChkptId.c_str());
          }
          pDevice->SetChkptID(sChkptId);
          if (!pDevice->PostOperation(ZKSO::SNAP_SUCCESS)) {
            oFrame.Log().DebugLvl(oFrame.Tag(), -1, oFrame.JobId(),
                                  "Failed to do Postoperation");
            throw 0;
          }
          pRecord->Log(1, oFrame.Tag(), "Successfully snapped src device [%s]",
                       oReport.sSourceDevice.c_str());
          oFrame.CountSucceeded();
        }
      }
    }
  } catch (...) {
    // A stop, or anything else raised while records were processed.
    try {
      const CelerraError oError =
          oReport.bKept ? oReport.oError : oErrorClient.GetLastError();
      const int nMessageId = oError.sMessageCode == kCheckpointLimitCode
                                 ? JPR_SNAP_FAILED_ARRAY_CODE
                                 : JPR_SNAP_FAILED;
      const std::string sText = oReport.sOwnReason.empty()
                                    ? OperationFrame::FormArrayErrorText(oError)
                                    : oReport.sOwnReason;
      if (oReport.pRecord != nullptr) {
        oReport.pRecord->SetJPR(nMessageId, sText.c_str());
        oReport.pRecord->Log(2, oFrame.Tag(),
                             "Unable to snap src device src device [%s]",
                             oReport.sSourceDevice.c_str());
      }
      if (oReport.bKept) {
        LogCelerraStatus(oFrame.Tag(), oFrame.JobId(), oError);
      } else {
        oFrame.LogArrayErrorStatus(oErrorClient);
      }
    } catch (...) {
    }
  }

  oFrame.Summarize();
  for (CelerraSnapDevicePtr& pDevice : vOwned) pDevice.reset();
  return oFrame.Result();
}
