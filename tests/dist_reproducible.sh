#!/usr/bin/env bash
# `make dist` in two fresh build folders (so the build path cannot leak in)
# must give the same zip, byte for byte, with the release's three files.
#   tests/dist_reproducible.sh BUILD_DIR
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$1/dist-check
# Run from make check's ctest: this make is a new one, not a sub-make.
unset MAKEFLAGS MFLAGS MAKELEVEL
rm -rf "$work"
for tree in a b; do
  make -C "$root" dist BUILD="$work/$tree" >"$work.$tree.log" 2>&1 || {
    echo "make dist failed in $work/$tree:"
    tail -n 20 "$work.$tree.log"
    exit 1
  }
done
version=$(cat "$work/a/version.txt")
zip=ovwebui-$version-win-x64.zip
(cd "$work/a/dist" && sha256sum -c "$zip.sha256")
a=$(cat "$work/a/dist/$zip.sha256")
b=$(cat "$work/b/dist/$zip.sha256")
if [ "$a" != "$b" ]; then
  echo "two builds of the same sources differ:"
  echo "  $a"
  echo "  $b"
  cmp -l "$work/a/ovwebui.exe" "$work/b/ovwebui.exe" | head -n 5
  exit 1
fi
entries=$(unzip -Z1 "$work/a/dist/$zip" | xargs)
if [ "$entries" != "ovwebui.exe README.md etc/launcher.conf" ]; then
  echo "unexpected entries in $zip: $entries"
  exit 1
fi
echo "same bytes twice: $a"
rm -rf "$work" "$work.a.log" "$work.b.log"
