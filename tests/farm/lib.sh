# shellcheck shell=bash disable=SC2034
# What the farm tests share; sourced with the zemo3 binary and the farm
# script as $1 and $2. Everything a test makes lives in $tmp, removed on exit
# with the daemons the test started (at_exit registers their stopping).
# farm_guard, which runs each test, kills what is left should the test itself
# be killed, and gives it a TMPDIR of its own.
set -euo pipefail

zemo3=$(realpath "$1")
farm=$(realpath "$2")
name=$(basename "$0" .sh)

# shellcheck source=../common/report.sh
source "$(dirname "${BASH_SOURCE[0]}")/../common/report.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zemo3-farm.XXXXXX")
exit_steps=()
at_exit() { exit_steps+=("$1"); }
finish() {
  local code=$? i
  for ((i = ${#exit_steps[@]} - 1; i >= 0; i--)); do eval "${exit_steps[i]}" || true; done
  rm -rf "$tmp"
  exit $code
}
trap finish EXIT
trap 'exit 1' INT TERM HUP

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
  done
}

# The farm needs zemo3's segment commands; until this zemo3 has them the
# farm tests have nothing to run.
farm_commands() {
  "$zemo3" join --help >/dev/null 2>&1 || skip "this zemo3 has no join command"
  "$zemo3" render --help 2>&1 | grep -q -- --start || skip "this zemo3 render takes no --start"
}

# A TCP port on loopback that nothing listens on now.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  echo "$port"
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds=$1 i
  shift
  for ((i = 0; i < seconds * 5; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

# Stops a process and waits a moment for it to go.
stop_pid() {
  local pid=$1 i
  kill "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

# A movie's streams as FFmpeg's demuxer reads them, without decoding a thing
# (-nofind_stream_info): each video packet's time, length and SHA-256, then the
# sound's bytes as one SHA-256 and its length in samples. Two movies whose
# listings match hold the same frames and the same sound, however the sound
# is cut into chunks.
listing() {
  ffprobe -v error -nofind_stream_info -select_streams v:0 -show_entries packet=pts,duration,flags,data_hash \
    -show_data_hash sha256 -of csv "$1"
  echo "sound $(ffmpeg -v error -nofind_stream_info -i "$1" -map 0:a -c copy -f data - | sha256sum | cut -d' ' -f1)"
  ffprobe -v error -nofind_stream_info -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,duration_ts \
    -of csv "$1"
}

# Fails unless the joined movie $1 holds what the one-machine render $2 holds,
# with sound at $4 Hz; then unless the two files are the same bytes.
same_movie() {
  local joined=$1 whole=$2 what=$3 rate=$4
  listing "$joined" >"$tmp/joined.listing"
  listing "$whole" >"$tmp/whole.listing"
  grep -q '^packet' "$tmp/whole.listing" || fail "$what: no video packets in the one-machine render"
  grep -q "^stream,pcm_s16le,$rate,2,[1-9]" "$tmp/whole.listing" ||
    fail "$what: the one-machine render has no stereo sound at $rate Hz: $(grep ^stream "$tmp/whole.listing")"
  if ! cmp -s "$tmp/joined.listing" "$tmp/whole.listing"; then
    diff "$tmp/whole.listing" "$tmp/joined.listing" | head -20 >&2 || true
    fail "$what: the joined movie's frames or sound differ from the one-machine render"
  fi
  cmp -s "$joined" "$whole" ||
    fail "$what: frames and sound match but the files differ: $(cmp "$joined" "$whole" 2>&1 | head -1)"
  note "$what: $(grep -c '^packet' "$tmp/whole.listing") frames and the sound match; the files are byte-identical"
}

# The farm's cases: the demo at 25 and at 30000/1001 fps (where a frame's
# sound is not a whole number of samples) with 48 kHz sound, and a media
# file at 30000/1001 with 44.1 kHz sound, whose length the farm script reads
# with ffprobe. case_args NAME sets `args` to the render's arguments and
# `rate` to the sound's.
cases=(demo_25 demo_30000_1001 clip_44100)
case_args() {
  case $1 in
    demo_25) args=(--demo --size 160x90 --duration 2 --fps 25) rate=48000 ;;
    demo_30000_1001) args=(--demo --size 160x90 --duration 2 --fps 30000/1001) rate=48000 ;;
    clip_44100)
      if [ ! -e "$tmp/clip.nut" ]; then
        ffmpeg -v error -f lavfi -i testsrc2=size=160x90:rate=30000/1001:duration=2 \
          -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 2 \
          -c:v rawvideo -pix_fmt rgb24 -c:a pcm_s16le -shortest "$tmp/clip.nut"
      fi
      args=("$tmp/clip.nut") rate=44100
      ;;
  esac
}

# Renders case $1 on one machine and holds the farm's movie $2 against it,
# then each segment the farm kept in $3 against the same frames cut from it:
# segment i of n holds frames i*F/n .. (i+1)*F/n - 1.
check_case() {
  local args rate frames n i start end seg
  case_args "$1"
  "$zemo3" render "${args[@]}" -o "$tmp/whole.mov" >/dev/null || fail "$1: the one-machine render failed"
  same_movie "$2" "$tmp/whole.mov" "$1" "$rate"
  frames=$(grep -c '^packet' "$tmp/whole.listing")
  n=$(find "$3" -name 'seg_*.mov' | wc -l)
  for ((i = 0; i < n; i++)); do
    start=$((i * frames / n)) end=$(((i + 1) * frames / n - 1))
    seg=$3/seg_$(printf %04d $i).mov
    "$zemo3" cut "$tmp/whole.mov" --start $start --end $end -o "$tmp/cut.mov" >/dev/null
    cmp -s "$seg" "$tmp/cut.mov" || fail "$1: $(basename "$seg") is not frames $start..$end of the one-machine render"
  done
}
