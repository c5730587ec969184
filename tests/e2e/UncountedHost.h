// SPDX-License-Identifier: Apache-2.0
// Host objects that answer from in-memory host objects with allocation
// counting paused (AllocationFailure.h).
//
// A host's record and utility objects are the host's: their calls return
// codes and never throw into the plug-in. The in-memory stand-ins keep a
// call log and histories in C++ containers, so a failed allocation inside
// them would throw through the plug-in in a way no host does. Wrapped in
// these, the stand-ins' own allocations are neither counted nor failed,
// while everything the plug-in and its libraries allocate still is.
//
// The wrapped objects are borrowed and must outlive the wrappers.
#ifndef ZK_TESTS_E2E_UNCOUNTEDHOST_H_
#define ZK_TESTS_E2E_UNCOUNTEDHOST_H_

#include "host/ZKSnapHost.h"

namespace zktest {

class UncountedSnapInfo : public ZKSO::SnapInfo {
 public:
  explicit UncountedSnapInfo(ZKSO::SnapInfo* pInner) : m_pInner(pInner) {}
  ~UncountedSnapInfo() = default;

  int GetSnapName(char* pBuffer, uint16_t* pLength) override;
  int SetSnapName(const char* pszName) override;
  int GetArrayInfo(char* pBuffer, uint16_t* pLength) override;
  int SetArrayName(const char* pszNameOrAddress) override;
  int GetHostIdentifier(char* pBuffer, uint16_t* pLength) override;
  ZKSO::SnapStatus GetStatus() override;
  int SetStatus(int nStatus) override;
  int GetSourceDevice(char* pBuffer, uint16_t* pLength) override;
  int SetSourceDevice(const char* pszIdentifier) override;
  int GetSnapDevice(char* pBuffer, uint16_t* pLength) override;
  int SetSnapDevice(const char* pszSnapDevice) override;
  int GetMetaData(int nType, char* pBuffer, uint16_t* pLength) override;
  int SetMetaData(int nType, const char* pszValue) override;
  int SetJPR(int nMessageId, const char* pszText) override;
  int LogMessage(int nLevel, const char* pszText) override;
  int Log(int nLevel, const char* pszTag, const char* pszFormat, ...) override
      ZK_PRINTF_FORMAT(4, 5);
  int GetIntValue(int nValueId, int* pValue) override;

 private:
  ZKSO::SnapInfo* m_pInner;  // borrowed
};

class UncountedOSUtil : public ZKSO::ZKOSUtil {
 public:
  explicit UncountedOSUtil(ZKSO::ZKOSUtil* pInner) : m_pInner(pInner) {}
  ~UncountedOSUtil() = default;

  int GetConfigString(const char* pszSection, const char* pszKey, char* pBuffer,
                      int nSize) override;
  bool GetConfigInt(const char* pszSection, const char* pszKey,
                    int* pValue) override;
  ZKUint64 GetJobId() override;

 private:
  ZKSO::ZKOSUtil* m_pInner;  // borrowed
};

}  // namespace zktest

#endif  // ZK_TESTS_E2E_UNCOUNTEDHOST_H_
