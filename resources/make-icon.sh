#!/bin/sh
# Draws the program icon (a printer with a sheet of paper) at 48, 32 and 16 pixels.
# The committed app.ico was made with this script; run it again only to change the art.
set -e
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
    -fill '#f4f4f4' -stroke '#606060' -strokewidth 6 -draw 'rectangle 72,20 184,120' \
    -stroke '#9a9a9a' -strokewidth 5 -draw 'line 92,52 164,52' -draw 'line 92,76 164,76' -draw 'line 92,100 140,100' \
    -fill '#1f5fa8' -stroke '#123a68' -strokewidth 8 -draw 'roundrectangle 24,104 232,204 20,20' \
    -fill '#ffffff' -stroke '#606060' -strokewidth 6 -draw 'rectangle 64,172 192,236' \
    -stroke none -fill '#4cd964' -draw 'circle 200,132 212,132' \
    -define icon:auto-resize=48,32,16 app.ico
