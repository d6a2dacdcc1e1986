#!/bin/sh
# Benchmark: fingerprints of large JPEG photographs against the floor of
# decoding them at one eighth with libjpeg (in the same process, and as one
# djpeg -scale 1/8 per file). Usage: bench/bench-fingerprint.sh [COUNT]
set -e
cd "$(dirname "$0")/.."
COUNT=${1:-200}
DIR=${BENCH_DIR:-/tmp/tolvane-bench-jpeg}
mkdir -p "$DIR"
seq 1 "$COUNT" | xargs -P 4 -I{} sh -c \
  "[ -f '$DIR/p{}.jpg' ] || convert -seed {} -size 4000x3000 plasma:fractal -quality 90 '$DIR/p{}.jpg'"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVANE_TESTS=OFF -DTOLVANE_GUI=OFF >/dev/null
cmake --build build-bench --target bench_fingerprint >/dev/null
build-bench/bench/bench_fingerprint "$DIR"/p*.jpg
start=$(date +%s.%N)
for f in "$DIR"/p*.jpg; do djpeg -scale 1/8 "$f" > /dev/null; done
end=$(date +%s.%N)
echo "djpeg -scale 1/8, one process per file: $(echo "($end - $start) * 1000 / $COUNT" | bc -l | cut -c1-6) ms per file"
