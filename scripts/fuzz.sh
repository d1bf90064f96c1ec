#!/usr/bin/env bash
# Builds the fuzz targets natively (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS seconds (default:
# $FUZZ_SECONDS, else 60), starting from the seeds in tests/fuzz-corpus/.
# Prints the runs and the final coverage of each target; exits non-zero
# when any target crashes, trips a sanitizer or fails a check.
#   scripts/fuzz.sh [SECONDS]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
case $seconds in
  '' | *[!0-9]* | 0) echo "usage: $0 [SECONDS]  (a whole number of seconds, at least 1)" >&2; exit 2 ;;
esac
out=$root/build/fuzz
targets=(config strings logline commandline health)

"$root/scripts/native-build.sh"

status=0
summary=()
for target in "${targets[@]}"; do
  # The seeds stay as committed; what libFuzzer adds goes to the copy.
  corpus=$out/corpus/$target
  artifacts=$out/artifacts/$target
  log=$out/$target.log
  mkdir -p "$corpus" "$artifacts"
  cp -p "$root/tests/fuzz-corpus/$target"/* "$corpus"/ 2>/dev/null || true

  options=(-max_total_time="$seconds" -timeout=25 -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ -f "$root/fuzz/$target.dict" ] && options+=(-dict="$root/fuzz/$target.dict")

  echo "== $target: ${seconds}s (log: ${log#"$root"/})"
  rc=0
  "$out/$target" "${options[@]}" "$corpus" >"$log" 2>&1 || rc=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+.*cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\) .*/\1/p' <<<"$last")
  line=$(printf '%-12s runs %-10s cov %-6s ft %-6s' "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}")
  if [ "$rc" -ne 0 ]; then
    status=1
    line="$line FAILED (exit $rc)"
    # The sanitizer or check message and the saved input.
    grep -E 'ERROR: |runtime error|check failed|SUMMARY: |Test unit written' "$log" | head -n 8 >&2 || true
  fi
  summary+=("$line")
done

echo "== summary (${seconds}s each)"
printf '%s\n' "${summary[@]}"
exit $status
