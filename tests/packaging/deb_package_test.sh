#!/bin/sh
# The Debian package as a user gets it: built with CPack, checked by lintian,
# installed with dpkg, run, its AppStream metadata validated, removed and
# purged without a trace. Installing
# needs root (as in CI); without it the test is skipped.
#   deb_package_test.sh BUILD_DIR VERSION MANUAL_PAGE
set -eu
build=$1
version=$2
manual=$3
fail() { echo "deb package: $*" >&2; exit 1; }

warnings=$(groff -man -ww -z "$manual" 2>&1)
[ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"

if [ "$(id -u)" -ne 0 ]; then
  echo "deb package: skipped, installing a package needs root"
  exit 77
fi
if dpkg-query -W -f='${Status}' gleamo 2>/dev/null | grep -q installed; then
  echo "deb package: skipped, a gleamo package is installed on this machine already"
  exit 77
fi

work=$(mktemp -d)
installed=no
cleanup() {
  [ "$installed" = no ] || dpkg -P gleamo >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/gleamo_"$version"_*.deb) || fail "no gleamo_${version}_*.deb made"
lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || lintian_failed=yes
# It also says once that it would rather not run as root.
grep -v 'running with root privileges' "$work/lintian" || true
[ -z "${lintian_failed:-}" ] || fail "lintian reports errors or warnings"
[ "$(dpkg-deb -f "$deb" Suggests)" = gnome-shell-extension-appindicator ] ||
  fail "the package suggests '$(dpkg-deb -f "$deb" Suggests)', not gnome-shell-extension-appindicator"
dpkg-deb -c "$deb" | awk '{ print substr($6, 2) }' | grep -v '/$' >"$work/files"

installed=yes
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
[ "$(/usr/bin/gleamo --version)" = "gleamo $version" ] || fail "/usr/bin/gleamo --version says $(/usr/bin/gleamo --version)"
file -L /usr/bin/gleamo | grep -q ', stripped' || fail "/usr/bin/gleamo is not stripped"
[ "$(man -w gleamo)" = /usr/share/man/man1/gleamo.1.gz ] || fail "man finds $(man -w gleamo) for gleamo"
MANWIDTH=80 man gleamo 2>/dev/null | grep -q 'hard-disk activity lamp' || fail "man gleamo shows no page"
[ -f /usr/share/doc/gleamo/copyright ] || fail "no /usr/share/doc/gleamo/copyright"
for entry in /etc/xdg/autostart/gleamo.desktop /usr/share/applications/gleamo.desktop; do
  [ -f "$entry" ] || fail "no $entry"
  desktop-file-validate "$entry" || fail "$entry does not validate"
  grep -qx 'Exec=/usr/bin/gleamo' "$entry" || fail "$entry does not start /usr/bin/gleamo"
done
metainfo=/usr/share/metainfo/example.norvath.gleamo.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "$metainfo does not validate"
grep -q "<release version=\"$version\"" "$metainfo" || fail "$metainfo names no release $version"
# Its screenshots are the README's pictures of the desktops.
shots=$(grep -o 'docs/desktops/[a-z0-9-]*\.png' "$metainfo")
[ -n "$shots" ] || fail "$metainfo has no screenshots"
for shot in $shots; do
  [ -f "$(dirname "$manual")/../$shot" ] || fail "$metainfo shows $shot, which is not in the source"
done

# Removed, only the administrator's conffile stays (and starts nothing,
# its TryExec being gone); purged, nothing at all.
dpkg -r gleamo >/dev/null || fail "dpkg -r failed"
while read -r path; do
  [ "$path" = /etc/xdg/autostart/gleamo.desktop ] && continue
  [ ! -e "$path" ] || fail "$path is left after dpkg -r"
done <"$work/files"
[ ! -e /usr/share/doc/gleamo ] || fail "/usr/share/doc/gleamo is left after dpkg -r"
dpkg -P gleamo >/dev/null || fail "dpkg -P failed"
installed=no
while read -r path; do
  [ ! -e "$path" ] || fail "$path is left after dpkg -P"
done <"$work/files"
! dpkg-query -W gleamo >/dev/null 2>&1 || fail "dpkg still knows gleamo after dpkg -P"
echo "deb package: $(basename "$deb") passes lintian, installs, answers --version and leaves no trace"
