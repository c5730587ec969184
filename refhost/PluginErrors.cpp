// SPDX-License-Identifier: Apache-2.0
#include "refhost/PluginErrors.h"

#include <set>

#include "host/ZKSnapTypes.h"
#include "refhost/KeyValueText.h"
#include "refhost/RecordHolding.h"

namespace zkref {

PluginErrorCapture::PluginErrorCapture() : m_pPrevious(ZkSetLogSink(this)) {}

PluginErrorCapture::~PluginErrorCapture() { ZkSetLogSink(m_pPrevious); }

namespace {

bool IsError(ZkLogLine::Stream eStream, bool bHasLevel, int nLevel) {
  return eStream == ZkLogLine::kError || (bHasLevel && nLevel < 0);
}

}  // namespace

bool PluginErrorCapture::Wants(ZkLogLine::Stream eStream, int nLevel) const {
  return IsError(eStream, true, nLevel) ||
         (m_pPrevious != nullptr && m_pPrevious->Wants(eStream, nLevel));
}

void PluginErrorCapture::Write(const ZkLogLine& oLine) {
  if (IsError(oLine.eStream, oLine.bHasLevel, oLine.nLevel)) {
    m_vLines.push_back(oLine);
  }
  if (m_pPrevious != nullptr &&
      m_pPrevious->Wants(oLine.eStream, oLine.bHasLevel ? oLine.nLevel : 0)) {
    m_pPrevious->Write(oLine);
  }
}

bool IsFailureStatus(int n) {
  switch (n) {
    case ZKSO::READY_FOR_SNAP_FAILED:
    case ZKSO::SNAP_FAILED:
    case ZKSO::MAP_FAILED:
    case ZKSO::UNMAP_FAILED:
    case ZKSO::DELETE_FAILED:
    case ZKSO::REVERT_FAILED:
      return true;
  }
  return false;
}

bool IsEmptyReason(const std::string& sText) {
  std::string s = sText;
  for (const char* pszLabel :
       {"Component:", "Facility:", "MessageCode:", "Message:", "Severity:",
        "Description:", "Action:", "Diagnostics:"}) {
    const std::string sLabel = pszLabel;
    for (size_t n = s.find(sLabel); n != std::string::npos;
         n = s.find(sLabel)) {
      s.erase(n, sLabel.size());
    }
  }
  for (char c : s) {
    if (c != ' ' && c != '[' && c != ']') return false;
  }
  return true;
}

namespace {

// A status report of the file server whose fields are all empty, and the
// array information (password masked) that the plug-in logs at level -1 on
// every call: neither tells why anything failed.
bool CarriesNothing(const std::string& sText) {
  if (sText.compare(0, 12, "Array Info: ") == 0) return true;
  return sText.find("returned by Celerra") != std::string::npos &&
         sText.find("Component:[], facility:[],message:[]") !=
             std::string::npos;
}

// Texts by which a line can name a record.
std::vector<std::string> NamesOf(const RecordRow& r) {
  std::vector<std::string> v = {r.sSnapName};
  KeyValuePairs vPairs;
  std::string sError;
  if (ParseKeyValueText(r.sSourceDevice, &vPairs, &sError)) {
    v.push_back(ValueOf(vPairs, "lunuuid"));
    v.push_back(ValueOf(vPairs, "path"));
  }
  const Holding h = NamedBy(r);
  v.push_back(h.sCheckpointName);
  v.push_back(h.sMountName);
  std::vector<std::string> vNames;
  for (std::string& s : v) {
    // "/" alone, or a snap name of one letter, would name everything.
    if (s.size() > 1) vNames.push_back("[" + s + "]");
  }
  return vNames;
}

bool Names(const std::string& sText, const std::vector<std::string>& vNames) {
  for (const std::string& s : vNames) {
    if (sText.find(s) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::vector<ErrorLine> AttachErrorLines(const std::vector<ZkLogLine>& vLines,
                                        const std::vector<RecordRow>& vRows) {
  std::vector<std::vector<std::string>> vNames;
  std::string sCallRecord;  // where a line of the call is kept
  for (const RecordRow& r : vRows) {
    vNames.push_back(NamesOf(r));
    if (sCallRecord.empty() && IsFailureStatus(r.nStatus)) {
      sCallRecord = r.sName;
    }
  }
  if (sCallRecord.empty() && !vRows.empty()) sCallRecord = vRows[0].sName;
  std::vector<ErrorLine> vOut;
  std::set<std::vector<std::string>> oSeen;
  for (const ZkLogLine& o : vLines) {
    if (CarriesNothing(o.sText)) continue;
    ErrorLine e;
    e.sTag = o.sTag;
    e.sText = o.sText;
    for (size_t i = 0; i < vRows.size(); ++i) {
      if (!Names(o.sText, vNames[i])) continue;
      e.sRecord += (e.sRecord.empty() ? "" : " ") + vRows[i].sName;
      if (e.sLogRecord.empty()) e.sLogRecord = vRows[i].sName;
    }
    if (e.sLogRecord.empty()) e.sLogRecord = sCallRecord;
    // The plug-in logs some lines once per record: each is kept once.
    if (!oSeen.insert({e.sRecord, e.sTag, e.sText}).second) continue;
    vOut.push_back(std::move(e));
  }
  return vOut;
}

}  // namespace zkref
