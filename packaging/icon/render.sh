#!/usr/bin/env bash
# Renders the icon artwork into the PNG sizes the program's icon group holds. The PNGs are
# committed, so building needs none of this; run it again after editing appicon.svg.
# Needs ImageMagick with SVG support (Debian: imagemagick, librsvg2-2).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
    convert -background none -density 384 appicon.svg -resize "${size}x${size}" \
        -depth 8 -define png:color-type=6 -define png:exclude-chunks=date,time "appicon-${size}.png"
done
