// SPDX-License-Identifier: Apache-2.0
// Host name resolution: the hosts file named by ZK_HOSTS_FILE first, then the
// system resolver. IPv4 only.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/ZkHostLib.h"

namespace {

// Addresses (network order) of sName in the hosts file, in file order.
std::vector<uint32_t> LookUpHostsFile(const std::string& sName) {
  std::vector<uint32_t> vAddrs;
  const char* pszFile = std::getenv("ZK_HOSTS_FILE");
  if (pszFile == nullptr || *pszFile == '\0') return vAddrs;
  std::ifstream oIn(pszFile);
  std::string sLine;
  while (std::getline(oIn, sLine)) {
    size_t nHash = sLine.find('#');
    if (nHash != std::string::npos) sLine.resize(nHash);
    std::istringstream oFields(sLine);
    std::string sAddr, sAlias;
    if (!(oFields >> sAddr)) continue;
    in_addr oAddr;
    if (inet_pton(AF_INET, sAddr.c_str(), &oAddr) != 1) continue;
    while (oFields >> sAlias) {
      if (strcasecmp(sAlias.c_str(), sName.c_str()) == 0) {
        vAddrs.push_back(oAddr.s_addr);
        break;
      }
    }
  }
  return vAddrs;
}

std::vector<uint32_t> LookUpResolver(const std::string& sName) {
  std::vector<uint32_t> vAddrs;
  addrinfo oHints;
  std::memset(&oHints, 0, sizeof(oHints));
  oHints.ai_family = AF_INET;
  oHints.ai_socktype = SOCK_STREAM;
  addrinfo* pResult = nullptr;
  if (getaddrinfo(sName.c_str(), nullptr, &oHints, &pResult) != 0) {
    return vAddrs;
  }
  for (addrinfo* p = pResult; p != nullptr; p = p->ai_next) {
    if (p->ai_family != AF_INET || p->ai_addr == nullptr) continue;
    uint32_t n = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
    if (std::find(vAddrs.begin(), vAddrs.end(), n) == vAddrs.end()) {
      vAddrs.push_back(n);
    }
  }
  freeaddrinfo(pResult);
  return vAddrs;
}

std::vector<uint32_t> Resolve(const char* pszName) {
  if (pszName == nullptr || *pszName == '\0') return {};
  std::string sName(pszName);
  std::vector<uint32_t> vAddrs = LookUpHostsFile(sName);
  if (vAddrs.empty()) vAddrs = LookUpResolver(sName);
  return vAddrs;
}

}  // namespace

struct hostent* _ZK_gethostbyname_(const char* pszName,
                                   ZkHostEntBuffer* pBuffer, int /*nFlags*/) {
  if (pBuffer == nullptr) return nullptr;
  std::vector<uint32_t> vAddrs = Resolve(pszName);
  if (vAddrs.empty()) return nullptr;
  const size_t nMax = sizeof(pBuffer->aAddrs) / sizeof(pBuffer->aAddrs[0]);
  if (vAddrs.size() > nMax) vAddrs.resize(nMax);
  std::memset(pBuffer, 0, sizeof(*pBuffer));
  std::strncpy(pBuffer->szName, pszName, sizeof(pBuffer->szName) - 1);
  for (size_t i = 0; i < vAddrs.size(); ++i) {
    pBuffer->aAddrs[i] = vAddrs[i];
    pBuffer->apAddrList[i] = reinterpret_cast<char*>(&pBuffer->aAddrs[i]);
  }
  pBuffer->apAddrList[vAddrs.size()] = nullptr;
  pBuffer->apAliases[0] = nullptr;
  hostent& oEnt = pBuffer->oEntry;
  oEnt.h_name = pBuffer->szName;
  oEnt.h_aliases = pBuffer->apAliases;
  oEnt.h_addrtype = AF_INET;
  oEnt.h_length = sizeof(uint32_t);
  oEnt.h_addr_list = pBuffer->apAddrList;
  return &oEnt;
}

CWbError CWbIPAddr::GetAllByName(const char* pszName,
                                 std::vector<CWbIPAddr>& vAddrs,
                                 int /*nFamily*/) {
  vAddrs.clear();
  if (pszName == nullptr || *pszName == '\0') {
    return CWbError(WB_E_INVALID_ARG);
  }
  std::vector<uint32_t> vFound = Resolve(pszName);
  if (vFound.empty()) return CWbError(WB_E_NOT_RESOLVED);
  for (uint32_t n : vFound) vAddrs.push_back(CWbIPAddr(n));
  return CWbError(0);
}

CWbError CWbIPAddr::GetAddressString(CWbString& sOut) const {
  char aText[INET_ADDRSTRLEN] = {0};
  in_addr oAddr;
  oAddr.s_addr = m_nAddr;
  if (inet_ntop(AF_INET, &oAddr, aText, sizeof(aText)) == nullptr) {
    return CWbError(WB_E_INVALID_ARG);
  }
  sOut.assign(aText);
  return CWbError(0);
}
