#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the program icon (a charge meter on a telephone line) once at 512 px and scales it to
# the sizes the tray, the window and the icon theme use (kestrovan.svg is the same drawing for
# the theme's scalable size, kept by hand). Run by hand after changing the drawing; the PNGs are
# kept in the tree so the build needs no ImageMagick.
set -e
cd "$(dirname "$0")"
convert -size 512x512 xc:none \
    -fill '#1d4e89' -stroke '#0e2a4d' -strokewidth 12 -draw 'roundrectangle 16,16 496,496 72,72' \
    -fill white -stroke none -draw 'circle 256,300 256,110' \
    -fill '#1d4e89' -draw 'circle 256,300 256,140' \
    -fill white -draw 'rectangle 60,300 452,496' \
    -fill '#1d4e89' -draw 'rectangle 60,300 452,330' \
    -stroke white -strokewidth 22 -draw 'line 130,180 150,200' -draw 'line 382,180 362,200' \
    -draw 'line 256,125 256,155' \
    -stroke '#e63b2e' -strokewidth 30 -draw 'line 256,300 360,175' \
    -stroke none -fill '#e63b2e' -draw 'circle 256,300 256,328' \
    -fill '#1d4e89' -stroke none -draw 'rectangle 60,330 452,496' \
    -stroke '#ffd23f' -strokewidth 30 -fill none \
    -draw 'polyline 70,420 150,420 190,370 250,470 310,370 350,420 442,420' \
    kestrovan_512.tmp.png
for s in 16 22 24 32 48 64 128 256; do
    convert kestrovan_512.tmp.png -filter Lanczos -resize ${s}x${s} -strip "kestrovan_${s}.png"
done
rm -f kestrovan_512.tmp.png
