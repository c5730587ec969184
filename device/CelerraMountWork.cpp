// SPDX-License-Identifier: Apache-2.0
#include "device/CelerraMountWork.h"

#include <set>
#include <string>
#include <vector>

namespace {

std::set<std::string> HostSet(const std::vector<std::string>& vHosts) {
  std::set<std::string> sHosts;
  for (const std::string& sHost : vHosts) {
    if (!sHost.empty()) sHosts.insert(sHost);
  }
  return sHosts;
}

std::string Join(const std::vector<std::string>& vHosts) {
  std::string sText;
  for (const std::string& sHost : vHosts) {
    if (sHost.empty()) continue;
    if (!sText.empty()) sText += ", ";
    sText += sHost;
  }
  return sText;
}

}  // namespace

bool SameHosts(const std::vector<std::string>& vLeft,
               const std::vector<std::string>& vRight) {
  return HostSet(vLeft) == HostSet(vRight);
}

bool SameExport(const _CelerraViewExport& oLeft,
                const _CelerraViewExport& oRight) {
  return oLeft.sSharePath == oRight.sSharePath &&
         oLeft.sMoverId == oRight.sMoverId &&
         SameHosts(oLeft.oHosts.vAccessHosts, oRight.oHosts.vAccessHosts) &&
         SameHosts(oLeft.oHosts.vRWHosts, oRight.oHosts.vRWHosts) &&
         SameHosts(oLeft.oHosts.vRootHosts, oRight.oHosts.vRootHosts);
}

std::string DescribeHosts(const _CelerraExportHosts& oHosts) {
  return "access [" + Join(oHosts.vAccessHosts) + "] rw [" +
         Join(oHosts.vRWHosts) + "] root [" + Join(oHosts.vRootHosts) + "]";
}

void CleanHostList(std::vector<std::string>& vHosts) {
  std::vector<std::string> vClean;
  for (const std::string& sHost : vHosts) {
    const size_t nFirst = sHost.find_first_not_of(" \t");
    if (nFirst == std::string::npos) continue;
    const size_t nLast = sHost.find_last_not_of(" \t");
    vClean.push_back(sHost.substr(nFirst, nLast - nFirst + 1));
  }
  vHosts.swap(vClean);
}
