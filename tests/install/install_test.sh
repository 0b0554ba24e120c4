#!/usr/bin/env bash
# The Debian packages as a user meets them: installed with dpkg -i, the
# command, the GStreamer element, the VLC module and the playback library
# each found where Debian's tools look (no *_PATH variables), then purged,
# leaving none of their files. $1: the folder of the .deb files; $2: the
# version they must carry. Everything else the test writes is in $tmp; the
# packages are purged however it ends.
set -euo pipefail

packages_dir=$1
version=$2
name=install_test
names=(zemo3 gstreamer1.0-zemo3 vlc-plugin-zemo3 libzemo3playback1 libzemo3playback-dev)

# shellcheck source=../common/report.sh
source "$(dirname "${BASH_SOURCE[0]}")/../common/report.sh"

[ "$(id -u)" -eq 0 ] || skip "installing packages needs root"
for tool in dpkg dpkg-deb gst-inspect-1.0 gst-launch-1.0 cvlc pkg-config cc setpriv curl; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done
shopt -s nullglob
debs=("$packages_dir"/*_"$version"_*.deb)
shopt -u nullglob
[ ${#debs[@]} -gt 0 ] || skip "no packages of version $version in $packages_dir (make package builds them)"

# Each expected package once, of this version.
declare -A deb_of=()
for deb in "${debs[@]}"; do
  package=$(dpkg-deb -f "$deb" Package)
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is not of version $version"
  deb_of[$package]=$deb
done
for package in "${names[@]}"; do
  [ -n "${deb_of[$package]:-}" ] || fail "no $package package in $packages_dir"
done
[ ${#deb_of[@]} -eq ${#names[@]} ] || fail "packages other than ${names[*]} in $packages_dir: ${!deb_of[*]}"

# Packages of these names that dpkg knows of (installed, or their
# configuration left) are the machine's own: they stay untouched.
for package in "${names[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null || true)
  case "$status" in
    "" | un*) ;;
    *) skip "$package is already known to dpkg (status ${status// /}); the test installs and purges only packages it brought" ;;
  esac
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zemo3-install.XXXXXX")
chmod 755 "$tmp"
mkdir -m 777 "$tmp/home"

# dpkg with its lock waited for (apt-get elsewhere on the machine holds it for a while).
dpkg_locked() {
  local i out
  for i in $(seq 120); do
    if out=$(DEBIAN_FRONTEND=noninteractive dpkg "$@" 2>&1); then
      echo "$out"
      return 0
    fi
    grep -Eq "frontend lock|database is locked" <<<"$out" || { echo "$out" >&2; return 1; }
    sleep 1
  done
  echo "$out" >&2
  return 1
}

installed=0
viewer=""  # the process group of zemo3 view, whose leader it is
stop_viewer() {
  kill -- -"$viewer" 2>/dev/null || true
  wait "$viewer" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 -- -"$viewer" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL -- -"$viewer" 2>/dev/null || true
  return 1
}
finish() {
  local code=$?
  if [ -n "$viewer" ]; then
    stop_viewer || true
  fi
  if [ "$installed" -eq 1 ]; then
    dpkg_locked --purge "${names[@]}" >/dev/null || code=1
  fi
  rm -rf "$tmp"
  exit $code
}
trap finish EXIT
trap 'exit 1' INT TERM HUP

# Every path of the packages, and what of the machine's names carries ours,
# before anything is installed.
for package in "${names[@]}"; do
  dpkg-deb --fsys-tarfile "${deb_of[$package]}" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^/\?$'
done | sort -u >"$tmp/package-paths"
ours_on_machine() { find /usr /etc /var/lib/dpkg/info -xdev -name '*zemo3*' 2>/dev/null | sort; }
ours_on_machine >"$tmp/before"
existing_before=$(while read -r p; do if [ -e "$p" ]; then echo "$p"; fi; done <"$tmp/package-paths")
vlc_plugins=$(pkg-config --variable=pluginsdir vlc-plugin 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/vlc/plugins)

installed=1
dpkg_locked -i "${debs[@]}" >"$tmp/dpkg-i.log" || fail "dpkg -i: $(cat "$tmp/dpkg-i.log")"
note "installed: $(dpkg-query -W -f='${Package} ${Version}\n' "${names[@]}" | paste -sd,)"

# As a user: a clean environment, /usr/bin from PATH, no path variables.
as_user() { env -i PATH=/usr/bin:/bin LANG=C HOME="$tmp/home" TMPDIR="$tmp/home" "$@"; }

# The command: its version, and a render through the installed module.
[ "$(command -v zemo3)" = /usr/bin/zemo3 ] || fail "zemo3 on PATH is $(command -v zemo3), not /usr/bin/zemo3"
as_user zemo3 --version >"$tmp/version" || fail "zemo3 --version failed"
[ "$(head -1 "$tmp/version")" = "zemo3 $version" ] || fail "zemo3 --version: $(cat "$tmp/version")"
grep -q '^libavformat [0-9]' "$tmp/version" || fail "zemo3 --version names no libavformat: $(cat "$tmp/version")"
(cd "$tmp/home" && as_user LD_DEBUG=files zemo3 render --demo --size 160x96 --duration 1 -o demo.mov) \
  >"$tmp/render.log" 2>&1 || fail "zemo3 render --demo: $(tail -20 "$tmp/render.log")"
grep -q 'file=/usr/bin/../lib/zemo3/Zemo3AfterEffectsExport.so' "$tmp/render.log" ||
  fail "zemo3 did not load the installed module: $(grep Zemo3AfterEffectsExport "$tmp/render.log")"
as_user zemo3 verify "$tmp/home/demo.mov" --demo --size 160x96 --duration 1 >"$tmp/verify.log" 2>&1 ||
  fail "zemo3 verify: $(cat "$tmp/verify.log")"
note "zemo3 $version rendered and verified the demo through /usr/lib/zemo3"

# The browser viewer serves the player the package installed.
player=/usr/share/zemo3/player
[ -f "$player/index.html" ] && [ -f "$player/zemo3-reader.wasm" ] || fail "no browser player in $player"
# In a process group of its own, so that all of it goes at the end: run
# through the as_user function in the background, $! would be the subshell's.
setsid env -i PATH=/usr/bin:/bin LANG=C HOME="$tmp/home" TMPDIR="$tmp/home" \
  zemo3 view "$tmp/home/demo.mov" --no-open >"$tmp/view.log" 2>&1 &
viewer=$!
url=""
for _ in $(seq 100); do
  url=$(sed -n 's/^Open: \(http:[^[:space:]]*\)$/\1/p' "$tmp/view.log")
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || fail "zemo3 view gave no address: $(cat "$tmp/view.log")"
curl -sf -o "$tmp/page.html" "$url" || fail "zemo3 view does not serve its page at $url"
cmp -s "$tmp/page.html" "$player/index.html" || fail "zemo3 view serves another page than $player's"
[ "$(curl -s -o /dev/null -w '%{http_code}' -r 0-99 "${url}movie")" = 206 ] || fail "zemo3 view does not serve the movie"
stop_viewer || fail "zemo3 view (process group $viewer) did not end when told to"
viewer=""
note "zemo3 view served $player and the movie on $url, and ended with all it started"

# GStreamer: its registry (of this test's own) finds the element in its plug-in folder.
as_user GST_REGISTRY="$tmp/registry.bin" gst-inspect-1.0 zemo3dec >"$tmp/gst.log" 2>&1 ||
  fail "gst-inspect-1.0 zemo3dec: $(cat "$tmp/gst.log")"
grep -Eq "Version +$version\$" "$tmp/gst.log" || fail "the GStreamer plug-in's version is not $version: $(cat "$tmp/gst.log")"
as_user GST_REGISTRY="$tmp/registry.bin" gst-launch-1.0 -q filesrc location="$tmp/home/demo.mov" ! qtdemux ! \
  zemo3dec ! fakesink >"$tmp/gst-launch.log" 2>&1 || fail "gst-launch-1.0 through zemo3dec: $(cat "$tmp/gst-launch.log")"
note "gst-inspect-1.0 finds zemo3dec $version; the demo decodes through it"

# VLC: the cache names the module (refreshed by dpkg's trigger), and cvlc,
# as a user VLC accepts, decodes the demo through it.
[ -f "$vlc_plugins/plugins.dat" ] && ! grep -q libzemo3_plugin.so "$vlc_plugins/plugins.dat" &&
  fail "VLC's plug-in cache was not refreshed with the module"
as_vlc_user=()
[ "$(id -u)" -ne 0 ] || as_vlc_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
"${as_vlc_user[@]}" env -i PATH=/usr/bin:/bin LANG=C HOME="$tmp/home" TMPDIR="$tmp/home" timeout 60 \
  cvlc --verbose=2 --play-and-exit --no-audio --vout=dummy --no-video-title-show "$tmp/home/demo.mov" \
  >"$tmp/vlc.log" 2>&1 || true
grep -q 'using video decoder module "zemo3"' "$tmp/vlc.log" || fail "cvlc did not decode with zemo3: $(tail -30 "$tmp/vlc.log")"
! grep -q "zemo3 decoder warning" "$tmp/vlc.log" || fail "cvlc's zemo3 decoder warned: $(grep zemo3 "$tmp/vlc.log")"
"${as_vlc_user[@]}" env -i PATH=/usr/bin:/bin LANG=C HOME="$tmp/home" cvlc --list 2>/dev/null |
  grep -q "zemo3 .*Zemo 3 GPU-texture video decoder $version" || fail "cvlc --list shows no zemo3 module of version $version"
note "cvlc (as nobody) played the demo through the module"

# The library: pkg-config finds it, a strict C99 program built with its flags
# reads the demo, and it exports only zemo3_.
[ "$(pkg-config --modversion zemo3-playback)" = "$version" ] ||
  fail "pkg-config zemo3-playback: $(pkg-config --modversion zemo3-playback 2>&1)"
cat >"$tmp/frames.c" <<'PROGRAM'
#include <stdio.h>
#include <stdlib.h>
#include <zemo3/playback.h>
int main(int argc, char** argv)
{
    char error[256];
    Zemo3Movie* movie = zemo3_open(argv[argc - 1], error, sizeof error);
    if (!movie) {
        fprintf(stderr, "%s\n", error);
        return 1;
    }
    /* Once through into the library's memory, once into ours on one thread. */
    Zemo3Frame frame;
    int frames = 0, into = 0;
    while (zemo3_next_frame(movie, &frame) == ZEMO3_OK)
        ++frames;
    size_t bytes = zemo3_frame_bytes(movie);
    unsigned char* planes = malloc(bytes);
    if (!planes || zemo3_set_threads(movie, 1) != 1 || zemo3_read_frame_into(movie, 0, &frame, planes, bytes) != ZEMO3_OK)
        return 1;
    for (into = 1; zemo3_next_frame_into(movie, &frame, planes, bytes) == ZEMO3_OK; ++into)
        if (frame.planes[0].data != planes)
            return 1;
    printf("%ux%u %d\n", zemo3_info(movie)->width, zemo3_info(movie)->height, frames == into ? frames : -1);
    free(planes);
    zemo3_close(movie);
    return 0;
}
PROGRAM
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror -o "$tmp/frames" "$tmp/frames.c" $(pkg-config --cflags --libs zemo3-playback) ||
  fail "cannot build against zemo3-playback"
