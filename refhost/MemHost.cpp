// SPDX-License-Identifier: Apache-2.0
#include "refhost/MemHost.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "refhost/KeyValueText.h"

namespace zkref {

namespace {

std::string FormatV(const char* pszFormat, va_list vaArgs)
    ZK_PRINTF_FORMAT(1, 0);

std::string FormatV(const char* pszFormat, va_list vaArgs) {
  if (pszFormat == nullptr) return std::string();
  va_list vaCopy;
  va_copy(vaCopy, vaArgs);
  int n = std::vsnprintf(nullptr, 0, pszFormat, vaCopy);
  va_end(vaCopy);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(&s[0], s.size(), pszFormat, vaArgs);
  s.resize(static_cast<size_t>(n));
  return s;
}

std::string Quote(const char* psz) {
  return psz == nullptr ? std::string("null") : "\"" + std::string(psz) + "\"";
}

}  // namespace

const ArrayEntry* ArrayDatabase::Find(const std::string& sNameOrAddress) const {
  if (sNameOrAddress.empty()) return nullptr;
  for (const ArrayEntry& o : m_vEntries) {
    if (o.sName == sNameOrAddress) return &o;
    for (const std::string& s : o.vAliases) {
      if (s == sNameOrAddress) return &o;
    }
  }
  return nullptr;
}

std::string ArrayDatabase::FormArrayInfo(const std::string& sArrayId,
                                         const std::string& sVendorName,
                                         const std::string& sHostName,
                                         const std::string& sUserName,
                                         const std::string& sPassword) {
  return FormArrayInfo(sArrayId, sVendorName, sHostName, sUserName, sPassword,
                       "celerra");
}

std::string ArrayDatabase::FormArrayInfo(const std::string& sArrayId,
                                         const std::string& sVendorName,
                                         const std::string& sHostName,
                                         const std::string& sUserName,
                                         const std::string& sPassword,
                                         const std::string& sEngineName) {
  return "{arrayId:" + EscapeValue(sArrayId) +
         ",vendorName:" + EscapeValue(sVendorName) +
         ",hostName:" + EscapeValue(sHostName) +
         ",hostUserName:" + EscapeValue(sUserName) +
         ",hostPassword:" + EscapeValue(sPassword) +
         ",engineName:" + EscapeValue(sEngineName) + "}";
}

MemSnapInfo::MemSnapInfo(const ArrayDatabase* pDatabase)
    : m_pDatabase(pDatabase) {}

int MemSnapInfo::Answer(Getter eGetter, const std::string& sValue,
                        char* pBuffer, uint16_t* pLength) {
  Switch& oSwitch = m_mSwitches[eGetter];
  ++oSwitch.nCalls;
  if (oSwitch.nFail != 0) {
    if (oSwitch.nFail > 0) --oSwitch.nFail;
    return 1;
  }
  if (pLength == nullptr) return 1;
  const size_t nNeeded = sValue.size() + 1;
  if (oSwitch.nTooSmall > 0) {
    --oSwitch.nTooSmall;
    *pLength =
        oSwitch.nNeeded != 0 ? oSwitch.nNeeded : static_cast<uint16_t>(nNeeded);
    return 2;
  }
  if (nNeeded > 0xFFFF) return 1;  // cannot be described by a 16-bit length
  if (pBuffer == nullptr || *pLength < nNeeded) {
    *pLength = static_cast<uint16_t>(nNeeded);
    return 2;
  }
  std::memcpy(pBuffer, sValue.c_str(), nNeeded);
  return 0;
}

int MemSnapInfo::GetSnapName(char* pBuffer, uint16_t* pLength) {
  m_vCalls.push_back("GetSnapName");
  return Answer(Getter::kSnapName, sSnapName, pBuffer, pLength);
}

int MemSnapInfo::SetSnapName(const char* pszName) {
  m_vCalls.push_back("SetSnapName(" + Quote(pszName) + ")");
  sSnapName = pszName == nullptr ? "" : pszName;
  return 0;
}

int MemSnapInfo::GetArrayInfo(char* pBuffer, uint16_t* pLength) {
  m_vCalls.push_back("GetArrayInfo");
  const ArrayEntry* pEntry =
      m_pDatabase == nullptr ? nullptr : m_pDatabase->Find(sBoundArray);
  if (pEntry == nullptr) {
    // A record bound to no array has no array information.
    ++m_mSwitches[Getter::kArrayInfo].nCalls;
    return 1;
  }
  const std::string& sInfo = pEntry->sArrayInfo;
  return Answer(Getter::kArrayInfo, sInfo, pBuffer, pLength);
}

int MemSnapInfo::SetArrayName(const char* pszNameOrAddress) {
  std::string sName = pszNameOrAddress == nullptr ? "" : pszNameOrAddress;
  m_vCalls.push_back("SetArrayName(" + Quote(pszNameOrAddress) + ")");
  if (bRefuseArrayNames || m_pDatabase == nullptr) return 1;
  const ArrayEntry* pEntry = m_pDatabase->Find(sName);
  if (pEntry == nullptr) return 1;
  sBoundArray = pEntry->sName;
  return 0;
}

int MemSnapInfo::GetHostIdentifier(char* pBuffer, uint16_t* pLength) {
  m_vCalls.push_back("GetHostIdentifier");
  return Answer(Getter::kHostIdentifier, sHostIdentifier, pBuffer, pLength);
}

ZKSO::SnapStatus MemSnapInfo::GetStatus() {
  m_vCalls.push_back("GetStatus");
  return static_cast<ZKSO::SnapStatus>(nStatus);
}

int MemSnapInfo::SetStatus(int nNewStatus) {
  m_vCalls.push_back("SetStatus(" + std::to_string(nNewStatus) + ")");
  nStatus = nNewStatus;
  vStatusHistory.push_back(nNewStatus);
  return 0;
}

int MemSnapInfo::GetSourceDevice(char* pBuffer, uint16_t* pLength) {
  m_vCalls.push_back("GetSourceDevice");
  return Answer(Getter::kSourceDevice, sSourceDevice, pBuffer, pLength);
}

int MemSnapInfo::SetSourceDevice(const char* pszIdentifier) {
  m_vCalls.push_back("SetSourceDevice(" + Quote(pszIdentifier) + ")");
  sSourceDevice = pszIdentifier == nullptr ? "" : pszIdentifier;
  return 0;
}

int MemSnapInfo::GetSnapDevice(char* pBuffer, uint16_t* pLength) {
  m_vCalls.push_back("GetSnapDevice");
  return Answer(Getter::kSnapDevice, sSnapDevice, pBuffer, pLength);
}

int MemSnapInfo::SetSnapDevice(const char* pszSnapDevice) {
  m_vCalls.push_back("SetSnapDevice(" + Quote(pszSnapDevice) + ")");
  sSnapDevice = pszSnapDevice == nullptr ? "" : pszSnapDevice;
  return 0;
}

int MemSnapInfo::GetMetaData(int nType, char* pBuffer, uint16_t* pLength) {
  m_vCalls.push_back("GetMetaData(" + std::to_string(nType) + ")");
  auto it = mMetaData.find(nType);
  // An absent entry reads as the empty text.
  return Answer(Getter::kMetaData, it == mMetaData.end() ? "" : it->second,
                pBuffer, pLength);
}

int MemSnapInfo::SetMetaData(int nType, const char* pszValue) {
  m_vCalls.push_back("SetMetaData(" + std::to_string(nType) + "," +
                     Quote(pszValue) + ")");
  if (pszValue == nullptr) {
    mMetaData.erase(nType);
  } else {
    mMetaData[nType] = pszValue;
  }
  return 0;
}

int MemSnapInfo::SetJPR(int nMessageId, const char* pszText) {
  std::string sText = pszText == nullptr ? "" : pszText;
  m_vCalls.push_back("SetJPR(" + std::to_string(nMessageId) + ")");
  nJPRId = nMessageId;
  sJPRText = sText;
  vJPRHistory.emplace_back(nMessageId, sText);
  return 0;
}

int MemSnapInfo::LogMessage(int nLevel, const char* pszText) {
  m_vCalls.push_back("LogMessage(" + std::to_string(nLevel) + ")");
  vJobLog.push_back({nLevel, "", pszText == nullptr ? "" : pszText});
  return 0;
}

int MemSnapInfo::Log(int nLevel, const char* pszTag, const char* pszFormat,
                     ...) {
  m_vCalls.push_back("Log(" + std::to_string(nLevel) + ")");
  va_list va;
  va_start(va, pszFormat);
  std::string sText = FormatV(pszFormat, va);
  va_end(va);
  vJobLog.push_back({nLevel, pszTag == nullptr ? "" : pszTag, sText});
  return 0;
}

int MemSnapInfo::GetIntValue(int nValueId, int* pValue) {
  m_vCalls.push_back("GetIntValue(" + std::to_string(nValueId) + ")");
  auto it = mIntValues.find(nValueId);
  if (it == mIntValues.end() || pValue == nullptr) return 1;
  *pValue = it->second;
  return 0;
}

void MemSnapInfo::AnswerTooSmall(Getter eGetter, int nTimes, uint16_t nNeeded) {
  Switch& oSwitch = m_mSwitches[eGetter];
  oSwitch.nTooSmall = nTimes;
  oSwitch.nNeeded = nNeeded;
}

void MemSnapInfo::FailGetter(Getter eGetter, int nTimes) {
  m_mSwitches[eGetter].nFail = nTimes;
}

int MemSnapInfo::CallCount(Getter eGetter) const {
  auto it = m_mSwitches.find(eGetter);
  return it == m_mSwitches.end() ? 0 : it->second.nCalls;
}

bool MemSnapInfo::JobLogContains(const std::string& sNeedle) const {
  for (const JobLogLine& o : vJobLog) {
    if (o.sText.find(sNeedle) != std::string::npos) return true;
  }
  return false;
}

int MemOSUtil::GetConfigString(const char* pszSection, const char* pszKey,
                               char* pBuffer, int nSize) {
  if (pszKey == nullptr || pBuffer == nullptr || nSize <= 0) return 1;
  auto it = m_mConfig.find({pszSection == nullptr ? "" : pszSection, pszKey});
  if (it == m_mConfig.end()) return 1;
  size_t nCopy = std::min(it->second.size(), static_cast<size_t>(nSize - 1));
  std::memcpy(pBuffer, it->second.data(), nCopy);
  pBuffer[nCopy] = '\0';
  return 0;
}

bool MemOSUtil::GetConfigInt(const char* pszSection, const char* pszKey,
                             int* pValue) {
  if (pszKey == nullptr || pValue == nullptr) return false;
  auto it = m_mConfig.find({pszSection == nullptr ? "" : pszSection, pszKey});
  if (it == m_mConfig.end()) return false;
  char* pEnd = nullptr;
  long n = std::strtol(it->second.c_str(), &pEnd, 10);
  if (pEnd == it->second.c_str() || *pEnd != '\0') return false;
  *pValue = static_cast<int>(n);
  return true;
}

void MemOSUtil::SetConfig(const std::string& sKey, const std::string& sValue,
                          const std::string& sSection) {
  m_mConfig[{sSection, sKey}] = sValue;
}

}  // namespace zkref
