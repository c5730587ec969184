// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerData.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "filer/FilerStore.h"

namespace zkfiler {
namespace data {

Fd::~Fd() {
  if (fd >= 0) ::close(fd);
}

namespace {

std::atomic<int64_t> g_files{0};
std::atomic<int64_t> g_bytes{0};
std::atomic<int64_t> g_cloned{0};
std::atomic<int64_t> g_offloaded{0};
std::atomic<int64_t> g_temp_seq{0};
thread_local DataChanges* t_active = nullptr;

[[noreturn]] void Fail(const std::string& what, const std::string& path,
                       int err) {
  throw std::runtime_error("file server data: " + what + " '" + path +
                           "': " + std::strerror(err));
}

void CopyBytes(int in, int out, const std::string& path, int64_t size) {
  if (size == 0) return;
  if (::ioctl(out, FICLONE, in) == 0) {
    g_cloned += size;
    return;
  }
  int64_t left = size;
  bool offload = true;
  while (left > 0 && offload) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr,
                                        static_cast<size_t>(left), 0);
    if (n > 0) {
      left -= n;
      g_offloaded += n;
    } else if (n == 0) {
      break;  // the source shrank
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
               errno == EOPNOTSUPP) {
      offload = false;
    } else {
      Fail("cannot copy", path, errno);
    }
  }
  if (left == 0 || offload) return;
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("cannot read", path, errno);
    }
    for (ssize_t off = 0; off < n;) {
      const ssize_t w = ::write(out, buf + off, static_cast<size_t>(n - off));
      if (w < 0) {
        if (errno == EINTR) continue;
        Fail("cannot write", path, errno);
      }
      off += w;
    }
  }
}

void CopyAt(int src_dir, int dst_dir, const std::string& name,
            const std::string& shown);

void CopyDirContents(int src, int dst, const std::string& shown) {
  const int dup = ::dup(src);
  if (dup < 0) Fail("cannot read", shown, errno);
  DIR* dir = ::fdopendir(dup);
  if (dir == nullptr) {
    ::close(dup);
    Fail("cannot read", shown, errno);
  }
  std::vector<std::string> names;
  errno = 0;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    CopyAt(src, dst, name, shown + "/" + name);
  }
}

