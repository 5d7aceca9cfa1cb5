#!/usr/bin/env bash
# Renders the program's icon (resources/icons/org.meridoc.Meridoc.svg) as the PNG sizes the
# desktop and the windows use. The PNGs are committed; run this again after changing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"

id=org.meridoc.Meridoc
for size in 16 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}"
    rsvg-convert --width "$size" --height "$size" --output "${size}x${size}/$id.png" "$id.svg"
done
