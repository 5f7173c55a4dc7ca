#!/usr/bin/env bash
# Times kryvane-cli against OpenSSL's command line on the same file, in one run, for the ciphers
# both offer. OpenSSL is not file-compatible (it adds a salt header); this only compares speed.
#   bench/compare.sh [SIZE_MIB]        (default 256; needs build/ and the openssl command)
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-256}
cli=build/cli/kryvane-cli
[ -x "$cli" ] || { echo "build first: scripts/test.sh" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c "$((size * 1024 * 1024))" /dev/urandom > "$work/plain"
printf 'benchmark passphrase' > "$work/pw"
export KPW="benchmark passphrase"
# Blowfish, CAST-128, DES and RC4 live in OpenSSL 3's legacy provider.
legacy=(-provider legacy -provider default)

seconds() {  # runs "$@", prints the wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
rate() { echo "scale=0; $size / $1" | bc; }

printf '%-24s %14s %14s\n' "cipher ($size MiB)" "kryvane MiB/s" "openssl MiB/s"
while read -r ours theirs; do
  k_enc=$(seconds "$cli" encrypt -c "$ours" -H sha256 --passphrase-env KPW --no-progress \
    "$work/plain" "$work/k.enc")
  k_dec=$(seconds "$cli" decrypt -c "$ours" -H sha256 --passphrase-env KPW --no-progress \
    "$work/k.enc" "$work/k.dec")
  cmp -s "$work/plain" "$work/k.dec" || { echo "round trip failed for $ours" >&2; exit 1; }
  o_rate="-"
  o_dec="-"
  if openssl enc "${legacy[@]}" "-$theirs" -pass env:KPW -pbkdf2 -iter 1 -in /dev/null -out /dev/null \
      2>/dev/null; then
    o_enc=$(seconds openssl enc "${legacy[@]}" "-$theirs" -pass env:KPW -pbkdf2 -iter 1 -in "$work/plain" \
      -out "$work/o.enc")
    o_dec=$(seconds openssl enc "${legacy[@]}" -d "-$theirs" -pass env:KPW -pbkdf2 -iter 1 -in "$work/o.enc" \
      -out "$work/o.dec")
    o_rate=$(rate "$o_enc")
    o_dec=$(rate "$o_dec")
  fi
  printf '%-24s %6s / %-6s %6s / %-6s\n' "$ours (enc / dec)" "$(rate "$k_enc")" \
    "$(rate "$k_dec")" "$o_rate" "$o_dec"
done <<'LIST'
rijndael aes-256-cbc
blowfish bf-cbc
cast128 cast5-cbc
des des-cbc
3des des-ede3-cbc
rc4 rc4
twofish -
serpent -
LIST
