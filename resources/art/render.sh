#!/bin/sh
# Renders the artwork of resources/ from its SVG sources (icon.svg there, the others here;
# needs rsvg-convert and optipng, Debian packages librsvg2-bin and optipng). The PNGs are
# committed: run this after changing an SVG.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/.."
rsvg-convert -w 64 -h 64 "$out/icon.svg" -o "$out/icon.png"
rsvg-convert -w 513 -h 189 "$here/panel.svg" -o "$out/panel.png"
rsvg-convert -w 105 -h 22 "$here/leds.svg" -o "$out/leds.png"
# The window decodes these three at every start: unfiltered rows decode in less than half
# the time of rsvg-convert's filtered ones, and compress smaller here (same pixels).
optipng -quiet -f0 -o2 "$out/icon.png" "$out/panel.png" "$out/leds.png"
# The desktop icon in the sizes of the hicolor theme (the SVG itself is the scalable one).
for size in 16 24 32 48 64 128 256; do
    mkdir -p "$out/icons/$size"
    rsvg-convert -w $size -h $size "$out/icon.svg" -o "$out/icons/$size/qz81kt-dxp.png"
done
