#!/usr/bin/env bash
# Renews the README's screenshots in docs/: the window and the about box on a light desktop, and
# the window after a failed job on a dark desktop theme. Needs xvfb-run (package xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target kryvane-screenshots
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" build/app/window/kryvane-screenshots docs
