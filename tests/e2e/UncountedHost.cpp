// SPDX-License-Identifier: Apache-2.0
#include "tests/e2e/UncountedHost.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "tests/e2e/AllocationFailure.h"

namespace zktest {

int UncountedSnapInfo::GetSnapName(char* pBuffer, uint16_t* pLength) {
  UncountedAllocations oUncounted;
  return m_pInner->GetSnapName(pBuffer, pLength);
}
int UncountedSnapInfo::SetSnapName(const char* pszName) {
  UncountedAllocations oUncounted;
  return m_pInner->SetSnapName(pszName);
}
int UncountedSnapInfo::GetArrayInfo(char* pBuffer, uint16_t* pLength) {
  UncountedAllocations oUncounted;
  return m_pInner->GetArrayInfo(pBuffer, pLength);
}
int UncountedSnapInfo::SetArrayName(const char* pszNameOrAddress) {
  UncountedAllocations oUncounted;
  return m_pInner->SetArrayName(pszNameOrAddress);
}
int UncountedSnapInfo::GetHostIdentifier(char* pBuffer, uint16_t* pLength) {
  UncountedAllocations oUncounted;
  return m_pInner->GetHostIdentifier(pBuffer, pLength);
}
ZKSO::SnapStatus UncountedSnapInfo::GetStatus() {
  UncountedAllocations oUncounted;
  return m_pInner->GetStatus();
}
int UncountedSnapInfo::SetStatus(int nStatus) {
  UncountedAllocations oUncounted;
  return m_pInner->SetStatus(nStatus);
}
int UncountedSnapInfo::GetSourceDevice(char* pBuffer, uint16_t* pLength) {
  UncountedAllocations oUncounted;
  return m_pInner->GetSourceDevice(pBuffer, pLength);
}
int UncountedSnapInfo::SetSourceDevice(const char* pszIdentifier) {
  UncountedAllocations oUncounted;
  return m_pInner->SetSourceDevice(pszIdentifier);
}
int UncountedSnapInfo::GetSnapDevice(char* pBuffer, uint16_t* pLength) {
  UncountedAllocations oUncounted;
  return m_pInner->GetSnapDevice(pBuffer, pLength);
}
int UncountedSnapInfo::SetSnapDevice(const char* pszSnapDevice) {
  UncountedAllocations oUncounted;
  return m_pInner->SetSnapDevice(pszSnapDevice);
}
int UncountedSnapInfo::GetMetaData(int nType, char* pBuffer,
                                   uint16_t* pLength) {
  UncountedAllocations oUncounted;
  return m_pInner->GetMetaData(nType, pBuffer, pLength);
}
int UncountedSnapInfo::SetMetaData(int nType, const char* pszValue) {
  UncountedAllocations oUncounted;
  return m_pInner->SetMetaData(nType, pszValue);
}
int UncountedSnapInfo::SetJPR(int nMessageId, const char* pszText) {
  UncountedAllocations oUncounted;
  return m_pInner->SetJPR(nMessageId, pszText);
}
int UncountedSnapInfo::LogMessage(int nLevel, const char* pszText) {
  UncountedAllocations oUncounted;
  return m_pInner->LogMessage(nLevel, pszText);
}
int UncountedSnapInfo::Log(int nLevel, const char* pszTag,
                           const char* pszFormat, ...) {
  UncountedAllocations oUncounted;
  std::string sText;
  if (pszFormat != nullptr) {
    va_list vaArgs;
    va_start(vaArgs, pszFormat);
    va_list vaCopy;
    va_copy(vaCopy, vaArgs);
    const int n = std::vsnprintf(nullptr, 0, pszFormat, vaCopy);
    va_end(vaCopy);
    if (n > 0) {
      sText.resize(static_cast<size_t>(n) + 1);
      std::vsnprintf(&sText[0], sText.size(), pszFormat, vaArgs);
      sText.resize(static_cast<size_t>(n));
    }
    va_end(vaArgs);
  }
  return m_pInner->Log(nLevel, pszTag, "%s", sText.c_str());
}
int UncountedSnapInfo::GetIntValue(int nValueId, int* pValue) {
  UncountedAllocations oUncounted;
  return m_pInner->GetIntValue(nValueId, pValue);
}

int UncountedOSUtil::GetConfigString(const char* pszSection, const char* pszKey,
                                     char* pBuffer, int nSize) {
  UncountedAllocations oUncounted;
  return m_pInner->GetConfigString(pszSection, pszKey, pBuffer, nSize);
}
bool UncountedOSUtil::GetConfigInt(const char* pszSection, const char* pszKey,
                                   int* pValue) {
  UncountedAllocations oUncounted;
  return m_pInner->GetConfigInt(pszSection, pszKey, pValue);
}
ZKUint64 UncountedOSUtil::GetJobId() {
  UncountedAllocations oUncounted;
  return m_pInner->GetJobId();
}

}  // namespace zktest
