#!/usr/bin/env bash
# farm_guard: what a test starts goes down with it, a daemon that left the
# test's process tree and session included, when the test ends and when the
# guard itself is killed with SIGKILL, as ctest kills a test past its time;
# and the test's TMPDIR goes with them.
set -euo pipefail
guard=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() {
  echo "guard_test: FAILED: $*" >&2
  exit 1
}
# Running, and not a zombie waiting for a parent that does not reap.
alive() { [ -n "$(ps -o stat= -p "$1" 2>/dev/null | grep -v Z)" ]; }
# Whether none of the processes named in file $1 runs; wait_gone waits up to
# 10 s for that.
all_gone() {
  local pid
  for pid in $(cat "$1"); do
    if alive "$pid"; then return 1; fi
  done
}
wait_gone() {
  local i
  for ((i = 0; i < 100; i++)); do
    all_gone "$1" && return 0
    sleep 0.1
  done
  return 1
}
# The test: a daemon (forked twice, a session of its own), then $1.
test_script='(setsid sleep 300 & echo $! >>"$1"); echo $$ >>"$1"; echo "$TMPDIR" >"$1.tmp"; '

# ---- The test ends: its daemon is killed, its folder removed ---------------
code=0
"$guard" bash -c "$test_script exit 3" sh "$dir/ended" || code=$?
[ "$code" -eq 3 ] || fail "the guard gave exit $code, not the test's 3"
wait_gone "$dir/ended" || fail "a daemon outlived the test that ended: $(cat "$dir/ended")"
[ ! -e "$(cat "$dir/ended.tmp")" ] || fail "the test's TMPDIR is still there"

# ---- The guard is killed: the test and its daemon go down too --------------
"$guard" bash -c "$test_script exec sleep 300" sh "$dir/killed" &
guard_pid=$!
for ((i = 0; i < 100; i++)); do
  [ "$({ wc -l <"$dir/killed"; } 2>/dev/null)" = 2 ] && break
  sleep 0.1
done
[ "$(wc -l <"$dir/killed")" = 2 ] || fail "the test under the guard did not start"
all_gone "$dir/killed" && fail "the test's processes were not running"
kill -KILL "$guard_pid"
wait "$guard_pid" || true
wait_gone "$dir/killed" || fail "processes outlived the killed guard: $(cat "$dir/killed")"
[ ! -e "$(cat "$dir/killed.tmp")" ] || fail "the killed guard's test left its TMPDIR"
echo "guard_test: passed"
