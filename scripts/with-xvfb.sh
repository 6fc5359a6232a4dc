#!/usr/bin/env bash
# Runs a command with a private X server: Wine's windows, message boxes and
# notification area need a display. Picks a free display number, and stops
# the server (and Wine, when WINEPREFIX is set) however the command ends.
#   scripts/with-xvfb.sh COMMAND [ARGS...]
set -euo pipefail

displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
xvfb_pid=$!

cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -f "$displayfile"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for _ in $(seq 100); do
  [ -s "$displayfile" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "with-xvfb: Xvfb did not start" >&2; exit 1; }
  sleep 0.05
done
[ -s "$displayfile" ] || { echo "with-xvfb: Xvfb gave no display number" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$displayfile")"

# In the background and waited for, so that a signal is acted on at once
# (bash runs traps only between foreground commands); the command gets it too.
status=0
"$@" <&0 &
command_pid=$!
trap 'kill -TERM "$command_pid" 2>/dev/null; exit 130' INT TERM
wait "$command_pid" || status=$?
exit "$status"
