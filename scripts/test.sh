#!/usr/bin/env bash
# Sets up the machine, builds gleamo natively and for Windows, and runs every
# test: the native ones directly, the Windows ones under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
status=0
for preset in native windows; do
  # Tests on, also in a tree that a build of the program alone configured.
  cmake --preset "$preset" -DGLEAMO_BUILD_TESTS=ON
  cmake --build --preset "$preset"
done
ctest --preset native || status=1
# Wine's windows need a display: a private X server for the Windows tests,
# stopped afterwards together with the prefix's wineserver.
WINEPREFIX="$PWD/build/windows/wineprefix" scripts/with-xvfb.sh ctest --preset windows || status=1
exit "$status"
