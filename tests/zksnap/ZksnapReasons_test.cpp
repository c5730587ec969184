// SPDX-License-Identifier: Apache-2.0
// Every failure says why: the file server's refusal, which the plug-in
// writes to its log, is shown with the result and kept in the job log of
// the record; an empty reason template is never shown as a reason; a
// reason is shown only with the status of the job that set it.
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

struct Why {
  const char* pszName;
  // zksnap commands run first on nfs1 (each must succeed); standard input
  // "wrong-password".
  std::vector<std::vector<std::string>> vBefore;
  const char* pszFault;  // a command the file server then refuses, or ""
  std::string sOperation;
  const char* pszWhy;  // what the result and the job log must say
};

void PrintTo(const Why& o, std::ostream* os) { *os << o.pszName; }

class ReasonsTest : public ZksnapTest,
                    public ::testing::WithParamInterface<Why> {};

TEST_P(ReasonsTest, TheResultAndTheJobLogSayWhy) {
  const Why& w = GetParam();
  InitWithFileServer();
  AddDevices();
  for (const std::vector<std::string>& v : w.vBefore) {
    const RunResult r = Z(v, "wrong-password\n");
    ASSERT_EQ(0, r.nExit) << v[0] << "\n" << r.sOut << r.sErr;
  }
  UseFilerStore();
  if (*w.pszFault != '\0') {
    zkfiler::FaultRule oFault;
    oFault.command = w.pszFault;
    oFault.error.sMessage = std::string("refused for the test: ") + w.pszFault;
    ASSERT_TRUE(zkfiler::ArmFault(oFault).ok());
  }
  for (const char* pszJson : {"", "--json"}) {
    std::vector<std::string> vArgs = {w.sOperation, "nfs1"};
    if (*pszJson != '\0') vArgs.insert(vArgs.begin(), pszJson);
    const RunResult r = Z(vArgs);
    EXPECT_EQ(4, r.nExit) << r.sOut << r.sErr;
    EXPECT_TRUE(Has(r.sOut, w.pszWhy)) << r.sOut;
    EXPECT_FALSE(Has(r.sOut, "Component:Facility:")) << r.sOut;
  }
  const RunResult r = Z({"log", "nfs1"});
  EXPECT_TRUE(Has(r.sOut, w.pszWhy)) << r.sOut;
  EXPECT_FALSE(Has(Z({"status"}).sOut, "Component:Facility:"));
}

const std::vector<std::string> kWrongPassword[] = {
    {"array", "remove", "--force", kFiler},
    {"array", "add", kFiler, "--control-host", kControlHost, "--user",
     "nasadmin", "--address", "10.50.0.21,10.50.0.25", "--password-stdin"}};

INSTANTIATE_TEST_SUITE_P(
    Failures, ReasonsTest,
    ::testing::Values(Why{"WrongPassword",
                          {std::begin(kWrongPassword),
                           std::end(kWrongPassword)},
                          "",
                          "prepare",
                          "Login of user 'nasadmin' refused"},
                      Why{"RefusedDelete",
                          {{"prepare", "nfs1"}, {"snap", "nfs1"}},
                          "DeleteChkPt",
                          "delete",
                          "refused for the test: DeleteChkPt"},
                      Why{"RefusedCheckpointList",
                          {{"prepare", "nfs1"}, {"snap", "nfs1"}},
                          "GetChkPointsInfo",
                          "reconcile",
                          "refused for the test: GetChkPointsInfo"},
                      Why{"MapBeforeSnap",
                          {{"prepare", "nfs1"}},
                          "",
                          "map",
                          "held no checkpoint when map started"}),
    [](const ::testing::TestParamInfo<Why>& o) { return o.param.pszName; });

// The status table tells what holds now: a reason only with the status of
// the job that set it (the job log keeps the history), no export after
// unmap, no checkpoint after delete.
TEST_F(ZksnapTest, StatusShowsOnlyWhatHoldsNow) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  ASSERT_EQ(4, Z({"map", "nfs1"}).nExit);
  EXPECT_TRUE(Has(StatusJson("nfs1"), "\"reason_id\": 60851"))
      << StatusJson("nfs1");
  ASSERT_EQ(0, Z({"snap", "nfs1"}).nExit);
  std::string s = StatusJson("nfs1");
  EXPECT_TRUE(Has(s, "\"status\": \"SNAP_SUCCESS\"")) << s;
  EXPECT_TRUE(Has(s, "\"reason_id\": 0,")) << s;
  EXPECT_FALSE(Has(Z({"status", "nfs1"}).sOut, "60851"));
  EXPECT_TRUE(Has(Z({"log", "nfs1"}).sOut, "60851"));

  const std::string sCheckpoint = "\"checkpoint\": \"g1_nfs1_1700000000 (";
  ASSERT_EQ(0, Z({"map", "nfs1"}).nExit);
  s = StatusJson("nfs1");
  EXPECT_TRUE(Has(s, "\"snap_device\": \"{")) << s;
  ASSERT_EQ(0, Z({"unmap", "nfs1"}).nExit);
  s = StatusJson("nfs1");
  EXPECT_TRUE(Has(s, "\"snap_device\": \"\"")) << s;
  EXPECT_TRUE(Has(s, sCheckpoint)) << s;
  EXPECT_FALSE(Has(Z({"status", "nfs1"}).sOut, "_RW")) << s;
  ASSERT_EQ(0, Z({"delete", "nfs1"}).nExit);
  s = StatusJson("nfs1");
  EXPECT_TRUE(Has(s, "\"checkpoint\": \"\"")) << s;
  EXPECT_FALSE(Has(Z({"status", "nfs1"}).sOut, "g1_nfs1_1700000000 (")) << s;
}

}  // namespace
}  // namespace zktest
