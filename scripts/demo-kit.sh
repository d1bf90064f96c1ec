#!/bin/bash
# Lays out a demo installation of the Orvane Web UI: the launcher, a Windows
# Java 11 runtime, Jetty (home and base), the launcher's config and a logs
# folder, in the shape the launcher expects beside itself.
#
# usage: scripts/demo-kit.sh OUT_DIR CACHE_DIR EXE_PATH
#   OUT_DIR    the installation to (re)create, normally build/demo
#   CACHE_DIR  downloads are kept here, so a second run needs no network,
#              normally build/demo-cache
#   EXE_PATH   the built ovwebui.exe; "-" leaves it out (to test the kit alone)
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 OUT_DIR CACHE_DIR EXE_PATH|-" >&2
    exit 2
fi
OUT=$1
CACHE=$2
EXE=$3
HERE=$(cd "$(dirname "$0")/.." && pwd)
DEMO=$HERE/demo

# Pinned: the runtime inside this package is the one the kit is tested with.
JRE_PKG=@bazel/bazel-win32_x64@2.1.0
JRE_TGZ=bazel-bazel-win32_x64-2.1.0.tgz
# The tarball holds a self-extracting exe that is a zip; its embedded_tools/jdk
# is a jlinked Zulu 11.0.2 for Windows x64.
JRE_IN_ZIP=embedded_tools/jdk
JETTY_DEBS="jetty9 libjetty9-java libservlet-api-java"
# Must match the Implementation-Version of start.jar: the modules name their
# jars with ${jetty.version}.
JETTY_VERSION=9.4.57.v20241219

die() { echo "demo-kit: $*" >&2; exit 1; }

if [ "$EXE" != "-" ] && [ ! -f "$EXE" ]; then
    die "launcher not found: $EXE (build it first, or pass - to leave it out)"
fi

# A fresh Debian 12 may lack these; the script runs as root there.
need_pkgs=()
for tool in unzip:unzip zip:zip dpkg-deb:dpkg npm:npm; do
    command -v "${tool%%:*}" >/dev/null || need_pkgs+=("${tool#*:}")
