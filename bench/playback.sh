#!/usr/bin/env bash
# Playback speed: frames per second decoded through the zemo3dec element
# (gst-launch-1.0 into a fakesink without clock) beside FFmpeg's HAP decoder
# (ffmpeg -f null) on HAP movies of the same clip, one thread and all cores.
#
#   bench/playback.sh                  1920x1080 and 3840x2160, 60 frames
#   SIZES=3840x2160 FRAMES=30 bench/playback.sh
#
# The clip is the demo composition rendered by zemo3; the HAP movies are made
# from its lossless decode, so both decoders see the same pictures. Pairs:
# normal/hap, normal-alpha/hap_alpha, high/hap_q, high-alpha/hap_q (FFmpeg
# writes no HAP mode with both YCoCg and alpha). Figures: the median of
# REPEAT runs (default 3) of the whole command.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
export GST_PLUGIN_PATH="$PWD/$build/gst"

fps() { echo "scale=1; $frames / $1" | bc -l; }

duration=$(echo "scale=6; $frames / 30" | bc -l)
printf '%-10s %-13s %-10s %12s %12s\n' size type decoder "fps 1 thr" "fps all"
for size in $sizes; do
  for type in normal normal-alpha high high-alpha; do
    "$zemo3" render --demo --size "$size" --duration "$duration" --compression "$type" --no-sound \
      -o "$work/$type.mov" >/dev/null
  done
  "$zemo3" decode "$work/normal-alpha.mov" -o "$work/clip.nut" --no-sound >/dev/null
  for mode in hap hap_alpha hap_q; do
    ffmpeg -v error -y -i "$work/clip.nut" -c:v hap -format "$mode" "$work/$mode.mov"
  done
  for pair in normal:hap normal-alpha:hap_alpha high:hap_q high-alpha:hap_q; do
    type=${pair%%:*} mode=${pair##*:}
    one=$(median gst-launch-1.0 -q filesrc location="$work/$type.mov" ! qtdemux ! zemo3dec threads=1 ! fakesink sync=false)
    all=$(median gst-launch-1.0 -q filesrc location="$work/$type.mov" ! qtdemux ! zemo3dec threads=0 ! fakesink sync=false)
    printf '%-10s %-13s %-10s %12s %12s\n' "$size" "$type" zemo3dec "$(fps "$one")" "$(fps "$all")"
    one=$(median ffmpeg -v error -threads 1 -i "$work/$mode.mov" -f null -)
    all=$(median ffmpeg -v error -threads 0 -i "$work/$mode.mov" -f null -)
    printf '%-10s %-13s %-10s %12s %12s\n' "$size" "$mode" "ffmpeg" "$(fps "$one")" "$(fps "$all")"
  done
done
