// SPDX-License-Identifier: Apache-2.0
// Checkpoint commands of the client against the in-memory file server:
// create (read-only and writable), delete, restore, list, export path.
#include <algorithm>

#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

using CheckpointTest = FilerTest;

TEST_F(CheckpointTest, CreateReadOnlyGivesIdAndCapturesContent) {
  ASSERT_TRUE(zkfiler::WriteToFileSystem("cs1", "101").ok());
  const std::string id = CreateRO("snap_a");
  ASSERT_FALSE(id.empty()) << LastCode();
  std::vector<zkfiler::CheckpointView> all;
  ASSERT_TRUE(zkfiler::ListCheckpoints("cs1", &all).ok());
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].id, id);
  EXPECT_EQ(all[0].fs_id, "101");
  EXPECT_FALSE(all[0].writable);
  EXPECT_EQ(all[0].generation, 2);
  EXPECT_NE(CreateRO("snap_b"), id);
}

struct CreateRefusal {
  const char* label;
  std::string fs;
  eCelerraStgType type;
  std::string extra;
  std::string name;
  const char* code;
};

void PrintTo(const CreateRefusal& c, std::ostream* os) { *os << c.label; }

class CreateReadOnlyRefusal
    : public FilerTest,
      public ::testing::WithParamInterface<CreateRefusal> {};

TEST_P(CreateReadOnlyRefusal, RefusedWithCodeAndNothingCreated) {
  ASSERT_FALSE(CreateRO("taken").empty());
  const CreateRefusal& c = GetParam();
  std::string id = "unchanged";
  EXPECT_FALSE(client_.CreateROChkPt(c.fs, c.type, c.extra, c.name, id));
  EXPECT_EQ(id, "unchanged");
  const CelerraError e = client_.GetLastError();
  EXPECT_EQ(e.sMessageCode, c.code);
  EXPECT_NE(e.nStatus, 0);
  EXPECT_FALSE(e.sComponent.empty() || e.sFacility.empty() ||
               e.sMessage.empty() || e.sSeverity.empty() ||
               e.sDescription.empty() || e.sAction.empty() ||
               e.sDiagnostics.empty());
  EXPECT_EQ(CheckpointNames(), std::vector<std::string>{"taken"});
}

