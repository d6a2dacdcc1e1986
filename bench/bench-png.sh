#!/bin/sh
# Benchmark: loading large PNG photographs through the picture registry
# against pngtopam decoding the same files, in the same run.
# Usage: bench/bench-png.sh [COUNT]
set -e
cd "$(dirname "$0")/.."
COUNT=${1:-12}
DIR=${BENCH_DIR:-/tmp/tolvane-bench-png}
mkdir -p "$DIR"
seq 1 "$COUNT" | xargs -P 4 -I{} sh -c \
  "[ -f '$DIR/p{}.png' ] || convert -seed {} -size 4000x3000 plasma:fractal -blur 0x1 PNG24:'$DIR/p{}.png'"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVANE_TESTS=OFF -DTOLVANE_GUI=OFF >/dev/null
cmake --build build-bench --target bench_load >/dev/null
build-bench/bench/bench_load --reference=pngtopam "$DIR"/p*.png
