#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through CTest.
#   scripts/test.sh              Release build in build/
#   scripts/test.sh --sanitize   ASan + UBSan build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=build
flags=(-DCMAKE_BUILD_TYPE=Release)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  # -O1 with line tables only: what the sanitizers need for exact reports, at half the compile
  # time of -O2 with full debug information.
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
    -DKRYVANE_SANITIZE=ON -DKRYVANE_BUILD_BENCH=OFF)
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
