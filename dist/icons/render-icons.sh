#!/usr/bin/env bash
# Renders the fixed-size PNG icons from the scalable SVG beside this script (needs rsvg-convert,
# Debian package librsvg2-bin). The PNGs are committed; run this again after changing the SVG.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
id=io.github.quorvel.Quorvel
for size in 16 32 48 64 128 256; do
  mkdir -p "$here/hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "$here/$id.svg" -o "$here/hicolor/${size}x${size}/apps/$id.png"
done
