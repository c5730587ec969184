// SPDX-License-Identifier: Apache-2.0
// The data plane against what a hostile local user or file would try:
// copies keep owners, modes, times and links and grant no one more than
// the source did; the data directory is private to the state file's owner;
// trees deeper than PATH_MAX are copied and removed; a full disk is
// reported as such; data put/get stream; names are shown escaped.
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>

#include "filer/FilerFiles.h"
#include "filer/FilerSim.h"
#include "filer/FilerText.h"
#include "filerdata/FilerData.h"
#include "host/ManageCelerra.h"
#include "tests/filer/FilerProcessUtil.h"
#include "tests/filer/FilerTestUtil.h"

namespace zkfiler_test {
namespace {

constexpr uid_t kNobody = 65534;
constexpr uid_t kOther = 1234;  // an account of no one here

// Every entry below `dir` (the root as "/"): owner, group, mode, mtime and
// what it holds (a link's target, a file's bytes).
void Describe(int dir, const std::string& rel,
              std::map<std::string, std::string>* out) {
  struct stat st;
  ASSERT_EQ(::fstat(dir, &st), 0);
  (*out)[rel.empty() ? "/" : rel] = std::to_string(st.st_uid) + ":" +
                                    std::to_string(st.st_gid) + " " +
                                    std::to_string(st.st_mode & 07777) + " " +
                                    std::to_string(st.st_mtim.tv_sec) + " d";
  for (const std::string& name :
       Entries("/proc/self/fd/" + std::to_string(dir))) {
    const std::string path = rel + "/" + name;
    ASSERT_EQ(::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW), 0);
    const std::string attrs = std::to_string(st.st_uid) + ":" +
                              std::to_string(st.st_gid) + " " +
                              std::to_string(st.st_mtim.tv_sec);
    if (S_ISDIR(st.st_mode)) {
      const int sub = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
      ASSERT_GE(sub, 0);
      Describe(sub, path, out);
      ::close(sub);
    } else if (S_ISLNK(st.st_mode)) {
      char buf[256];
      const ssize_t n = ::readlinkat(dir, name.c_str(), buf, sizeof buf);
      (*out)[path] = attrs + " l:" + std::string(buf, n < 0 ? 0 : n);
    } else {
      (*out)[path] =
          attrs + " " + std::to_string(st.st_mode & 07777) + " f:" +
          ReadBytes("/proc/self/fd/" + std::to_string(dir) + "/" + name);
    }
  }
}

std::map<std::string, std::string> Describe(const std::string& dir) {
  std::map<std::string, std::string> out;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return {{"<missing>", dir}};
  Describe(fd, "", &out);
  ::close(fd);
  return out;
}

// Runs `fn` in a child process as the unprivileged user "nobody"; its
// result is the child's (false when it could not drop root).
bool AsNobody(const std::function<bool()>& fn) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool dropped = ::setgroups(0, nullptr) == 0 &&
                         ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                         ::setresuid(kNobody, kNobody, kNobody) == 0;
    ::_exit(dropped && fn() ? 0 : 1);
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

// A tree of `depth` levels of 50-character names below `dir`, made by
// descriptor (its path is far longer than PATH_MAX), a file at the bottom.
void MakeDeepTree(const std::string& dir, int depth) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0) << dir;
  const std::string name(50, 'd');
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0) << i;
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0) << i;
    fd = next;
  }
  const int file = ::openat(fd, "bottom.txt", O_WRONLY | O_CREAT, 0644);
  EXPECT_GE(file, 0);
  EXPECT_EQ(::write(file, "deep", 4), 4);
  ::close(file);
  ::close(fd);
}

// How many levels of directories `dir` holds, walked by descriptor.
int Depth(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return -1;
  const std::string name(50, 'd');
  int depth = 0;
  for (;;) {
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    if (next < 0) return depth;
    fd = next;
    ++depth;
  }
}

class DataSafetyTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (HasFatalFailure()) return;
    client_.SetControlHostInfo("cs1", "admin", kPassword);
  }

  void Load(const std::string& extra_fs_options = "") {
    std::string layout = kLayout;
    const std::string line =
        "fs 101 name=fs1 mover=2 mount=/fs1 type=1 "
        "extra=pool1 savvol=sv101";
    layout.replace(layout.find(line), line.size(), line + extra_fs_options);
    WriteFile(dir_ + "/layout.txt", layout);
    const zkfiler::Status s =
        zkfiler::LoadStateFile(db_, dir_ + "/layout.txt", false);
    ASSERT_TRUE(s.ok()) << s.ToString();
    root_ = db_ + ".data";
  }
  std::string Fs(const std::string& id) {
    return zkfiler::data::FsDir(root_, "cs1", id);
  }
  std::string Ckpt(const std::string& id) {
    return zkfiler::data::CheckpointDir(root_, "cs1", id);
  }
  std::string CreateRO(const std::string& name) {
    std::string id;
    return client_.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1", name, id)
               ? id
               : "";
  }
  void RequireRoot() {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make others' files";
  }

  std::string root_;
  ManageCelerra client_{42};
};

// A seed as clients would leave it: files of other owners, a setuid file
// of "nobody", a setgid directory, a link with an owner, all with old
// times. A load, a checkpoint, a writable checkpoint and a restore copy it
// exactly (as cp -a does): no file becomes root's, no bit is added.
TEST_F(DataSafetyTest, CopiesKeepOwnersModesTimesAndLinks) {
  RequireRoot();
  const std::string seed = dir_ + "/seed";
  ASSERT_EQ(
      Shell("mkdir -p " + Quote(seed + "/team") + " && cd " + Quote(seed) +
            " && printf run > tool && printf notes > team/notes.txt"
            " && ln -s team/notes.txt link"
            " && chown -h 65534:65534 tool link && chmod 4755 tool"
            " && chown 1234:1234 team team/notes.txt"
            " && chmod 2770 team && chmod 640 team/notes.txt"
            " && chmod 750 . && chown 1234:65534 ."
            " && touch -h -d '2001-02-03 04:05:06' tool link "
            "team/notes.txt team .")
          .status,
      0);
  const auto seeded = Describe(seed);
  ASSERT_EQ(seeded.at("/tool"), "65534:65534 981173106 2541 f:run");
  Load(" data=seed");
  EXPECT_EQ(Describe(Fs("101")), seeded);

  const std::string ro = CreateRO("snap1");
  ASSERT_FALSE(ro.empty());
  EXPECT_EQ(Describe(Ckpt(ro)), seeded);
  std::string baseline = ro, rw;
  ASSERT_TRUE(client_.CreateRWChkPt("101", CELERRA_STG_UXFS, "pool1",
                                    "snap1_RW", false, baseline, rw));
  EXPECT_EQ(Describe(Ckpt(rw)), seeded);

  // Production changes (the root too); a restore gives back every owner,
  // mode and time, in the same directory.
  ASSERT_TRUE(zkfiler::PutData("cs1", "fs1", "/tool", "replaced").ok());
  ASSERT_EQ(::chmod(Fs("101").c_str(), 0700), 0);
  struct stat before, after;
  ASSERT_EQ(::stat(Fs("101").c_str(), &before), 0);
  ASSERT_TRUE(client_.RestorePFSFromChkPt("snap1", ro, "101"));
  ASSERT_EQ(::stat(Fs("101").c_str(), &after), 0);
  EXPECT_EQ(Describe(Fs("101")), seeded);
  EXPECT_EQ(before.st_ino, after.st_ino) << "the served directory changed";
}