library=$(dpkg -L libzemo3playback1 | grep '/libzemo3playback\.so\.1$') && [ -f "$library" ] ||
  fail "libzemo3playback1 holds no libzemo3playback.so.1"
exported=$(nm -D --defined-only "$library" | grep -v ' zemo3_') && fail "$library exports more than zemo3_: $exported"
frames=$(as_user "$tmp/frames" "$tmp/home/demo.mov") || fail "the playback library cannot read the demo"
[ "${frames%% *}" = 160x96 ] && [ "${frames##* }" -gt 0 ] || fail "the playback library read: $frames"
note "pkg-config finds zemo3-playback $version; a program linked with it read the demo ($frames frames); only zemo3_ exported"

# Purged: none of the packages' files is left, nor anything named after
# zemo3, and VLC's cache no longer names the module.
installed=0
dpkg_locked --purge "${names[@]}" >"$tmp/purge.log" || fail "dpkg --purge: $(cat "$tmp/purge.log")"
while read -r p; do
  [ -e "$p" ] || [ -L "$p" ] || continue
  grep -qxF "$p" <<<"$existing_before" || fail "$p is left after dpkg --purge"
done <"$tmp/package-paths"
ours_on_machine >"$tmp/after"
diff "$tmp/before" "$tmp/after" >&2 || fail "files named after zemo3 differ from before the install"
[ -f "$vlc_plugins/plugins.dat" ] && grep -q libzemo3_plugin.so "$vlc_plugins/plugins.dat" &&
  fail "VLC's plug-in cache still names the module after the purge"
note "dpkg --purge left none of the packages' files"
