#!/usr/bin/env bash
# Draws the README's icon gallery into docs/gallery with the native
# gleamo_icon_png command: every colour of the three styles with the labels
# the program uses, a few bar heights, and each style in blue at the sizes
# the notification area asks for at 125, 150 and 200 % (16 px is above).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset native >/dev/null
cmake --build --preset native --target gleamo_icon_png_cmd >/dev/null
draw=build/native/tools/gleamo_icon_png
out=docs/gallery
mkdir -p "$out"
rm -f "$out"/*.png

for color in 10 11 12 13 14 15 16 17 18; do
  "$draw" --scale 4 "$color" "$out/symbol-$color.png"
  "$draw" --scale 4 "1$color" "$out/char-1$color.png"
  "$draw" --scale 4 "${color}0905" "$out/bar-${color}0905.png"
done
for heights in 0000 0300 0006 0709 1204 1515; do
  "$draw" --scale 4 "13$heights" "$out/bar-13$heights.png"
done
for size in 20 24 32; do
  "$draw" --size "$size" --scale 4 13 "$out/symbol-13-${size}px.png"
  "$draw" --size "$size" --scale 4 113 "$out/char-113-${size}px.png"
  "$draw" --size "$size" --scale 4 130905 "$out/bar-130905-${size}px.png"
done
echo "gallery written to $out"
