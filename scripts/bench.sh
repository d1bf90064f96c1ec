#!/usr/bin/env bash
# Measures the launcher against its floors under Wine and prints one table.
#
# usage: scripts/bench.sh [--quick] [--only PHASE] [BUILD_DIR]
#   --quick    one run of each figure and a 1 s idle window: checks that
#              every measurement works, judges nothing (for make check)
#   --only     one phase (start, log, foreground, service, service-start,
#              capture); the other rows say "not run"
#   BUILD_DIR  the configured build with the bench programs (default build)
#
# The bench uses a Wine prefix of its own, BUILD_DIR/wine-bench/prefix: one
# level deeper than the tests' prefix, because wine-keeper.sh and
# wine-prefix.sh keep their state beside the prefix. Every phase in which
# something serves on port 17003 runs under /tmp/ovwebui-ports.lock, once
# 17003 and 8080 are free. Raw samples and driver output are kept in
# BUILD_DIR/bench-results.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
scripts=$here/scripts
lock=/tmp/ovwebui-ports.lock
ports_wait_limit=900

# ------------------------------------------------------------ locked phases
# Re-entered through flock: "$0" __locked BUILD RESULTS PHASE ARGS...
if [ "${1:-}" = __locked ]; then
  shift
  build=$1 results=$2 phase=$3
  shift 3
  # The caller waits for this file to go before it ends the prefix, so an
  # interrupted phase can still remove its service.
  echo $$ >"$results/locked.pid"
  trap 'rm -f "$results/locked.pid"' EXIT
  trap 'exit 130' INT TERM
  waited=0
  while ss -Hltn '( sport = :17003 or sport = :8080 )' | grep -q .; do
    if [ $waited -eq 0 ]; then
      echo "bench: port 17003 or 8080 is busy ($(ss -Hltn '( sport = :17003 or sport = :8080 )' | awk '{print $4}' | xargs)); waiting" >&2
    fi
    sleep 1
    waited=$((waited + 1))
    if [ $waited -ge $ports_wait_limit ]; then
      echo "bench: the ports are still busy after ${waited} s; giving up on phase $phase" >&2
      exit 1
    fi
  done
  [ $waited -gt 0 ] && echo "bench: ports free after ${waited} s" >&2
  driver() { "$scripts/wine-run.sh" "$build/bench_driver.exe" "$@"; }
  case $phase in
  boot)
    # A service left by an aborted bench starts with the prefix and serves:
    # boot and remove it while holding the ports.
    "$scripts/wine-keeper.sh" start || exit 1
    driver service-cleanup >"$results/cleanup.out" 2>&1
    exit 0
    ;;
  service | service-start | capture)
    # Whatever happens, no ovWebUI stays installed (it would start with the
    # prefix next time), nor the bench's do-nothing service; service-cleanup
    # sends at most one stop request.
    trap 'driver service-cleanup >"$results/$phase-cleanup.out" 2>&1; rm -f "$results/locked.pid"' EXIT
    driver "$phase" "$@"
    exit $?
    ;;
  *)
    driver "$phase" "$@"
    exit $?
    ;;
  esac
fi

# ------------------------------------------------------------ arguments
quick=0
only=
build=$here/build
while [ $# -gt 0 ]; do
  arg=$1
  shift
  case $arg in
  --quick) quick=1 ;;
  --only)
    only=${1:-}
    shift
    ;;
  -h | --help)
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  -*)
    echo "bench: unknown option $arg" >&2
    exit 2
    ;;
  *) build=$arg ;;
  esac
done
wanted() { [ -z "$only" ] || [ "$only" = "$1" ] || [ "$1" = boot ]; }
build=$(cd "$build" 2>/dev/null && pwd) || { echo "bench: no build folder" >&2; exit 2; }

if [ $quick -eq 1 ]; then
  start_runs=1 stop_runs=1 idle_runs=1 window_ms=1000 log_runs=1 log_messages=5000
  service_start_runs=1 capture_runs=1 capture_bytes=$((8 << 20))
else
  start_runs=11 stop_runs=7 idle_runs=5 window_ms=10000 log_runs=7 log_messages=50000
  service_start_runs=21 capture_runs=7 capture_bytes=$((64 << 20))
fi

