// SPDX-License-Identifier: Apache-2.0
// The data plane of the simulated file server: directories made at load,
// the data commands (put, get, ls, rm) and the paths they refuse, the copies
// checkpoints keep and restore puts back, all or nothing under faults, and
// the cleanup of what a killed process left.
#include "filerdata/FilerData.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "filer/FilerFiles.h"
#include "filer/FilerSim.h"
#include "host/ManageCelerra.h"
#include "tests/filer/FilerProcessUtil.h"
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

// Every entry below `dir` by relative path: "d" for a directory, "l:" and
// the target for a link, "f<mode>:" and the bytes for a file.
void Walk(const std::string& dir, const std::string& rel,
          std::map<std::string, std::string>* out) {
  for (const std::string& name : Entries(dir + rel)) {
    const std::string path = rel + "/" + name;
    struct stat st;
    ASSERT_EQ(::lstat((dir + path).c_str(), &st), 0) << path;
    if (S_ISDIR(st.st_mode)) {
      (*out)[path] = "d" + std::to_string(st.st_mode & 0777);
      Walk(dir, path, out);
    } else if (S_ISLNK(st.st_mode)) {
      char buf[256];
      const ssize_t n = ::readlink((dir + path).c_str(), buf, sizeof buf);
      (*out)[path] = "l:" + std::string(buf, n < 0 ? 0 : n);
    } else {
      (*out)[path] =
          "f" + std::to_string(st.st_mode & 0777) + ":" + ReadBytes(dir + path);
    }
  }
}

std::map<std::string, std::string> Tree(const std::string& dir) {
  std::map<std::string, std::string> out;
  Walk(dir, "", &out);
  return out;
}

bool IsDir(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class DataTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (HasFatalFailure()) return;
    WriteFile(dir_ + "/layout.txt", kLayout);
    zkfiler::Status s =
        zkfiler::LoadStateFile(db_, dir_ + "/layout.txt", false);
    ASSERT_TRUE(s.ok()) << s.ToString();
    root_ = db_ + ".data";
    client_.SetControlHostInfo("cs1", "admin", kPassword);
  }

  std::string Fs(const std::string& id) {
    return zkfiler::data::FsDir(root_, "cs1", id);
  }
  std::string Ckpt(const std::string& id) {
    return zkfiler::data::CheckpointDir(root_, "cs1", id);
  }
  void Put(const std::string& path, const std::string& text,
           const std::string& fs = "fs1") {
    zkfiler::Status s = zkfiler::PutData("cs1", fs, path, text);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }
  std::string Get(const std::string& path, const std::string& fs = "fs1") {
    std::string text;
    zkfiler::Status s = zkfiler::GetData("cs1", fs, path, &text);
    return s.ok() ? text : "<" + s.message() + ">";
  }
  std::string CreateRO(const std::string& name) {
    std::string id;
    return client_.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", name, id)
               ? id
               : "";
  }

  std::string root_;
  ManageCelerra client_{42};
};

TEST_F(DataTest, LoadMakesADirectoryPerFileSystemAndTheCommandsWork) {
  for (const char* id : {"101", "102", "103"}) {
    EXPECT_TRUE(IsDir(Fs(id))) << id;
  }
  EXPECT_TRUE(IsDir(zkfiler::data::FsDir(root_, "cs2", "201")));

  // Through the command, by name and by id; directories made on the way.
  ASSERT_EQ(Zkfiler("data put --host cs1 fs1 /a/b/c.txt 'first text'").status,
            0);
  WriteFile(dir_ + "/src.bin", std::string("\0\x01zz", 4));
  Outcome put = Zkfiler("data put --host cs1 101 /a/raw.bin --from " +
                        Quote(dir_ + "/src.bin"));
  ASSERT_EQ(put.status, 0) << put.output;
  EXPECT_EQ(Zkfiler("data get --host cs1 fs1 /a/b/c.txt").output, "first text");
  EXPECT_EQ(Get("/a/raw.bin"), std::string("\0\x01zz", 4));
  const Outcome ls = Zkfiler("data ls --host cs1 fs1 /a");
  EXPECT_EQ(ls.status, 0);
  EXPECT_NE(ls.output.find("b/"), std::string::npos) << ls.output;
  EXPECT_NE(ls.output.find("raw.bin"), std::string::npos) << ls.output;
  EXPECT_EQ(Tree(Fs("101")),
            (std::map<std::string, std::string>{
                {"/a", "d493"},
                {"/a/b", "d493"},
                {"/a/b/c.txt", "f420:first text"},
                {"/a/raw.bin", std::string("f420:\0\x01zz", 9)}}));

  // fs1 is on both control hosts: without --host the name is ambiguous.
  const Outcome ambiguous = Zkfiler("data get fs1 /a/b/c.txt");
  EXPECT_EQ(ambiguous.status, 1);
  EXPECT_NE(ambiguous.output.find("give --host"), std::string::npos)
      << ambiguous.output;

  ASSERT_EQ(Zkfiler("data rm --host cs1 fs1 /a/b").status, 0);
  EXPECT_FALSE(IsDir(Fs("101") + "/a/b"));
  EXPECT_EQ(Zkfiler("data get --host cs1 fs1 /a/b/c.txt").status, 1);
}

