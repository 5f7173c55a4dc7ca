#!/usr/bin/env bash
# Builds the Debian packages (kryvane and kryvane-dev) from the Release build in build/ and checks
# them: dpkg-deb --info/--contents, lintian (no errors), desktop-file-validate and appstreamcli on
# the packaged files. The packages land in build/packages/.
#   scripts/package.sh
# Needs lintian besides what scripts/deps.sh installs (installed here when missing). The offline
# page comes from scripts/web.sh, which this runs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if ! command -v lintian > /dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends lintian
fi
scripts/web.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRYVANE_WEB_PAGE="$PWD/build-web/kryvane.html"
cmake --build build
rm -rf build/packages
(cd build && cpack)

main=$(ls build/packages/kryvane_*.deb)
dev=$(ls build/packages/kryvane-dev_*.deb)
for deb in "$main" "$dev"; do
  echo "== $deb"
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
done

# Qt's SVG plugins are needed for the icons but invisible to dpkg-shlibdeps.
# (grep -q on the pipe would stop dpkg-deb early, which pipefail reports as a failure.)
grep -q ' ./usr/share/kryvane/kryvane.html$' <<<"$(dpkg-deb --contents "$main")" ||
  { echo "kryvane does not carry the offline page"; exit 1; }
dpkg-deb -f "$main" Depends | grep -q libqt6svg6 || { echo "kryvane does not depend on libqt6svg6"; exit 1; }

# The menu entry and the AppStream data as packaged.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$main" "$unpacked"
desktop-file-validate "$unpacked"/usr/share/applications/*.desktop
appstreamcli validate --no-net --pedantic "$unpacked"/usr/share/metainfo/*.metainfo.xml

echo "== lintian"
# lintian exits non-zero on errors; warnings are printed and do not fail.
lintian --fail-on error "$main" "$dev"
echo "packages built and checked: $main $dev"
