#!/usr/bin/env bash
# Kryvane's speed beside the tools users would otherwise pick, measured side by side in one run.
# Only ratios from one run on one machine mean anything; run it on an otherwise idle machine.
#
#  raw   CBC over 8192-byte calls, one thread, wall time: build/bench/kryvane_speed against
#        `openssl speed -evp` (OpenSSL 3's legacy provider for Blowfish, CAST5, DES, IDEA, RC2,
#        RC4) and `botan speed` (Debian package botan), for every cipher; each peer runs right
#        after ours for the same cipher, so drift in the machine's speed hits both alike.
#        Every figure is the best of three runs or windows.
#  hash  a cached file of SIZE MiB: `kryvane-cli hash` of every hash against `openssl dgst` and
#        the coreutils tool (sha256sum ...) where they have it; wall time, best of three, each
#        tool right after ours.
#  e2e   a cached file of SIZE MiB: kryvane-cli encrypt and decrypt (the target is durably on
#        disk when it returns) against `openssl enc` without and with a following `sync`, and
#        `dd bs=1M` of the same file as the floor. OpenSSL writes a salted header and so is not
#        file-compatible; only the times compare. Every timed run starts from a settled machine
#        (see settle below), so that the runs compare the programs, not the moment.
#
# --cpu divides by processor time instead of wall time in the raw and hash parts (kryvane_speed
# --cpu, `openssl speed` without -elapsed, botan's figure scaled by the share of the processor
# it got, and user + system time of each hash run): on a machine that others are using, wall
# time says more about them than about the programs. The end-to-end part stays wall time.
#
# Usage: bench/compare.sh [--raw|--hash|--e2e] [--cpu] [--seconds S] [--size MIB] [--settle S] [CIPHER ...]
#   default: all three parts (the part options add up), 1 second per raw figure, 256 MiB, 5 seconds' settling, every
#   cipher. The processor and the path each algorithm took on it (`kryvane-cli list --paths`:
#   chosen by measurement at first keying; KRYVANE_CPU_PATH sets the highest) are printed first.
# Figures are decimal MB/s; "ratio" is ours divided by the fastest peer (or by openssl enc).
# The output is Markdown, ready to paste into the README: a line naming the machine, the load
# average before each part and after the last, and one table per part.
set -euo pipefail
cd "$(dirname "$0")/.."

parts=""
seconds=1
size=256
settle_seconds=5
cpu=0
ciphers=()
while [ $# -gt 0 ]; do
  case "$1" in
    --raw) parts+=" raw" ;;
    --hash) parts+=" hashes" ;;
    --e2e) parts+=" e2e" ;;
    --cpu) cpu=1 ;;
    --seconds) seconds=$2; shift ;;
    --size) size=$2; shift ;;
    --settle) settle_seconds=$2; shift ;;
    -h|--help) awk 'NR > 1 && /^set /{ exit } NR > 1' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) ciphers+=("$1") ;;
  esac
  shift
done

[ -n "$parts" ] || parts="raw hashes e2e"
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
  local elapsed=-elapsed
  [ "$cpu" = 1 ] && elapsed=
  # shellcheck disable=SC2086
  line=$(openssl speed $elapsed -seconds "$whole_seconds" -bytes 8192 "${legacy[@]}" "$@" \
    -evp "$name" 2> /dev/null | tail -n 1) || { echo -; return; }
  awk -v l="$line" 'BEGIN { n = split(l, f, " "); v = f[n]; sub(/k$/, "", v);
    if (v + 0 > 0) printf "%.1f", v / 1000; else print "-" }'
}

# MB/s from `botan speed` (MiB/s) for one direction; a stream cipher decrypts as it encrypts.
botan_rate() {  # name, encrypt|decrypt
  local out
  have botan || { echo -; return; }
  local share=1
  if [ "$cpu" = 1 ] && [ -x /usr/bin/time ]; then
    # Botan times wall clock only: scale its figure by wall / processor time of its run.
    out=$( { /usr/bin/time -f 'TIMES %e %U %S' botan speed --msec="$milliseconds" \
      --buf-size=8192 "$1"; } 2>&1) || { echo -; return; }
    share=$(awk '$1 == "TIMES" { c = $3 + $4; print (c > 0 ? $2 / c : 1) }' <<< "$out")
  else
    out=$(botan speed --msec="$milliseconds" --buf-size=8192 "$1" 2> /dev/null) || { echo -; return; }
  fi
  local direction=$2
  [ "$1" = "RC4" ] && direction=encrypt
  awk -v d=" $direction buffer size 8192" -v s="$share" 'index($0, d) {
      for (i = 1; i <= NF; ++i) if ($i == "MiB/sec") v = $(i-1) }
    END { if (v != "") printf "%.1f", v * 1.048576 * s; else print "-" }' <<< "$out"
}

# ours over the larger of the peers' figures, or "-" with no peer.
ratio() {
  awk -v a="$1" -v b="$2" -v c="$3" 'BEGIN { m = 0; if (b != "-" && b + 0 > m) m = b + 0;
    if (c != "-" && c + 0 > m) m = c + 0; if (m > 0) printf "%.2f", a / m; else print "-" }'
}

