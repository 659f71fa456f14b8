#!/bin/sh
# Renders the program's icons. Run once from this folder after changing a
# drawing; the PNGs it writes are committed. Needs ImageMagick (convert) and
# librsvg's rsvg-convert (Debian: imagemagick, librsvg2-bin).
#   velmora-isp2.svg   the application icon, drawn once: a chip with pins on
#                      both sides and a downward arrow, firmware going into
#                      the part. Every size below is rendered from it.
#   form1_32.png       the main window's icon, and the 32-pixel size of the
#                      installed application icon
#   velmora-isp2_N.png the installed application icon at N x N pixels
#   prompt_16.png      message window: a speech bubble with an exclamation mark
#   velmora-isp2.ico   the Windows programs' icon (cmake/WindowsResources.cmake):
#                      16, 32, 48 and 256 pixels, the largest stored as PNG
set -eu
cd "$(dirname "$0")"

# -strip and a fixed date keep the files byte-identical from run to run.
common="-strip -define png:exclude-chunks=date,time"

# render SIZE OUTPUT: the application icon at SIZE x SIZE pixels.
render() {
    rsvg-convert --width "$1" --height "$1" --format png velmora-isp2.svg |
        convert png:- $common PNG32:"$2"
}

render 32 form1_32.png
for size in 48 64 128 256; do
    render "$size" "velmora-isp2_$size.png"
done

# The .ico: Explorer picks the size it needs, 16 in lists, 32 and 48 in
# icon views, 256 for large icons.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 32 48 256; do
    render "$size" "$work/$size.png"
done
convert "$work/16.png" "$work/32.png" "$work/48.png" "$work/256.png" $common velmora-isp2.ico

convert -size 16x16 xc:none \
    -fill '#fff6c8' -stroke '#8a6d00' \
    -draw 'roundrectangle 0,0 15,11 3,3' \
    -draw 'polygon 3,11 7,11 3,15' \
    -stroke none -fill '#fff6c8' -draw 'rectangle 3,10 6,11' \
    -fill '#8a6d00' -draw 'rectangle 7,2 8,6' -draw 'rectangle 7,8 8,9' \
    $common PNG32:prompt_16.png
