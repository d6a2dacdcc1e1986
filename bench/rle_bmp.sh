#!/bin/sh
# Load time of a 4000 x 3000 run-length 8-bit BMP against a 24-bit BMP of the
# same picture, through imgdump of a release build (best of RUNS loads each).
#   bench/rle_bmp.sh [BUILD_DIR] [RUNS]     (default build-rel, 5)
set -e
build=${1:-build-rel}
runs=${2:-5}
[ -x "$build/tools/imgdump" ] || {
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target imgdump >/dev/null
}
dir=${BENCH_DIR:-/tmp/tolvane-bench-rle}
mkdir -p "$dir"
if [ ! -f "$dir/rle8-dithered.bmp" ]; then
  # A photograph-like scene. Reduced to 256 colours without dithering it has
  # long runs; dithered, runs of one or two pixels and short absolute runs.
  convert -seed 7 -size 1000x750 plasma:fractal -blur 0x2 -resize 4000x3000! "$dir/scene.ppm"
  convert "$dir/scene.ppm" -type TrueColor "BMP3:$dir/rgb24.bmp"
  convert "$dir/scene.ppm" +dither -colors 256 -compress RLE "BMP3:$dir/rle8-smooth.bmp"
  convert "$dir/scene.ppm" -colors 256 -compress RLE "BMP3:$dir/rle8-dithered.bmp"
  convert "$dir/scene.ppm" -colors 256 -compress None "BMP3:$dir/pal8.bmp"
fi
best() {
  b=
  for _ in $(seq "$runs"); do
    s=$(date +%s.%N)
    "$build/tools/imgdump" "$1" >/dev/null
    t=$(awk -v a="$s" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
  done
  echo "$b"
}
t24=$(best "$dir/rgb24.bmp")
echo "24-bit: ${t24}s"
echo "8-bit: $(best "$dir/pal8.bmp")s"
for kind in smooth dithered; do
  f="$dir/rle8-$kind.bmp"
  t=$(best "$f")
  echo "RLE8 $kind ($(stat -c %s "$f") bytes): ${t}s, $(awk -v a="$t" -v b="$t24" 'BEGIN { printf "%.2f", a / b }') x 24-bit"
done
