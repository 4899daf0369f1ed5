#!/usr/bin/env bash
# Renders data/icons/kivplay.svg into the PNG sizes that are installed into
# the hicolor theme (and the 48-pixel one that the player sets as its window
# icon). Run it after changing the SVG and commit the PNGs with it; the build
# itself needs no SVG renderer. Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" kivplay.svg -o "png/kivplay-$size.png"
done
