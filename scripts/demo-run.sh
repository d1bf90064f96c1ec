#!/usr/bin/env bash
# Runs the demo installation's launcher in the foreground under Wine, on a
# real Java and Jetty, and prints the address once the page answers.
# Ctrl+C stops it; nothing of it is left running afterwards.
set -u
demo=$(cd "${1:-build/demo}" && pwd)
source "$(dirname "$0")/wine-env.sh"
"$(dirname "$0")/wine-prefix.sh"
# Wine makes the prefix's user the owner of every file, with full control,
# and its primary group the owner of every key it creates: trust them as an
# administrator would trust a deployment account, or every file of the kit
# would be a warning in the log.
wine reg add 'HKLM\Software\Orvane\WebUI' /v TrustedAccounts /t REG_MULTI_SZ \
  /d 'S-1-5-21-0-0-0-1000\0S-1-5-21-0-0-0-513' /f \
  >/dev/null 2>&1 </dev/null || { echo "Cannot set TrustedAccounts in the Wine prefix" >&2; exit 1; }

for port in 8080 17003; do
  for i in $(seq 1 30); do
    (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null || break
    [ "$i" = 1 ] && echo "Port $port is busy; waiting for it to be free..."
    [ "$i" = 30 ] && { echo "Port $port is still busy: stop what holds it and try again." >&2; exit 1; }
    sleep 1
  done
done

stop_all() {
  trap - INT TERM
  echo
  echo "Stopping..."
  # Ctrl+C reached the launcher and Java too; give Jetty a moment to stop.
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  echo "Stopped."
  exit 0
}

cd "$demo"
echo "Starting the Orvane Web UI from $demo (Java's first start under Wine takes a few seconds)..."
wine ovwebui.exe </dev/null &
pid=$!
trap stop_all INT TERM

for _ in $(seq 1 900); do
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    code=$?
    echo "The launcher ended with exit code $code; see $demo/logs/launcher.log" >&2
    exit "$code"
  fi
  if curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1:8080/ 2>/dev/null | grep -q 200; then
    echo
    echo "The Orvane Web UI is serving: open http://127.0.0.1:8080/"
    echo "Logs: $demo/logs (launcher.log, jetty.log). Press Ctrl+C to stop."
    break
  fi
  sleep 0.2
done
wait "$pid"
code=$?
echo "The launcher ended with exit code $code."
wineserver -k 2>/dev/null
exit "$code"
