#!/usr/bin/env bash
# Makes the pictures the picture box tests show, with tools the project did not write
# (ImageMagick, exiftool, netpbm), into DIR:
#   big.jpg          8000 x 6000 camera-like JPEG (EXIF make, model), left half red, right blue
#   turned.jpg       60 x 30 stored, left red, right blue, EXIF orientation 6 (turn 90° right)
#   big-turned.jpg   6000 x 4000 stored, same halves, EXIF orientation 8 (turn 90° left)
#   orient-N.jpg     40 x 20 stored, quadrants red, blue (top) and lime, white (bottom), with
#                    EXIF orientation N, 1 to 8
#   sizes.ico        16 (red), 48 (blue) and 32 (lime) pixel images; the largest is not last
#   pcx-*.pcx        ppmtopcx's every layout of one seeded picture; pcx-*.ppm is pcxtoppm's
#                    reading of the same file
#   make_photos.sh DIR
set -euo pipefail
dir=$1
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
# ImageMagick's own binary, not whatever else is called convert on the path.
convert=$(command -v convert-im6.q16 || echo /usr/bin/convert)

camera() {  # FILE ORIENTATION
    exiftool -q -overwrite_original -Make=Recognizer -Model="Test Camera" \
        -Orientation#="$2" "$1"
}
"$convert" -size 4000x6000 xc:red -size 4000x6000 xc:blue +append -quality 85 jpg:big.jpg
camera big.jpg 1
"$convert" -size 30x30 xc:red -size 30x30 xc:blue +append -quality 95 jpg:turned.jpg
camera turned.jpg 6
"$convert" -size 3000x4000 xc:red -size 3000x4000 xc:blue +append -quality 85 jpg:big-turned.jpg
camera big-turned.jpg 8
for n in 1 2 3 4 5 6 7 8; do
    "$convert" \( -size 20x10 xc:red -size 20x10 xc:blue +append \) \
        \( -size 20x10 xc:lime -size 20x10 xc:white +append \) -append -quality 95 \
        jpg:orient-$n.jpg
    camera orient-$n.jpg $n
done

"$convert" -size 16x16 xc:red \( -size 48x48 xc:blue \) \( -size 32x32 xc:lime \) ico:sizes.ico

# One picture per colour count, 13 x 7 (odd, so that lines end inside a byte), from a seed.
for colours in 2 4 8 16 256; do
    "$convert" -seed 7 -size 13x7 plasma: -colors $colours -depth 8 ppm:colours$colours.ppm
done
"$convert" -seed 7 -size 13x7 plasma: -depth 8 ppm:truecolour.ppm
pcx() {  # NAME SOURCE [ppmtopcx OPTIONS]
    local name=$1 source=$2
    shift 2
    ppmtopcx "$@" "$source" >"pcx-$name.pcx" 2>/dev/null
    pcxtoppm "pcx-$name.pcx" >"pcx-$name.ppm" 2>/dev/null
}
pcx 1bit colours2.ppm
pcx 2bit-packed colours4.ppm -packed
pcx 2planes colours4.ppm
pcx 3planes colours8.ppm
pcx 4bit-packed colours16.ppm -packed
pcx 4planes colours16.ppm
pcx 8bit colours256.ppm -8bit
pcx 24bit truecolour.ppm -24bit
rm -f colours*.ppm truecolour.ppm
