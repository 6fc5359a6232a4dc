#!/usr/bin/env bash
# Measures what the Linux edition costs: resident memory (VmHWM) and CPU
# time of gleamo at the 150 ms tick over a stretch of time, beside a bare C
# loop that re-reads /proc/diskstats every 150 ms, all in the same run.
#   scripts/measure_linux.sh [SECONDS]      (default 60)
# gleamo runs twice: with standard output on /dev/null (as the desktop entry
# starts it; no counter lines are formatted) and into a pipe (every counter
# line formatted and written). A stand-in tray watcher takes its
# registration, on a private session bus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset native >/dev/null
cmake --build --preset native --target gleamo >/dev/null
mkdir -p build/native/measure
cc -O2 -o build/native/measure/bare_diskstats_loop scripts/bare_diskstats_loop.c

# CPU time in ms: the scheduler's nanoseconds where the kernel keeps them,
# otherwise user + system clock ticks.
cpu_ms() {
  if [ -r "/proc/$1/schedstat" ]; then
    awk '{ printf "%.1f", $1 / 1e6 }' "/proc/$1/schedstat"
  else
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.1f", ($14 + $15) * 1000 / hz }' "/proc/$1/stat"
  fi
}
kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

export -f cpu_ms kib
export seconds
dbus-run-session -- bash -c '
  python3=/usr/bin/python3; [ -x "$python3" ] || python3=python3
  "$python3" tests/tray/dbus_fixtures.py watcher >/dev/null &
  watcher=$!
  sleep 1
  build/native/measure/bare_diskstats_loop & bare=$!
  build/native/gleamo -f >/dev/null 2>/dev/null & quiet=$!
  build/native/gleamo -f 2>/dev/null > >(cat >/dev/null) & chatty=$!
  sleep "$seconds"
  printf "%-34s %10s %10s %12s\n" "process (${seconds} s, 150 ms tick)" "VmHWM kB" "VmRSS kB" "CPU ms"
  for entry in "bare C loop:$bare" "gleamo -f, stdout /dev/null:$quiet" "gleamo -f, counter lines to a pipe:$chatty"; do
    name=${entry%:*}; pid=${entry##*:}
    printf "%-34s %10s %10s %12s\n" "$name" "$(kib "$pid" VmHWM)" "$(kib "$pid" VmRSS)" "$(cpu_ms "$pid")"
  done
  kill "$bare" "$quiet" "$chatty" "$watcher"
  wait 2>/dev/null || true
'
