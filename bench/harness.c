/* One timed run of a command, for bench/run.
 *
 *   harness STDERR_FILE PROGRAM [ARGUMENT]...
 *
 * Forks, sends the child's standard output to /dev/null and its standard error to STDERR_FILE,
 * execs PROGRAM (no search of PATH) with the inherited environment and waits for it with wait4.
 * Prints one line:
 *
 *   wall_ns user_us sys_us maxrss_kb status
 *
 * wall_ns runs from just before fork to just after wait4 returns. user_us, sys_us and maxrss_kb
 * come from the child's rusage (all its threads). status is the exit status, or 128 + the
 * signal number, or 127 when the exec failed. The harness stays small so that the fork copies
 * little and the child's peak resident size is its own. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static long long micros(struct timeval t) {
  return (long long)t.tv_sec * 1000000LL + t.tv_usec;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: harness STDERR_FILE PROGRAM [ARGUMENT]...\n");
    return 2;
  }
  int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  int errfile = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (devnull < 0 || errfile < 0) {
    perror("harness: open");
    return 2;
  }
  long long start = now_ns();
  pid_t child = fork();
  if (child < 0) {
    perror("harness: fork");
    return 2;
  }
  if (child == 0) {
    dup2(devnull, 1);
    dup2(errfile, 2);
    execv(argv[2], argv + 2);
    dprintf(2, "harness: cannot exec %s: %s\n", argv[2], strerror(errno));
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  pid_t got;
  do {
    got = wait4(child, &status, 0, &usage);
  } while (got < 0 && errno == EINTR);
  long long end = now_ns();
  if (got < 0) {
    perror("harness: wait4");
    return 2;
  }
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("%lld %lld %lld %ld %d\n", end - start, micros(usage.ru_utime), micros(usage.ru_stime),
         usage.ru_maxrss, code);
  return 0;
}
