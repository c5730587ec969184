// SPDX-License-Identifier: Apache-2.0
// Preloaded into a program to record the processes it waits on and
// signals: every kill() as "kill PID SIG" and every waitpid() as
// "wait PID -> RESULT", one line each, appended to the file named by
// ZK_PROC_TRACE. Lets a test check that a program never waits on or
// signals a child it has already reaped (its pid may name another process
// by then).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

static void trace(const char* line) {
  const char* file = getenv("ZK_PROC_TRACE");
  if (file == NULL) return;
  const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line, strlen(line));
  (void)ignored;
  close(fd);
}

typedef int (*kill_fn)(pid_t, int);
typedef pid_t (*waitpid_fn)(pid_t, int*, int);

int kill(pid_t pid, int sig) {
  char line[64];
  snprintf(line, sizeof line, "kill %d %d\n", (int)pid, sig);
  trace(line);
  kill_fn real = (kill_fn)dlsym(RTLD_NEXT, "kill");
  return real(pid, sig);
}

pid_t waitpid(pid_t pid, int* status, int options) {
  waitpid_fn real = (waitpid_fn)dlsym(RTLD_NEXT, "waitpid");
  const pid_t got = real(pid, status, options);
  char line[64];
  snprintf(line, sizeof line, "wait %d -> %d\n", (int)pid, (int)got);
  trace(line);
  return got;
}
