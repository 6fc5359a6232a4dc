#!/usr/bin/env bash
# Sets up the machine, builds gleamo natively, natively with AddressSanitizer
# and UndefinedBehaviorSanitizer, as libFuzzer targets and for Windows, every
# tree with warnings as errors, holds the program's sources to .clang-tidy,
# and runs every test: the native ones directly (plain and sanitized), the Windows
# ones and the soaks under Wine (on the 64-bit build under wine64 where the
# host runs no 32-bit code), then each fuzzer for a bounded time
# (GLEAMO_FUZZ_SECONDS, default 10 s each).
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
timings=()
step() {  # step NAME COMMAND...: runs it, notes its time, remembers a failure
  local name=$1 start=$SECONDS
  shift
  "$@" || status=1
  timings+=("$(printf '%-22s %4d s' "$name" $((SECONDS - start)))")
}

step "setup" scripts/setup.sh
[ "$status" -eq 0 ] || exit 1  # nothing can be built without it

# The 32-bit Windows tree is what ships and is always built. Its tests need
# 32-bit Wine; a host that runs no 32-bit code runs the same tests on the
# 64-bit build under wine64 instead, and builds only the program and its zip
# in the 32-bit tree.
windows_tests=windows
if ! scripts/runs-32-bit.sh; then
  windows_tests=windows64
  echo "test.sh: this host runs no 32-bit code; the Windows tests run on the 64-bit build under wine64"
fi

for preset in native native-sanitize fuzz "$windows_tests"; do
  # Tests on, also in a tree that a build of the program alone configured.
  step "build $preset" bash -c "cmake --preset $preset -DGLEAMO_BUILD_TESTS=ON && cmake --build --preset $preset"
done
if [ "$windows_tests" != windows ]; then
  step "build windows" bash -c "cmake --preset windows -DGLEAMO_BUILD_TESTS=OFF -DGLEAMO_BUILD_BENCHMARKS=OFF &&
    cmake --build --preset windows --target package"
fi
step "tidy" scripts/tidy.sh
step "test native" ctest --preset native
# Two at a time: the sanitized run has no desktop, and its two longest
# tests (the D-Bus and XEmbed fixtures) spend most of their time waiting.
step "test native-sanitize" ctest --preset native-sanitize --parallel 2
# Wine's windows need a display: a private X server for the Windows tests,
# stopped afterwards together with the prefix's wineserver.
step "test $windows_tests" env WINEPREFIX="$PWD/build/$windows_tests/wineprefix" \
  scripts/with-xvfb.sh ctest --preset "$windows_tests"
step "fuzz" scripts/fuzz.sh "${GLEAMO_FUZZ_SECONDS:-10}"

printf '%s\n' "test.sh: time per step:" "${timings[@]/#/  }" "  total                  $SECONDS s"
[ "$status" -eq 0 ] && echo "test.sh: all passed" || echo "test.sh: FAILED (see above)"
exit "$status"
