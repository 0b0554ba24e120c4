# shellcheck shell=bash
# How the shell tests report, under their $name: a note, a skip (ctest's
# SKIP_RETURN_CODE 77) or a failure. Sourced after $name is set.
skip() {
  echo "$name: SKIPPED: $*"
  exit 77
}
fail() {
  echo "$name: FAILED: $*" >&2
  exit 1
}
note() { echo "$name: $*"; }
