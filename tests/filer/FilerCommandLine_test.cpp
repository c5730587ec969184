// SPDX-License-Identifier: Apache-2.0
// zkfiler as a user meets it: each kind of bad input, run as a process,
// must exit with the documented status, say why (naming file and line where
// there is one) and leave every file of its folder byte for byte as it was.
#include <sqlite3.h>

#include <algorithm>
#include <list>
#include <map>

#include "tests/filer/FilerProcessUtil.h"
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

constexpr const char* kCliPassword = "Zk-Cli-Pw-93";

// Lines 1 and 2 of every layout below.
std::string Head() {
  return std::string("server cs9\n  login admin \"") + kCliPassword + "\"\n";
}

// Layout files written into the scratch folder; the body starts at line 3.
const std::map<std::string, std::string>& Layouts() {
  static const auto* layouts = new std::map<std::string, std::string>{
      {"good.txt", Head() + "  mover 2 interfaces=10.0.0.2\n"
                            "  vdm 5 mover=2\n"
                            "  fs 101 name=fs1 mover=2 mount=/fs1 extra=pool1\n"
                            "  fs 102 name=fs2 vdm=5 mount=/fs2 extra=pool1\n"
                            "  export /fs1 mover=2 access=h1\n"
                            "  checkpoint c1 fs=101\n"},
      {"empty.txt", ""},
      {"comments.txt", "# nothing but a comment\n\n"},
      {"dup-id.txt", Head() + "  mover 2\n"
                              "  fs 101 name=fs1 mover=2 mount=/fs1\n"
                              "  fs 101 name=fs2 mover=2 mount=/fs2\n"},
      {"big-type.txt", Head() +
                           "  mover 2\n  fs 101 name=fs1 mover=2 mount=/fs1 "
                           "type=4294967297\n"},
      {"big-generation.txt",
       Head() + "  mover 2\n  fs 101 name=fs1 mover=2 mount=/fs1 "
                "generation=99999999999999999999\n"},
      {"big-limit.txt", Head() + "  limits ro_per_fs=4294967297\n"},
      {"below.txt", Head() + "  vdm 5 mover=2\n  mover 2\n"},
      {"below-fs.txt", Head() + "  mover 2\n"
                                "  checkpoint c1 fs=101\n"
                                "  fs 101 name=fs1 mover=2 mount=/fs1\n"},
      {"two-blocks.txt", Head() + "  mover 2\nserver cs9\n  login a b\n"},
      {"two-logins.txt", Head() + "  login other pw2\n"},
      {"empty-user.txt", "server cs9\n  login \"\" pw\n"},
      {"no-login.txt", "server cs9\n  mover 2\n"},
      {"bad-mover-name.txt", Head() + "  mover 2 name=a|b\n"},
      {"empty-vdm-name.txt", Head() + "  mover 2\n  vdm 5 name= mover=2\n"},
      {"dotdot-export.txt", Head() + "  mover 2\n"
                                     "  fs 101 name=fs1 mover=2 mount=/fs1\n"
                                     "  export /fs1/../etc mover=2\n"},
      {"over-limit.txt", Head() + "  limits ro_per_fs=1\n"
                                  "  mover 2\n"
                                  "  fs 101 name=fs1 mover=2 mount=/fs1\n"
                                  "  checkpoint c1 fs=101\n"
                                  "  checkpoint c2 fs=101\n"},
      {"unknown-ref.txt", Head() + "  mover 2\n"
                                   "  fs 101 name=fs1 mover=2 mount=/fs1\n"
                                   "  share s1 fs=999 mover=2\n"},
      {"huge-key.txt",
       Head() + "  mover 2 " + std::string(1 << 20, 'k') + "=1\n"},
  };
  return *layouts;
}

// What is at the state file path before the command runs.
enum class StateKind {
  kLoaded,   // a state file with servers, a fault, latency and journal
  kNone,     // no state file
  kForeign,  // another program's SQLite database
  kEmpty,    // an empty file
  kOlder,    // a state file of an older zkfiler (format 3)
};

