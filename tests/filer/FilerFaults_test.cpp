// Armed faults and the command journal.
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

using FaultTest = FilerTest;

struct ModeCase {
  const char* label;
  zkfiler::FaultMode mode;
  int64_t n;
  std::vector<bool> fails;  // of calls 1, 2, 3, 4
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.label; }

class FaultModeTest : public FilerTest,
                      public ::testing::WithParamInterface<ModeCase> {};

TEST_P(FaultModeTest, FailsTheCallsOfItsMode) {
  // Calls before arming do not count.
  std::list<CelerraChkPtInfo> list;
  ASSERT_TRUE(client_.GetChkPointsInfo("", list));
  zkfiler::FaultSpec fault;
  fault.command = "GetChkPointsInfo";
  fault.mode = GetParam().mode;
  fault.n = GetParam().n;
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  for (size_t call = 0; call < GetParam().fails.size(); ++call) {
    EXPECT_EQ(client_.GetChkPointsInfo("", list), !GetParam().fails[call])
        << "call " << call + 1;
  }
  // Other commands are untouched.
  std::string mover;
  EXPECT_TRUE(client_.GetMoverForVdm("5", mover));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FaultModeTest,
    ::testing::Values(
        ModeCase{"Always", zkfiler::FaultMode::kAlways, 1,
                 {true, true, true, true}},
        ModeCase{"Nth2", zkfiler::FaultMode::kNth, 2,
                 {false, true, false, false}},
        ModeCase{"From3", zkfiler::FaultMode::kFrom, 3,
                 {false, false, true, true}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FaultTest, InjectedErrorKeepsGivenFieldsAndFillsTheRest) {
  zkfiler::FaultSpec fault;
  fault.command = "CreateROChkPt";
  fault.error.sMessageCode = "13690535984";
  fault.error.sMessage = "Checkpoint space full";
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  EXPECT_TRUE(CreateRO("a").empty());
  const CelerraError e = client_.GetLastError();
  EXPECT_EQ(e.sMessageCode, "13690535984");
  EXPECT_EQ(e.sMessage, "Checkpoint space full");
  EXPECT_NE(e.nStatus, 0);
  EXPECT_FALSE(e.sComponent.empty() || e.sSeverity.empty() ||
               e.sDescription.empty() || e.sAction.empty());
  // The failed command changed nothing.
  EXPECT_TRUE(CheckpointNames().empty());
  ASSERT_TRUE(zkfiler::ClearFaults().ok());
  EXPECT_FALSE(CreateRO("a").empty());
}

TEST_F(FaultTest, FaultForOneControlHostSparesOthers) {
  zkfiler::FaultSpec fault;
  fault.command = "CreateROChkPt";
  fault.control_host = "cs2";
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  EXPECT_FALSE(CreateRO("a").empty());
  ManageCelerra c2(1);
  c2.SetControlHostInfo("cs2", "admin", "other");
  std::string id;
  EXPECT_FALSE(c2.CreateROChkPt("201", CELERRA_STG_UXFS, "", "a", id));
  EXPECT_EQ(c2.GetLastError().sMessageCode, "13958643799");
}

TEST_F(FaultTest, ArmingRefusesUnknownCommandsAndBadCounts) {
  zkfiler::FaultSpec fault;
  fault.command = "CreateSnapshot";
  EXPECT_FALSE(zkfiler::ArmFault(fault).ok());
  fault.command = "DeleteChkPt";
  fault.mode = zkfiler::FaultMode::kNth;
  fault.n = 0;
  EXPECT_FALSE(zkfiler::ArmFault(fault).ok());
  std::vector<zkfiler::FaultSpec> faults;
  ASSERT_TRUE(zkfiler::ListFaults(&faults).ok());
  EXPECT_TRUE(faults.empty());
  for (const std::string& name : zkfiler::KnownCommands()) {
    fault.command = name;
    fault.mode = zkfiler::FaultMode::kAlways;
    EXPECT_TRUE(zkfiler::ArmFault(fault).ok()) << name;
  }
}

TEST_F(FaultTest, EveryCommandCanBeMadeToFail) {
  const std::string base = CreateRO("b");
  const std::string rw = CreateRW("b_RW", base);
  ASSERT_FALSE(rw.empty());
  zkfiler::FaultSpec fault;
  for (const std::string& name : zkfiler::KnownCommands()) {
    fault.command = name;
    ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  }
  std::string s, id = base;
  bool b = false;
  eCelerraStgType t;
  std::list<CelerraChkPtInfo> l;
  std::vector<std::string> v, h{"h"};
  std::vector<CelerraCifsServer_t> servers;
  CelerraMountPointsInfo_t mp;
  std::string fs = "101";
  const bool results[] = {
      client_.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "n", s),
      client_.CreateRWChkPt("101", CELERRA_STG_UXFS, "pool1", "n", false, id,
                            s),
      client_.DeleteChkPt(rw, "", false),
      client_.RestorePFSFromChkPt("b", base, "101"),
      client_.GetChkPointsInfo("", l),
      client_.GetPFSInfo(fs, t, s, s, s, s, b),
      client_.GetCifsShareInfo("share1", s, b, s, s, v),
      client_.GetNFSInfo("/fs1", s, b, s, v, v, v),
      client_.GetCifsServers(servers, ""),
      client_.GetMountPointInfo(mp, "2", "/fs1", false),
      client_.GetMoverForVdm("5", s),
      client_.CreateNFSShare("/fs1", "2", false, h, h, h),
      client_.DeleteNFSShare("/fs1", "2"),
      Celerra_GetSnapDeviceNameWithManageCelerra(client_, "/fs1", "101", rw,
                                                 "", s)};
  for (bool r : results) EXPECT_FALSE(r);
  std::vector<zkfiler::JournalEntry> journal;
  ASSERT_TRUE(zkfiler::Journal(&journal).ok());
  size_t refused = 0;
  for (const auto& e : journal) refused += e.ok ? 0 : 1;
  EXPECT_EQ(refused, zkfiler::KnownCommands().size());
  EXPECT_EQ(CheckpointNames().size(), 2u);
}

TEST_F(FaultTest, JournalRecordsCommandsWithoutThePassword) {
  ASSERT_TRUE(zkfiler::ResetJournal().ok());
  const std::string id = CreateRO("j1");
  EXPECT_TRUE(CreateRO("j1").empty());
  ManageCelerra wrong(77);
  wrong.SetControlHostInfo("cs1", "admin", "Other-Secret");
  std::string mover;
  EXPECT_FALSE(wrong.GetMoverForVdm("5", mover));

  std::vector<zkfiler::JournalEntry> journal;
  ASSERT_TRUE(zkfiler::Journal(&journal).ok());
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[0].command, "CreateROChkPt");
  EXPECT_EQ(journal[0].args, "fs=101 name=j1");
  EXPECT_TRUE(journal[0].ok);
  EXPECT_EQ(journal[0].job_id, 42u);
  EXPECT_EQ(journal[0].control_host, "cs1");
  EXPECT_EQ(journal[0].user, "admin");
  EXPECT_FALSE(journal[1].ok);
  EXPECT_EQ(journal[1].message_code, "13690535947");
  EXPECT_EQ(journal[2].command, "GetMoverForVdm");
  EXPECT_EQ(journal[2].job_id, 77u);
  EXPECT_EQ(journal[2].message_code, "13958643714");
  EXPECT_LT(journal[0].seq, journal[1].seq);
  for (const auto& e : journal) {
    const std::string text = e.control_host + e.user + e.command + e.args;
    EXPECT_EQ(text.find(kPassword), std::string::npos);
    EXPECT_EQ(text.find("Other-Secret"), std::string::npos);
  }
  EXPECT_EQ(AllText(wrong.GetLastError()).find("Other-Secret"),
            std::string::npos);

  ASSERT_TRUE(zkfiler::ResetJournal().ok());
  ASSERT_TRUE(zkfiler::Journal(&journal).ok());
  EXPECT_TRUE(journal.empty());
  (void)id;
}

TEST_F(FaultTest, ResetEmptiesServersFaultsAndJournal) {
  CreateRO("a");
  zkfiler::FaultSpec fault;
  fault.command = "DeleteChkPt";
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  ASSERT_TRUE(zkfiler::Reset().ok());
  std::vector<zkfiler::JournalEntry> journal;
  std::vector<zkfiler::FaultSpec> faults;
  std::vector<zkfiler::ServerLayout> servers;
  ASSERT_TRUE(zkfiler::Journal(&journal).ok());
  ASSERT_TRUE(zkfiler::ListFaults(&faults).ok());
  ASSERT_TRUE(zkfiler::ListServers(&servers).ok());
  EXPECT_TRUE(journal.empty());
  EXPECT_TRUE(faults.empty());
  EXPECT_TRUE(servers.empty());
  EXPECT_TRUE(CreateRO("b").empty());
  EXPECT_EQ(LastCode(), "13958643713");
}

}  // namespace
}  // namespace zkfiler_test
