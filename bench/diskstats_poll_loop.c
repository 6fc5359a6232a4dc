/* The least any disk lamp on Linux can do: re-read /proc/diskstats every
 * INTERVAL_MS milliseconds, and nothing else. scripts/measure-running.sh runs
 * it beside the real programs, as the floor of their running cost.
 *   diskstats_poll_loop [INTERVAL_MS]     (default 150) */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  const long interval = argc > 1 ? atol(argv[1]) : 150;
  if (interval <= 0) {
    fprintf(stderr, "usage: diskstats_poll_loop [INTERVAL_MS]\n");
    return 2;
  }
  const int fd = open("/proc/diskstats", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    perror("/proc/diskstats");
    return 1;
  }
  static char buffer[65536];
  struct timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (;;) {
    /* One read from the start, as gleamo makes it: a proc file is generated
     * whole on each read, and one shorter than the buffer is its end. */
    while (pread(fd, buffer, sizeof buffer, 0) < 0 && errno == EINTR) {
    }
    /* On a steady beat, however long the read took. */
    next.tv_nsec += interval * 1000000L;
    next.tv_sec += next.tv_nsec / 1000000000L;
    next.tv_nsec %= 1000000000L;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL) == EINTR) {
    }
  }
}
