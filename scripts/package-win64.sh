#!/usr/bin/env bash
# The Windows packages, from the Win64 build (make win64) and the browser
# player (make web): an MSI built with
# wixl from windows/zemo3.wxs, and a zip of the same files with INSTALL.txt,
# into OUT (default out/packages):
#   zemo3-export-VERSION-win64.msi, zemo3-export-VERSION-win64.zip
#
#   scripts/package-win64.sh [--version V] [--out DIR]
#
# The version is CMake's project version; --version builds the same files
# under another one (the upgrade test's older and newer installers). Times in
# the zip are the last commit's (SOURCE_DATE_EPOCH), so one commit packs to the
# same bytes; wixl stamps the MSI's creation time and revision code itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_WIN64:-$root/build-win64}
version=$(sed -n -E 's/^project\(zemo3 VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
out=$root/out/packages
while [ $# -gt 0 ]; do
  case "$1" in
    --version) version=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "package-win64: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "package-win64: no version (got '$version')" >&2; exit 2; }
player=$root/build-web/player
player_files=(index.html player.css player.js movie.js zemo3-reader.js zemo3-reader.wasm)
for f in "$build/plugin/Zemo3AfterEffectsExport.aex" "$build/bin/zemo3.exe" "$build/ffmpeg/share/zemo3/FFMPEG.txt"; do
  [ -f "$f" ] || { echo "package-win64: $f is missing: run make win64 first" >&2; exit 1; }
done
for f in "${player_files[@]}"; do
  [ -f "$player/$f" ] || { echo "package-win64: $player/$f is missing: run make web first" >&2; exit 1; }
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH TZ=UTC

name=zemo3-export-$version-win64
stage=$(mktemp -d "${TMPDIR:-/tmp}/zemo3-package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
files=$stage/$name
mkdir -p "$files"

# The binaries without their debugging sections; texts with Windows line ends.
strip=x86_64-w64-mingw32-strip
$strip --strip-debug -o "$files/Zemo3AfterEffectsExport.aex" "$build/plugin/Zemo3AfterEffectsExport.aex"
$strip --strip-debug -o "$files/zemo3.exe" "$build/bin/zemo3.exe"
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1"; }
crlf "$root/LICENSE" > "$files/LICENSE.txt"
sed "s/@VERSION@/$version/g" "$root/windows/INSTALL.txt" | sed -e 's/$/\r/' > "$files/INSTALL.txt"
crlf "$build/ffmpeg/share/zemo3/COPYING.LGPLv2.1.txt" > "$files/COPYING.LGPLv2.1.txt"
cp "$build/ffmpeg/share/zemo3/FFMPEG.txt" "$files/FFMPEG.txt"
# zemo3.exe's viewer serves with cpp-httplib (MIT), built in from Debian's source.
httplib=$("$root/scripts/debian-source.sh" cpp-httplib "$build/httplib-src")
crlf "$httplib/LICENSE" > "$files/LICENSE-cpp-httplib.txt"
# The browser player that zemo3.exe view serves, in player/ beside it.
mkdir -p "$files/player"
for f in "${player_files[@]}"; do cp "$player/$f" "$files/player/$f"; done
find "$files" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

# A new product code for every version, the same one for the same version:
# a name-based (version 5) UUID of the version under the upgrade code.
hash=$(printf 'zemo3-export/%s' "$version" | sha1sum | cut -c1-32)
variant=$(printf '%x' $(( (0x${hash:16:1} & 0x3) | 0x8 )))
product="${hash:0:8}-${hash:8:4}-5${hash:13:3}-${variant}${hash:17:3}-${hash:20:12}"

mkdir -p "$out"
(cd "$files" && wixl -a x64 -D Version="$version" -D ProductCode="$product" \
  -o "$stage/$name.msi" "$root/windows/zemo3.wxs")
mv "$stage/$name.msi" "$out/$name.msi"

rm -f "$out/$name.zip"
(cd "$stage" && find "$name" | LC_ALL=C sort | zip -q -X -D "$stage/$name.zip" -@)
mv "$stage/$name.zip" "$out/$name.zip"
echo "package-win64: $out/$name.msi ($(stat -c %s "$out/$name.msi") bytes)"
echo "package-win64: $out/$name.zip ($(stat -c %s "$out/$name.zip") bytes)"
