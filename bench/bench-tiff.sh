#!/bin/sh
# Benchmark: the search over TIFF photographs (2000 x 1500 RGB) on one
# thread against the floor of libtiff's own strip decode of the same files
# (bench/tiff_floor.cpp), set by set: uncompressed, PackBits, deflate, LZW
# with the predictor and JPEG (YCbCr). Odd-numbered files are written by
# pnmtotiff, even-numbered ones by tiffcp (JPEG: all by tiffcp). Release
# build; everything runs pinned to one processor.
#   bench/bench-tiff.sh [COUNT] [BUILD_DIR]   (defaults: 30, build-rel)
# Environment: RUNS (default 5) alternating runs of the two commands per
# set, CPU (default 0) the processor, BENCH_DIR (default
# /tmp/tolvane-bench-tiff) where the pictures are made once, FINDDUPS a
# finddups to time instead of BUILD_DIR's. Each line gives the medians of
# the two and the median of the run-by-run ratios.
set -e
cd "$(dirname "$0")/.."
count=${1:-30}
build=${2:-build-rel}
runs=${RUNS:-5}
cpu=${CPU:-0}
dir=${BENCH_DIR:-/tmp/tolvane-bench-tiff}

if [ -z "$FINDDUPS" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target finddups >/dev/null
fi
finddups=${FINDDUPS:-$build/tools/finddups}
floor="$build/bench-tiff-floor"
if [ ! -x "$floor" ] || [ bench/tiff_floor.cpp -nt "$floor" ]; then
  c++ -std=c++20 -O2 -o "$floor" bench/tiff_floor.cpp -ltiff
fi

# The pictures: one plasma photograph per number, written into each set.
mkdir -p "$dir/src" "$dir/none" "$dir/packbits" "$dir/deflate" "$dir/lzw" "$dir/jpeg"
seq 1 "$count" | xargs -P 4 -I{} sh -c '
  d=$1; n=$2; p=$d/src/p$n
  [ -f "$d/jpeg/p$n.tif" ] && exit 0
  convert-im6.q16 -seed "$n" -size 2000x1500 plasma:fractal -blur 0x1 -depth 8 "$p.ppm"
  pnmtotiff "$p.ppm" >"$p.tif" 2>/dev/null
  if [ $((n % 2)) -eq 1 ]; then
    cp "$p.tif" "$d/none/p$n.tif"
    pnmtotiff -packbits "$p.ppm" >"$d/packbits/p$n.tif" 2>/dev/null
    pnmtotiff -flate "$p.ppm" >"$d/deflate/p$n.tif" 2>/dev/null
    pnmtotiff -lzw -predictor=2 "$p.ppm" >"$d/lzw/p$n.tif" 2>/dev/null
  else
    tiffcp -c none "$p.tif" "$d/none/p$n.tif"
    tiffcp -c packbits "$p.tif" "$d/packbits/p$n.tif"
    tiffcp -c zip "$p.tif" "$d/deflate/p$n.tif"
    tiffcp -c lzw:2 "$p.tif" "$d/lzw/p$n.tif"
  fi
  tiffcp -c jpeg -r 16 "$p.tif" "$d/jpeg/p$n.tif"
  rm -f "$p.ppm" "$p.tif"' sh "$dir" {}

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
pinned() { taskset -c "$cpu" "$@" >/dev/null; }

printf '%-10s %6s %12s %12s %8s\n' set files "finddups s" "libtiff s" ratio
for set in none packbits deflate lzw jpeg; do
  files=$(find "$dir/$set" -name 'p*.tif' | sort -V | head -n "$count")
  # Read every file once, so that both start from the page cache.
  cat $files >/dev/null
  ours=""; theirs=""; ratios=""
  for _ in $(seq "$runs"); do
    s=$(now); pinned "$finddups" "$dir/$set" 10 --jobs 1; a=$(awk -v s="$s" -v e="$(now)" 'BEGIN { print e - s }')
    s=$(now); pinned "$floor" $files; b=$(awk -v s="$s" -v e="$(now)" 'BEGIN { print e - s }')
    ours="$ours $a"; theirs="$theirs $b"; ratios="$ratios $(awk -v a="$a" -v b="$b" 'BEGIN { print a / b }')"
  done
  printf '%-10s %6d %12.3f %12.3f %8.2f\n' "$set" "$(echo "$files" | wc -l)" \
    "$(echo $ours | tr ' ' '\n' | median)" "$(echo $theirs | tr ' ' '\n' | median)" \
    "$(echo $ratios | tr ' ' '\n' | median)"
done
echo "runs: $runs on processor $cpu; load: $(uptime | sed 's/.*load average: //')"
