#!/usr/bin/env bash
# "install" from a folder whose path does not fit the 260-character buffer:
# it must say so and register nothing, rather than register a cut path.
set -u
source "$(dirname "$0")/../scripts/wine-env.sh"
build=$1
dir="$build/test-tmp/long-$$/$(printf 'd%.0s' $(seq 1 120))/$(printf 'e%.0s' $(seq 1 120))"
trap 'rm -rf "$build/test-tmp/long-$$"' EXIT
mkdir -p "$dir" && cp "$build/ovwebui.exe" "$dir/"
(cd "$dir" && wine ./ovwebui.exe install >"$dir/out.txt" 2>/dev/null </dev/null)
code=$?
out=$(cat "$dir/out.txt")
wine reg query 'HKLM\System\CurrentControlSet\Services\ovWebUI' >"$dir/reg.txt" 2>&1 </dev/null
registered=$?
status=0
# ERROR_INSUFFICIENT_BUFFER: the path does not fit.
[ "$code" = 122 ] || { echo "exit code $code, want 122"; status=1; }
want="ERROR: Cannot get the launcher's own path ("
case "$out" in
  "$want"*")") ;;
  *) echo "printed: $out"; echo "want:    $want...)"; status=1 ;;
esac
if [ "$registered" = 0 ]; then
  echo "a service was registered:"; cat "$dir/reg.txt"
  (cd "$dir" && wine ./ovwebui.exe remove >/dev/null 2>&1 </dev/null)
  status=1
fi
[ $status = 0 ] && echo "ok: $out"
exit $status
