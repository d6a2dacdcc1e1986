#!/bin/sh
# Makes COUNT pictures (default 2000) in DIR for the search benchmarks:
# photograph-like scenes, each in a dozen forms (resized, recompressed,
# brightened, cropped, as BMP), about 80% JPEG and 20% BMP.
#   bench/make_pictures.sh DIR [COUNT]
# Then, from a release build:
#   time build-rel/tools/finddups DIR 10 >/dev/null
#   build-rel/bench/search_profile DIR 10
set -e
dir=$1
count=${2:-2000}
[ -n "$dir" ] || { echo "usage: $0 DIR [COUNT]" >&2; exit 2; }
mkdir -p "$dir"
bases=$(( (count + 11) / 12 ))
seq 1 "$bases" | xargs -P 4 -I{} sh -c '
  d=$1; n=$2
  b="$d/base_$n.ppm"
  convert -seed "$n" -size 1024x768 plasma:fractal -blur 0x3 "$b"
  convert "$b" -quality 92 "$d/img_${n}_a.jpg"
  convert "$b" -resize 1600x1200 -quality 85 "$d/img_${n}_b.jpg"
  convert "$b" -resize 640x480 -quality 75 "$d/img_${n}_c.jpg"
  convert "$b" -quality 40 "$d/img_${n}_d.jpg"
  convert "$b" -modulate 110 -quality 90 "$d/img_${n}_e.jpg"
  convert "$b" -gravity center -crop 90%x90%+0+0 -quality 90 "$d/img_${n}_f.jpg"
  convert "$b" -flop -quality 90 "$d/img_${n}_g.jpg"
  convert "$b" -rotate 180 -quality 90 "$d/img_${n}_h.jpg"
  convert "$b" -resize 2048x1536 -quality 88 "$d/img_${n}_i.jpg"
  convert "$b" -type TrueColor "BMP3:$d/img_${n}_j.bmp"
  convert "$b" -resize 800x600 -type TrueColor "BMP3:$d/img_${n}_k.bmp"
  convert "$b" -blur 0x1 -quality 80 "$d/img_${n}_l.jpg"
  rm "$b"
' sh "$dir" {}
ls "$dir" | sort | tail -n +$((count + 1)) | (cd "$dir" && xargs -r rm)
echo "$(ls "$dir" | wc -l) pictures in $dir"
