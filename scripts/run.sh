#!/usr/bin/env bash
# Sets up the machine, builds gleamo and runs it with the given options (for
# example: scripts/run.sh -c -g).
#
# On a Linux desktop (a display and a D-Bus session) it runs the native Linux
# edition, whose icon appears in the desktop's tray. Elsewhere, or with
# --wine, it runs the Windows program under Wine, as follows (the 64-bit
# build under wine64, from build/windows64, where the host runs no 32-bit
# code); --linux forces the Linux edition.
#
# With a display: gleamo runs in a Wine desktop window with a taskbar, whose
# notification area shows its icon; a right click on the icon opens its menu,
# and "end program" ends it (closing the desktop window ends it too).
#
# Without a display: gleamo runs for a few seconds on a private X server; a
# screenshot of the taskbar goes to build/run/gleamo-taskbar.png, taken while
# a burst of disk writes and reads runs, then the program is ended as its
# menu would end it.
#
# Under Wine gleamo reads the machine's real disk counters through our WMI
# disk provider (tools/wine_disks), which build/windows/wine-disks-run.sh
# keeps registered in a prefix of its own: Wine's own WMI has none. Set
# GLEAMO_DISKS to a file of "NAME READS WRITES" lines (as a Windows path,
# Z:\... for a Unix file) to show scripted counters instead.
#
# The program's standard output (the connection messages) appears here when
# it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

# The 32-bit program; on a host that runs no 32-bit code, its 64-bit build
# under wine64.
tree=windows
scripts/runs-32-bit.sh || tree=windows64
runner=build/$tree/wine-disks-run.sh
shot=build/run/gleamo-taskbar.png
seconds=${GLEAMO_RUN_SECONDS:-5}

# Inside the private desktop of a display-less run: start, look, end.
if [ "${1:-}" = "--inside-desktop" ]; then
  shift
  "$runner" explorer "/desktop=$GLEAMO_WINE_DESKTOP" "build/$tree/gleamo.exe" "$@"  # returns at once
  # A machine at rest would leave the lamp dark in the picture: write, sync
  # and read back (past the page cache) a file while gleamo runs.
  mkdir -p "$(dirname "$shot")"
  busy=build/run/disk-burst
  touch "$busy.on"
  (
    while [ -e "$busy.on" ]; do
      dd if=/dev/zero of="$busy" bs=1M count=4 conv=fsync status=none
      dd if="$busy" of=/dev/null bs=64k iflag=direct status=none 2>/dev/null || true
    done
  ) &
  burst=$!
  sleep "$seconds"
  width=${GLEAMO_DESKTOP_SIZE%x*}
  height=${GLEAMO_DESKTOP_SIZE#*x}
  # The desktop's top left corner is the screen's; its taskbar is at the bottom.
  import -window root -depth 8 -crop "${width}x24+0+$((height - 24))" +repage "$shot"
  rm -f "$busy.on"
  wait "$burst"
  rm -f "$busy"
  status=0
  "$runner" "build/$tree/tools/gleamo_end.exe" || status=$?
  echo "run: a screenshot of the taskbar after ${seconds} s is in $shot"
  exit "$status"
fi

edition=wine
case "${1:-}" in
  --wine) shift ;;
  --linux) shift; edition=linux ;;
  *)
    if [ "$(uname -s)" = Linux ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } &&
       { [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; }; then
      edition=linux
    fi ;;
esac

scripts/setup.sh
if [ "$edition" = linux ]; then
  cmake --preset native >/dev/null
  cmake --build --preset native --target gleamo
  exec build/native/gleamo "$@"
fi

[ "$tree" = windows ] || echo "run: this host runs no 32-bit code; running the 64-bit build under wine64"
cmake --preset "$tree" >/dev/null
cmake --build --preset "$tree" --target gleamo gleamo_end gleamo_wine_disks
"$runner"  # makes the Wine prefix, with the disk provider, on first use

if [ -n "${DISPLAY:-}" ]; then
  # A desktop of its own: it closes when gleamo ends.
  exec "$runner" explorer /desktop=gleamo,800x600 "build/$tree/gleamo.exe" "$@"
fi

echo "run: no display; running gleamo for ${seconds} s on a private X server"
WINEPREFIX="$PWD/build/$tree/wineprefix-disks" exec scripts/with-wine-desktop.sh --wine "$runner" "$PWD/scripts/run.sh" --inside-desktop "$@"
