#!/usr/bin/env bash
# Times `kryvane-cli convert` (one process: the legacy decryption, split over two cores for CBC,
# overlaps the sealing on the pipeline's writer thread) against `kryvane-cli decrypt | age -r`
# on the same cached legacy file, and against the two halves run one after the other: decrypt
# alone (to /dev/null) and `age -r` alone (of the cached plaintext). Wall time, run by run, each
# command right after the others so that a change in the machine's load hits all alike; the
# summary takes the best run of each.
#   bench/convert.sh [SIZE_MIB] [CIPHER]   (default 256 and blowfish; needs build/ and the age tools)
# Pick a cipher whose decryption is slow enough to matter: Rijndael decrypts faster than age seals.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-256}
cipher=${2:-blowfish}
runs=5
cli=$PWD/build/cli/kryvane-cli
[ -x "$cli" ] || { echo "build first: scripts/test.sh" >&2; exit 1; }
command -v age > /dev/null || { echo "needs the age tools (apt-get install age)" >&2; exit 1; }
work=$(mktemp -d)
[ -n "$work" ] && [ -d "$work" ] || exit 1
trap 'rm -rf "$work"' EXIT
# Text, as most legacy files hold, so that the guard lets it through.
head -c "$((size * 3 / 4 * 1024 * 1024))" /dev/urandom | base64 -w 76 > "$work/plain"
export KPW="benchmark passphrase"
"$cli" encrypt --passphrase-env KPW --no-progress -c "$cipher" "$work/plain" "$work/legacy"
age-keygen -o "$work/key.txt" 2> /dev/null
recipient=$(age-keygen -y "$work/key.txt")
cat "$work/legacy" "$work/plain" > /dev/null  # cached

# Each run writes a new file, as the pipe does: replacing one would add a flush to the disk. The
# files of earlier runs are deleted before the clock starts (deleting costs time of its own).
dec="$cli decrypt -c $cipher --passphrase-env KPW --no-progress"
convert="$cli convert -c $cipher --passphrase-env KPW --no-progress -r $recipient $work/legacy $work/c.age"
verify="$cli convert --verify -c $cipher --passphrase-env KPW --no-progress -r $recipient $work/legacy $work/v.age"
pipe="$dec $work/legacy - | age -r $recipient > $work/p.age"
# convert makes its file durable before it takes its name, as every job does; the pipe does not.
synced="$pipe; sync"
decrypt="$dec $work/legacy - > /dev/null"
seal="age -r $recipient -o $work/a.age $work/plain"

echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //') (family $(grep -m1 'cpu family' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), model $(grep -m1 '^model[[:space:]]*:' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')), $(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "legacy file: $(du -m "$work/legacy" | cut -f1) MiB, $cipher with HAVAL; $(age --version 2> /dev/null | head -1 | sed 's/^/age /')"
# Waits (up to 20 s) for half a second in which the processor was at least 90% idle: on a
# machine that others use, a run that shares the cores measures them, not the programs.
quiet() {
  local t a b c d u n s i w x y z
  for t in $(seq 40); do
    read -r _ u n s i w x y z _ < /proc/stat
    a=$((u + n + s + i + w + x + y + z)) b=$i
    sleep 0.5
    read -r _ u n s i w x y z _ < /proc/stat
    c=$((u + n + s + i + w + x + y + z)) d=$i
    [ $(((d - b) * 100 / (c - a))) -ge 90 ] && return 0
  done
  echo "(the machine stayed busy)" >&2
}
seconds() {
  local start end
  # The previous run's dirty pages go to the disk first, not during this one.
  rm -f "$work"/*.age
  sync
  quiet
  start=$(date +%s.%N)
  eval "$1"
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
best() { printf '%s\n' "$@" | sort -g | head -1; }
format='%-5s %9.2f %10.2f %15.2f %10.2f %9.2f %8.2f %8.2f\n'
printf '%-5s %9s %10s %15s %10s %9s %8s %8s\n' run convert "--verify" "decrypt | age" "+ sync" decrypt "age -r" halves
cs=() vs=() ps=() ss=() ds=() as=()
for run in $(seq "$runs"); do
  c=$(seconds "$convert") v=$(seconds "$verify") p=$(seconds "$pipe") y=$(seconds "$synced")
  d=$(seconds "$decrypt") a=$(seconds "$seal")
  cs+=("$c") vs+=("$v") ps+=("$p") ss+=("$y") ds+=("$d") as+=("$a")
  printf "$format" "$run" "$c" "$v" "$p" "$y" "$d" "$a" "$(echo "$d + $a" | bc)"
done
c=$(best "${cs[@]}") v=$(best "${vs[@]}") p=$(best "${ps[@]}") y=$(best "${ss[@]}")
d=$(best "${ds[@]}") a=$(best "${as[@]}")
printf "$format" best "$c" "$v" "$p" "$y" "$d" "$a" "$(echo "$d + $a" | bc)"
slower=$(printf '%s\n' "$d" "$a" | sort -g | tail -1)
printf 'convert against the pipe: %.2fx (with its sync: %.2fx); against the halves one after the other: %.2fx; its time over the slower half: %.2f\n' \
  "$(echo "$p / $c" | bc -l)" "$(echo "$y / $c" | bc -l)" "$(echo "($d + $a) / $c" | bc -l)" \
  "$(echo "$c / $slower" | bc -l)"
eval "$convert"
age -d -i "$work/key.txt" "$work/c.age" | cmp - "$work/plain" && echo "convert's file decrypts with age"