const std::string kLong(241, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, CreateReadOnlyRefusal,
    ::testing::Values(CreateRefusal{"EmptyFs", "", CELERRA_STG_UXFS, "pool1",
                                    "n1", "13690535937"},
                      CreateRefusal{"UnknownFs", "999", CELERRA_STG_UXFS,
                                    "pool1", "n1", "13690535940"},
                      CreateRefusal{"WrongType", "101", CELERRA_STG_MGFS,
                                    "pool1", "n1", "13690535941"},
                      CreateRefusal{"WrongExtra", "101", CELERRA_STG_UXFS,
                                    "pool9", "n1", "13690535941"},
                      CreateRefusal{"EmptyName", "101", CELERRA_STG_UXFS,
                                    "pool1", "", "13690535948"},
                      CreateRefusal{"DigitsOnly", "101", CELERRA_STG_UXFS,
                                    "pool1", "12345", "13690535949"},
                      CreateRefusal{"Bar", "101", CELERRA_STG_UXFS, "pool1",
                                    "a|b", "13690535948"},
                      CreateRefusal{"Comma", "101", CELERRA_STG_UXFS, "pool1",
                                    "a,b", "13690535948"},
                      CreateRefusal{"Slash", "101", CELERRA_STG_UXFS, "pool1",
                                    "a/b", "13690535948"},
                      CreateRefusal{"TooLong", "101", CELERRA_STG_UXFS, "pool1",
                                    kLong, "13690535950"},
                      CreateRefusal{"NameOfCheckpoint", "101", CELERRA_STG_UXFS,
                                    "pool1", "taken", "13690535947"},
                      CreateRefusal{"NameOfFileSystem", "101", CELERRA_STG_UXFS,
                                    "pool1", "fs2", "13690535947"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CheckpointTest, ReadOnlyLimitAnswersWithLimitCode) {
  for (int i = 0; i < 96; ++i) {
    ASSERT_FALSE(CreateRO("s" + std::to_string(i)).empty()) << i;
  }
  EXPECT_TRUE(CreateRO("s96").empty());
  EXPECT_EQ(LastCode(), "13690535984");
  // Other file systems have their own count; freeing one makes room.
  EXPECT_FALSE(CreateRO("other", "102").empty());
  std::list<CelerraChkPtInfo> list;
  ASSERT_TRUE(client_.GetChkPointsInfo("101", list));
  ASSERT_TRUE(client_.DeleteChkPt(list.front().sChkptId, "", false));
  EXPECT_FALSE(CreateRO("s96").empty());
}

TEST_F(CheckpointTest, ReadOnlyLimitIsConfigurablePerServer) {
  ManageCelerra c2(7);
  c2.SetControlHostInfo("cs2", "admin", "other");
  std::string id;
  ASSERT_TRUE(c2.CreateROChkPt("201", CELERRA_STG_UXFS, "", "one", id));
  EXPECT_FALSE(c2.CreateROChkPt("201", CELERRA_STG_UXFS, "", "two", id));
  EXPECT_EQ(c2.GetLastError().sMessageCode, "13690535984");
  // The same name on another file server is no conflict.
  EXPECT_FALSE(CreateRO("one").empty());
}

TEST_F(CheckpointTest, CreateWritableOfReadOnlyBaseline) {
  const std::string base = CreateRO("base");
  const std::string rw = CreateRW("base_RW", base);
  ASSERT_FALSE(rw.empty()) << LastCode();
  std::list<CelerraChkPtInfo> list;
  ASSERT_TRUE(client_.GetChkPointsInfo("", list));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.back().sChkptId, rw);
  EXPECT_EQ(list.back().sBaselineChkptId, base);
  EXPECT_EQ(list.back().sPFSId, "101");
  EXPECT_EQ(list.back().sChkptName, "base_RW");
  EXPECT_EQ(list.front().sBaselineChkptId, "");
}

TEST_F(CheckpointTest, CreateWritableRefusals) {
  const std::string base = CreateRO("base");
  const std::string rw = CreateRW("base_RW", base);
  const std::string other_fs = CreateRO("other", "102");
  struct Case {
    std::string baseline;
    std::string name;
    const char* code;
  } cases[] = {
      {"", "n1", "13690535937"},         // empty baseline id
      {"9999", "n1", "13690535955"},     // unknown baseline
      {rw, "n1", "13690535960"},         // baseline is writable
      {other_fs, "n1", "13690535960"},   // baseline of another fs
      {base, "n1", "13690535985"},       // one writable per baseline
      {base, "base_RW", "13690535947"},  // name in use
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(CreateRW(c.name, c.baseline).empty()) << c.code;
    EXPECT_EQ(LastCode(), c.code) << c.baseline << " " << c.name;
  }
  EXPECT_EQ(CheckpointNames().size(), 3u);
}

TEST_F(CheckpointTest, WritableLimitPerFileSystem) {
  for (int i = 0; i < 16; ++i) {
    const std::string base = CreateRO("b" + std::to_string(i));
    ASSERT_FALSE(CreateRW("w" + std::to_string(i), base).empty()) << i;
  }
  EXPECT_TRUE(CreateRW("w16", CreateRO("b16")).empty());
  EXPECT_EQ(LastCode(), "13690535986");
}

// The limits count what a file system and a baseline hold now: every way a
// checkpoint goes (a delete, a delete with its baseline, the file server
// installed again, a reset) gives its place back, and a preset checkpoint
// of the layout takes one.
TEST_F(CheckpointTest, LimitsCountWhatIsThereNow) {
  const std::string base = CreateRO("base");
  std::string rw = CreateRW("base_RW", base);
  ASSERT_FALSE(rw.empty());
  ASSERT_TRUE(client_.DeleteChkPt(rw, "", false));
  rw = CreateRW("again_RW", base);
  ASSERT_FALSE(rw.empty()) << LastCode();
  // Deleting the writable one with its baseline frees both places.
  ASSERT_TRUE(client_.DeleteChkPt(rw, base, true));
  std::vector<std::string> writable;
  for (int i = 0; i < 16; ++i) {
    const std::string b = CreateRO("b" + std::to_string(i));
    writable.push_back(CreateRW("w" + std::to_string(i), b));
    ASSERT_FALSE(writable.back().empty()) << i;
  }
  const std::string b16 = CreateRO("b16");
  EXPECT_TRUE(CreateRW("w16", b16).empty());
  EXPECT_EQ(LastCode(), "13690535986");
  ASSERT_TRUE(client_.DeleteChkPt(writable[0], "", false));
  EXPECT_FALSE(CreateRW("w16", b16).empty()) << LastCode();
  for (int i = 17; i < 96; ++i) {
    ASSERT_FALSE(CreateRO("b" + std::to_string(i)).empty()) << i;
  }
  EXPECT_TRUE(CreateRO("full").empty());
  EXPECT_EQ(LastCode(), "13690535984");

  // Installed again: cs1 holds none of them any more.
  ASSERT_TRUE(zkfiler::LoadLayoutText(kLayout).ok());
  for (int i = 0; i < 96; ++i) {
    ASSERT_FALSE(CreateRO("c" + std::to_string(i)).empty()) << i;
  }
  EXPECT_TRUE(CreateRO("full").empty());
  ASSERT_TRUE(zkfiler::Reset().ok());
  ASSERT_TRUE(zkfiler::LoadLayoutText(kLayout).ok());
  EXPECT_FALSE(CreateRO("after_reset").empty()) << LastCode();

  // cs2 allows one read-only checkpoint per file system; a preset one takes
  // it.
  ASSERT_TRUE(zkfiler::LoadLayoutText("server cs2\n  login admin other\n"
                                      "  limits ro_per_fs=1\n  mover 2\n"
                                      "  fs 201 name=fs1 mover=2 mount=/fs1\n"
                                      "  checkpoint preset fs=201\n")
                  .ok());
  ManageCelerra c2(7);
  c2.SetControlHostInfo("cs2", "admin", "other");
  std::string id;
  EXPECT_FALSE(c2.CreateROChkPt("201", CELERRA_STG_UXFS, "", "one", id));
  EXPECT_EQ(c2.GetLastError().sMessageCode, "13690535984");
}

TEST_F(CheckpointTest, DeleteRefusedWhileWritableOrExportDepends) {
  const std::string base = CreateRO("base");
  const std::string rw = CreateRW("base_RW", base);
  EXPECT_FALSE(client_.DeleteChkPt(base, "", false));
  EXPECT_EQ(LastCode(), "13690535962");
  std::vector<std::string> hosts{"10.1.1.1"};
  ASSERT_TRUE(
      client_.CreateNFSShare("/base_RW", "2", false, hosts, hosts, hosts));
  EXPECT_FALSE(client_.DeleteChkPt(rw, "", false));
  EXPECT_EQ(LastCode(), "13690535963");
  ASSERT_TRUE(client_.DeleteNFSShare("/base_RW", "2"));
  EXPECT_TRUE(client_.DeleteChkPt(rw, "", false));
  EXPECT_TRUE(client_.DeleteChkPt(base, "", false));
  EXPECT_TRUE(CheckpointNames().empty());
  EXPECT_FALSE(client_.DeleteChkPt(base, "", false));
  EXPECT_EQ(LastCode(), "13690535955");
  EXPECT_FALSE(client_.DeleteChkPt("", "", false));
  EXPECT_EQ(LastCode(), "13690535937");
}

TEST_F(CheckpointTest, DeleteWithBaselineRemovesBoth) {
  const std::string base = CreateRO("snap_baseline");
  const std::string rw = CreateRW("snap", base);
  ASSERT_FALSE(CreateRO("keep").empty());
  EXPECT_TRUE(client_.DeleteChkPt(rw, base, true));
  EXPECT_EQ(CheckpointNames(), std::vector<std::string>{"keep"});
}

TEST_F(CheckpointTest, DeleteWithBaselineIsAllOrNothing) {
  const std::string base = CreateRO("snap_baseline");
  const std::string rw = CreateRW("snap", base);
  const std::string other = CreateRO("other");
  // Not the writable checkpoint's own baseline.
  EXPECT_FALSE(client_.DeleteChkPt(rw, other, true));
  EXPECT_EQ(LastCode(), "13690535964");
  // A read-only checkpoint has no baseline.
  EXPECT_FALSE(client_.DeleteChkPt(base, base, true));
  EXPECT_EQ(LastCode(), "13690535964");
  // The baseline is exported: the writable one must survive too.
  std::vector<std::string> none;
  ASSERT_TRUE(
      client_.CreateNFSShare("/snap_baseline", "2", false, none, none, none));
  EXPECT_FALSE(client_.DeleteChkPt(rw, base, true));
  EXPECT_EQ(LastCode(), "13690535963");
  EXPECT_EQ(CheckpointNames().size(), 3u);
}

TEST_F(CheckpointTest, RestoreReplacesContentGeneration) {
  const std::string id = CreateRO("gen1");
  ASSERT_TRUE(zkfiler::WriteToFileSystem("cs1", "101").ok());
  ASSERT_TRUE(zkfiler::WriteToFileSystem("cs1", "101").ok());
  zkfiler::FileSystemDef fs;
  ASSERT_TRUE(zkfiler::GetFileSystem("cs1", "101", &fs).ok());
  ASSERT_EQ(fs.generation, 3);
  ASSERT_TRUE(client_.RestorePFSFromChkPt("gen1", id, "101"));
  ASSERT_TRUE(zkfiler::GetFileSystem("cs1", "101", &fs).ok());
  EXPECT_EQ(fs.generation, 1);
  EXPECT_EQ(fs.restores, 1);
}

TEST_F(CheckpointTest, RestoreRefusals) {
  const std::string id = CreateRO("gen1");
  const std::string rw = CreateRW("gen1_RW", id);
  const std::string other = CreateRO("other", "102");
  struct Case {
    std::string name, id, fs;
    const char* code;
  } cases[] = {
      {"gen1", id, "999", "13690535940"},     // unknown fs
      {"gen1", "999", "101", "13690535955"},  // unknown checkpoint
      {"other", id, "101", "13690535970"},    // name of another checkpoint
      {"gen1", id, "102", "13690535970"},     // another fs
      {"other", other, "101", "13690535970"},
      {"gen1_RW", rw, "101", "13690535971"},  // writable
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(client_.RestorePFSFromChkPt(c.name, c.id, c.fs)) << c.code;
    EXPECT_EQ(LastCode(), c.code) << c.name << " " << c.id << " " << c.fs;
  }
  zkfiler::FileSystemDef fs;
  ASSERT_TRUE(zkfiler::GetFileSystem("cs1", "101", &fs).ok());
  EXPECT_EQ(fs.restores, 0);
}

TEST_F(CheckpointTest, ListReplacesRatherThanAppends) {
  CreateRO("a");
  CreateRO("b", "102");
  std::list<CelerraChkPtInfo> list{{"junk", "", "", "junk"}};
  ASSERT_TRUE(client_.GetChkPointsInfo("", list));
  ASSERT_EQ(list.size(), 2u);
  ASSERT_TRUE(client_.GetChkPointsInfo("", list));
  EXPECT_EQ(list.size(), 2u);
  ASSERT_TRUE(client_.GetChkPointsInfo("102", list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.front().sChkptName, "b");
  // Another server's list replaces this one's in the same list object.
  ManageCelerra c2(1);
  c2.SetControlHostInfo("cs2", "admin", "other");
  ASSERT_TRUE(c2.GetChkPointsInfo("", list));
  EXPECT_TRUE(list.empty());
}

TEST_F(CheckpointTest, ListOfUnknownFileSystemIsRefusedAndListKept) {
  CreateRO("a");
  std::list<CelerraChkPtInfo> list{{"1", "", "101", "kept"}};
  EXPECT_FALSE(client_.GetChkPointsInfo("999", list));
  EXPECT_EQ(LastCode(), "13690535940");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.front().sChkptName, "kept");
}

TEST_F(CheckpointTest, SnapDeviceNameOfWritableCheckpoint) {
  const std::string base = CreateRO("snap");
  const std::string rw = CreateRW("snap_RW", base);
  std::string path;
  ASSERT_TRUE(Celerra_GetSnapDeviceNameWithManageCelerra(client_, "/fs1", "101",
                                                         rw, "", path));
  EXPECT_EQ(path, "/snap_RW");
  path.clear();
  ASSERT_TRUE(Celerra_GetSnapDeviceNameWithManageCelerra(client_, "/fs1", "101",
                                                         "", "snap_RW", path));
  EXPECT_EQ(path, "/snap_RW");

  struct Case {
    std::string fs, id, name;
    const char* code;
  } cases[] = {
      {"101", base, "", "13690535972"},       // read-only
      {"101", "", "snap", "13690535972"},     // read-only, by name
      {"101", "999", "", "13690535955"},      // unknown id
      {"101", "", "nothere", "13690535955"},  // unknown name
      {"102", rw, "", "13690535955"},         // of another fs
      {"101", "", "", "13690535937"},         // neither id nor name
  };
  for (const Case& c : cases) {
    std::string out = "unchanged";
    EXPECT_FALSE(Celerra_GetSnapDeviceNameWithManageCelerra(
        client_, "/fs1", c.fs, c.id, c.name, out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(LastCode(), c.code) << c.fs << " " << c.id << " " << c.name;
  }
}

}  // namespace
}  // namespace zkfiler_test
