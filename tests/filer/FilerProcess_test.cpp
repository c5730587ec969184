// SPDX-License-Identifier: Apache-2.0
// The state file across processes: a second client process, the zkfiler
// command, and missing or corrupt state files.
#include <unistd.h>

#include <fstream>

#include "tests/filer/FilerProcessUtil.h"
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

constexpr const char* kProcPassword = "Proc-Pass-42";

class ProcessTest : public ScratchTest {
 protected:
  Outcome Client(const std::string& args, const std::string& password,
                 const std::string& db) {
    return Shell("ZK_FILER_DB=" + Quote(db) + " ZK_TEST_PASSWORD=" +
                 Quote(password) + " " + FILER_CLIENT_BIN + " " + args);
  }
};

TEST_F(ProcessTest, TwoProcessesSeeEachOthersCheckpoints) {
  ASSERT_TRUE(zkfiler::CreateStateFile(db_).ok());
  ASSERT_TRUE(zkfiler::LoadLayoutText(std::string("server cs\n login u ") +
                                      kProcPassword +
                                      "\n mover 2\n fs 101 name=fs mover=2 "
                                      "mount=/fs\n")
                  .ok());
  ManageCelerra client(1);
  client.SetControlHostInfo("cs", "u", kProcPassword);
  std::string parent_id;
  ASSERT_TRUE(client.CreateROChkPt("101", CELERRA_STG_UXFS, "", "parent_ck",
                                   parent_id));

  Outcome created = Client("cs u create 101 child_ck", kProcPassword, db_);
  ASSERT_EQ(created.status, 0) << created.output;
  std::vector<zkfiler::CheckpointView> all;
  ASSERT_TRUE(zkfiler::ListCheckpoints("cs", &all).ok());
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].name, "child_ck");
  EXPECT_EQ(all[1].id + "\n", created.output);

  Outcome listed = Client("cs u list", kProcPassword, db_);
  ASSERT_EQ(listed.status, 0) << listed.output;
  EXPECT_NE(listed.output.find("parent_ck " + parent_id), std::string::npos);

  // Names stay unique across processes.
  Outcome again = Client("cs u create 101 parent_ck", kProcPassword, db_);
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.output.find("refused 13690535947"), std::string::npos);

  std::vector<zkfiler::JournalEntry> journal;
  ASSERT_TRUE(zkfiler::Journal(&journal).ok());
  // Ours, then per create the child's GetPFSInfo and CreateROChkPt, and the
  // listing.
  ASSERT_EQ(journal.size(), 6u);
  EXPECT_EQ(journal[2].command, "CreateROChkPt");
  EXPECT_EQ(journal[0].pid, static_cast<int64_t>(::getpid()));
  EXPECT_NE(journal[1].pid, journal[0].pid);
  EXPECT_EQ(journal[1].job_id, 9u);
}

TEST_F(ProcessTest, ZkfilerArmsFaultsThatRefuseAnotherProcess) {
  Outcome load = Zkfiler(std::string("load ") + EXAMPLE_LAYOUT);
  ASSERT_EQ(load.status, 0) << load.output;
  Outcome fail = Zkfiler(
      "fail CreateROChkPt --code 13690535984 --message 'Checkpoint space "
      "full'");
  ASSERT_EQ(fail.status, 0) << fail.output;

  const std::string login = "cs1.example.com nasadmin ";
  Outcome refused = Client(login + "create 102 x1", "demo secret", db_);
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.output, "refused 13690535984 Checkpoint space full\n");

  Outcome journal = Zkfiler("journal");
  ASSERT_EQ(journal.status, 0);
  EXPECT_NE(journal.output.find("CreateROChkPt refused code=13690535984 "
                                "fs=102 name=x1"),
            std::string::npos)
      << journal.output;
  EXPECT_EQ(journal.output.find("demo secret"), std::string::npos);

  ASSERT_EQ(Zkfiler("clear-faults").status, 0);
  Outcome created = Client(login + "create 102 x1", "demo secret", db_);
  EXPECT_EQ(created.status, 0) << created.output;
  Outcome show = Zkfiler("show");
  ASSERT_EQ(show.status, 0);
  EXPECT_NE(show.output.find("checkpoint x1 id="), std::string::npos);
  EXPECT_EQ(show.output.find("demo secret"), std::string::npos);

  ASSERT_EQ(Zkfiler("journal --reset").status, 0);
  EXPECT_EQ(Zkfiler("journal").output, "");
}

TEST_F(ProcessTest, ZkfilerFaultOnNthCall) {
  ASSERT_EQ(Zkfiler(std::string("load ") + EXAMPLE_LAYOUT).status, 0);
  ASSERT_EQ(Zkfiler("fail GetChkPointsInfo --nth 2").status, 0);
  const std::string args = "cs1.example.com nasadmin list";
  EXPECT_EQ(Client(args, "demo secret", db_).status, 0);
  Outcome second = Client(args, "demo secret", db_);
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.output.find("refused 13958643799"), std::string::npos);
  EXPECT_EQ(Client(args, "demo secret", db_).status, 0);
}

TEST_F(ProcessTest, ZkfilerRefusesBadUse) {
  EXPECT_EQ(Zkfiler("show").status, 1);  // no state file yet
  EXPECT_NE(Zkfiler("show").output.find(db_), std::string::npos);
  ASSERT_EQ(Zkfiler(std::string("load ") + EXAMPLE_LAYOUT).status, 0);
  EXPECT_EQ(Zkfiler("fail NoSuchCommand").status, 1);
  EXPECT_NE(Zkfiler("fail CreateROChkPt --nth 1 --from 2").status, 0);
  Outcome bad_layout = Zkfiler("load " + Quote(dir_ + "/none.txt"));
  EXPECT_EQ(bad_layout.status, 1);
  EXPECT_NE(bad_layout.output.find("none.txt"), std::string::npos);
  for (const char* sub :
       {"load", "show", "fail", "clear-faults", "journal", "latency"}) {
    Outcome help = Shell(std::string(ZKFILER_BIN) + " " + sub + " --help");
    EXPECT_EQ(help.status, 0) << sub;
    EXPECT_NE(help.output.find("Usage"), std::string::npos) << sub;
  }
}

TEST_F(ProcessTest, MissingOrCorruptStateFileIsNamedInTheError) {
  const std::string missing = dir_ + "/missing.db";
  const std::string corrupt = dir_ + "/corrupt.db";
  std::ofstream(corrupt) << "this is not a database\n";
  for (const std::string& path : {missing, corrupt}) {
    Outcome run = Client("cs u list", "x", path);
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("refused 13958643720"), std::string::npos);
    EXPECT_NE(run.output.find(path), std::string::npos) << run.output;
    zkfiler::Status s = zkfiler::UseStateFile(path);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find(path), std::string::npos);
  }
  // The client never creates the file behind the user's back.
  EXPECT_NE(::access(missing.c_str(), F_OK), 0);
  Outcome unset = Shell(std::string("env -u ZK_FILER_DB ") + FILER_CLIENT_BIN +
                        " cs u list");
  EXPECT_EQ(unset.status, 2);
  EXPECT_NE(unset.output.find("ZK_FILER_DB"), std::string::npos);
}

}  // namespace
}  // namespace zkfiler_test
