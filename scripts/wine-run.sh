#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in the build's own prefix
# (build-win64/wine), with FFmpeg's DLLs on the search path and Wine's own
# messages off. CMake's cross-compiling emulator for the Win64 build.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build-win64/wine}
export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine's drive Z: is the file system's root.
export WINEPATH="Z:${root//\//\\}\\build-win64\\ffmpeg\\bin"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
exec wine "$@"