// Copying as an account that cannot give files away: the copy stays that
// account's and loses setuid and setgid, whoever owned the source.
TEST_F(DataSafetyTest, ACopyThatCannotKeepTheOwnerDropsSetuidAndSetgid) {
  RequireRoot();
  const std::string src = dir_ + "/src", out = dir_ + "/out";
  ASSERT_EQ(Shell("mkdir -p " + Quote(src + "/sub") + " " + Quote(out) +
                  " && printf x > " + Quote(src + "/tool") + " && chown -R " +
                  std::to_string(kOther) + ":" + std::to_string(kOther) + " " +
                  Quote(src) + " && chmod 6755 " + Quote(src + "/tool") +
                  " && chmod 2755 " + Quote(src + "/sub") + " && chown 65534 " +
                  Quote(out) + " && chmod 755 " + Quote(dir_))
                .status,
            0);
  ASSERT_TRUE(AsNobody([&] {
    try {
      zkfiler::data::CopyTree(src, out + "/copy");
      return true;
    } catch (...) {
      return false;
    }
  }));
  const auto copy = Describe(out + "/copy");
  EXPECT_EQ(copy.at("/tool").substr(0, 12), "65534:65534 ");
  EXPECT_EQ(copy.at("/tool").substr(copy.at("/tool").size() - 8), " 493 f:x")
      << copy.at("/tool");  // 0755: no 06000
  EXPECT_EQ(copy.at("/sub").substr(0, 16), "65534:65534 493 ")
      << copy.at("/sub");
}

