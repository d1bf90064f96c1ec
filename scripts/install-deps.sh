#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when missing.
set -eu
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v make >/dev/null || need+=(make)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v x86_64-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-x86-64)
command -v wine >/dev/null || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v curl >/dev/null || need+=(curl)
command -v zip >/dev/null || need+=(zip)
command -v setsid >/dev/null || need+=(util-linux)
command -v pkill >/dev/null || need+=(procps)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
