#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for a bounded time each,
# as many at once as there are cores (each fuzzer uses one). Seeds come from fuzz/corpus/<name>/;
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

fuzz_one() {  # fuzz_one NAME PATH: runs one target; its verdict on stdout, its log on failure
  local name=$1 path=$2
  local corpus="build/fuzz/corpus/$name" artifacts="build/fuzz/artifacts/$name" log="build/fuzz/$name.log"
  mkdir -p "$corpus" "$artifacts"
  local seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  # -timeout: a single input that takes seconds is a finding too.
  if "$path" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf 'fuzz: %-24s %10s inputs in %ss, no finding\n' "$name" "${runs:-?}" "$seconds"
  else
    echo "fuzz: $name FOUND A FAULT; its log:" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}

status=0
cores=$(nproc)
pids=()
while read -r name path; do
  [ -n "$name" ] || continue
  if [ "${#pids[@]}" -ge "$cores" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
  fuzz_one "$name" "$path" &
  pids+=($!)
done <"$list"
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
exit "$status"
