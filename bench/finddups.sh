#!/bin/sh
# The search on many large photographs: finddups on one thread, finddups on
# every core, and the floor of decoding the same files with the bare
# libraries on one core (bench/decode_floor.cpp), for JPEG (at one eighth,
# as the search decodes them) and for PNG, in one run. Release build.
#   bench/finddups.sh [BUILD_DIR] [JPEG_COUNT] [PNG_COUNT]
#                     (defaults: build-rel, 2000, 300)
# The pictures are made once in $BENCH_DIR (default /tmp/tolvane-bench-search).
# Each figure is the best of $RUNS runs (default 3). Times are wall-clock:
# report the core count and the load printed at the end with them.
set -e
cd "$(dirname "$0")/.."
build=${1:-build-rel}
jpegs=${2:-2000}
pngs=${3:-300}
runs=${RUNS:-3}
dir=${BENCH_DIR:-/tmp/tolvane-bench-search}

if [ ! -x "$build/tools/finddups" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target finddups >/dev/null
fi
floor="$build/bench-decode-floor"
if [ ! -x "$floor" ] || [ bench/decode_floor.cpp -nt "$floor" ]; then
  c++ -std=c++20 -O2 -o "$floor" bench/decode_floor.cpp -ljpeg -lpng
fi
/usr/bin/python3 bench/make_search_pictures.py "$dir" "$jpegs" "$pngs"

# Seconds of the best of $runs runs of the command.
best() {
  b=
  for _ in $(seq "$runs"); do
    s=$(date +%s.%N)
    "$@" >/dev/null
    t=$(awk -v a="$s" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
  done
  echo "$b"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

for kind in jpeg png; do
  files=$(find "$dir/$kind" -type f | sort)
  count=$(echo "$files" | wc -l)
  # Read every file once, so that all three start from the page cache.
  cat $files >/dev/null
  one=$(best "$build/tools/finddups" "$dir/$kind" 10 --jobs 1)
  all=$(best "$build/tools/finddups" "$dir/$kind" 10)
  bare=$(best "$floor" $files)
  if ! "$build/tools/finddups" "$dir/$kind" 10 --jobs 1 | cmp -s - "$dir/$kind.all-cores.kvl" 2>/dev/null; then
    "$build/tools/finddups" "$dir/$kind" 10 >"$dir/$kind.all-cores.kvl"
    "$build/tools/finddups" "$dir/$kind" 10 --jobs 1 | cmp - "$dir/$kind.all-cores.kvl"
  fi
  echo "$kind: $count files"
  echo "  finddups --jobs 1:      ${one} s ($(ratio "$one" "$bare") x the floor)"
  echo "  finddups, all cores:    ${all} s ($(ratio "$one" "$all") x faster than --jobs 1)"
  echo "  library floor, 1 core:  ${bare} s"
done
echo "cores: $(nproc); load: $(uptime | sed 's/.*load average: //')"