struct BadInput {
  std::string label;
  StateKind state;
  // Shell command; {bin}, {db} and {dir} are replaced.
  std::string command;
  int status;
  std::string message;  // {dir} is replaced
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.label; }

std::string Expand(std::string text, const std::string& dir,
                   const std::string& db) {
  const std::pair<const char*, std::string> subs[] = {
      {"{bin}", ZKFILER_BIN}, {"{db}", db}, {"{dir}", dir}};
  for (const auto& sub : subs) {
    for (size_t at = text.find(sub.first); at != std::string::npos;
         at = text.find(sub.first)) {
      text.replace(at, std::string(sub.first).size(), sub.second);
    }
  }
  return text;
}

class CommandLineTest : public ScratchTest,
                        public ::testing::WithParamInterface<BadInput> {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    for (const auto& layout : Layouts()) {
      WriteFile(dir_ + "/" + layout.first, layout.second);
    }
  }

  void Prepare(StateKind kind) {
    switch (kind) {
      case StateKind::kLoaded: {
        Outcome load = Zkfiler("load " + Quote(dir_ + "/good.txt"));
        ASSERT_EQ(load.status, 0) << load.output;
        ASSERT_EQ(Zkfiler("fail GetPFSInfo --nth 3").status, 0);
        ASSERT_EQ(Zkfiler("latency 1").status, 0);
        // A client command, so the journal and numbering hold something.
        ASSERT_TRUE(zkfiler::UseStateFile(db_).ok());
        ManageCelerra client(5);
        client.SetControlHostInfo("cs9", "admin", kCliPassword);
        std::string id;
        ASSERT_TRUE(
            client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "c2", id));
        ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
        break;
      }
      case StateKind::kNone:
        break;
      case StateKind::kForeign: {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(db_.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TABLE meta(key, value);"
                               "CREATE TABLE records(id, status);"
                               "INSERT INTO records VALUES(1, 'done');",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        break;
      }
      case StateKind::kEmpty:
        WriteFile(db_, "");
        break;
      case StateKind::kOlder: {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(db_.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TABLE meta(key TEXT PRIMARY KEY, "
                               "value TEXT);"
                               "INSERT INTO meta VALUES('format', "
                               "'zkfiler-state-3');"
                               "CREATE TABLE fault(id INTEGER PRIMARY KEY, "
                               "command TEXT);",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        break;
      }
    }
  }

  // Every file of the folder with its bytes.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> files;
    for (const std::string& name : Entries(dir_)) {
      files[name] = ReadBytes(dir_ + "/" + name);
    }
    return files;
  }
};

TEST_P(CommandLineTest, RefusedWithStatusAndMessageAndNothingChanged) {
  const BadInput& c = GetParam();
  Prepare(c.state);
  const std::map<std::string, std::string> before = Snapshot();

  Outcome run =
      Shell("cd " + Quote(dir_) + " && " + Expand(c.command, dir_, db_));

  EXPECT_EQ(run.status, c.status) << run.output;
  const std::string message = Expand(c.message, dir_, db_);
  EXPECT_NE(run.output.find(message), std::string::npos)
      << run.output << "\nwanted: " << message;
  EXPECT_LT(run.output.size(), 2000u) << "a message must stay readable";
  EXPECT_EQ(run.output.find(kCliPassword), std::string::npos) << run.output;
  // Compared as a whole, so a created, removed or changed file shows up.
  const std::map<std::string, std::string> after = Snapshot();
  EXPECT_TRUE(after == before) << "files in " << dir_ << " changed";
  if (c.state == StateKind::kLoaded) {
    ASSERT_EQ(Zkfiler("show").status, 0);
  }
}

