#!/usr/bin/env bash
# Configures and builds the native configuration (fuzz/CMakeLists.txt) in
# build/fuzz: the fuzz targets and native_tests, with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer. Installs clang and its fuzzer runtime when
# they are missing.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/fuzz
mkdir -p "$out"

runtime_present() {
  command -v clang++ >/dev/null || return 1
  [ -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]
}
if ! runtime_present; then
  echo "Installing: clang libclang-rt-14-dev"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi

cmake -S "$root/fuzz" -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= >"$out.configure.log" 2>&1 ||
  { cat "$out.configure.log" >&2; exit 1; }
cmake --build "$out" -j"$(nproc)" -- -s

