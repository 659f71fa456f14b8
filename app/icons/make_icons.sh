#!/bin/sh
# Draws the program's two window icons with ImageMagick. Run once from this
# folder after changing a drawing; the PNGs it writes are committed.
#   form1_32.png   main window and application: a chip with pins on both
#                  sides and a downward arrow, firmware going into the part
#   prompt_16.png  message window: a speech bubble with an exclamation mark
set -eu
cd "$(dirname "$0")"

# -strip and a fixed date keep the files byte-identical from run to run.
common="-strip -define png:exclude-chunks=date,time"

convert -size 32x32 xc:none \
    -fill '#9aa4ad' \
    -draw 'rectangle 4,7 8,9'   -draw 'rectangle 4,13 8,15' \
    -draw 'rectangle 4,19 8,21' -draw 'rectangle 4,25 8,27' \
    -draw 'rectangle 23,7 27,9'   -draw 'rectangle 23,13 27,15' \
    -draw 'rectangle 23,19 27,21' -draw 'rectangle 23,25 27,27' \
    -fill '#24303a' -stroke '#101820' \
    -draw 'roundrectangle 8,4 23,30 2,2' \
    -stroke none -fill '#d7dde2' -draw 'circle 11,7 12,7' \
    -fill '#3cc86e' -stroke '#1d7a40' \
    -draw 'polygon 13,1 18,1 18,11 22,11 15.5,19 9,11 13,11' \
    -stroke none -fill '#3cc86e' -draw 'rectangle 11,22 20,24' \
    $common PNG32:form1_32.png

convert -size 16x16 xc:none \
    -fill '#fff6c8' -stroke '#8a6d00' \
    -draw 'roundrectangle 0,0 15,11 3,3' \
    -draw 'polygon 3,11 7,11 3,15' \
    -stroke none -fill '#fff6c8' -draw 'rectangle 3,10 6,11' \
    -fill '#8a6d00' -draw 'rectangle 7,2 8,6' -draw 'rectangle 7,8 8,9' \
    $common PNG32:prompt_16.png
