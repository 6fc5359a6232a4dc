#!/usr/bin/env bash
# Installs everything gleamo's build and tests need on Debian 12, as root.
# Does nothing when all of it is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-tidy-14
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  wine wine32 fonts-wine
  xvfb xdotool imagemagick x11-utils
  libpng-dev
  libsystemd-dev dbus python3-dbus python3-gi desktop-file-utils
  xfce4-panel xfconf
  libxcb1-dev trayer tint2 python3-xlib
  sway waybar grim xwayland
  gnome-shell gnome-shell-extension-appindicator dconf-service libglib2.0-bin gir1.2-gdkpixbuf-2.0 librsvg2-common
  lxqt-panel mate-panel
  cinnamon xapp-sn-watcher dconf-gsettings-backend libgl1-mesa-dri mako-notifier
  conky-cli xfce4-diskperf-plugin gnome-shell-extension-system-monitor
  lintian dpkg-dev file groff-base man-db unzip appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  missing+=(i386-architecture)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing ${missing[*]}; run this script as root to install them" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${packages[@]}"
