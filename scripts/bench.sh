#!/usr/bin/env bash
# Builds the benchmarks and prints gleamo's speed figures with the machine
# they come from: the portable core natively (Google Benchmark, every figure
# beside a bare read of /proc/diskstats in the same run) and the GDI painter
# under Wine (beside a bare CreateIconIndirect of two ready bitmaps), and the
# WMI poll under Wine (beside a bare enumeration of the provider's instances),
# and the whole desktop's cost of a lit lamp beside a native disk widget
# (scripts/measure-desktop.sh; as root only).
#   scripts/bench.sh [--quick]     (--quick: short runs, rough figures)
set -euo pipefail
cd "$(dirname "$0")/.."

native_args=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_min_time=0.2)
gdi_args=(--rounds 15 --paintings 400)
wmi_args=(--rounds 15 --polls 200)
if [ "${1:-}" = "--quick" ]; then
  native_args=(--benchmark_min_time=0.01)
  gdi_args=(--rounds 3 --paintings 100)
  wmi_args=(--rounds 3 --polls 50)
fi

scripts/setup.sh
for preset in native windows; do
  cmake --preset "$preset" >/dev/null
done
cmake --build --preset native --target gleamo_bench >/dev/null
cmake --build --preset windows --target gleamo_gdi_bench gleamo_wmi_bench >/dev/null

model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
echo "machine: $(nproc) cores, ${model:-unknown CPU}, Debian $(cat /etc/debian_version), Linux $(uname -r)"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $(wine --version)"
echo
build/native/bench/gleamo_bench "${native_args[@]}"
echo
WINEPREFIX="$PWD/build/windows/wineprefix" scripts/with-xvfb.sh \
  build/windows/wine-run.sh build/windows/bench/gleamo_gdi_bench.exe "${gdi_args[@]}"
echo
WINEPREFIX="$PWD/build/windows/wineprefix" scripts/with-xvfb.sh \
  build/windows/wine-run.sh build/windows/bench/gleamo_wmi_bench.exe "${wmi_args[@]}"
if [ "$(id -u)" -eq 0 ]; then
  echo
  if [ "${1:-}" = "--quick" ]; then
    scripts/measure-desktop.sh --seconds 5 --windows 1
  else
    scripts/measure-desktop.sh
  fi
fi
