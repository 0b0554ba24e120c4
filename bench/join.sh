#!/usr/bin/env bash
# The join against a plain copy: FRAMES (60) frames of each SIZES picture
# rendered through the module in three ranges, then the median of REPEAT (3)
# runs of `cp` of the three segments and of `zemo3 join` of them, both
# reading warm files and writing into the same folder. A join is a copy of
# bytes through the movie writer; its time over cp's is the ratio printed.
# "start s" is zemo3's own start (loading FFmpeg's libraries), which a join
# pays whatever its size.
#
# CONTENT=detail renders a raw source of FFmpeg's test pattern under moving
# noise instead of the demo: frames of real detail, compressed little, as
# footage is (the demo's flat shapes compress 3 to 4 times smaller).
#
#   make bench-join [SIZES="3840x2160"] [FRAMES=60] [CONTENT=detail]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
content=${CONTENT:-demo}

start_s=$(median "$zemo3" --help)
echo "content: $content"
printf '%-10s %-14s %9s %9s %9s %7s\n' size type "cp s" "join s" "start s" ratio
for size in $sizes; do
  source=(--demo)
  if [ "$content" = detail ]; then
    ffmpeg -v error -f lavfi -i "testsrc2=s=$size:r=30,noise=alls=30:allf=t" -frames:v "$frames" \
      -c:v rawvideo -pix_fmt bgra -y "$work/source.nut"
    source=("$work/source.nut")
  fi
  for type in normal high-alpha; do
    seconds=$(echo "$frames / 30" | bc -l)
    third=$((frames / 3))
    ranges=("--end $((third - 1))" "--start $third --end $((2 * third - 1))" "--start $((2 * third))")
    segments=()
    for i in 0 1 2; do
      # shellcheck disable=SC2086
      "$zemo3" render "${source[@]}" --size "$size" --fps 30 --duration "$seconds" --compression "$type" \
        ${ranges[$i]} -o "$work/seg$i.mov" >/dev/null
      segments+=("$work/seg$i.mov")
    done
    mkdir -p "$work/copies"
    cp_s=$(median cp "${segments[@]}" "$work/copies/")
    join_s=$(median "$zemo3" join "${segments[@]}" -o "$work/joined.mov")
    printf '%-10s %-14s %9.3f %9.3f %9.3f %7.2f\n' "$size" "$type" "$cp_s" "$join_s" "$start_s" \
      "$(echo "$join_s / $cp_s" | bc -l)"
    rm -f "$work"/seg*.mov "$work/joined.mov" "$work"/copies/*
  done
  rm -f "$work/source.nut"
done
