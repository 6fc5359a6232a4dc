#!/usr/bin/env bash
# Runs a command while a Wine virtual desktop with a taskbar and a working
# notification area is up, and takes the desktop down however the command
# ends. For tests that need the real shell: tray icons, their pixels, clicks.
#
#   scripts/with-wine-desktop.sh [--wine RUNNER] [--size WxH] COMMAND [ARGS...]
#
#   --wine RUNNER  starts Windows programs in the wanted prefix; for this build
#                  tree: build/windows/wine-run.sh (default: wine, which then
#                  needs WINEPREFIX)
#   --size WxH     size of the desktop (default 800x600); its top left corner
#                  is the X screen's top left corner
#
# Without a DISPLAY it first starts a private X server (scripts/with-xvfb.sh,
# which also stops the prefix's wineserver at the end when WINEPREFIX is set).
# The exit status is the command's.
#
# The command finds in its environment:
#   GLEAMO_WINE_DESKTOP   the desktop's name (unique to this run)
#   GLEAMO_DESKTOP_SIZE   its size, WxH
#   DISPLAY               the X display that shows it
# A Windows program gets onto the desktop either by being started with
#   RUNNER explorer /desktop=$GLEAMO_WINE_DESKTOP PROGRAM.exe [ARGS...]
# (that returns at once; standard output still reaches the caller), or by
# calling SetThreadDesktop(OpenDesktopA(name, 0, FALSE, GENERIC_ALL)) itself
# before it creates any window (as tests/tray/system_tray_desktop_win32_test.cpp
# does). Screenshots: `import -window root -depth 8 shot.png`, or BitBlt from
# GetDC(nullptr) inside the program.
#
# On exit the desktop's explorer is killed (it runs in its own process group);
# programs the command started on the desktop are its own to end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
runner=wine
size=800x600
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) runner=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--wine RUNNER] [--size WxH] COMMAND [ARGS...]" >&2; exit 2; }

if [ -z "${DISPLAY:-}" ]; then
  exec "$here/with-xvfb.sh" "$0" --wine "$runner" --size "$size" "$@"
fi

name="gleamo-$$"
pidfile=$(mktemp)
desktop_group=""

cleanup() {
  if [ -n "$desktop_group" ]; then
    kill -TERM -- "-$desktop_group" 2>/dev/null || true
    for _ in $(seq 40); do
      kill -0 -- "-$desktop_group" 2>/dev/null || break
      sleep 0.05
    done
    kill -KILL -- "-$desktop_group" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Its own session and so its own process group: the launcher, the explorer it
# starts and nothing else, so that the whole desktop can be ended at once.
setsid bash -c 'echo $$ >"$0"; exec "$@"' "$pidfile" "$runner" explorer "/desktop=$name,$size" \
  </dev/null >/dev/null 2>&1 &
for _ in $(seq 100); do
  [ -s "$pidfile" ] && break
  sleep 0.02
done
desktop_group=$(cat "$pidfile")
[ -n "$desktop_group" ] || { echo "with-wine-desktop: explorer did not start" >&2; exit 1; }

# The desktop's X window appears once explorer has set up the desktop with its
# taskbar. The first use of a fresh prefix takes a while: allow a minute.
ready=0
for _ in $(seq 600); do
  if xdotool search --name "^$name - Wine desktop\$" >/dev/null 2>&1; then
    ready=1
    break
  fi
  kill -0 -- "-$desktop_group" 2>/dev/null || break
  sleep 0.1
done
if [ "$ready" -ne 1 ]; then
  echo "with-wine-desktop: the Wine desktop $name did not come up" >&2
  exit 1
fi

export GLEAMO_WINE_DESKTOP="$name"
export GLEAMO_DESKTOP_SIZE="$size"
# In the background and waited for, so that a signal is acted on at once
# (bash runs traps only between foreground commands); the command gets it too.
status=0
"$@" <&0 &
command_pid=$!
trap 'kill -TERM "$command_pid" 2>/dev/null; exit 130' INT TERM
wait "$command_pid" || status=$?
exit "$status"
