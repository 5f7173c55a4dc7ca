#!/usr/bin/env bash
# Candidates a second of `kryvane-cli recover` (Rijndael with SHA-1, Blowfish with HAVAL among the
# slowest pairs, and the next slowest), on one core and on all, beside its nearest peers in one
# run: bruteforce-salted-openssl on an `openssl enc -aes-256-cbc -md sha1` file (one hash, one key
# schedule, a trial decryption per candidate) and hashcat's raw SHA-1 on the processor (the
# hashing limit).
#   bench/recover.sh [SECONDS]       (default 8 a measurement; needs build/)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-8}
cli=$PWD/build/cli/kryvane-cli
[ -x "$cli" ] || { echo "build first: scripts/test.sh" >&2; exit 1; }
work=$(mktemp -d)
[ -n "$work" ] || exit 1
trap 'rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
cores=$(nproc)
echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $cores cores"

for i in $(seq 120); do echo "Line $i of a letter kept for years."; done > "$work/plain"
printf 'not-in-the-space' > "$work/pw"
seal() {  # cipher hash
  "$cli" encrypt --no-progress --passphrase-file "$work/pw" -c "$1" -H "$2" "$work/plain" \
    "$work/$1-$2"
}

# Rate of one pair over a mask space that lasts about $seconds: a short run sizes it.
rate() {  # cipher hash jobs
  local file=$work/$1-$2 limit=200000 out
  [ -f "$file" ] || seal "$1" "$2"
  for _ in 1 2; do
    out=$("$cli" recover --fresh --no-progress --mask '?a?a?a?a?a?a' --limit "$limit" -c "$1" \
      -H "$2" -j "$3" "$file" 2>&1 || true)
    local r
    r=$(sed -n 's/.*candidates tried in .* (\(.*\) a second).*/\1/p' <<< "$out")
    local n
    n=$(awk -v r="$r" 'BEGIN { m = 1; if (r ~ /k$/) m = 1e3; if (r ~ /M$/) m = 1e6;
      if (r ~ /G$/) m = 1e9; sub(/[kMG]$/, "", r); printf "%.0f", r * m }')
    limit=$(( n * seconds > 200000 ? n * seconds : 200000 ))
  done
  echo "$r"
}

printf '\n%-28s %14s %14s\n' "kryvane-cli recover" "1 core /s" "$cores cores /s"
for pair in "rijndael sha1" "blowfish haval"; do
  set -- $pair
  printf '%-28s %14s %14s\n' "$1 + $2" "$(rate "$1" "$2" 1)" "$(rate "$1" "$2" "$cores")"
done
# The Blowfish pairs are the slowest (Blowfish's key schedule is 521 block encryptions); after
# them come ICE-2's (kryvane_recover_bench's SearchEveryPair times every pair alone).
set -- ${KRYVANE_SLOWEST_PAIR:-ice2 md4}
printf '%-28s %14s %14s\n' "$1 + $2 (next slowest)" "$(rate "$1" "$2" 1)" "$(rate "$1" "$2" "$cores")"

if command -v bruteforce-salted-openssl > /dev/null; then
  openssl enc -aes-256-cbc -md sha1 -pass pass:zzzzzz -in "$work/plain" -out "$work/ossl" 2> /dev/null
  # Five letters of twenty: 3.2 million candidates, none of them the password.
  start=$(date +%s.%N)
  bruteforce-salted-openssl -t "$cores" -c aes-256-cbc -d sha1 -l 5 -m 5 \
    -s abcdefghijklmnopqrst "$work/ossl" > /dev/null 2>&1 || true
  end=$(date +%s.%N)
  printf '%-28s %14s %14.0f\n' "bruteforce-salted-openssl" "" \
    "$(echo "3200000 / ($end - $start)" | bc -l)"
else
  echo "bruteforce-salted-openssl: not installed (apt-get install bruteforce-salted-openssl)"
fi
if command -v hashcat > /dev/null; then
  speed=$(hashcat -b -m 100 -D 1 --machine-readable --quiet 2> /dev/null | awk -F: '/^1:100:/ {print $6}' | tail -1)
  printf '%-28s %14s %14s\n' "hashcat raw SHA-1 (-D 1)" "" "${speed:-?} H/s"
else
  echo "hashcat: not installed (apt-get install hashcat pocl-opencl-icd)"
fi