const char* const kLoadRefusals[][3] = {
    // label, layout, message
    {"DuplicateId", "dup-id.txt",
     "{dir}/dup-id.txt:5: fs '101': duplicate id '101' (also at line 4)"},
    {"MissingLayout", "missing.txt",
     "cannot read layout file '{dir}/missing.txt': No such file or directory"},
    {"LayoutIsADirectory", "",
     "cannot read layout file '{dir}/': it is a "
     "directory"},
    {"EmptyLayout", "empty.txt",
     "layout file '{dir}/empty.txt' describes no file server"},
    {"OnlyComments", "comments.txt",
     "layout file '{dir}/comments.txt' describes no file server"},
    {"TypeOutOfRange", "big-type.txt",
     "{dir}/big-type.txt:4: type (uxfs, mgfs, rawfs or a number) must be a "
     "number from 0 to 2147483647, not '4294967297'"},
    {"GenerationOutOfRange", "big-generation.txt",
     "{dir}/big-generation.txt:4: generation must be a number from 0 to "
     "999999999999999"},
    {"LimitOutOfRange", "big-limit.txt",
     "{dir}/big-limit.txt:3: ro_per_fs must be a number from 0 to 1000000, "
     "not '4294967297'"},
    {"MoverDeclaredBelow", "below.txt",
     "{dir}/below.txt:3: vdm '5': mover of VDM '2' is declared below, at "
     "line 4"},
    {"FileSystemDeclaredBelow", "below-fs.txt",
     "{dir}/below-fs.txt:4: checkpoint 'c1': file system of checkpoint '101' "
     "is declared below, at line 5"},
    {"TwoServerBlocks", "two-blocks.txt",
     "{dir}/two-blocks.txt:4: second 'server' block for control host 'cs9' "
     "(the first is at line 1)"},
    {"TwoLogins", "two-logins.txt",
     "{dir}/two-logins.txt:3: second 'login' line for server 'cs9' (the "
     "first is at line 2)"},
    {"EmptyUser", "empty-user.txt",
     "{dir}/empty-user.txt:2: empty user in 'login'"},
    {"NoLogin", "no-login.txt",
     "{dir}/no-login.txt:1: server 'cs9' has no 'login' line"},
    {"BadMoverName", "bad-mover-name.txt",
     "{dir}/bad-mover-name.txt:3: mover '2': mover name 'a|b' holds an "
     "invalid character"},
    {"EmptyVdmName", "empty-vdm-name.txt",
     "{dir}/empty-vdm-name.txt:4: vdm '5': empty VDM name"},
    {"DotDotInExport", "dotdot-export.txt",
     "{dir}/dotdot-export.txt:5: export path '/fs1/../etc' is not an "
     "absolute path like /fs1"},
    {"CheckpointsOverLimit", "over-limit.txt",
     "{dir}/over-limit.txt:7: checkpoint 'c2': file system '101' would have "
     "more than ro_per_fs=1 read-only checkpoints"},
    {"UnknownReference", "unknown-ref.txt",
     "{dir}/unknown-ref.txt:5: share 's1': unknown file system of share "
     "'999'"},
    {"HugeUnknownKey", "huge-key.txt",
     "{dir}/huge-key.txt:3: unknown key 'kkkkkkkkkk"},
};