done
if [ ${#need_pkgs[@]} -gt 0 ]; then
    echo "demo-kit: installing ${need_pkgs[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_pkgs[@]}" >/dev/null
fi

mkdir -p "$CACHE"
CACHE=$(cd "$CACHE" && pwd)

# --- fetch (only what is not cached yet) ---------------------------------
if [ ! -s "$CACHE/$JRE_TGZ" ]; then
    echo "demo-kit: fetching $JRE_PKG"
    (cd "$CACHE" && npm pack --silent "$JRE_PKG" >/dev/null)
    [ -s "$CACHE/$JRE_TGZ" ] || die "npm pack did not produce $JRE_TGZ"
fi
for pkg in $JETTY_DEBS; do
    if ! ls "$CACHE/${pkg}"_*.deb >/dev/null 2>&1; then
        echo "demo-kit: fetching $pkg"
        # apt's sandbox user cannot write into a root-owned work tree.
        (cd "$CACHE" && apt-get download -o APT::Sandbox::User=root "$pkg" >/dev/null) \
            || { apt-get update -qq && (cd "$CACHE" && apt-get download -o APT::Sandbox::User=root "$pkg" >/dev/null); }
    fi
done

# --- unpack into a scratch area of the cache ------------------------------
WORK=$CACHE/unpacked
rm -rf "$WORK"
mkdir -p "$WORK/npm" "$WORK/deb"
tar xzf "$CACHE/$JRE_TGZ" -C "$WORK/npm"
JRE_ZIP=$(ls "$WORK"/npm/package/bazel-*-windows-x86_64.exe)
for pkg in $JETTY_DEBS; do
    dpkg-deb -x "$(ls "$CACHE/${pkg}"_*.deb | tail -n 1)" "$WORK/deb"
done
DEB_HOME=$WORK/deb/usr/share/jetty9
DEB_ETC=$WORK/deb/etc/jetty9

# --- lay out the installation ----------------------------------------------
# OUT is wiped, so only ever an earlier kit or an empty/new folder.
if [ -d "$OUT" ] && [ -n "$(ls -A "$OUT")" ] && [ ! -f "$OUT/jetty-base/start.ini" ]; then
    die "$OUT is not empty and not a demo installation; refusing to replace it"
fi
rm -rf "$OUT"
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

if [ "$EXE" != "-" ]; then
    cp "$EXE" "$OUT/ovwebui.exe"
fi

# jre\ : unzip reports a warning (exit 1) for the bytes the exe has in
# front of the zip; only worse codes are errors.
rc=0
unzip -q "$JRE_ZIP" "$JRE_IN_ZIP/*" -d "$WORK/jre" || rc=$?
[ $rc -le 1 ] || die "unzip of the runtime failed ($rc)"
mv "$WORK/jre/$JRE_IN_ZIP" "$OUT/jre"
[ -f "$OUT/jre/bin/java.exe" ] || die "no bin/java.exe in the runtime"

# jetty-home\ : Debian spreads Jetty over /usr/share/jetty9, /etc/jetty9 and
# /usr/share/java, joined by symlinks. Windows follows none of them, so copy
# with links resolved. Links into packages the kit does not take (JSP,
# websocket, ...) dangle and are left out; modules needing them can't be used.
H=$OUT/jetty-home
mkdir -p "$H/lib" "$H/etc"
cp -r "$DEB_HOME/modules" "$H/modules"
(cd "$DEB_HOME/lib" && find . \( -type f -o -type l \) -name '*.jar') | while read -r jar; do
    if [ -e "$DEB_HOME/lib/$jar" ]; then
        mkdir -p "$H/lib/$(dirname "$jar")"
        cp -L "$DEB_HOME/lib/$jar" "$H/lib/$jar"
    fi
done
# start.ini, start.d and jetty.conf configure Debian's system service, not
# a Jetty home: the kit's settings are all in jetty-base.
(cd "$DEB_ETC" && find . -type f ! -path './start.d/*' ! -name start.ini ! -name jetty.conf) | while read -r f; do
    mkdir -p "$H/etc/$(dirname "$f")"
    cp -L "$DEB_ETC/$f" "$H/etc/$f"
done

# start.jar: Debian's manifest puts /usr/share/java/jetty9-util.jar on its
# Class-Path; point it at the copy in lib\ instead (relative to the jar).
SJ=$WORK/start.jar.d
mkdir -p "$SJ"
unzip -q "$(readlink -f "$DEB_HOME/start.jar")" -d "$SJ"
grep -q '^Class-Path: /usr/share/java/jetty9-util.jar\s*$' "$SJ/META-INF/MANIFEST.MF" \
    || die "start.jar manifest is not the one expected"
sed -i "s|^Class-Path: .*|Class-Path: lib/jetty-util-$JETTY_VERSION.jar|" "$SJ/META-INF/MANIFEST.MF"
grep -q "^Implementation-Version: $JETTY_VERSION" "$SJ/META-INF/MANIFEST.MF" \
    || die "start.jar is not Jetty $JETTY_VERSION"
# Keep the jar's own date on the edited manifest, so reruns give the same jar.
touch -r "$(readlink -f "$DEB_HOME/start.jar")" "$SJ/META-INF" "$SJ/META-INF/MANIFEST.MF"
# Manifest first, as jar tools write it (some readers look only there).
(cd "$SJ" && zip -qX "$H/start.jar" META-INF/MANIFEST.MF && zip -qXr "$H/start.jar" . -x META-INF/MANIFEST.MF)

# Every jar named by the modules the kit enables must be there under the
# name the module uses. jetty-schemas-3.1.jar (XSDs for validating web.xml,
# which is off by default) is not packaged by Debian and is not needed.
for mod in server threadpool bytebufferpool http deploy webapp servlet security; do
    [ -f "$H/modules/$mod.mod" ] || die "module $mod missing"
    sed -n '/^\[lib\]/,/^\[/p' "$H/modules/$mod.mod" | { grep '^lib/.*\.jar$' || true; } \
        | sed "s/\${jetty.version}/$JETTY_VERSION/" | while read -r jar; do
        [ "$jar" = lib/jetty-schemas-3.1.jar ] && continue
        [ -f "$H/$jar" ] || die "module $mod needs $jar, which the packages don't provide"
    done
    sed -n '/^\[xml\]/,/^\[/p' "$H/modules/$mod.mod" | { grep '^etc/.*\.xml$' || true; } | while read -r xml; do
        [ -f "$H/$xml" ] || die "module $mod needs $xml"
    done
done

# jetty-base\ , etc\ , logs\
cp -r "$DEMO/jetty-base" "$OUT/jetty-base"
mkdir -p "$OUT/etc" "$OUT/logs"
cp "$DEMO/launcher.conf" "$OUT/etc/launcher.conf"

rm -rf "$WORK"
echo "demo-kit: installation ready in $OUT"
