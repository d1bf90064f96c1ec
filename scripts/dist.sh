#!/usr/bin/env bash
# Packs the release from a Release build:
#   BUILD_DIR/dist/ovwebui-<version>-win-x64.zip          ovwebui.exe, README.md (the
#                                                         administrator's guide),
#                                                         etc/launcher.conf
#   BUILD_DIR/dist/ovwebui-<version>-win-x64.zip.sha256   as sha256sum prints it
# The same sources give the same bytes: the exe has no link time in it, and
# the zip's entries have fixed times, modes and order and no extra fields.
#   scripts/dist.sh [BUILD_DIR]   (default build; build ovwebui first)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if ! grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "dist: $build is not a configured Release build" >&2
  exit 2
fi
[ -f "$build/ovwebui.exe" ] || { echo "dist: $build/ovwebui.exe is missing" >&2; exit 2; }
version=$(cat "$build/version.txt")
name=ovwebui-$version-win-x64
out=$build/dist
stage=$out/$name

rm -rf "$stage" "$out/$name.zip" "$out/$name.zip.sha256"
mkdir -p "$stage/etc"
cp "$build/ovwebui.exe" "$stage/"
cp "$root/docs/ADMINISTRATION.md" "$stage/README.md"
# Every key commented out at its default, so the file changes nothing; CRLF
# for Notepad.
sed 's/\r*$/\r/' "$root/demo/launcher.conf" >"$stage/etc/launcher.conf"
chmod 755 "$stage/ovwebui.exe"
chmod 644 "$stage/README.md" "$stage/etc/launcher.conf"

# Zip keeps local DOS times: fix both the time and the zone.
export TZ=UTC
find "$stage" -exec touch -h -d '2000-01-01 00:00:00' {} +
(cd "$stage" && zip -q -X -D "$out/$name.zip" ovwebui.exe README.md etc/launcher.conf)
(cd "$out" && sha256sum "$name.zip" >"$name.zip.sha256")
rm -rf "$stage"
echo "dist: $out/$name.zip"
cat "$out/$name.zip.sha256"