for exe in ovwebui fake-java floor_launch floor_service relay bench_driver bench_log; do
  if [ ! -f "$build/$exe.exe" ]; then
    echo "bench: $build/$exe.exe is missing; build first (make all)" >&2
    exit 2
  fi
done
# The top-level CMakeLists makes an empty build type Release; the flags say
# what the launcher was really compiled with.
build_flags=$(sed -n 's/^CXX_FLAGS = //p' "$build/CMakeFiles/ovwebui.dir/flags.make" 2>/dev/null | grep -o -e '-O[0-9s]' -e '-DNDEBUG' | xargs)

# Never the tests' prefix, whatever the caller's environment says.
export OV_WINEPREFIX=${OV_BENCH_WINEPREFIX:-$build/wine-bench/prefix}
results=$build/bench-results
rm -rf "$results"
mkdir -p "$results"
began=$(date +%s.%N)
# Other work on the machine moves every figure: say how busy it was.
load_before=$(cut -d' ' -f1 /proc/loadavg)

# ------------------------------------------------------------ helpers
failed=0
# Runs one phase; its output goes to files (never a pipe: Wine's background
# processes could hold it open).
phase() {
  local name=$1 locked=$2
  shift 2
  wanted "$name" || return 0
  local out=$results/$name.out rc=0
  if [ "$locked" = locked ]; then
    # -o: the lock's descriptor is closed in the command, so no Wine
    # process that outlives the phase can hold the lock.
    flock -n -E 200 -o "$lock" "$0" __locked "$build" "$results" "$@" >"$out" 2>"$results/$name.err" || rc=$?
    if [ $rc -eq 200 ]; then
      echo "bench: waiting for $lock (another run holds the ports)" >&2
      rc=0
      flock -o "$lock" "$0" __locked "$build" "$results" "$@" >"$out" 2>"$results/$name.err" || rc=$?
    fi
  else
    "$scripts/wine-run.sh" "$@" >"$out" 2>"$results/$name.err" || rc=$?
  fi
  # Messages about waiting for the ports belong on the console.
  grep '^bench:' "$results/$name.err" >&2
  grep -h '^SAMPLE ' "$out" >>"$results/samples.txt"
  if [ $rc -ne 0 ] || grep -q '^FAIL ' "$out"; then
    echo "bench: phase $name failed (exit $rc):" >&2
    grep -h '^FAIL ' "$out" >&2
    tail -n 5 "$results/$name.err" >&2
    failed=1
  fi
}

# n, median, min and max of one sample key; "0 - - -" without samples.
stats() {
  awk -v k="$1" '$1 == "SAMPLE" && $2 == k { print $3 }' "$results/samples.txt" | sort -g |
    awk '{ v[NR] = $1 }
         END {
           if (NR == 0) { print "0 - - -"; exit }
           m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
           printf "%d %.6f %.6f %.6f\n", NR, m, v[1], v[NR]
         }'
}

median1() { stats "$1" | awk '{ print $2 == "-" ? "-" : sprintf("%.1f", $2) }'; }

# ------------------------------------------------------------ phases
touch "$results/samples.txt"
finish() {
  # flock does not outlive an interrupt, but the phase it ran may still be
  # removing its service: let it, then end the prefix.
  local pid
  pid=$(cat "$results/locked.pid" 2>/dev/null)
  for _ in $(seq 1 120); do
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break
    sleep 1
  done
  "$scripts/wine-keeper.sh" stop >/dev/null 2>&1
}
trap finish EXIT
trap 'exit 130' INT TERM

# The prefix comes up once and stays up (a Windows program kept alive), so
# no phase pays for booting it and services are not stopped in between.
if grep -qF 'Services\\ovWebUI]' "$OV_WINEPREFIX/system.reg" 2>/dev/null; then
  phase boot locked boot
else
  "$scripts/wine-keeper.sh" start >"$results/boot.out" 2>&1 || { echo "bench: Wine prefix did not come up" >&2; exit 1; }
fi

