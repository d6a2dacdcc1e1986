#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test; warnings are errors here (TOLVANE_STRICT), never in a
# user's build. Then, unless ctest was given arguments (a chosen subset),
# the short deterministic fuzz run (scripts/fuzz.sh --smoke, in build-fuzz).
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=ON -DTOLVANE_STRICT=ON >/dev/null
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-test && ctest --output-on-failure -j"$(nproc)" "$@")
[ $# -eq 0 ] || exit 0
unset ASAN_OPTIONS UBSAN_OPTIONS
./scripts/fuzz.sh --smoke
