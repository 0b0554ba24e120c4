#!/usr/bin/env bash
# Cross-builds FFmpeg's libraries for Win64 from Debian's FFmpeg source package
# into PREFIX (default build-win64/ffmpeg): static, LGPL, and only the
# components the writer, zemo3 and the tests use. They are linked into the
# module and into each program, so the module imports no FFmpeg DLL at all and
# loads under any DLL search order (docs/windows.md). PREFIX/share/zemo3/ gets
# what the packages ship of FFmpeg: its licence and FFMPEG.txt (version,
# source package, configure line).
#
# The source is Debian's source package, fetched by scripts/debian-source.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$root/build-win64/ffmpeg}
work=$root/build-win64/ffmpeg-src

components=(
  --enable-protocol=file
  --enable-demuxer=mov,matroska,nut,image2,wav
  --enable-decoder=rawvideo,ffv1,png,pcm_u8,pcm_s16le,pcm_s24le,pcm_s32le,pcm_f32le
  --enable-muxer=mov,mp4,matroska,nut,image2
  --enable-encoder=rawvideo,ffv1,png,pcm_u8,pcm_s16le,pcm_s32le
  --enable-filter=buffer,buffersink,format,scale,null,testsrc2,mandelbrot,smptehdbars
  --extra-libs=-l:libwinpthread.a
)
stamp=$prefix/.configured-$(printf '%s\n' "${components[@]}" | sha1sum | cut -c1-12)

# Fetches, configures, builds and installs FFmpeg; once per configuration.
build_ffmpeg() {
src=$("$root/scripts/debian-source.sh" ffmpeg "$work")

# zlib (for PNG) linked in statically: a folder holding only the static library.
mkdir -p "$work/zlib"
ln -sf /usr/x86_64-w64-mingw32/lib/libz.a "$work/zlib/libz.a"

echo "Configuring FFmpeg ($src)"
mkdir -p "$work/build"
cd "$work/build"
"$src/configure" --prefix="$prefix" --enable-cross-compile --target-os=mingw32 --arch=x86_64 \
  --cross-prefix=x86_64-w64-mingw32- --cc=x86_64-w64-mingw32-gcc-posix --cxx=x86_64-w64-mingw32-g++-posix \
  --disable-shared --enable-static --disable-programs --disable-doc --disable-debug \
  --disable-autodetect --enable-zlib --enable-w32threads --disable-network \
  --disable-avdevice --disable-postproc \
  --disable-everything "${components[@]}" --extra-ldflags="-L$work/zlib" >/dev/null
echo "Building FFmpeg"
make -j"$(nproc)" >/dev/null
rm -rf "$prefix"
make install >/dev/null
touch "$stamp"
}
[ -f "$stamp" ] || build_ffmpeg

# What the packages say of the FFmpeg inside them.
src=$("$root/scripts/debian-source.sh" ffmpeg "$work")
cd "$work/build"
share=$prefix/share/zemo3
mkdir -p "$share"
cp "$src/COPYING.LGPLv2.1" "$share/COPYING.LGPLv2.1.txt"
package_version=$(cd "$src" && dpkg-parsechangelog -S Version)
{
  printf 'FFmpeg %s, linked statically into Zemo3AfterEffectsExport.aex and zemo3.exe,\r\n' "$(cat "$src/RELEASE")"
  printf 'under the GNU Lesser General Public License 2.1 (COPYING.LGPLv2.1.txt).\r\n\r\n'
  printf 'Source: the Debian source package ffmpeg, version %s\r\n' "$package_version"
  printf '(apt-get source ffmpeg=%s), built by scripts/build-ffmpeg-win64.sh\r\n' "$package_version"
  printf 'of the Zemo 3 Export source tree with mingw-w64.\r\n\r\nConfigured with:\r\n'
  sed -n 's/^# FFMPEG_CONFIGURATION=//p; s/^#define FFMPEG_CONFIGURATION "\(.*\)"$/\1/p' config.h |
    sed "s#$work#WORK#g; s#$prefix#PREFIX#g" | tr -d '\n'
  printf '\r\n\r\nTo relink the module against another build of FFmpeg, rebuild it from\r\n'
  printf 'the Zemo 3 Export sources (make win64) with that build in build-win64/ffmpeg.\r\n'
} > "$share/FFMPEG.txt"
