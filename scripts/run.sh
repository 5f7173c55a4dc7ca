#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target kryvane kryvane-cli
if [ -x build/app/kryvane ]; then
  exec build/app/kryvane "$@"
fi
exec build/cli/kryvane-cli --help