wanted start && echo "bench: start overhead ($start_runs runs each)" >&2
# Locked too: each foreground start first looks whether 17003 is taken.
phase start locked start "$start_runs"
wanted log && echo "bench: log throughput ($log_runs runs each)" >&2
phase log unlocked "$build/bench_log.exe" "$log_runs" "$log_messages"
wanted foreground && echo "bench: foreground idle and memory ($idle_runs runs each, $((window_ms / 1000)) s window)" >&2
phase foreground locked foreground "$idle_runs" "$window_ms"
wanted service && echo "bench: service stop latency and idle ($stop_runs stop runs, $idle_runs idle runs)" >&2
phase service locked service "$stop_runs" "$idle_runs" "$window_ms"
wanted service-start && echo "bench: service start ($service_start_runs runs each)" >&2
phase service-start locked service-start "$service_start_runs"
wanted capture && echo "bench: output capture ($capture_runs runs each, $((capture_bytes >> 20)) MiB)" >&2
phase capture locked capture "$capture_runs" "$capture_bytes"

# Size: the release exe as built, and the minimal program stripped alike.
exe_bytes=$(stat -c %s "$build/ovwebui.exe")
x86_64-w64-mingw32-strip -o "$results/floor_launch.stripped.exe" "$build/floor_launch.exe"
floor_bytes=$(stat -c %s "$results/floor_launch.stripped.exe")
echo "SAMPLE size.launcher $(awk -v b="$exe_bytes" 'BEGIN { printf "%.3f", b / 1024 }')" >>"$results/samples.txt"
echo "SAMPLE size.floor $(awk -v b="$floor_bytes" 'BEGIN { printf "%.3f", b / 1024 }')" >>"$results/samples.txt"
if "$scripts/check-static.sh" "$build/ovwebui.exe" >"$results/static.out" 2>&1; then
  static=yes
else
  static=no
fi
imports=$(sed -n 's/.*imports only: //p' "$results/static.out")
# Stripped: no symbol table and no debug sections.
x86_64-w64-mingw32-objdump -t -h "$build/ovwebui.exe" >"$results/objdump.out" 2>&1
if grep -q '^no symbols' "$results/objdump.out" && ! grep -q ' \.debug' "$results/objdump.out"; then
  stripped=yes
else
  stripped=no
fi

# ------------------------------------------------------------ the table
# row TITLE KEY FLOOR_KEY DECIMALS KIND GOAL GOAL_TEXT
#   ratio-max:  median/floor <= GOAL     diff-max: median-floor <= GOAL
#   below:      median < GOAL            at-least: median >= GOAL
#   at-most:    median <= GOAL
line() { printf '%-36s %3s %10s %10s %10s %10s %10s  %-17s %s\n' "$@"; }
row() {
  local title=$1 key=$2 floor_key=$3 decimals=$4 kind=$5 goal=$6 goal_text=$7 extra=${8:-}
  read -r n median min max <<<"$(stats "$key")"
  read -r fn fmedian _ _ <<<"$(stats "$floor_key")"
  if [ "$n" -eq 0 ] && [ -n "$only" ]; then
    line "$title" 0 - - - - - "$goal_text" "not run"
    return
  fi
  if [ "$n" -eq 0 ]; then
    line "$title" 0 - - - - - "$goal_text" "NOT MEASURED"
    failed=1
    return
  fi
  local fmt="%.${decimals}f"
  local vs verdict
  vs=$(awk -v m="$median" -v f="${fmedian:-0}" -v fn="$fn" -v kind="$kind" -v d="$decimals" 'BEGIN {
         if (fn == 0) { print "-"; exit }
         if (kind == "diff-max" || kind == "below") printf "%+.*f\n", d, m - f
         else printf "x%.2f\n", (f > 0 ? m / f : 0) }')
  verdict=$(awk -v m="$median" -v f="${fmedian:-0}" -v fn="$fn" -v g="$goal" -v kind="$kind" 'BEGIN {
         if (kind == "ratio-max") ok = fn > 0 && f > 0 && m / f <= g
         else if (kind == "diff-max") ok = fn > 0 && m - f <= g
         else if (kind == "below") ok = m < g
         else if (kind == "at-least") ok = m >= g
         else ok = m <= g
         print ok ? "met" : "MISSED" }')
  if [ "$verdict" = met ] && [ -n "$extra" ] && [ "$extra" != ok ]; then
    verdict=MISSED
  fi
  [ $quick -eq 1 ] && verdict="($verdict)"
  line "$title" "$n" "$(printf "$fmt" "$median")" "$(printf "$fmt" "$min")" "$(printf "$fmt" "$max")" \
    "$([ "$fn" -gt 0 ] && printf "$fmt" "$fmedian" || echo -)" "$vs" "$goal_text" "$verdict"
}