// A layout's data= seeds a file system's files (a path relative to the
// layout file's folder); a load whose seed is missing, not a directory or
// cannot be copied fails naming the line and leaves files and state as
// they were.
TEST_F(DataTest, ALayoutSeedsAFileSystemsFilesAllOrNothing) {
  ::mkdir((dir_ + "/seed").c_str(), 0755);
  ::mkdir((dir_ + "/seed/sub").c_str(), 0755);
  WriteFile(dir_ + "/seed/sub/a.txt", "seeded a");
  ::chmod((dir_ + "/seed/sub/a.txt").c_str(), 0644);
  Put("/old.txt", "before the load", "fs2");
  const std::string seeded =
      "server cs1\n  login admin \"Pw-Secret#1\"\n"
      "  mover 2\n"
      "  fs 101 name=fs1 mover=2 mount=/fs1 extra=pool1 data=seed\n"
      "  fs 102 name=fs2 mover=2 mount=/fs2 "
      "data=" +
      dir_ + "/seed/sub\n";
  WriteFile(dir_ + "/seeded.txt", seeded);
  Outcome load = Zkfiler("load " + Quote(dir_ + "/seeded.txt"));
  ASSERT_EQ(load.status, 0) << load.output;
  EXPECT_EQ(Tree(Fs("101")),
            (std::map<std::string, std::string>{
                {"/sub", "d493"}, {"/sub/a.txt", "f420:seeded a"}}));
  // The seed replaces what the file system held.
  EXPECT_EQ(Tree(Fs("102")),
            (std::map<std::string, std::string>{{"/a.txt", "f420:seeded a"}}));
  EXPECT_EQ(Get("/sub/a.txt"), "seeded a");
  // A checkpoint keeps the seeded files like any others.
  const std::string id = CreateRO("c1");
  ASSERT_NE(id, "");
  EXPECT_EQ(Tree(Ckpt(id)), Tree(Fs("101")));

  Put("/sub/a.txt", "changed");
  const std::string before = Zkfiler("show").output;
  struct Case {
    const char* data;
    const char* error;
  };
  WriteFile(dir_ + "/plain", "a file");
  const auto fs2_files = Tree(Fs("102"));
  struct stat fs2_dir;
  ASSERT_EQ(::stat(Fs("102").c_str(), &fs2_dir), 0);
  const Case cases[] = {
      {"missing", "seeded2.txt:6: file system 101: data directory"},
      {"plain", "is not a directory"},
      {"", "data= names no directory"},
      // The layout's own folder holds the state file's data.
      {".", "holds or lies in the state file's data directory"},
      {"state.db.data/cs1", "holds or lies in the state file's data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    WriteFile(dir_ + "/seeded2.txt",
              "server cs1\n  login admin \"Pw-Secret#1\"\n  mover 2\n"
              "  fs 103 name=fs3 mover=2 mount=/fs3 data=seed\n"
              "  fs 102 name=fs2 mover=2 mount=/fs2 data=seed\n"
              "  fs 101 name=fs1 mover=2 mount=/fs1 data=" +
                  std::string(c.data) + "\n");
    const Outcome bad = Zkfiler("load " + Quote(dir_ + "/seeded2.txt"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find(c.error), std::string::npos) << bad.output;
    EXPECT_EQ(Zkfiler("show").output, before);
    EXPECT_EQ(Get("/sub/a.txt"), "changed");
    EXPECT_EQ(Entries(root_ + "/cs1/fs").size(), 2u);  // 101 and 102 only
    // fs2's files, replaced in its directory before the failure, are put
    // back in that same directory.
    EXPECT_EQ(Tree(Fs("102")), fs2_files);
    struct stat st;
    ASSERT_EQ(::stat(Fs("102").c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, fs2_dir.st_ino);
  }
}

TEST_F(DataTest, PathsThatWouldLeaveTheFileSystemAreRefused) {
  // A link inside the file system that points out of it, and a file out
  // there that must stay untouched.
  WriteFile(dir_ + "/outside.txt", "outside");
  ASSERT_EQ(::symlink(dir_.c_str(), (Fs("101") + "/out").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "/outside.txt").c_str(),
                      (Fs("101") + "/link.txt").c_str()),
            0);
  struct Case {
    const char* path;
    const char* why;
  };
  const Case cases[] = {
      {"/../outside.txt", "'..'"},
      {"/a/../../outside.txt", "'..'"},
      {"/./x", "'.'"},
      {"//x", "empty"},
      {"x", "must start with '/'"},
      {"/out/outside.txt", "symbolic link"},
      {"/out/new.txt", "symbolic link"},
      {"/link.txt", "symbolic link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string text;
    zkfiler::Status get = zkfiler::GetData("cs1", "fs1", c.path, &text);
    EXPECT_FALSE(get.ok());
    zkfiler::Status put = zkfiler::PutData("cs1", "fs1", c.path, "evil");
    EXPECT_FALSE(put.ok());
    if (std::string(c.path) == "/link.txt") continue;  // below
    zkfiler::Status rm = zkfiler::RemoveData("cs1", "fs1", c.path);
    EXPECT_FALSE(rm.ok());
    EXPECT_NE(put.message().find(c.why), std::string::npos) << put.message();
  }
  // Removing a link removes the link, never what it points to.
  EXPECT_TRUE(zkfiler::RemoveData("cs1", "fs1", "/link.txt").ok());
  EXPECT_EQ(Entries(Fs("101")), (std::set<std::string>{"out"}));
  EXPECT_EQ(ReadBytes(dir_ + "/outside.txt"), "outside");
  EXPECT_EQ(Entries(dir_),
            (std::set<std::string>{"layout.txt", "outside.txt", "state.db",
                                   "state.db.data"}));
  EXPECT_FALSE(zkfiler::RemoveData("cs1", "fs1", "/").ok());
}

TEST_F(DataTest, CheckpointsKeepTheFilesAndRestorePutsThemBack) {
  Put("/doc.txt", "version one");
  Put("/dir/keep.txt", "kept");
  ASSERT_EQ(::symlink("doc.txt", (Fs("101") + "/alias").c_str()), 0);
  const auto at_snap = Tree(Fs("101"));
  const std::string ro = CreateRO("snap1");
  ASSERT_FALSE(ro.empty());
  EXPECT_EQ(Tree(Ckpt(ro)), at_snap);

  // Production moves on; the checkpoint does not.
  Put("/doc.txt", "version two");
  Put("/new.txt", "made after the snap");
  ASSERT_TRUE(zkfiler::RemoveData("cs1", "fs1", "/dir").ok());
  EXPECT_EQ(Tree(Ckpt(ro)), at_snap);
  EXPECT_EQ(Get("/doc.txt", "snap1"), "version one");
  EXPECT_FALSE(zkfiler::PutData("cs1", "snap1", "/x", "y").ok());

  // A writable checkpoint is a copy of its baseline that can be written.
  std::string baseline = ro, rw;
  ASSERT_TRUE(client_.CreateRWChkPt("101", CELERRA_STG_UXFS, "pool1",
                                    "snap1_RW", false, baseline, rw));
  EXPECT_EQ(Tree(Ckpt(rw)), at_snap);
  Put("/doc.txt", "written in the view", "snap1_RW");
  EXPECT_EQ(Get("/doc.txt", "snap1"), "version one");
  ASSERT_TRUE(client_.DeleteChkPt(rw, "", false));
  EXPECT_FALSE(IsDir(Ckpt(rw)));

  ASSERT_TRUE(client_.RestorePFSFromChkPt("snap1", ro, "101"));
  EXPECT_EQ(Tree(Fs("101")), at_snap);
  EXPECT_EQ(Tree(Ckpt(ro)), at_snap);
  // Nothing is left beside the directories.
  EXPECT_EQ(Entries(zkfiler::data::HostDir(root_, "cs1")),
            (std::set<std::string>{"ckpt", "fs"}));

  ASSERT_TRUE(client_.DeleteChkPt(ro, "", false));
  EXPECT_FALSE(IsDir(Ckpt(ro)));
}

// A refused command copies nothing; a command whose reply is lost does its
// copy as it would without the fault.
struct FaultCase {
  const char* command;
  bool lost_reply;
};

class DataFaultTest : public DataTest,
                      public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DataFaultTest, DataFollowsWhatTheCommandDid) {
  const FaultCase& c = GetParam();
  Put("/doc.txt", "at the snap");
  const std::string ro = CreateRO("before");
  ASSERT_FALSE(ro.empty());
  Put("/doc.txt", "later");
  zkfiler::FaultRule fault;
  fault.command = c.command;
  fault.lost_reply = c.lost_reply;
  ASSERT_TRUE(zkfiler::ArmFault(fault).ok());
  const std::string command = c.command;
  bool took_effect = false;
  if (command == "CreateROChkPt") {
    std::string id;
    EXPECT_FALSE(
        client_.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "snap2", id));
    std::vector<zkfiler::CheckpointView> all;
    ASSERT_TRUE(zkfiler::ListCheckpoints("cs1", &all).ok());
    for (const auto& v : all) {
      if (v.name == "snap2") {
        took_effect = true;
        EXPECT_EQ(ReadBytes(Ckpt(v.id) + "/doc.txt"), "later");
      }
    }
  } else if (command == "DeleteChkPt") {
    EXPECT_FALSE(client_.DeleteChkPt(ro, "", false));
    took_effect = !IsDir(Ckpt(ro));
  } else {
    EXPECT_FALSE(client_.RestorePFSFromChkPt("before", ro, "101"));
    took_effect = Get("/doc.txt") == "at the snap";
    if (!took_effect) {
      EXPECT_EQ(Get("/doc.txt"), "later");
    }
  }
  EXPECT_EQ(took_effect, c.lost_reply);
  EXPECT_EQ(Entries(root_ + "/cs1"), (std::set<std::string>{"ckpt", "fs"}));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DataFaultTest,
    ::testing::Values(FaultCase{"CreateROChkPt", false},
                      FaultCase{"CreateROChkPt", true},
                      FaultCase{"DeleteChkPt", false},
                      FaultCase{"DeleteChkPt", true},
                      FaultCase{"RestorePFSFromChkPt", false},
                      FaultCase{"RestorePFSFromChkPt", true}));

