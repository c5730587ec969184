// SPDX-License-Identifier: Apache-2.0
// Armed faults and the command journal.
#include <algorithm>
#include <functional>
#include <iterator>
#include <list>

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
  zkfiler::FaultRule fault;
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
        ModeCase{
            "Always", zkfiler::FaultMode::kAlways, 1, {true, true, true, true}},
        ModeCase{
            "Nth2", zkfiler::FaultMode::kNth, 2, {false, true, false, false}},
        ModeCase{
            "From3", zkfiler::FaultMode::kFrom, 3, {false, false, true, true}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FaultTest, InjectedErrorKeepsGivenFieldsAndFillsTheRest) {
  zkfiler::FaultRule fault;
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
  zkfiler::FaultRule fault;
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
  zkfiler::FaultRule fault;
  fault.command = "CreateSnapshot";
  EXPECT_FALSE(zkfiler::ArmFault(fault).ok());
  fault.command = "DeleteChkPt";
  fault.mode = zkfiler::FaultMode::kNth;
  fault.n = 0;
  EXPECT_FALSE(zkfiler::ArmFault(fault).ok());
  std::vector<zkfiler::FaultRule> faults;
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
  zkfiler::FaultRule fault;
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
      Celerra_GetSnapDeviceNameWithManageCelerra(client_, "/fs1", "101", rw, "",
                                                 s)};
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
  ASSERT_FALSE(CreateRO("j1").empty());
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
}

// A lost reply: the command takes effect, the client hears a timeout.
class LostReplyTest;

struct LostReplyCase {
  const char* command;
  // Makes what the command needs, before the fault is armed.
  std::function<void(LostReplyTest&)> prepare;
  std::function<bool(LostReplyTest&)> run;
  // Whether the file server holds what the command does.
  std::function<bool(LostReplyTest&)> took_effect;
};

void PrintTo(const LostReplyCase& c, std::ostream* os) { *os << c.command; }

class LostReplyTest : public FilerTest,
                      public ::testing::WithParamInterface<LostReplyCase> {
 public:
  ManageCelerra& client() { return client_; }
  std::string MakeCheckpoint(const std::string& name) { return CreateRO(name); }
  bool HasCheckpoint(const std::string& name) {
    const std::vector<std::string> names = CheckpointNames();
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  bool HasExport(const std::string& path, const std::string& host) {
    std::vector<zkfiler::ExportView> exports;
    EXPECT_TRUE(zkfiler::ListExports("cs1", &exports).ok());
    for (const auto& x : exports) {
      if (x.path == path && x.access_hosts == std::vector<std::string>{host}) {
        return true;
      }
    }
    return false;
  }
  std::string id_;  // what prepare made
};

TEST_P(LostReplyTest, CommandTakesEffectAndTheClientHearsATimeout) {
  const LostReplyCase& c = GetParam();
  c.prepare(*this);
  ASSERT_FALSE(c.took_effect(*this));
  zkfiler::FaultRule fault;
  fault.command = c.command;
  fault.lost_reply = true;
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  ASSERT_TRUE(zkfiler::ResetJournal().ok());

  EXPECT_FALSE(c.run(*this));
  const CelerraError e = client_.GetLastError();
  EXPECT_EQ(e.sMessageCode, "13958643715");
  EXPECT_EQ(e.sMessage,
            std::string("Timed out waiting for the control station's reply "
                        "to ") +
                c.command);
  EXPECT_EQ(e.nStatus, 4);
  EXPECT_FALSE(e.sComponent.empty() || e.sDescription.empty() ||
               e.sAction.empty());
  EXPECT_TRUE(c.took_effect(*this));

  std::vector<zkfiler::JournalEntry> journal;
  ASSERT_TRUE(zkfiler::Journal(&journal).ok());
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].command, c.command);
  EXPECT_TRUE(journal[0].ok);
  EXPECT_TRUE(journal[0].reply_lost);
  EXPECT_EQ(journal[0].message_code, "");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, LostReplyTest,
    ::testing::Values(
        LostReplyCase{
            "CreateROChkPt", [](LostReplyTest&) {},
            [](LostReplyTest& t) {
              std::string id = "unset";
              const bool ok = t.client().CreateROChkPt("101", CELERRA_STG_UXFS,
                                                       "pool1", "lost1", id);
              // Out-parameters are written only on success.
              EXPECT_EQ(id, "unset");
              return ok;
            },
            [](LostReplyTest& t) { return t.HasCheckpoint("lost1"); }},
        LostReplyCase{
            "CreateNFSShare", [](LostReplyTest&) {},
            [](LostReplyTest& t) {
              std::vector<std::string> hosts{"h9"};
              return t.client().CreateNFSShare("/fs1", "2", false, hosts, hosts,
                                               hosts);
            },
            [](LostReplyTest& t) { return t.HasExport("/fs1", "h9"); }},
        LostReplyCase{
            "DeleteChkPt",
            [](LostReplyTest& t) { t.id_ = t.MakeCheckpoint("gone1"); },
            [](LostReplyTest& t) {
              return t.client().DeleteChkPt(t.id_, "", false);
            },
            [](LostReplyTest& t) { return !t.HasCheckpoint("gone1"); }}),
    [](const auto& info) { return std::string(info.param.command); });

