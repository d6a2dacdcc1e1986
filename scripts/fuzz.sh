#!/bin/sh
# Fuzzes the picture readers: every registered extension that has seeds
# (made by tests/fuzz/seeds/*.py) is fed to the libFuzzer target
# tests/fuzz/PictureFuzzer.cpp, built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz.
#
#   scripts/fuzz.sh [SECONDS]  a developer's run: SECONDS per extension
#                              (default 60); the corpus grows in
#                              build-fuzz/corpus/EXT, crashing inputs land
#                              in build-fuzz/crashes/
#   scripts/fuzz.sh --smoke    the short deterministic run of scripts/test.sh:
#                              from seed 1, a fixed number of runs shared out
#                              among the extensions, so that the run stays
#                              within a minute as readers are added
#
# Both first run every input kept in tests/fuzz/regressions again under the
# fuzz limits. An input that crashed, or ran out of memory or time, is kept
# as tests/fuzz/regressions/NAME.EXT; the ordinary test fuzz_regressions
# replays it from then on.
set -e
cd "$(dirname "$0")/.."
SMOKE_TOTAL_RUNS=10000
SMOKE_MIN_RUNS=300
mode=long
seconds=60
case "$1" in
  --smoke) mode=smoke ;;
  "") ;;
  *) seconds=$1 ;;
esac

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_FUZZ=ON \
  -DTOLVANE_SANITIZE=ON -DTOLVANE_TESTS=OFF -DTOLVANE_GUI=OFF -DCMAKE_C_FLAGS=-w -DCMAKE_CXX_FLAGS=-w >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target picture_fuzzer
fuzzer=$PWD/build-fuzz/tests/fuzz/picture_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/seeds"
for script in tests/fuzz/seeds/*.py; do
  /usr/bin/python3 "$script" "$work/seeds"
done
registered=$(TOLVANE_FUZZ_LIST=1 "$fuzzer" | sort -u)
extensions=""
for ext in $(find "$work/seeds" -type f -name '*.*' | sed 's/.*\.//' | sort -u); do
  if printf '%s\n' "$registered" | grep -qx "$ext"; then
    extensions="$extensions $ext"
  else
    echo "fuzz: .$ext has seeds but no class is registered for it; skipped"
  fi
done
for ext in $registered; do
  case " $extensions " in *" $ext "*) ;; *) echo "fuzz: .$ext has no seeds" ;; esac
done
count=$(echo $extensions | wc -w)
[ "$count" -gt 0 ] || { echo "fuzz: no seeds"; exit 1; }
smoke_runs=$((SMOKE_TOTAL_RUNS / count))
[ "$smoke_runs" -ge "$SMOKE_MIN_RUNS" ] || smoke_runs=$SMOKE_MIN_RUNS

# The fuzz build allows pictures of 2^24 pixels and 128 MiB of pixel memory
# (TOLVANE_FUZZ in picture/Graphics.h), so a load that needs more than these
# limits spends memory or time that its picture does not bound.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
limits="-rss_limit_mb=1024 -timeout=10"
mkdir -p build-fuzz/crashes

# Every kept input again, under the same limits.
for ext in $(ls tests/fuzz/regressions | sed -n 's/.*\.//p' | sort -u); do
  # shellcheck disable=SC2086
  if ! TOLVANE_FUZZ_EXT=$ext "$fuzzer" $limits tests/fuzz/regressions/*."$ext" >"$work/log" 2>&1; then
    cat "$work/log"
    echo "fuzz: a kept .$ext input in tests/fuzz/regressions fails under the fuzz limits"
    exit 1
  fi
done
echo "fuzz: the kept inputs pass under the fuzz limits"
for ext in $extensions; do
  if [ "$mode" = smoke ]; then
    corpus="$work/corpus-$ext"
    rm -rf "$corpus"
    mkdir "$corpus"
    runs="-runs=$smoke_runs -seed=1"
  else
    corpus="build-fuzz/corpus/$ext"
    mkdir -p "$corpus"
    runs="-max_total_time=$seconds"
  fi
  cp "$work/seeds"/*."$ext" "$corpus"/
  echo "fuzz: .$ext"
  # shellcheck disable=SC2086
  if ! TOLVANE_FUZZ_EXT=$ext "$fuzzer" $runs $limits -print_final_stats=0 \
      -artifact_prefix="build-fuzz/crashes/$ext-" "$corpus" >"$work/log" 2>&1; then
    cat "$work/log"
    echo "fuzz: .$ext failed; the input is in build-fuzz/crashes/ (keep it as tests/fuzz/regressions/NAME.$ext)"
    exit 1
  fi
  tail -n 1 "$work/log"
done