std::vector<BadInput> Cases() {
  std::vector<BadInput> cases;
  // Every refused load, with and without --reset, into a loaded state
  // file and where there is none yet.
  for (const auto& load : kLoadRefusals) {
    const std::string args =
        std::string("{bin} --db {db} load {dir}/") + load[1];
    const std::string label = load[0];
    const struct {
      const char* suffix;
      StateKind state;
      const char* flags;
    } variants[] = {{"", StateKind::kLoaded, ""},
                    {"Reset", StateKind::kLoaded, " --reset"},
                    {"NewFile", StateKind::kNone, ""}};
    for (const auto& v : variants) {
      cases.push_back({label + v.suffix, v.state, args + v.flags, 1, load[2]});
    }
  }
  const BadInput others[] = {
      // Numbers of the command line.
      {"NthOutOfRange", StateKind::kLoaded,
       "{bin} --db {db} fail CreateROChkPt --nth 99999999999999999999", 2,
       "--nth must be a whole number from 1 to 1000000000"},
      {"FromZero", StateKind::kLoaded,
       "{bin} --db {db} fail CreateROChkPt --from 0", 2,
       "--from must be a whole number from 1 to 1000000000, not '0'"},
      {"NthNotANumber", StateKind::kLoaded,
       "{bin} --db {db} fail CreateROChkPt --nth 2x", 2,
       "--nth must be a whole number"},
      {"LatencyOutOfRange", StateKind::kLoaded,
       "{bin} --db {db} latency 99999999999999999999", 2,
       "MS must be a whole number from 0 to 60000"},
      {"LatencyAboveMaximum", StateKind::kLoaded,
       "{bin} --db {db} latency 60001", 2,
       "MS must be a whole number from 0 to 60000, not '60001'"},
      // Usage.
      {"UnknownSubcommand", StateKind::kLoaded, "{bin} --db {db} frobnicate", 2,
       "zkfiler: unknown command \"frobnicate\" (see zkfiler --help)"},
      {"NoSubcommand", StateKind::kLoaded, "{bin} --db {db}", 2,
       "A subcommand is required"},
      {"UnknownOption", StateKind::kLoaded, "{bin} --db {db} show --verbose", 2,
       "--verbose"},
      {"LoadWithoutLayout", StateKind::kLoaded, "{bin} --db {db} load", 2,
       "LAYOUT"},
      {"NthWithFrom", StateKind::kLoaded,
       "{bin} --db {db} fail CreateROChkPt --nth 1 --from 2", 2, "--from"},
      {"NoStateFileNamed", StateKind::kLoaded, "env -u ZK_FILER_DB {bin} show",
       2, "no state file: use --db FILE or set ZK_FILER_DB"},
      // Refused operations.
      {"UnknownCommand", StateKind::kLoaded, "{bin} --db {db} fail NoSuchCmd",
       1, "unknown command 'NoSuchCmd'"},
      {"UnknownControlHost", StateKind::kLoaded,
       "{bin} --db {db} fail CreateROChkPt --host nosuch.example.com", 1,
       "no file server with control host 'nosuch.example.com'"},
      {"ShowWithoutStateFile", StateKind::kNone, "{bin} --db {db} show", 1,
       "file server state '{db}': no such state file"},
      // State files that are not plain paths.
      {"MemoryLoad", StateKind::kNone,
       "{bin} --db :memory: load {dir}/good.txt", 1,
       "file server state ':memory:': not a file path"},
      {"MemoryShow", StateKind::kNone, "{bin} --db :memory: show", 1,
       "file server state ':memory:': not a file path"},
      {"UriLoad", StateKind::kNone,
       "{bin} --db file:{dir}/x.db load {dir}/good.txt", 1,
       "file server state 'file:{dir}/x.db': not a file path"},
      {"LayoutAsStateFile", StateKind::kNone, "{bin} --db {dir}/good.txt show",
       1, "not a zkfiler state file"},
      {"DirectoryAsStateFile", StateKind::kNone, "{bin} --db {dir} show", 1,
       "not a regular file"},
      // Another program's database and an empty file are left alone.
      {"ForeignShow", StateKind::kForeign, "{bin} --db {db} show", 1,
       "file server state '{db}': not a zkfiler state file"},
      {"ForeignJournal", StateKind::kForeign, "{bin} --db {db} journal", 1,
       "not a zkfiler state file"},
      {"ForeignLoad", StateKind::kForeign,
       "{bin} --db {db} load {dir}/good.txt", 1, "not a zkfiler state file"},
      {"ForeignLoadReset", StateKind::kForeign,
       "{bin} --db {db} load {dir}/good.txt --reset", 1,
       "not a zkfiler state file"},
      {"ForeignFail", StateKind::kForeign, "{bin} --db {db} fail CreateROChkPt",
       1, "not a zkfiler state file"},
      {"EmptyShow", StateKind::kEmpty, "{bin} --db {db} show", 1,
       "file server state '{db}': empty file, not a zkfiler state file"},
      {"EmptyLoad", StateKind::kEmpty, "{bin} --db {db} load {dir}/good.txt", 1,
       "empty file, not a zkfiler state file"},
      // A state file of an older zkfiler is refused, never converted.
      {"OlderShow", StateKind::kOlder, "{bin} --db {db} show", 1,
       "file server state '{db}': made by an older zkfiler; remove it and "
       "load the layout again"},
      {"OlderLoad", StateKind::kOlder, "{bin} --db {db} load {dir}/good.txt", 1,
       "made by an older zkfiler; remove it and load the layout again"},
      {"OlderFailLostReply", StateKind::kOlder,
       "{bin} --db {db} fail CreateROChkPt --lost-reply", 1,
       "made by an older zkfiler"},
      // "*" names every command only on its own: it is no pattern.
      {"LostReplyUnknownCommand", StateKind::kLoaded,
       "{bin} --db {db} fail 'Create*' --lost-reply", 1,
       "unknown command 'Create*'"},
  };
  cases.insert(cases.end(), std::begin(others), std::end(others));
  return cases;
}

