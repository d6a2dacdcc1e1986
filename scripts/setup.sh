#!/bin/sh
# Installs what is missing, builds Tolvane and starts ravelk (arguments are
# passed on: an optional directory and threshold).
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/app/ravelk ]; then
  exec build/app/ravelk "$@"
fi
echo "Built into build/ (the window of ravelk is not built yet)."
