#!/usr/bin/env bash
# Kryvane's speed beside the tools users would otherwise pick, measured side by side in one run.
# Only ratios from one run on one machine mean anything; run it on an otherwise idle machine.
#
#  raw   CBC over 8192-byte calls, one thread, wall time: build/bench/kryvane_speed against
#        `openssl speed -evp` (OpenSSL 3's legacy provider for Blowfish, CAST5, DES, IDEA, RC2,
#        RC4) and `botan speed` (Debian package botan), for every cipher; each peer runs right
#        after ours for the same cipher, so drift in the machine's speed hits both alike.
#        Every figure is the best of three runs or windows.
#  e2e   a cached file of SIZE MiB: kryvane-cli encrypt and decrypt (the target is durably on
#        disk when it returns) against `openssl enc` without and with a following `sync`, and
#        `dd bs=1M` of the same file as the floor. OpenSSL writes a salted header and so is not
#        file-compatible; only the times compare. Every timed run starts from a settled machine
#        (see settle below), so that the runs compare the programs, not the moment.
#
# Usage: bench/compare.sh [--raw|--e2e] [--seconds S] [--size MIB] [--settle S] [CIPHER ...]
#   default: both parts, 1 second per raw figure, 256 MiB, 5 seconds' settling, every cipher.
# Figures are decimal MB/s; "ratio" is ours divided by the fastest peer (or by openssl enc).
# The output is Markdown, ready to paste into the README: a line naming the machine, the load
# average before each part and after the last, and one table per part.
set -euo pipefail
cd "$(dirname "$0")/.."

parts="raw e2e"
seconds=1
size=256
settle_seconds=5
ciphers=()
while [ $# -gt 0 ]; do
  case "$1" in
    --raw) parts="raw" ;;
    --e2e) parts="e2e" ;;
    --seconds) seconds=$2; shift ;;
    --size) size=$2; shift ;;
    --settle) settle_seconds=$2; shift ;;
    -h|--help) awk 'NR > 1 && /^set /{ exit } NR > 1' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) ciphers+=("$1") ;;
  esac
  shift
done

speed=build/bench/kryvane_speed
cli=build/cli/kryvane-cli
for tool in "$speed" "$cli"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (scripts/test.sh)" >&2; exit 1; }
done
have() { command -v "$1" > /dev/null 2>&1; }
have openssl || echo "note: no openssl command; its columns stay empty" >&2
have botan || echo "note: no botan command (apt-get install botan); its columns stay empty" >&2
legacy=(-provider legacy -provider default)
whole_seconds=$(awk -v s="$seconds" 'BEGIN { printf "%d", s < 1 ? 1 : s + 0.5 }')
milliseconds=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 1000 }')

# ours, openssl's -evp name, botan's name ("-": the tool has no such cipher). Botan 2 has no RC2,
# TEA is set against XTEA, its closest relative there.
table='rijndael aes-256-cbc AES-256/CBC
blowfish bf-cbc Blowfish/CBC
cast128 cast5-cbc CAST-128/CBC
cast256 - CAST-256/CBC
des des-cbc DES/CBC
3des des-ede3-cbc TripleDES/CBC
ice - -
thinice - -
ice2 - -
idea idea-cbc IDEA/CBC
mars - -
misty1 - MISTY1/CBC
rc2 rc2-cbc -
rc4 rc4 RC4
serpent - Serpent/CBC
tea - XTEA/CBC
twofish - Twofish/CBC'

selected() {
  [ ${#ciphers[@]} -eq 0 ] && return 0
  local c
  for c in "${ciphers[@]}"; do [ "$c" = "$1" ] && return 0; done
  return 1
}

# Every peer figure is the best of three runs, as kryvane_speed reports the best of three
# windows: on a shared machine interference only ever slows a run down.
best_of_3() {  # command printing one figure or "-"; prints the largest
  local a b c
  a=$("$@"); b=$("$@"); c=$("$@")
  awk -v a="$a" -v b="$b" -v c="$c" 'BEGIN { m = -1; if (a != "-" && a + 0 > m) m = a + 0;
    if (b != "-" && b + 0 > m) m = b + 0; if (c != "-" && c + 0 > m) m = c + 0;
    if (m > 0) printf "%.1f", m; else print "-" }'
}

# MB/s from `openssl speed`, which prints thousands of bytes per second ("123.45k").
openssl_rate() {  # name, then nothing or -decrypt
  local name=$1 line
  shift
  have openssl || { echo -; return; }
  line=$(openssl speed -elapsed -seconds "$whole_seconds" -bytes 8192 "${legacy[@]}" "$@" \
    -evp "$name" 2> /dev/null | tail -n 1) || { echo -; return; }
  awk -v l="$line" 'BEGIN { n = split(l, f, " "); v = f[n]; sub(/k$/, "", v);
    if (v + 0 > 0) printf "%.1f", v / 1000; else print "-" }'
}

