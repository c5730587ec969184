// SPDX-License-Identifier: Apache-2.0
// What a host loads carries no test hooks: the shipped library names no test
// variable, reads no environment, takes no lock of its own (the one lock it
// uses, the CIFS server cache's, is the host library's critical section),
// and asks the C library itself for the time and the host name. Tests fix
// those from outside (tests/testclock).
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "tests/e2e/PluginUnderTest.h"

namespace {

std::string Bytes(const char* pszPath) {
  std::ifstream oFile(pszPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(oFile),
                     std::istreambuf_iterator<char>());
}

// The dynamic symbols the library takes from elsewhere, without versions.
std::set<std::string> Imports(const char* pszPath) {
  std::set<std::string> s;
  const std::string sCommand =
      std::string("nm -D --undefined-only '") + pszPath + "'";
  FILE* pPipe = popen(sCommand.c_str(), "r");
  if (pPipe == nullptr) return s;
  char aLine[4096];
  while (fgets(aLine, sizeof(aLine), pPipe) != nullptr) {
    std::istringstream oLine(aLine);
    std::string sKind;
    std::string sName;
    oLine >> sKind >> sName;
    s.insert(sName.substr(0, sName.find('@')));
  }
  pclose(pPipe);
  return s;
}

TEST(ShippedLibraryTest, NamesNoTestVariable) {
  const std::string sBytes = Bytes(PluginUnderTest::Path());
  ASSERT_FALSE(sBytes.empty()) << PluginUnderTest::Path();
  for (const char* pszName :
       {"ZK_TEST_NOW", "ZK_TEST_HOSTNAME", "ZK_TEST", "ForTesting"}) {
    EXPECT_EQ(std::string::npos, sBytes.find(pszName)) << pszName;
  }
}

TEST(ShippedLibraryTest, AsksTheCLibraryAndTakesNoLockOfItsOwn) {
  const std::set<std::string> sImports = Imports(PluginUnderTest::Path());
  ASSERT_FALSE(sImports.empty()) << "nm -D gave nothing";
  EXPECT_EQ(1u, sImports.count("time"));
  EXPECT_EQ(1u, sImports.count("gethostname"));
  for (const char* pszName :
       {"getenv", "secure_getenv", "pthread_mutex_lock",
        "pthread_mutex_trylock", "pthread_rwlock_rdlock",
        "pthread_rwlock_wrlock", "mtx_lock", "pthread_spin_lock"}) {
    EXPECT_EQ(0u, sImports.count(pszName)) << pszName;
  }
}

}  // namespace
