#!/usr/bin/env bash
# Playback speed in VLC: frames per second that cvlc decodes and hands to a
# null video output (--vout=dummy, no sound, no frame dropped, the clock
# running 64 times fast so that it never waits), through the zemo3 module
# beside VLC playing HAP movies of the same clip (FFmpeg's HAP decoder inside
# VLC's avcodec module), with one decoding thread and with VLC's default.
#
#   bench/vlc.sh                  1920x1080 and 3840x2160, 60 frames
#   SIZES=3840x2160 FRAMES=30 bench/vlc.sh
#
# The clip is the demo composition rendered by zemo3; the HAP movies are made
# from its lossless decode, so both decoders see the same pictures. Pairs:
# normal/hap, normal-alpha/hap_alpha, high/hap_q, high-alpha/hap_q (FFmpeg
# writes no HAP mode with both YCoCg and alpha). cvlc's start and end are
# taken out: fps = (FRAMES - 1) / (time of the clip - time of its first
# frame alone), each time the median of REPEAT runs (default 3) of the whole
# command; beside it the processor time a frame takes (user and system, all
# threads) from the same runs, which a busy machine disturbs less. As root,
# cvlc runs as nobody (VLC refuses root) with a copy of the module.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

chmod 755 "$work"
mkdir -p "$work/plugins" "$work/home"
chmod 777 "$work/home"
cp "$build/vlc/libzemo3_plugin.so" "$work/plugins/"
as_user=()
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
cvlc() {
  "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$work/home" VLC_PLUGIN_PATH="$work/plugins" \
    cvlc -q --play-and-exit --no-audio --vout=dummy --rate=64 --no-drop-late-frames --no-skip-frames \
    --no-avcodec-hurry-up "$@"
}

# "wall cpu": the median wall and processor seconds of REPEAT runs of a command.
measure() {
  local walls=() cpus=() out wall user sys TIMEFORMAT='%R %U %S'
  for _ in $(seq "$repeat"); do
    out=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
    read -r wall user sys <<<"$out"
    walls+=("$wall")
    cpus+=("$(echo "$user + $sys" | bc -l)")
  done
  local middle=$(((repeat + 1) / 2))
  echo "$(printf '%s\n' "${walls[@]}" | sort -g | sed -n "${middle}p") $(printf '%s\n' "${cpus[@]}" | sort -g | sed -n "${middle}p")"
}

# "fps cpu-ms": for a movie, less the same movie cut to its first frame, with the options given.
rate() {
  local movie=$1 first=$2 all one
  shift 2
  read -r -a all <<<"$(measure cvlc "$@" "$movie")"
  read -r -a one <<<"$(measure cvlc "$@" "$first")"
  printf '%.1f %.1f\n' "$(echo "($frames - 1) / (${all[0]} - ${one[0]})" | bc -l)" \
    "$(echo "1000 * (${all[1]} - ${one[1]}) / ($frames - 1)" | bc -l)"
}

row() {
  local size=$1 name=$2 decoder=$3 movie=$4 first=$5 threads=$6 one all
  read -r -a one <<<"$(rate "$movie" "$first" "$threads=1")"
  read -r -a all <<<"$(rate "$movie" "$first")"
  printf '%-10s %-13s %-8s %10s %10s %13s\n' "$size" "$name" "$decoder" "${one[0]}" "${all[0]}" "${all[1]}"
}

duration=$(echo "scale=6; $frames / 30" | bc -l)
printf '%-10s %-13s %-8s %10s %10s %13s\n' size type decoder "fps 1 thr" "fps dflt" "cpu ms/frame"
for size in $sizes; do
  for type in normal normal-alpha high high-alpha; do
    "$zemo3" render --demo --size "$size" --duration "$duration" --compression "$type" --no-sound \
      -o "$work/$type.mov" >/dev/null
    "$zemo3" render --demo --size "$size" --duration 0.0333 --compression "$type" --no-sound \
      -o "$work/$type-1.mov" >/dev/null
  done
  "$zemo3" decode "$work/normal-alpha.mov" -o "$work/clip.nut" --no-sound >/dev/null
  for mode in hap hap_alpha hap_q; do
    ffmpeg -v error -y -i "$work/clip.nut" -c:v hap -format "$mode" "$work/$mode.mov"
    ffmpeg -v error -y -i "$work/clip.nut" -frames:v 1 -c:v hap -format "$mode" "$work/$mode-1.mov"
  done
  chmod a+r "$work"/*.mov
  for pair in normal:hap normal-alpha:hap_alpha high:hap_q high-alpha:hap_q; do
    type=${pair%%:*} mode=${pair##*:}
    row "$size" "$type" zemo3 "$work/$type.mov" "$work/$type-1.mov" --zemo3-threads
    row "$size" "$mode" avcodec "$work/$mode.mov" "$work/$mode-1.mov" --avcodec-threads
  done
  rm -f "$work"/*.mov "$work/clip.nut"
done
