#!/usr/bin/env bash
# The Windows packages (make package-win64) as a user meets them, under Wine.
#   msi_test.sh imports   what the module imports, in the build and in the MSI;
#                         the MSI's and the zip's files
#   msi_test.sh install   msiexec /i into a new prefix: the files where they
#                         belong, a plain load of the installed module from
#                         another folder, a render through it to the Linux
#                         render's bytes, the viewer serving the installed
#                         player; msiexec /x leaves Program Files as it
#                         was; the same into a plug-in folder of the user's
#   msi_test.sh upgrade   an older version, then this one: one product and the
#                         new files; the older one refused over it; removed
# Each case makes a Wine prefix of its own in a temporary folder, without the
# drive Z:, so the installed programs see nothing of this machine's files but
# what was copied into the prefix; the prefix's Wine server is shut down and
# the folder removed however the case ends. Exit 77: no packages to test.
set -euo pipefail
root=${ZEMO_SOURCE_DIR:?}
case_name=${1:?usage: msi_test.sh imports|install|upgrade}
version=$(sed -n -E 's/^project\(zemo3 VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
name=zemo3-export-$version-win64
msi=$root/out/packages/$name.msi
zip=$root/out/packages/$name.zip
linux_zemo3=${ZEMO_LINUX_ZEMO3:-$root/build/tools/zemo3}
if [ ! -f "$msi" ] || [ ! -f "$zip" ]; then
  echo "no $name.msi and .zip in out/packages: run make package-win64 first"
  exit 77
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zemo3-msi.XXXXXX")
# The prefix the tests run in may come with the environment: it is not ours to
# shut down (its server runs the other Wine tests), only the one made here is.
unset WINEPREFIX
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

plugin_dir='C:\Program Files\Adobe\Common\Plug-ins\7.0\MediaCore\Zemo 3 Export'
program_dir='C:\Program Files\Zemo 3 Export'
module=Zemo3AfterEffectsExport.aex
program_files=("zemo3.exe" "LICENSE.txt" "FFMPEG.txt" "COPYING.LGPLv2.1.txt" "LICENSE-cpp-httplib.txt" "INSTALL.txt"
               player/index.html player/player.css player/player.js player/movie.js player/zemo3-reader.js
               player/zemo3-reader.wasm)

# FFmpeg's usual DLL names: the module must import none of them.
ffmpeg_dlls='^(avcodec|avformat|avutil|avfilter|avdevice|swscale|swresample|postproc)(-[0-9]+)?\.dll$'
check_imports() {
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [ -n "$dlls" ] || fail "$1 imports nothing?"
  if grep -i -E "$ffmpeg_dlls" <<<"$dlls"; then
    fail "$1 imports FFmpeg under its usual names"
  fi
  echo "$1 imports: $(tr '\n' ' ' <<<"$dlls")"
}

# A Wine prefix of this case's own, with no Z: drive.
new_prefix() {
  export WINEPREFIX=$tmp/wine WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset ZEMO_MODULE
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  rm -f "$WINEPREFIX/dosdevices/z:"
  drive=$WINEPREFIX/drive_c
  mkdir -p "$drive/packages" "$drive/out" "$drive/elsewhere"
}
unix_path() {  # C:\a\b -> the prefix's file
  local p=${1#C:\\}
  echo "$drive/${p//\\//}"
}
win() { (cd "$drive" && "$root/scripts/wine-run.sh" "$@"); }
# The registry's file, once Wine's server has written it out.
registry() { wineserver -w; echo "$WINEPREFIX/system.reg"; }
# The products named Zemo 3 Export in Windows' list of installed programs.
products() {
  awk '/^\[/ { uninstall = index($0, "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\") == 1 }
                  uninstall && $0 == "\"DisplayName\"=\"Zemo 3 Export\"" { n++ }
                  END { print n + 0 }' "$(registry)"
}
program_files_listing() { (cd "$drive" && find "Program Files" "Program Files (x86)" | LC_ALL=C sort); }

expect_installed() {  # plug-in folder
  [ -f "$(unix_path "$1")/$module" ] || fail "no $module in $1"
  for f in "${program_files[@]}"; do
    [ -f "$(unix_path "$program_dir")/$f" ] || fail "no $f in $program_dir"
  done
}

case "$case_name" in
imports)
  check_imports "${ZEMO_MODULE_BUILT:?}"
  msiextract -C "$tmp/msi" "$msi" >"$tmp/msi-files"
  check_imports "$(find "$tmp/msi" -name "$module")"
  (cd "$tmp/msi" && find . -type f -printf '%P\n' | awk -F/ '{ print ($(NF-1) == "player" ? "player/" : "") $NF }' | LC_ALL=C sort) >"$tmp/msi-names"
  unzip -Z1 "$zip" | sed "s|^$name/||" | LC_ALL=C sort >"$tmp/zip-names"
  printf '%s\n' "$module" "${program_files[@]}" | LC_ALL=C sort >"$tmp/expected"
  diff "$tmp/expected" "$tmp/msi-names" || fail "the MSI holds other files"
  diff "$tmp/expected" "$tmp/zip-names" || fail "the zip holds other files"
  note=$(unzip -p "$zip" "$name/FFMPEG.txt")
  grep -q "Debian source package ffmpeg, version" <<<"$note" || fail "FFMPEG.txt names no source"
  grep -q -- "--disable-everything" <<<"$note" || fail "FFMPEG.txt has no configure line"
  ;;

install)
  new_prefix
  cp "$msi" "$drive/packages/"
  cp "${ZEMO_PLAIN_LOADER:?}" "$drive/elsewhere/"
  before=$(program_files_listing)

  # Into the default folders.
  win msiexec /i "C:\\packages\\$name.msi" /qn || fail "msiexec /i failed"
  expect_installed "$plugin_dir"
  recorded=$(printf '"PluginFolder"="%s\\"' "$plugin_dir" | sed 's/\\/\\\\/g')
  grep -q -F "$recorded" "$(registry)" || fail "no PluginFolder in the registry"
  # The strictest host: a plain LoadLibraryW of the full path, from another folder.
  [ "$(win 'C:\elsewhere\plain_loader.exe' "$plugin_dir\\$module" | tr -d '\r')" = loaded ] ||
    fail "a plain LoadLibraryW does not load the installed module"
  # zemo3.exe, from its own folder, through the module it finds in the registry.
  "$linux_zemo3" render --demo --size 160x90 --duration 1 -o "$tmp/linux.mov" >/dev/null
  win "$program_dir\\zemo3.exe" render --demo --size 160x90 --duration 1 -o 'C:\out\demo.mov' >/dev/null ||
    fail "the installed zemo3.exe does not render"
  cmp "$tmp/linux.mov" "$drive/out/demo.mov" || fail "the installed render differs from the Linux render"
  # zemo3.exe view: the installed player and the movie, on loopback, under its token only.
  win "$program_dir\\zemo3.exe" view 'C:\out\demo.mov' --no-open >"$tmp/view.out" 2>&1 &
  url=""
  for _ in $(seq 600); do
    url=$(sed -n 's/^Open: \(http:[^[:space:]]*\).*/\1/p' "$tmp/view.out" | tr -d '\r')
    [ -n "$url" ] && break
    sleep 0.1
  done
  [ -n "$url" ] || fail "zemo3.exe view gave no address: $(cat "$tmp/view.out")"
  status() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
  [ "$(status "$url")" = 200 ] || fail "the viewer does not serve its page at $url"
  [ "$(status "${url}zemo3-reader.wasm")" = 200 ] || fail "the viewer does not serve the installed player"
  [ "$(status -r 0-99 "${url}movie")" = 206 ] || fail "the viewer does not serve the movie in ranges"
  [ "$(status "${url%/*/}/0123456789abcdef0123456789abcdef/")" = 404 ] || fail "the viewer serves another token"
  wineserver -k
  wait

  said=$(win "$program_dir\\zemo3.exe" --version) || fail "zemo3.exe --version failed"
  grep -q -F "$version" <<<"$said" || fail "zemo3.exe --version does not say $version"
  win msiexec /x "C:\\packages\\$name.msi" /qn || fail "msiexec /x failed"
  [ "$(program_files_listing)" = "$before" ] || {
    diff <(echo "$before") <(program_files_listing) >&2
    fail "msiexec /x left files or folders behind"
  }
  ! grep -q 'Zemo 3 Export' "$(registry)" || fail "the registry still names Zemo 3 Export"

  # Into a plug-in folder of the user's, chosen by the public property.
  custom='C:\My Plug-ins\Zemo 3'
  win msiexec /i "C:\\packages\\$name.msi" /qn "PLUGINFOLDER=$custom\\" || fail "msiexec /i PLUGINFOLDER= failed"
  expect_installed "$custom"
  [ ! -e "$(unix_path "$plugin_dir")" ] || fail "the default plug-in folder was made all the same"
  win "$program_dir\\zemo3.exe" render --demo --size 160x90 --duration 1 -o 'C:\out\custom.mov' >/dev/null ||
    fail "zemo3.exe does not find the module in the chosen folder"
  cmp "$tmp/linux.mov" "$drive/out/custom.mov" || fail "the render through the chosen folder differs"
  win msiexec /x "C:\\packages\\$name.msi" /qn || fail "msiexec /x failed"
  [ ! -e "$(unix_path "$custom")" ] || fail "msiexec /x left $custom"
  [ "$(program_files_listing)" = "$before" ] || fail "msiexec /x left files or folders behind"
  ;;

upgrade)
  older=0.9.0
  "$root/scripts/package-win64.sh" --version "$older" --out "$tmp/older" >/dev/null
  new_prefix
  cp "$msi" "$tmp/older/zemo3-export-$older-win64.msi" "$drive/packages/"
  before=$(program_files_listing)
  win msiexec /i "C:\\packages\\zemo3-export-$older-win64.msi" /qn || fail "installing $older failed"
  [ "$(products)" = 1 ] || fail "$(products) products named Zemo 3 Export after one install"
  grep -q "\"Version\"=\"$older\"" "$(registry)" || fail "$older is not recorded"
  win msiexec /i "C:\\packages\\$name.msi" /qn || fail "upgrading to $version failed"
  expect_installed "$plugin_dir"
  [ "$(products)" = 1 ] || fail "$(products) products named Zemo 3 Export after the upgrade, not 1"
  grep -q "\"DisplayVersion\"=\"$version\"" "$(registry)" || fail "the installed product is not $version"
  ! grep -q "\"Version\"=\"$older\"" "$(registry)" || fail "$older is still recorded"
  # An older version over a newer one is refused and changes nothing.
  if win msiexec /i "C:\\packages\\zemo3-export-$older-win64.msi" /qn; then
    fail "$older was installed over $version"
  fi
  [ "$(products)" = 1 ] || fail "$(products) products after the refused downgrade"
  win msiexec /x "C:\\packages\\$name.msi" /qn || fail "msiexec /x failed"
  [ "$(program_files_listing)" = "$before" ] || fail "msiexec /x left files or folders behind"
  ;;

*) fail "unknown case $case_name" ;;
esac
echo "WindowsPackage.$case_name: passed"
