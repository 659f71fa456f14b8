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
#   velmora-isp2.ico   the Windows programs' icon: the drawing at 16, 32, 48
#                      and 256 pixels (the 32-pixel one is form1_32.png)
#   prompt.ico         the Windows message window's icon: prompt_16.png
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

convert -size 16x16 xc:none \
    -fill '#fff6c8' -stroke '#8a6d00' \
    -draw 'roundrectangle 0,0 15,11 3,3' \
    -draw 'polygon 3,11 7,11 3,15' \
    -stroke none -fill '#fff6c8' -draw 'rectangle 3,10 6,11' \
    -fill '#8a6d00' -draw 'rectangle 7,2 8,6' -draw 'rectangle 7,8 8,9' \
    $common PNG32:prompt_16.png

# Windows icons, from the same pictures.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
render 16 "$tmp/16.png"
render 48 "$tmp/48.png"
convert "$tmp/16.png" form1_32.png "$tmp/48.png" velmora-isp2_256.png $common velmora-isp2.ico
convert prompt_16.png $common prompt.ico