TEST_F(DataTest, WhatAKilledProcessLeftGoesAtTheNextStart) {
  Put("/doc.txt", "text");
  const std::string ro = CreateRO("kept");
  ASSERT_FALSE(ro.empty());
  // A copy half made under its temporary name, one renamed into place but
  // never committed, and the directory of a file system no longer there.
  const std::string host = zkfiler::data::HostDir(root_, "cs1");
  ASSERT_EQ(Shell("mkdir -p " + Quote(host + "/.tmp-999999-1/x") + " " +
                  Quote(Ckpt("99999")) + " " + Quote(Fs("999")))
                .status,
            0);
  ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
  ASSERT_TRUE(zkfiler::UseStateFile(db_).ok());
  EXPECT_EQ(Entries(host), (std::set<std::string>{"ckpt", "fs"}));
  EXPECT_EQ(Entries(host + "/ckpt"), (std::set<std::string>{ro}));
  EXPECT_EQ(Entries(host + "/fs"),
            (std::set<std::string>{"101", "102", "103"}));
  EXPECT_EQ(ReadBytes(Ckpt(ro) + "/doc.txt"), "text");
}

TEST_F(DataTest, ServeWithoutRootSaysItNeedsRootAndStartsNothing) {
  // As root, the command runs as the unprivileged user "nobody".
  std::string prefix;
  if (::geteuid() == 0) {
    if (Shell("command -v setpriv").status != 0) {
      GTEST_SKIP() << "setpriv (util-linux) is needed to drop root";
    }
    ASSERT_EQ(Shell("chmod 755 " + Quote(dir_) + " && chmod 644 " + Quote(db_))
                  .status,
              0);
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  const Outcome run = Shell(prefix + ZKFILER_BIN + " --db " + Quote(db_) +
                            " serve --port 20499");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("serve: needs root"), std::string::npos)
      << run.output;
  EXPECT_EQ(Entries(dir_),
            (std::set<std::string>{"layout.txt", "state.db", "state.db.data"}));
}

TEST(DataInMemoryTest, TheInMemoryStoreKeepsNoFiles) {
  ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
  ASSERT_TRUE(zkfiler::LoadLayoutText(kLayout).ok());
  zkfiler::Status s = zkfiler::PutData("cs1", "fs1", "/a", "b");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("in-memory store keeps no files"),
            std::string::npos)
      << s.message();
  // Checkpoints work as before, without data.
  ManageCelerra client(7);
  client.SetControlHostInfo("cs1", "admin", kPassword);
  std::string id;
  EXPECT_TRUE(client.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", "c", id));
}

}  // namespace
}  // namespace zkfiler_test
