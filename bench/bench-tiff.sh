#!/bin/sh
# Benchmark: loading large TIFF photographs (4000 x 3000 RGB, LZW with the
# predictor and deflate) through the picture registry against libtiff's
# tiffcp -c none on the same files, in the same run.
# Usage: bench/bench-tiff.sh [COUNT]
set -e
cd "$(dirname "$0")/.."
COUNT=${1:-6}
DIR=${BENCH_DIR:-/tmp/tolvane-bench-tiff}
mkdir -p "$DIR"
seq 1 "$COUNT" | xargs -P 4 -I{} sh -c \
  "cd '$DIR' && [ -f p{}-zip.tif ] || { convert-im6.q16 -seed {} -size 4000x3000 plasma:fractal -blur 0x1 -depth 8 p{}.ppm &&
   pnmtotiff p{}.ppm > p{}.tif 2>/dev/null && tiffcp -c lzw:2 p{}.tif p{}-lzw.tif && tiffcp -c zip p{}.tif p{}-zip.tif &&
   rm p{}.ppm p{}.tif; }"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVANE_TESTS=OFF -DTOLVANE_GUI=OFF >/dev/null
cmake --build build-bench --target bench_load >/dev/null
echo "LZW with the predictor:"
build-bench/bench/bench_load --reference=tiffcp "$DIR"/p*-lzw.tif
echo "deflate:"
build-bench/bench/bench_load --reference=tiffcp "$DIR"/p*-zip.tif
