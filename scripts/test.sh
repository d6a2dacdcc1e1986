#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test; warnings are errors here (TOLVANE_STRICT), never in a
# user's build. Then, unless ctest was given arguments (a chosen subset),
# the finder's search built with ThreadSanitizer and its tests, which
# fingerprint on several threads at once (in build-tsan), and the short
# deterministic fuzz run (scripts/fuzz.sh --smoke, in build-fuzz).
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

# Only what the search tests need; no windows (Qt's widgets are not built
# for the sanitizer and would only add noise).
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_GUI=OFF \
  -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build-tsan -j"$(nproc)" --target app_tests finddups
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j"$(nproc)" -R '^(Search|Grouping|FingerprintPool)\.|^finddups_end_to_end$')

./scripts/fuzz.sh --smoke
