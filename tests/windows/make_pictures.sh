#!/usr/bin/env bash
# Makes the pictures the picture box tests decode, with ImageMagick; the photographs, icons and
# PCX files of the Linux picture box tests go to DIR/photos.
#   make_pictures.sh DIR
set -euo pipefail
dir=$1
rm -rf "$dir" && mkdir -p "$dir"
"$(dirname "$0")/../app/make_photos.sh" "$dir/photos"
cd "$dir"
# ImageMagick's own binary, not whatever else is called convert on the path.
convert=$(command -v convert-im6.q16 || echo /usr/bin/convert)

"$convert" -size 30x20 xc:red png:still.png
"$convert" -size 30x20 xc:blue -quality 95 jpg:still.jpg
"$convert" -size 30x20 xc:lime bmp3:still.bmp
"$convert" -size 300x100 xc:red png:wide.png
# Two frames, 20 and 50 hundredths of a second.
"$convert" -delay 20 -size 10x10 xc:red -delay 50 xc:blue -loop 0 gif:animated.gif
# A small blue frame drawn at 3,3 over a red one that stays.
"$convert" -size 10x10 xc:red \( -size 4x4 xc:blue -repage +3+3 \) -set dispose none \
    -set delay 1 -loop 0 gif:offset.gif
# Two sizes in one icon; the larger is shown.
"$convert" -size 16x16 xc:red \( -size 32x32 xc:blue \) ico:icon.ico
# A cursor is an icon file with type 2.
"$convert" -size 24x24 xc:lime ico:cursor.cur
printf '\x02' | dd of=cursor.cur bs=1 seek=2 conv=notrunc status=none
printf 'abc' >text.txt
head -c 40 still.png >truncated.png
# 20 frames of 2000 x 2000 (16 MB each as a picture): far more than fits in memory at once on a
# small machine if every frame were kept; the last one is lime.
frames=()
for i in $(seq 19); do frames+=(xc:red); done
"$convert" -size 2000x2000 -delay 2 "${frames[@]}" xc:lime -loop 0 gif:long.gif
