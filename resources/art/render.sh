#!/bin/sh
# Renders the artwork of resources/ from its SVG sources (icon.svg there, the others here;
# needs rsvg-convert, Debian package librsvg2-bin). The PNGs are committed: run this
# after changing an SVG.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/.."
rsvg-convert -w 64 -h 64 "$out/icon.svg" -o "$out/icon.png"
rsvg-convert -w 513 -h 189 "$here/panel.svg" -o "$out/panel.png"
rsvg-convert -w 105 -h 22 "$here/leds.svg" -o "$out/leds.png"