INSTANTIATE_TEST_SUITE_P(BadInputs, CommandLineTest,
                         ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.label; });

class CommandLineOkTest : public ScratchTest {};

TEST_F(CommandLineOkTest, HelpNamesTheExitStatuses) {
  for (const char* sub : {"", " load", " show", " fail", " journal"}) {
    Outcome help = Shell(std::string(ZKFILER_BIN) + sub + " --help");
    EXPECT_EQ(help.status, 0) << sub;
    EXPECT_NE(help.output.find("Exit status: 0 success, 1 refused operation "
                               "or bad input"),
              std::string::npos)
        << help.output;
    EXPECT_NE(help.output.find("2 usage error"), std::string::npos);
  }
}

TEST_F(CommandLineOkTest, ShowPrintsLatencyAndCallsSeenByAFault) {
  WriteFile(dir_ + "/good.txt", Layouts().at("good.txt"));
  ASSERT_EQ(Zkfiler("load " + Quote(dir_ + "/good.txt")).status, 0);
  ASSERT_EQ(Zkfiler("fail GetChkPointsInfo --nth 3 --host cs9").status, 0);
  ASSERT_EQ(Zkfiler("latency 7").status, 0);
  ASSERT_TRUE(zkfiler::UseStateFile(db_).ok());
  ManageCelerra client(5);
  client.SetControlHostInfo("cs9", "admin", kCliPassword);
  std::list<CelerraChkPtInfo> list;
  ASSERT_TRUE(client.GetChkPointsInfo("", list));
  ASSERT_TRUE(client.GetChkPointsInfo("", list));

  Outcome show = Zkfiler("show");
  ASSERT_EQ(show.status, 0) << show.output;
  EXPECT_NE(show.output.find("fault GetChkPointsInfo nth n=3 seen=2 host=cs9"),
            std::string::npos)
      << show.output;
  EXPECT_NE(show.output.find("latency 7 ms\n"), std::string::npos);
  EXPECT_NE(show.output.find("checkpoint c1 id=103 fs=101 read-only"),
            std::string::npos);
  EXPECT_EQ(show.output.find(kCliPassword), std::string::npos);
}

