// SPDX-License-Identifier: Apache-2.0
#include "refhost/CatalogHost.h"

#include <ctime>

#include "refhost/PluginErrors.h"

namespace zkref {

void AddArrayTexts(const ArrayRow& a, LeakCheck* pLeaks) {
  pLeaks->AddSecret(a.sPassword);
  for (const std::string* p : {&a.sName, &a.sVendor, &a.sArrayId,
                               &a.sControlHost, &a.sUser, &a.sEngine}) {
    pLeaks->AddPublic(*p);
  }
  for (const std::string& s : a.vAddresses) pLeaks->AddPublic(s);
}

CatalogHost::CatalogHost(Catalog* pCatalog) : m_pCatalog(pCatalog) {
  m_nJobId = m_pCatalog->NextJobId();
  m_oOSUtil.SetJobId(m_nJobId);
  for (const ArrayRow& a : m_pCatalog->Arrays()) {
    ArrayEntry oEntry;
    oEntry.sName = a.sName;
    oEntry.vAliases = a.vAddresses;
    oEntry.sArrayInfo = ArrayDatabase::FormArrayInfo(
        a.sArrayId, a.sVendor, a.sControlHost, a.sUser, a.sPassword, a.sEngine);
    m_oDatabase.Add(oEntry);
    AddArrayTexts(a, &m_oLeaks);
  }
  for (const ConfigRow& c : m_pCatalog->Config()) {
    m_oOSUtil.SetConfig(c.sKey, c.sValue, c.sSection);
  }
}

MemSnapInfo* CatalogHost::Add(const RecordRow& r) {
  m_dRecords.emplace_back(&m_oDatabase);
  MemSnapInfo* p = &m_dRecords.back();
  p->sSnapName = r.sSnapName;
  p->sSourceDevice = r.sSourceDevice;
  p->sSnapDevice = r.sSnapDevice;
  p->sHostIdentifier = r.sHostIdentifier;
  p->sBoundArray = r.sBoundArray;
  p->mMetaData = r.mMetaData;
  p->nStatus = r.nStatus;
  // A reason message belongs to the job that set it; the job log keeps it.
  p->nJPRId = 0;
  p->sJPRText.clear();
  if (r.oMountSource)
    p->mIntValues[ZKSO::GET_VALUE_VOLSNAP_OP_SOURCE] = *r.oMountSource;
  m_vRows.push_back(r);
  return p;
}

std::vector<ZKSO::SnapInfo*> CatalogHost::Pointers() {
  std::vector<ZKSO::SnapInfo*> v;
  for (MemSnapInfo& o : m_dRecords) v.push_back(&o);
  return v;
}

std::vector<RecordRow> CatalogHost::WriteBack(const std::string& sOperation) {
  const int64_t nNow = static_cast<int64_t>(std::time(nullptr));
  std::vector<RecordRow> vWritten;
  size_t i = 0;
  for (const MemSnapInfo& o : m_dRecords) {
    RecordRow r = m_vRows[i++];
    r.sSnapName = o.sSnapName;
    r.sSourceDevice = o.sSourceDevice;
    r.sSnapDevice = o.sSnapDevice;
    r.sHostIdentifier = o.sHostIdentifier;
    r.sBoundArray = o.sBoundArray;
    r.mMetaData = o.mMetaData;
    r.nStatus = o.nStatus;
    r.nJPRId = o.nJPRId;
    r.sJPRText = IsEmptyReason(o.sJPRText) ? "" : m_oLeaks.Screen(o.sJPRText);
    m_pCatalog->UpdateRecord(r);
    std::vector<MemSnapInfo::JobLogLine> vLines = o.vJobLog;
    if (r.nJPRId != 0 || !r.sJPRText.empty()) {
      MemSnapInfo::JobLogLine oReason;
      oReason.nLevel = 2;
      oReason.sTag = "reason";
      oReason.sText = std::to_string(r.nJPRId) + ": " +
                      (r.sJPRText.empty() ? "(no text)" : r.sJPRText);
      vLines.push_back(oReason);
    }
    for (const MemSnapInfo::JobLogLine& oLine : vLines) {
      JobLogRow oRow;
      oRow.nJobId = m_nJobId;
      oRow.sRecord = r.sName;
      oRow.sOperation = sOperation;
      oRow.nLevel = oLine.nLevel;
      oRow.sTag = oLine.sTag;
      oRow.sText = m_oLeaks.Screen(oLine.sText);
      oRow.nTime = nNow;
      m_pCatalog->AppendJobLog(oRow);
    }
    vWritten.push_back(std::move(r));
  }
  return vWritten;
}

}  // namespace zkref
