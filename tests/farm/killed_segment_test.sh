#!/usr/bin/env bash
# A farm machine can die mid-segment. zemo3 render writes beside the output
# and renames at the end, so a killed render leaves nothing under the
# segment's name, and a segment rendered before it stays as it was; what it
# did leave, or a segment cut short, is refused by the join.
source "$(dirname "$0")/lib.sh"

need timeout
farm_commands

cd "$tmp"
long=(--demo --size 160x90 --fps 25 --duration 3600)

# ---- Killed with no segment before it ---------------------------------------
code=0
timeout -s KILL 2 "$zemo3" render "${long[@]}" --start 100 -o seg.mov >/dev/null 2>&1 || code=$?
[ "$code" -eq 137 ] || fail "the long render was not killed (exit $code)"
[ ! -e seg.mov ] || fail "a killed render left seg.mov under its final name"
shopt -s nullglob dotglob
leftovers=(*)
note "a killed render left: ${leftovers[*]:-nothing}"
# The segment rendered again, as a farm retries it, comes out whole.
"$zemo3" render --demo --size 160x90 --fps 25 --duration 1 -o seg.mov >/dev/null || fail "the retried segment failed"
"$zemo3" verify seg.mov >/dev/null || fail "the retried segment does not pass zemo3 verify"

# ---- Killed over a segment rendered before ----------------------------------
"$zemo3" render --demo --size 160x90 --fps 25 --duration 1 --start 0 --end 9 -o good.mov >/dev/null
cp good.mov good.before
code=0
timeout -s KILL 2 "$zemo3" render "${long[@]}" --start 0 --end 89999 -o good.mov >/dev/null 2>&1 || code=$?
[ "$code" -eq 137 ] || fail "the second long render was not killed (exit $code)"
cmp -s good.mov good.before || fail "a killed render changed the segment already under its name"

# ---- What the join makes of the remains -------------------------------------
"$zemo3" render --demo --size 160x90 --fps 25 --duration 1 --start 10 --end 19 -o next.mov >/dev/null
head -c $(($(stat -c %s next.mov) / 2)) next.mov >short.mov
refused() {
  local code=0
  "$zemo3" join "$@" -o joined.mov >join.out 2>join.err || code=$?
  [ "$code" -eq 1 ] || fail "join $* gave exit $code, not 1 (refused): $(cat join.err)"
  [ ! -e joined.mov ] || fail "join $* was refused but wrote joined.mov"
  grep -q -- "${@: -1}" join.err || fail "join $* did not name the bad segment: $(cat join.err)"
}
refused good.mov short.mov
for left in "${leftovers[@]}"; do
  # A partial file the killed render left beside the output.
  if [ -s "$left" ]; then refused good.mov "$left"; fi
done
"$zemo3" join good.mov next.mov -o joined.mov >/dev/null || fail "the good segments did not join"
"$zemo3" verify joined.mov >/dev/null || fail "the joined good segments do not pass zemo3 verify"
note "passed"
