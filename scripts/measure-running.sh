#!/usr/bin/env bash
# What polling disk activity costs while it runs, from the kernel's own
# accounting: CPU time (/proc/PID/schedstat in nanoseconds; utime + stime of
# /proc/PID/stat in clock ticks where the kernel keeps no schedstat) and
# peak resident memory (VmHWM of /proc/PID/status), for three programs
# running side by side over the same window, all at a 150 ms interval:
#   - the floor: a bare C loop re-reading /proc/diskstats (bench/diskstats_poll_loop.c);
#   - conky printing disk reads and writes to its console;
#   - gleamo's Linux edition with -f, standard output on /dev/null as its
#     desktop entry starts it, its icon registered with a stand-in tray
#     watcher on a private session bus (tests/linux/support/dbus_fixtures.py);
#   - the same gleamo in the XEmbed mode: docked in a real X tray (trayer)
#     on a private Xvfb, with a second private session bus and no watcher.
#   scripts/measure-running.sh [--seconds N] [--gleamo "COMMAND ARGS"]
# (default: 60 s, build/native/gleamo -f)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
gleamo_command="build/native/gleamo -f"
inside=no
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --gleamo) gleamo_command=$2; shift 2 ;;
    --inside-session) inside=yes; shift ;;
    *) echo "usage: scripts/measure-running.sh [--seconds N] [--gleamo \"COMMAND ARGS\"]" >&2; exit 2 ;;
  esac
done

if [ "$inside" = no ]; then
  scripts/setup.sh >/dev/null
  cmake --preset native >/dev/null
  cmake --build --preset native --target gleamo diskstats_poll_loop >/dev/null
  # The item's gleamo must find the watcher, not an X tray of the caller's.
  unset DISPLAY
  # A private session bus: the measurement neither needs nor disturbs a desktop.
  exec dbus-run-session -- "$0" --inside-session --seconds "$seconds" --gleamo "$gleamo_command"
fi

work=$(mktemp -d)
pids=()
names=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for helper in ${watcher:-} ${tray:-} ${xvfb:-} ${bare_bus:-}; do kill "$helper" 2>/dev/null || true; done
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

# Debian's python3-dbus belongs to the system's interpreter.
python3=/usr/bin/python3
[ -x "$python3" ] || python3=python3
"$python3" tests/linux/support/dbus_fixtures.py watcher >"$work/watcher.out" 2>&1 &
watcher=$!
sleep 1

cat >"$work/conky.conf" <<'CONF'
conky.config = { out_to_console = true, update_interval = 0.15 }
conky.text = [[${diskio_read} ${diskio_write}]]
CONF

start "bare C loop" build/native/bench/diskstats_poll_loop 150
# An X display with a tray, and a session bus where no watcher runs, for
# the XEmbed gleamo.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb=$!
dbus-daemon --session --nofork --print-address=4 4>"$work/bus" 2>/dev/null &
bare_bus=$!
for _ in $(seq 100); do [ -s "$work/display" ] && [ -s "$work/bus" ] && break; sleep 0.05; done
display=":$(head -n1 "$work/display")"
DISPLAY=$display trayer --edge bottom --widthtype pixel --width 100 >/dev/null 2>&1 &
tray=$!
sleep 1

start "$(conky --version | head -n1 | cut -d' ' -f1-2)" conky -c "$work/conky.conf"
# shellcheck disable=SC2086  # the command line is split as the shell would
start "gleamo ${gleamo_command#build/native/gleamo }" $gleamo_command
# shellcheck disable=SC2086
start "gleamo ${gleamo_command#build/native/gleamo } XEmbed" \
  env DISPLAY="$display" DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$work/bus")" $gleamo_command

cpu_ns() {
  if [ -r "/proc/$1/schedstat" ]; then
    cut -d' ' -f1 "/proc/$1/schedstat"
  else
    sed 's/.*) //' "/proc/$1/stat" | awk -v hz="$(getconf CLK_TCK)" '{ printf "%.0f", ($12 + $13) * 1e9 / hz }'
  fi
}
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }  # utime + stime
status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

sleep 2  # past start-up: the window measures the steady beat
declare -a ns0 ticks0
for i in "${!pids[@]}"; do
  ns0[i]=$(cpu_ns "${pids[i]}")
  ticks0[i]=$(cpu_ticks "${pids[i]}")
done
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
sleep "$seconds"

model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
echo "machine: $(nproc) cores, ${model:-unknown CPU}, Debian $(cat /etc/debian_version), Linux $(uname -r)"
echo "load average at the start: $load_at_start, at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "window: $seconds s, all programs at once, 150 ms interval"
printf '%-22s %10s %10s %11s %9s %10s %10s\n' program "CPU ms" "% of core" "stat ticks" "x floor" "VmHWM kB" "VmRSS kB"
floor_ns=""
status=0
for i in "${!pids[@]}"; do
  pid=${pids[i]}
  if ! kill -0 "$pid" 2>/dev/null; then
    printf '%-22s ended early: %s\n' "${names[i]}" "$(head -c 300 "$work/$((i + 1)).err")"
    status=1
    continue
  fi
  ns=$(($(cpu_ns "$pid") - ns0[i]))
  ticks=$(($(cpu_ticks "$pid") - ticks0[i]))
  [ -n "$floor_ns" ] || floor_ns=$ns
  awk -v name="${names[i]}" -v ns="$ns" -v s="$seconds" -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v f="$floor_ns" \
    -v hwm="$(status_kb "$pid" VmHWM)" -v rss="$(status_kb "$pid" VmRSS)" \
    'BEGIN { printf "%-22s %10.1f %9.3f%% %7d/%-3d %9.2f %10s %10s\n", name, ns / 1e6, ns / 1e7 / s, t, hz, (f > 0 ? ns / f : 0), hwm, rss }'
done
if grep -q '"call": "RegisterStatusNotifierItem"' "$work/watcher.out"; then
  echo "gleamo registered its tray icon with the watcher"
else
  echo "gleamo did not register its tray icon with the watcher: not measured as on a desktop"
  status=1
fi
if DISPLAY=$display xdotool search --onlyvisible --name '^gleamo$' >/dev/null; then
  echo "gleamo's XEmbed icon is docked in trayer"
else
  echo "gleamo's XEmbed icon is not docked in trayer: not measured as on a desktop"
  status=1
fi
# What the programs said on standard error, if anything (a gleamo that found
# no tray watcher would say so here).
for i in "${!names[@]}"; do
  [ -s "$work/$((i + 1)).err" ] && printf '%s said: %s\n' "${names[i]}" "$(head -n 3 "$work/$((i + 1)).err")"
done
exit "$status"
