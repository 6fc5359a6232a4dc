#!/usr/bin/env bash
# Gives a Wine prefix our WMI disk-performance provider, so that gleamo.exe
# (and any program that asks WMI for MSDiskDriver_Performance) sees disk
# counters under Wine, whose own WMI has none:
#
#   scripts/wine-disks.sh PREFIX [DLL]
#
# PREFIX is made when it does not exist yet, 32-bit or 64-bit as the DLL is
# (the DLL of build/windows64 for a 64-bit prefix). DLL defaults to this
# tree's build/windows/tools/wine_disks/gleamo_wine_disks.dll (build it with
# `cmake --build --preset windows --target gleamo_wine_disks`); the prefix
# keeps using the DLL at that place, so a rebuild takes effect at once.
#
# The provider registers itself as the in-process server of WMI's locator
# (CLSID_WbemLocator) in the prefix's registry. It serves root\WMI with one
# MSDiskDriver_Performance instance per disk, read afresh on every
# enumeration from the file named by GLEAMO_DISKS (a Windows path, Z:\... for
# a Unix file; one "NAME READS WRITES" line per disk), or else from the
# host's /proc/diskstats (whole disks only). Wine's own WMI comes back with
#   WINEPREFIX=PREFIX wine regsvr32 /u /s Z:\path\to\gleamo_wine_disks.dll
set -euo pipefail

[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 PREFIX [DLL]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(realpath -m "$1")
dll=$(realpath -m "${2:-$here/../build/windows/tools/wine_disks/gleamo_wine_disks.dll}")
[ -f "$dll" ] || {
  echo "wine-disks: $dll is missing; build it: cmake --build --preset windows --target gleamo_wine_disks" >&2
  exit 1
}

# A 64-bit DLL needs a 64-bit prefix and Wine's 64-bit loader, which Debian
# keeps out of PATH.
if file -b "$dll" | grep -q '^PE32+'; then
  arch=win64
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  export WINELOADER="$wine"
else
  arch=win32
  wine=wine
fi

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -d "$prefix/drive_c" ]; then
  WINEARCH=$arch "$wine" wineboot --init >/dev/null 2>&1
  wineserver -w
fi
# Drive Z: is the Unix root in every prefix. The registry change is seen at
# once by every program started afterwards, even while others run.
WINEARCH=$arch "$wine" regsvr32 /s "Z:${dll//\//\\}"
echo "wine-disks: $prefix now reads disk counters through $dll"
