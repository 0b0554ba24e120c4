#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in the build's own prefix
# (build-win64/wine, or $WINEPREFIX), with Wine's own messages off. CMake's
# cross-compiling emulator for the Win64 build.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build-win64/wine}
export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# A program that crashes must end with a failing status. Wine's own debugger,
# started for a crash by default, prints a backtrace and ends the program with
# status 0, so a test that crashed would pass. With no debugger the program
# ends with the exception's code (5 for an access violation), after Wine's line
# "Unhandled page fault ... at address ...". Set once per prefix.
if [ ! -f "$WINEPREFIX/.crashes-fail" ]; then
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1 &&
    touch "$WINEPREFIX/.crashes-fail"
fi
# Wine's server exits a few seconds after its last program. A program that
# starts just then dies before it runs with "wine client error:0: recvmsg:
# Connection reset by peer"; such a start is tried again (at most 3 times).
# Wine's standard error is kept aside to look for that line and then passed on.
# A listing of a test program's tests (ctest's discovery, which fails the
# whole leg when one listing fails) is tried again after any failure: once a
# listing ended with status 1 and no output at all, and did not again in
# hundreds of tries. The listing is passed on from the start that succeeded.
# A test run that fails having printed nothing is tried again too: a test
# program prints its header before any test, and once one ended in 0.02 s
# with status 1 and no output, and then passed 40 times in 40.
listing=false
test=false
for a in "$@"; do
  [ "$a" = --gtest_list_tests ] && listing=true
  case "$a" in --gtest_filter=*) test=true ;; esac
done
err=$(mktemp)
out=$(mktemp)
trap 'rm -f "$err" "$out"' EXIT
for attempt in 1 2 3; do
  if $listing || $test; then
    wine "$@" 2>"$err" >"$out"
  else
    wine "$@" 2>"$err"
  fi
  rc=$?
  if [ "$rc" -ne 0 ] && [ "$attempt" -lt 3 ]; then
    if grep -q "^wine client error:.*Connection reset by peer" "$err"; then
      echo "wine-run: Wine's server was exiting as $1 started; starting it again" >&2
      sleep 1
      continue
    fi
    if $listing; then
      echo "wine-run: listing the tests of $1 ended with status $rc; listing them again" >&2
      cat "$err" >&2
      sleep 1
      continue
    fi
    if $test && [ ! -s "$out" ]; then
      echo "wine-run: $1 ended with status $rc before printing anything; starting it again" >&2
      cat "$err" >&2
      sleep 1
      continue
    fi
  fi
  ($listing || $test) && cat "$out"
  cat "$err" >&2
  exit "$rc"
done
