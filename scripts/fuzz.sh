#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for a bounded time each,
# one after the other on one core. Seeds come from fuzz/corpus/<name>/;
# what a run learns stays in build/fuzz/corpus/<name>/ for the next run.
# A finding ends the script with a failure and leaves the input in
# build/fuzz/artifacts/<name>/ (replay: build/fuzz/fuzz/<name> FILE).
#   scripts/fuzz.sh [SECONDS_EACH]      (default 20; build with the fuzz preset first)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-20}"
list=build/fuzz/fuzzers.txt
if [ ! -f "$list" ]; then
  echo "fuzz: $list missing: cmake --preset fuzz && cmake --build --preset fuzz" >&2
  exit 1
fi

status=0
while read -r name path; do
  [ -n "$name" ] || continue
  corpus="build/fuzz/corpus/$name"
  artifacts="build/fuzz/artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  log="build/fuzz/$name.log"
  # -timeout: a single input that takes seconds is a finding too.
  if "$path" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf 'fuzz: %-24s %10s inputs in %ss, no finding\n' "$name" "${runs:-?}" "$seconds"
  else
    echo "fuzz: $name FOUND A FAULT; its log:" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done <"$list"
exit "$status"
