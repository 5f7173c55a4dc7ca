#!/usr/bin/env bash
# Times `kryvane-cli convert` (one process, legacy decryption and sealing on two threads) against
# `kryvane-cli decrypt | age -r` on the same cached legacy file, in one run, pair by pair; the
# ratio is the pipe's time over convert's (above 1: convert is faster).
#   bench/convert.sh [SIZE_MIB]        (default 256; needs build/ and the age tools)
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-256}
cli=$PWD/build/cli/kryvane-cli
[ -x "$cli" ] || { echo "build first: scripts/test.sh" >&2; exit 1; }
command -v age > /dev/null || { echo "needs the age tools (apt-get install age)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Text, as most legacy files hold, so that the guard lets it through.
head -c "$((size * 3 / 4 * 1024 * 1024))" /dev/urandom | base64 -w 76 > "$work/plain"
export KPW="benchmark passphrase"
"$cli" encrypt --passphrase-env KPW --no-progress "$work/plain" "$work/legacy"
age-keygen -o "$work/key.txt" 2> /dev/null
recipient=$(age-keygen -y "$work/key.txt")
cat "$work/legacy" > /dev/null  # cached

# Each run writes a new file, as the pipe does: replacing one would add a flush to the disk.
convert="sh -c 'rm -f $work/c.age; $cli convert --passphrase-env KPW --no-progress -r $recipient $work/legacy $work/c.age'"
verify="sh -c 'rm -f $work/v.age; $cli convert --verify --passphrase-env KPW --no-progress -r $recipient $work/legacy $work/v.age'"
pipe="sh -c '$cli decrypt --passphrase-env KPW --no-progress $work/legacy - | age -r $recipient > $work/p.age'"

echo "legacy file: $(du -m "$work/legacy" | cut -f1) MiB, Blowfish with HAVAL (the defaults)"
seconds() {
  local start end
  start=$(date +%s.%N)
  eval "$1"
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
# Pair by pair, so that a change in the machine's load hits both sides alike.
printf '%-5s %12s %20s %22s %7s\n' run "convert s" "convert --verify s" "decrypt | age -r s" ratio
for run in 1 2 3 4 5; do
  c=$(seconds "$convert") v=$(seconds "$verify") p=$(seconds "$pipe")
  printf '%-5s %12.2f %20.2f %22.2f %6.2fx\n' "$run" "$c" "$v" "$p" "$(echo "$p / $c" | bc -l)"
done
age -d -i "$work/key.txt" "$work/c.age" | cmp - "$work/plain" && echo "convert's file decrypts with age"
