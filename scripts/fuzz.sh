#!/usr/bin/env bash
# Builds the libFuzzer programs (clang, ASan+UBSan, instrumented libraries)
# in build-fuzz and runs each target for FUZZ_SECONDS (default 60) under
# nice, one after the other. Installs clang and its runtime first when
# missing, so the ordinary build never needs them.
#
#   scripts/fuzz.sh [TARGET...]      targets: decode pack verify join element pipeline view (default all)
#
# Corpora grow in build-fuzz/corpus/<target>, seeded from the targets' own
# seeds (fuzz_<target>_replay --write-corpus), fuzz/seeds/<target> and
# fuzz/regressions/<target>. A failing input lands in
# build-fuzz/crashes/<target>-*; once fixed, copy it to
# fuzz/regressions/<target>/ so the replay test keeps it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}
jobs=${JOBS:-$(nproc)}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode pack verify join element pipeline view)

missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEMO_SANITIZE=address -DZEMO_FUZZ=ON >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_$t" "fuzz_${t}_replay"); done
cmake --build "$build" -j "$jobs" --target "${build_targets[@]}"

status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus" "$build/crashes"
  "$build/fuzz/fuzz_${t}_replay" --write-corpus "$corpus"
  inputs=("$corpus")
  seeds=$t
  [ "$t" = join ] && seeds=verify  # the join starts from verify's small movies
  for extra in "fuzz/seeds/$seeds" "fuzz/regressions/$t"; do
    [ -d "$extra" ] && inputs+=("$extra")
  done
  echo "== fuzz_$t for ${seconds} s"
  # A unit that takes over 60 s counts as a hang (a loaded machine is slow),
  # an allocation over 2 GB as a failure (libFuzzer's default memory limit).
  if ! nice -n 10 "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
      -artifact_prefix="$build/crashes/$t-" "${inputs[@]}" 2>"$build/fuzz_$t.log"; then
    status=1
    grep -E "ERROR|SUMMARY|Test unit written" "$build/fuzz_$t.log" || true
  fi
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)" \
    "$build/fuzz_$t.log" || true
  echo "corpus: $(find "$corpus" -type f | wc -l) inputs"
done
exit $status
