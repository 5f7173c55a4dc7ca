#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through CTest.
#   scripts/test.sh              Release build in build/ (the release preset)
#   scripts/test.sh --sanitize   ASan + UBSan build in build-sanitize/ (the sanitize preset: -O1
#                                with line tables, what the sanitizers need for exact reports, at
#                                half the compile time of -O2 with full debug information)
set -euo pipefail
cd "$(dirname "$0")/.."
# hashcat (from Debian) only for the test that compares `recover --stdout` with `hashcat --stdout`.
# It wants an OpenCL platform even for that: pocl, and the loader that its package does not pull in
# (without it hashcat finds no platform and stops).
scripts/deps.sh hashcat pocl-opencl-icd ocl-icd-libopencl1
preset=release
[ "${1:-}" = "--sanitize" ] && preset=sanitize
cmake --preset "$preset"
cmake --build --preset "$preset"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" -j "$(nproc)"
