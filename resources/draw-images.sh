#!/bin/sh
# Draws the window icon and the corner picture: a memory chip on a circuit
# board, 64 x 64 with alpha. Run from anywhere; writes next to this script.
set -eu
cd "$(dirname "$0")"

convert -size 64x64 xc:none \
    -fill '#1f6f3f' -stroke '#0d3b20' -strokewidth 2 -draw 'roundrectangle 2,2 61,61 10,10' \
    -stroke '#c9a227' -strokewidth 2 \
    -draw 'line 8,18 16,18' -draw 'line 8,27 16,27' -draw 'line 8,36 16,36' -draw 'line 8,45 16,45' \
    -draw 'line 47,18 55,18' -draw 'line 47,27 55,27' -draw 'line 47,36 55,36' -draw 'line 47,45 55,45' \
    -fill '#202020' -stroke '#000000' -strokewidth 1 -draw 'roundrectangle 16,10 47,53 3,3' \
    -fill '#f6d32d' -stroke none -draw 'circle 22,16 24,16' \
    -fill '#e0e0e0' -draw 'rectangle 21,24 42,27' -draw 'rectangle 21,31 42,34' \
    -draw 'rectangle 21,38 42,41' -draw 'rectangle 21,45 35,48' \
    -depth 8 -define png:color-type=6 "VYK NVRAM icon image.png"

convert "VYK NVRAM icon image.png" -define icon:auto-resize=64 -type TrueColorAlpha "VYK NVRAM.ico"
