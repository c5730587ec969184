// SPDX-License-Identifier: Apache-2.0
// The two host objects handed to every exported plug-in function.
//
// The virtual operations are declared in the host's slot order, with nothing
// before or between them: this order is the binary contract with the host.
// Never add, remove or reorder a virtual function here. The plug-in never
// creates, copies or destroys these objects, hence the protected non-virtual
// destructors.
//
// Getter convention (every operation taking a char* buffer and a uint16_t*
// length): the caller passes a zeroed buffer and its size; 0 means the
// NUL-terminated text is in the buffer (possibly empty); 2 means the buffer was
// too small and the needed size has been written to *length; anything else is
// a failure. The results of the operations that store are ignored.
#ifndef ZK_HOST_ZKSNAPHOST_H_
#define ZK_HOST_ZKSNAPHOST_H_

#include <cstdint>

#include "host/ZKSnapTypes.h"

#define ZK_PRINTF_FORMAT(fmt_index, first_arg) \
  __attribute__((format(printf, fmt_index, first_arg)))

namespace ZKSO {

// One host record: one source device of a request.
class SnapInfo {
 public:
  virtual int GetSnapName(char* pBuffer, uint16_t* pLength) = 0;
  virtual int SetSnapName(const char* pszName) = 0;
  virtual int GetArrayInfo(char* pBuffer, uint16_t* pLength) = 0;
  // 0 when the host knows the array by this name or address and has bound
  // the record to it.
  virtual int SetArrayName(const char* pszNameOrAddress) = 0;
  virtual int GetHostIdentifier(char* pBuffer, uint16_t* pLength) = 0;
  virtual SnapStatus GetStatus() = 0;
  virtual int SetStatus(int nStatus) = 0;
  virtual int GetSourceDevice(char* pBuffer, uint16_t* pLength) = 0;
  virtual int SetSourceDevice(const char* pszIdentifier) = 0;
  virtual int GetSnapDevice(char* pBuffer, uint16_t* pLength) = 0;
  virtual int SetSnapDevice(const char* pszSnapDevice) = 0;
  virtual int GetMetaData(int nType, char* pBuffer, uint16_t* pLength) = 0;
  // A null value deletes the entry.
  virtual int SetMetaData(int nType, const char* pszValue) = 0;
  // Reason message shown with this snap's job; id 0 with "" clears it.
  virtual int SetJPR(int nMessageId, const char* pszText) = 0;
  // Job log line; level 0 detail, 1 information, 2 error.
  virtual int LogMessage(int nLevel, const char* pszText) = 0;
  virtual int Log(int nLevel, const char* pszTag, const char* pszFormat, ...)
      ZK_PRINTF_FORMAT(4, 5) = 0;
  // 1 means failure; any other result means *pValue was written.
  virtual int GetIntValue(int nValueId, int* pValue) = 0;

 protected:
  ~SnapInfo() = default;
};

// The call's utility object: configuration and job id.
class ZKOSUtil {
 public:
  // A null section is the default section. Result ignored by the plug-in.
  virtual int GetConfigString(const char* pszSection, const char* pszKey,
                              char* pBuffer, int nSize) = 0;
  // True when the key exists; *pValue holds the caller's default otherwise.
  virtual bool GetConfigInt(const char* pszSection, const char* pszKey,
                            int* pValue) = 0;
  virtual ZKUint64 GetJobId() = 0;

 protected:
  ~ZKOSUtil() = default;
};

}  // namespace ZKSO

#endif  // ZK_HOST_ZKSNAPHOST_H_
