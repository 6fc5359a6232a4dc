#!/usr/bin/env bash
# Holds the program's own sources (not the tests, benchmarks or fuzzers) to
# .clang-tidy, as the native tree compiles them: every finding is an error.
# The Windows sources are left to the cross tree's -Wall -Wextra -Werror:
# clang-tidy does not take the MinGW headers from a g++ cross tree.
#   scripts/tidy.sh [BUILD_DIR]      (default build/native, configured)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy.sh: no $build/compile_commands.json; configure the tree first" >&2
  exit 1
fi
output=$(run-clang-tidy-14 -p "$build" -quiet -j "$(nproc)" "^$PWD/(activity|app|common|linux|res|tray|tools)/" 2>&1)
status=$?
# Only the findings, not the command of each file nor the counts of
# warnings in headers that are filtered out.
printf '%s\n' "$output" | grep -v -E '^(clang-tidy-14 |[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed|Use -header-filter|Running clang-tidy|Enabled checks)' || true
if [ "$status" -eq 0 ]; then echo "tidy.sh: no findings"; else echo "tidy.sh: findings above"; fi
exit "$status"
