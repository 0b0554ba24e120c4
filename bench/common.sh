# Shared by the shell benchmarks (sourced from the source folder): their
# settings (BUILD, FRAMES, SIZES, REPEAT), FFmpeg's command line and bc
# installed on demand, a work folder removed on exit, and `median`, the median
# wall time in seconds of REPEAT runs of a command.
build=${BUILD:-build}
frames=${FRAMES:-60}
sizes=${SIZES:-"1920x1080 3840x2160"}
repeat=${REPEAT:-3}
zemo3="$build/tools/zemo3"
if ! command -v ffmpeg >/dev/null || ! command -v bc >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ffmpeg bc"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ffmpeg bc
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() {
  local times=()
  for _ in $(seq "$repeat"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((repeat + 1) / 2))p"
}
