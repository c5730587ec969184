// SPDX-License-Identifier: Apache-2.0
// The linker's version script (engine/exports.map) against the one list of
// exports in the host header (ZKSO_EXPORTS): the script must make global
// exactly the listed names, each once, and hide everything else.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/ZKSnapPlugin.h"

namespace {

struct VersionScript {
  std::vector<std::string> vGlobal;
  std::vector<std::string> vLocal;
};

// Reads "global:" and "local:" entries of a one-node version script.
VersionScript ReadVersionScript(const std::string& sPath) {
  std::ifstream oFile(sPath);
  EXPECT_TRUE(oFile.is_open()) << sPath;
  std::stringstream oText;
  oText << oFile.rdbuf();
  VersionScript oScript;
  std::vector<std::string>* pSection = nullptr;
  std::string sWord;
  while (oText >> sWord) {
    if (sWord == "{" || sWord == "};") continue;
    if (sWord == "global:") {
      pSection = &oScript.vGlobal;
    } else if (sWord == "local:") {
      pSection = &oScript.vLocal;
    } else {
      EXPECT_NE(nullptr, pSection) << "entry outside a section: " << sWord;
      EXPECT_EQ(';', sWord.back()) << "entry without ';': " << sWord;
      if (pSection != nullptr)
        pSection->push_back(sWord.substr(0, sWord.size() - 1));
    }
  }
  return oScript;
}

TEST(ExportsMapTest, VersionScriptMakesGlobalExactlyTheListedExports) {
  const VersionScript oScript = ReadVersionScript(ZK_EXPORTS_MAP);
  const std::vector<std::string> vListed(std::begin(ZKSO::kExportNames),
                                         std::end(ZKSO::kExportNames));
  EXPECT_EQ(11u, vListed.size());
  EXPECT_EQ(vListed.size(),
            std::set<std::string>(vListed.begin(), vListed.end()).size())
      << "a name is listed twice";
  EXPECT_EQ(vListed, oScript.vGlobal);
  EXPECT_EQ(std::vector<std::string>{"*"}, oScript.vLocal);
}

}  // namespace
