// SPDX-License-Identifier: Apache-2.0
// Preloaded into an NFS client to choose its source address: every IPv4
// TCP socket it binds or connects is bound to the address in
// ZK_NFS_SOURCE_ADDR first, which must lie in 127.0.0.0/8 (any other is
// ignored). Lets a test act as several client hosts on one machine.
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

static int source_addr(struct in_addr* out) {
  const char* text = getenv("ZK_NFS_SOURCE_ADDR");
  if (text == NULL || inet_pton(AF_INET, text, out) != 1) return 0;
  return (ntohl(out->s_addr) >> 24) == 127;
}

typedef int (*bind_fn)(int, const struct sockaddr*, socklen_t);
typedef int (*connect_fn)(int, const struct sockaddr*, socklen_t);

int bind(int fd, const struct sockaddr* addr, socklen_t len) {
  bind_fn real = (bind_fn)dlsym(RTLD_NEXT, "bind");
  struct in_addr src;
  if (addr != NULL && addr->sa_family == AF_INET &&
      len >= sizeof(struct sockaddr_in) && source_addr(&src)) {
    struct sockaddr_in a;
    memcpy(&a, addr, sizeof a);
    a.sin_addr = src;
    return real(fd, (const struct sockaddr*)&a, sizeof a);
  }
  return real(fd, addr, len);
}

int connect(int fd, const struct sockaddr* addr, socklen_t len) {
  connect_fn real = (connect_fn)dlsym(RTLD_NEXT, "connect");
  struct in_addr src;
  if (addr != NULL && addr->sa_family == AF_INET && source_addr(&src)) {
    struct sockaddr_in bound;
    socklen_t blen = sizeof bound;
    if (getsockname(fd, (struct sockaddr*)&bound, &blen) == 0 &&
        bound.sin_family == AF_INET && bound.sin_port == 0) {
      struct sockaddr_in a;
      memset(&a, 0, sizeof a);
      a.sin_family = AF_INET;
      a.sin_addr = src;
      bind_fn real_bind = (bind_fn)dlsym(RTLD_NEXT, "bind");
      real_bind(fd, (const struct sockaddr*)&a, sizeof a);
    }
  }
  return real(fd, addr, len);
}
