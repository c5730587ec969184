// SPDX-License-Identifier: Apache-2.0
// A small NFSv4 client for tests, on libnfs:
//   nfs_probe PORT EXPORT ls PATH         names in a directory, one a line
//   nfs_probe PORT EXPORT cat PATH        a file's bytes
//   nfs_probe PORT EXPORT write PATH TEXT creates a file holding TEXT
// against 127.0.0.1. Exit status: 0 done, 2 the export could not be
// mounted, 3 the operation was refused, 4 usage; the libnfs error on
// stderr.
#include <fcntl.h>
#include <nfsc/libnfs.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 5 || (std::strcmp(argv[3], "write") == 0 && argc < 6)) {
    std::fprintf(stderr,
                 "usage: nfs_probe PORT EXPORT ls|cat|write PATH [TEXT]\n");
    return 4;
  }
  const std::string op = argv[3];
  const std::string path = argv[4];
  nfs_context* nfs = nfs_init_context();
  if (nfs == nullptr) return 2;
  const std::string url = std::string("nfs://127.0.0.1") + argv[2] +
                          "?version=4&nfsport=" + argv[1];
  nfs_url* u = nfs_parse_url_dir(nfs, url.c_str());
  if (u == nullptr) {
    std::fprintf(stderr, "bad url %s: %s\n", url.c_str(), nfs_get_error(nfs));
    nfs_destroy_context(nfs);
    return 4;
  }
  int status = 0;
  if (nfs_mount(nfs, u->server, u->path) != 0) {
    std::fprintf(stderr, "mount %s: %s\n", argv[2], nfs_get_error(nfs));
    status = 2;
  } else if (op == "ls") {
    nfsdir* dir = nullptr;
    if (nfs_opendir(nfs, path.c_str(), &dir) != 0) {
      std::fprintf(stderr, "opendir %s: %s\n", path.c_str(),
                   nfs_get_error(nfs));
      status = 3;
    } else {
      while (nfsdirent* e = nfs_readdir(nfs, dir)) {
        if (std::strcmp(e->name, ".") != 0 && std::strcmp(e->name, "..") != 0) {
          std::printf("%s\n", e->name);
        }
      }
      nfs_closedir(nfs, dir);
    }
  } else if (op == "cat") {
    nfsfh* fh = nullptr;
    if (nfs_open(nfs, path.c_str(), O_RDONLY, &fh) != 0) {
      std::fprintf(stderr, "open %s: %s\n", path.c_str(), nfs_get_error(nfs));
      status = 3;
    } else {
      char buf[65536];
      for (;;) {
        const int n = nfs_read(nfs, fh, sizeof buf, buf);
        if (n < 0) {
          std::fprintf(stderr, "read %s: %s\n", path.c_str(),
                       nfs_get_error(nfs));
          status = 3;
          break;
        }
        if (n == 0) break;
        std::fwrite(buf, 1, static_cast<size_t>(n), stdout);
      }
      nfs_close(nfs, fh);
    }
  } else if (op == "write") {
    nfsfh* fh = nullptr;
    const std::string text = argv[5];
    if (nfs_create(nfs, path.c_str(), O_WRONLY, 0644, &fh) != 0) {
      std::fprintf(stderr, "create %s: %s\n", path.c_str(), nfs_get_error(nfs));
      status = 3;
    } else {
      if (nfs_write(nfs, fh, text.size(), text.data()) !=
          static_cast<int>(text.size())) {
        std::fprintf(stderr, "write %s: %s\n", path.c_str(),
                     nfs_get_error(nfs));
        status = 3;
      }
      nfs_close(nfs, fh);
    }
  } else {
    status = 4;
  }
  nfs_destroy_url(u);
  nfs_destroy_context(nfs);
  return status;
}
