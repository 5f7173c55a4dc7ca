#!/usr/bin/env bash
# Speed of the offline page against the native code, in one run: raw CBC MB/s of Blowfish,
# Rijndael and Serpent in the page's worker in headless Chromium beside kryvane_speed's portable
# path (what WebAssembly has) and its processor paths; then a whole decryption of a file through
# the page's 1 MiB slice loop into a save target that discards it, with the browser's peak memory
# (proportional set size, so shared pages count once).
#   bench/web.sh [SECONDS_PER_FIGURE] [JOB_SIZE]     (default 1 second, 1G)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1}
size=${2:-1G}
ciphers=(blowfish rijndael serpent)
scripts/deps.sh chromium chromium-driver python3-selenium
scripts/web.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target kryvane_speed

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Zeros read as fast as any bytes, and a sparse file costs no disk.
truncate -s "$size" "$scratch/job.bin"

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
build/bench/kryvane_speed --portable "$seconds" "${ciphers[@]}" > "$scratch/portable"
build/bench/kryvane_speed "$seconds" "${ciphers[@]}" > "$scratch/native"
/usr/bin/python3 bench/web_speed.py build-web/kryvane.html "$seconds" "$scratch/job.bin" \
  "${ciphers[@]}" > "$scratch/web"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "| cipher | wasm enc | wasm dec | portable enc | portable dec | ratio enc | ratio dec | native enc | native dec |"
echo "|---|---|---|---|---|---|---|---|---|"
for c in "${ciphers[@]}"; do
  read -r _ we wd < <(grep "^$c " "$scratch/web")
  read -r _ pe pd < <(grep "^$c " "$scratch/portable")
  read -r _ ne nd < <(grep "^$c " "$scratch/native")
  awk -v c="$c" -v we="$we" -v wd="$wd" -v pe="$pe" -v pd="$pd" -v ne="$ne" -v nd="$nd" \
    'BEGIN { printf "| %s | %.1f | %.1f | %.1f | %.1f | %.2f | %.2f | %.1f | %.1f |\n",
             c, we, wd, pe, pd, we / pe, wd / pd, ne, nd }'
done
echo
echo "Decryption of a $size file through the page (1 MiB slices, discarding save target):"
echo "| cipher | MB/s | tab peak MiB | tab idle MiB | browser peak MiB | browser idle MiB |"
echo "|---|---|---|---|---|---|"
grep '^job ' "$scratch/web" | while read -r _ c rate tpeak tidle peak idle; do
  echo "| $c | $rate | $tpeak | $tidle | $peak | $idle |"
done