elapsed=$(awk -v a="$began" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')
echo
echo "ovwebui.exe (${build_flags:-flags unknown}) under $(wine --version 2>/dev/null), stand-in java.exe" \
  "$([ $quick -eq 1 ] && echo '(--quick: 1 run each, 1 s idle window; nothing judged)')"
line "Figure" n Median Min Max Floor "vs floor" Goal Result
line "------" - ------ --- --- ----- -------- ---- ------
row "1 Start, foreground run (ms)" start.launcher start.floor 1 ratio-max 1.10 "ratio <= 1.10"
row "2 Service stop latency (ms)" stop.service stop.floor 1 diff-max 300 "floor + 300 ms"
row "3 Idle CPU, foreground (ms/$((window_ms / 1000)) s)" idle.fg idle.floor 2 below 20 "< 20 ms"
row "3 Idle CPU, service (ms/$((window_ms / 1000)) s)" idle.service idle.floor 2 below 20 "< 20 ms"
row "4 Log, 4 threads (messages/s)" log.launcher log.floor 0 at-least 200000 ">= 200000/s"
row "5 Size, stripped exe (KiB)" size.launcher size.floor 1 at-most 200 "<= 200, static" \
  "$([ "$static" = yes ] && [ "$stripped" = yes ] && echo ok || echo not-static-or-stripped)"
row "6 Peak working set (KiB)" mem.launcher mem.floor 0 ratio-max 1.20 "ratio <= 1.20"
row "7 Service start to RUNNING (ms)" svcstart.launcher svcstart.floor 1 diff-max 10 "floor + 10 ms"
# A run whose output never reached the launcher's log timed no capture.
row "8 Output capture, $((capture_bytes >> 20)) MiB (ms)" capture.launcher capture.relay 1 ratio-max 1.25 "ratio <= 1.25" \
  "$([ "$(stats capture.unkept-runs | cut -d' ' -f2)" = 0.000000 ] && echo ok || echo output-not-kept)"
echo
echo "Floors: 1, 3, 6 floor_launch.exe (CreateProcessW of the same stand-in, then wait); 2 the stop"
echo "command alone against a stand-in serving; 4 pre-formatted lines, one locked WriteFile each;"
echo "5 floor_launch.exe stripped; 7 start to RUNNING of floor_service.exe, a service that reports RUNNING at"
echo "once (median $(median1 svcstart.floor-service) ms), plus the stand-in's own time to listen when started directly (median"
echo "$(median1 svcstart.listen) ms), summed per run; 8 the stand-in's time for its writes under relay.exe (one pipe with a"
echo "1 MiB buffer, 64 KiB reads to a file). Goals are judged on the median."
echo "Size: $exe_bytes bytes, stripped: $stripped, one static file: $static (imports: ${imports:-?})."
grep -h '^NOTE ' "$results"/*.out | grep -v -e ' run [0-9]*: ' -e 'cleanup:' | sed 's/^NOTE /Note: /' | sort -u
read -r cn cmedian _ cmax <<<"$(stats check.fg)"
read -r _ csvc _ _ <<<"$(stats check.service)"
echo "Idle windows open once each run's one-time permission check (3 s after the server's start, a walk of a"
echo "jetty-home of 2,000 files) is over; its CPU, ended threads included (10 ms ticks): median $cmedian ms, max $cmax ms"
echo "in the foreground ($cn runs), median $csvc ms as the service."
echo "Idle CPU: run time of the Wine process's Linux threads (schedstat, ns); under Wine 8 GetProcessTimes"
echo "of another process does not follow its CPU use (per-run values of all sources: $results/*.out)."
echo "Took ${elapsed} s on $(nproc) CPUs, load average $load_before at the start, $(cut -d' ' -f1 /proc/loadavg) at the end;"
echo "samples in $results/samples.txt"

# A missed goal is a finding, not an error; a measurement that could not be
# made is.
if [ $failed -ne 0 ]; then
  echo "bench: some measurements failed (see above)" >&2
  exit 1
fi
exit 0
