// SPDX-License-Identifier: Apache-2.0
// ScopedHostsFile: a hosts file in a fresh temporary directory, named by
// ZK_HOSTS_FILE for the object's lifetime, so tests resolve made-up names
// without touching /etc/hosts. Restores the previous ZK_HOSTS_FILE and
// removes the file and directory on destruction.
//
// Not thread-safe (changes the process environment): one per test.
#ifndef ZK_TESTS_UTILS_SCOPEDHOSTSFILE_H_
#define ZK_TESTS_UTILS_SCOPEDHOSTSFILE_H_

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

class ScopedHostsFile {
 public:
  explicit ScopedHostsFile(const std::string& sContent) {
    const char* pszTmp = std::getenv("TMPDIR");
    std::string sTemplate =
        std::string(pszTmp != nullptr && *pszTmp != '\0' ? pszTmp : "/tmp") +
        "/zkhosts.XXXXXX";
    if (mkdtemp(&sTemplate[0]) == nullptr) std::abort();
    m_sDir = sTemplate;
    m_sPath = m_sDir + "/hosts";
    std::ofstream(m_sPath) << sContent;
    const char* pszOld = std::getenv("ZK_HOSTS_FILE");
    m_bHadOld = pszOld != nullptr;
    if (m_bHadOld) m_sOld = pszOld;
    setenv("ZK_HOSTS_FILE", m_sPath.c_str(), 1);
  }
  ~ScopedHostsFile() {
    if (m_bHadOld) {
      setenv("ZK_HOSTS_FILE", m_sOld.c_str(), 1);
    } else {
      unsetenv("ZK_HOSTS_FILE");
    }
    std::remove(m_sPath.c_str());
    rmdir(m_sDir.c_str());
  }
  ScopedHostsFile(const ScopedHostsFile&) = delete;
  ScopedHostsFile& operator=(const ScopedHostsFile&) = delete;

 private:
  std::string m_sDir;
  std::string m_sPath;
  bool m_bHadOld = false;
  std::string m_sOld;
};

#endif  // ZK_TESTS_UTILS_SCOPEDHOSTSFILE_H_
