#!/usr/bin/env bash
# The browser player's speed: frames per second that the page restores and
# draws, per type, at 1920x1080 and 3840x2160, on the GPU path (the frames'
# textures drawn by WebGL2) and on the CPU path (the reader's RGBA rebuild in
# WebAssembly), in headless Chromium on SwiftShader; beside the native GPU
# player, `zemo3 play --offscreen` on Mesa's llvmpipe, as a ratio. Also the
# reader's milliseconds per frame in WebAssembly (unpack; rebuild), beside
# the native reader's unpack (`zemo3 play --offscreen --bench`).
#
#   bench/web.sh                      both sizes, 20 frames per movie
#   SIZES=1920x1080 FRAMES=30 bench/web.sh
set -euo pipefail
cd "$(dirname "$0")/.."
export FRAMES=${FRAMES:-20}
source bench/common.sh
[ -f build-web/player/zemo3-reader.wasm ] || { echo "the player is not built: make web" >&2; exit 1; }
node_dir="$build/tests/web/node"
tests/web/install.sh "$node_dir"

list="$work/movies.txt"
: >"$list"
duration=$(echo "scale=6; $frames / 30" | bc -l)
for size in $sizes; do
  for type in normal normal-alpha high high-alpha; do
    movie="$work/$type-$size.mov"
    "$zemo3" render --demo --size "$size" --fps 30 --duration "$duration" --compression "$type" --no-sound \
      -o "$movie" >/dev/null
    seconds=$(median "$zemo3" play --offscreen "$movie")
    echo "$size $type $movie $(echo "scale=1; $frames / $seconds" | bc -l)" >>"$list"
  done
done
echo "The native reader (zemo3 play --offscreen --bench):"
"$zemo3" play --offscreen --bench --frames "$frames" 2>&1 | grep -v '^$' || true
echo
NODE_PATH="$node_dir/node_modules" ZEMO3="$zemo3" ZEMO3_PLAYER_DIR="$PWD/build-web/player" \
  node bench/web.js "$list" "$frames"
