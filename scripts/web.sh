#!/usr/bin/env bash
# Builds the offline page build-web/kryvane.html: the library compiled to WebAssembly with
# Debian's emscripten, inlined with the page's script into one file.
#   scripts/web.sh          build it
#   scripts/web.sh --test   build it, then test the module under node and the page in headless
#                           Chromium (what CI runs)
set -euo pipefail
cd "$(dirname "$0")/.."
test=0
[ "${1:-}" = "--test" ] && test=1
extra=(emscripten)
[ $test -eq 1 ] && extra+=(chromium chromium-driver python3-selenium)
scripts/deps.sh "${extra[@]}"

# Debian's emscripten runs its JavaScript optimizer with node; a node that is not Debian's does
# not look in /usr/share/nodejs, where emscripten's acorn lives.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f build-web/build.ninja ]; then
  emcmake cmake --preset web "${launcher[@]}" >/dev/null
fi
cmake --build build-web
echo "built build-web/kryvane.html ($(stat -c %s build-web/kryvane.html) bytes)"
[ $test -eq 1 ] || exit 0

node --test tests/web/
/usr/bin/python3 tests/web/page_test.py build-web/kryvane.html
