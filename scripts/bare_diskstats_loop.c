/* The yardstick for gleamo's cost on Linux: nothing but re-reading
 * /proc/diskstats every 150 ms. */
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

int main(void) {
  static char buffer[65536];
  const struct timespec interval = {0, 150 * 1000 * 1000};
  const int fd = open("/proc/diskstats", O_RDONLY);
  if (fd < 0) return 1;
  for (;;) {
    if (pread(fd, buffer, sizeof buffer, 0) < 0) return 1;
    nanosleep(&interval, NULL);
  }
}
