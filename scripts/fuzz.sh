#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and UBSan in build-fuzz/,
# and runs each on its seed corpus (fuzz/corpus/TARGET) for a fixed time, two at a time.
#   scripts/fuzz.sh                   every target for 15 s (what CI runs)
#   scripts/fuzz.sh SECONDS [TARGET...]
# New inputs go to build-fuzz/corpus/TARGET, a failing input to build-fuzz/artifacts/; the seeds
# in the repository are only read. To add what a long run found to the seeds:
#   build-fuzz/fuzz/TARGET -merge=1 fuzz/corpus/TARGET build-fuzz/corpus/TARGET
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(base64_fuzz codepage_fuzz settings_fuzz text_fuzz cipher_fuzz age_fuzz
  detector_fuzz)

scripts/deps.sh clang libclang-rt-14-dev
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f build-fuzz/build.ninja ]; then
  cmake --preset fuzz "${launcher[@]}" >/dev/null
fi
cmake --build build-fuzz --target "${targets[@]}"

mkdir -p build-fuzz/artifacts
run() {
  local t=$1
  mkdir -p "build-fuzz/corpus/$t"
  if build-fuzz/fuzz/"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" \
    "build-fuzz/corpus/$t" "fuzz/corpus/$t" >"build-fuzz/$t.log" 2>&1; then
    echo "$t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "build-fuzz/$t.log" |
      grep -o '[0-9]*$') runs, nothing found"
  else
    tail -40 "build-fuzz/$t.log"
    echo "$t: FOUND A FAULT (input in build-fuzz/artifacts/)"
    return 1
  fi
}
failed=0
pids=()
for t in "${targets[@]}"; do
  run "$t" &
  pids+=($!)
  if [ ${#pids[@]} -eq 2 ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[1]}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || failed=1; done
exit $failed
