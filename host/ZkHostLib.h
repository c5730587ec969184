// SPDX-License-Identifier: Apache-2.0
// Host library services the plug-in calls: critical section and host name
// resolution. In production the host's own library provides them; here
// libzkhost (hostenv/) does.
#ifndef ZK_HOST_ZKHOSTLIB_H_
#define ZK_HOST_ZKHOSTLIB_H_

#include <netdb.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A non-recursive process-local mutex.
// enter(true) blocks until the section is held; enter(false) only tries and
// returns whether it got it. leave() must be called by the holder.
class ZkCriticalSectionH {
 public:
  ZkCriticalSectionH();
  ~ZkCriticalSectionH();
  ZkCriticalSectionH(const ZkCriticalSectionH&) = delete;
  ZkCriticalSectionH& operator=(const ZkCriticalSectionH&) = delete;

  bool enter(bool bWait);
  void leave();

 private:
  std::mutex m_oMutex;
};

// Caller-provided storage for one resolved host entry: the hostent and the
// memory its pointers point into. Owned by the caller; valid until reused.
struct ZkHostEntBuffer {
  struct hostent oEntry;
  char* apAddrList[33];  // at most 32 addresses, null-terminated
  char* apAliases[1];
  uint32_t aAddrs[32];   // network byte order
  char szName[256];
};

// Resolves a host name to its IPv4 addresses: first from the hosts file named
// by ZK_HOSTS_FILE (/etc/hosts syntax, every matching line in file order),
// then through the system resolver (resolver order). Returns &pBuffer->oEntry,
// or null when the name does not resolve. nFlags must be 0.
struct hostent* _ZK_gethostbyname_(const char* pszName,
                                   ZkHostEntBuffer* pBuffer, int nFlags);

// Result of a host library call: an error when the code is negative.
class CWbError {
 public:
  explicit CWbError(int32_t nCode = 0) : m_nCode(nCode) {}
  bool IsError() const { return m_nCode < 0; }
  int32_t GetCode() const { return m_nCode; }

 private:
  int32_t m_nCode;
};

class CWbString {
 public:
  CWbString() = default;
  explicit CWbString(std::string s) : m_s(std::move(s)) {}
  const char* c_str() const { return m_s.c_str(); }
  void assign(const std::string& s) { m_s = s; }

 private:
  std::string m_s;
};

// One IPv4 address.
class CWbIPAddr {
 public:
  enum : int32_t { WB_E_NOT_RESOLVED = -2, WB_E_INVALID_ARG = -1 };

  CWbIPAddr() : m_nAddr(0) {}
  // Address in network byte order.
  explicit CWbIPAddr(uint32_t nAddrNet) : m_nAddr(nAddrNet) {}

  // All addresses of a host, in the order of _ZK_gethostbyname_. nFamily 0
  // means any; only IPv4 is produced.
  static CWbError GetAllByName(const char* pszName,
                               std::vector<CWbIPAddr>& vAddrs, int nFamily);
  // Dotted decimal text.
  CWbError GetAddressString(CWbString& sOut) const;

 private:
  uint32_t m_nAddr;
};

#endif  // ZK_HOST_ZKHOSTLIB_H_