// Faults armed by the command line live in the state file with their kind:
// show and ListFaults read them back, a client of the file obeys them and
// the journal says which reply was lost.
TEST_F(CommandLineOkTest, LostReplyAndAnyCommandFaultsRoundTrip) {
  WriteFile(dir_ + "/good.txt", Layouts().at("good.txt"));
  ASSERT_EQ(Zkfiler("load " + Quote(dir_ + "/good.txt")).status, 0);
  Outcome lost = Zkfiler("fail CreateROChkPt --nth 1 --lost-reply");
  ASSERT_EQ(lost.status, 0) << lost.output;
  Outcome any = Zkfiler("fail '*' --from 3 --host cs9");
  ASSERT_EQ(any.status, 0) << any.output;

  Outcome show = Zkfiler("show");
  ASSERT_EQ(show.status, 0) << show.output;
  EXPECT_NE(show.output.find("fault CreateROChkPt nth n=1 seen=0 host=* "
                             "code=- lost-reply\n"),
            std::string::npos)
      << show.output;
  EXPECT_NE(show.output.find("fault * from n=3 seen=0 host=cs9 code=-\n"),
            std::string::npos)
      << show.output;

  ASSERT_TRUE(zkfiler::UseStateFile(db_).ok());
  std::vector<zkfiler::FaultRule> faults;
  ASSERT_TRUE(zkfiler::ListFaults(&faults).ok());
  ASSERT_EQ(faults.size(), 2u);
  EXPECT_TRUE(faults[0].lost_reply);
  EXPECT_EQ(faults[1].command, zkfiler::kAnyCommand);
  EXPECT_FALSE(faults[1].lost_reply);

  ManageCelerra client(5);
  client.SetControlHostInfo("cs9", "admin", kCliPassword);
  std::string id;
  EXPECT_FALSE(
      client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "late1", id));
  EXPECT_EQ(client.GetLastError().sMessageCode, "13958643715");
  EXPECT_TRUE(
      client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "late2", id));
  // The third command of any name: nothing more reaches the file server.
  EXPECT_FALSE(
      client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "late3", id));
  EXPECT_EQ(client.GetLastError().sMessageCode, "13958643799");
  std::vector<zkfiler::CheckpointView> ckpts;
  ASSERT_TRUE(zkfiler::ListCheckpoints("cs9", &ckpts).ok());
  std::vector<std::string> names;
  for (const auto& c : ckpts) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"c1", "late1", "late2"}));

  Outcome journal = Zkfiler("journal");
  ASSERT_EQ(journal.status, 0);
  EXPECT_NE(journal.output.find(" CreateROChkPt ok lost-reply fs=101 "
                                "name=late1\n"),
            std::string::npos)
      << journal.output;
  EXPECT_NE(journal.output.find(" CreateROChkPt ok fs=101 name=late2\n"),
            std::string::npos)
      << journal.output;
  EXPECT_NE(journal.output.find(" CreateROChkPt refused code=13958643799 "
                                "fs=101 name=late3\n"),
            std::string::npos)
      << journal.output;
}

// A name holding a line break or blank cannot forge a journal line or an
// argument.
TEST_F(CommandLineOkTest, JournalEscapesEveryField) {
  WriteFile(dir_ + "/good.txt", Layouts().at("good.txt"));
  ASSERT_EQ(Zkfiler("load " + Quote(dir_ + "/good.txt")).status, 0);
  ASSERT_TRUE(zkfiler::UseStateFile(db_).ok());
  ManageCelerra client(5);
  client.SetControlHostInfo("cs9", "admin\n1 pid=1 forged", kCliPassword);
  std::string id;
  EXPECT_FALSE(client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1",
                                    "x\n2 pid=2 job=0 host=cs9 ok", id));
  client.SetControlHostInfo("cs9", "admin", kCliPassword);
  EXPECT_FALSE(
      client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "a b\\c\x7f", id));
  std::vector<zkfiler::JournalEntry> entries;
  ASSERT_TRUE(zkfiler::Journal(&entries).ok());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].user, "admin\n1 pid=1 forged");  // kept as received
  EXPECT_EQ(entries[0].args,
            "fs=101 name=x\\x0a2\\x20pid=2\\x20job=0\\x20host=cs9\\x20ok");
  EXPECT_EQ(entries[1].args, "fs=101 name=a\\x20b\\\\c\\x7f");

  Outcome journal = Zkfiler("journal");
  ASSERT_EQ(journal.status, 0);
  EXPECT_EQ(std::count(journal.output.begin(), journal.output.end(), '\n'), 2)
      << journal.output;
  EXPECT_NE(journal.output.find("user=admin\\x0a1\\x20pid=1\\x20forged "
                                "CreateROChkPt refused code=13958643714"),
            std::string::npos)
      << journal.output;
  EXPECT_EQ(journal.output.find(kCliPassword), std::string::npos);
}

}  // namespace
}  // namespace zkfiler_test