raw() {
  echo "## Raw CBC, 8192-byte calls, one thread (MB/s of $clock; ratio = kryvane / fastest peer)"
  echo
  echo "| cipher | path enc/dec | kryvane enc | openssl enc | botan enc | ratio | kryvane dec | openssl dec | botan dec | ratio | dec/enc |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|"
  local ours theirs bname line k_enc k_dec o_enc o_dec b_enc b_dec
  while read -r ours theirs bname; do
    selected "$ours" || continue
    if [ "$cpu" = 1 ]; then line=$("$speed" --cpu "$seconds" "$ours"); else line=$("$speed" "$seconds" "$ours"); fi
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
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$ours" "$(path_of "$ours")" \
      "$k_enc" "$o_enc" "$b_enc" "$(ratio "$k_enc" "$o_enc" "$b_enc")" \
      "$k_dec" "$o_dec" "$b_dec" "$(ratio "$k_dec" "$o_dec" "$b_dec")" \
      "$(awk -v a="$k_dec" -v b="$k_enc" 'BEGIN { printf "%.2f", a / b }')"
  done <<< "$table"
  echo
}

# "encrypt/decrypt" paths of a cipher, or the one path of a hash, as `list --paths` printed them.
path_of() {
  awk -v n="$1" '$1 == n { print ($3 == "-" ? $2 : $2 "/" $3); exit }' <<< "$paths"
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

# ours, openssl's dgst name, the coreutils tool ("-": none). OpenSSL 3 has MD4 in its legacy
# provider only.
hash_table='haval - -
md4 md4 -
md5 md5 md5sum
ripemd128 - -
ripemd160 ripemd160 -
sha1 sha1 sha1sum
sha256 sha256 sha256sum
sha384 sha384 sha384sum
sha512 sha512 sha512sum
tiger - -'

hashes() {
  work=$(mktemp -d "${TMPDIR:-/var/tmp}/kryvane-compare.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$work'" EXIT
  head -c "$((size * 1024 * 1024))" /dev/urandom > "$work/plain"
  cat "$work/plain" > /dev/null  # cached from here on
  # The best of three times of a command (wall, or user + system with --cpu), in seconds, or
  # "-" when it fails.
  best3() {
    local best=- t i
    for i in 1 2 3; do
      if [ "$cpu" = 1 ]; then
        /usr/bin/time -o "$work/time" -f 'TIMES %U %S' "$@" > /dev/null 2>&1 || { echo -; return; }
        t=$(awk '$1 == "TIMES" { printf "%.4f", $2 + $3 }' "$work/time")
      else
        local start
        start=$(now)
        "$@" > /dev/null 2>&1 || { echo -; return; }
        t=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.4f", b - a }')
      fi
      best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (a == "-" || b < a) ? b : a }')
    done
    echo "$best"
  }
  rate() { [ "$1" = "-" ] && { echo -; return; }; mbps "$1"; }
  over() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-") print "-"; else printf "%.2f", b / a }'; }
  echo "## Hashes, a cached $size MiB file (MB/s of $clock, best of three)"
  echo
  echo "| hash | path | kryvane-cli hash | openssl dgst | coreutils | ratio openssl | ratio coreutils |"
  echo "|---|---|---|---|---|---|---|"
  local ours theirs tool k o c
  while read -r ours theirs tool; do
    k=$(best3 "$cli" hash -H "$ours" "$work/plain")
    o=-; c=-
    if [ "$theirs" != "-" ] && have openssl; then
      o=$(best3 openssl dgst "${legacy[@]}" "-$theirs" "$work/plain")
    fi
    if [ "$tool" != "-" ] && have "$tool"; then c=$(best3 "$tool" "$work/plain"); fi
    printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$ours" "$(path_of "$ours")" "$(rate "$k")" \
      "$(rate "$o")" "$(rate "$c")" "$(over "$k" "$o")" "$(over "$k" "$c")"
  done <<< "$hash_table"
  echo
  rm -rf "$work"
  trap - EXIT
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
clock="wall time"
[ "$cpu" = 1 ] && clock="processor time"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u '+%Y-%m-%d %H:%M UTC')."
echo
# The processor family and its features that some path uses, then the paths this build chose.
flags=$(grep -m1 '^flags' /proc/cpuinfo | tr ' ' '\n' | grep -xE 'ssse3|sse4_1|aes|avx2|bmi2|avx512f|avx512bw|vaes|sha_ni|gfni' | tr '\n' ' ')
echo "Processor: $(grep -m1 'vendor_id' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //') family $(grep -m1 'cpu family' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), model $(grep -m1 '^model[[:space:]]*:' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); features used by some path: ${flags% }."
echo
paths=$("$cli" list --paths | tail -n +3)
echo "Paths $("$cli" list --paths | head -1 | sed 's/^Processor paths //; s/:$//'):"
echo
echo '```'
"$cli" list --paths | tail -n +2
echo '```'
echo
for part in $parts; do
  echo "Load average (1, 5, 15 minutes) before this part: $(load)."
  echo
  "$part"
done
echo "Load average at the end: $(load)."