void CopyAt(int src_dir, int dst_dir, const std::string& name,
            const std::string& shown) {
  struct stat st;
  if (::fstatat(src_dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail("cannot read", shown, errno);
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (S_ISDIR(st.st_mode)) {
    if (::mkdirat(dst_dir, name.c_str(), 0700) != 0) {
      Fail("cannot make", shown, errno);
    }
    Fd in(::openat(src_dir, name.c_str(),
                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Fd out(::openat(dst_dir, name.c_str(),
                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (in.fd < 0 || out.fd < 0) Fail("cannot open", shown, errno);
    CopyDirContents(in.fd, out.fd, shown);
    ::fchmod(out.fd, st.st_mode & 07777);
    ::futimens(out.fd, times);
  } else if (S_ISREG(st.st_mode)) {
    Fd in(::openat(src_dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.fd < 0) Fail("cannot open", shown, errno);
    Fd out(::openat(dst_dir, name.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600));
    if (out.fd < 0) Fail("cannot make", shown, errno);
    CopyBytes(in.fd, out.fd, shown, st.st_size);
    ::fchmod(out.fd, st.st_mode & 07777);
    ::futimens(out.fd, times);
    g_files++;
    g_bytes += st.st_size;
  } else if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t n =
        ::readlinkat(src_dir, name.c_str(), &target[0], target.size());
    if (n < 0) Fail("cannot read", shown, errno);
    target.resize(static_cast<size_t>(n));
    if (::symlinkat(target.c_str(), dst_dir, name.c_str()) != 0) {
      Fail("cannot make", shown, errno);
    }
  }
  // Devices, pipes and sockets are not file system data: not copied.
}

bool IsDir(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeDirs(const std::string& path) {
  std::string sofar;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    sofar = path.substr(0, pos);
    if (sofar.empty()) continue;
    if (::mkdir(sofar.c_str(), 0755) != 0 && errno != EEXIST) {
      Fail("cannot make", sofar, errno);
    }
  }
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return names;
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
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

CopyCounters Counters() {
  return CopyCounters{g_files.load(), g_bytes.load(), g_cloned.load(),
                      g_offloaded.load()};
}

void CopyTree(const std::string& src, const std::string& dst) {
  if (::mkdir(dst.c_str(), 0755) != 0) Fail("cannot make", dst, errno);
  if (!IsDir(src)) return;
  Fd in(::open(src.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  Fd out(::open(dst.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (in.fd < 0) Fail("cannot open", src, errno);
  if (out.fd < 0) Fail("cannot open", dst, errno);
  CopyDirContents(in.fd, out.fd, src);
  struct stat st;
  if (::fstat(in.fd, &st) == 0) ::fchmod(out.fd, st.st_mode & 07777);
}

void RemoveTree(const std::string& path) noexcept {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    for (const std::string& name : Entries(path)) {
      RemoveTree(path + "/" + name);
    }
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

DataChanges::~DataChanges() {
  if (!done_) Undo();
}

std::string DataChanges::TempName(const std::string& beside) {
  // Beside the host directory's fs/ and ckpt/, so a rename stays on one
  // file system; Tidy() knows the prefix.
  const std::string host_dir = Parent(Parent(beside));
  MakeDirs(host_dir);
  return host_dir + "/.tmp-" + std::to_string(::getpid()) + "-" +
         std::to_string(++g_temp_seq);
}

void DataChanges::CreateCopy(const std::string& src, const std::string& dst) {
  const std::string tmp = TempName(dst);
  try {
    CopyTree(src, tmp);
    MakeDirs(Parent(dst));
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
  const std::string tmp = TempName(dst);
  bool made = false;
  try {
    CopyTree(src, tmp);
    MakeDirs(Parent(dst));
    made = !IsDir(dst);
    if (made && ::mkdir(dst.c_str(), 0755) != 0) {
      Fail("cannot make", dst, errno);
    }
    // One atomic exchange: a reader sees the old tree or the new one.
    if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, dst.c_str(),
                    RENAME_EXCHANGE) != 0) {
      Fail("cannot exchange", dst, errno);
    }
  } catch (...) {
    RemoveTree(tmp);
    throw;
  }
  undo_.push_back([tmp, dst, made] {
    ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, dst.c_str(), RENAME_EXCHANGE);
    RemoveTree(tmp);
    if (made) RemoveTree(dst);  // the empty directory made for the exchange
  });
  finish_.push_back([tmp] { RemoveTree(tmp); });
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

void Tidy(FilerStore& store, const std::string& root, bool make_dirs) {
  if (root.empty() || (!make_dirs && !IsDir(root))) return;
  std::set<std::string> hosts;
  for (const std::string& host : store.ServerHosts()) {
    hosts.insert(Escape(host));
  }
  for (const std::string& name : Entries(root)) {
    if (hosts.count(name) == 0) RemoveTree(root + "/" + name);
  }
  for (const std::string& host : store.ServerHosts()) {
    const std::string host_dir = HostDir(root, host);
    std::set<std::string> fs_ids, ckpt_ids;
    for (const FileSystemDef& fs : store.FileSystems(host)) {
      fs_ids.insert(Escape(fs.id));
    }
    for (const CheckpointView& c : store.Checkpoints(host, "")) {
      ckpt_ids.insert(Escape(c.id));
    }
    for (const std::string& name : Entries(host_dir)) {
      if (name != "fs" && name != "ckpt") RemoveTree(host_dir + "/" + name);
    }
    for (const std::string& name : Entries(host_dir + "/fs")) {
      if (fs_ids.count(name) == 0) RemoveTree(host_dir + "/fs/" + name);
    }
    for (const std::string& name : Entries(host_dir + "/ckpt")) {
      if (ckpt_ids.count(name) == 0) RemoveTree(host_dir + "/ckpt/" + name);
    }
    if (!make_dirs) continue;
    for (const std::string& id : fs_ids) MakeDirs(host_dir + "/fs/" + id);
    for (const std::string& id : ckpt_ids) MakeDirs(host_dir + "/ckpt/" + id);
  }
}

}  // namespace data
}  // namespace zkfiler