# MB/s from `botan speed` (MiB/s) for one direction; a stream cipher decrypts as it encrypts.
botan_rate() {  # name, encrypt|decrypt
  local out
  have botan || { echo -; return; }
  out=$(botan speed --msec="$milliseconds" --buf-size=8192 "$1" 2> /dev/null) || { echo -; return; }
  local direction=$2
  [ "$1" = "RC4" ] && direction=encrypt
  awk -v d=" $direction buffer size 8192" 'index($0, d) {
      for (i = 1; i <= NF; ++i) if ($i == "MiB/sec") v = $(i-1) }
    END { if (v != "") printf "%.1f", v * 1.048576; else print "-" }' <<< "$out"
}

# ours over the larger of the peers' figures, or "-" with no peer.
ratio() {
  awk -v a="$1" -v b="$2" -v c="$3" 'BEGIN { m = 0; if (b != "-" && b + 0 > m) m = b + 0;
    if (c != "-" && c + 0 > m) m = c + 0; if (m > 0) printf "%.2f", a / m; else print "-" }'
}

raw() {
  echo "## Raw CBC, 8192-byte calls, one thread (MB/s; ratio = kryvane / fastest peer)"
  echo
  echo "| cipher | kryvane enc | openssl enc | botan enc | ratio | kryvane dec | openssl dec | botan dec | ratio | dec/enc |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  local ours theirs bname line k_enc k_dec o_enc o_dec b_enc b_dec
  while read -r ours theirs bname; do
    selected "$ours" || continue
    line=$("$speed" "$seconds" "$ours")
    read -r _ k_enc k_dec <<< "$line"
    o_enc=-; o_dec=-; b_enc=-; b_dec=-
    if [ "$theirs" != "-" ]; then
      o_enc=$(best_of_3 openssl_rate "$theirs")
      if [ "$theirs" = "rc4" ]; then o_dec=$o_enc; else o_dec=$(best_of_3 openssl_rate "$theirs" -decrypt); fi
    fi
    if [ "$bname" != "-" ]; then
      b_enc=$(best_of_3 botan_rate "$bname" encrypt)
      b_dec=$(best_of_3 botan_rate "$bname" decrypt)
    fi
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$ours" \
      "$k_enc" "$o_enc" "$b_enc" "$(ratio "$k_enc" "$o_enc" "$b_enc")" \
      "$k_dec" "$o_dec" "$b_dec" "$(ratio "$k_dec" "$o_dec" "$b_dec")" \
      "$(awk -v a="$k_dec" -v b="$k_enc" 'BEGIN { printf "%.2f", a / b }')"
  done <<< "$table"
  echo
}

now() { date +%s.%N; }
seconds_of() {  # runs "$@" with its output discarded, prints the wall time
  local start
  start=$(now)
  "$@" > /dev/null 2>&1
  awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'
}
mbps() { awk -v t="$1" -v s="$size" 'BEGIN { printf "%.0f", s * 1.048576 / t }'; }

# On a virtual machine two things make a file write vary tenfold from one run to the next, for
# any program: the virtual disk takes about a gigabyte at full speed and then slows to a trickle
# until it has drained, and memory that the guest has lately returned to its host (free page
# reporting) is slow to touch again, so writing into fresh page cache can cost seconds of system
# time. So before each timed run: flush and let the disk drain, then write and delete a scratch
# file larger than the run's output, which never reaches the disk but leaves the run memory that
# is backed again. On a physical machine this only costs time.
settle() {
  sync
  sleep "$settle_seconds"
  dd if=/dev/zero of="$work/scratch" bs=1M count="$((size + 64))" status=none
  rm -f "$work/scratch"
}
timed() { settle; seconds_of "$@"; }

