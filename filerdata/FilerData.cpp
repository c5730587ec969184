// SPDX-License-Identifier: Apache-2.0
#include "filerdata/FilerData.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

namespace zkfiler {
namespace data {

namespace {

std::atomic<int64_t> g_temp_seq{0};
thread_local DataChanges* t_active = nullptr;

[[noreturn]] void Fail(const std::string& what, const std::string& path,
                       int err) {
  ThrowDataError(what, path, err);
}

bool IsDir(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> Entries(const std::string& dir) {
  Fd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (d.fd < 0) return {};
  try {
    return NamesIn(d.fd, dir);
  } catch (const DataError&) {
    return {};
  }
}

// Keeps a directory of the data plane private to its owner.
void MakePrivate(const std::string& path) {
  Fd dir(OpenDir(path));
  struct stat st;
  if (dir.fd >= 0 && ::fstat(dir.fd, &st) == 0 &&
      (st.st_mode & 07777) != 0700) {
    ::fchmod(dir.fd, 0700);
  }
}

// Renames every entry of `from` into `to` (never replacing one), recording
// each name in `moved`. Throws DataError.
void MoveEntries(int from, int to, const std::string& shown,
                 std::vector<std::string>* moved) {
  for (const std::string& name : NamesIn(from, shown)) {
    if (::renameat2(from, name.c_str(), to, name.c_str(), RENAME_NOREPLACE) !=
        0) {
      Fail("cannot move", shown + "/" + name, errno);
    }
    moved->push_back(name);
  }
}

// Puts back what MoveEntries moved. Never throws.
void MoveBack(int from, int to, const std::vector<std::string>& moved) {
  for (const std::string& name : moved) {
    ::renameat2(from, name.c_str(), to, name.c_str(), RENAME_NOREPLACE);
  }
}

// A directory whose contents are being replaced in place: `old` receives
// its entries, `tmp` holds the copy whose entries move in.
struct Swap {
  std::string dst, tmp, old;
  bool made = false;  // `dst` was made for the copy
  bool have_before = false;
  struct stat before {};               // of `dst`, before
  std::vector<std::string> moved_out;  // from `dst` into `old`
  std::vector<std::string> moved_in;   // from `tmp` into `dst`
};

// Puts `dst` back exactly as it was. Never throws.
void UndoSwap(Swap& swap) noexcept {
  Fd d(OpenDir(swap.dst));
  Fd t(OpenDir(swap.tmp));
  Fd o(OpenDir(swap.old));
  if (d.fd >= 0 && t.fd >= 0) MoveBack(d.fd, t.fd, swap.moved_in);
  if (d.fd >= 0 && o.fd >= 0) MoveBack(o.fd, d.fd, swap.moved_out);
  swap.moved_in.clear();
  swap.moved_out.clear();
  if (d.fd >= 0 && swap.have_before) {
    ::fchown(d.fd, swap.before.st_uid, swap.before.st_gid);
    ::fchmod(d.fd, swap.before.st_mode & 07777);
    const timespec times[2] = {swap.before.st_atim, swap.before.st_mtim};
    ::futimens(d.fd, times);
  }
  RemoveTree(swap.tmp);
  RemoveTree(swap.old);
  if (swap.made) RemoveTree(swap.dst);
}

}  // namespace

std::string RootFor(const std::string& store_name) {
  if (store_name.empty() || store_name == ":memory:") return "";
  std::string path = store_name;
  if (path[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return "";
    path = std::string(cwd) + "/" + path;
  }
  return path + ".data";
}

std::string Escape(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char ch = static_cast<unsigned char>(name[i]);
    const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                       (ch >= '0' && ch <= '9') || ch == '_' || ch == '-' ||
                       (ch == '.' && i > 0);
    if (plain) {
      out += static_cast<char>(ch);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", ch);
      out += buf;
    }
  }
  return out.empty() ? "%" : out;
}

std::string HostDir(const std::string& root, const std::string& host) {
  return root + "/" + Escape(host);
}

std::string FsDir(const std::string& root, const std::string& host,
                  const std::string& fs_id) {
  return HostDir(root, host) + "/fs/" + Escape(fs_id);
}

std::string CheckpointDir(const std::string& root, const std::string& host,
                          const std::string& ckpt_id) {
  return HostDir(root, host) + "/ckpt/" + Escape(ckpt_id);
}

DataChanges::~DataChanges() {
  if (!done_) Undo();
}

std::string DataChanges::TempName(const std::string& beside) {
  // Beside the host directory's fs/ and ckpt/, so a rename stays on one
  // file system; Tidy() knows the prefix.
  const std::string host_dir = ParentDir(ParentDir(beside));
  MakeDirs(host_dir);
  return host_dir + "/.tmp-" + std::to_string(::getpid()) + "-" +
         std::to_string(++g_temp_seq);
}

void DataChanges::CreateCopy(const std::string& src, const std::string& dst) {
  const std::string tmp = TempName(dst);
  try {
    CopyTree(src, tmp);
    MakeDirs(ParentDir(dst));
    RemoveTree(dst);  // left by a process killed before its commit
    if (::rename(tmp.c_str(), dst.c_str()) != 0) {
      Fail("cannot rename into", dst, errno);
    }
  } catch (...) {
    RemoveTree(tmp);
    throw;
  }
  undo_.push_back([dst] { RemoveTree(dst); });
}

void DataChanges::ReplaceWithCopy(const std::string& dst,
                                  const std::string& src) {
  auto swap = std::make_shared<Swap>();
  swap->dst = dst;
  swap->tmp = TempName(dst);
  swap->old = TempName(dst);
  try {
    CopyTree(src, swap->tmp);
    MakeDirs(swap->old);
    MakeDirs(ParentDir(dst));
    swap->made = !IsDir(dst);
    if (swap->made) MakeDirs(dst, 0755);
    Fd d(OpenDir(dst));
    Fd t(OpenDir(swap->tmp));
    Fd o(OpenDir(swap->old));
    if (d.fd < 0) Fail("cannot open", dst, errno);
    if (t.fd < 0 || o.fd < 0) Fail("cannot open", swap->tmp, errno);
    struct stat copy;
    if (::fstat(t.fd, &copy) != 0) Fail("cannot read", swap->tmp, errno);
    // Its entries move out whatever mode the checkpoint's root has.
    ::fchmod(t.fd, 0700);
    if (::fstat(d.fd, &swap->before) != 0) Fail("cannot read", dst, errno);
    swap->have_before = true;
    MoveEntries(d.fd, o.fd, dst, &swap->moved_out);
    MoveEntries(t.fd, d.fd, swap->tmp, &swap->moved_in);
    ApplyAttributes(d.fd, copy, dst);
  } catch (...) {
    UndoSwap(*swap);
    throw;
  }
  undo_.push_back([swap] { UndoSwap(*swap); });
  finish_.push_back([swap] {
    RemoveTree(swap->tmp);
    RemoveTree(swap->old);
  });
}

void DataChanges::RemoveAfterCommit(const std::string& dir) {
  finish_.push_back([dir] { RemoveTree(dir); });
}

void DataChanges::Committed() noexcept {
  done_ = true;
  for (auto& fn : finish_) {
    try {
      fn();
    } catch (...) {
    }
  }
  undo_.clear();
  finish_.clear();
}

void DataChanges::Undo() noexcept {
  done_ = true;
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    try {
      (*it)();
    } catch (...) {
    }
  }
  undo_.clear();
  finish_.clear();
}

DataChanges* Active() { return t_active; }

ActiveScope::ActiveScope(DataChanges* changes) : previous_(t_active) {
  t_active = changes;
}

ActiveScope::~ActiveScope() { t_active = previous_; }

void Tidy(const std::vector<HostData>& held, const std::string& root,
          bool make_dirs) {
  if (root.empty() || (!make_dirs && !IsDir(root))) return;
  if (make_dirs) MakeDirs(root);
  // Also a data directory made before it was private.
  MakePrivate(root);
  std::set<std::string> hosts;
  for (const HostData& h : held) hosts.insert(Escape(h.host));
  for (const std::string& name : Entries(root)) {
    if (hosts.count(name) == 0) RemoveTree(root + "/" + name);
  }
  for (const HostData& h : held) {
    const std::string host_dir = HostDir(root, h.host);
    std::set<std::string> fs_ids, ckpt_ids;
    for (const std::string& id : h.fs_ids) fs_ids.insert(Escape(id));
    for (const std::string& id : h.ckpt_ids) ckpt_ids.insert(Escape(id));
    for (const std::string& name : Entries(host_dir)) {
      if (name != "fs" && name != "ckpt") RemoveTree(host_dir + "/" + name);
    }
    for (const std::string& name : Entries(host_dir + "/fs")) {
      if (fs_ids.count(name) == 0) RemoveTree(host_dir + "/fs/" + name);
    }
    for (const std::string& name : Entries(host_dir + "/ckpt")) {
      if (ckpt_ids.count(name) == 0) RemoveTree(host_dir + "/ckpt/" + name);
    }
    for (const char* sub : {"", "/fs", "/ckpt"}) MakePrivate(host_dir + sub);
    if (!make_dirs) continue;
    // What a file system or checkpoint holds is open to its NFS clients.
    for (const std::string& id : fs_ids) {
      MakeDirs(host_dir + "/fs/" + id, 0755);
    }
    for (const std::string& id : ckpt_ids) {
      MakeDirs(host_dir + "/ckpt/" + id, 0755);
    }
  }
}

}  // namespace data
}  // namespace zkfiler