TEST_F(FaultTest, LostReplyOfACommandRefusedOnItsOwnGivesThatRefusal) {
  ASSERT_FALSE(CreateRO("twice").empty());
  zkfiler::FaultRule fault;
  fault.command = "CreateROChkPt";
  fault.lost_reply = true;
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  ASSERT_TRUE(zkfiler::ResetJournal().ok());
  EXPECT_TRUE(CreateRO("twice").empty());
  EXPECT_EQ(LastCode(), "13690535947");  // name in use
  std::vector<zkfiler::JournalEntry> journal;
  ASSERT_TRUE(zkfiler::Journal(&journal).ok());
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_FALSE(journal[0].ok);
  EXPECT_FALSE(journal[0].reply_lost);
  EXPECT_EQ(journal[0].message_code, "13690535947");
  std::vector<zkfiler::FaultRule> faults;
  ASSERT_TRUE(zkfiler::ListFaults(&faults).ok());
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_TRUE(faults[0].lost_reply);
  EXPECT_EQ(faults[0].seen, 1);
}

// A host killed after two commands: from the third on, whatever its name,
// nothing reaches the file server.
TEST_F(FaultTest, AnyCommandFaultFromTheNthFailsEveryLaterCommand) {
  zkfiler::FaultRule fault;
  fault.command = zkfiler::kAnyCommand;
  fault.mode = zkfiler::FaultMode::kFrom;
  fault.n = 3;
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  std::list<CelerraChkPtInfo> list;
  EXPECT_TRUE(client_.GetChkPointsInfo("", list));
  const std::string kept = CreateRO("kept");
  ASSERT_FALSE(kept.empty());
  std::vector<zkfiler::ExportView> exports_before;
  ASSERT_TRUE(zkfiler::ListExports("cs1", &exports_before).ok());

  std::vector<std::string> hosts{"h9"};
  std::string mover;
  const bool results[] = {
      !CreateRO("late").empty(),
      client_.DeleteChkPt(kept, "", false),
      client_.CreateNFSShare("/fs1", "2", false, hosts, hosts, hosts),
      client_.DeleteNFSShare("/root_vdm_5/fs2", "2"),
      client_.GetMoverForVdm("5", mover),
      client_.GetChkPointsInfo("", list)};
  for (size_t i = 0; i < std::size(results); ++i) {
    EXPECT_FALSE(results[i]) << "command " << i + 3;
  }
  EXPECT_EQ(LastCode(), "13958643799");
  EXPECT_EQ(CheckpointNames(), std::vector<std::string>{"kept"});
  std::vector<zkfiler::ExportView> exports_after;
  ASSERT_TRUE(zkfiler::ListExports("cs1", &exports_after).ok());
  ASSERT_EQ(exports_after.size(), exports_before.size());
  for (size_t i = 0; i < exports_after.size(); ++i) {
    EXPECT_EQ(exports_after[i].path, exports_before[i].path);
    EXPECT_EQ(exports_after[i].access_hosts, exports_before[i].access_hosts);
  }
  std::vector<zkfiler::FaultRule> faults;
  ASSERT_TRUE(zkfiler::ListFaults(&faults).ok());
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0].seen, 8);
}

// The "*" fault counts beside a fault of the command's own name: each sees
// the call, the first armed decides.
TEST_F(FaultTest, AnyCommandFaultCountsBesideANamedOne) {
  zkfiler::FaultRule named;
  named.command = "GetMoverForVdm";
  named.mode = zkfiler::FaultMode::kNth;
  named.n = 1;
  named.error.sMessageCode = "111";
  zkfiler::FaultRule any;
  any.command = zkfiler::kAnyCommand;
  any.mode = zkfiler::FaultMode::kNth;
  any.n = 2;
  any.lost_reply = true;
  ASSERT_TRUE(zkfiler::ArmFault(named).ok());
  ASSERT_TRUE(zkfiler::ArmFault(any).ok());
  std::string mover;
  EXPECT_FALSE(client_.GetMoverForVdm("5", mover));
  EXPECT_EQ(LastCode(), "111");
  EXPECT_TRUE(CreateRO("second").empty());
  EXPECT_EQ(LastCode(), "13958643715");
  EXPECT_EQ(CheckpointNames(), std::vector<std::string>{"second"});
  EXPECT_FALSE(CreateRO("third").empty());
}

TEST_F(FaultTest, ResetEmptiesServersFaultsAndJournal) {
  CreateRO("a");
  EXPECT_FALSE(zkfiler::SetLatency(std::chrono::milliseconds(-1)).ok());
  ASSERT_TRUE(zkfiler::SetLatency(std::chrono::milliseconds(0)).ok());
  zkfiler::FaultRule fault;
  fault.command = "DeleteChkPt";
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  ASSERT_TRUE(zkfiler::Reset().ok());
  std::vector<zkfiler::JournalEntry> journal;
  std::vector<zkfiler::FaultRule> faults;
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
