// SPDX-License-Identifier: Apache-2.0
// Helpers of the suites that run zkfiler and the test client as processes:
// a shell runner, file reading, and a fixture that owns a scratch folder
// with a state file path in it.
#ifndef ZK_TESTS_FILER_FILERPROCESSUTIL_H_
#define ZK_TESTS_FILER_FILERPROCESSUTIL_H_

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "filer/FilerSim.h"

namespace zkfiler_test {

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr
};

// Runs a shell command line and collects its output and exit status.
inline Outcome Shell(const std::string& command) {
  Outcome run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    run.output.append(buffer, n);
  }
  const int raw = ::pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

inline std::string Quote(const std::string& text) { return "'" + text + "'"; }

// The bytes of a file; "<missing>" when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Names in a folder, "." and ".." left out.
inline std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(d);
  }
  return names;
}

// A scratch folder per test, removed afterwards; db_ names a state file in
// it that does not exist yet.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info->name();
    for (char& ch : name) {
      if (ch == '/') ch = '_';
    }
    dir_ = ::testing::TempDir() + "filer_" + std::to_string(::getpid()) + "_" +
           name;
    ASSERT_EQ(
        Shell("rm -rf " + Quote(dir_) + " && mkdir -p " + Quote(dir_)).status,
        0);
    db_ = dir_ + "/state.db";
  }
  void TearDown() override {
    // Leave this process on a private store before the files go.
    ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
    Shell("chmod -R u+w " + Quote(dir_) + "; rm -rf " + Quote(dir_));
  }

  Outcome Zkfiler(const std::string& args) {
    return Shell(std::string(ZKFILER_BIN) + " --db " + Quote(db_) + " " + args);
  }

  std::string dir_;
  std::string db_;
};

}  // namespace zkfiler_test

#endif  // ZK_TESTS_FILER_FILERPROCESSUTIL_H_
