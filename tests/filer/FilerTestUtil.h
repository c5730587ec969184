// SPDX-License-Identifier: Apache-2.0
// Shared fixture of the file server suites: an in-memory store holding the
// layout below, a client logged into cs1, and small helpers.
#ifndef ZK_TESTS_FILER_FILERTESTUTIL_H_
#define ZK_TESTS_FILER_FILERTESTUTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "host/ManageCelerra.h"

namespace zkfiler_test {

constexpr const char* kPassword = "Pw-Secret#1";

// cs1: fs 101 on mover 2, fs 102 on VDM 5 (hosted by mover 2), fs 103 on
// VDM 6 (not loaded). cs2: a small file server with ro_per_fs=1.
constexpr const char* kLayout = R"(
server cs1
  login admin "Pw-Secret#1"
  mover 2 interfaces=10.0.0.2
  mover 3 interfaces=10.0.0.3
  vdm 5 mover=2
  vdm 6
  cifs-server NAS2 mover=2 interfaces=10.0.0.2
  cifs-server VNAS5 vdm=5 interfaces=10.0.0.5
  fs 101 name=fs1 mover=2 mount=/fs1 type=1 extra=pool1 savvol=sv101
  fs 102 name=fs2 vdm=5 mount=/fs2 type=2 extra=pool2 savvol=sv102
  fs 103 name=fs3 vdm=6 mount=/fs3
  share share1 fs=101 mover=2 path=\dir
  share share5 fs=102 vdm=5
  export /fs1 mover=2 access=h1 rw=h2 root=h3
  export /root_vdm_5/fs2 mover=2
server cs2
  login admin other
  limits ro_per_fs=1
  mover 2
  fs 201 name=fs1 mover=2 mount=/fs1
)";

class FilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
    zkfiler::Status s = zkfiler::LoadLayoutText(kLayout);
    ASSERT_TRUE(s.ok()) << s.ToString();
    client_.SetControlHostInfo("cs1", "admin", kPassword);
  }

  // A read-only checkpoint of fs 101 (or `fs` with its storage); "" on
  // failure.
  std::string CreateRO(const std::string& name, const std::string& fs = "101") {
    std::string id;
    const bool fs1 = fs == "101";
    if (!client_.CreateROChkPt(fs, fs1 ? CELERRA_STG_UXFS : CELERRA_STG_MGFS,
                               fs1 ? "pool1" : "pool2", name, id)) {
      return "";
    }
    return id;
  }

  std::string CreateRW(const std::string& name, std::string baseline,
                       const std::string& fs = "101") {
    std::string id;
    const bool fs1 = fs == "101";
    if (!client_.CreateRWChkPt(fs, fs1 ? CELERRA_STG_UXFS : CELERRA_STG_MGFS,
                               fs1 ? "pool1" : "pool2", name, false, baseline,
                               id)) {
      return "";
    }
    return id;
  }

  std::vector<std::string> CheckpointNames() {
    std::vector<zkfiler::CheckpointView> all;
    EXPECT_TRUE(zkfiler::ListCheckpoints("cs1", &all).ok());
    std::vector<std::string> names;
    for (const auto& c : all) names.push_back(c.name);
    return names;
  }

  std::string LastCode() { return client_.GetLastError().sMessageCode; }

  ManageCelerra client_{42};
};

// Every text field of an error, to look for secrets in.
inline std::string AllText(const CelerraError& e) {
  return e.sComponent + "|" + e.sFacility + "|" + e.sMessage + "|" +
         e.sMessageCode + "|" + e.sSeverity + "|" + e.sDescription + "|" +
         e.sAction + "|" + e.sDiagnostics;
}

}  // namespace zkfiler_test

#endif  // ZK_TESTS_FILER_FILERTESTUTIL_H_