// Nothing in the data directory can be read or listed by another local
// account, by path or by guessing names; a data directory made before it
// was private is made private at the next start.
TEST_F(DataSafetyTest, TheDataDirectoryIsPrivateToTheStateFilesOwner) {
  RequireRoot();
  Load();
  ASSERT_TRUE(zkfiler::PutData("cs1", "fs1", "/secret.txt", "only mine").ok());
  const std::string ro = CreateRO("snap1");
  ASSERT_FALSE(ro.empty());
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  struct stat st;
  ASSERT_EQ(::stat(root_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  const std::string files[] = {Fs("101") + "/secret.txt",
                               Ckpt(ro) + "/secret.txt"};
  for (const std::string& path : files) {
    EXPECT_EQ(ReadBytes(path), "only mine");
    EXPECT_FALSE(AsNobody([&] {
      return ::open(path.c_str(), O_RDONLY) >= 0 ||
             ::opendir(zkfiler::data::HostDir(root_, "cs1").c_str()) != nullptr;
    })) << path;
  }
  ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
  ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
  ASSERT_TRUE(zkfiler::UseStateFile(db_).ok());
  ASSERT_EQ(::stat(root_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

// A tree 600 levels of 50-character names deep (far beyond PATH_MAX) is
// copied into a checkpoint and removed with it, removed by `data rm`, and
// the start-up clean-up removes one a killed delete left.
TEST_F(DataSafetyTest, TreesDeeperThanPathMaxAreCopiedAndRemoved) {
  Load();
  ASSERT_TRUE(zkfiler::PutData("cs1", "fs1", "/deep/x", "x").ok());
  MakeDeepTree(Fs("101") + "/deep", 600);
  const std::string ro = CreateRO("deep");
  ASSERT_FALSE(ro.empty()) << client_.GetLastError().sMessage;
  EXPECT_EQ(Depth(Ckpt(ro) + "/deep"), 600);
  ASSERT_TRUE(client_.DeleteChkPt(ro, "", false));
  EXPECT_EQ(Entries(zkfiler::data::HostDir(root_, "cs1") + "/ckpt"),
            std::set<std::string>{});

  // What a delete killed after its commit left: gone at the next start.
  const std::string left = zkfiler::data::CheckpointDir(root_, "cs1", "999");
  ASSERT_EQ(::mkdir(left.c_str(), 0700), 0);
  MakeDeepTree(left, 600);
  ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
  ASSERT_TRUE(zkfiler::UseStateFile(db_).ok());
  EXPECT_EQ(Entries(zkfiler::data::HostDir(root_, "cs1") + "/ckpt"),
            std::set<std::string>{});

  const zkfiler::Status rm = zkfiler::RemoveData("cs1", "fs1", "/deep");
  EXPECT_TRUE(rm.ok()) << rm.ToString();
  EXPECT_EQ(Entries(Fs("101")), std::set<std::string>{});
}

// A disk that fills during a checkpoint's copy or a restore refuses the
// command as such (no "state file" code, no advice to reload the state)
// and changes nothing.
TEST_F(DataSafetyTest, AFullDiskRefusesTheCopyAndChangesNothing) {
  RequireRoot();
  const std::string small = dir_ + "/small";
  ASSERT_EQ(::mkdir(small.c_str(), 0700), 0);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4m") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() {
      zkfiler::UseInMemoryStore();
      ::umount2(path.c_str(), MNT_DETACH);
    }
  } unmount{small};
  db_ = small + "/state.db";
  Load();
  ASSERT_TRUE(
      zkfiler::PutData("cs1", "fs1", "/big.bin", std::string(1300 * 1024, 'b'))
          .ok());
  const std::string ro = CreateRO("fits");
  ASSERT_FALSE(ro.empty()) << client_.GetLastError().sMessage;
  ASSERT_TRUE(
      zkfiler::PutData("cs1", "fs1", "/more.bin", std::string(600 * 1024, 'm'))
          .ok());
  const auto production = Describe(Fs("101"));
  struct stat before;
  ASSERT_EQ(::stat(Fs("101").c_str(), &before), 0);

  // The copy of a new checkpoint, then the copy a restore makes first.
  std::string id;
  const std::function<bool()> commands[] = {
      [&] {
        return client_.CreateROChkPt("101", CELERRA_STG_UXFS, "pool1",
                                     "nospace", id);
      },
      [&] { return client_.RestorePFSFromChkPt("fits", ro, "101"); }};
  for (const auto& command : commands) {
    EXPECT_FALSE(command());
    const CelerraError& e = client_.GetLastError();
    EXPECT_EQ(e.sMessageCode, "13690535990") << e.sMessage;
    EXPECT_NE(e.sMessage.find("No space left on device"), std::string::npos)
        << e.sMessage;
    EXPECT_EQ(e.sAction.find("zkfiler load"), std::string::npos) << e.sAction;
  }
  EXPECT_EQ(Describe(Fs("101")), production);
  struct stat after;
  ASSERT_EQ(::stat(Fs("101").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  std::vector<zkfiler::CheckpointView> all;
  ASSERT_TRUE(zkfiler::ListCheckpoints("cs1", &all).ok());
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].id, ro);
  EXPECT_EQ(Entries(zkfiler::data::HostDir(root_, "cs1")),
            (std::set<std::string>{"ckpt", "fs"}));
}

// `data put` writes with the owner and mode asked (so a client squashed to
// "nobody" can write there), refuses setuid bits and malformed values.
TEST_F(DataSafetyTest, DataPutWritesTheOwnerAndModeAsked) {
  RequireRoot();
  Load();
  const Outcome put = Zkfiler(
      "data put --host cs1 --owner 65534:65533 --mode 664 fs1 "
      "/drop/in.txt hello");
  ASSERT_EQ(put.status, 0) << put.output;
  const auto tree = Describe(Fs("101"));
  EXPECT_EQ(tree.at("/drop").substr(0, 16), "65534:65533 493 ");
  EXPECT_EQ(tree.at("/drop/in.txt").substr(0, 12), "65534:65533 ");
  const std::string& file = tree.at("/drop/in.txt");
  EXPECT_EQ(file.substr(file.size() - 12), " 436 f:hello") << file;
  // Without options: the caller's, 0644.
  ASSERT_EQ(Zkfiler("data put --host cs1 fs1 /drop/plain.txt x").status, 0);
  EXPECT_EQ(Describe(Fs("101")).at("/drop/plain.txt").substr(0, 4), "0:0 ");
  for (const char* bad :
       {"--mode 4755", "--mode 2644", "--mode 1777", "--mode 9", "--mode -1",
        "--owner 1", "--owner x:1", "--owner 1:4294967295", "--owner 1:2:3"}) {
    const Outcome refused = Zkfiler(std::string("data put --host cs1 ") + bad +
                                    " fs1 /drop/bad.txt x");
    EXPECT_EQ(refused.status, 2) << bad << ": " << refused.output;
  }
  EXPECT_EQ(Entries(Fs("101") + "/drop"),
            (std::set<std::string>{"in.txt", "plain.txt"}));
}

// put --from and get hold a piece of the file at a time: a file twice the
// size of the memory zkfiler may take goes in and out whole.
TEST_F(DataSafetyTest, DataPutAndGetStreamInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit a data limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit a data limit";
#endif
#endif
  if (Shell("command -v prlimit").status != 0) {
    GTEST_SKIP() << "prlimit (util-linux) is needed";
  }
  Load();
  const std::string big = dir_ + "/big.bin", back = dir_ + "/back.bin";
  const off_t size = 96 << 20;
  {
    const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ASSERT_EQ(::pwrite(fd, "end", 3, size - 3), 3);
    ::close(fd);
  }
  const std::string limited = "prlimit --data=" + std::to_string(48 << 20) +
                              " " + ZKFILER_BIN + " --db " + Quote(db_);
  const Outcome put =
      Shell(limited + " data put --host cs1 fs1 /big.bin --from " + Quote(big));
  ASSERT_EQ(put.status, 0) << put.output;
  const Outcome get =
      Shell(limited + " data get --host cs1 fs1 /big.bin > " + Quote(back));
  ASSERT_EQ(get.status, 0) << get.output;
  struct stat st;
  ASSERT_EQ(::stat(back.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, size);
  EXPECT_EQ(Shell("cmp " + Quote(big) + " " + Quote(back)).status, 0);
}

// Names print escaped: a newline cannot split a line of `data ls`, a
// right-to-left override cannot turn what follows it.
TEST_F(DataSafetyTest, DataLsEscapesControlsInNames) {
  Load();
  ASSERT_TRUE(zkfiler::PutData("cs1", "fs1", "/plain.txt", "p").ok());
  ASSERT_TRUE(
      zkfiler::PutData("cs1", "fs1", "/evil\n- 1 ok\xe2\x80\xaetxt.exe", "e")
          .ok());
  const Outcome ls = Zkfiler("data ls --host cs1 fs1 /");
  ASSERT_EQ(ls.status, 0) << ls.output;
  EXPECT_EQ(ls.output,
            "-            1 evil\\x0a- 1 ok\\u202etxt.exe\n"
            "-            1 plain.txt\n");
}

TEST(EscapeControlsTest, ControlsAndLayoutCharactersAreEscaped) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain name.txt", "plain name.txt"},
      {"back\\slash", "back\\slash"},
      {"a\nb\tc\x7f", "a\\x0ab\\x09c\\x7f"},
      {"\x1b[31mred", "\\x1b[31mred"},
      {"c1 \xc2\x9b", "c1 \\u009b"},
      {"rlo \xe2\x80\xae lro \xe2\x80\xad", "rlo \\u202e lro \\u202d"},
      {"\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac", "\\u202a\\u202b\\u202c"},
      {"\xe2\x81\xa6\xe2\x81\xa7\xe2\x81\xa8\xe2\x81\xa9",
       "\\u2066\\u2067\\u2068\\u2069"},
      {"\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "\\u200e\\u200f\\u061c"},
      {"ls\xe2\x80\xa8ps\xe2\x80\xa9", "ls\\u2028ps\\u2029"},
      {"kept: \xc3\xa9 \xe2\x80\x94 \xe2\x80\xaf \xe2\x81\xa5",
       "kept: \xc3\xa9 \xe2\x80\x94 \xe2\x80\xaf \xe2\x81\xa5"},
      {"cut \xe2\x80", "cut \xe2\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zkfiler::EscapeControls(c.in), c.out) << c.in;
  }
}

}  // namespace
}  // namespace zkfiler_test
