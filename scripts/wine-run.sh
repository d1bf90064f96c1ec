#!/usr/bin/env bash
# Runs a Windows program under the build's Wine prefix and returns its exit
# code. Wine's background processes inherit the output handles of the first
# program of a prefix, so the program writes to files, and we wait for the
# program itself rather than for the end of a pipe.
set -u
source "$(dirname "$0")/wine-env.sh"
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err" </dev/null
code=$?
cat "$out"
cat "$err" >&2
exit $code
