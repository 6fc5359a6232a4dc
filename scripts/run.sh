#!/usr/bin/env bash
# Sets up the machine, builds gleamo.exe and runs it under Wine with the
# given options (for example: scripts/run.sh -c -g).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset windows -DGLEAMO_BUILD_TESTS=OFF >/dev/null
cmake --build --preset windows --target gleamo
exec build/windows/wine-run.sh build/windows/gleamo.exe "$@"
