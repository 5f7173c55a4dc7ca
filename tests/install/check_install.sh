#!/usr/bin/env bash
# The installed result, as another project sees it: installs the build to a staging prefix, then
#  - compiles every public header on its own against the staged include/ (only public headers
#    are included, nothing from app/, cli/, tests/ or Qt),
#  - builds examples/decrypt_file with find_package(Kryvane) and with pkg-config, and decrypts
#    golden files with each,
#  - runs the staged programs (--version, selftest) and checks that the man pages and the
#    AppStream release list carry the version; validates the desktop entry and the metainfo.
#   check_install.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) version=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/kryvane-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/stage
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$stage" > "$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install"; }
grep -q "CMake Warning" "$work/install.log" && { cat "$work/install.log"; fail "warnings from cmake --install"; }
# A shared library (-DBUILD_SHARED_LIBS=ON) in a prefix the loader does not search.
export LD_LIBRARY_PATH="$stage/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

# Public headers: each compiles alone, and none reaches outside include/kryvane/.
(cd "$stage/include" && find kryvane -name '*.h' | sort) > "$work/headers"
[[ $(wc -l < "$work/headers") -gt 30 ]] || fail "too few public headers: $(wc -l < "$work/headers")"
if grep -rnE '#include "(app|cli|tests)/|#include <Q|#include "(crypto|ciphers|hashes)/' "$stage/include"; then
  fail "a public header includes a private or unrewritten header"
fi
xargs -P 2 -I{} sh -c 'echo "#include <{}>" |
  c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I "$1" -x c++ - || echo "{}" >> "$2"' \
  _ "$stage/include" "$work/bad-headers" < "$work/headers"
[[ ! -s $work/bad-headers ]] || fail "headers that do not compile alone: $(cat "$work/bad-headers")"

# The example, built both ways, decrypts golden files.
golden=$source/tests/data/golden
printf 'Kryvane golden passphrase\n' > "$work/passphrase"
build_example() {
  local dir=$1
  shift
  cmake -S "$source/examples/decrypt_file" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" \
    > "$dir.log" 2>&1 && cmake --build "$dir" >> "$dir.log" 2>&1 || { cat "$dir.log"; fail "example build: $*"; }
}
build_example "$work/with-cmake" -DCMAKE_PREFIX_PATH="$stage"
PKG_CONFIG_PATH=$stage/lib/pkgconfig build_example "$work/with-pkg-config" -DUSE_PKG_CONFIG=ON
for dir in with-cmake with-pkg-config; do
  for pair in rijndael-sha256 blowfish-haval twofish-tiger; do
    "$work/$dir/decrypt_file" "${pair%-*}" "${pair#*-}" "$work/passphrase" "$golden/$pair.bin" "$work/$dir-$pair.out" ||
      fail "$dir: decrypt_file $pair"
    cmp -s "$work/$dir-$pair.out" "$golden/plaintext.bin" || fail "$dir: $pair did not decrypt to the plaintext"
  done
done
[[ $(PKG_CONFIG_PATH=$stage/lib/pkgconfig pkg-config --modversion kryvane) == "$version" ]] || fail "kryvane.pc version"

# The programs and their documents carry the one version.
[[ $("$stage/bin/kryvane-cli" --version) == "kryvane-cli $version" ]] || fail "kryvane-cli --version"
"$stage/bin/kryvane-cli" selftest > "$work/selftest" || { cat "$work/selftest"; fail "installed selftest"; }
zcat "$stage/share/man/man1/kryvane-cli.1.gz" | grep -q "\"Kryvane $version\"" || fail "man page version"
if [[ -x $stage/bin/kryvane ]]; then
  [[ $("$stage/bin/kryvane" --version) == "kryvane $version" ]] || fail "kryvane --version"
  zcat "$stage/share/man/man1/kryvane.1.gz" | grep -q "\"Kryvane $version\"" || fail "kryvane man page version"
  metainfo=$(ls "$stage"/share/metainfo/*.metainfo.xml)
  grep -q "<release version=\"$version\"" "$metainfo" || fail "AppStream release list lacks $version"
  ls "$stage"/share/icons/hicolor/48x48/apps/kryvane.png > /dev/null || fail "no PNG icon"
  desktop-file-validate --no-hints "$stage/share/applications/kryvane.desktop" ||
    fail "desktop-file-validate"
  appstreamcli validate --no-net --pedantic "$metainfo" > "$work/appstream" 2>&1 ||
    { cat "$work/appstream"; fail "appstreamcli validate"; }
fi
echo "installed library, example (find_package and pkg-config), programs and documents: all good"
