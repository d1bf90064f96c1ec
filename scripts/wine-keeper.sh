#!/usr/bin/env bash
# start: keeps one Windows program alive for the tests, so Wine does not stop
# the Service Control Manager between two programs (and boot it again, with
# every automatic-start service, at the next one). stop: ends the prefix.
set -u
source "$(dirname "$0")/wine-env.sh"
state="$WINEPREFIX/../keeper"
case "${1:-}" in
start)
  "$(dirname "$0")/wine-prefix.sh"
  mkdir -p "$state"
  if [ -f "$state/pid" ] && kill -0 "$(cat "$state/pid")" 2>/dev/null; then exit 0; fi
  # The services inherit the environment (WINEDEBUG) and the standard error
  # of the prefix's first program: that is the keeper or the first probe
  # below, so both append to cmd.log, on a prefix that nothing else runs.
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -f "$state/cmd.log"
  # `sleep` holds cmd's stdin open; setsid keeps it out of CTest's process group.
  setsid bash -c 'sleep 100000 | wine cmd >>"$0/cmd.log" 2>&1' "$state" </dev/null >/dev/null 2>&1 &
  echo $! >"$state/pid"
  for _ in $(seq 1 100); do
    wine cmd /c exit 0 >/dev/null 2>>"$state/cmd.log" </dev/null && exit 0
    sleep 0.2
  done
  echo "Wine prefix did not come up" >&2
  exit 1
  ;;
stop)
  if [ -f "$state/pid" ]; then
    pkill -P "$(cat "$state/pid")" 2>/dev/null
    kill "$(cat "$state/pid")" 2>/dev/null
    rm -f "$state/pid"
  fi
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  exit 0
  ;;
*)
  echo "usage: $0 start|stop" >&2
  exit 2
  ;;
esac
