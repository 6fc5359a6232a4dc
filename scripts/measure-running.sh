#!/usr/bin/env bash
# What polling disk activity costs while it runs, from the kernel's own
# accounting: CPU time (/proc/PID/schedstat in nanoseconds, and utime+stime
# of /proc/PID/stat in clock ticks) and peak resident memory (VmHWM of
# /proc/PID/status), for programs running side by side over the same window:
#   - the floor: a bare C loop re-reading /proc/diskstats every 150 ms
#     (bench/diskstats_poll_loop.c);
#   - conky showing disk reads and writes at the same interval;
#   - gleamo's Linux edition, given its command line with --gleamo.
#   scripts/measure-running.sh [--seconds N] [--gleamo "COMMAND ARGS"]   (default 60 s)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
gleamo_command=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --gleamo) gleamo_command=$2; shift 2 ;;
    *) echo "usage: scripts/measure-running.sh [--seconds N] [--gleamo \"COMMAND ARGS\"]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target diskstats_poll_loop >/dev/null

work=$(mktemp -d)
pids=()
names=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start() {  # start NAME COMMAND...
  names+=("$1")
  shift
  "$@" >/dev/null 2>"$work/${#names[@]}.err" &
  pids+=($!)
}

cat >"$work/conky.conf" <<'CONF'
conky.config = { out_to_console = true, update_interval = 0.15 }
conky.text = [[${diskio_read} ${diskio_write}]]
CONF

start "bare C loop, 150 ms" build/native/bench/diskstats_poll_loop 150
start "$(conky --version | head -n1 | cut -d' ' -f1-2), 0.15 s" conky -c "$work/conky.conf"
if [ -n "$gleamo_command" ]; then
  # shellcheck disable=SC2086  # the command line is split as the shell would
  start "gleamo: $gleamo_command" $gleamo_command
fi

cpu_ns() { cut -d' ' -f1 "/proc/$1/schedstat"; }
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }  # utime, stime

sleep 2  # past start-up: the window measures the steady beat
declare -a ns0 ticks0
for i in "${!pids[@]}"; do
  ns0[i]=$(cpu_ns "${pids[i]}")
  ticks0[i]=$(cpu_ticks "${pids[i]}")
done
sleep "$seconds"

tick_hz=$(getconf CLK_TCK)
model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
echo "machine: $(nproc) cores, ${model:-unknown CPU}, Debian $(cat /etc/debian_version), Linux $(uname -r)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); window: $seconds s, all programs at once"
printf '%-34s %12s %10s %12s %10s %14s\n' program "CPU ms" "% of core" "stat ticks" "x floor" "VmHWM"
floor_ns=""
for i in "${!pids[@]}"; do
  pid=${pids[i]}
  if ! kill -0 "$pid" 2>/dev/null; then
    printf '%-34s ended early: %s\n' "${names[i]}" "$(head -c 200 "$work/$((i + 1)).err")"
    continue
  fi
  ns=$(($(cpu_ns "$pid") - ns0[i]))
  ticks=$(($(cpu_ticks "$pid") - ticks0[i]))
  hwm=$(sed -n 's/^VmHWM:[[:space:]]*//p' "/proc/$pid/status")
  [ -n "$floor_ns" ] || floor_ns=$ns
  awk -v name="${names[i]}" -v ns="$ns" -v s="$seconds" -v t="$ticks" -v hz="$tick_hz" -v f="$floor_ns" -v hwm="$hwm" \
    'BEGIN { printf "%-34s %12.1f %9.3f%% %7d/%-4d %10.1f %14s\n", name, ns / 1e6, ns / 1e7 / s, t, hz, (f > 0 ? ns / f : 0), hwm }'
done
[ -n "$gleamo_command" ] || echo "(gleamo's Linux edition not measured: pass --gleamo \"COMMAND ARGS\")"
