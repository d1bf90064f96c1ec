#!/usr/bin/env bash
# Ctrl+C in the foreground reaches the launcher and the server on its
# console alike. The server ends on it by itself, so the launcher runs no
# stop command (which would only find the port closed), and its log ends
# with the server's end. Wine delivers a SIGINT to the process group of a
# console program as Ctrl+C to every process on that console.
set -u
source "$(dirname "$0")/../scripts/wine-env.sh"
build=$(cd "$1" && pwd)
dir="$build/test-tmp/ctrl-c-$$"
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/jre/bin" && cp "$build/ovwebui.exe" "$dir/" && cp "$build/fake-java.exe" "$dir/jre/bin/java.exe"

port_open() { (exec 3<>/dev/tcp/127.0.0.1/17003) 2>/dev/null; }
for _ in $(seq 1 300); do port_open || break; sleep 0.1; done
port_open && { echo "port 17003 is busy: another server holds it"; exit 1; }

(cd "$dir" && exec setsid wine ./ovwebui.exe </dev/null >"$dir/out.txt" 2>&1) &
pid=$!
for _ in $(seq 1 300); do port_open && break; sleep 0.1; done
port_open || { echo "the server never listened"; kill -KILL -- -"$pid"; exit 1; }
kill -INT -- -"$pid"
for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  echo "the launcher did not end within 15 s of Ctrl+C"; kill -KILL -- -"$pid"; exit 1
fi
wait "$pid"
code=$?

log="$dir/logs/launcher.log"
status=0
[ "$code" = 0 ] || { echo "exit code $code, want 0"; status=1; }
last=$(tail -n 1 "$log" | tr -d '\r' | sed 's/^.*\] //')
[ "$last" = "DEBUG5 shutdown: Server process terminated" ] || { echo "last log line: $last"; status=1; }
[ -e "$dir/jre/bin/stop-invocation.txt" ] && { echo "the stop command ran after the server had ended"; status=1; }
grep -q ' jetty: ' "$log" && { echo "the log holds stop-command output:"; grep ' jetty: ' "$log"; status=1; }
[ $status = 0 ] && echo "ok: Ctrl+C ended the run cleanly" || cat "$log"
exit $status