e2e() {
  work=$(mktemp -d "${TMPDIR:-/var/tmp}/kryvane-compare.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$work'" EXIT
  head -c "$((size * 1024 * 1024))" /dev/urandom > "$work/plain"
  cat "$work/plain" > /dev/null  # cached from here on
  sync
  export KRYVANE_BENCH_PW="benchmark passphrase"
  local dd_plain dd_sync
  dd_plain=$(timed dd if="$work/plain" of="$work/copy" bs=1M)
  rm -f "$work/copy"; sync
  dd_sync=$(timed dd if="$work/plain" of="$work/copy" bs=1M conv=fsync)
  rm -f "$work/copy"; sync
  echo "## End to end, a cached $size MiB file (MB/s)"
  echo
  echo "Floor: dd bs=1M $(mbps "$dd_plain") MB/s, with conv=fsync $(mbps "$dd_sync") MB/s."
  echo "kryvane-cli returns with the target durably on disk; openssl enc is shown without and with"
  echo "a following sync. ratio = kryvane / openssl enc without sync."
  echo
  echo "| cipher | kryvane enc | openssl enc | +sync | ratio | kryvane dec | openssl dec | +sync | ratio | dec/enc |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  local ours theirs bname k_enc k_dec o_enc o_encs o_dec o_decs r_enc r_dec
  while read -r ours theirs bname; do
    selected "$ours" || continue
    k_enc=$(timed "$cli" encrypt -c "$ours" -H sha256 --passphrase-env KRYVANE_BENCH_PW \
      --no-progress "$work/plain" "$work/k.enc")
    k_dec=$(timed "$cli" decrypt -c "$ours" -H sha256 --passphrase-env KRYVANE_BENCH_PW \
      --no-progress "$work/k.enc" "$work/k.dec")
    cmp -s "$work/plain" "$work/k.dec" || { echo "round trip failed for $ours" >&2; exit 1; }
    rm -f "$work/k.enc" "$work/k.dec"; sync
    o_enc=-; o_encs=-; o_dec=-; o_decs=-; r_enc=-; r_dec=-
    local ossl=(openssl enc "${legacy[@]}" "-$theirs" -pass env:KRYVANE_BENCH_PW -pbkdf2 -iter 1)
    # Some builds lack a cipher (Debian's OpenSSL 3 has no IDEA): leave its columns empty.
    if [ "$theirs" != "-" ] && have openssl && "${ossl[@]}" -in /dev/null -out /dev/null 2> /dev/null; then
      o_enc=$(timed "${ossl[@]}" -in "$work/plain" -out "$work/o.enc")
      o_dec=$(timed "${ossl[@]}" -d -in "$work/o.enc" -out "$work/o.dec")
      cmp -s "$work/plain" "$work/o.dec" || { echo "openssl round trip failed for $theirs" >&2; exit 1; }
      rm -f "$work/o.dec"; sync
      o_encs=$(timed sh -c "$(printf '%q ' "${ossl[@]}") -in '$work/plain' -out '$work/o2.enc' && sync")
      o_decs=$(timed sh -c "$(printf '%q ' "${ossl[@]}") -d -in '$work/o.enc' -out '$work/o.dec' && sync")
      rm -f "$work/o.enc" "$work/o2.enc" "$work/o.dec"; sync
      r_enc=$(awk -v a="$k_enc" -v b="$o_enc" 'BEGIN { printf "%.2f", b / a }')
      r_dec=$(awk -v a="$k_dec" -v b="$o_dec" 'BEGIN { printf "%.2f", b / a }')
      o_enc=$(mbps "$o_enc"); o_encs=$(mbps "$o_encs"); o_dec=$(mbps "$o_dec"); o_decs=$(mbps "$o_decs")
    fi
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$ours" "$(mbps "$k_enc")" \
      "$o_enc" "$o_encs" "$r_enc" "$(mbps "$k_dec")" "$o_dec" "$o_decs" "$r_dec" \
      "$(awk -v a="$k_dec" -v b="$k_enc" 'BEGIN { printf "%.2f", b / a }')"
  done <<< "$table"
  echo
  # Peak memory of the job, which must stay small and constant for any file size.
  if [ -x /usr/bin/time ]; then
    local first rss_enc rss_dec
    first=$(while read -r ours _; do selected "$ours" && { echo "$ours"; break; }; done <<< "$table")
    rss_enc=$( { /usr/bin/time -f %M "$cli" encrypt -c "$first" -H sha256 --passphrase-env \
      KRYVANE_BENCH_PW --no-progress "$work/plain" "$work/k.enc" > /dev/null; } 2>&1 | tail -1)
    rss_dec=$( { /usr/bin/time -f %M "$cli" decrypt -c "$first" -H sha256 --passphrase-env \
      KRYVANE_BENCH_PW --no-progress "$work/k.enc" "$work/k.dec" > /dev/null; } 2>&1 | tail -1)
    rm -f "$work/k.enc" "$work/k.dec"
    echo "Peak RSS of kryvane-cli on the $size MiB file ($first): encrypt $((rss_enc / 1024)) MiB," \
      "decrypt $((rss_dec / 1024)) MiB."
    echo
  fi
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u '+%Y-%m-%d %H:%M UTC')."
echo
for part in $parts; do
  echo "Load average (1, 5, 15 minutes) before this part: $(load)."
  echo
  "$part"
done
echo "Load average at the end: $(load)."
