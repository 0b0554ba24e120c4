#!/usr/bin/env bash
# Whole `zemo3 render` commands, timed from the shell, against FFmpeg on the
# same sources:
#  1. a raw 1080p source with sound (RGBA rawvideo and 16-bit PCM in NUT)
#     rendered in every type, beside `ffmpeg -c:v hap` in the nearest mode
#     (normal/hap, normal-alpha/hap_alpha, high and high-alpha/hap_q);
#  2. a raw 4K source without sound, in every type, as frames per second, with
#     the cores kept busy and the page faults per frame past the warm-up;
#  3. a compressed source (FFV1 with alpha, and sound) rendered as high-alpha,
#     beside FFmpeg decoding it alone and beside the render of a raw copy.
#
#   bench/render.sh                 60 frames of each
#   FRAMES=30 REPEAT=5 bench/render.sh
#   PARTS="4k" bench/render.sh      only the second part (also: hap, ffv1)
#   CONTENT=testsrc2 bench/render.sh
#   QUALITY=best bench/render.sh    our renders with --quality best (default fast)
#
# The clip is one of FFmpeg's test sources (CONTENT: mandelbrot, the default,
# is fine detail everywhere; testsrc2 is mostly flat colour, the easiest case
# for every encoder) with a moving gradient as its alpha and a 440 Hz tone.
# Figures: the median of REPEAT runs (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
parts=${PARTS:-"hap 4k ffv1"}
content=${CONTENT:-mandelbrot}
quality=${QUALITY:-fast}
source bench/common.sh

# clip SIZE SOUND OUT ARGS...: the test clip, encoded by the trailing ffmpeg arguments.
clip() {
  local size=$1 sound=$2 out=$3
  shift 3
  local seconds
  seconds=$(printf "%.6f" "$(echo "scale=6; $frames / 30" | bc -l)")  # with its leading 0, which trim wants
  local inputs=(-f lavfi -i "$content=size=$size:rate=30,trim=duration=$seconds"
    -f lavfi -i "gradients=size=$size:rate=30:duration=$seconds:speed=0.05")
  [ "$sound" = yes ] && inputs+=(-f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds")
  ffmpeg -v error -y "${inputs[@]}" \
    -filter_complex "[1]format=gray[a];[0][a]alphamerge,format=rgba[v]" -map "[v]" \
    $([ "$sound" = yes ] && echo "-map 2 -ac 2") "$@" "$out"
}

echo "zemo3 render ($quality): $frames frames of $content, median of $repeat, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"

if [[ " $parts " == *" hap "* ]]; then
  clip 1920x1080 yes "$work/raw1080.nut" -c:v rawvideo -c:a pcm_s16le
  echo
  echo "1920x1080 raw source with sound, whole commands (s)"
  printf '%-13s %9s %-10s %9s %8s\n' type zemo3 hap-mode ffmpeg ratio
  for pair in normal:hap normal-alpha:hap_alpha high:hap_q high-alpha:hap_q; do
    type=${pair%%:*} mode=${pair##*:}
    ours=$(median "$zemo3" render "$work/raw1080.nut" --compression "$type" --quality "$quality" -o "$work/ours.mov")
    theirs=$(median ffmpeg -v error -y -i "$work/raw1080.nut" -c:v hap -format "$mode" -c:a pcm_s16le "$work/hap.mov")
    printf '%-13s %9.3f %-10s %9.3f %8.2f\n' "$type" "$ours" "$mode" "$theirs" "$(echo "$theirs / $ours" | bc -l)"
  done
fi

if [[ " $parts " == *" 4k "* ]]; then
  clip 3840x2160 no "$work/raw4k.nut" -c:v rawvideo
  echo
  echo "3840x2160 raw source, no sound; cores busy and page faults from GNU time, faults per frame"
  echo "past the warm-up from a render of all the frames against one of the first half"
  printf '%-13s %9s %9s %7s %13s\n' type seconds fps cores "faults/frame"
  half=$(printf "%.6f" "$(echo "scale=6; $frames / 60" | bc -l)")
  for type in normal normal-alpha high high-alpha; do
    t=$(median "$zemo3" render "$work/raw4k.nut" --compression "$type" --quality "$quality" -o "$work/ours.mov")
    # %P: CPU over wall time in percent; %R: minor (reclaiming) page faults.
    read -r busy all < <(/usr/bin/time -f "%P %R" "$zemo3" render "$work/raw4k.nut" --compression "$type" --quality "$quality" \
      -o "$work/ours.mov" 2>&1 >/dev/null | tail -1 | tr -d '%')
    first=$(/usr/bin/time -f "%R" "$zemo3" render "$work/raw4k.nut" --duration "$half" --compression "$type" --quality "$quality" \
      -o "$work/ours.mov" 2>&1 >/dev/null | tail -1)
    printf '%-13s %9.3f %9.1f %7.2f %13.0f\n' "$type" "$t" "$(echo "$frames / $t" | bc -l)" \
      "$(echo "$busy / 100" | bc -l)" "$(echo "($all - $first) / ($frames - $frames / 2)" | bc -l)"
  done
  rm -f "$work/raw4k.nut"
fi

if [[ " $parts " == *" ffv1 "* ]]; then
  clip 1920x1080 yes "$work/ffv1.mkv" -c:v ffv1 -pix_fmt yuva420p -c:a pcm_s16le
  ffmpeg -v error -y -i "$work/ffv1.mkv" -c:v rawvideo -pix_fmt yuva420p -c:a copy "$work/ffv1raw.nut"
  echo
  echo "1920x1080 FFV1 source with alpha and sound, high-alpha (s)"
  decode=$(median ffmpeg -v error -i "$work/ffv1.mkv" -f null -)
  raw=$(median "$zemo3" render "$work/ffv1raw.nut" --compression high-alpha --quality "$quality" -o "$work/ours.mov")
  ours=$(median "$zemo3" render "$work/ffv1.mkv" --compression high-alpha --quality "$quality" -o "$work/ours.mov")
  longer=$(echo "if ($decode > $raw) $decode else $raw" | bc -l)
  printf 'ffmpeg decode alone %.3f, render from the raw copy %.3f, render from FFV1 %.3f: %.2f times the longer\n' \
    "$decode" "$raw" "$ours" "$(echo "$ours / $longer" | bc -l)"
fi
