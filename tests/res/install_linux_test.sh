#!/bin/sh
# cmake --install of the Linux edition puts the program and a valid desktop
# entry, usable for XDG autostart, where the configured prefix says.
#   install_linux_test.sh BUILD_DIR PREFIX
set -eu
build=$1
prefix=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" cmake --install "$build" >/dev/null
binary="$dest$prefix/bin/gleamo"
entry="$dest$prefix/share/applications/gleamo.desktop"
fail() { echo "install: $*" >&2; exit 1; }

[ -x "$binary" ] || fail "no executable $binary"
[ -f "$entry" ] || fail "no desktop entry $entry"
desktop-file-validate "$entry" || fail "desktop entry does not validate"
grep -qx 'Type=Application' "$entry" || fail "not an application entry"
grep -qx "Exec=$prefix/bin/gleamo" "$entry" || fail "Exec does not start $prefix/bin/gleamo"
grep -qx 'X-GNOME-Autostart-enabled=true' "$entry" || fail "autostart not enabled"
echo "installed $prefix/bin/gleamo and $prefix/share/applications/gleamo.desktop"
