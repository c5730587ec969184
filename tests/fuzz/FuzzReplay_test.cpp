// SPDX-License-Identifier: Apache-2.0
// Replays the saved inputs of one libFuzzer target (ZK_FUZZ_TARGET) through
// its LLVMFuzzerTestOneInput, whose checks throw FuzzCheckFailure in this
// build: one test per input file, named after its directory and file.
//   fuzz/corpus/<target>/       the seed corpus
//   fuzz/regressions/<target>/  inputs that once crashed a target or failed
//                               one of its checks; each file's name says
//                               what it found
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

namespace {

struct SavedInput {
  std::string sDir;   // "corpus" or "regressions"
  std::string sName;  // file name
  std::string sPath;
};

void AddInputs(const std::string& sDir, std::vector<SavedInput>& vInputs) {
  const std::string sPath =
      std::string(ZK_FUZZ_DIR) + "/" + sDir + "/" + ZK_FUZZ_TARGET;
  DIR* pDir = opendir(sPath.c_str());
  if (pDir == nullptr) return;
  std::vector<SavedInput> vFound;
  while (const dirent* pEntry = readdir(pDir)) {
    const std::string sName = pEntry->d_name;
    if (sName.empty() || sName[0] == '.') continue;
    vFound.push_back({sDir, sName, sPath + "/" + sName});
  }
  closedir(pDir);
  std::sort(vFound.begin(), vFound.end(),
            [](const SavedInput& a, const SavedInput& b) {
              return a.sName < b.sName;
            });
  vInputs.insert(vInputs.end(), vFound.begin(), vFound.end());
}

std::vector<SavedInput> SavedInputs() {
  std::vector<SavedInput> v;
  AddInputs("corpus", v);
  AddInputs("regressions", v);
  return v;
}

void PrintTo(const SavedInput& o, std::ostream* pOut) { *pOut << o.sPath; }

class FuzzReplayTest : public ::testing::TestWithParam<SavedInput> {};

TEST_P(FuzzReplayTest, PassesTheTargetsChecks) {
  const SavedInput& o = GetParam();
  std::ifstream oFile(o.sPath, std::ios::binary);
  ASSERT_TRUE(oFile.good()) << o.sPath;
  const std::string sData((std::istreambuf_iterator<char>(oFile)),
                          std::istreambuf_iterator<char>());
  try {
    EXPECT_EQ(
        0, LLVMFuzzerTestOneInput(
               reinterpret_cast<const uint8_t*>(sData.data()), sData.size()));
  } catch (const FuzzCheckFailure& e) {
    ADD_FAILURE() << o.sPath << ": " << e.what();
  }
}

// Every target has a seed corpus; an empty list would replay nothing.
TEST(FuzzReplay, SeedCorpusIsThere) {
  std::vector<SavedInput> v;
  AddInputs("corpus", v);
  EXPECT_FALSE(v.empty()) << ZK_FUZZ_DIR << "/corpus/" << ZK_FUZZ_TARGET;
}

std::string TestName(const ::testing::TestParamInfo<SavedInput>& oInfo) {
  std::string s = oInfo.param.sDir + "_" + oInfo.param.sName;
  for (char& c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return s;
}

INSTANTIATE_TEST_SUITE_P(Saved, FuzzReplayTest,
                         ::testing::ValuesIn(SavedInputs()), TestName);

}  // namespace
