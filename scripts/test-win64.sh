#!/usr/bin/env bash
# The Win64 leg of the tests, under Wine on a virtual X screen (run it through
# xvfb-run, as `make test-win64` does):
#  1. every test program of build-win64 through ctest (Wine as the emulator);
#  2. the Win64 zemo3.exe against this machine's build/ (renders of the demo and
#     of a clip with sound, packet for packet, and a name outside ASCII; ranges
#     rendered there joined there and here; a full disk);
#  3. a picture of the module's real options dialog, out/win64-dialog.png.
# Wine's prefix lives in build-win64/wine; its server is shut down at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=$root/build-win64/wine
run="$root/scripts/wine-run.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

"$run" cmd /c exit 0  # makes the prefix once, before the tests run in parallel
# Wine's server and its helpers shut down a few seconds after this; the
# tests start once they are gone, not during the shutdown.
wineserver -w

mkdir -p "$root/out"
(cd "$root/build-win64" && ctest --output-on-failure -j "${JOBS:-2}" --timeout 300 --output-log "$root/out/ctest-win64.log")

ZEMO_WIN64_ZEMO3="$run $root/build-win64/bin/zemo3.exe" \
  "$root/build/tests/tools/test_tools" --gtest_filter='Win64.*:Limits.AFullDisk*' --gtest_brief=1

# The picture is taken from the X screen while the test holds the dialog open.
picture=$root/out/win64-dialog.png
mkdir -p "$root/out"
rm -f "$picture" "$picture.place"
ZEMO_DIALOG_PICTURE="Z:${picture//\//\\}" "$run" "$root/build-win64/bin/test_module.exe" \
  --gtest_filter='Options.Win32DialogTakesTheChoice' --gtest_brief=1 &
test_pid=$!
for _ in $(seq 300); do
  [ -s "$picture.place" ] && break
  sleep 0.1
done
if [ -s "$picture.place" ]; then
  import -window root -crop "$(cat "$picture.place")" "$picture.partial.png"
  mv "$picture.partial.png" "$picture"
fi
wait "$test_pid"
rm -f "$picture.place"
[ -s "$picture" ] || { echo "test-win64: no picture of the dialog was taken" >&2; exit 1; }
echo "test-win64: every Win64 test passed; the dialog's picture is $picture"
