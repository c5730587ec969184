// SPDX-License-Identifier: Apache-2.0
#include "filerdata/FilerTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

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

[[noreturn]] void Fail(const std::string& what, const std::string& path,
                       int err) {
  ThrowDataError(what, path, err);
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

int OpenDirAt(int dir, const std::string& name) {
  return ::openat(dir, name.c_str(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// A directory being copied: its source and copy, and the names still to go.
struct CopyLevel {
  Fd src;
  Fd dst;
  struct stat st;  // of the source, given to the copy once it is filled
  std::vector<std::string> names;
  size_t next = 0;
  size_t shown_size = 0;  // of the shown path up to this level
};

// Copies one entry `name` of `level`; a directory is pushed on `levels`.
void CopyEntry(std::vector<CopyLevel>* levels, const std::string& name,
               std::string* shown) {
  CopyLevel& at = levels->back();
  struct stat st;
  if (::fstatat(at.src.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail("cannot read", *shown, errno);
  }
  if (S_ISDIR(st.st_mode)) {
    if (::mkdirat(at.dst.fd, name.c_str(), 0700) != 0) {
      Fail("cannot make", *shown, errno);
    }
    CopyLevel next{Fd(OpenDirAt(at.src.fd, name)),
                   Fd(OpenDirAt(at.dst.fd, name)),
                   st,
                   {},
                   0,
                   shown->size()};
    if (next.src.fd < 0 || next.dst.fd < 0) Fail("cannot open", *shown, errno);
    next.names = NamesIn(next.src.fd, *shown);
    levels->push_back(std::move(next));
  } else if (S_ISREG(st.st_mode)) {
    Fd in(::openat(at.src.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.fd < 0) Fail("cannot open", *shown, errno);
    Fd out(::openat(at.dst.fd, name.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600));
    if (out.fd < 0) Fail("cannot make", *shown, errno);
    CopyBytes(in.fd, out.fd, *shown, st.st_size);
    ApplyAttributes(out.fd, st, *shown);
    g_files++;
    g_bytes += st.st_size;
  } else if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t n =
        ::readlinkat(at.src.fd, name.c_str(), &target[0], target.size());
    if (n < 0) Fail("cannot read", *shown, errno);
    target.resize(static_cast<size_t>(n));
    if (::symlinkat(target.c_str(), at.dst.fd, name.c_str()) != 0) {
      Fail("cannot make", *shown, errno);
    }
    // A link's mode means nothing; its owner and times are kept.
    ::fchownat(at.dst.fd, name.c_str(), st.st_uid, st.st_gid,
               AT_SYMLINK_NOFOLLOW);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(at.dst.fd, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  // Devices, pipes and sockets are not file system data: not copied.
}

// Copies what the directory `src` holds into the empty directory `dst`,
// then gives `dst` the attributes `st`. Iterative: two descriptors per
// level of depth, no recursion.
void CopyContents(int src, int dst, const struct stat& st,
                  const std::string& shown_root) {
  std::string shown = shown_root;
  std::vector<CopyLevel> levels;
  CopyLevel root{Fd(::dup(src)), Fd(::dup(dst)), st, {}, 0, shown.size()};
  if (root.src.fd < 0 || root.dst.fd < 0) Fail("cannot open", shown, errno);
  root.names = NamesIn(root.src.fd, shown);
  levels.push_back(std::move(root));
  while (!levels.empty()) {
    CopyLevel& at = levels.back();
    shown.resize(at.shown_size);
    if (at.next == at.names.size()) {
      ApplyAttributes(at.dst.fd, at.st, shown);
      levels.pop_back();
      continue;
    }
    const std::string name = at.names[at.next++];
    shown += "/" + name;
    CopyEntry(&levels, name, &shown);
  }
}

bool IsDir(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Base(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

void ThrowDataError(const std::string& what, const std::string& path, int err) {
  throw DataError(
      "file server data: " + what + " '" + path + "': " + std::strerror(err),
      err);
}

// The names in the directory `dir` but "." and "..".
std::vector<std::string> NamesIn(int dir, const std::string& shown) {
  const int dup = ::dup(dir);
  if (dup < 0) Fail("cannot read", shown, errno);
  DIR* d = ::fdopendir(dup);
  if (d == nullptr) {
    const int err = errno;
    ::close(dup);
    Fail("cannot read", shown, err);
  }
  ::rewinddir(d);
  std::vector<std::string> names;
  errno = 0;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int err = errno;
  ::closedir(d);
  if (err != 0) Fail("cannot read", shown, err);
  return names;
}

// Gives the file or directory `fd` (made by us, private) the owner, group,
// mode and times of `st`: the owner first, so a setuid or setgid bit is
// only ever set on a file owned as its source is; where the owner cannot
// be given, the copy stays ours without those bits.
void ApplyAttributes(int fd, const struct stat& st, const std::string& shown) {
  mode_t mode = st.st_mode & 07777;
  if (::fchown(fd, st.st_uid, st.st_gid) != 0) mode &= ~(S_ISUID | S_ISGID);
  if (::fchmod(fd, mode) != 0) Fail("cannot set the mode of", shown, errno);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(fd, times);
}

int OpenDir(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::string ParentDir(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

CopyCounters Counters() {
  return CopyCounters{g_files.load(), g_bytes.load(), g_cloned.load(),
                      g_offloaded.load()};
}

void CopyTree(const std::string& src, const std::string& dst) {
  if (::mkdir(dst.c_str(), 0700) != 0) Fail("cannot make", dst, errno);
  Fd out(::open(dst.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (out.fd < 0) Fail("cannot open", dst, errno);
  if (!IsDir(src)) {
    // Nothing to copy: an empty file system, open to its clients.
    if (::fchmod(out.fd, 0755) != 0) Fail("cannot make", dst, errno);
    return;
  }
  Fd in(::open(src.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (in.fd < 0) Fail("cannot open", src, errno);
  struct stat st;
  if (::fstat(in.fd, &st) != 0) Fail("cannot read", src, errno);
  CopyContents(in.fd, out.fd, st, src);
}

bool RemoveAt(int dir, const std::string& name) noexcept {
  // One level of the walk: the directory's identity (to check that ".."
  // leads back to it), its name in its parent, and its names still to go.
  struct Level {
    dev_t dev;
    ino_t ino;
    std::string name;
    std::vector<std::string> names;
    size_t next = 0;
  };
  try {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT;
    }
    if (!S_ISDIR(st.st_mode)) {
      return ::unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT;
    }
    struct stat top;
    if (::fstat(dir, &top) != 0) return false;
    std::vector<Level> levels;
    levels.push_back({top.st_dev, top.st_ino, "", {}, 0});
    Fd cur(OpenDirAt(dir, name));
    if (cur.fd < 0 || ::fstat(cur.fd, &st) != 0) return false;
    levels.push_back({st.st_dev, st.st_ino, name, NamesIn(cur.fd, name), 0});
    for (;;) {
      Level& at = levels.back();
      if (at.next < at.names.size()) {
        const std::string& entry = at.names[at.next++];
        struct stat est;
        if (::fstatat(cur.fd, entry.c_str(), &est, AT_SYMLINK_NOFOLLOW) != 0) {
          if (errno == ENOENT) continue;
          return false;
        }
        if (!S_ISDIR(est.st_mode)) {
          if (::unlinkat(cur.fd, entry.c_str(), 0) != 0 && errno != ENOENT) {
            return false;
          }
          continue;
        }
        if (::unlinkat(cur.fd, entry.c_str(), AT_REMOVEDIR) == 0) continue;
        Fd down(OpenDirAt(cur.fd, entry));
        if (down.fd < 0 || ::fstat(down.fd, &est) != 0) return false;
        Level next{est.st_dev, est.st_ino, entry, NamesIn(down.fd, entry), 0};
        levels.push_back(std::move(next));
        std::swap(cur.fd, down.fd);
        continue;
      }
      // Everything in it is gone: remove it from its parent.
      if (levels.size() == 2) {
        return ::unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0;
      }
      Fd up(::openat(cur.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      const Level& parent = levels[levels.size() - 2];
      if (up.fd < 0 || ::fstat(up.fd, &st) != 0 || st.st_dev != parent.dev ||
          st.st_ino != parent.ino) {
        return false;  // moved meanwhile: stop rather than remove elsewhere
      }
      if (::unlinkat(up.fd, at.name.c_str(), AT_REMOVEDIR) != 0) return false;
      levels.pop_back();
      std::swap(cur.fd, up.fd);
    }
  } catch (...) {
    return false;
  }
}

void RemoveTree(const std::string& path) noexcept {
  if (path.empty() || path == "/") return;
  Fd parent(
      ::open(ParentDir(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.fd >= 0) RemoveAt(parent.fd, Base(path));
}

void MakeDirs(const std::string& path, unsigned mode) {
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    const std::string sofar = path.substr(0, pos);
    if (sofar.empty()) continue;
    const bool last = pos == std::string::npos;
    if (::mkdir(sofar.c_str(), last ? mode : 0700) == 0) {
      if (last) ::chmod(sofar.c_str(), mode);  // whatever the umask
    } else if (errno != EEXIST) {
      Fail("cannot make", sofar, errno);
    }
  }
}

}  // namespace data
}  // namespace zkfiler
