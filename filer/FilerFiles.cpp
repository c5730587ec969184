// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "filer/FilerRuntime.h"
#include "filer/FilerStore.h"
#include "filerdata/FilerData.h"

namespace zkfiler {
namespace {

using data::Fd;

struct Refused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Target {
  std::string host;
  std::string shown;  // "file system 'fs1'" or "checkpoint 'c1'"
  std::string dir;
  bool writable = false;
};

std::atomic<int64_t> g_put_seq{0};

// The data root, read before the store's lock is taken (REQUIRES: not held).
thread_local std::string t_root;

const std::string& Root() {
  const std::string& root = t_root;
  if (root.empty()) {
    throw Refused(
        "the in-memory store keeps no files: use a state file (--db)");
  }
  return root;
}

Target FindTarget(FilerStore& store, const std::string& host,
                  const std::string& fs) {
  const std::string& root = Root();
  std::vector<Target> found;
  for (const std::string& h : store.ServerHosts()) {
    if (!host.empty() && h != host) continue;
    for (const FileSystemDef& f : store.FileSystems(h)) {
      if (f.id == fs || f.name == fs) {
        found.push_back({h, "file system '" + f.name + "' of " + h,
                         data::FsDir(root, h, f.id), true});
      }
    }
    for (const CheckpointView& c : store.Checkpoints(h, "")) {
      if (c.id == fs || c.name == fs) {
        found.push_back({h, "checkpoint '" + c.name + "' of " + h,
                         data::CheckpointDir(root, h, c.id), c.writable});
      }
    }
  }
  ServerRow row;
  if (!host.empty() && !store.FindServer(host, &row)) {
    throw Refused("no file server with control host '" + host + "'");
  }
  if (found.empty()) {
    throw Refused("no file system or checkpoint '" + fs + "'" +
                  (host.empty() ? "" : " on " + host));
  }
  if (found.size() > 1) {
    throw Refused("'" + fs + "' names " + found[0].shown + " and " +
                  found[1].shown + ": give --host or the id");
  }
  return found[0];
}

std::vector<std::string> Components(const std::string& path) {
  if (path.empty() || path[0] != '/') {
    throw Refused("path '" + path + "' must start with '/'");
  }
  std::vector<std::string> parts;
  size_t start = 1;
  while (start <= path.size()) {
    const size_t slash = path.find('/', start);
    const std::string part = path.substr(
        start, slash == std::string::npos ? std::string::npos : slash - start);
    if (slash == std::string::npos && part.empty() && !parts.empty()) break;
    if (part == "." || part == ".." || (part.empty() && path.size() > 1)) {
      throw Refused("path '" + path +
                    "' holds an empty, '.' or '..' component");
    }
    if (!part.empty()) parts.push_back(part);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

// Gives a file or directory we made (private) its owner, then its mode.
void Hand(int fd, const PutOptions& options, mode_t mode,
          const std::string& path) {
  if ((options.uid >= 0 || options.gid >= 0) &&
      ::fchown(fd, static_cast<uid_t>(options.uid),
               static_cast<gid_t>(options.gid)) != 0) {
    throw Refused("cannot give '" + path + "' to owner " +
                  std::to_string(options.uid) + ":" +
                  std::to_string(options.gid) + ": " + std::strerror(errno));
  }
  if (::fchmod(fd, mode) != 0) {
    throw Refused("cannot set the mode of '" + path +
                  "': " + std::strerror(errno));
  }
}

// Opens the directory `parts[0..n)` below the target's directory, never
// following a symbolic link; makes missing ones when `options` is given
// (owned as the options say, mode 0755).
int OpenDir(const Target& t, const std::vector<std::string>& parts, size_t n,
            const PutOptions* options, const std::string& path) {
  if (options != nullptr) {
    try {
      data::MakeDirs(t.dir, 0755);
    } catch (const data::DataError& e) {
      throw Refused(e.what());
    }
  }
  int fd = ::open(t.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    throw Refused("cannot open the data of " + t.shown + " (" + t.dir +
                  "): " + std::strerror(errno));
  }
  for (size_t i = 0; i < n; ++i) {
    const char* name = parts[i].c_str();
    int next =
        ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && options != nullptr) {
      if (::mkdirat(fd, name, 0700) == 0) {
        next =
            ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next >= 0) {
          try {
            Hand(next, *options, 0755, path);
          } catch (...) {
            ::close(next);
            ::close(fd);
            throw;
          }
        }
      } else {
        next = -1;
      }
    }
    const int err = errno;
    struct stat st;
    const bool link = next < 0 &&
                      ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISLNK(st.st_mode);
    ::close(fd);
    if (next < 0) {
      if (err == ELOOP || link) {
        throw Refused("path '" + path + "' passes a symbolic link: refused");
      }
      throw Refused("path '" + path + "' of " + t.shown + ": " +
                    std::strerror(err));
    }
    fd = next;
  }
  return fd;
}

Status Run(const std::function<void(FilerStore&)>& fn, bool read_only) {
  t_root = data::RootFor(SelectedStoreName());
  std::string refused;
  Status s = WithStore(
      [&](FilerStore& store) {
        try {
          fn(store);
        } catch (const Refused& e) {
          refused = e.what();
        }
      },
      read_only);
  if (!refused.empty()) return Status::Error(refused);
  return s;
}

}  // namespace

std::string DataRoot() { return data::RootFor(SelectedStoreName()); }

Status PutData(const std::string& host, const std::string& fs,
               const std::string& path, const std::string& content,
               const PutOptions& options) {
  size_t off = 0;
  return PutDataFrom(
      host, fs, path,
      [&](char* buf, size_t size) -> int64_t {
        const size_t n = std::min(size, content.size() - off);
        std::memcpy(buf, content.data() + off, n);
        off += n;
        return static_cast<int64_t>(n);
      },
      options);
}

Status PutDataFrom(const std::string& host, const std::string& fs,
                   const std::string& path, const DataSource& source,
                   const PutOptions& options) {
  if ((options.mode & ~0777u) != 0) {
    return Status::Error("mode " + std::to_string(options.mode) +
                         " holds more than permission bits (0 to 0777)");
  }
  return Run(
      [&](FilerStore& store) {
        const Target t = FindTarget(store, host, fs);
        if (!t.writable) throw Refused(t.shown + " is read-only");
        const std::vector<std::string> parts = Components(path);
        if (parts.empty()) throw Refused("path '/' is a directory");
        Fd dir(OpenDir(t, parts, parts.size() - 1, &options, path));
        const std::string& name = parts.back();
        struct stat st;
        if (::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(st.st_mode)) {
          throw Refused("path '" + path + "' of " + t.shown +
                        " is not a regular file");
        }
        const std::string tmp = ".zkput-" + std::to_string(::getpid()) + "-" +
                                std::to_string(++g_put_seq);
        Fd out(::openat(dir.fd, tmp.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600));
        if (out.fd < 0) {
          throw Refused("cannot write '" + path + "': " + std::strerror(errno));
        }
        try {
          std::vector<char> buf(1 << 16);
          for (;;) {
            const int64_t got = source(buf.data(), buf.size());
            if (got == 0) break;
            if (got < 0) {
              throw Refused("cannot read the content for '" + path +
                            "': " + std::strerror(errno));
            }
            for (int64_t off = 0; off < got;) {
              const ssize_t n = ::write(out.fd, buf.data() + off,
                                        static_cast<size_t>(got - off));
              if (n < 0 && errno == EINTR) continue;
              if (n < 0) {
                throw Refused("cannot write '" + path +
                              "': " + std::strerror(errno));
              }
              off += n;
            }
          }
          Hand(out.fd, options, options.mode, path);
          if (::renameat(dir.fd, tmp.c_str(), dir.fd, name.c_str()) != 0) {
            throw Refused("cannot write '" + path +
                          "': " + std::strerror(errno));
          }
        } catch (...) {
          ::unlinkat(dir.fd, tmp.c_str(), 0);
          throw;
        }
      },
      /*read_only=*/false);
}

Status GetData(const std::string& host, const std::string& fs,
               const std::string& path, std::string* content) {
  content->clear();
  return GetDataTo(host, fs, path, [&](const char* data, size_t size) {
    content->append(data, size);
    return true;
  });
}

Status GetDataTo(const std::string& host, const std::string& fs,
                 const std::string& path, const DataSink& sink) {
  return Run(
      [&](FilerStore& store) {
        const Target t = FindTarget(store, host, fs);
        const std::vector<std::string> parts = Components(path);
        if (parts.empty()) throw Refused("path '/' is a directory");
        Fd dir(OpenDir(t, parts, parts.size() - 1, nullptr, path));
        Fd in(::openat(dir.fd, parts.back().c_str(),
                       O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (in.fd < 0) {
          if (errno == ELOOP) {
            throw Refused("path '" + path + "' is a symbolic link: refused");
          }
          throw Refused("'" + path + "' of " + t.shown + ": " +
                        std::strerror(errno));
        }
        if (::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
          throw Refused("'" + path + "' of " + t.shown +
                        " is not a regular file");
        }
        std::vector<char> buf(1 << 16);
        for (;;) {
          const ssize_t n = ::read(in.fd, buf.data(), buf.size());
          if (n == 0) break;
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) {
            throw Refused("cannot read '" + path +
                          "': " + std::strerror(errno));
          }
          if (!sink(buf.data(), static_cast<size_t>(n))) {
            throw Refused("cannot pass on what was read of '" + path + "'");
          }
        }
      },
      /*read_only=*/true);
}

Status ListData(const std::string& host, const std::string& fs,
                const std::string& path, std::vector<DataEntry>* out) {
  out->clear();
  return Run(
      [&](FilerStore& store) {
        const Target t = FindTarget(store, host, fs);
        const std::vector<std::string> parts = Components(path);
        if (!parts.empty()) {
          Fd parent(OpenDir(t, parts, parts.size() - 1, nullptr, path));
          struct stat st;
          if (::fstatat(parent.fd, parts.back().c_str(), &st,
                        AT_SYMLINK_NOFOLLOW) != 0) {
            throw Refused("'" + path + "' of " + t.shown + ": " +
                          std::strerror(errno));
          }
          if (!S_ISDIR(st.st_mode)) {
            out->push_back({parts.back(), false, S_ISLNK(st.st_mode),
                            static_cast<int64_t>(st.st_size)});
            return;
          }
        }
        Fd dir(OpenDir(t, parts, parts.size(), nullptr, path));
        DIR* d = ::fdopendir(::dup(dir.fd));
        if (d == nullptr) throw Refused("cannot list '" + path + "'");
        while (dirent* e = ::readdir(d)) {
          const std::string name = e->d_name;
          if (name == "." || name == "..") continue;
          struct stat st;
          if (::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
          }
          out->push_back({name, S_ISDIR(st.st_mode) != 0,
                          S_ISLNK(st.st_mode) != 0,
                          static_cast<int64_t>(st.st_size)});
        }
        ::closedir(d);
        std::sort(out->begin(), out->end(),
                  [](const DataEntry& a, const DataEntry& b) {
                    return a.name < b.name;
                  });
      },
      /*read_only=*/true);
}

Status RemoveData(const std::string& host, const std::string& fs,
                  const std::string& path) {
  return Run(
      [&](FilerStore& store) {
        const Target t = FindTarget(store, host, fs);
        if (!t.writable) throw Refused(t.shown + " is read-only");
        const std::vector<std::string> parts = Components(path);
        if (parts.empty()) throw Refused("refusing to remove '/'");
        Fd dir(OpenDir(t, parts, parts.size() - 1, nullptr, path));
        const std::string& name = parts.back();
        struct stat st;
        if (::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
          throw Refused("'" + path + "' of " + t.shown + ": " +
                        std::strerror(errno));
        }
        if (!S_ISDIR(st.st_mode)) {
          if (::unlinkat(dir.fd, name.c_str(), 0) != 0) {
            throw Refused("cannot remove '" + path +
                          "': " + std::strerror(errno));
          }
          return;
        }
        // A directory: moved aside in one rename, then removed.
        const std::string aside = ".zkrm-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(++g_put_seq);
        if (::renameat(dir.fd, name.c_str(), dir.fd, aside.c_str()) != 0) {
          throw Refused("cannot remove '" + path +
                        "': " + std::strerror(errno));
        }
        if (!data::RemoveAt(dir.fd, aside)) {
          throw Refused("'" + path + "' was moved aside as '" + aside +
                        "' but could not be removed whole");
        }
      },
      /*read_only=*/false);
}

std::string StateFileExports::DataRoot(std::string* why) {
  const std::string root = zkfiler::DataRoot();
  if (root.empty()) *why = "needs a state file (--db or ZK_FILER_DB)";
  return root;
}

std::string StateFileExports::RunDirBase() {
  // The state file's own (absolute) path.
  const std::string root = zkfiler::DataRoot();
  return root.substr(0, root.size() - std::strlen(".data"));
}

bool StateFileExports::Exports(std::vector<ServedExport>* out,
                               std::string* why) {
  out->clear();
  const Status status = Run(
      [&](FilerStore& store) {
        const std::string& root = Root();
        for (const ExportView& e : store.Exports("")) {
          ServedExport s;
          s.control_host = e.control_host;
          s.mover_id = e.mover_id;
          s.path = e.path;
          s.access_hosts = e.access_hosts;
          s.rw_hosts = e.rw_hosts;
          s.root_hosts = e.root_hosts;
          std::string mount;
          FileSystemDef fs;
          CheckpointView c;
          if (store.FindFileSystem(e.control_host, e.fs_id, &fs)) {
            mount = fs.on_vdm ? "/root_vdm_" + fs.mover_id + fs.mount_path
                              : fs.mount_path;
            s.dir = data::FsDir(root, e.control_host, fs.id);
          } else if (store.FindCheckpoint(e.control_host, e.fs_id, &c)) {
            mount = "/" + c.name;
            s.dir = data::CheckpointDir(root, e.control_host, c.id);
          } else {
            continue;  // nothing holds it
          }
          if (e.path.size() > mount.size() &&
              e.path.compare(0, mount.size(), mount) == 0) {
            s.dir += e.path.substr(mount.size());
          }
          out->push_back(std::move(s));
        }
      },
      /*read_only=*/true);
  if (!status.ok()) *why = status.message();
  return status.ok();
}

}  // namespace zkfiler
