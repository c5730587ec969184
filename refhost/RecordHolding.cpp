// SPDX-License-Identifier: Apache-2.0
#include "refhost/RecordHolding.h"

#include "host/ZKSnapTypes.h"
#include "refhost/KeyValueText.h"

namespace zkref {

std::vector<std::string> MetadataFields(const std::string& s) {
  std::vector<std::string> v;
  size_t nStart = 0;
  while (nStart <= s.size()) {
    const size_t nBar = s.find('|', nStart);
    if (nBar == std::string::npos) {
      if (nStart < s.size()) v.push_back(s.substr(nStart));
      break;
    }
    v.push_back(s.substr(nStart, nBar - nStart));
    nStart = nBar + 1;
  }
  return v;
}

namespace {

std::string Field(const std::vector<std::string>& v, size_t i) {
  return i < v.size() ? v[i] : std::string();
}

}  // namespace

std::string FileSystemOf(const RecordRow& r) {
  auto it = r.mMetaData.find(SM_MDT_FS_INFO);
  if (it == r.mMetaData.end()) return "";
  KeyValuePairs vPairs;
  std::string sError;
  if (!ParseKeyValueText(r.sSourceDevice, &vPairs, &sError)) return "";
  const std::vector<std::string> v = MetadataFields(it->second);
  // An NFS export's text starts with the file server's name; the other
  // kinds' with the file system id.
  const std::string sType = ValueOf(vPairs, "type");
  if (sType == "nfs") return Field(v, 1);
  if (sType == "native_celerra") return Field(v, 0);
  return "";
}

std::string Holding::Describe() const {
  std::string s;
  if (bCheckpoint) {
    s = "checkpoint " + sCheckpointName + " (" + sCheckpointId + ")";
  }
  if (bMount) {
    s += (s.empty() ? "" : " and ") + std::string("writable checkpoint ") +
         sMountName + " (" + sMountId + ")";
  }
  return s;
}

Holding NamedBy(const RecordRow& r) {
  Holding h;
  auto it = r.mMetaData.find(SM_MDT_SNAP_UUID);
  if (it != r.mMetaData.end()) {
    const std::vector<std::string> v = MetadataFields(it->second);
    h.sCheckpointName = Field(v, 0);
    h.sCheckpointId = Field(v, 1);
    h.sBaselineId = Field(v, 2);
    h.bCheckpoint = !h.sCheckpointName.empty() || !h.sCheckpointId.empty();
  }
  it = r.mMetaData.find(SM_MDT_SNAP_MOUNT);
  if (it != r.mMetaData.end()) {
    const std::vector<std::string> v = MetadataFields(it->second);
    h.sMountName = Field(v, 0);
    h.sMountId = Field(v, 1);
    h.bMount = !h.sMountName.empty() || !h.sMountId.empty();
  }
  return h;
}

Holding HoldingOf(const RecordRow& r) {
  Holding h = NamedBy(r);
  if (r.nStatus == ZKSO::DELETE_SUCCESS || r.nStatus == ZKSO::SNAP_NOT_FOUND) {
    h.bCheckpoint = false;
  }
  return h;
}

std::string HeldSnapDevice(const RecordRow& r) {
  return HoldingOf(r).bMount ? r.sSnapDevice : std::string();
}

std::string HeldCloneExport(const RecordRow& r) {
  const std::string sDevice = HeldSnapDevice(r);
  KeyValuePairs vPairs;
  std::string sError;
  if (!ParseKeyValueText(sDevice, &vPairs, &sError)) return sDevice;
  for (const char* pszKey : {"exportpath", "lunuuid"}) {
    const std::string s = ValueOf(vPairs, pszKey);
    if (!s.empty()) return s;
  }
  return sDevice;
}

std::string ControlHostOf(Catalog& c, const RecordRow& r) {
  std::string sArray = r.sBoundArray;
  if (sArray.empty()) {
    KeyValuePairs vPairs;
    std::string sError;
    if (ParseKeyValueText(r.sSourceDevice, &vPairs, &sError)) {
      sArray = ValueOf(vPairs, "targethostname");
    }
  }
  if (sArray.empty()) return "";
  std::optional<ArrayRow> oArray = c.FindArray(sArray);
  return oArray ? oArray->sControlHost : std::string();
}

std::string RemoveCommands(Catalog& c, const RecordRow& r) {
  const Holding h = HoldingOf(r);
  const std::string sHost = ControlHostOf(c, r);
  std::string sMountSharers, sCheckpointSharers;
  for (const RecordRow& o : c.Records()) {
    const Holding ho = HoldingOf(o);
    const bool bHost = o.sName == r.sName || ControlHostOf(c, o) == sHost;
    if (h.bMount && ho.bMount && bHost && ho.sMountName == h.sMountName &&
        ho.sMountId == h.sMountId) {
      sMountSharers += " " + o.sName;
    }
    if (h.bCheckpoint && ho.bCheckpoint && bHost &&
        ho.sCheckpointName == h.sCheckpointName &&
        ho.sCheckpointId == h.sCheckpointId) {
      sCheckpointSharers += " " + o.sName;
    }
  }
  if (sMountSharers.empty()) sMountSharers = " " + r.sName;
  if (sCheckpointSharers.empty()) sCheckpointSharers = " " + r.sName;
  std::string s;
  if (h.bMount) s = "'zksnap unmap" + sMountSharers + "'";
  if (h.bCheckpoint) {
    s += (s.empty() ? "" : " and ") + std::string("'zksnap delete") +
         sCheckpointSharers + "'";
  }
  return s;
}

}  // namespace zkref
