#!/usr/bin/env bash
# What a lit lamp costs the whole desktop, beside a native disk widget of
# the same desktop: headless Xfce and GNOME sessions side by side, on
# scripted disk counters that change the picture at every tick
# (bench/desktop_cost.py says how). Runs as root: each session reads the
# scripted counters through a bind mount of its own.
#   scripts/measure-desktop.sh [--seconds N] [--windows N] [--hosts xfce,gnome]
#                              [--speeds 300,150] [--idle] [--gleamo LABEL=PROGRAM ...] [--roads]
# (default: three 30 s windows, both hosts, build/native/gleamo)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "measure-desktop: needs root for its mount namespaces (unshare -m)" >&2
  exit 1
fi
scripts/setup.sh >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native --target gleamo >/dev/null
# Debian's python3-dbus and GObject bindings belong to the system's interpreter.
exec /usr/bin/python3 bench/desktop_cost.py "$@"
